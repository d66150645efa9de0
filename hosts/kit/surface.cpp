// The kit surface's storage and premultiplication both ways: a size beyond
// the kit's limits is refused before any memory is taken, and the pixel
// accessors read and write straight colour over the premultiplied bytes.
#include "kit/surface.h"

#include <stdexcept>
#include <string>

namespace velora::kit {

void Premultiply(std::uint8_t* rgba, std::size_t pixels)
{
    for (std::size_t i = 0; i < pixels; ++i, rgba += 4) {
        const std::uint32_t a = rgba[3];
        for (int k = 0; k < 3; ++k) {
            rgba[k] = static_cast<std::uint8_t>(Div255(rgba[k] * a));
        }
    }
}

void Unpremultiply(std::uint8_t* rgba, std::size_t pixels)
{
    for (std::size_t i = 0; i < pixels; ++i, rgba += 4) {
        const std::uint32_t a = rgba[3];
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t c = a == 0 ? 0 : (rgba[k] * 255u + a / 2) / a;
            rgba[k] = static_cast<std::uint8_t>(c > 255 ? 255 : c);
        }
    }
}

bool Surface::SizeAllowed(std::int32_t width, std::int32_t height)
{
    return width >= 0 && height >= 0 && width <= kMaxSide && height <= kMaxSide &&
           std::int64_t{width} * height <= kMaxPixels;
}

Surface::Surface(std::int32_t width, std::int32_t height) : width_(width), height_(height)
{
    if (!SizeAllowed(width, height)) {
        throw std::invalid_argument("surface size " + std::to_string(width) + " x " + std::to_string(height) +
                                    " is outside 0 to " + std::to_string(kMaxSide));
    }
    if (!IsEmpty()) {
        bytes_.reset(new std::uint8_t[ByteCount()]());
    }
}

void VELORA_METHOD Surface::Destroy()
{
    if (endOnDestroy_) {
        if (ended_) {
            ended_(endedContext_);
        }
        delete this;
    }
}

Rgba Surface::Pixel(std::int32_t x, std::int32_t y) const
{
    const std::uint8_t* p = At(x, y);
    if (!p) {
        return {};
    }
    std::uint8_t straight[4] = {p[0], p[1], p[2], p[3]};
    Unpremultiply(straight, 1);
    return {straight[0], straight[1], straight[2], straight[3]};
}

void Surface::SetPixel(std::int32_t x, std::int32_t y, Rgba colour)
{
    if (std::uint8_t* p = At(x, y)) {
        p[0] = colour.r;
        p[1] = colour.g;
        p[2] = colour.b;
        p[3] = colour.a;
        kit::Premultiply(p, 1);
    }
}

void Surface::Fill(Rgba colour)
{
    std::uint8_t pixel[4] = {colour.r, colour.g, colour.b, colour.a};
    kit::Premultiply(pixel, 1);
    std::uint8_t* p = bytes_.get();
    for (std::size_t i = 0; i < ByteCount(); i += 4) {
        p[i] = pixel[0];
        p[i + 1] = pixel[1];
        p[i + 2] = pixel[2];
        p[i + 3] = pixel[3];
    }
}

}  // namespace velora::kit
