// The register of live surfaces behind HostSurface::FromInterface: a surface
// enters it when made and leaves it when destroyed, so that a pointer the
// plug-in hands back is checked against it before it is used.
#include "reference/surface.h"

#include <mutex>
#include <unordered_set>

namespace velora::reference {
namespace {

// The surfaces alive in the process. Operations accept an ISurface only when
// it is one of these, so a foreign or already ended surface is refused
// rather than misread. Never destroyed: surfaces owned by static objects may
// end after every other static has gone.
struct LiveSurfaces {
    std::mutex mutex;
    std::unordered_set<const ISurface*> surfaces;
};

LiveSurfaces& Live()
{
    static auto* live = new LiveSurfaces;
    return *live;
}

}  // namespace

HostSurface::HostSurface(std::int32_t width, std::int32_t height, std::string label)
    : kit::Surface(width, height), label_(std::move(label))
{
    LiveSurfaces& live = Live();
    const std::lock_guard lock(live.mutex);
    live.surfaces.insert(this);
}

HostSurface::~HostSurface()
{
    LiveSurfaces& live = Live();
    const std::lock_guard lock(live.mutex);
    live.surfaces.erase(this);
}

HostSurface* HostSurface::FromInterface(ISurface* surface)
{
    if (!surface) {
        return nullptr;
    }
    LiveSurfaces& live = Live();
    const std::lock_guard lock(live.mutex);
    return live.surfaces.contains(surface) ? static_cast<HostSurface*>(surface) : nullptr;
}

std::size_t HostSurface::LiveCount()
{
    LiveSurfaces& live = Live();
    const std::lock_guard lock(live.mutex);
    return live.surfaces.size();
}

}  // namespace velora::reference
