// Drawing operations: clipping, then pixman.
//
// pixman composes premultiplied colour, the surfaces hold straight colour.
// Operations that weight by alpha therefore work on premultiplied copies of
// the two rectangles (pixman makes them: colour IN alpha) and write back only
// the pixels the composition changed, divided by their alpha again. Copying,
// fading and mixing need no conversion: they work on the stored bytes.
#include "host/graph.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>
#include <optional>

#include <pixman.h>

namespace velora::host {
namespace {

struct ImageRelease {
    void operator()(pixman_image_t* image) const { pixman_image_unref(image); }
};
using Image = std::unique_ptr<pixman_image_t, ImageRelease>;

// A scratch image of premultiplied pixels, one native word each.
Image NewImage(std::int32_t width, std::int32_t height)
{
    pixman_image_t* image = pixman_image_create_bits(PIXMAN_a8r8g8b8, width, height, nullptr, 0);
    if (!image) {
        throw std::bad_alloc();
    }
    return Image(image);
}

Image Solid(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a)
{
    const pixman_color_t colour{static_cast<std::uint16_t>(r * 257), static_cast<std::uint16_t>(g * 257),
                                static_cast<std::uint16_t>(b * 257), static_cast<std::uint16_t>(a * 257)};
    pixman_image_t* image = pixman_image_create_solid_fill(&colour);
    if (!image) {
        throw std::bad_alloc();
    }
    return Image(image);
}

std::uint8_t ClampRate(std::int32_t rate) { return static_cast<std::uint8_t>(std::clamp(rate, 0, kFullRate)); }

// The constant mask that weights by rate; none at full rate.
Image RateMask(std::uint8_t rate) { return rate == kFullRate ? Image() : Solid(0, 0, 0, rate); }

// A rectangle that lies inside both surfaces.
struct Area {
    std::int32_t dx, dy, sx, sy, width, height;
};

// One axis of the clipping: the offsets t in [0, n) with d + t inside
// [0, destSize) and s + t inside [0, srcSize). Computed in 64 bits, so any
// 32-bit arguments are safe.
bool ClipAxis(std::int64_t& d, std::int64_t& s, std::int64_t& n, std::int64_t destSize, std::int64_t srcSize)
{
    const std::int64_t first = std::max({std::int64_t{0}, -d, -s});
    const std::int64_t end = std::min({n, destSize - d, srcSize - s});
    if (end <= first) {
        return false;
    }
    d += first;
    s += first;
    n = end - first;
    return true;
}

std::optional<Area> Clip(const HostSurface& dest, std::int32_t dx, std::int32_t dy, const HostSurface& src,
                         std::int32_t sx, std::int32_t sy, std::int32_t width, std::int32_t height)
{
    std::int64_t x = dx, y = dy, u = sx, v = sy, w = width, h = height;
    if (!ClipAxis(x, u, w, dest.Width(), src.Width()) || !ClipAxis(y, v, h, dest.Height(), src.Height())) {
        return std::nullopt;
    }
    // Everything now lies within the surfaces, so it fits in 32 bits.
    return Area{static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), static_cast<std::int32_t>(u),
                static_cast<std::int32_t>(v), static_cast<std::int32_t>(w), static_cast<std::int32_t>(h)};
}

// The rectangle's pixels premultiplied, at (0, 0) of a new image.
Image Premultiplied(const HostSurface& surface, std::int32_t x, std::int32_t y, std::int32_t width,
                    std::int32_t height)
{
    Image copy = NewImage(width, height);
    pixman_image_composite32(PIXMAN_OP_SRC, surface.OpaqueImage(), surface.Image(), copy.get(), x, y, x, y, 0,
                             0, width, height);
    return copy;
}

// Writes one premultiplied word back as straight colour.
void StoreStraight(std::uint32_t word, std::uint8_t* pixel)
{
    const std::uint32_t a = word >> 24;
    if (a == 0) {
        pixel[0] = pixel[1] = pixel[2] = pixel[3] = 0;
        return;
    }
    const auto straight = [a](std::uint32_t c) {
        return static_cast<std::uint8_t>(std::min<std::uint32_t>(255, (c * 255 + a / 2) / a));
    };
    pixel[0] = straight(word & 0xFF);
    pixel[1] = straight((word >> 8) & 0xFF);
    pixel[2] = straight((word >> 16) & 0xFF);
    pixel[3] = static_cast<std::uint8_t>(a);
}

// Composes the premultiplied source (an image the size of the area, at its
// origin) onto the destination's area with op and mask. Pixels the
// composition leaves as they were keep their stored bytes exactly.
void ComposeOnto(HostSurface& dest, const Area& area, pixman_op_t op, pixman_image_t* source,
                 pixman_image_t* mask)
{
    const Image before = Premultiplied(dest, area.dx, area.dy, area.width, area.height);
    const Image after = NewImage(area.width, area.height);
    pixman_image_composite32(PIXMAN_OP_SRC, before.get(), nullptr, after.get(), 0, 0, 0, 0, 0, 0, area.width,
                             area.height);
    pixman_image_composite32(op, source, mask, after.get(), 0, 0, 0, 0, 0, 0, area.width, area.height);

    const auto* was = pixman_image_get_data(before.get());
    const auto* now = pixman_image_get_data(after.get());
    const auto wasStride = static_cast<std::size_t>(pixman_image_get_stride(before.get())) / 4;
    const auto nowStride = static_cast<std::size_t>(pixman_image_get_stride(after.get())) / 4;
    for (std::int32_t row = 0; row < area.height; ++row) {
        const std::uint32_t* wasRow = was + static_cast<std::size_t>(row) * wasStride;
        const std::uint32_t* nowRow = now + static_cast<std::size_t>(row) * nowStride;
        for (std::int32_t column = 0; column < area.width; ++column) {
            if (nowRow[column] != wasRow[column]) {
                StoreStraight(nowRow[column], dest.GetPixelAddress(area.dx + column, area.dy + row));
            }
        }
    }
}

// Source over, or added to, the destination, weighted by a mask (or none).
std::int32_t ComposeWeighted(HostSurface* dest, std::int32_t dx, std::int32_t dy, HostSurface* src,
                             std::int32_t sx, std::int32_t sy, std::int32_t width, std::int32_t height,
                             std::int32_t rate, pixman_op_t op)
{
    if (!dest || !src) {
        return kRefused;
    }
    const std::uint8_t weight = ClampRate(rate);
    const std::optional<Area> area = Clip(*dest, dx, dy, *src, sx, sy, width, height);
    if (!area || weight == 0) {
        return kDone;
    }
    // The source is copied first, so a rectangle may overlap itself.
    const Image source = Premultiplied(*src, area->sx, area->sy, area->width, area->height);
    const Image mask = RateMask(weight);
    ComposeOnto(*dest, *area, op, source.get(), mask.get());
    return kDone;
}

}  // namespace

