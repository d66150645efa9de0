// Stand-in host modules for the plug-in's service lookup: a table of module
// names, each with named factory exports, in place of the loaded objects.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "contract/guid.h"
#include "platform/platform.h"

namespace velora::testing {

using FactoryExport = void* (*)(const Guid* iid);

class FakeModules {
public:
    FakeModules()
    {
        active = this;
        platform::testing::OverrideModuleLookup(&FindModule, &FindExport);
    }
    ~FakeModules()
    {
        platform::testing::OverrideModuleLookup(nullptr, nullptr);
        active = nullptr;
    }
    FakeModules(const FakeModules&) = delete;
    FakeModules& operator=(const FakeModules&) = delete;

    // Makes a module "loaded", with the given exports.
    void Load(const std::string& module, std::map<std::string, FactoryExport> exports)
    {
        modules[module] = std::move(exports);
    }
    void Unload(const std::string& module) { modules.erase(module); }

    std::map<std::string, std::map<std::string, FactoryExport>> modules;
    std::vector<std::string> lookups;  // module names in lookup order

private:
    static platform::ModuleHandle FindModule(const char* name)
    {
        active->lookups.emplace_back(name);
        const auto it = active->modules.find(name);
        return it == active->modules.end() ? nullptr : &it->second;
    }
    static platform::ExportAddress FindExport(platform::ModuleHandle module, const char* name)
    {
        const auto& exports = *static_cast<std::map<std::string, FactoryExport>*>(module);
        const auto it = exports.find(name);
        return it == exports.end() ? nullptr : reinterpret_cast<platform::ExportAddress>(it->second);
    }
    static inline FakeModules* active = nullptr;
};

}  // namespace velora::testing
