// The motion step: every particle of a started instance moves on by the
// wall-clock time since the previous step (or since Start).
#pragma once

#include <cstdint>

#include "effect/effect_instance.h"

namespace velora {

// Advances every particle: drift, sway, fall, spin and animation phase, then
// wraps particles that left the field at the left, right or bottom edge to
// the opposite one. spriteSize is the width of the instance's base sprite.
// Reads the clock twice: at the start to measure, at the end to stamp
// lastTime.
void StepParticles(EffectInstance& instance, std::int32_t spriteSize);

}  // namespace velora
