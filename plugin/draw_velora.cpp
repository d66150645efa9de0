#include "plugin/draw_velora.h"

namespace velora {

CDrawVelora* currentPlugin = nullptr;

}  // namespace velora
