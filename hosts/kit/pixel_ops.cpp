// The inner loops run over the bytes of a row, every byte alike, with 16-bit
// integer arithmetic only, so that the compiler vectorises them (this file
// is built with -O3; see CMakeLists.txt). Where a byte needs its pixel's
// alpha, the alpha is first spread over the pixel's four bytes, a chunk of
// the row at a time, on the stack. On x86-64 Linux each operation's loop
// over the whole rectangle is also built for AVX-512 (x86-64-v4) and AVX2,
// and the processor picks its version once per call at load time;
// elsewhere (MinGW, WebAssembly) the baseline vectors serve. These are the
// portable loops: every build has them.
//
// Beside them stand loops written with intrinsics, one pass over each pixel
// in 16-bit lanes, its alpha copied to its four lanes by a shuffle:
// - on x86-64 Linux, BlendRect's (and DrawRect's, BlendRect at full rate),
//   the operation every particle draws with, in AVX-512, AVX2 or SSE2, the
//   end of a row under a mask. Measured on the 32 x 32 sprite of the
//   benchmark, each is faster than the compiler's loop for the same
//   instruction set.
// - in WebAssembly built with SIMD (-msimd128), every operation's, four
//   pixels to a 128-bit vector, the end of a row through a 16-byte buffer;
//   four source pixels that are all transparent (or, for BlendRect at full
//   rate, all opaque) give their result without the arithmetic, as they
//   mostly are in a sprite. The compiler's own vectors there work a chunk
//   at a time in 32-bit lanes; these take a third to a half of their time
//   (tools/bench, kit_bench).
// Which set runs is chosen once, the best the processor has (UseKernel in
// pixel_ops.h forces one, for the tests and the benchmarks).
#include "kit/pixel_ops.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "kit/clip.h"

#include <atomic>

#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__)
#define VELORA_BLEND_INTRINSICS 1
#include <immintrin.h>
#else
#define VELORA_BLEND_INTRINSICS 0
#endif

#if defined(__wasm_simd128__)
#define VELORA_WASM_SIMD 1
#include <wasm_simd128.h>
#else
#define VELORA_WASM_SIMD 0
#endif

