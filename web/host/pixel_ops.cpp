#include "web/host/pixel_ops.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace velora::web {
namespace {

using Byte = std::uint8_t;

// x / 255, rounded to nearest, for 0 <= x <= 255 * 255 * 255.
std::int32_t Div255(std::int32_t x) { return (x + 127) / 255; }

Byte ToByte(std::int32_t value) { return static_cast<Byte>(std::clamp(value, 0, 255)); }

std::int32_t ClampRate(std::int32_t rate) { return std::clamp(rate, 0, 255); }

// Runs blend(destPixel, srcPixel) over the clipped rectangle, row by row. A
// source that is the destination is first copied, so each pixel reads the
// source as it stood before the operation.
template <class Blend>
void ForEachPixel(PixelSurface& dest, std::int32_t dx, std::int32_t dy, const PixelSurface& src,
                  std::int32_t sx, std::int32_t sy, std::int32_t width, std::int32_t height, Blend&& blend)
{
    ClippedRect r;
    if (!ClipToBoth(dest.Width(), dest.Height(), src.Width(), src.Height(), dx, dy, sx, sy, width, height, r)) {
        return;
    }
    const auto rowBytes = static_cast<std::size_t>(r.width) * 4u;
    std::unique_ptr<Byte[]> snapshot;
    if (&dest == &src) {
        snapshot = std::make_unique<Byte[]>(rowBytes * static_cast<std::size_t>(r.height));
        for (std::int32_t row = 0; row < r.height; ++row) {
            std::memcpy(snapshot.get() + rowBytes * static_cast<std::size_t>(row), src.At(r.sx, r.sy + row),
                        rowBytes);
        }
    }
    for (std::int32_t row = 0; row < r.height; ++row) {
        Byte* d = dest.At(r.dx, r.dy + row);
        const Byte* s = snapshot ? snapshot.get() + rowBytes * static_cast<std::size_t>(row) : src.At(r.sx, r.sy + row);
        for (std::int32_t column = 0; column < r.width; ++column, d += 4, s += 4) {
            blend(d, s);
        }
    }
}

// Straight-alpha source over: the source pixel at coverage a (0..255) over d.
void OverPixel(Byte* d, const Byte* s, std::int32_t a)
{
    if (a == 0) {
        return;
    }
    const std::int32_t destAlpha = d[3];
    // 255 times the resulting alpha, kept unrounded for the colour weights.
    const std::int32_t total = a * 255 + destAlpha * (255 - a);
    for (int c = 0; c < 3; ++c) {
        const std::int32_t mixed = s[c] * a * 255 + d[c] * destAlpha * (255 - a);
        d[c] = ToByte((mixed + total / 2) / total);
    }
    d[3] = ToByte(Div255(total));
}

}  // namespace

bool ClipToBoth(std::int32_t destWidth, std::int32_t destHeight, std::int32_t srcWidth, std::int32_t srcHeight,
                std::int32_t dx, std::int32_t dy, std::int32_t sx, std::int32_t sy, std::int32_t width,
                std::int32_t height, ClippedRect& clipped)
{
    // 64-bit throughout: no corner or size a caller passes can overflow here.
    std::int64_t DX = dx, DY = dy, SX = sx, SY = sy, W = width, H = height;
    if (W <= 0 || H <= 0) {
        return false;
    }
    // A corner left of or above either surface cuts the same amount from both.
    if (SX < 0) { DX -= SX; W += SX; SX = 0; }
    if (DX < 0) { SX -= DX; W += DX; DX = 0; }
    if (SY < 0) { DY -= SY; H += SY; SY = 0; }
    if (DY < 0) { SY -= DY; H += DY; DY = 0; }
    W = std::min({W, std::int64_t{srcWidth} - SX, std::int64_t{destWidth} - DX});
    H = std::min({H, std::int64_t{srcHeight} - SY, std::int64_t{destHeight} - DY});
    if (W <= 0 || H <= 0) {
        return false;
    }
    // Each value now lies between 0 and a surface size, so it fits again.
    clipped = {static_cast<std::int32_t>(DX), static_cast<std::int32_t>(DY), static_cast<std::int32_t>(SX),
               static_cast<std::int32_t>(SY), static_cast<std::int32_t>(W),  static_cast<std::int32_t>(H)};
    return true;
}

void Over(PixelSurface& dest, std::int32_t dx, std::int32_t dy, const PixelSurface& src, std::int32_t sx,
          std::int32_t sy, std::int32_t width, std::int32_t height, std::int32_t rate)
{
    const std::int32_t weight = ClampRate(rate);
    ForEachPixel(dest, dx, dy, src, sx, sy, width, height,
                 [weight](Byte* d, const Byte* s) { OverPixel(d, s, Div255(s[3] * weight)); });
}

void Add(PixelSurface& dest, std::int32_t dx, std::int32_t dy, const PixelSurface& src, std::int32_t sx,
         std::int32_t sy, std::int32_t width, std::int32_t height, std::int32_t rate)
{
    const std::int32_t weight = ClampRate(rate);
    ForEachPixel(dest, dx, dy, src, sx, sy, width, height, [weight](Byte* d, const Byte* s) {
        const std::int32_t a = Div255(s[3] * weight);
        for (int c = 0; c < 3; ++c) {
            d[c] = ToByte(d[c] + Div255(s[c] * a));
        }
        d[3] = ToByte(d[3] + Div255((255 - d[3]) * a));
    });
}

void Copy(PixelSurface& dest, std::int32_t dx, std::int32_t dy, const PixelSurface& src, std::int32_t sx,
          std::int32_t sy, std::int32_t width, std::int32_t height)
{
    ForEachPixel(dest, dx, dy, src, sx, sy, width, height,
                 [](Byte* d, const Byte* s) { std::memcpy(d, s, 4); });
}

void Fade(PixelSurface& surface, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
          std::int32_t rate)
{
    const std::int32_t weight = ClampRate(rate);
    // In place: the surface is its own source, read pixel by pixel.
    ClippedRect r;
    if (!ClipToBoth(surface.Width(), surface.Height(), surface.Width(), surface.Height(), x, y, x, y, width,
                    height, r)) {
        return;
    }
    for (std::int32_t row = 0; row < r.height; ++row) {
        Byte* d = surface.At(r.dx, r.dy + row);
        for (std::int32_t column = 0; column < r.width; ++column, d += 4) {
            for (int c = 0; c < 3; ++c) {
                d[c] = ToByte(Div255(d[c] * weight));
            }
        }
    }
}

void Multiply(PixelSurface& dest, std::int32_t dx, std::int32_t dy, const PixelSurface& src, std::int32_t sx,
              std::int32_t sy, std::int32_t width, std::int32_t height, std::int32_t rate)
{
    const std::int32_t weight = ClampRate(rate);
    ForEachPixel(dest, dx, dy, src, sx, sy, width, height, [weight](Byte* d, const Byte* s) {
        for (int c = 0; c < 3; ++c) {
            const std::int32_t product = Div255(d[c] * s[c]);
            d[c] = ToByte(Div255(d[c] * (255 - weight) + product * weight));
        }
    });
}

}  // namespace velora::web
