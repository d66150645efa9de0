// Sprites drawn from a shape: every pixel takes samples x samples points of
// it, so that edges come out smooth. Shared by the hosts' built-in sprites.
#pragma once

#include <functional>

#include "kit/surface.h"

namespace velora::kit {

// What a shape shows at one point: how much of it covers the point (0 none,
// 1 all) and its straight colour there, each byte 0 to 255.
struct ShapeSample {
    struct Colour {
        double r = 0.0;
        double g = 0.0;
        double b = 0.0;
    };
    double coverage = 0.0;
    Colour colour;
};

// shape(x, y) is asked at points measured from the sprite's centre, in
// pixels. A pixel's alpha is 255 x opacity x the mean coverage of its
// samples and its colour the coverage-weighted mean, both rounded; a pixel
// nothing covers is left as it was. Writes straight colour: the caller
// premultiplies (Surface::Premultiply).
void DrawSampled(Surface& sprite, int samples, double opacity,
                 const std::function<ShapeSample(double x, double y)>& shape);

}  // namespace velora::kit
