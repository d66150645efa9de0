// The built-in sprites that hosts draw by code: petals, in runs of rotation
// groups of frames, and soft snowflakes.
//
// A run is groups x frames sprites, group by group. A petal's look says its
// outline, colours and vein, and how a group and a frame pose it: groups tilt
// it further away from face-on (narrower, its light changed) and may turn it
// in the picture plane; the frames of a group are one cycle (a rock of the
// turn, a curl of the tip, a flutter of the width, or one whole turn), so
// running through them in either direction loops smoothly.
//
// Sprites come out in straight colour; the caller premultiplies
// (Surface::Premultiply). Pixels the shape does not cover stay as they were.
#pragma once

#include <cstdint>

#include "kit/shape_sprite.h"
#include "kit/surface.h"

namespace velora::kit {

// The outline, in the petal's own frame: along it from the base (-1) to the
// tip, and across it.
enum class PetalOutline {
    Heart,    // a rounded heart: its point the base, its notch the tip (along up to about 1.24)
    Slender,  // narrow at the stalk, widest past the middle, a small V notch at the tip (along up to 1)
};

struct PetalLook {
    PetalOutline outline = PetalOutline::Heart;
    ShapeSample::Colour base;  // straight colour at the base
    ShapeSample::Colour tip;   // and at the tip
    double gradient = 1.0;     // blend from base to tip: ((along + 1) / length) ^ gradient
    double length = 2.0;
    double opacity = 1.0;

    // Size: along = 1 lies reach x the sprite's side / extent from the
    // centre, shifted by shift towards the tip; across is further divided by
    // breadth x the pose's width.
    double reach = 0.5;
    double extent = 1.0;
    double shift = 0.0;
    double breadth = 1.0;

    // The darker middle vein: depth x exp(-across^2 x sharpness), fading to
    // nothing at the tip when fades, and only below along = veinEnd.
    double veinDepth = 0.0;
    double veinSharpness = 1.0;
    bool veinFades = false;
    double veinEnd = 2.0;

    // The rest pose points the tip up (true) or to the right (false).
    bool restsUp = true;

    // Group k of G tilts the petal k / (G - 1) of maxTilt degrees. Frame f of
    // F is the angle 2 pi f / F of the cycle; the turn, clockwise from the
    // rest pose, is turnStart + turnPerGroup x k + rock x sin(cycle) degrees,
    // plus turnsPerCycle whole turns over the cycle.
    double maxTilt = 0.0;
    double turnStart = 0.0;
    double turnPerGroup = 0.0;
    double rock = 0.0;
    double turnsPerCycle = 0.0;

    // The apparent width is cos(tilt) x (1 - flutter x (1 - cos(cycle))), at
    // least minWidth; the tip bends sideways by curlRock x sin(cycle) +
    // curlTilt x sin(tilt); the face's light is lightBase + lightCos x
    // cos(tilt) + lightSin x sin(tilt).
    double flutter = 0.0;
    double minWidth = 0.0;
    double curlRock = 0.0;
    double curlTilt = 0.0;
    double lightBase = 1.0;
    double lightCos = 0.0;
    double lightSin = 0.0;
};

// Draws the petal of group group (of groups) and frame frame (of frames),
// centred in sprite and sized to its width.
void DrawPetal(Surface& sprite, const PetalLook& look, std::int32_t group, std::int32_t groups, std::int32_t frame,
               std::int32_t frames);

// A soft snowflake filling 84% of the sprite: a round glow with six faint
// arms, turned by spin radians, in colour.
void DrawSnowflake(Surface& sprite, double spin, const ShapeSample::Colour& colour);

}  // namespace velora::kit
