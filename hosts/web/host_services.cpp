// The studio's tally of drawing calls (the calls that put a sprite on the
// frame count; CopyRect and FilterRect do not) and the draw host that keeps
// the plug-in's last reported rectangle.
#include "web/host_services.h"

#include <string_view>

namespace velora::web {
namespace {

void Count(const kit::DrawCall& call, void* tally)
{
    const std::string_view operation = call.operation;
    if (operation != "CopyRect" && operation != "FilterRect") {
        ++static_cast<DrawTally*>(tally)->drawingCalls;
    }
}

}  // namespace

kit::GraphHooks StudioGraphHooks(DrawTally& tally) { return {nullptr, &Count, &tally}; }

std::int32_t VELORA_METHOD StudioDrawHost::ReportRect(std::int32_t handle, std::int32_t x, std::int32_t y,
                                                      std::int32_t width, std::int32_t height)
{
    last = {handle, x, y, width, height};
    ++reports;
    return 0;
}

}  // namespace velora::web
