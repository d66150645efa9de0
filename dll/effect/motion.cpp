// The motion step: time since the last step, then fall, sway, spin and
// animation for every particle, and the wrap back in at the opposite edge.
// All in double, each value rounded to float where the particle stores it.
#include "effect/motion.h"

#include <cmath>

#include "effect/machine_arithmetic.h"
#include "platform/platform.h"

namespace velora {

void StepParticles(EffectInstance& instance, std::int32_t spriteSize)
{
    // Elapsed milliseconds in unsigned 32-bit arithmetic: a clock that wrapped
    // past 2^32 - 1 since the last step still gives the true difference.
    const std::uint32_t now = platform::MultimediaTime();
    const std::uint32_t elapsed = now - instance.lastTime;
    const float t = static_cast<float>(elapsed / 10000.0);  // units of ten seconds

    const std::int32_t half = spriteSize / 2;
    const double H = static_cast<float>(half);
    const double width = instance.width;
    const double height = instance.height;
    const double maxAmp = instance.maxAmp;
    const double xSpeed = instance.xSpeed;
    const double ySpeed = instance.ySpeed;
    // The wrap distances are 32-bit sums, converted after the addition.
    const double horizontalWrap = WrappingAdd(instance.width, half);
    const double verticalWrap = WrappingAdd(instance.height, spriteSize);

    for (Particle& p : instance.particles) {
        // The cosine of the angle before this step's spin.
        const double c = static_cast<float>(std::cos(static_cast<double>(p.angle)));
        // Drift is added to x first, then the sway, which does not scale with t:
        // each step sways by c * maxAmp / 100 pixels however long it was.
        float X = static_cast<float>((c * maxAmp * 0.01) + ((t * 100.0 * xSpeed) + p.x));
        float Y = static_cast<float>((((height * t) * p.fallRate) * ySpeed) + p.y);

        p.angle = static_cast<float>((kPi * t * 10.0) + p.angle);
        p.phase = static_cast<float>((static_cast<double>(p.phaseRate) * t * 10.0) + p.phase);
        if (p.phase >= 1.0f) {
            p.phase = static_cast<float>(p.phase - 1.0);  // once per step at most
        }

        // Edges compare strictly, on the unrounded double sums; the left test
        // sees the result of the right one. The top edge never wraps.
        if (X - H > width) {
            X = static_cast<float>(X - horizontalWrap);
        }
        if (X + H < 0.0) {
            X = static_cast<float>(X + horizontalWrap);
        }
        if (Y - H > height) {
            Y = static_cast<float>(Y - verticalWrap);
        }
        p.x = X;
        p.y = Y;
    }

    instance.lastTime = platform::MultimediaTime();
}

}  // namespace velora
