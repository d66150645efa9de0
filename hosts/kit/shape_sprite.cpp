// The sampling loop behind the built-in sprites: every pixel asks the shape
// at samples x samples points and keeps their coverage-weighted colour. It
// runs when a host makes its sprites, not for each frame.
#include "kit/shape_sprite.h"

#include <algorithm>

namespace velora::kit {
namespace {

std::uint8_t ToByte(double value) { return static_cast<std::uint8_t>(std::clamp(value, 0.0, 255.0) + 0.5); }

}  // namespace

void DrawSampled(Surface& sprite, int samples, double opacity,
                 const std::function<ShapeSample(double x, double y)>& shape)
{
    const double centreX = sprite.Width() / 2.0;
    const double centreY = sprite.Height() / 2.0;
    for (std::int32_t py = 0; py < sprite.Height(); ++py) {
        for (std::int32_t px = 0; px < sprite.Width(); ++px) {
            double coverage = 0.0;
            ShapeSample::Colour sum;
            for (int j = 0; j < samples; ++j) {
                for (int i = 0; i < samples; ++i) {
                    const ShapeSample s = shape(px + (i + 0.5) / samples - centreX, py + (j + 0.5) / samples - centreY);
                    coverage += s.coverage;
                    sum.r += s.colour.r * s.coverage;
                    sum.g += s.colour.g * s.coverage;
                    sum.b += s.colour.b * s.coverage;
                }
            }
            if (coverage <= 0.0) {
                continue;
            }
            std::uint8_t* pixel = sprite.At(px, py);
            pixel[0] = ToByte(sum.r / coverage);
            pixel[1] = ToByte(sum.g / coverage);
            pixel[2] = ToByte(sum.b / coverage);
            pixel[3] = ToByte(255.0 * opacity * coverage / (samples * samples));
        }
    }
}

}  // namespace velora::kit
