// Per-particle arithmetic of a frame: bringing the spin angle back within one
// turn, choosing the animation sprite, and placing and clipping it in the
// field. Pure computation apart from NormalizeAngle's write-back; no host calls.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

#include "effect/effect_instance.h"
#include "effect/machine_arithmetic.h"

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

// NormalizeAngle for an angle outside [0, 2pi] (and NaN).
void BringAngleIntoRange(Particle& particle);

// Brings angle into [0, 2pi] by whole turns, one turn per pass with the
// result stored as a float after every pass, and stores it in the particle.
// Infinities and NaN are left as they are. An angle already in range, as
// nearly every one is at every frame, is left as it is without a call.
inline void NormalizeAngle(Particle& particle)
{
    if (particle.angle >= 0.0f && static_cast<double>(particle.angle) <= kTwoPi) {
        return;
    }
    BringAngleIntoRange(particle);
}

// The part of frame selection that depends on the instance only: worked out
// once per frame rather than once per particle. Wide integers: neither
// 2R - 2, nor spriteCount / R, nor a group's start can overflow.
struct FrameRun {
    explicit FrameRun(const EffectInstance& instance)
        : spriteCount(instance.spriteCount), groups(instance.rotationFrames),
          groupSize(groups != 0 ? spriteCount / groups : 0), span(2 * groups - 2)
    {
    }
    std::int64_t spriteCount;  // the run's length
    std::int64_t groups;       // R, the rotation groups
    std::int64_t groupSize;    // G = spriteCount / R
    std::int64_t span;         // 2R - 2: one back-and-forth walk over the groups
};

// SelectFrame and PlaceSprite run for every particle of every frame; they are
// defined here so that the frame renderer's loop can take them in line.
namespace detail {

// Truncation toward zero of a value that may lie outside the int32 range:
// saturates there, and gives 0 for NaN.
inline std::int32_t SaturatingTruncate(double value)
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
inline std::optional<std::int64_t> TruncateInRange(double value)
{
    if (!(value > -2147483649.0 && value < 2147483648.0)) {
        return std::nullopt;  // NaN fails both comparisons
    }
    return static_cast<std::int64_t>(value);
}

}  // namespace detail

// The index into the instance's sprite run, from 0 to spriteCount - 1: a
// rotation group from the angle (walked back and forth), a sprite in the
// group from the phase, in the direction of forward. For instances with at
// least one sprite and one rotation group.
inline std::int32_t SelectFrame(const FrameRun& run, const Particle& particle)
{
    const std::int64_t R = run.groups;
    const std::int64_t G = run.groupSize;
    const std::int64_t span = run.span;

    const float ratio = static_cast<float>(particle.angle / kTwoPi);
    std::int64_t k = detail::SaturatingTruncate(ratio * static_cast<double>(span));
    if (k >= R) {
        k = span - k;  // the walk back: 0, 1, ..., R - 1, R - 2, ..., 1
    }
    const double groupStart = static_cast<double>(G) * static_cast<double>(k);

    const double phaseOfGroup = static_cast<double>(particle.phase) * static_cast<double>(G);
    const double offset = particle.forward ? phaseOfGroup : static_cast<double>(G) - phaseOfGroup;
    std::int64_t f = detail::SaturatingTruncate(groupStart + offset);
    if (f < 0) {
        f = 0;
    }
    if (f >= run.spriteCount) {
        f = run.spriteCount - 1;
    }
    return static_cast<std::int32_t>(f);
}

inline std::int32_t SelectFrame(const EffectInstance& instance, const Particle& particle)
{
    return SelectFrame(FrameRun(instance), particle);
}

// The sprite's drawing area: centred on the particle by half the base
// sprite's width spriteSize, clipped against the field with the sprite's own
// size.
inline SpritePlacement PlaceSprite(const EffectInstance& instance, const Particle& particle, std::int32_t spriteSize,
                                   std::int32_t w, std::int32_t h)
{
    SpritePlacement placement;
    const double half = static_cast<float>(spriteSize / 2);
    const auto left = detail::TruncateInRange(particle.x - half);
    const auto top = detail::TruncateInRange(particle.y - half);
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
