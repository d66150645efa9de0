// What each system's source file provides to the platform layer: the real
// clocks, module lookup and debug output, with no test seam in between.
// Exactly one of windows.cpp, posix.cpp and web.cpp is built.
#pragma once

#include "platform/platform.h"

namespace velora::platform::os {

std::uint32_t MultimediaTime();
std::uint32_t TickCount();
ModuleHandle FindLoadedModule(const char* name);
ExportAddress FindExport(ModuleHandle module, const char* name);
void DebugOutput(const char* message);

}  // namespace velora::platform::os
