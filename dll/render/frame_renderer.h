// One frame of an effect: every particle of the instance it is handed drawn
// in the instance's mode through the host's drawing interfaces. Finding the
// instance and moving its particles afterwards is the plug-in object's part.
#pragma once

#include <cstdint>
#include <optional>

#include "contract/host_interfaces.h"
#include "effect/effect_instance.h"

namespace velora {

// The host services one Draw uses, borrowed from the plug-in object; any of
// them may be null, which skips only the drawing that needs it.
struct HostServices {
    ISpriteBank* spriteBank = nullptr;          // the sprites, and their size
    ISurfaceFactory* surfaceFactory = nullptr;  // the scratch surface of modes 2 and 3
    IGraphBlend* graphBlend = nullptr;          // modes 0 and 1
    IGraphFilter* graphFilter = nullptr;        // modes 2 and 3
};

// Draws one frame of a started instance. rate goes to the host's blending
// operations unchanged. Returns the sprite size (the width of the instance's
// base sprite), which the motion step that follows takes; nothing when there
// is no base sprite to measure, and then no step follows either.
std::optional<std::int32_t> DrawFrame(const HostServices& host, EffectInstance& instance, ISurface* destination,
                                      std::int32_t rate);

}  // namespace velora
