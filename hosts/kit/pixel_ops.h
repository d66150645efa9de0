// The six drawing operations of every host, on kit surfaces (premultiplied
// RGBA, see surface.h). One meaning each; the formulas, per byte, with
// r = rate clamped to 0..255 (0 no effect, 255 full strength),
// D(x) = x / 255 rounded to nearest, s and d the source and destination
// bytes k = 0, 1, 2 (colour) and 3 (alpha), and every result clamped to 255:
//
//   BlendRect     source over destination, weighted by rate:
//                 s'k = D(sk r);  dk = s'k + D(dk (255 - s'3))
//   BlendRectAlt  source added to destination (light), weighted by rate:
//                 dk = dk + D(sk r)
//   CopyRect      all four bytes copied
//   FilterRect    colour darkened toward black in place, alpha kept:
//                 dk = D(dk r) for k < 3
//   DrawRect      BlendRect at r = 255: dk = sk + D(dk (255 - s3))
//   MixRect       destination multiplied by the source over white, weighted
//                 by rate, alpha kept: fk = sk + 255 - s3 (so white, or a
//                 transparent pixel, is 255); gk = 255 - D((255 - fk) r);
//                 dk = D(dk gk) for k < 3
//
// Every operation first clips its rectangle with ClipRect (clip.h) and
// touches nothing outside it. A source that is also the destination is read
// as it stood before the operation. They throw std::bad_alloc only when a
// source overlapping its own destination cannot be copied.
#pragma once

#include <cstdint>

#include "kit/surface.h"

namespace velora::hostkit {

inline constexpr std::int32_t kFullRate = 255;

void BlendRect(Surface& dest, std::int32_t dx, std::int32_t dy, const Surface& src, std::int32_t sx,
               std::int32_t sy, std::int32_t width, std::int32_t height, std::int32_t rate);
void BlendRectAlt(Surface& dest, std::int32_t dx, std::int32_t dy, const Surface& src, std::int32_t sx,
                  std::int32_t sy, std::int32_t width, std::int32_t height, std::int32_t rate);
void CopyRect(Surface& dest, std::int32_t dx, std::int32_t dy, const Surface& src, std::int32_t sx,
              std::int32_t sy, std::int32_t width, std::int32_t height);
void FilterRect(Surface& surface, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                std::int32_t rate);
void DrawRect(Surface& dest, std::int32_t dx, std::int32_t dy, const Surface& src, std::int32_t sx,
              std::int32_t sy, std::int32_t width, std::int32_t height);
void MixRect(Surface& dest, std::int32_t dx, std::int32_t dy, const Surface& src, std::int32_t sx,
             std::int32_t sy, std::int32_t width, std::int32_t height, std::int32_t rate);

}  // namespace velora::hostkit
