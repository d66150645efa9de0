// The previewer's petals: cherry-blossom hearts, drawn by the host kit's
// petal painter (kit/petals.h) and premultiplied.
#include "reference/petals.h"

#include <stdexcept>
#include <string>

#include "kit/petals.h"

namespace velora::reference {
namespace {

// A heart stretched and turned so that its point is the base and its notch
// the tip: deep pink at the base, pale at the tip, a faint darker vein down
// the middle. Groups tilt it from face-on to 80 degrees about its long axis
// and turn it 14 degrees further each; a group's frames rock it 18 degrees
// either way, curl its tip and flutter its width. No point of the petal,
// curled or not, lies farther than 1.4 units from the centre: at 45% of the
// sprite it stays clear of the sprite's border whichever way it is turned.
constexpr kit::PetalLook kCherryHeart{
    .outline = kit::PetalOutline::Heart, .base = {226.0, 104.0, 150.0}, .tip = {255.0, 226.0, 236.0},
    .gradient = 0.7, .length = 2.24, .reach = 0.45, .extent = 1.4, .shift = 0.12, .breadth = 0.78,
    .veinDepth = 0.18, .veinSharpness = 60.0, .veinFades = true, .maxTilt = 80.0, .turnStart = 25.0,
    .turnPerGroup = 14.0, .rock = 18.0, .flutter = 0.08, .minWidth = 0.16, .curlRock = 0.25, .curlTilt = 0.15,
    .lightBase = 0.78, .lightCos = 0.22};

}  // namespace

Sprites DrawPetals(const PetalRun& run)
{
    if (run.size < 8 || run.size > 256 || run.groups < 1 || run.groups > 64 || run.frames < 1 || run.frames > 64) {
        throw std::invalid_argument("petal run of " + std::to_string(run.groups) + " x " + std::to_string(run.frames) +
                                    " sprites of " + std::to_string(run.size) + " pixels is out of range");
    }
    Sprites sprites;
    for (std::int32_t group = 0; group < run.groups; ++group) {
        for (std::int32_t frame = 0; frame < run.frames; ++frame) {
            auto sprite = std::make_unique<HostSurface>(run.size, run.size, "petal");
            kit::DrawPetal(*sprite, kCherryHeart, group, run.groups, frame, run.frames);
            sprite->Premultiply();
            sprites.push_back(std::move(sprite));
        }
    }
    return sprites;
}

}  // namespace velora::reference
