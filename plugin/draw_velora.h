// The plug-in object the host's drawing machinery talks to.
#pragma once

#include <cstdint>

namespace velora {

class CDrawVelora {
public:
    // The latest Init's arguments, written by Init through currentPlugin.
    std::int32_t lastHandle = 0;
    std::int32_t lastWidth = 0;
    std::int32_t lastHeight = 0;
};

// The object made by the latest successful CreateInterface; null when the
// library loads and after that object's Destroy.
extern CDrawVelora* currentPlugin;

}  // namespace velora
