// The built-in sprites: cherry-blossom petals drawn by code.
//
// groups x frames sprites of size x size, group by group: group k shows the
// petal turned further about its long axis (from face-on in group 0 to
// nearly edge-on in the last group), and the frames of a group are one
// flutter cycle (a rock and a curl of the tip), so running through them in
// either direction loops smoothly.
#pragma once

#include <cstdint>

#include "reference/host_api.h"
#include "reference/png_io.h"

namespace velora::reference {

struct PetalRun {
    std::int32_t size = 32;
    std::int32_t groups = 4;
    std::int32_t frames = 4;
};

// Throws std::invalid_argument for a size below 8 or above 256, or a group or
// frame count outside 1 to 64.
VELORA_REFERENCE_API Sprites DrawPetals(const PetalRun& run = {});

}  // namespace velora::reference
