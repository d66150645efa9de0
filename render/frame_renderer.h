// One frame of an effect: every particle drawn in the instance's mode through
// the host's drawing interfaces, then one motion step.
#pragma once

#include <cstdint>

#include "plugin/draw_velora.h"

namespace velora {

// The work of the plug-in object's Draw for one handle. Does nothing at all
// (no host call, no step) for a handle without a started instance. rate goes
// to the host's blending operations unchanged.
void DrawFrame(const CDrawVelora& plugin, std::int32_t handle, ISurface* destination, std::int32_t rate);

}  // namespace velora
