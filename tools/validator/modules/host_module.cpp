// A host module for the validator, built once per module name: MainSystem.so
// (export GetInterface), Graph.so and SurfaceFactory.so (export
// CreateInterface). The factory answers from the validator's host, which the
// validator executable exports as VeloraValidatorService. Built without
// VELORA_MODULE_EXPORT it is a module that lacks the factory export.
#include "contract/guid.h"

extern "C" void* VeloraValidatorService(int module, const velora::Guid* iid);

#ifdef VELORA_MODULE_EXPORT
extern "C" __attribute__((visibility("default"))) void* VELORA_MODULE_EXPORT(const velora::Guid* iid)
{
    return VeloraValidatorService(VELORA_MODULE_INDEX, iid);
}
#else
extern "C" __attribute__((visibility("default"))) int VeloraModuleWithoutFactory()
{
    return VELORA_MODULE_INDEX;
}
#endif