std::int32_t BlendOver(HostSurface* dest, std::int32_t dx, std::int32_t dy, HostSurface* src, std::int32_t sx,
                       std::int32_t sy, std::int32_t width, std::int32_t height, std::int32_t rate)
{
    return ComposeWeighted(dest, dx, dy, src, sx, sy, width, height, rate, PIXMAN_OP_OVER);
}

std::int32_t BlendAdd(HostSurface* dest, std::int32_t dx, std::int32_t dy, HostSurface* src, std::int32_t sx,
                      std::int32_t sy, std::int32_t width, std::int32_t height, std::int32_t rate)
{
    return ComposeWeighted(dest, dx, dy, src, sx, sy, width, height, rate, PIXMAN_OP_ADD);
}

std::int32_t Copy(HostSurface* dest, std::int32_t dx, std::int32_t dy, HostSurface* src, std::int32_t sx,
                  std::int32_t sy, std::int32_t width, std::int32_t height)
{
    if (!dest || !src) {
        return kRefused;
    }
    const std::optional<Area> area = Clip(*dest, dx, dy, *src, sx, sy, width, height);
    if (!area) {
        return kDone;
    }
    // The same format on both sides: SRC moves the bytes unchanged. Within
    // one surface the rectangle goes through a copy, as it may overlap.
    pixman_image_t* from = src->Image();
    std::int32_t fromX = area->sx;
    std::int32_t fromY = area->sy;
    Image copy;
    if (src == dest) {
        copy = NewImage(area->width, area->height);
        pixman_image_composite32(PIXMAN_OP_SRC, from, nullptr, copy.get(), fromX, fromY, 0, 0, 0, 0, area->width,
                                 area->height);
        from = copy.get();
        fromX = fromY = 0;
    }
    pixman_image_composite32(PIXMAN_OP_SRC, from, nullptr, dest->Image(), fromX, fromY, 0, 0, area->dx, area->dy,
                             area->width, area->height);
    return kDone;
}

