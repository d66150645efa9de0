#include "render/frame_selection.h"

#include <cmath>
#include <optional>

#include "effect/numbers.h"

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

// Truncation toward zero of a value that may lie outside the int32 range:
// saturates there, and gives 0 for NaN.
std::int32_t SaturatingTruncate(double value)
{
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= 2147483647.0) {
        return INT32_MAX;
    }
    if (value <= -2147483648.0) {
        return INT32_MIN;
    }
    return static_cast<std::int32_t>(value);
}

// Truncation toward zero, or nothing when the result would not be an int32.
std::optional<std::int64_t> TruncateInRange(double value)
{
    if (!(value > -2147483649.0 && value < 2147483648.0)) {
        return std::nullopt;  // NaN fails both comparisons
    }
    return static_cast<std::int64_t>(value);
}

}  // namespace

void NormalizeAngle(Particle& particle)
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

std::int32_t SelectFrame(const EffectInstance& instance, const Particle& particle)
{
    // Wide integers: neither 2R - 2, nor spriteCount / R, nor the group's
    // start can overflow.
    const std::int64_t R = instance.rotationFrames;
    const std::int64_t spriteCount = instance.spriteCount;
    const std::int64_t G = R != 0 ? spriteCount / R : 0;

    const float ratio = static_cast<float>(particle.angle / kTwoPi);
    const std::int64_t span = 2 * R - 2;
    std::int64_t k = SaturatingTruncate(ratio * static_cast<double>(span));
    if (k >= R) {
        k = span - k;  // the walk back: 0, 1, ..., R - 1, R - 2, ..., 1
    }
    const double groupStart = static_cast<double>(G) * static_cast<double>(k);

    const double phaseOfGroup = static_cast<double>(particle.phase) * static_cast<double>(G);
    const double offset = particle.forward ? phaseOfGroup : static_cast<double>(G) - phaseOfGroup;
    std::int64_t f = SaturatingTruncate(groupStart + offset);
    if (f < 0) {
        f = 0;
    }
    if (f >= spriteCount) {
        f = spriteCount - 1;
    }
    return static_cast<std::int32_t>(f);
}

SpritePlacement PlaceSprite(const EffectInstance& instance, const Particle& particle, std::int32_t S,
                            std::int32_t w, std::int32_t h)
{
    SpritePlacement placement;
    const double half = static_cast<float>(S / 2);
    const auto left = TruncateInRange(particle.x - half);
    const auto top = TruncateInRange(particle.y - half);
    if (!left || !top) {
        return placement;  // a corner beyond any int32 position is never drawn
    }

    std::int64_t dstX = *left;
    std::int64_t dstY = *top;
    std::int64_t srcX = 0;
    std::int64_t srcY = 0;
    if (dstX < 0) {
        srcX = -dstX;
        dstX = 0;
    }
    if (dstY < 0) {
        srcY = -dstY;
        dstY = 0;
    }
    std::int64_t width = w;
    std::int64_t height = h;
    if (dstX + width > instance.width) {
        width = instance.width - dstX;
    }
    if (dstY + height > instance.height) {
        height = instance.height - dstY;
    }
    const std::int64_t drawWidth = width - srcX;
    const std::int64_t drawHeight = height - srcY;
    // A particle cut off entirely at the left or top would otherwise hand the
    // host a rectangle of negative size.
    if (width <= 0 || height <= 0 || drawWidth <= 0 || drawHeight <= 0) {
        return placement;
    }
    placement.dstX = static_cast<std::int32_t>(dstX);
    placement.dstY = static_cast<std::int32_t>(dstY);
    placement.srcX = static_cast<std::int32_t>(srcX);
    placement.srcY = static_cast<std::int32_t>(srcY);
    placement.drawWidth = static_cast<std::int32_t>(drawWidth);
    placement.drawHeight = static_cast<std::int32_t>(drawHeight);
    placement.visible = true;
    return placement;
}

}  // namespace velora
