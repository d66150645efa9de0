// MainSystem.so: the engine's main system module. GetInterface answers
// IID_MainSystem; anything else, or no GUID, gives null.
#include "reference/host_objects.h"

extern "C" VELORA_REFERENCE_API void* GetInterface(const velora::Guid* iid)
{
    return velora::reference::QueryMainSystem(iid);
}
