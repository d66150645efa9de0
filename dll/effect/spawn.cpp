// Start's scattering: seven draws per particle, in a fixed order, each
// rounded to float once where it is stored.
#include "effect/spawn.h"

#include <cstddef>

#include "effect/machine_arithmetic.h"
#include "effect/random.h"
#include "platform/platform.h"

namespace velora {
namespace {

// One draw as a unit random in [0, 1): r / 32768, never reaching 1.
double UnitRandom() { return DrawRandom() / 32768.0; }

Particle RandomParticle(std::int32_t width, std::int32_t height)
{
    // The seven draws happen in this order; each value is computed in double
    // and rounded to float once, where it is stored.
    const double u1 = UnitRandom();
    const double u2 = UnitRandom();
    const double u3 = UnitRandom();
    const double u4 = UnitRandom();
    const double u5 = UnitRandom();
    const double u6 = UnitRandom();
    const double u7 = UnitRandom();
    Particle p{};
    p.x = static_cast<float>(u1 * width);
    p.y = static_cast<float>(u2 * height);
    p.angle = static_cast<float>(2.0 * u3 * (kPi / 2.0));  // half a turn, [0, pi)
    p.phaseRate = static_cast<float>(1.5 * u4 + 0.5);
    p.phase = static_cast<float>(u5);
    p.fallRate = static_cast<float>(2.0 * u6 + 0.9);
    p.forward = u7 > 0.5;
    return p;
}

}  // namespace

void SpawnParticles(EffectInstance& instance)
{
    instance.particles.clear();  // keeps the storage for the next set
    if (instance.numof > 0) {
        const auto count = static_cast<std::size_t>(instance.numof);
        // Ask for all the storage first, so that a count the process cannot
        // hold fails here, before any random draw or partial fill.
        instance.particles.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            instance.particles.push_back(RandomParticle(instance.width, instance.height));
        }
    }
    instance.started = true;
    instance.lastTime = platform::MultimediaTime();
}

}  // namespace velora
