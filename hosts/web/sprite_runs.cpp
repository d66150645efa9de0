// The studio's built-in runs (petals and snowflakes, drawn by the kit) and a
// user's sheet cut into cells row by row; a sheet stops at the host's cell
// limit and never runs past the largest sprite number.
#include "web/sprite_runs.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <numbers>

#include "kit/petals.h"

namespace velora::web {
namespace {

constexpr double kPi = std::numbers::pi;

// A slender cherry petal, turned one whole turn over a group's frames and
// tilted up to 62 degrees from face-on across the groups (narrower and a
// little darker), with a faint middle vein towards the stalk.
kit::PetalLook SlenderPetal(const kit::ShapeSample::Colour& stalk, const kit::ShapeSample::Colour& tip)
{
    return {.outline = kit::PetalOutline::Slender, .base = stalk, .tip = tip, .gradient = 0.8, .opacity = 0.94,
            .reach = 0.46, .veinDepth = 0.08, .veinSharpness = 500.0, .veinEnd = 0.55, .restsUp = false,
            .maxTilt = 62.0, .turnsPerCycle = 1.0, .lightSin = -0.22};
}

// rotationFrames groups of framesPerGroup petals.
SpriteRun AddPetalRun(StudioSpriteBank& bank, const char* name, std::int32_t base, std::int32_t size,
                      std::int32_t rotationFrames, std::int32_t framesPerGroup, const kit::PetalLook& look)
{
    for (std::int32_t group = 0; group < rotationFrames; ++group) {
        for (std::int32_t frame = 0; frame < framesPerGroup; ++frame) {
            auto sprite = std::make_unique<PixelSurface>(size, size);
            kit::DrawPetal(*sprite, look, group, rotationFrames, frame, framesPerGroup);
            bank.Put(base + group * framesPerGroup + frame, std::move(sprite));
        }
    }
    return {name, base, rotationFrames * framesPerGroup, rotationFrames, size};
}

// Snowflakes turned through a sixth of a turn, where the six arms repeat.
SpriteRun AddSnowRun(StudioSpriteBank& bank, std::int32_t base, std::int32_t size, std::int32_t frames)
{
    for (std::int32_t frame = 0; frame < frames; ++frame) {
        auto sprite = std::make_unique<PixelSurface>(size, size);
        kit::DrawSnowflake(*sprite, (kPi / 3.0) * frame / frames, {244.0, 248.0, 255.0});
        bank.Put(base + frame, std::move(sprite));
    }
    return {"Snow", base, frames, 1, size};
}

}  // namespace

std::vector<SpriteRun> AddBuiltInRuns(StudioSpriteBank& bank)
{
    const kit::PetalLook large = SlenderPetal({228.0, 118.0, 158.0}, {255.0, 228.0, 238.0});
    const kit::PetalLook small = SlenderPetal({238.0, 150.0, 186.0}, {255.0, 238.0, 245.0});
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
