// The engine services every host hands the plug-in, on kit surfaces: the
// drawing interfaces (their pixel work is pixel_ops.h), the surface factory
// and the sprite bank. A host adapts them with hooks rather than writing
// them again: how an interface pointer becomes a kit surface, who sees each
// drawing call, what a new scratch surface is told.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "contract/host_interfaces.h"
#include "kit/surface.h"

namespace velora::kit {

// What a drawing operation returns: done (possibly nothing, after clipping)
// or refused (a surface missing or not the host's, or memory ran out).
inline constexpr std::int32_t kDone = 0;
inline constexpr std::int32_t kRefused = -1;

// One drawing call as an interface received it.
struct DrawCall {
    const char* operation = "";  // "BlendRect", "CopyRect", ...
    ISurface* dest = nullptr;    // FilterRect: its surface
    ISurface* src = nullptr;     // FilterRect: none
    std::int32_t dx = 0, dy = 0, sx = 0, sy = 0, width = 0, height = 0;
    bool hasRate = false;
    std::int32_t rate = 0;
    std::int32_t result = kDone;
};

struct GraphHooks {
    // The kit surface behind an interface pointer, or null to refuse the
    // call. Unset: every non-null pointer is taken to be a kit surface.
    Surface* (*resolve)(ISurface* surface, void* context) = nullptr;
    // Shown every call after it ran (it must not throw). Unset: nobody.
    void (*observe)(const DrawCall& call, void* context) = nullptr;
    void* context = nullptr;
};

class GraphBlend : public IGraphBlend {
public:
    explicit GraphBlend(GraphHooks hooks = {}) : hooks_(hooks) {}

    // 14, 20: see pixel_ops.h.
    std::int32_t VELORA_METHOD BlendRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                         std::int32_t sx, std::int32_t sy, std::int32_t width,
                                         std::int32_t height, std::int32_t rate) override;
    std::int32_t VELORA_METHOD BlendRectAlt(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                            std::int32_t sx, std::int32_t sy, std::int32_t width,
                                            std::int32_t height, std::int32_t rate) override;

private:
    GraphHooks hooks_;
};

class GraphFilter : public IGraphFilter {
public:
    explicit GraphFilter(GraphHooks hooks = {}) : hooks_(hooks) {}

    // 4, 11, 22, 37: see pixel_ops.h.
    std::int32_t VELORA_METHOD CopyRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                        std::int32_t sx, std::int32_t sy, std::int32_t width,
                                        std::int32_t height) override;
    std::int32_t VELORA_METHOD DrawRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                        std::int32_t sx, std::int32_t sy, std::int32_t width,
                                        std::int32_t height) override;
    std::int32_t VELORA_METHOD FilterRect(ISurface* surface, std::int32_t x, std::int32_t y, std::int32_t width,
                                          std::int32_t height, std::int32_t rate) override;
    std::int32_t VELORA_METHOD MixRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                       std::int32_t sx, std::int32_t sy, std::int32_t width,
                                       std::int32_t height, std::int32_t rate) override;

private:
    GraphHooks hooks_;
};

// Makes transparent scratch surfaces that Destroy ends. Null for a format
// other than the kit's (unless any format is accepted), for a side of 0 or
// less or above maxSide, and when memory runs out.
class SurfaceFactory : public ISurfaceFactory {
public:
    struct Options {
        std::int32_t maxSide = Surface::kMaxSide;
        bool anyFormat = false;
        // Told of every surface made (may be null); its Destroy then calls ended.
        void (*made)(Surface& surface, void* context) = nullptr;
        void (*ended)(void* context) = nullptr;
        void* context = nullptr;
    };
    SurfaceFactory() = default;
    explicit SurfaceFactory(Options options) : options_(options) {}

    ISurface* VELORA_METHOD CreateSurface(std::int32_t width, std::int32_t height, std::int32_t format) override;

    // Surfaces made and not yet destroyed.
    std::int32_t Live() const { return live_; }

private:
    static void Ended(void* factory);
    Options options_;
    std::int32_t live_ = 0;
};

// Numbered sprites (numbers need not be consecutive), kept premultiplied.
class SpriteBank : public ISpriteBank {
public:
    // 0: the sprite, or null for a number the bank does not hold.
    ISurface* VELORA_METHOD GetSprite(std::int32_t number) override;

    // Puts a sprite (already premultiplied) under number, replacing what was there.
    void Put(std::int32_t number, std::unique_ptr<Surface> sprite);
    // Removes every sprite numbered first or above.
    void RemoveFrom(std::int32_t first);
    std::size_t Size() const { return sprites_.size(); }
    Surface* Find(std::int32_t number) const;

private:
    std::map<std::int32_t, std::unique_ptr<Surface>> sprites_;
};

}  // namespace velora::kit
