// The plug-in and the host modules, loaded by path as the engine loads them.
//
// The previewer knows the plug-in only by its nine exports and by the table
// of operations of the object CreateInterface returns; it links none of the
// plug-in's code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "contract/exports.h"

namespace velora::previewer {

// The three host modules, loaded from one folder. They must be loaded before
// the plug-in's CreateInterface, which finds them among the loaded objects.
class HostModules {
public:
    // Throws std::runtime_error naming the module that is missing, cannot be
    // loaded, or lacks its factory export.
    explicit HostModules(const std::string& directory);
    ~HostModules();
    HostModules(const HostModules&) = delete;
    HostModules& operator=(const HostModules&) = delete;

private:
    std::vector<void*> handles_;
};

// The nine exports are the members of exports::PluginExports.
class PluginLibrary : public exports::PluginExports {
public:
    // Throws std::runtime_error when the file is missing, cannot be loaded,
    // or lacks one of the nine exports.
    explicit PluginLibrary(const std::string& path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

private:
    void* handle_ = nullptr;
};

}  // namespace velora::previewer
