#include "host/surface.h"

#include <bit>
#include <mutex>
#include <new>
#include <stdexcept>
#include <unordered_set>

#include <pixman.h>

namespace velora::host {
namespace {

// Bytes B, G, R, A in memory, read as one native word.
constexpr pixman_format_code_t kWithAlpha =
    std::endian::native == std::endian::little ? PIXMAN_a8r8g8b8 : PIXMAN_b8g8r8a8;
constexpr pixman_format_code_t kOpaque =
    std::endian::native == std::endian::little ? PIXMAN_x8r8g8b8 : PIXMAN_b8g8r8x8;

// The surfaces alive in the process. Operations accept an ISurface only when
// it is one of these, so a foreign or already ended surface is refused
// rather than misread. Never destroyed: surfaces owned by static objects may
// end after every other static has gone.
struct LiveSurfaces {
    std::mutex mutex;
    std::unordered_set<const ISurface*> surfaces;
};

LiveSurfaces& Live()
{
    static auto* live = new LiveSurfaces;
    return *live;
}

std::size_t Index(std::int32_t width, std::int32_t x, std::int32_t y)
{
    return (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 4;
}

}  // namespace

HostSurface::HostSurface(std::int32_t width, std::int32_t height, std::string label)
    : width_(width), height_(height), label_(std::move(label))
{
    if (width < 0 || height < 0 || width > kMaxSurfaceSide || height > kMaxSurfaceSide ||
        std::int64_t{width} * height > kMaxSurfacePixels) {
        throw std::invalid_argument("surface size " + std::to_string(width) + " x " + std::to_string(height) +
                                    " is outside 0 to " + std::to_string(kMaxSurfaceSide));
    }
    if (!IsEmpty()) {
        const auto pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
        words_.reset(new std::uint32_t[pixels]());
        bytes_ = reinterpret_cast<std::uint8_t*>(words_.get());
        const int stride = width * 4;
        image_ = pixman_image_create_bits(kWithAlpha, width, height, words_.get(), stride);
        opaque_ = pixman_image_create_bits(kOpaque, width, height, words_.get(), stride);
        if (!image_ || !opaque_) {
            if (image_) {
                pixman_image_unref(image_);
            }
            if (opaque_) {
                pixman_image_unref(opaque_);
            }
            throw std::bad_alloc();
        }
    }
    LiveSurfaces& live = Live();
    const std::lock_guard lock(live.mutex);
    live.surfaces.insert(this);
}

HostSurface::~HostSurface()
{
    {
        LiveSurfaces& live = Live();
        const std::lock_guard lock(live.mutex);
        live.surfaces.erase(this);
    }
    if (image_) {
        pixman_image_unref(image_);
    }
    if (opaque_) {
        pixman_image_unref(opaque_);
    }
}

void VELORA_METHOD HostSurface::Destroy()
{
    if (factoryMade_) {
        delete this;
    }
}

std::uint8_t* VELORA_METHOD HostSurface::GetPixelAddress(std::int32_t x, std::int32_t y)
{
    return Inside(x, y) ? bytes_ + Index(width_, x, y) : nullptr;
}

std::uint8_t* VELORA_METHOD HostSurface::GetAlphaAddress(std::int32_t x, std::int32_t y)
{
    return Inside(x, y) ? bytes_ + Index(width_, x, y) + 3 : nullptr;
}

std::int32_t VELORA_METHOD HostSurface::GetWidth() { return width_; }
std::int32_t VELORA_METHOD HostSurface::GetHeight() { return height_; }
std::int32_t VELORA_METHOD HostSurface::GetFormat() { return kSurfaceFormat; }

HostSurface* HostSurface::FromInterface(ISurface* surface)
{
    if (!surface) {
        return nullptr;
    }
    LiveSurfaces& live = Live();
    const std::lock_guard lock(live.mutex);
    return live.surfaces.contains(surface) ? static_cast<HostSurface*>(surface) : nullptr;
}

std::size_t HostSurface::LiveCount()
{
    LiveSurfaces& live = Live();
    const std::lock_guard lock(live.mutex);
    return live.surfaces.size();
}

Rgba HostSurface::Pixel(std::int32_t x, std::int32_t y) const
{
    if (!Inside(x, y)) {
        return {};
    }
    const std::uint8_t* p = bytes_ + Index(width_, x, y);
    return {p[2], p[1], p[0], p[3]};
}

void HostSurface::SetPixel(std::int32_t x, std::int32_t y, Rgba colour)
{
    if (!Inside(x, y)) {
        return;
    }
    std::uint8_t* p = bytes_ + Index(width_, x, y);
    p[0] = colour.b;
    p[1] = colour.g;
    p[2] = colour.r;
    p[3] = colour.a;
}

void HostSurface::Fill(Rgba colour)
{
    if (IsEmpty()) {
        return;
    }
    // pixman stores the colour's top bytes as they are: no premultiplying.
    const pixman_color_t fill{static_cast<std::uint16_t>(colour.r * 257), static_cast<std::uint16_t>(colour.g * 257),
                              static_cast<std::uint16_t>(colour.b * 257), static_cast<std::uint16_t>(colour.a * 257)};
    const pixman_box32_t all{0, 0, width_, height_};
    pixman_image_fill_boxes(PIXMAN_OP_SRC, image_, &fill, 1, &all);
}

}  // namespace velora::host
