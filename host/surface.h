// The reference host's surfaces: what sprites, destinations and scratch
// surfaces are made of.
//
// Four bytes per pixel, rows top to bottom with no padding: bytes 0, 1 and 2
// are the colour (blue, green, red) and byte 3 is the alpha, 0 transparent to
// 255 opaque. The colour is stored as it is, not multiplied by the alpha, so
// a caller may rewrite the colour bytes of any pixel (transparent ones
// included) without touching its alpha. The same memory is wrapped in two
// pixman images, one reading the alpha and one treating every pixel as
// opaque; the drawing operations compose through them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "host/host_api.h"
#include "contract/host_interfaces.h"

using pixman_image_t = union pixman_image;

namespace velora::host {

// The only pixel format the host has; GetFormat answers it and
// CreateSurface accepts any value.
inline constexpr std::int32_t kSurfaceFormat = 0x8888;

// Surfaces larger than this are refused (in either direction, and in area).
inline constexpr std::int32_t kMaxSurfaceSide = 16384;
inline constexpr std::int64_t kMaxSurfacePixels = std::int64_t{1} << 26;

// One pixel's straight colour and alpha.
struct Rgba {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    std::uint8_t a = 0;
    bool operator==(const Rgba&) const = default;
};

class VELORA_HOST_API HostSurface final : public ISurface {
public:
    // A transparent black surface. Throws std::invalid_argument for a
    // negative or too large size and std::bad_alloc when memory runs out; a
    // width or height of 0 gives a surface without pixels.
    HostSurface(std::int32_t width, std::int32_t height, std::string label);
    ~HostSurface();
    HostSurface(const HostSurface&) = delete;
    HostSurface& operator=(const HostSurface&) = delete;

    // ISurface, as the plug-in sees it.
    // Ends a surface made by the surface factory; any other surface belongs
    // to its owner, and Destroy leaves it alone.
    void VELORA_METHOD Destroy() override;
    // Null for a pixel outside the surface.
    std::uint8_t* VELORA_METHOD GetPixelAddress(std::int32_t x, std::int32_t y) override;
    std::uint8_t* VELORA_METHOD GetAlphaAddress(std::int32_t x, std::int32_t y) override;
    std::int32_t VELORA_METHOD GetWidth() override;
    std::int32_t VELORA_METHOD GetHeight() override;
    std::int32_t VELORA_METHOD GetFormat() override;

    // The host surface behind an interface pointer: null for null, for a
    // surface that is not the host's, and for one that has been ended.
    static HostSurface* FromInterface(ISurface* surface);
    // Host surfaces alive in the process (for leak checks).
    static std::size_t LiveCount();

    std::int32_t Width() const { return width_; }
    std::int32_t Height() const { return height_; }
    bool IsEmpty() const { return width_ == 0 || height_ == 0; }
    std::size_t Stride() const { return static_cast<std::size_t>(width_) * 4; }
    std::uint8_t* Bytes() { return bytes_; }
    const std::uint8_t* Bytes() const { return bytes_; }
    bool Inside(std::int32_t x, std::int32_t y) const
    {
        return x >= 0 && y >= 0 && x < width_ && y < height_;
    }
    // Pixel access for the host's own code; outside the surface Pixel gives
    // transparent black and SetPixel does nothing.
    Rgba Pixel(std::int32_t x, std::int32_t y) const;
    void SetPixel(std::int32_t x, std::int32_t y, Rgba colour);
    // Every pixel becomes colour.
    void Fill(Rgba colour);

    // The name the trace shows ("frame", "sprite3", "scratch").
    const std::string& Label() const { return label_; }
    void SetLabel(std::string label) { label_ = std::move(label); }

    // pixman views of the pixels (null for a surface without pixels): Image
    // reads the alpha byte, OpaqueImage reads every pixel as opaque.
    pixman_image_t* Image() const { return image_; }
    pixman_image_t* OpaqueImage() const { return opaque_; }

    // Set by the surface factory: Destroy then ends the surface.
    void MarkFactoryMade() { factoryMade_ = true; }

private:
    std::int32_t width_;
    std::int32_t height_;
    std::string label_;
    std::unique_ptr<std::uint32_t[]> words_;  // one word per pixel, for pixman
    std::uint8_t* bytes_ = nullptr;           // the same memory, byte by byte
    pixman_image_t* image_ = nullptr;
    pixman_image_t* opaque_ = nullptr;
    bool factoryMade_ = false;
};

}  // namespace velora::host
