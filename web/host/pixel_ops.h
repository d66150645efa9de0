// The studio host's pixel work: what its drawing interfaces do to surfaces.
//
// Colours are straight (not premultiplied) RGBA. `rate` runs from 0 to 255;
// values outside are taken as the nearer end. Every operation clips its
// rectangle to both surfaces (a negative corner on either cuts the same
// amount from both) and touches nothing outside them; an empty or wholly
// outside rectangle does nothing. A source that is also the destination is
// read as it was before the operation.
//
//   Over      source over destination, the source's alpha weighted by rate
//             (BlendRect; DrawRect is Over at rate 255)
//   Add       source colour added, weighted by its alpha and rate (BlendRectAlt)
//   Copy      all four bytes copied (CopyRect)
//   Fade      colours faded toward black in place: rate 255 keeps them,
//             0 makes them black; alpha is kept (FilterRect)
//   Multiply  destination multiplied by the source colour, weighted by rate;
//             white leaves the destination unchanged, the source's alpha is
//             not used, the destination's alpha is kept (MixRect)
#pragma once

#include <cstdint>

#include "web/host/pixel_surface.h"

namespace velora::web {

// The part of a source rectangle that lies inside both surfaces.
struct ClippedRect {
    std::int32_t dx = 0;
    std::int32_t dy = 0;
    std::int32_t sx = 0;
    std::int32_t sy = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// Clips (sx, sy, width, height) of a srcWidth x srcHeight source, placed at
// (dx, dy) on a destWidth x destHeight destination. False when no pixel of it
// lies inside both.
bool ClipToBoth(std::int32_t destWidth, std::int32_t destHeight, std::int32_t srcWidth,
                std::int32_t srcHeight, std::int32_t dx, std::int32_t dy, std::int32_t sx,
                std::int32_t sy, std::int32_t width, std::int32_t height, ClippedRect& clipped);

void Over(PixelSurface& dest, std::int32_t dx, std::int32_t dy, const PixelSurface& src, std::int32_t sx,
          std::int32_t sy, std::int32_t width, std::int32_t height, std::int32_t rate);
void Add(PixelSurface& dest, std::int32_t dx, std::int32_t dy, const PixelSurface& src, std::int32_t sx,
         std::int32_t sy, std::int32_t width, std::int32_t height, std::int32_t rate);
void Copy(PixelSurface& dest, std::int32_t dx, std::int32_t dy, const PixelSurface& src, std::int32_t sx,
          std::int32_t sy, std::int32_t width, std::int32_t height);
void Fade(PixelSurface& surface, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
          std::int32_t rate);
void Multiply(PixelSurface& dest, std::int32_t dx, std::int32_t dy, const PixelSurface& src, std::int32_t sx,
              std::int32_t sy, std::int32_t width, std::int32_t height, std::int32_t rate);

}  // namespace velora::web
