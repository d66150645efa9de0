// The frame renderer. Order of host calls for one Draw:
//   GetSprite(base), GetWidth -> S
//   per particle: GetSprite(base + f), GetWidth, GetHeight, then by mode
//     0: BlendRect                      1: BlendRectAlt
//     2: CopyRect, FilterRect, DrawRect 3: CopyRect, whitening, MixRect
//     (modes 2 and 3 first make one scratch surface per call: GetFormat,
//     CreateSurface)
//   the motion step, then the scratch surface's Destroy.
// A host service that is missing skips only the drawing that needs it.
#include "render/frame_renderer.h"

#include <algorithm>

#include "effect/instance_registry.h"
#include "effect/motion.h"
#include "effect/numbers.h"
#include "render/frame_selection.h"

namespace velora {
namespace {

// The S x S scratch surface that modes 2 and 3 share within one call.
class ScratchSurface {
public:
    ScratchSurface(const CDrawVelora& plugin, ISurface* destination, std::int32_t S)
        : plugin_(plugin), destination_(destination), S_(S)
    {
    }

    // The scratch surface, made at the first use; null when it cannot be had.
    ISurface* Get()
    {
        if (!surface_ && !failed_) {
            if (plugin_.surfaceFactory) {
                const std::int32_t format = destination_->GetFormat();
                surface_ = plugin_.surfaceFactory->CreateSurface(S_, S_, format);
            }
            failed_ = !surface_;
        }
        return surface_;
    }

    // Ends the surface, if this call made one.
    void Destroy()
    {
        if (surface_) {
            surface_->Destroy();
        }
    }

private:
    const CDrawVelora& plugin_;
    ISurface* destination_;
    std::int32_t S_;
    ISurface* surface_ = nullptr;
    bool failed_ = false;
};

// Mode 3: the copy's pixels where the sprite is transparent become white.
// Bounded by the sprite's own size where it is smaller than S, so no alpha is
// read outside it.
void WhitenTransparentPixels(ISurface* sprite, std::int32_t spriteWidth, std::int32_t spriteHeight,
                             ISurface* scratch, std::int32_t S)
{
    const std::int32_t columns = std::min(S, spriteWidth);
    const std::int32_t rows = std::min(S, spriteHeight);
    for (std::int32_t x = 0; x < columns; ++x) {
        for (std::int32_t y = 0; y < rows; ++y) {
            const std::uint8_t* alpha = sprite->GetAlphaAddress(x, y);
            if (!alpha || *alpha != 0) {
                continue;
            }
            for (int byte = 0; byte < 3; ++byte) {
                if (std::uint8_t* colour = scratch->GetPixelAddress(x, y)) {
                    colour[byte] = 255;
                }
            }
        }
    }
}

}  // namespace

void DrawFrame(const CDrawVelora& plugin, std::int32_t handle, ISurface* destination, std::int32_t rate)
{
    EffectInstance* instance = Instances().Find(handle);
    if (!instance || !instance->started) {
        return;
    }
    // Without a sprite bank there is no sprite size, so no frame at all.
    ISpriteBank* bank = plugin.spriteBank;
    if (!bank) {
        return;
    }
    ISurface* baseSprite = bank->GetSprite(instance->baseSprite);
    if (!baseSprite) {
        return;
    }
    const std::int32_t S = baseSprite->GetWidth();

    // An instance without sprites or rotation groups has no frame to choose:
    // it is not drawn, but time still flows for it.
    const bool hasFrames = instance->spriteCount > 0 && instance->rotationFrames > 0;
    ScratchSurface scratch(plugin, destination, S);

    for (Particle& particle : instance->particles) {
        NormalizeAngle(particle);
        if (!hasFrames) {
            continue;
        }
        const std::int32_t f = SelectFrame(*instance, particle);
        ISurface* sprite = bank->GetSprite(WrappingAdd(instance->baseSprite, f));
        if (!sprite) {
            continue;
        }
        const std::int32_t w = sprite->GetWidth();
        const std::int32_t h = sprite->GetHeight();
        const SpritePlacement at = PlaceSprite(*instance, particle, S, w, h);
        if (!at.visible || !destination) {
            continue;
        }

        switch (instance->type) {
        case 0:
            if (plugin.graphBlend) {
                plugin.graphBlend->BlendRect(destination, at.dstX, at.dstY, sprite, at.srcX, at.srcY,
                                             at.drawWidth, at.drawHeight, rate);
            }
            break;
        case 1:
            if (plugin.graphBlend) {
                plugin.graphBlend->BlendRectAlt(destination, at.dstX, at.dstY, sprite, at.srcX, at.srcY,
                                                at.drawWidth, at.drawHeight, rate);
            }
            break;
        case 2:
            if (IGraphFilter* filter = plugin.graphFilter) {
                if (ISurface* copy = scratch.Get()) {
                    filter->CopyRect(copy, 0, 0, sprite, 0, 0, S, S);
                    filter->FilterRect(copy, 0, 0, S, S, rate);
                    filter->DrawRect(destination, at.dstX, at.dstY, copy, at.srcX, at.srcY, at.drawWidth,
                                     at.drawHeight);
                }
            }
            break;
        case 3:
            if (IGraphFilter* filter = plugin.graphFilter) {
                if (ISurface* copy = scratch.Get()) {
                    filter->CopyRect(copy, 0, 0, sprite, 0, 0, S, S);
                    WhitenTransparentPixels(sprite, w, h, copy, S);
                    filter->MixRect(destination, at.dstX, at.dstY, copy, at.srcX, at.srcY, at.drawWidth,
                                    at.drawHeight, rate);
                }
            }
            break;
        default:
            break;  // other modes draw nothing; the particles still move
        }
    }

    StepParticles(*instance, S);
    scratch.Destroy();
}

}  // namespace velora
