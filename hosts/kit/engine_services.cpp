// The engine services' bodies. Every drawing call goes through Serve: the
// host's hooks resolve its surfaces, a missing or refused surface refuses
// the call, no exception gets back to the plug-in, and the observer sees
// each call with its result.
#include "kit/engine_services.h"

#include <new>

#include "kit/pixel_ops.h"

namespace velora::kit {
namespace {

Surface* Resolve(const GraphHooks& hooks, ISurface* surface)
{
    if (!surface) {
        return nullptr;
    }
    return hooks.resolve ? hooks.resolve(surface, hooks.context) : static_cast<Surface*>(surface);
}

DrawCall Describe(const char* operation, ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                  std::int32_t sx, std::int32_t sy, std::int32_t width, std::int32_t height)
{
    DrawCall call;
    call.operation = operation;
    call.dest = dest;
    call.src = src;
    call.dx = dx;
    call.dy = dy;
    call.sx = sx;
    call.sy = sy;
    call.width = width;
    call.height = height;
    return call;
}

DrawCall WithRate(DrawCall call, std::int32_t rate)
{
    call.hasRate = true;
    call.rate = rate;
    return call;
}

// Runs one operation: a missing or refused surface refuses the call, no
// exception leaves the host, and the observer sees the call.
template <class Operation>
std::int32_t Serve(const GraphHooks& hooks, DrawCall call, bool withSource, Operation&& operation)
{
    Surface* dest = Resolve(hooks, call.dest);
    Surface* src = withSource ? Resolve(hooks, call.src) : dest;
    call.result = kRefused;
    if (dest && src) {
        try {
            operation(*dest, *src);
            call.result = kDone;
        } catch (...) {
            // out of memory: nothing more was drawn
        }
    }
    if (hooks.observe) {
        hooks.observe(call, hooks.context);
    }
    return call.result;
}

}  // namespace

std::int32_t VELORA_METHOD GraphBlend::BlendRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                                 std::int32_t sx, std::int32_t sy, std::int32_t width,
                                                 std::int32_t height, std::int32_t rate)
{
    return Serve(hooks_, WithRate(Describe("BlendRect", dest, dx, dy, src, sx, sy, width, height), rate), true,
                 [&](Surface& d, const Surface& s) { kit::BlendRect(d, dx, dy, s, sx, sy, width, height, rate); });
}

std::int32_t VELORA_METHOD GraphBlend::BlendRectAlt(ISurface* dest, std::int32_t dx, std::int32_t dy,
                                                    ISurface* src, std::int32_t sx, std::int32_t sy,
                                                    std::int32_t width, std::int32_t height, std::int32_t rate)
{
    return Serve(hooks_, WithRate(Describe("BlendRectAlt", dest, dx, dy, src, sx, sy, width, height), rate), true,
                 [&](Surface& d, const Surface& s) {
                     kit::BlendRectAlt(d, dx, dy, s, sx, sy, width, height, rate);
                 });
}

std::int32_t VELORA_METHOD GraphFilter::CopyRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                                 std::int32_t sx, std::int32_t sy, std::int32_t width,
                                                 std::int32_t height)
{
    return Serve(hooks_, Describe("CopyRect", dest, dx, dy, src, sx, sy, width, height), true,
                 [&](Surface& d, const Surface& s) { kit::CopyRect(d, dx, dy, s, sx, sy, width, height); });
}

std::int32_t VELORA_METHOD GraphFilter::DrawRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                                 std::int32_t sx, std::int32_t sy, std::int32_t width,
                                                 std::int32_t height)
{
    return Serve(hooks_, Describe("DrawRect", dest, dx, dy, src, sx, sy, width, height), true,
                 [&](Surface& d, const Surface& s) { kit::DrawRect(d, dx, dy, s, sx, sy, width, height); });
}

std::int32_t VELORA_METHOD GraphFilter::FilterRect(ISurface* surface, std::int32_t x, std::int32_t y,
                                                   std::int32_t width, std::int32_t height, std::int32_t rate)
{
    return Serve(hooks_, WithRate(Describe("FilterRect", surface, x, y, nullptr, 0, 0, width, height), rate), false,
                 [&](Surface& d, const Surface&) { kit::FilterRect(d, x, y, width, height, rate); });
}

std::int32_t VELORA_METHOD GraphFilter::MixRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                                std::int32_t sx, std::int32_t sy, std::int32_t width,
                                                std::int32_t height, std::int32_t rate)
{
    return Serve(hooks_, WithRate(Describe("MixRect", dest, dx, dy, src, sx, sy, width, height), rate), true,
                 [&](Surface& d, const Surface& s) { kit::MixRect(d, dx, dy, s, sx, sy, width, height, rate); });
}

ISurface* VELORA_METHOD SurfaceFactory::CreateSurface(std::int32_t width, std::int32_t height, std::int32_t format)
{
    if ((!options_.anyFormat && format != Surface::kFormat) || width <= 0 || height <= 0 ||
        width > options_.maxSide || height > options_.maxSide || !Surface::SizeAllowed(width, height)) {
        return nullptr;
    }
    try {
        auto surface = std::make_unique<Surface>(width, height);
        surface->EndOnDestroy(&SurfaceFactory::Ended, this);
        if (options_.made) {
            options_.made(*surface, options_.context);
        }
        ++live_;
        return surface.release();
    } catch (...) {
        return nullptr;
    }
}

void SurfaceFactory::Ended(void* factory)
{
    auto* self = static_cast<SurfaceFactory*>(factory);
    --self->live_;
    if (self->options_.ended) {
        self->options_.ended(self->options_.context);
    }
}

ISurface* VELORA_METHOD SpriteBank::GetSprite(std::int32_t number) { return Find(number); }

Surface* SpriteBank::Find(std::int32_t number) const
{
    const auto found = sprites_.find(number);
    return found == sprites_.end() ? nullptr : found->second.get();
}

void SpriteBank::Put(std::int32_t number, std::unique_ptr<Surface> sprite) { sprites_[number] = std::move(sprite); }

void SpriteBank::RemoveFrom(std::int32_t first) { sprites_.erase(sprites_.lower_bound(first), sprites_.end()); }

}  // namespace velora::kit
