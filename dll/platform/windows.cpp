// The platform layer on Windows: the multimedia timer, the tick count, the
// loaded modules of the process and the debugger's output.
#include "platform/os.h"

#include <windows.h>
#include <mmsystem.h>

// The C++ runtime is linked into the DLL. At start-up it sets aside a pool
// for the exceptions thrown when memory runs out, and it never gives that
// pool back: an engine that unloads and reloads the plug-in (with every
// level, say) would lose about 19 KB each time. When the library unloads,
// its static objects end, and this one hands the pool back. The reference
// is weak, so that a build whose runtime has no such pool links without it.
namespace __gnu_cxx {
void __freeres() noexcept __attribute__((weak));
}  // namespace __gnu_cxx

namespace {

struct RuntimePoolRelease {
    ~RuntimePoolRelease()
    {
        if (__gnu_cxx::__freeres) {
            __gnu_cxx::__freeres();
        }
    }
} runtimePoolRelease;

}  // namespace

namespace velora::platform::os {

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

}  // namespace velora::platform::os