namespace velora::kit {
namespace {

using Byte = std::uint8_t;
using Word = std::uint16_t;

#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__) && !defined(__clang__)
#define VELORA_ROW_LOOP __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define VELORA_ROW_LOOP
#endif

Byte ClampRate(std::int32_t rate) { return static_cast<Byte>(std::clamp(rate, 0, kFullRate)); }

// a x b / 255 rounded to nearest, for bytes a and b, in 16 bits: with
// t = a x b + 128, (t + t / 256) / 256 is t x 257 / 65536 for every such t,
// the high half of a 16-bit product.
inline Byte MulDiv255(Byte a, Byte b)
{
    const auto t = static_cast<Word>(a * b + 128);
    return static_cast<Byte>((static_cast<std::uint32_t>(t) * 257u) >> 16);
}

// a + b, at most 255.
inline Byte AddClamped(Byte a, Byte b) { return static_cast<Byte>(std::min(a + b, 255)); }

// The rectangle an operation works on, clipped: row pointers and strides.
struct Rows {
    Byte* dest;
    std::size_t destStride;
    const Byte* src;
    std::size_t srcStride;
    std::size_t pixels;
    std::size_t height;
};

// Pixels of a row handled at a time where the loop needs each pixel's
// alpha spread over its four bytes first.
constexpr std::size_t kChunk = 64;

// For each pixel of s, its four bytes set to 255 - its alpha; with
// keepAlpha, its alpha byte to 255 instead. (Shifts and ors: 32-bit lanes
// multiply slowly.)
template <bool keepAlpha>
inline void SpreadComplement(Byte* __restrict out, const Byte* __restrict s, std::size_t pixels)
{
    for (std::size_t i = 0; i < pixels; ++i) {
        std::uint32_t word;
        std::memcpy(&word, s + 4 * i, 4);
        std::uint32_t inverse = 255u - (word >> 24);
        inverse |= inverse << 8;
        word = keepAlpha ? inverse | inverse << 16 | 0xFF000000u : inverse | inverse << 16;
        std::memcpy(out + 4 * i, &word, 4);
    }
}

// For each pixel of s, its four bytes set to 255 - D(alpha r).
inline void SpreadInverse(Byte* __restrict out, const Byte* __restrict s, std::size_t pixels, Byte rate)
{
    for (std::size_t i = 0; i < pixels; ++i) {
        std::uint32_t word;
        std::memcpy(&word, s + 4 * i, 4);
        const std::uint32_t x = (word >> 24) * rate + 128u;
        std::uint32_t inverse = 255u - ((x + (x >> 8)) >> 8);
        inverse |= inverse << 8;
        word = inverse | inverse << 16;
        std::memcpy(out + 4 * i, &word, 4);
    }
}

// dk = D(sk r) + D(dk (255 - D(s3 r))), or at full rate sk + D(dk (255 - s3)).
template <bool weighted>
VELORA_ROW_LOOP void OverRows(Rows rows, Byte rate)
{
    alignas(64) Byte inverse[kChunk * 4];
    for (std::size_t y = 0; y < rows.height; ++y) {
        Byte* const dRow = rows.dest + y * rows.destStride;
        const Byte* const sRow = rows.src + y * rows.srcStride;
        for (std::size_t done = 0; done < rows.pixels; done += kChunk) {
            const std::size_t bytes = 4 * std::min(kChunk, rows.pixels - done);
            Byte* __restrict d = dRow + 4 * done;
            const Byte* __restrict s = sRow + 4 * done;
            if (weighted) {
                SpreadInverse(inverse, s, bytes / 4, rate);
            } else {
                SpreadComplement<false>(inverse, s, bytes / 4);
            }
            for (std::size_t i = 0; i < bytes; ++i) {
                const Byte source = weighted ? MulDiv255(s[i], rate) : s[i];
                d[i] = AddClamped(source, MulDiv255(d[i], inverse[i]));
            }
        }
    }
}

#if VELORA_BLEND_INTRINSICS
// OverRows with intrinsics. Every value stays in an unsigned 16-bit lane:
// a product of two bytes plus 128 is at most 65153, D(t) is the high half of
// (t + 128) x 257 as in MulDiv255, and a sum of two bytes (at most 510) is
// clamped to 255 by the saturating pack back to bytes. The pixels a row has
// beyond a whole vector go through OverPixel.

// One pixel of OverRows: the same arithmetic, for the end of a row.
template <bool weighted>
inline void OverPixel(Byte* __restrict d, const Byte* __restrict s, Byte rate)
{
    Byte source[4];
    for (int k = 0; k < 4; ++k) {
        source[k] = weighted ? MulDiv255(s[k], rate) : s[k];
    }
    const auto inverse = static_cast<Byte>(255 - source[3]);
    for (int k = 0; k < 4; ++k) {
        d[k] = AddClamped(source[k], MulDiv255(d[k], inverse));
    }
}

// Four pixels at a time in SSE2, which every x86-64 processor has. The
// alpha, the fourth 16-bit lane of each pixel, is copied to its four lanes
// by shuffling the low and the high half of the register.
template <bool weighted>
void OverRowsSse2(Rows rows, Byte rate)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_set1_epi16(128);
    const __m128i scale = _mm_set1_epi16(257);
    const __m128i full = _mm_set1_epi16(255);
    const __m128i weight = _mm_set1_epi16(rate);
    const auto divide = [&](__m128i product) { return _mm_mulhi_epu16(_mm_add_epi16(product, half), scale); };
    const auto blend = [&](__m128i source, __m128i dest) {
        if (weighted) {
            source = divide(_mm_mullo_epi16(source, weight));
        }
        const __m128i alpha = _mm_shufflehi_epi16(_mm_shufflelo_epi16(source, 0xFF), 0xFF);
        return _mm_add_epi16(source, divide(_mm_mullo_epi16(dest, _mm_sub_epi16(full, alpha))));
    };
    for (std::size_t y = 0; y < rows.height; ++y) {
        Byte* const d = rows.dest + y * rows.destStride;
        const Byte* const s = rows.src + y * rows.srcStride;
        std::size_t i = 0;
        for (; i + 4 <= rows.pixels; i += 4) {
            const __m128i source = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * i));
            const __m128i dest = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 4 * i));
            const __m128i low = blend(_mm_unpacklo_epi8(source, zero), _mm_unpacklo_epi8(dest, zero));
            const __m128i high = blend(_mm_unpackhi_epi8(source, zero), _mm_unpackhi_epi8(dest, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * i), _mm_packus_epi16(low, high));
        }
        for (; i < rows.pixels; ++i) {
            OverPixel<weighted>(d + 4 * i, s + 4 * i, rate);
        }
    }
}

