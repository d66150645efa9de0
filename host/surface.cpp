#include "host/surface.h"

#include <bit>
#include <mutex>
#include <new>
#include <unordered_set>

#include <pixman.h>

namespace velora::host {
namespace {

// Bytes R, G, B, A in memory, read as one native word.
constexpr pixman_format_code_t kWithAlpha =
    std::endian::native == std::endian::little ? PIXMAN_a8b8g8r8 : PIXMAN_r8g8b8a8;
constexpr pixman_format_code_t kOpaque =
    std::endian::native == std::endian::little ? PIXMAN_x8b8g8r8 : PIXMAN_r8g8b8x8;

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

}  // namespace

HostSurface::HostSurface(std::int32_t width, std::int32_t height, std::string label)
    : hostkit::Surface(width, height), label_(std::move(label))
{
    if (!IsEmpty()) {
        auto* words = reinterpret_cast<std::uint32_t*>(Bytes());
        const auto stride = static_cast<int>(Stride());
        image_ = pixman_image_create_bits(kWithAlpha, width, height, words, stride);
        opaque_ = pixman_image_create_bits(kOpaque, width, height, words, stride);
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

}  // namespace velora::host
