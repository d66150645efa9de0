// SurfaceFactory.so: the engine's surface module. CreateInterface answers
// IID_SurfaceFactory; anything else, or no GUID, gives null.
#include "reference/host_objects.h"

extern "C" VELORA_REFERENCE_API void* CreateInterface(const velora::Guid* iid)
{
    return velora::reference::QuerySurfaceFactory(iid);
}
