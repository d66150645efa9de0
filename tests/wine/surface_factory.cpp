// Stand-in for the engine's SurfaceFactory module: CreateInterface answers
// IID_SurfaceFactory. CreateSurface makes a memory surface and announces the
// call, with its arguments, through OutputDebugStringA; so does the surface's
// Destroy.
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "contract/host_interfaces.h"
#include "tests/wine/host_module.h"
#include "tests/wine/memory_surface.h"

namespace {

class SurfaceFactory final : public velora::ISurfaceFactory {
public:
    velora::ISurface* VELORA_METHOD CreateSurface(std::int32_t width, std::int32_t height,
                                                  std::int32_t format) override
    {
        char trace[128];
        std::snprintf(trace, sizeof trace,
                      "test module SurfaceFactory: CreateSurface(%d, %d, format %d)\n",
                      static_cast<int>(width), static_cast<int>(height), static_cast<int>(format));
        OutputDebugStringA(trace);
        return new host_module::MemorySurface(width, height, format,
                                              host_module::kTraceScratchDestroyed, true);
    }
};

SurfaceFactory surfaceFactory;
int refuse = 0;

}  // namespace

HOST_MODULE_EXPORT void __cdecl RefuseRequests(int value) { refuse = value; }

HOST_MODULE_EXPORT void* __cdecl CreateInterface(const velora::Guid* iid)
{
    if (!host_module::SameGuid(iid, velora::IID_SurfaceFactory)) {
        OutputDebugStringA("test module SurfaceFactory: CreateInterface(other GUID)\n");
        return nullptr;
    }
    OutputDebugStringA(host_module::kTraceSurfaceFactory);
    return refuse ? nullptr : static_cast<velora::ISurfaceFactory*>(&surfaceFactory);
}
