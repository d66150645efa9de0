// The one clipping rule of every host: a rectangle of a source placed on a
// destination, cut to the part that lies inside both surfaces.
#pragma once

#include <cstdint>
#include <optional>

namespace velora::kit {

// A rectangle that lies wholly inside both surfaces.
struct ClippedRect {
    std::int32_t dx = 0;
    std::int32_t dy = 0;
    std::int32_t sx = 0;
    std::int32_t sy = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool operator==(const ClippedRect&) const = default;
};

// (sx, sy, width, height) of a srcWidth x srcHeight source, drawn at (dx, dy)
// on a destWidth x destHeight destination. Along each axis the pixels kept
// are the offsets t in [0, size) with dx + t inside the destination and
// sx + t inside the source: a corner left of or above either surface cuts
// the same amount from both. Computed in 64 bits, so every 32-bit argument
// is safe. Nothing when no pixel lies inside both (or a size is 0 or less).
std::optional<ClippedRect> ClipRect(std::int32_t destWidth, std::int32_t destHeight, std::int32_t srcWidth,
                                    std::int32_t srcHeight, std::int32_t dx, std::int32_t dy, std::int32_t sx,
                                    std::int32_t sy, std::int32_t width, std::int32_t height);

}  // namespace velora::kit
