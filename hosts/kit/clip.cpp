// The clipping arithmetic, one axis at a time and in 64 bits, so that no
// position plus size the plug-in passes can overflow; only the clipped
// rectangle, which lies inside both surfaces, comes back to 32 bits.
#include "kit/clip.h"

#include <algorithm>

namespace velora::kit {
namespace {

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

}  // namespace

std::optional<ClippedRect> ClipRect(std::int32_t destWidth, std::int32_t destHeight, std::int32_t srcWidth,
                                    std::int32_t srcHeight, std::int32_t dx, std::int32_t dy, std::int32_t sx,
                                    std::int32_t sy, std::int32_t width, std::int32_t height)
{
    std::int64_t x = dx, y = dy, u = sx, v = sy, w = width, h = height;
    if (!ClipAxis(x, u, w, destWidth, srcWidth) || !ClipAxis(y, v, h, destHeight, srcHeight)) {
        return std::nullopt;
    }
    // Everything now lies within the surfaces, so it fits in 32 bits again.
    return ClippedRect{static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), static_cast<std::int32_t>(u),
                       static_cast<std::int32_t>(v), static_cast<std::int32_t>(w), static_cast<std::int32_t>(h)};
}

}  // namespace velora::kit
