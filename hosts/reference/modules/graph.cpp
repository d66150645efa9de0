// Graph.so: the engine's drawing module. CreateInterface answers
// IID_GraphBlend and IID_GraphFilter; anything else, or no GUID, gives null.
#include "reference/host_objects.h"

extern "C" VELORA_REFERENCE_API void* CreateInterface(const velora::Guid* iid)
{
    return velora::reference::QueryGraph(iid);
}
