// The platform layer on Windows: the multimedia timer, the tick count, the
// loaded modules of the process and the debugger's output.
#include "platform/system.h"

#include <windows.h>
#include <mmsystem.h>

namespace velora::platform::system {

std::uint32_t MultimediaTime() { return timeGetTime(); }
std::uint32_t TickCount() { return GetTickCount(); }

ModuleHandle FindLoadedModule(const char* name)
{
    return reinterpret_cast<ModuleHandle>(GetModuleHandleA(name));
}

ExportAddress FindExport(ModuleHandle module, const char* name)
{
    return reinterpret_cast<ExportAddress>(
        reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name)));
}

void DebugOutput(const char* message) { OutputDebugStringA(message); }

}  // namespace velora::platform::system
