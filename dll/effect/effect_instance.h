// One effect under a script-chosen handle: its settings and its particles.
//
// Every value a script passes is stored as it came; nothing here validates.
#pragma once

#include <cstdint>
#include <vector>

#include "effect/particle.h"

namespace velora {

struct EffectInstance {
    std::int32_t type = 0;            // drawing mode; 0..3 draw, others only move
    std::int32_t baseSprite = 0;      // first sprite number of the animation run
    std::int32_t spriteCount = 0;     // sprites in the run
    std::int32_t rotationFrames = 0;  // rotation groups the run is divided into
    std::int32_t numof = 40;          // particles the next Start spawns
    std::int32_t maxAmp = 40;         // sway amplitude
    std::int32_t width = 0;           // field width in pixels
    std::int32_t height = 0;          // field height in pixels
    float xSpeed = 1.0f;              // horizontal speed factor
    float ySpeed = 1.0f;              // vertical (falling) speed factor
    bool started = false;             // set by Start; Draw ignores the instance until then
    std::vector<Particle> particles;  // the live particles, in creation order
    std::uint32_t lastTime = 0;       // clock at the latest spawn or motion step
};

}  // namespace velora
