// The per-particle arithmetic that needs more than a line: bringing a long
// paused spin angle back within one turn in bounded time, bit for bit as the
// one-turn-at-a-time loop would.
#include "render/frame_selection.h"

#include <cmath>

#include "effect/machine_arithmetic.h"

namespace velora {
namespace {

// Repeats value = float(value - 2pi) while value > limit (limit is 0 or
// 2pi). Each pass rounds to float, so the result is not a remainder. Inside
// one binade of floats every pass takes off the same exact amount, so runs
// of passes that stay inside the binade are taken in one jump: the result is
// bit for bit that of the passes, without their cost after a long pause.
float SubtractTurns(float value, double limit)
{
    while (value > limit) {
        const float next = static_cast<float>(value - kTwoPi);
        const double step = static_cast<double>(value) - next;
        if (step == 0.0) {
            // Too large for a turn to change it: no pass makes progress here.
            value = static_cast<float>(std::fmod(static_cast<double>(value), kTwoPi));
            continue;
        }
        int exponent = 0;
        std::frexp(static_cast<double>(value), &exponent);
        const double binadeFloor = std::ldexp(1.0, exponent - 1);
        const double passesInside = std::floor((value - binadeFloor) / step);
        if (binadeFloor > kTwoPi && passesInside >= 2.0) {
            value = static_cast<float>(value - (passesInside - 1.0) * step);  // exact
        }
        value = static_cast<float>(value - kTwoPi);
    }
    return value;
}

}  // namespace

void BringAngleIntoRange(Particle& particle)
{
    float angle = particle.angle;
    if (std::isinf(angle)) {
        return;
    }
    angle = SubtractTurns(angle, kTwoPi);
    if (angle < 0.0f) {
        // Adding turns to a negative value mirrors taking them off its
        // magnitude: rounding to nearest is symmetric. The upper bound is not
        // tested again on the way up.
        angle = -SubtractTurns(-angle, 0.0);
    }
    particle.angle = angle;
}

}  // namespace velora