// Eight pixels at a time in AVX2. The unpacks and the pack work within each
// 128-bit half, so the pixels come back in their order; the alpha is copied
// with one byte shuffle (bytes 6 and 7 are the first pixel's alpha lane, 14
// and 15 the second's, in each 16 bytes). The last pixels of a row, fewer
// than eight, are loaded and stored under a mask, one 32-bit pixel a lane.
template <bool weighted>
__attribute__((target("avx2"))) void OverRowsAvx2(Rows rows, Byte rate)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i half = _mm256_set1_epi16(128);
    const __m256i scale = _mm256_set1_epi16(257);
    const __m256i full = _mm256_set1_epi16(255);
    const __m256i weight = _mm256_set1_epi16(rate);
    const __m256i alphaLanes = _mm256_broadcastsi128_si256(
        _mm_setr_epi8(6, 7, 6, 7, 6, 7, 6, 7, 14, 15, 14, 15, 14, 15, 14, 15));
    const auto divide = [&](__m256i product) __attribute__((target("avx2"))) {
        return _mm256_mulhi_epu16(_mm256_add_epi16(product, half), scale);
    };
    const auto blend = [&](__m256i source, __m256i dest) __attribute__((target("avx2"))) {
        if (weighted) {
            source = divide(_mm256_mullo_epi16(source, weight));
        }
        const __m256i alpha = _mm256_shuffle_epi8(source, alphaLanes);
        return _mm256_add_epi16(source, divide(_mm256_mullo_epi16(dest, _mm256_sub_epi16(full, alpha))));
    };
    const auto over = [&](__m256i source, __m256i dest) __attribute__((target("avx2"))) {
        const __m256i low = blend(_mm256_unpacklo_epi8(source, zero), _mm256_unpacklo_epi8(dest, zero));
        const __m256i high = blend(_mm256_unpackhi_epi8(source, zero), _mm256_unpackhi_epi8(dest, zero));
        return _mm256_packus_epi16(low, high);
    };
    const std::size_t whole = rows.pixels / 8 * 8;
    const __m256i tail = _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int>(rows.pixels - whole)),
                                            _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    for (std::size_t y = 0; y < rows.height; ++y) {
        Byte* const d = rows.dest + y * rows.destStride;
        const Byte* const s = rows.src + y * rows.srcStride;
        for (std::size_t i = 0; i < whole; i += 8) {
            const auto* source = reinterpret_cast<const __m256i*>(s + 4 * i);
            auto* dest = reinterpret_cast<__m256i*>(d + 4 * i);
            _mm256_storeu_si256(dest, over(_mm256_loadu_si256(source), _mm256_loadu_si256(dest)));
        }
        if (whole < rows.pixels) {
            const auto* source = reinterpret_cast<const int*>(s + 4 * whole);
            auto* dest = reinterpret_cast<int*>(d + 4 * whole);
            _mm256_maskstore_epi32(dest, tail,
                                   over(_mm256_maskload_epi32(source, tail), _mm256_maskload_epi32(dest, tail)));
        }
    }
}

