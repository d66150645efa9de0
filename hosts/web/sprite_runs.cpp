#include "web/sprite_runs.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>

#include "kit/sampled.h"

namespace velora::web {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr int kSamples = 4;  // per side of a pixel, for smooth edges

struct Colour {
    double r, g, b;
};

Colour Mix(const Colour& a, const Colour& b, double t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

using Sample = hostkit::ShapeSample;

// Renders size x size pixels of shape, sampled kSamples x kSamples times per
// pixel around the sprite's centre; alpha is the mean coverage times opacity.
std::unique_ptr<PixelSurface> Render(std::int32_t size, double opacity,
                                     const std::function<Sample(double x, double y)>& shape)
{
    auto sprite = std::make_unique<PixelSurface>(size, size);
    hostkit::DrawSampled(*sprite, kSamples, opacity, shape);
    return sprite;
}

// A cherry petal in its own frame: u runs along it from the stalk (-1) to
// the notched tip (1), v across it, both in half-lengths.
bool InsidePetal(double u, double v)
{
    if (u <= -1.0 || u >= 1.0) {
        return false;
    }
    // Narrow at the stalk, widest past the middle, rounded at the tip.
    const double halfWidth = 0.72 * std::pow(1.0 - u * u, 0.35) * (0.45 + 0.275 * (1.0 + u));
    if (std::fabs(v) > halfWidth) {
        return false;
    }
    return u <= 0.74 + 0.9 * std::fabs(v);  // the small V-shaped notch at the tip
}

struct PetalStyle {
    Colour stalk;  // colour at the stalk end
    Colour tip;    // colour at the tip
};

// One petal turned by spin in the picture plane and tilted by tilt away from
// face-on (so it looks narrower and a little darker).
std::unique_ptr<PixelSurface> Petal(std::int32_t size, const PetalStyle& style, double tilt, double spin)
{
    const double halfLength = 0.46 * size;
    const double narrow = std::cos(tilt);
    const double shade = 1.0 - 0.22 * std::sin(tilt);
    const double c = std::cos(spin);
    const double s = std::sin(spin);
    return Render(size, 0.94, [&](double x, double y) -> Sample {
        const double along = x * c + y * s;
        const double across = -x * s + y * c;
        const double u = along / halfLength;
        const double v = across / (halfLength * narrow);
        if (!InsidePetal(u, v)) {
            return {0.0, {0, 0, 0}};
        }
        Colour colour = Mix(style.stalk, style.tip, std::pow((u + 1.0) / 2.0, 0.8));
        // A faint middle vein towards the stalk.
        const double vein = u < 0.55 ? 0.08 * std::exp(-(v * v) / 0.002) : 0.0;
        const double light = shade * (1.0 - vein);
        return {1.0, {colour.r * light, colour.g * light, colour.b * light}};
    });
}

// rotationFrames groups of framesPerGroup petals: group k tilted k/(R-1) of
// the way to 62 degrees, frame f of a group turned f/framesPerGroup of a turn.
SpriteRun AddPetalRun(StudioSpriteBank& bank, const char* name, std::int32_t base, std::int32_t size,
                      std::int32_t rotationFrames, std::int32_t framesPerGroup, const PetalStyle& style)
{
    for (std::int32_t group = 0; group < rotationFrames; ++group) {
        const double tilt =
            rotationFrames > 1 ? (62.0 * kPi / 180.0) * group / (rotationFrames - 1) : 0.0;
        for (std::int32_t frame = 0; frame < framesPerGroup; ++frame) {
            const double spin = 2.0 * kPi * frame / framesPerGroup;
            bank.Put(base + group * framesPerGroup + frame, Petal(size, style, tilt, spin));
        }
    }
    return {name, base, rotationFrames * framesPerGroup, rotationFrames, size};
}

// A soft snowflake: a round glow with six faint arms, turned by spin.
std::unique_ptr<PixelSurface> Snowflake(std::int32_t size, double spin)
{
    const double radius = 0.42 * size;
    return Render(size, 1.0, [&](double x, double y) -> Sample {
        const double r = std::hypot(x, y) / radius;
        if (r >= 1.0) {
            return {0.0, {0, 0, 0}};
        }
        double coverage = std::clamp(1.15 - 1.6 * r, 0.0, 1.0);
        const double angle = std::atan2(y, x) - spin;
        const double arm = std::fabs(std::sin(3.0 * angle)) * r * radius;  // distance to the nearest arm
        if (arm < 0.55) {
            coverage = std::max(coverage, 0.75 * (1.0 - r));
        }
        return {coverage, {244.0, 248.0, 255.0}};
    });
}

SpriteRun AddSnowRun(StudioSpriteBank& bank, std::int32_t base, std::int32_t size, std::int32_t frames)
{
    for (std::int32_t frame = 0; frame < frames; ++frame) {
        bank.Put(base + frame, Snowflake(size, (kPi / 3.0) * frame / frames));
    }
    return {"Snow", base, frames, 1, size};
}

}  // namespace

std::vector<SpriteRun> AddBuiltInRuns(StudioSpriteBank& bank)
{
    const PetalStyle large{{228.0, 118.0, 158.0}, {255.0, 228.0, 238.0}};
    const PetalStyle small{{238.0, 150.0, 186.0}, {255.0, 238.0, 245.0}};
    return {
        AddPetalRun(bank, "Petals, large", 0, 40, 4, 8, large),
        AddPetalRun(bank, "Petals, small", 32, 22, 4, 8, small),
        AddSnowRun(bank, 64, 16, 8),
    };
}

SpriteRun AddSheet(StudioSpriteBank& bank, const std::uint8_t* rgba, std::int32_t width, std::int32_t height,
                   std::int32_t size, std::int32_t first)
{
    SpriteRun run{"Sprite sheet", first, 0, 1, size};
    if (!rgba || width <= 0 || height <= 0 || size <= 0) {
        return run;
    }
    const std::int32_t columns = width / size;
    const std::int32_t rows = height / size;
    if (columns == 0 || rows == 0) {
        return run;
    }
    const std::int32_t cells = static_cast<std::int32_t>(std::min<std::int64_t>(
        std::int64_t{columns} * rows, std::min<std::int64_t>(kMaxSheetCells, std::int64_t{INT32_MAX} - first)));
    const auto rowBytes = static_cast<std::size_t>(size) * 4u;
    for (std::int32_t cell = 0; cell < cells; ++cell) {
        const std::int32_t left = (cell % columns) * size;
        const std::int32_t top = (cell / columns) * size;
        auto sprite = std::make_unique<PixelSurface>(size, size);
        for (std::int32_t y = 0; y < size; ++y) {
            const std::size_t offset =
                (static_cast<std::size_t>(top + y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(left)) *
                4u;
            std::memcpy(sprite->At(0, y), rgba + offset, rowBytes);
        }
        bank.Put(first + cell, std::move(sprite));
    }
    run.count = cells;
    run.rotationFrames = cells % columns == 0 ? cells / columns : 1;
    return run;
}

}  // namespace velora::web
