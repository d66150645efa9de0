// A host module for the validator on Windows, built once per module name:
// MainSystem.dll (export GetInterface), Graph.dll and SurfaceFactory.dll
// (export CreateInterface). The factory answers from the validator's host,
// which the validator executable exports as VeloraValidatorService. Built
// without VELORA_MODULE_EXPORT it is a module that lacks the factory export.
#include <windows.h>

#include "contract/guid.h"

#ifdef VELORA_MODULE_EXPORT
extern "C" __declspec(dllexport) void* __cdecl VELORA_MODULE_EXPORT(const velora::Guid* iid)
{
    using Service = void*(__cdecl*)(int module, const velora::Guid* iid);
    const auto service = reinterpret_cast<Service>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(nullptr), "VeloraValidatorService")));
    return service ? service(VELORA_MODULE_INDEX, iid) : nullptr;
}
#else
extern "C" __declspec(dllexport) int __cdecl VeloraModuleWithoutFactory()
{
    return VELORA_MODULE_INDEX;
}
#endif
