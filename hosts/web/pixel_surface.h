// A surface of the studio's host: the host kit's surface (hosts/kit/surface.h),
// four bytes a pixel in the canvas's own order (red, green, blue, alpha),
// colour premultiplied. Frames are opaque, so a frame's bytes go to the
// page's ImageData as they are.
#pragma once

#include "kit/surface.h"

namespace velora::web {

using PixelSurface = kit::Surface;

}  // namespace velora::web
