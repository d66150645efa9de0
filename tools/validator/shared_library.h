// Loading and unloading a shared library, the system's way: dlopen on POSIX
// (posix_binary.cpp), LoadLibraryA on Windows (windows_binary.cpp). What the
// validator does with the libraries it loads, the plug-in and the host
// modules, is the same everywhere (binary.cpp).
#pragma once

#include <string>

namespace velora::validator::library {

// The library at path, loaded: its handle, or null with the reason in
// error. A host module's reason names its path.
void* Open(const std::string& path, bool hostModule, std::string& error);
void Close(void* handle);
// The address of an export; null when there is none.
void* Find(void* handle, const char* name);
// Readies the freshly loaded plug-in for a run: on Windows its clock and
// allocator imports are redirected to the validator's (windows_interpose.h).
// False, with the reason, when that cannot be done.
bool Prepare(void* plugin, std::string& error);
// The file of host module 0, 1 or 2 (MainSystem, Graph, SurfaceFactory) in
// the folder.
std::string ModulePath(const std::string& folder, int module);

}  // namespace velora::validator::library
