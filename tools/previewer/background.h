// The background every frame starts from: the gradient sky, a plain colour
// or a picture. Apart because the user chooses it on the command line, and
// it is checked (and refused with the reason) before anything is drawn.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "reference/surface.h"

namespace velora::previewer {

// The background of every frame, opaque and width x height: "gradient", a
// "#rrggbb" colour, or a PNG file stretched to the size (its transparent
// parts over black). Throws UsageError, with the reason, for anything else.
std::unique_ptr<reference::HostSurface> MakeBackground(const std::string& choice, std::int32_t width,
                                                  std::int32_t height);

}  // namespace velora::previewer
