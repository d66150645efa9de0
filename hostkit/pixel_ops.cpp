// The inner loops run over the bytes of a row, every byte alike, with 16-bit
// integer arithmetic only, so that the compiler vectorises them (this file
// is built with -O3; see CMakeLists.txt). Where a byte needs its pixel's
// alpha, the alpha is first spread over the pixel's four bytes, a chunk of
// the row at a time, on the stack. On x86-64 Linux each operation's loop
// over the whole rectangle is also built for AVX-512 (x86-64-v4) and AVX2,
// and the processor picks its version once per call at load time;
// elsewhere (MinGW, WebAssembly) the baseline vectors serve.
#include "hostkit/pixel_ops.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "hostkit/clip.h"

namespace velora::hostkit {
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
            OverRows<false>(rows, weight);
        } else {
            OverRows<true>(rows, weight);
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
    OverRect(dest, dx, dy, src, sx, sy, width, height, [weight](const Rows& rows) { AddRows(rows, weight); });
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
    DarkenRows({first, surface.Stride(), first, surface.Stride(), static_cast<std::size_t>(r->width),
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
    OverRect(dest, dx, dy, src, sx, sy, width, height, [weight](const Rows& rows) { MultiplyRows(rows, weight); });
}

}  // namespace velora::hostkit
