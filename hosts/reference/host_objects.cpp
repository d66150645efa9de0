// The services the three modules hand out are single process-wide objects,
// trivially destructible, so that they still answer while other statics
// end; then the sprite bank and the draw host the previewer supplies.
#include "reference/host_objects.h"

#include <cstring>

#include "reference/drawing.h"

namespace velora::reference {
namespace {

bool Is(const Guid* iid, const Guid& wanted) { return iid && GuidEquals(iid, &wanted); }

// Trivially destructible, so they stay usable until the process ends.
HostMainSystem mainSystem;
HostGraphBlend graphBlend;
HostGraphFilter graphFilter;
HostSurfaceFactory surfaceFactory;

}  // namespace

void* QueryMainSystem(const Guid* iid)
{
    return Is(iid, IID_MainSystem) ? static_cast<IMainSystem*>(&mainSystem) : nullptr;
}

void* QueryGraph(const Guid* iid)
{
    if (Is(iid, IID_GraphBlend)) {
        return static_cast<IGraphBlend*>(&graphBlend);
    }
    if (Is(iid, IID_GraphFilter)) {
        return static_cast<IGraphFilter*>(&graphFilter);
    }
    return nullptr;
}

void* QuerySurfaceFactory(const Guid* iid)
{
    return Is(iid, IID_SurfaceFactory) ? static_cast<ISurfaceFactory*>(&surfaceFactory) : nullptr;
}

ISurface* VELORA_METHOD HostSurfaceFactory::CreateSurface(std::int32_t width, std::int32_t height, std::int32_t)
{
    try {
        auto* surface = new HostSurface(width, height, "scratch");
        surface->MarkFactoryMade();
        return surface;
    } catch (...) {
        return nullptr;
    }
}

ISurface* VELORA_METHOD HostSpriteBank::GetSprite(std::int32_t number)
{
    const std::int64_t index = std::int64_t{number} - first_;
    if (index < 0 || index >= static_cast<std::int64_t>(sprites_.size())) {
        return nullptr;
    }
    return sprites_[static_cast<std::size_t>(index)].get();
}

void HostSpriteBank::Add(std::unique_ptr<HostSurface> sprite)
{
    if (!sprite) {
        return;
    }
    sprite->SetLabel("sprite" + std::to_string(std::int64_t{first_} + Count()));
    sprites_.push_back(std::move(sprite));
}

std::int32_t VELORA_METHOD HostDrawHost::ReportRect(std::int32_t handle, std::int32_t x, std::int32_t y,
                                                    std::int32_t width, std::int32_t height)
{
    try {
        reports_.push_back({handle, x, y, width, height});
        if (log_) {
            log_("ReportRect(handle " + std::to_string(handle) + ", " + std::to_string(x) + ", " +
                 std::to_string(y) + ", " + std::to_string(width) + " x " + std::to_string(height) + ")");
        }
    } catch (...) {
        // Nothing to tell the plug-in; the report is simply not kept.
    }
    return 0;
}

}  // namespace velora::reference