// Sixteen pixels at a time in AVX-512 (BW, for the 16-bit lanes), the same
// steps as OverRowsAvx2 in registers twice as wide, the last pixels of a row
// under a mask.
template <bool weighted>
__attribute__((target("avx512bw"))) void OverRowsAvx512(Rows rows, Byte rate)
{
    const __m512i zero = _mm512_setzero_si512();
    const __m512i half = _mm512_set1_epi16(128);
    const __m512i scale = _mm512_set1_epi16(257);
    const __m512i full = _mm512_set1_epi16(255);
    const __m512i weight = _mm512_set1_epi16(rate);
    const __m512i alphaLanes = _mm512_set4_epi32(0x0F0E0F0E, 0x0F0E0F0E, 0x07060706, 0x07060706);
    const auto divide = [&](__m512i product) __attribute__((target("avx512bw"))) {
        return _mm512_mulhi_epu16(_mm512_add_epi16(product, half), scale);
    };
    const auto blend = [&](__m512i source, __m512i dest) __attribute__((target("avx512bw"))) {
        if (weighted) {
            source = divide(_mm512_mullo_epi16(source, weight));
        }
        const __m512i alpha = _mm512_shuffle_epi8(source, alphaLanes);
        return _mm512_add_epi16(source, divide(_mm512_mullo_epi16(dest, _mm512_sub_epi16(full, alpha))));
    };
    const auto over = [&](__m512i source, __m512i dest) __attribute__((target("avx512bw"))) {
        const __m512i low = blend(_mm512_unpacklo_epi8(source, zero), _mm512_unpacklo_epi8(dest, zero));
        const __m512i high = blend(_mm512_unpackhi_epi8(source, zero), _mm512_unpackhi_epi8(dest, zero));
        return _mm512_packus_epi16(low, high);
    };
    const std::size_t whole = rows.pixels / 16 * 16;
    const auto tail = static_cast<__mmask16>((1u << (rows.pixels - whole)) - 1u);
    for (std::size_t y = 0; y < rows.height; ++y) {
        Byte* const d = rows.dest + y * rows.destStride;
        const Byte* const s = rows.src + y * rows.srcStride;
        for (std::size_t i = 0; i < whole; i += 16) {
            _mm512_storeu_si512(d + 4 * i, over(_mm512_loadu_si512(s + 4 * i), _mm512_loadu_si512(d + 4 * i)));
        }
        if (tail != 0) {
            const Byte* source = s + 4 * whole;
            Byte* dest = d + 4 * whole;
            _mm512_mask_storeu_epi32(
                dest, tail, over(_mm512_maskz_loadu_epi32(tail, source), _mm512_maskz_loadu_epi32(tail, dest)));
        }
    }
}

#endif

// dk = dk + D(sk r).
VELORA_ROW_LOOP void AddRows(Rows rows, Byte rate)
{
    const std::size_t bytes = 4 * rows.pixels;
    for (std::size_t y = 0; y < rows.height; ++y) {
        Byte* __restrict d = rows.dest + y * rows.destStride;
        const Byte* __restrict s = rows.src + y * rows.srcStride;
        for (std::size_t i = 0; i < bytes; ++i) {
            d[i] = AddClamped(d[i], MulDiv255(s[i], rate));
        }
    }
}

void CopyRows(Rows rows)
{
    for (std::size_t y = 0; y < rows.height; ++y) {
        std::memcpy(rows.dest + y * rows.destStride, rows.src + y * rows.srcStride, 4 * rows.pixels);
    }
}

// dk = D(dk r) for the colour; the alpha, times 255 / 255, stays.
VELORA_ROW_LOOP void DarkenRows(Rows rows, Byte rate)
{
    alignas(64) Byte weights[kChunk * 4];
    for (std::size_t i = 0; i < kChunk * 4; ++i) {
        weights[i] = i % 4 == 3 ? Byte{255} : rate;
    }
    for (std::size_t y = 0; y < rows.height; ++y) {
        Byte* const dRow = rows.dest + y * rows.destStride;
        for (std::size_t done = 0; done < rows.pixels; done += kChunk) {
            const std::size_t bytes = 4 * std::min(kChunk, rows.pixels - done);
            Byte* __restrict d = dRow + 4 * done;
            for (std::size_t i = 0; i < bytes; ++i) {
                d[i] = MulDiv255(d[i], weights[i]);
            }
        }
    }
}

