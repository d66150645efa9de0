// Each sprite is rendered by sampling an outline: a heart curve, stretched
// and turned so that its point is the petal's base and its notch the tip.
// Every pixel takes 4 x 4 samples; the share inside gives its alpha (smooth
// edges), their average shade its colour. Pixels outside stay transparent
// black.
#include "reference/petals.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "kit/sampled.h"

namespace velora::host {
namespace {

constexpr double kPi = std::numbers::pi;

struct Colour {
    double r, g, b;
};

Colour Mix(const Colour& a, const Colour& b, double t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// The pose of one sprite.
struct Pose {
    double turn;   // in-plane rotation, radians
    double width;  // apparent width, 1 face-on, small edge-on
    double curl;   // sideways bend of the tip, in heart units
    double light;  // brightness of the face
};

// Heart curve, a little rounded: inside when (X^2 + Y^2 - 1)^3 - 0.75 X^2 Y^3 <= 0. Its point is at
// (0, -1) and its notch at (0, 1); Y runs from -1 to about 1.24.
bool InsideHeart(double x, double y)
{
    const double r = x * x + y * y - 1.0;
    return r * r * r - 0.75 * x * x * y * y * y <= 0.0;
}

// Shade of the petal at heart coordinates (x, y): deep pink at the base,
// pale at the tip, with a faint darker vein down the middle.
Colour Shade(double x, double y, const Pose& pose)
{
    static constexpr Colour kBase{226.0, 104.0, 150.0};
    static constexpr Colour kTip{255.0, 226.0, 236.0};
    const double along = std::clamp((y + 1.0) / 2.24, 0.0, 1.0);
    Colour colour = Mix(kBase, kTip, std::pow(along, 0.7));
    const double vein = std::exp(-x * x * 60.0) * (1.0 - along) * 0.18;
    const double light = pose.light * (1.0 - vein);
    return {colour.r * light, colour.g * light, colour.b * light};
}

void Render(HostSurface& sprite, const Pose& pose)
{
    const double size = sprite.Width();
    // No point of the petal, curled or not, lies farther than 1.4 units from
    // the centre: at 45% of the sprite it stays clear of the sprite's border
    // whichever way it is turned.
    const double unit = size * 0.45 / 1.4;
    const double c = std::cos(pose.turn);
    const double s = std::sin(pose.turn);
    constexpr int kSamples = 4;

    hostkit::DrawSampled(sprite, kSamples, 1.0, [&](double dx, double dy) -> hostkit::ShapeSample {
        // Into the petal's frame: along its length (tip up), across it.
        const double across = (dx * c + dy * s) / unit;
        const double along = -(-dx * s + dy * c) / unit + 0.12;
        const double bend = pose.curl * (along + 1.0) * (along + 1.0) / 5.0;
        const double x = (across - bend) / (0.78 * pose.width);
        if (!InsideHeart(x, along)) {
            return {};
        }
        const Colour shade = Shade(x, along, pose);
        return {1.0, {shade.r, shade.g, shade.b}};
    });
    sprite.Premultiply();
}

}  // namespace

Sprites DrawPetals(const PetalRun& run)
{
    if (run.size < 8 || run.size > 256 || run.groups < 1 || run.groups > 64 || run.frames < 1 || run.frames > 64) {
        throw std::invalid_argument("petal run of " + std::to_string(run.groups) + " x " + std::to_string(run.frames) +
                                    " sprites of " + std::to_string(run.size) + " pixels is out of range");
    }
    Sprites sprites;
    for (std::int32_t group = 0; group < run.groups; ++group) {
        // From face-on to 80 degrees about the long axis.
        const double tilt = run.groups > 1 ? group * (80.0 / (run.groups - 1)) * kPi / 180.0 : 0.0;
        for (std::int32_t frame = 0; frame < run.frames; ++frame) {
            const double cycle = 2.0 * kPi * frame / run.frames;
            Pose pose;
            pose.turn = (25.0 + 14.0 * group + 18.0 * std::sin(cycle)) * kPi / 180.0;
            pose.width = std::max(0.16, std::cos(tilt) * (1.0 - 0.08 * (1.0 - std::cos(cycle))));
            pose.curl = 0.25 * std::sin(cycle) + 0.15 * std::sin(tilt);
            pose.light = 0.78 + 0.22 * std::cos(tilt);
            auto sprite = std::make_unique<HostSurface>(run.size, run.size, "petal");
            Render(*sprite, pose);
            sprites.push_back(std::move(sprite));
        }
    }
    return sprites;
}

}  // namespace velora::host
