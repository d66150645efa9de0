// The functions the plug-in's own calls reach in a validator process on
// Windows.
//
// A DLL calls what it imports through its import address table, so the
// validator writes its own functions there when it loads the plug-in: the
// two millisecond clocks (timeGetTime, GetTickCount) and the C runtime's
// malloc, beneath the plug-in's operator new. Nothing else of the process
// changes: the host's own allocations, and the clocks of everything else,
// stay the system's. The host modules' factories reach the validator's host
// through VeloraValidatorService, which this executable exports.
#include "validator/windows_interpose.h"

#include <cstddef>
#include <cstdint>

#include "contract/guid.h"
#include "validator/clock_and_allocator.h"
#include "validator/host.h"
#include "validator/import_patch.h"

namespace velora::validator {
namespace {

using Malloc = void*(__cdecl*)(std::size_t);
using Clock32 = DWORD(WINAPI*)();

// What the plug-in's imports held before: the runtime's malloc and the
// system's clocks, which answer while the validator's clock is not active.
Malloc systemMalloc = nullptr;
Clock32 systemTime = nullptr;
Clock32 systemTicks = nullptr;

// The validator's clock, truncated to 32 bits as both Windows counters are.
DWORD Read(Clock32 system)
{
    ClockControl& clock = Clock();
    if (!clock.active) {
        return system();
    }
    return static_cast<DWORD>(clock.Read());
}

DWORD WINAPI TimeGetTime() { return Read(systemTime); }
DWORD WINAPI TickCount() { return Read(systemTicks); }

// Null when the request cannot be had, as malloc says it.
void* __cdecl Allocate(std::size_t size)
{
    return Allocation().Admit(size) ? systemMalloc(size) : nullptr;
}

template <class Function>
bool Redirect(HMODULE plugin, const char* library, const char* name, Function replacement, Function& previous,
              std::string& error)
{
    void* const held = ReplaceImport(plugin, library, name, reinterpret_cast<void*>(replacement));
    if (!held) {
        error = std::string("the plug-in does not import ") + name + " from " + library;
        return false;
    }
    // A reload finds the validator's own function there no more: the loader
    // filled the table afresh.
    previous = reinterpret_cast<Function>(held);
    return true;
}

}  // namespace

bool RedirectPluginImports(HMODULE plugin, std::string& error)
{
    return Redirect<Clock32>(plugin, "WINMM.dll", "timeGetTime", &TimeGetTime, systemTime, error) &&
           Redirect<Clock32>(plugin, "KERNEL32.dll", "GetTickCount", &TickCount, systemTicks, error) &&
           Redirect<Malloc>(plugin, "msvcrt.dll", "malloc", &Allocate, systemMalloc, error);
}

}  // namespace velora::validator

extern "C" __declspec(dllexport) void* __cdecl VeloraValidatorService(int module, const velora::Guid* iid)
{
    return velora::validator::ServeModule(module, iid);
}