// dk = D(dk gk), gk = 255 - D((255 - fk) r), fk = sk + 255 - s3 at most 255;
// for the alpha f3 is 255 (the spread complement's alpha byte), so g3 is 255
// and the alpha stays.
VELORA_ROW_LOOP void MultiplyRows(Rows rows, Byte rate)
{
    alignas(64) Byte inverse[kChunk * 4];
    for (std::size_t y = 0; y < rows.height; ++y) {
        Byte* const dRow = rows.dest + y * rows.destStride;
        const Byte* const sRow = rows.src + y * rows.srcStride;
        for (std::size_t done = 0; done < rows.pixels; done += kChunk) {
            const std::size_t bytes = 4 * std::min(kChunk, rows.pixels - done);
            Byte* __restrict d = dRow + 4 * done;
            const Byte* __restrict s = sRow + 4 * done;
            SpreadComplement<true>(inverse, s, bytes / 4);
            for (std::size_t i = 0; i < bytes; ++i) {
                const Byte over = AddClamped(s[i], inverse[i]);
                const auto factor = static_cast<Byte>(255 - MulDiv255(static_cast<Byte>(255 - over), rate));
                d[i] = MulDiv255(d[i], factor);
            }
        }
    }
}

#if VELORA_WASM_SIMD
// WebAssembly's 128-bit loops: four pixels a vector, each half widened to
// eight 16-bit lanes (two pixels), the same arithmetic as the loops above.
// WebAssembly has no high half of a 16-bit product, so D(t) is worked out
// as MulDiv255's second form, (t' + t' / 256) / 256 with t' = t + 128, all
// within 16 bits. Sums of two bytes (at most 510) are clamped to 255 by the
// saturating narrowing back to bytes.
namespace wasm {

inline v128_t MulDiv(v128_t a, v128_t b)
{
    const v128_t t = wasm_i16x8_add(wasm_i16x8_mul(a, b), wasm_i16x8_splat(128));
    return wasm_u16x8_shr(wasm_i16x8_add(t, wasm_u16x8_shr(t, 8)), 8);
}

// Each pixel's alpha lane copied to its four lanes.
inline v128_t SpreadAlpha(v128_t v) { return wasm_i8x16_shuffle(v, v, 6, 7, 6, 7, 6, 7, 6, 7, 14, 15, 14, 15, 14, 15, 14, 15); }

// New bytes of four destination pixels from four source pixels: half(s, d)
// on each half widened, narrowed back.
template <class Half>
inline v128_t Widened(v128_t s, v128_t d, const Half& half)
{
    const v128_t low = half(wasm_u16x8_extend_low_u8x16(s), wasm_u16x8_extend_low_u8x16(d));
    const v128_t high = half(wasm_u16x8_extend_high_u8x16(s), wasm_u16x8_extend_high_u8x16(d));
    return wasm_u8x16_narrow_i16x8(low, high);
}

// What four source pixels make of their destination, where that is known
// without the arithmetic: sprites are mostly wholly transparent or wholly
// opaque, four pixels at a time as much as one.
enum class Shortcut { kWork, kKeep, kSource };

// Whether every pixel of v has alpha 0, and alpha 255.
inline bool AllTransparent(v128_t v) { return !wasm_v128_any_true(wasm_v128_and(v, wasm_i32x4_splat(-16777216))); }
inline bool AllOpaque(v128_t v)
{
    const v128_t alpha = wasm_i32x4_splat(-16777216);
    return wasm_i32x4_all_true(wasm_i32x4_eq(wasm_v128_and(v, alpha), alpha));
}

// half over every pixel of the rectangle, but where shortcut(s) knows the
// outcome of four source pixels (keep the destination, or take the source);
// the last one to three pixels of a row are copied into 16-byte buffers,
// worked on there and copied back.
template <class Half, class Known>
void EachRow(const Rows& rows, const Half& half, const Known& shortcut)
{
    for (std::size_t y = 0; y < rows.height; ++y) {
        Byte* const d = rows.dest + y * rows.destStride;
        const Byte* const s = rows.src + y * rows.srcStride;
        std::size_t i = 0;
        for (; i + 4 <= rows.pixels; i += 4) {
            const v128_t source = wasm_v128_load(s + 4 * i);
            const Shortcut known = shortcut(source);
            if (known == Shortcut::kKeep) {
                continue;
            }
            wasm_v128_store(d + 4 * i,
                            known == Shortcut::kSource ? source : Widened(source, wasm_v128_load(d + 4 * i), half));
        }
        if (i < rows.pixels) {
            const std::size_t bytes = 4 * (rows.pixels - i);
            Byte source[16] = {};
            Byte dest[16] = {};
            std::memcpy(source, s + 4 * i, bytes);
            std::memcpy(dest, d + 4 * i, bytes);
            wasm_v128_store(dest, Widened(wasm_v128_load(source), wasm_v128_load(dest), half));
            std::memcpy(d + 4 * i, dest, bytes);
        }
    }
}

// A transparent pixel of premultiplied colour (all four bytes 0) leaves the
// destination as it is, weighted or not: 0 + D(dk x 255) = dk. At full rate
// an opaque one replaces it: sk + D(dk x 0) = sk.
template <bool weighted>
void OverRows(Rows rows, Byte rate)
{
    const v128_t weight = wasm_i16x8_splat(rate);
    const v128_t full = wasm_i16x8_splat(255);
    EachRow(
        rows,
        [&](v128_t source, v128_t dest) {
            if (weighted) {
                source = MulDiv(source, weight);
            }
            return wasm_i16x8_add(source, MulDiv(dest, wasm_i16x8_sub(full, SpreadAlpha(source))));
        },
        [](v128_t source) {
            return !wasm_v128_any_true(source)   ? Shortcut::kKeep
                   : !weighted && AllOpaque(source) ? Shortcut::kSource
                                                  : Shortcut::kWork;
        });
}

// Adding zero bytes keeps the destination.
void AddRows(Rows rows, Byte rate)
{
    const v128_t weight = wasm_i16x8_splat(rate);
    EachRow(
        rows, [&](v128_t source, v128_t dest) { return wasm_i16x8_add(dest, MulDiv(source, weight)); },
        [](v128_t source) { return wasm_v128_any_true(source) ? Shortcut::kWork : Shortcut::kKeep; });
}

// The source is the destination.
void DarkenRows(Rows rows, Byte rate)
{
    const v128_t weights = wasm_i16x8_make(rate, rate, rate, 255, rate, rate, rate, 255);
    EachRow(
        rows, [&](v128_t, v128_t dest) { return MulDiv(dest, weights); }, [](v128_t) { return Shortcut::kWork; });
}

// The alpha lane's f3 is s3 + 255 - s3 = 255, so g3 is 255 and the alpha
// stays. A pixel of alpha 0, whatever its colour (the plug-in whitens them),
// has every fk = 255, so gk = 255 and the destination stays.
void MultiplyRows(Rows rows, Byte rate)
{
    const v128_t weight = wasm_i16x8_splat(rate);
    const v128_t full = wasm_i16x8_splat(255);
    EachRow(
        rows,
        [&](v128_t source, v128_t dest) {
            const v128_t over = wasm_u16x8_min(wasm_i16x8_add(source, wasm_i16x8_sub(full, SpreadAlpha(source))), full);
            return MulDiv(dest, wasm_i16x8_sub(full, MulDiv(wasm_i16x8_sub(full, over), weight)));
        },
        [](v128_t source) { return AllTransparent(source) ? Shortcut::kKeep : Shortcut::kWork; });
}

}  // namespace wasm
#endif

