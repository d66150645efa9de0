// The platform layer: the only place that talks to the operating system.
//
// Windows: timeGetTime, GetTickCount, GetModuleHandleA, GetProcAddress and
// OutputDebugStringA. Elsewhere: CLOCK_MONOTONIC in whole milliseconds,
// truncated to 32 bits, for both clocks; a host module X is the already
// loaded shared object named X.so; debug messages go to standard error
// unchanged. WebAssembly (Emscripten): see web.h. Tests replace
// each of these through the seams at the bottom.
#pragma once

#include <cstdint>

namespace velora::platform {

// The millisecond multimedia clock (timeGetTime): unsigned, wraps at 2^32.
std::uint32_t MultimediaTime();

// The millisecond tick count (GetTickCount) that seeds the random source.
std::uint32_t TickCount();

// A loaded module, as GetModuleHandleA gives it; null when not loaded.
using ModuleHandle = void*;
// An exported function's address, to be cast to its real type.
using ExportAddress = void (*)();

// The module of that name already loaded in the process (no extension on
// Windows; name.so elsewhere). Never loads anything; holds no reference.
ModuleHandle FindLoadedModule(const char* name);

// The named export of a module found by FindLoadedModule, or null.
ExportAddress FindExport(ModuleHandle module, const char* name);

// Sends one debug message (OutputDebugStringA): the bytes go out unchanged.
void DebugOutput(const char* message);

namespace testing {

using TimeSource = std::uint32_t (*)();
using ModuleFinder = ModuleHandle (*)(const char* name);
using ExportFinder = ExportAddress (*)(ModuleHandle module, const char* name);
using DebugSink = void (*)(const char* message);

// Replaces the clock behind MultimediaTime; nullptr restores the system one.
void OverrideMultimediaTime(TimeSource source);

// Replaces the counter behind TickCount; nullptr restores the system one.
void OverrideTickCount(TimeSource source);

// Replaces module and export lookup; nullptrs restore the system's.
void OverrideModuleLookup(ModuleFinder findModule, ExportFinder findExport);

// Receives the debug messages instead of the system; nullptr restores it.
void OverrideDebugOutput(DebugSink sink);

}  // namespace testing
}  // namespace velora::platform
