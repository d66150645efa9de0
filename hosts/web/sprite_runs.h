// Runs of animation sprites for the studio's sprite bank.
//
// A run is what a script's Init names: a base sprite number, a sprite count
// and a number of rotation groups. The plug-in picks the group from a
// particle's spin angle (walking 0, 1, ..., R-1 and back) and the sprite
// inside the group from its phase, forwards or backwards. So the built-in
// petals show, group by group, the petal tilted further away from face-on,
// and inside a group one full turn of the petal in the picture plane.
//
// Everything here is drawn by code; no image comes from elsewhere.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "web/host_services.h"

namespace velora::web {

struct SpriteRun {
    std::string name;
    std::int32_t base = 0;            // first sprite number
    std::int32_t count = 0;           // sprites in the run
    std::int32_t rotationFrames = 0;  // rotation groups
    std::int32_t size = 0;            // every sprite is size x size pixels
};

// The lowest sprite number a sprite sheet takes; the built-in runs lie below
// it. Each sheet gets a run of numbers of its own from here on.
inline constexpr std::int32_t kSheetBase = 100;
// The most cells taken from one sheet (a 256 x 256 sheet of 4-pixel cells).
inline constexpr std::int32_t kMaxSheetCells = 4096;

// Draws the built-in runs into the bank (large petals, small petals, snow)
// and describes them.
std::vector<SpriteRun> AddBuiltInRuns(StudioSpriteBank& bank);

// Puts the size x size cells of an RGBA image (width * height * 4 bytes,
// rows top to bottom) into the bank, row by row from the top-left cell,
// numbered from first on, each replacing what the bank held under its
// number; no other sprite is touched. Partial cells at the right and bottom edges are left out, and at
// most kMaxSheetCells are taken. rotationFrames of the run is the number of
// rows of cells (one rotation group per row), or 1 if the cells do not split
// evenly. A run of count 0 means no whole cell fitted and nothing was added.
SpriteRun AddSheet(StudioSpriteBank& bank, const std::uint8_t* rgba, std::int32_t width, std::int32_t height,
                   std::int32_t size, std::int32_t first);

}  // namespace velora::web
