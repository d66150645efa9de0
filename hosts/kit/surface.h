// The surface of every host: sprites, destinations and scratch surfaces.
//
// Layout: four bytes per pixel, rows top to bottom with no padding (the
// stride is width x 4). Byte 0 is red, 1 green, 2 blue, 3 alpha (0
// transparent to 255 opaque): the canvas's own order, so the studio shows a
// frame without converting it. The colour is stored premultiplied by the
// alpha (a pixel of colour c at alpha a holds c x a / 255, rounded), the
// form the blend wants; sprites are premultiplied once, when they are
// loaded or drawn (Premultiply). A caller may still write any colour bytes
// (the plug-in whitens transparent pixels of its copy): every operation
// clamps its results to 0 to 255.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "contract/host_interfaces.h"

#if defined(__EMSCRIPTEN__)
#define VELORA_KIT_INLINE __attribute__((always_inline))
#else
#define VELORA_KIT_INLINE
#endif

namespace velora::kit {

// Straight (not premultiplied) colour and alpha of one pixel.
struct Rgba {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    std::uint8_t a = 0;
    bool operator==(const Rgba&) const = default;
};

// x / 255 rounded to nearest, for 0 <= x <= 65407 (every product of two bytes).
constexpr std::uint32_t Div255(std::uint32_t x)
{
    x += 128;
    return (x + (x >> 8)) >> 8;
}

// Bytes of straight RGBA, in place, made premultiplied; and back.
void Premultiply(std::uint8_t* rgba, std::size_t pixels);
void Unpremultiply(std::uint8_t* rgba, std::size_t pixels);

class Surface : public ISurface {
public:
    // 'RGBA' read as a little-endian word: the one format; GetFormat answers it.
    static constexpr std::int32_t kFormat = 0x41424752;
    // Larger surfaces are refused (in either direction, and in area).
    static constexpr std::int32_t kMaxSide = 16384;
    static constexpr std::int64_t kMaxPixels = std::int64_t{1} << 26;

    // True when a width x height surface can be made (0 included).
    static bool SizeAllowed(std::int32_t width, std::int32_t height);

    // A transparent black surface. Throws std::invalid_argument for a size
    // SizeAllowed refuses and std::bad_alloc when memory runs out; a width
    // or height of 0 gives a surface without pixels.
    Surface(std::int32_t width, std::int32_t height);
    virtual ~Surface() = default;
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    // 1: a surface handed over with EndOnDestroy is deleted (after its
    // callback); any other belongs to its owner and ignores the call.
    void VELORA_METHOD Destroy() override;
    // 2, 3: the pixel's colour bytes and its alpha byte; null outside. The
    // plug-in asks for every pixel of a sprite this way in mode 3, so they
    // are written out here, to be compiled into the call itself; in the
    // studio's module, where the plug-in's calls on surfaces reach this
    // class directly, into the plug-in's loop.
    VELORA_KIT_INLINE std::uint8_t* VELORA_METHOD GetPixelAddress(std::int32_t x, std::int32_t y) override
    {
        return At(x, y);
    }
    VELORA_KIT_INLINE std::uint8_t* VELORA_METHOD GetAlphaAddress(std::int32_t x, std::int32_t y) override
    {
        std::uint8_t* pixel = At(x, y);
        return pixel ? pixel + 3 : nullptr;
    }
    // 4, 5, 6.
    std::int32_t VELORA_METHOD GetWidth() override { return width_; }
    std::int32_t VELORA_METHOD GetHeight() override { return height_; }
    std::int32_t VELORA_METHOD GetFormat() override { return kFormat; }

    // Destroy deletes the surface, calling ended(context) first (ended may be null).
    void EndOnDestroy(void (*ended)(void*), void* context)
    {
        endOnDestroy_ = true;
        ended_ = ended;
        endedContext_ = context;
    }

    std::int32_t Width() const { return width_; }
    std::int32_t Height() const { return height_; }
    bool IsEmpty() const { return width_ == 0 || height_ == 0; }
    std::size_t Stride() const { return static_cast<std::size_t>(width_) * 4; }
    std::size_t ByteCount() const { return Stride() * static_cast<std::size_t>(height_); }
    // (One unsigned comparison a side: a negative coordinate becomes larger
    // than any side.)
    bool Inside(std::int32_t x, std::int32_t y) const
    {
        return static_cast<std::uint32_t>(x) < static_cast<std::uint32_t>(width_) &&
               static_cast<std::uint32_t>(y) < static_cast<std::uint32_t>(height_);
    }
    std::uint8_t* Bytes() { return bytes_.get(); }
    const std::uint8_t* Bytes() const { return bytes_.get(); }
    // The four bytes of pixel (x, y), or null outside.
    std::uint8_t* At(std::int32_t x, std::int32_t y)
    {
        if (!Inside(x, y)) {
            return nullptr;
        }
        return bytes_.get() +
               (static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x)) * 4;
    }
    const std::uint8_t* At(std::int32_t x, std::int32_t y) const { return const_cast<Surface*>(this)->At(x, y); }

    // Straight colour: Pixel un-premultiplies (transparent black outside),
    // SetPixel and Fill premultiply (SetPixel does nothing outside).
    Rgba Pixel(std::int32_t x, std::int32_t y) const;
    void SetPixel(std::int32_t x, std::int32_t y, Rgba colour);
    void Fill(Rgba colour);
    // The whole surface, drawn in straight colour, made premultiplied.
    void Premultiply() { kit::Premultiply(bytes_.get(), ByteCount() / 4); }

private:
    std::int32_t width_;
    std::int32_t height_;
    std::unique_ptr<std::uint8_t[]> bytes_;
    bool endOnDestroy_ = false;
    void (*ended_)(void*) = nullptr;
    void* endedContext_ = nullptr;
};

}  // namespace velora::kit
