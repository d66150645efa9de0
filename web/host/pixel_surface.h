// A surface of the studio's host: a width x height buffer of RGBA bytes, four
// per pixel, rows top to bottom with no padding.
//
// Colour bytes 0 to 2 are red, green and blue; byte 3 is the alpha
// (0 = transparent). The layout is the canvas's own (ImageData), so a frame
// goes to the page without conversion. Every accessor answers null outside
// the surface: nothing here reads or writes past the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "contract/host_interfaces.h"

namespace velora::web {

class PixelSurface final : public ISurface {
public:
    // The one pixel format of this host ('RGBA' read as a little-endian word).
    static constexpr std::int32_t kFormat = 0x41424752;

    // A transparent black surface; a negative size counts as 0.
    PixelSurface(std::int32_t width, std::int32_t height);
    ~PixelSurface() = default;

    PixelSurface(const PixelSurface&) = delete;
    PixelSurface& operator=(const PixelSurface&) = delete;

    // 1: ends a surface handed over with EndOnDestroy (the plug-in's scratch
    // surface); a surface the host keeps for itself ignores the call.
    void VELORA_METHOD Destroy() override;
    // 2, 3: the pixel's colour bytes and its alpha byte; null outside.
    std::uint8_t* VELORA_METHOD GetPixelAddress(std::int32_t x, std::int32_t y) override;
    std::uint8_t* VELORA_METHOD GetAlphaAddress(std::int32_t x, std::int32_t y) override;
    // 4, 5, 6.
    std::int32_t VELORA_METHOD GetWidth() override { return width_; }
    std::int32_t VELORA_METHOD GetHeight() override { return height_; }
    std::int32_t VELORA_METHOD GetFormat() override { return kFormat; }

    std::int32_t Width() const { return width_; }
    std::int32_t Height() const { return height_; }

    // The four bytes of pixel (x, y), or null outside the surface.
    std::uint8_t* At(std::int32_t x, std::int32_t y);
    const std::uint8_t* At(std::int32_t x, std::int32_t y) const;

    // All pixels, Width() * Height() * 4 bytes.
    std::uint8_t* Bytes() { return bytes_.data(); }
    const std::uint8_t* Bytes() const { return bytes_.data(); }
    std::size_t ByteCount() const { return bytes_.size(); }

    // Hands the surface to its user: Destroy then deletes it and takes one
    // off *liveCount (which may be null).
    void EndOnDestroy(std::int32_t* liveCount)
    {
        endOnDestroy_ = true;
        liveCount_ = liveCount;
    }

private:
    std::int32_t width_;
    std::int32_t height_;
    std::vector<std::uint8_t> bytes_;
    bool endOnDestroy_ = false;
    std::int32_t* liveCount_ = nullptr;
};

}  // namespace velora::web