// ---- The kernel every operation runs --------------------------------------

Kernel BestKernel()
{
#if VELORA_WASM_SIMD
    return Kernel::kWasmSimd;
#elif VELORA_BLEND_INTRINSICS
    return __builtin_cpu_supports("avx512bw") ? Kernel::kAvx512
           : __builtin_cpu_supports("avx2")   ? Kernel::kAvx2
                                              : Kernel::kSse2;
#else
    return Kernel::kPortable;
#endif
}

std::atomic<Kernel>& Chosen()
{
    static std::atomic<Kernel> chosen{BestKernel()};
    return chosen;
}

Kernel Active() { return Chosen().load(std::memory_order_relaxed); }

template <bool weighted>
void Over(const Rows& rows, Byte rate)
{
    switch (Active()) {
#if VELORA_BLEND_INTRINSICS
    case Kernel::kAvx512: OverRowsAvx512<weighted>(rows, rate); return;
    case Kernel::kAvx2: OverRowsAvx2<weighted>(rows, rate); return;
    case Kernel::kSse2: OverRowsSse2<weighted>(rows, rate); return;
#endif
#if VELORA_WASM_SIMD
    case Kernel::kWasmSimd: wasm::OverRows<weighted>(rows, rate); return;
#endif
    default: OverRows<weighted>(rows, rate); return;
    }
}