std::int32_t Fade(HostSurface* surface, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                  std::int32_t rate)
{
    if (!surface) {
        return kRefused;
    }
    const std::uint8_t weight = ClampRate(rate);
    const std::optional<Area> area = Clip(*surface, x, y, *surface, x, y, width, height);
    if (!area || weight == kFullRate) {
        return kDone;
    }
    // IN_REVERSE with a component-alpha mask multiplies each byte by the
    // mask's byte: colour by 255 (unchanged), alpha by rate.
    const Image opaque = Solid(255, 255, 255, 255);
    const Image mask = Solid(255, 255, 255, weight);
    pixman_image_set_component_alpha(mask.get(), 1);
    pixman_image_composite32(PIXMAN_OP_IN_REVERSE, opaque.get(), mask.get(), surface->Image(), 0, 0, 0, 0,
                             area->dx, area->dy, area->width, area->height);
    return kDone;
}

std::int32_t Multiply(HostSurface* dest, std::int32_t dx, std::int32_t dy, HostSurface* src, std::int32_t sx,
                      std::int32_t sy, std::int32_t width, std::int32_t height, std::int32_t rate)
{
    if (!dest || !src) {
        return kRefused;
    }
    const std::uint8_t weight = ClampRate(rate);
    const std::optional<Area> area = Clip(*dest, dx, dy, *src, sx, sy, width, height);
    if (!area || weight == 0) {
        return kDone;
    }
    // factor = source colour (alpha ignored) over white, weighted by rate...
    const Image white = Solid(255, 255, 255, 255);
    const Image factor = NewImage(area->width, area->height);
    pixman_image_composite32(PIXMAN_OP_SRC, white.get(), nullptr, factor.get(), 0, 0, 0, 0, 0, 0, area->width,
                             area->height);
    const Image mask = RateMask(weight);
    pixman_image_composite32(PIXMAN_OP_OVER, src->OpaqueImage(), mask.get(), factor.get(), area->sx, area->sy, 0, 0,
                             0, 0, area->width, area->height);
    // ...then each colour byte of the destination times the factor's byte;
    // the factor's alpha is 255, so the destination's alpha stays.
    pixman_image_set_component_alpha(factor.get(), 1);
    pixman_image_composite32(PIXMAN_OP_IN_REVERSE, white.get(), factor.get(), dest->Image(), 0, 0, 0, 0, area->dx,
                             area->dy, area->width, area->height);
    return kDone;
}

