// A minimal host module for the service lookup test: built three times, as
// MainSystem.so (GetInterface), Graph.so and SurfaceFactory.so
// (CreateInterface), each answering its own GUIDs with static objects.
#include "contract/guid.h"

namespace {
int firstService;
int secondService;
}  // namespace

extern "C" __attribute__((visibility("default"))) void* VELORA_MODULE_EXPORT(const velora::Guid* iid)
{
    if (velora::GuidEquals(iid, &VELORA_MODULE_FIRST)) {
        return &firstService;
    }
#ifdef VELORA_MODULE_SECOND
    if (velora::GuidEquals(iid, &VELORA_MODULE_SECOND)) {
        return &secondService;
    }
#endif
    return nullptr;
}