// An operation's loop in each kernel that has one of its own: WebAssembly
// SIMD where that kernel runs and the operation has it, else the portable.
using RowLoop = void (*)(Rows rows, Byte rate);
struct Loops {
    RowLoop portable;
    RowLoop simd;  // null where the build has none
};

#if VELORA_WASM_SIMD
const Loops kAdd{AddRows, wasm::AddRows};
const Loops kDarken{DarkenRows, wasm::DarkenRows};
const Loops kMultiply{MultiplyRows, wasm::MultiplyRows};
#else
const Loops kAdd{AddRows, nullptr};
const Loops kDarken{DarkenRows, nullptr};
const Loops kMultiply{MultiplyRows, nullptr};
#endif

void Run(const Loops& loops, const Rows& rows, Byte rate)
{
    (loops.simd && Active() == Kernel::kWasmSimd ? loops.simd : loops.portable)(rows, rate);
}

// Clips, then runs loop(rows) over the rectangle. A source that is the
// destination is copied first.
template <class Loop>
void OverRect(Surface& dest, std::int32_t dx, std::int32_t dy, const Surface& src, std::int32_t sx,
              std::int32_t sy, std::int32_t width, std::int32_t height, Loop&& loop)
{
    const std::optional<ClippedRect> r =
        ClipRect(dest.Width(), dest.Height(), src.Width(), src.Height(), dx, dy, sx, sy, width, height);
    if (!r) {
        return;
    }
    Rows rows{dest.Bytes() + dest.Stride() * static_cast<std::size_t>(r->dy) + 4 * static_cast<std::size_t>(r->dx),
              dest.Stride(),
              src.Bytes() + src.Stride() * static_cast<std::size_t>(r->sy) + 4 * static_cast<std::size_t>(r->sx),
              src.Stride(), static_cast<std::size_t>(r->width), static_cast<std::size_t>(r->height)};
    std::vector<Byte> snapshot;
    if (&dest == &src) {
        const std::size_t rowBytes = 4 * rows.pixels;
        snapshot.resize(rowBytes * rows.height);
        for (std::size_t y = 0; y < rows.height; ++y) {
            std::memcpy(snapshot.data() + rowBytes * y, rows.src + rows.srcStride * y, rowBytes);
        }
        rows.src = snapshot.data();
        rows.srcStride = rowBytes;
    }
    loop(rows);
}

}  // namespace

