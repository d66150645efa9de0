// The plan of a preview: the script (read from a file or made from the
// effect options), the canvas, and the sprite bank filled with the user's
// sprites or the built-in petals; and the warnings about layers that draw
// nothing or lose particles.
#pragma once

#include <cstdint>
#include <string>

#include "script/script.h"
#include "kit/engine_services.h"
#include "previewer/options.h"
#include "previewer/preview.h"

namespace velora::previewer {

// Everything the run needs before the plug-in is loaded.
struct Plan {
    script::Script script;
    bool fromScript = false;
    std::int32_t width = 0;
    std::int32_t height = 0;
    kit::SpriteBank bank;
    std::int32_t spritesLoaded = 0;
    std::string spritesFrom;
};

void MakePlan(const Options& options, Plan& plan, const Reporter& reporter);

// Settings that draw nothing or lose particles.
void WarnAboutLayers(const Plan& plan, const Reporter& reporter);

// Hands "warning: " + line to the reporter, if it takes warnings.
void Warn(const Reporter& reporter, const std::string& line);

}  // namespace velora::previewer
