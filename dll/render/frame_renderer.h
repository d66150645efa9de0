// One frame of an effect: every particle drawn in the instance's mode through
// the host's drawing interfaces, then one motion step.
#pragma once

#include <cstdint>

#include "contract/host_interfaces.h"

namespace velora {

// The host services one Draw uses, borrowed from the plug-in object; any of
// them may be null, which skips only the drawing that needs it.
struct HostServices {
    ISpriteBank* spriteBank = nullptr;          // the sprites, and their size
    ISurfaceFactory* surfaceFactory = nullptr;  // the scratch surface of modes 2 and 3
    IGraphBlend* graphBlend = nullptr;          // modes 0 and 1
    IGraphFilter* graphFilter = nullptr;        // modes 2 and 3
};

// The work of the plug-in object's Draw for one handle. Does nothing at all
// (no host call, no step) for a handle without a started instance. rate goes
// to the host's blending operations unchanged.
void DrawFrame(const HostServices& host, std::int32_t handle, ISurface* destination, std::int32_t rate);

}  // namespace velora