void BlendRect(Surface& dest, std::int32_t dx, std::int32_t dy, const Surface& src, std::int32_t sx,
               std::int32_t sy, std::int32_t width, std::int32_t height, std::int32_t rate)
{
    const Byte weight = ClampRate(rate);
    if (weight == 0) {
        return;
    }
    OverRect(dest, dx, dy, src, sx, sy, width, height, [weight](const Rows& rows) {
        if (weight == kFullRate) {
            Over<false>(rows, weight);
        } else {
            Over<true>(rows, weight);
        }
    });
}

void BlendRectAlt(Surface& dest, std::int32_t dx, std::int32_t dy, const Surface& src, std::int32_t sx,
                  std::int32_t sy, std::int32_t width, std::int32_t height, std::int32_t rate)
{
    const Byte weight = ClampRate(rate);
    if (weight == 0) {
        return;
    }
    OverRect(dest, dx, dy, src, sx, sy, width, height, [weight](const Rows& rows) { Run(kAdd, rows, weight); });
}

void CopyRect(Surface& dest, std::int32_t dx, std::int32_t dy, const Surface& src, std::int32_t sx,
              std::int32_t sy, std::int32_t width, std::int32_t height)
{
    OverRect(dest, dx, dy, src, sx, sy, width, height, [](const Rows& rows) { CopyRows(rows); });
}

void FilterRect(Surface& surface, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                std::int32_t rate)
{
    const Byte weight = ClampRate(rate);
    const std::optional<ClippedRect> r =
        ClipRect(surface.Width(), surface.Height(), surface.Width(), surface.Height(), x, y, x, y, width, height);
    if (!r || weight == kFullRate) {
        return;
    }
    Byte* first = surface.Bytes() + surface.Stride() * static_cast<std::size_t>(r->dy) +
                  4 * static_cast<std::size_t>(r->dx);
    Run(kDarken,
        {first, surface.Stride(), first, surface.Stride(), static_cast<std::size_t>(r->width),
         static_cast<std::size_t>(r->height)},
        weight);
}

void DrawRect(Surface& dest, std::int32_t dx, std::int32_t dy, const Surface& src, std::int32_t sx,
              std::int32_t sy, std::int32_t width, std::int32_t height)
{
    BlendRect(dest, dx, dy, src, sx, sy, width, height, kFullRate);
}

void MixRect(Surface& dest, std::int32_t dx, std::int32_t dy, const Surface& src, std::int32_t sx,
             std::int32_t sy, std::int32_t width, std::int32_t height, std::int32_t rate)
{
    const Byte weight = ClampRate(rate);
    if (weight == 0) {
        return;
    }
    OverRect(dest, dx, dy, src, sx, sy, width, height, [weight](const Rows& rows) { Run(kMultiply, rows, weight); });
}

std::span<const KernelSupport> BuiltKernels()
{
    static const auto kernels = [] {
        std::vector<KernelSupport> built{{Kernel::kPortable, "portable", nullptr}};
#if VELORA_BLEND_INTRINSICS
        built.push_back({Kernel::kSse2, "SSE2", nullptr});
        built.push_back({Kernel::kAvx2, "AVX2", __builtin_cpu_supports("avx2") ? nullptr : "this processor has no AVX2"});
        built.push_back({Kernel::kAvx512, "AVX-512",
                         __builtin_cpu_supports("avx512bw") ? nullptr : "this processor has no AVX-512 BW"});
#endif
#if VELORA_WASM_SIMD
        // (a runtime without SIMD would not have loaded this module at all)
        built.push_back({Kernel::kWasmSimd, "WebAssembly SIMD", nullptr});
#endif
        return built;
    }();
    return kernels;
}

bool UseKernel(Kernel kernel)
{
    for (const KernelSupport& built : BuiltKernels()) {
        if (built.kernel == kernel && !built.missing) {
            Chosen().store(kernel, std::memory_order_relaxed);
            return true;
        }
    }
    return false;
}

void UseBestKernel() { Chosen().store(BestKernel(), std::memory_order_relaxed); }

Kernel ActiveKernel() { return Active(); }

}  // namespace velora::kit
