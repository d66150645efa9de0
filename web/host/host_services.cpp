#include "web/host/host_services.h"

#include "web/host/pixel_ops.h"

namespace velora::web {
namespace {

// Every surface the plug-in passes back is one of this host's.
PixelSurface* Pixels(ISurface* surface) { return static_cast<PixelSurface*>(surface); }

}  // namespace

std::int32_t VELORA_METHOD StudioGraphBlend::BlendRect(ISurface* dest, std::int32_t dx, std::int32_t dy,
                                                       ISurface* src, std::int32_t sx, std::int32_t sy,
                                                       std::int32_t width, std::int32_t height, std::int32_t rate)
{
    ++tally_.drawingCalls;
    if (dest && src) {
        Over(*Pixels(dest), dx, dy, *Pixels(src), sx, sy, width, height, rate);
    }
    return 0;
}

std::int32_t VELORA_METHOD StudioGraphBlend::BlendRectAlt(ISurface* dest, std::int32_t dx, std::int32_t dy,
                                                          ISurface* src, std::int32_t sx, std::int32_t sy,
                                                          std::int32_t width, std::int32_t height,
                                                          std::int32_t rate)
{
    ++tally_.drawingCalls;
    if (dest && src) {
        Add(*Pixels(dest), dx, dy, *Pixels(src), sx, sy, width, height, rate);
    }
    return 0;
}

std::int32_t VELORA_METHOD StudioGraphFilter::CopyRect(ISurface* dest, std::int32_t dx, std::int32_t dy,
                                                       ISurface* src, std::int32_t sx, std::int32_t sy,
                                                       std::int32_t width, std::int32_t height)
{
    if (dest && src) {
        Copy(*Pixels(dest), dx, dy, *Pixels(src), sx, sy, width, height);
    }
    return 0;
}

std::int32_t VELORA_METHOD StudioGraphFilter::DrawRect(ISurface* dest, std::int32_t dx, std::int32_t dy,
                                                       ISurface* src, std::int32_t sx, std::int32_t sy,
                                                       std::int32_t width, std::int32_t height)
{
    ++tally_.drawingCalls;
    if (dest && src) {
        Over(*Pixels(dest), dx, dy, *Pixels(src), sx, sy, width, height, 255);
    }
    return 0;
}

std::int32_t VELORA_METHOD StudioGraphFilter::FilterRect(ISurface* surface, std::int32_t x, std::int32_t y,
                                                         std::int32_t width, std::int32_t height,
                                                         std::int32_t rate)
{
    if (surface) {
        Fade(*Pixels(surface), x, y, width, height, rate);
    }
    return 0;
}

std::int32_t VELORA_METHOD StudioGraphFilter::MixRect(ISurface* dest, std::int32_t dx, std::int32_t dy,
                                                      ISurface* src, std::int32_t sx, std::int32_t sy,
                                                      std::int32_t width, std::int32_t height, std::int32_t rate)
{
    ++tally_.drawingCalls;
    if (dest && src) {
        Multiply(*Pixels(dest), dx, dy, *Pixels(src), sx, sy, width, height, rate);
    }
    return 0;
}

ISurface* VELORA_METHOD StudioSurfaceFactory::CreateSurface(std::int32_t width, std::int32_t height,
                                                            std::int32_t format)
{
    if (format != PixelSurface::kFormat || width <= 0 || height <= 0 || width > kMaxSide ||
        height > kMaxSide) {
        return nullptr;
    }
    auto* surface = new PixelSurface(width, height);
    surface->EndOnDestroy(&live_);
    ++live_;
    return surface;
}

ISurface* VELORA_METHOD StudioSpriteBank::GetSprite(std::int32_t number)
{
    auto found = sprites_.find(number);
    return found == sprites_.end() ? nullptr : found->second.get();
}

void StudioSpriteBank::Put(std::int32_t number, std::unique_ptr<PixelSurface> sprite)
{
    sprites_[number] = std::move(sprite);
}

void StudioSpriteBank::RemoveFrom(std::int32_t first)
{
    sprites_.erase(sprites_.lower_bound(first), sprites_.end());
}

std::int32_t VELORA_METHOD StudioDrawHost::ReportRect(std::int32_t handle, std::int32_t x, std::int32_t y,
                                                      std::int32_t width, std::int32_t height)
{
    last = {handle, x, y, width, height};
    ++reports;
    return 0;
}

}  // namespace velora::web
