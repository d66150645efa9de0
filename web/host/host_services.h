// The engine's interfaces as the studio's host implements them.
//
// The drawing interfaces do their pixel work with pixel_ops.h and count the
// calls that draw onto a destination (BlendRect, BlendRectAlt, DrawRect,
// MixRect): the plug-in makes one such call per sprite it draws, so the
// tally of one Draw is the number of sprites that frame showed. Every
// surface the plug-in hands back is one this host made (the frame, a sprite
// or a scratch surface); a null one makes the call do nothing.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "contract/host_interfaces.h"
#include "web/host/pixel_surface.h"

namespace velora::web {

// Drawing calls that reached a destination.
struct DrawTally {
    std::int32_t drawingCalls = 0;
};

class StudioGraphBlend final : public IGraphBlend {
public:
    explicit StudioGraphBlend(DrawTally& tally) : tally_(tally) {}

    // 14: source over destination, weighted by rate (0 to 255).
    std::int32_t VELORA_METHOD BlendRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                         std::int32_t sx, std::int32_t sy, std::int32_t width,
                                         std::int32_t height, std::int32_t rate) override;
    // 20: source added to destination, weighted by rate.
    std::int32_t VELORA_METHOD BlendRectAlt(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                            std::int32_t sx, std::int32_t sy, std::int32_t width,
                                            std::int32_t height, std::int32_t rate) override;

private:
    DrawTally& tally_;
};

class StudioGraphFilter final : public IGraphFilter {
public:
    explicit StudioGraphFilter(DrawTally& tally) : tally_(tally) {}

    // 4: all four bytes copied.
    std::int32_t VELORA_METHOD CopyRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                        std::int32_t sx, std::int32_t sy, std::int32_t width,
                                        std::int32_t height) override;
    // 11: source over destination with the source's own alpha.
    std::int32_t VELORA_METHOD DrawRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                        std::int32_t sx, std::int32_t sy, std::int32_t width,
                                        std::int32_t height) override;
    // 22: colours faded toward black in place by rate; alpha kept.
    std::int32_t VELORA_METHOD FilterRect(ISurface* surface, std::int32_t x, std::int32_t y, std::int32_t width,
                                          std::int32_t height, std::int32_t rate) override;
    // 37: destination multiplied by the source, weighted by rate.
    std::int32_t VELORA_METHOD MixRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                       std::int32_t sx, std::int32_t sy, std::int32_t width,
                                       std::int32_t height, std::int32_t rate) override;

private:
    DrawTally& tally_;
};

class StudioSurfaceFactory final : public ISurfaceFactory {
public:
    // Sides above this are refused: no effect needs a bigger scratch surface.
    static constexpr std::int32_t kMaxSide = 4096;

    // 2: a transparent surface that the caller ends with Destroy; null for
    // another format or a side of 0, less or above kMaxSide.
    ISurface* VELORA_METHOD CreateSurface(std::int32_t width, std::int32_t height,
                                          std::int32_t format) override;

    // Surfaces made and not yet destroyed.
    std::int32_t Live() const { return live_; }

private:
    std::int32_t live_ = 0;
};

// Numbered sprites. Numbers need not be consecutive.
class StudioSpriteBank final : public ISpriteBank {
public:
    // 0: the sprite, or null for a number the bank does not hold.
    ISurface* VELORA_METHOD GetSprite(std::int32_t number) override;

    // Puts a sprite under number, replacing what was there.
    void Put(std::int32_t number, std::unique_ptr<PixelSurface> sprite);
    // Removes every sprite numbered first or above.
    void RemoveFrom(std::int32_t first);
    std::size_t Size() const { return sprites_.size(); }

private:
    std::map<std::int32_t, std::unique_ptr<PixelSurface>> sprites_;
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
