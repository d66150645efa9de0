// The inner loops run over the bytes of one row, four to a pixel, with
// 16-bit integer arithmetic only, so that the compiler vectorises them (this
// file is built with -O3; see CMakeLists.txt). On x86-64 Linux each row
// loop is also built for AVX2 and the processor picks its version at load
// time; elsewhere (MinGW, WebAssembly) the baseline vectors serve.
#include "hostkit/pixel_ops.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <vector>

#include "hostkit/clip.h"

namespace velora::hostkit {
namespace {

using Byte = std::uint8_t;

#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__) && !defined(__clang__)
#define VELORA_ROW_LOOP __attribute__((target_clones("avx2", "default")))
#else
#define VELORA_ROW_LOOP
#endif

std::uint32_t ClampRate(std::int32_t rate) { return static_cast<std::uint32_t>(std::clamp(rate, 0, kFullRate)); }

// x / 255 rounded to nearest, in 16 bits, for any product of two bytes.
inline std::uint16_t Div255u16(std::uint32_t product)
{
    const auto x = static_cast<std::uint16_t>(product + 128);
    return static_cast<std::uint16_t>((x + (x >> 8)) >> 8);
}

// a + b, at most 255.
inline Byte AddSaturated(Byte a, Byte b)
{
    const auto sum = static_cast<Byte>(a + b);
    return static_cast<Byte>(sum < a ? 255 : sum);
}

// Pixels of one row handled at a time where a row needs scratch space.
constexpr std::size_t kChunk = 64;

static_assert(std::endian::native == std::endian::little, "pixels are read as little-endian words");

// For each pixel, its four bytes set to one value computed from its alpha
// (and, for colour bytes only, when alphaLane is false).
template <bool keepAlphaLane>
VELORA_ROW_LOOP void SpreadRow(Byte* __restrict out, const Byte* __restrict s, std::size_t pixels,
                               std::uint32_t rate)
{
    for (std::size_t i = 0; i < pixels; ++i) {
        std::uint32_t word;
        std::memcpy(&word, s + 4 * i, 4);
        const std::uint32_t inverse = 255u - Div255u16((word >> 24) * rate);
        word = keepAlphaLane ? inverse * 0x00010101u | 0xFF000000u : inverse * 0x01010101u;
        std::memcpy(out + 4 * i, &word, 4);
    }
}

// d = s r / 255 + d inverse / 255, at most 255; inverse from SpreadRow.
// Full rate leaves s as it is.
template <bool weighted>
VELORA_ROW_LOOP void OverRow(Byte* __restrict d, const Byte* __restrict s, const Byte* __restrict inverse,
                             std::size_t bytes, std::uint32_t rate)
{
    for (std::size_t i = 0; i < bytes; ++i) {
        const Byte source = weighted ? static_cast<Byte>(Div255u16(s[i] * rate)) : s[i];
        d[i] = AddSaturated(source, static_cast<Byte>(Div255u16(d[i] * inverse[i])));
    }
}

void OverRowWeighted(Byte* d, const Byte* s, std::size_t pixels, std::uint32_t rate)
{
    alignas(16) Byte inverse[kChunk * 4];
    for (std::size_t done = 0; done < pixels; done += kChunk) {
        const std::size_t n = std::min(kChunk, pixels - done);
        SpreadRow<false>(inverse, s + 4 * done, n, rate);
        if (rate == 255) {
            OverRow<false>(d + 4 * done, s + 4 * done, inverse, 4 * n, rate);
        } else {
            OverRow<true>(d + 4 * done, s + 4 * done, inverse, 4 * n, rate);
        }
    }
}

VELORA_ROW_LOOP void AddRow(Byte* __restrict d, const Byte* __restrict s, std::size_t pixels, std::uint32_t rate)
{
    for (std::size_t i = 0; i < 4 * pixels; ++i) {
        d[i] = AddSaturated(d[i], static_cast<Byte>(Div255u16(s[i] * rate)));
    }
}

// weights: r, r, r, 255 repeated (D(a x 255) is a: the alpha stays).
VELORA_ROW_LOOP void DarkenRow(Byte* __restrict d, const Byte* __restrict weights, std::size_t bytes)
{
    for (std::size_t i = 0; i < bytes; ++i) {
        d[i] = static_cast<Byte>(Div255u16(d[i] * weights[i]));
    }
}

// d = d g / 255 with f = s + inverse (at most 255), g = 255 - (255 - f) r / 255;
// inverse from SpreadRow at full rate with the alpha lane 255, so g is 255
// for the alpha.
VELORA_ROW_LOOP void MultiplyRow(Byte* __restrict d, const Byte* __restrict s, const Byte* __restrict inverse,
                                 std::size_t bytes, std::uint32_t rate)
{
    for (std::size_t i = 0; i < bytes; ++i) {
        const Byte over = AddSaturated(s[i], inverse[i]);
        const auto factor = static_cast<Byte>(255u - Div255u16(static_cast<Byte>(255u - over) * rate));
        d[i] = static_cast<Byte>(Div255u16(d[i] * factor));
    }
}

void MultiplyRowChunked(Byte* d, const Byte* s, std::size_t pixels, std::uint32_t rate)
{
    alignas(16) Byte inverse[kChunk * 4];
    for (std::size_t done = 0; done < pixels; done += kChunk) {
        const std::size_t n = std::min(kChunk, pixels - done);
        SpreadRow<true>(inverse, s + 4 * done, n, 255);
        MultiplyRow(d + 4 * done, s + 4 * done, inverse, 4 * n, rate);
    }
}

// Clips, then runs row(destRow, srcRow, pixels) over the rectangle. A source
// that is the destination is copied first.
template <class Row>
void ForEachRow(Surface& dest, std::int32_t dx, std::int32_t dy, const Surface& src, std::int32_t sx,
                std::int32_t sy, std::int32_t width, std::int32_t height, Row&& row)
{
    const std::optional<ClippedRect> r =
        ClipRect(dest.Width(), dest.Height(), src.Width(), src.Height(), dx, dy, sx, sy, width, height);
    if (!r) {
        return;
    }
    const auto pixels = static_cast<std::size_t>(r->width);
    const std::size_t rowBytes = pixels * 4;
    std::vector<Byte> snapshot;
    if (&dest == &src) {
        snapshot.resize(rowBytes * static_cast<std::size_t>(r->height));
        for (std::int32_t y = 0; y < r->height; ++y) {
            std::memcpy(snapshot.data() + rowBytes * static_cast<std::size_t>(y), src.At(r->sx, r->sy + y), rowBytes);
        }
    }
    for (std::int32_t y = 0; y < r->height; ++y) {
        const Byte* from = snapshot.empty() ? src.At(r->sx, r->sy + y)
                                            : snapshot.data() + rowBytes * static_cast<std::size_t>(y);
        row(dest.At(r->dx, r->dy + y), from, pixels);
    }
}

}  // namespace

void BlendRect(Surface& dest, std::int32_t dx, std::int32_t dy, const Surface& src, std::int32_t sx,
               std::int32_t sy, std::int32_t width, std::int32_t height, std::int32_t rate)
{
    const std::uint32_t weight = ClampRate(rate);
    if (weight == 0) {
        return;
    }
    ForEachRow(dest, dx, dy, src, sx, sy, width, height,
               [weight](Byte* d, const Byte* s, std::size_t n) { OverRowWeighted(d, s, n, weight); });
}

void BlendRectAlt(Surface& dest, std::int32_t dx, std::int32_t dy, const Surface& src, std::int32_t sx,
                  std::int32_t sy, std::int32_t width, std::int32_t height, std::int32_t rate)
{
    const std::uint32_t weight = ClampRate(rate);
    if (weight == 0) {
        return;
    }
    ForEachRow(dest, dx, dy, src, sx, sy, width, height,
               [weight](Byte* d, const Byte* s, std::size_t n) { AddRow(d, s, n, weight); });
}

void CopyRect(Surface& dest, std::int32_t dx, std::int32_t dy, const Surface& src, std::int32_t sx,
              std::int32_t sy, std::int32_t width, std::int32_t height)
{
    ForEachRow(dest, dx, dy, src, sx, sy, width, height,
               [](Byte* d, const Byte* s, std::size_t n) { std::memcpy(d, s, 4 * n); });
}

void FilterRect(Surface& surface, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                std::int32_t rate)
{
    const std::uint32_t weight = ClampRate(rate);
    const std::optional<ClippedRect> r =
        ClipRect(surface.Width(), surface.Height(), surface.Width(), surface.Height(), x, y, x, y, width, height);
    if (!r || weight == 255) {
        return;
    }
    alignas(16) Byte weights[kChunk * 4];
    for (std::size_t i = 0; i < kChunk * 4; ++i) {
        weights[i] = static_cast<Byte>(i % 4 == 3 ? 255u : weight);
    }
    const auto pixels = static_cast<std::size_t>(r->width);
    for (std::int32_t row = 0; row < r->height; ++row) {
        Byte* d = surface.At(r->dx, r->dy + row);
        for (std::size_t done = 0; done < pixels; done += kChunk) {
            DarkenRow(d + 4 * done, weights, 4 * std::min(kChunk, pixels - done));
        }
    }
}

void DrawRect(Surface& dest, std::int32_t dx, std::int32_t dy, const Surface& src, std::int32_t sx,
              std::int32_t sy, std::int32_t width, std::int32_t height)
{
    BlendRect(dest, dx, dy, src, sx, sy, width, height, kFullRate);
}

void MixRect(Surface& dest, std::int32_t dx, std::int32_t dy, const Surface& src, std::int32_t sx,
             std::int32_t sy, std::int32_t width, std::int32_t height, std::int32_t rate)
{
    const std::uint32_t weight = ClampRate(rate);
    if (weight == 0) {
        return;
    }
    ForEachRow(dest, dx, dy, src, sx, sy, width, height,
               [weight](Byte* d, const Byte* s, std::size_t n) { MultiplyRowChunked(d, s, n, weight); });
}

}  // namespace velora::hostkit
