// Per-particle arithmetic of a frame: bringing the spin angle back within one
// turn, choosing the animation sprite, and placing and clipping it in the
// field. Pure computation apart from NormalizeAngle's write-back; no host calls.
#pragma once

#include <cstdint>

#include "effect/effect_instance.h"

namespace velora {

// Where one particle's sprite is drawn, clipped against the instance's field.
struct SpritePlacement {
    std::int32_t dstX = 0;        // top-left corner on the destination
    std::int32_t dstY = 0;
    std::int32_t srcX = 0;        // offset into the sprite (left/top clipping)
    std::int32_t srcY = 0;
    std::int32_t drawWidth = 0;   // size of the drawn area
    std::int32_t drawHeight = 0;
    bool visible = false;         // false: nothing of the particle is drawn
};

// Brings angle into [0, 2pi] by whole turns, one turn per pass with the
// result stored as a float after every pass, and stores it in the particle.
// Infinities and NaN are left as they are.
void NormalizeAngle(Particle& particle);

// The index into the instance's sprite run, from 0 to spriteCount - 1: a
// rotation group from the angle (walked back and forth), a sprite in the
// group from the phase, in the direction of forward. For instances with at
// least one sprite and one rotation group.
std::int32_t SelectFrame(const EffectInstance& instance, const Particle& particle);

// The sprite's drawing area: centred on the particle by half the base
// sprite's width S, clipped against the field with the sprite's own size.
SpritePlacement PlaceSprite(const EffectInstance& instance, const Particle& particle, std::int32_t S,
                            std::int32_t w, std::int32_t h);

}  // namespace velora
