// What the validator puts beneath the plug-in on Windows (windows_interpose.cpp):
// the clock it reads and the allocator it allocates from.
#pragma once

#include <windows.h>

#include <string>

namespace velora::validator {

// Redirects the loaded plug-in's imports of timeGetTime, GetTickCount and
// malloc to the validator's clock and allocator (controls.h). False, with
// the reason, when the library does not import one of them.
bool RedirectPluginImports(HMODULE plugin, std::string& error);

}  // namespace velora::validator
