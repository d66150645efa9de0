// Stand-in for the engine's SurfaceFactory module: CreateInterface answers
// IID_SurfaceFactory with the kit's factory, which accepts any format.
// CreateSurface announces the call, with its arguments, through
// OutputDebugStringA; so does the Destroy of every surface it made.
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "contract/host_interfaces.h"
#include "kit/engine_services.h"
#include "windows/host_module.h"

namespace {

class SurfaceFactory final : public velora::kit::SurfaceFactory {
public:
    SurfaceFactory() : velora::kit::SurfaceFactory(MakeOptions()) {}

    velora::ISurface* VELORA_METHOD CreateSurface(std::int32_t width, std::int32_t height,
                                                  std::int32_t format) override
    {
        char trace[128];
        std::snprintf(trace, sizeof trace,
                      "test module SurfaceFactory: CreateSurface(%d, %d, format %d)\n",
                      static_cast<int>(width), static_cast<int>(height), static_cast<int>(format));
        OutputDebugStringA(trace);
        return velora::kit::SurfaceFactory::CreateSurface(width, height, format);
    }

private:
    static Options MakeOptions()
    {
        Options options;
        options.anyFormat = true;
        options.ended = [](void*) { OutputDebugStringA(host_module::kTraceScratchDestroyed); };
        return options;
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
