#include "web/host/pixel_surface.h"

namespace velora::web {

PixelSurface::PixelSurface(std::int32_t width, std::int32_t height)
    : width_(width > 0 ? width : 0), height_(height > 0 ? height : 0),
      bytes_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 4u, 0)
{
}

void VELORA_METHOD PixelSurface::Destroy()
{
    if (endOnDestroy_) {
        if (liveCount_) {
            --*liveCount_;
        }
        delete this;
    }
}

std::uint8_t* PixelSurface::At(std::int32_t x, std::int32_t y)
{
    if (x < 0 || y < 0 || x >= width_ || y >= height_) {
        return nullptr;
    }
    const auto index = static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x);
    return bytes_.data() + index * 4u;
}

const std::uint8_t* PixelSurface::At(std::int32_t x, std::int32_t y) const
{
    return const_cast<PixelSurface*>(this)->At(x, y);
}

std::uint8_t* VELORA_METHOD PixelSurface::GetPixelAddress(std::int32_t x, std::int32_t y) { return At(x, y); }

std::uint8_t* VELORA_METHOD PixelSurface::GetAlphaAddress(std::int32_t x, std::int32_t y)
{
    std::uint8_t* pixel = At(x, y);
    return pixel ? pixel + 3 : nullptr;
}

}  // namespace velora::web
