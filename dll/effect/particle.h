// One falling sprite. Plain data: copying a particle copies all its state.
#pragma once

namespace velora {

struct Particle {
    float x;          // centre, pixels from the field's left edge
    float y;          // centre, pixels from the top edge, growing downward
    float angle;      // spin angle in radians; its cosine drives the sway
    float phaseRate;  // animation cycles per second
    float phase;      // position in the rotation group's run, nominally [0, 1)
    float fallRate;   // tenths of the field height per second at ySpeed 1
    bool forward;     // direction in which phase walks through the group
};

}  // namespace velora
