// A surface of pixels in memory, for the test host's sprites and destination
// and for the scratch surfaces SurfaceFactory.dll makes: four colour bytes
// (0 to 2 used) and one alpha byte per pixel. Addresses outside the surface
// are null.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "contract/host_interfaces.h"

namespace host_module {

class MemorySurface final : public velora::ISurface {
public:
    // destroyTrace is announced through OutputDebugStringA when Destroy is
    // called; only a surface made with ownedByDestroy ends there.
    MemorySurface(std::int32_t width, std::int32_t height, std::int32_t format,
                  const char* destroyTrace, bool ownedByDestroy)
        : width_(width > 0 ? width : 0), height_(height > 0 ? height : 0), format_(format),
          destroyTrace_(destroyTrace), ownedByDestroy_(ownedByDestroy),
          colour_(Area() * 4, 0), alpha_(Area(), 255)
    {
    }

    void VELORA_METHOD Destroy() override
    {
        OutputDebugStringA(destroyTrace_);
        if (ownedByDestroy_) {
            delete this;
        }
    }
    std::uint8_t* VELORA_METHOD GetPixelAddress(std::int32_t x, std::int32_t y) override
    {
        return Inside(x, y) ? &colour_[Index(x, y) * 4] : nullptr;
    }
    std::uint8_t* VELORA_METHOD GetAlphaAddress(std::int32_t x, std::int32_t y) override
    {
        return Inside(x, y) ? &alpha_[Index(x, y)] : nullptr;
    }
    std::int32_t VELORA_METHOD GetWidth() override { return width_; }
    std::int32_t VELORA_METHOD GetHeight() override { return height_; }
    std::int32_t VELORA_METHOD GetFormat() override { return format_; }

private:
    std::size_t Area() const { return static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_); }
    bool Inside(std::int32_t x, std::int32_t y) const
    {
        return x >= 0 && y >= 0 && x < width_ && y < height_;
    }
    std::size_t Index(std::int32_t x, std::int32_t y) const
    {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
               static_cast<std::size_t>(x);
    }

    std::int32_t width_;
    std::int32_t height_;
    std::int32_t format_;
    const char* destroyTrace_;
    bool ownedByDestroy_;
    std::vector<std::uint8_t> colour_;
    std::vector<std::uint8_t> alpha_;
};

}  // namespace host_module
