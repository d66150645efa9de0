// Stand-in for the engine's MainSystem module: GetInterface answers
// IID_MainSystem. Built a second time with HOST_MODULE_WITHOUT_FACTORY, as a
// MainSystem.dll that lacks the export.
#include <windows.h>

#include "contract/host_interfaces.h"
#include "windows/host_module.h"

namespace {

int refuse = 0;

}  // namespace

HOST_MODULE_EXPORT void __cdecl RefuseRequests(int value) { refuse = value; }

#if !defined(HOST_MODULE_WITHOUT_FACTORY)
namespace {

// The plug-in stores the main system and never calls it.
class MainSystem final : public velora::IMainSystem {
};

MainSystem mainSystem;

}  // namespace

HOST_MODULE_EXPORT void* __cdecl GetInterface(const velora::Guid* iid)
{
    if (!host_module::SameGuid(iid, velora::IID_MainSystem)) {
        OutputDebugStringA("test module MainSystem: GetInterface(other GUID)\n");
        return nullptr;
    }
    OutputDebugStringA(host_module::kTraceMainSystem);
    return refuse ? nullptr : &mainSystem;
}
#endif
