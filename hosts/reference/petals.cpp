// The previewer's petals: cherry-blossom hearts, drawn by the host kit's
// petal painter (kit/petals.h) and premultiplied.
#include "reference/petals.h"

#include <stdexcept>
#include <string>

#include "kit/petals.h"

namespace velora::host {
namespace {

// A heart stretched and turned so that its point is the base and its notch
// the tip: deep pink at the base, pale at the tip, a faint darker vein down
// the middle. Groups tilt it from face-on to 80 degrees about its long axis
// and turn it 14 degrees further each; a group's frames rock it 18 degrees
// either way, curl its tip and flutter its width. No point of the petal,
// curled or not, lies farther than 1.4 units from the centre: at 45% of the
// sprite it stays clear of the sprite's border whichever way it is turned.
hostkit::PetalLook CherryHeart()
{
    hostkit::PetalLook look;
    look.outline = hostkit::PetalOutline::Heart;
    look.base = {226.0, 104.0, 150.0};
    look.tip = {255.0, 226.0, 236.0};
    look.gradient = 0.7;
    look.length = 2.24;
    look.reach = 0.45;
    look.extent = 1.4;
    look.shift = 0.12;
    look.breadth = 0.78;
    look.veinDepth = 0.18;
    look.veinSharpness = 60.0;
    look.veinFades = true;
    look.restsUp = true;
    look.maxTilt = 80.0;
    look.turnStart = 25.0;
    look.turnPerGroup = 14.0;
    look.rock = 18.0;
    look.flutter = 0.08;
    look.minWidth = 0.16;
    look.curlRock = 0.25;
    look.curlTilt = 0.15;
    look.lightBase = 0.78;
    look.lightCos = 0.22;
    return look;
}

}  // namespace

Sprites DrawPetals(const PetalRun& run)
{
    if (run.size < 8 || run.size > 256 || run.groups < 1 || run.groups > 64 || run.frames < 1 || run.frames > 64) {
        throw std::invalid_argument("petal run of " + std::to_string(run.groups) + " x " + std::to_string(run.frames) +
                                    " sprites of " + std::to_string(run.size) + " pixels is out of range");
    }
    const hostkit::PetalLook look = CherryHeart();
    Sprites sprites;
    for (std::int32_t group = 0; group < run.groups; ++group) {
        for (std::int32_t frame = 0; frame < run.frames; ++frame) {
            auto sprite = std::make_unique<HostSurface>(run.size, run.size, "petal");
            hostkit::DrawPetal(*sprite, look, group, run.groups, frame, run.frames);
            sprite->Premultiply();
            sprites.push_back(std::move(sprite));
        }
    }
    return sprites;
}

}  // namespace velora::host
