// The reference host's hooks into the kit's drawing interfaces: a surface
// counts only if it is one of the host's live surfaces, and every call is
// shown to the process-wide observer under a lock, where an observer's
// failure never reaches the plug-in.
#include "reference/drawing.h"

#include <mutex>

namespace velora::reference {
namespace {

std::mutex observerMutex;
DrawObserver& Observer()
{
    static auto* observer = new DrawObserver;
    return *observer;
}

kit::Surface* Resolve(ISurface* surface, void*) { return HostSurface::FromInterface(surface); }

void Observe(const kit::DrawCall& call, void*)
{
    try {
        const std::lock_guard lock(observerMutex);
        if (Observer()) {
            DrawCall seen;
            seen.operation = call.operation;
            seen.dest = HostSurface::FromInterface(call.dest);
            seen.src = HostSurface::FromInterface(call.src);
            seen.dx = call.dx;
            seen.dy = call.dy;
            seen.sx = call.sx;
            seen.sy = call.sy;
            seen.width = call.width;
            seen.height = call.height;
            seen.hasRate = call.hasRate;
            seen.rate = call.rate;
            seen.result = call.result;
            Observer()(seen);
        }
    } catch (...) {
        // A failing observer must not reach the plug-in.
    }
}

}  // namespace

std::int32_t Copy(HostSurface* dest, std::int32_t dx, std::int32_t dy, HostSurface* src, std::int32_t sx,
                  std::int32_t sy, std::int32_t width, std::int32_t height)
{
    if (!dest || !src) {
        return kRefused;
    }
    kit::CopyRect(*dest, dx, dy, *src, sx, sy, width, height);
    return kDone;
}

void SetDrawObserver(DrawObserver observer)
{
    const std::lock_guard lock(observerMutex);
    Observer() = std::move(observer);
}

kit::GraphHooks HostGraphHooks() { return {&Resolve, &Observe, nullptr}; }

}  // namespace velora::reference
