// Start's work: a fresh set of particles scattered over the field.
#pragma once

#include "effect/effect_instance.h"

namespace velora {

// Replaces the instance's particles with numof new ones (none when numof is 0
// or less), drawing seven randoms per particle in field order, then marks the
// instance started and stamps lastTime from the clock.
//
// When storage for numof particles cannot be had it throws before touching
// the random source: the list is then empty and started and lastTime keep
// their previous values.
void SpawnParticles(EffectInstance& instance);

}  // namespace velora
