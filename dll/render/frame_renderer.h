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

// The spriteSize x spriteSize scratch surface that modes 2 and 3 draw
// through, made at its first use in a frame. The plug-in object holds it
// across the frame and ends it after the motion step, so the host sees the
// step's clock reading before the surface's Destroy.
class ScratchSurface {
public:
    ScratchSurface(ISurfaceFactory* factory, ISurface* destination) : factory_(factory), destination_(destination) {}

    // The scratch surface, in the destination's format; null when it cannot be had.
    ISurface* Get(std::int32_t spriteSize);
    // Ends the surface, if this frame made one.
    void Destroy();

private:
    ISurfaceFactory* factory_;
    ISurface* destination_;
    ISurface* surface_ = nullptr;
    bool failed_ = false;
};

// Draws one frame of a started instance. rate goes to the host's blending
// operations unchanged. Returns the sprite size (the width of the instance's
// base sprite), which the motion step that follows takes; nothing when there
// is no base sprite to measure, and then no step follows either.
std::optional<std::int32_t> DrawFrame(const HostServices& host, EffectInstance& instance, ISurface* destination,
                                      std::int32_t rate, ScratchSurface& scratch);

}  // namespace velora