namespace {

std::mutex observerMutex;
DrawObserver& Observer()
{
    static auto* observer = new DrawObserver;
    return *observer;
}

// Runs one operation for an interface call: no exception leaves the host,
// and the observer sees the call.
template <class Operation>
std::int32_t Serve(DrawCall call, Operation&& operation)
{
    try {
        call.result = operation();
    } catch (...) {
        call.result = kRefused;  // out of memory: nothing more was drawn
    }
    try {
        const std::lock_guard lock(observerMutex);
        if (Observer()) {
            Observer()(call);
        }
    } catch (...) {
        // A failing observer must not reach the plug-in.
    }
    return call.result;
}

DrawCall Describe(const char* operation, HostSurface* dest, std::int32_t dx, std::int32_t dy, HostSurface* src,
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

}  // namespace

void SetDrawObserver(DrawObserver observer)
{
    const std::lock_guard lock(observerMutex);
    Observer() = std::move(observer);
}

std::int32_t VELORA_METHOD HostGraphBlend::BlendRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                                     std::int32_t sx, std::int32_t sy, std::int32_t width,
                                                     std::int32_t height, std::int32_t rate)
{
    HostSurface* d = HostSurface::FromInterface(dest);
    HostSurface* s = HostSurface::FromInterface(src);
    return Serve(WithRate(Describe("BlendRect", d, dx, dy, s, sx, sy, width, height), rate),
                 [&] { return BlendOver(d, dx, dy, s, sx, sy, width, height, rate); });
}

std::int32_t VELORA_METHOD HostGraphBlend::BlendRectAlt(ISurface* dest, std::int32_t dx, std::int32_t dy,
                                                        ISurface* src, std::int32_t sx, std::int32_t sy,
                                                        std::int32_t width, std::int32_t height, std::int32_t rate)
{
    HostSurface* d = HostSurface::FromInterface(dest);
    HostSurface* s = HostSurface::FromInterface(src);
    return Serve(WithRate(Describe("BlendRectAlt", d, dx, dy, s, sx, sy, width, height), rate),
                 [&] { return BlendAdd(d, dx, dy, s, sx, sy, width, height, rate); });
}

std::int32_t VELORA_METHOD HostGraphFilter::CopyRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                                     std::int32_t sx, std::int32_t sy, std::int32_t width,
                                                     std::int32_t height)
{
    HostSurface* d = HostSurface::FromInterface(dest);
    HostSurface* s = HostSurface::FromInterface(src);
    return Serve(Describe("CopyRect", d, dx, dy, s, sx, sy, width, height),
                 [&] { return Copy(d, dx, dy, s, sx, sy, width, height); });
}

std::int32_t VELORA_METHOD HostGraphFilter::DrawRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                                     std::int32_t sx, std::int32_t sy, std::int32_t width,
                                                     std::int32_t height)
{
    HostSurface* d = HostSurface::FromInterface(dest);
    HostSurface* s = HostSurface::FromInterface(src);
    return Serve(Describe("DrawRect", d, dx, dy, s, sx, sy, width, height),
                 [&] { return BlendOver(d, dx, dy, s, sx, sy, width, height, kFullRate); });
}

std::int32_t VELORA_METHOD HostGraphFilter::FilterRect(ISurface* surface, std::int32_t x, std::int32_t y,
                                                       std::int32_t width, std::int32_t height, std::int32_t rate)
{
    HostSurface* s = HostSurface::FromInterface(surface);
    return Serve(WithRate(Describe("FilterRect", s, x, y, nullptr, 0, 0, width, height), rate),
                 [&] { return Fade(s, x, y, width, height, rate); });
}

std::int32_t VELORA_METHOD HostGraphFilter::MixRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                                    std::int32_t sx, std::int32_t sy, std::int32_t width,
                                                    std::int32_t height, std::int32_t rate)
{
    HostSurface* d = HostSurface::FromInterface(dest);
    HostSurface* s = HostSurface::FromInterface(src);
    return Serve(WithRate(Describe("MixRect", d, dx, dy, s, sx, sy, width, height), rate),
                 [&] { return Multiply(d, dx, dy, s, sx, sy, width, height, rate); });
}

}  // namespace velora::host
