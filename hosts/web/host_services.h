// The engine's interfaces as the studio's host implements them.
//
// The drawing interfaces, surface factory and sprite bank are the host
// kit's (hosts/kit/engine_services.h). The drawing interfaces count the calls that
// draw onto a destination (BlendRect, BlendRectAlt, DrawRect, MixRect): the
// plug-in makes one such call per sprite it draws, so the tally of one Draw
// is the number of sprites that frame showed. Every surface the plug-in
// hands back is one this host made (the frame, a sprite or a scratch
// surface); a null one makes the call do nothing.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "contract/host_interfaces.h"
#include "kit/engine_services.h"
#include "web/pixel_surface.h"

namespace velora::web {

// Drawing calls that reached a destination.
struct DrawTally {
    std::int32_t drawingCalls = 0;
};

// The kit's hooks for the studio: every surface is the studio's own; the
// calls that draw onto a destination are counted in *tally.
kit::GraphHooks StudioGraphHooks(DrawTally& tally);

// The kit's drawing interfaces, counting into a tally.
class StudioGraphBlend final : public kit::GraphBlend {
public:
    explicit StudioGraphBlend(DrawTally& tally) : GraphBlend(StudioGraphHooks(tally)) {}
};

class StudioGraphFilter final : public kit::GraphFilter {
public:
    explicit StudioGraphFilter(DrawTally& tally) : GraphFilter(StudioGraphHooks(tally)) {}
};

// Scratch surfaces in the kit's format, at most kMaxSide a side.
class StudioSurfaceFactory final : public kit::SurfaceFactory {
public:
    // Sides above this are refused: no effect needs a bigger scratch surface.
    static constexpr std::int32_t kMaxSide = 4096;
    StudioSurfaceFactory() : SurfaceFactory(Options{kMaxSide, false, nullptr, nullptr, nullptr}) {}
};

// Numbered sprites. Numbers need not be consecutive.
class StudioSpriteBank final : public kit::SpriteBank {
public:
    // Puts a sprite drawn or loaded in straight colour under number,
    // replacing what was there; the bank keeps it premultiplied. A null
    // sprite empties the number: the bank then answers null for it.
    void Put(std::int32_t number, std::unique_ptr<PixelSurface> sprite)
    {
        if (sprite) {
            sprite->Premultiply();
        }
        SpriteBank::Put(number, std::move(sprite));
    }
};

// Told by the plug-in's Update which rectangle an effect covers; keeps it.
class StudioDrawHost final : public IDrawHost {
public:
    std::int32_t VELORA_METHOD ReportRect(std::int32_t handle, std::int32_t x, std::int32_t y,
                                          std::int32_t width, std::int32_t height) override;

    struct Report {
        std::int32_t handle, x, y, width, height;
    };
    Report last{};
    std::int32_t reports = 0;
};

// The engine's main system: handed out, never called.
class StudioMainSystem final : public IMainSystem {};

}  // namespace velora::web
