// The frame renderer. Order of host calls for one Draw:
//   GetSprite(base), GetWidth -> spriteSize
//   per particle: GetSprite(base + f), GetWidth, GetHeight, then by mode
//     0: BlendRect                      1: BlendRectAlt
//     2: CopyRect, FilterRect, DrawRect 3: CopyRect, whitening, MixRect
//     (modes 2 and 3 first make one scratch surface per call: GetFormat,
//     CreateSurface)
// The plug-in object then runs the motion step with the sprite size returned
// here and ends the scratch surface (its Destroy) after the step.
// A host service that is missing skips only the drawing that needs it.
// Modes 2 and 3 copy no more than the particle's sprite holds and draw no
// more than the copy holds (see ClipToCopy); for a run of sprites all
// spriteSize x spriteSize that is the whole sprite.
#include "render/frame_renderer.h"

#include <algorithm>

#include "effect/machine_arithmetic.h"
#include "render/frame_selection.h"

namespace velora {

ISurface* ScratchSurface::Get(std::int32_t spriteSize)
{
    if (!surface_ && !failed_) {
        if (factory_) {
            const std::int32_t format = destination_->GetFormat();
            surface_ = factory_->CreateSurface(spriteSize, spriteSize, format);
        }
        failed_ = !surface_;
    }
    return surface_;
}

void ScratchSurface::Destroy()
{
    if (surface_) {
        surface_->Destroy();
    }
}

namespace {

// Modes 2 and 3 draw through the scratch surface, which receives the
// top-left part of the particle's sprite: at most spriteSize x spriteSize
// pixels, and no more than the sprite has. The drawn rectangle is cut to that
// copy, so the host is asked neither to read past a sprite smaller than the
// base sprite nor past the scratch surface for a larger one. False when
// nothing of the copy is visible (also when spriteSize is 0 or less: there is
// no scratch area at all).
bool ClipToCopy(SpritePlacement& at, std::int32_t copyWidth, std::int32_t copyHeight)
{
    const std::int64_t width = std::min<std::int64_t>(at.drawWidth, std::int64_t{copyWidth} - at.srcX);
    const std::int64_t height = std::min<std::int64_t>(at.drawHeight, std::int64_t{copyHeight} - at.srcY);
    if (width <= 0 || height <= 0) {
        return false;
    }
    at.drawWidth = static_cast<std::int32_t>(width);
    at.drawHeight = static_cast<std::int32_t>(height);
    return true;
}

// Mode 3: the copy's pixels where the sprite is transparent become white.
// It visits the copied columns x rows (spriteSize x spriteSize, or less
// where the sprite is smaller), so no alpha is read outside the sprite. A null
// address is the host's answer for a pixel it does not have: the whitening of
// this copy ends there, rather than asking for each of the remaining pixels of
// a surface the host cannot show.
void WhitenTransparentPixels(ISurface* sprite, std::int32_t columns, std::int32_t rows, ISurface* scratch)
{
    for (std::int32_t x = 0; x < columns; ++x) {
        for (std::int32_t y = 0; y < rows; ++y) {
            const std::uint8_t* alpha = sprite->GetAlphaAddress(x, y);
            if (!alpha) {
                return;
            }
            if (*alpha != 0) {
                continue;
            }
            for (int byte = 0; byte < 3; ++byte) {
                std::uint8_t* colour = scratch->GetPixelAddress(x, y);
                if (!colour) {
                    return;
                }
                colour[byte] = 255;
            }
        }
    }
}

}  // namespace

std::optional<std::int32_t> DrawFrame(const HostServices& host, EffectInstance& instance, ISurface* destination,
                                      std::int32_t rate, ScratchSurface& scratch)
{
    // Without a sprite bank there is no sprite size, so no frame at all.
    ISpriteBank* bank = host.spriteBank;
    if (!bank) {
        return std::nullopt;
    }
    ISurface* baseSprite = bank->GetSprite(instance.baseSprite);
    if (!baseSprite) {
        return std::nullopt;
    }
    const std::int32_t spriteSize = baseSprite->GetWidth();

    // An instance without sprites or rotation groups has no frame to choose:
    // it is not drawn, but time still flows for it.
    const bool hasFrames = instance.spriteCount > 0 && instance.rotationFrames > 0;
    const FrameRun run(instance);

    for (Particle& particle : instance.particles) {
        NormalizeAngle(particle);
        if (!hasFrames) {
            continue;
        }
        const std::int32_t f = SelectFrame(run, particle);
        ISurface* sprite = bank->GetSprite(WrappingAdd(instance.baseSprite, f));
        if (!sprite) {
            continue;
        }
        const std::int32_t w = sprite->GetWidth();
        const std::int32_t h = sprite->GetHeight();
        SpritePlacement at = PlaceSprite(instance, particle, spriteSize, w, h);
        if (!at.visible || !destination) {
            continue;
        }
        const std::int32_t copyWidth = std::min(spriteSize, w);
        const std::int32_t copyHeight = std::min(spriteSize, h);
        if ((instance.type == 2 || instance.type == 3) && !ClipToCopy(at, copyWidth, copyHeight)) {
            continue;
        }

        switch (instance.type) {
        case 0:
            if (host.graphBlend) {
                host.graphBlend->BlendRect(destination, at.dstX, at.dstY, sprite, at.srcX, at.srcY,
                                             at.drawWidth, at.drawHeight, rate);
            }
            break;
        case 1:
            if (host.graphBlend) {
                host.graphBlend->BlendRectAlt(destination, at.dstX, at.dstY, sprite, at.srcX, at.srcY,
                                                at.drawWidth, at.drawHeight, rate);
            }
            break;
        case 2:
            if (IGraphFilter* filter = host.graphFilter) {
                if (ISurface* copy = scratch.Get(spriteSize)) {
                    filter->CopyRect(copy, 0, 0, sprite, 0, 0, copyWidth, copyHeight);
                    filter->FilterRect(copy, 0, 0, spriteSize, spriteSize, rate);
                    filter->DrawRect(destination, at.dstX, at.dstY, copy, at.srcX, at.srcY, at.drawWidth,
                                     at.drawHeight);
                }
            }
            break;
        case 3:
            if (IGraphFilter* filter = host.graphFilter) {
                if (ISurface* copy = scratch.Get(spriteSize)) {
                    filter->CopyRect(copy, 0, 0, sprite, 0, 0, copyWidth, copyHeight);
                    WhitenTransparentPixels(sprite, copyWidth, copyHeight, copy);
                    filter->MixRect(destination, at.dstX, at.dstY, copy, at.srcX, at.srcY, at.drawWidth,
                                    at.drawHeight, rate);
                }
            }
            break;
        default:
            break;  // other modes draw nothing; the particles still move
        }
    }

    return spriteSize;
}

}  // namespace velora
