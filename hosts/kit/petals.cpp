// Every sprite is rendered by sampling its shape (kit/shape_sprite.h): 4 x 4
// samples a pixel, the share inside giving the alpha, their average shade
// the colour.
#include "kit/petals.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace velora::kit {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kSamples = 4;  // per side of a pixel, for smooth edges

using Colour = ShapeSample::Colour;

Colour Mix(const Colour& a, const Colour& b, double t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// Heart curve, a little rounded: inside when (X^2 + Y^2 - 1)^3 - 0.75 X^2 Y^3
// <= 0. Its point is at (0, -1) and its notch at (0, 1).
bool InsideHeart(double across, double along)
{
    const double r = across * across + along * along - 1.0;
    return r * r * r - 0.75 * across * across * along * along * along <= 0.0;
}

bool InsideSlender(double across, double along)
{
    if (along <= -1.0 || along >= 1.0) {
        return false;
    }
    const double halfWidth = 0.72 * std::pow(1.0 - along * along, 0.35) * (0.45 + 0.275 * (1.0 + along));
    if (std::fabs(across) > halfWidth) {
        return false;
    }
    return along <= 0.74 + 0.9 * std::fabs(across);  // the notch
}

bool Inside(PetalOutline outline, double across, double along)
{
    return outline == PetalOutline::Heart ? InsideHeart(across, along) : InsideSlender(across, along);
}

// The pose of one sprite.
struct Pose {
    double alongX, alongY;  // unit vector from the base to the tip, in the picture
    double width;           // apparent width, 1 face-on, small edge-on
    double curl;            // sideways bend of the tip
    double light;           // brightness of the face
};

Pose PoseOf(const PetalLook& look, std::int32_t group, std::int32_t groups, std::int32_t frame, std::int32_t frames)
{
    const double tilt = groups > 1 ? group * (look.maxTilt / (groups - 1)) * kPi / 180.0 : 0.0;
    const double cycle = 2.0 * kPi * frame / frames;
    const double turn = (look.turnStart + look.turnPerGroup * group + look.rock * std::sin(cycle)) * kPi / 180.0 +
                        look.turnsPerCycle * cycle;
    const double c = std::cos(turn);
    const double s = std::sin(turn);
    Pose pose;
    pose.alongX = look.restsUp ? s : c;
    pose.alongY = look.restsUp ? -c : s;
    pose.width = std::max(look.minWidth, std::cos(tilt) * (1.0 - look.flutter * (1.0 - std::cos(cycle))));
    pose.curl = look.curlRock * std::sin(cycle) + look.curlTilt * std::sin(tilt);
    pose.light = look.lightBase + look.lightCos * std::cos(tilt) + look.lightSin * std::sin(tilt);
    return pose;
}

}  // namespace

void DrawPetal(Surface& sprite, const PetalLook& look, std::int32_t group, std::int32_t groups, std::int32_t frame,
               std::int32_t frames)
{
    const Pose pose = PoseOf(look, group, groups, frame, frames);
    const double unit = sprite.Width() * look.reach / look.extent;
    DrawSampled(sprite, kSamples, look.opacity, [&](double dx, double dy) -> ShapeSample {
        // Into the petal's frame: along its length, across it.
        const double along = (dx * pose.alongX + dy * pose.alongY) / unit + look.shift;
        const double bend = pose.curl * (along + 1.0) * (along + 1.0) / 5.0;
        const double across =
            ((dx * -pose.alongY + dy * pose.alongX) / unit - bend) / (look.breadth * pose.width);
        if (!Inside(look.outline, across, along)) {
            return {};
        }
        const double t = std::clamp((along + 1.0) / look.length, 0.0, 1.0);
        const Colour colour = Mix(look.base, look.tip, std::pow(t, look.gradient));
        const double vein = along < look.veinEnd ? std::exp(-across * across * look.veinSharpness) *
                                                       (look.veinFades ? 1.0 - t : 1.0) * look.veinDepth
                                                 : 0.0;
        const double light = pose.light * (1.0 - vein);
        return {1.0, {colour.r * light, colour.g * light, colour.b * light}};
    });
}

void DrawSnowflake(Surface& sprite, double spin, const Colour& colour)
{
    const double radius = 0.42 * sprite.Width();
    DrawSampled(sprite, kSamples, 1.0, [&](double x, double y) -> ShapeSample {
        const double r = std::hypot(x, y) / radius;
        if (r >= 1.0) {
            return {};
        }
        double coverage = std::clamp(1.15 - 1.6 * r, 0.0, 1.0);
        const double angle = std::atan2(y, x) - spin;
        const double arm = std::fabs(std::sin(3.0 * angle)) * r * radius;  // distance to the nearest arm
        if (arm < 0.55) {
            coverage = std::max(coverage, 0.75 * (1.0 - r));
        }
        return {coverage, colour};
    });
}

}  // namespace velora::kit
