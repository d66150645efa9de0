// dlopen and dlsym behind the plug-in and the host modules. The modules stay
// loaded while the plug-in runs, as it finds them among the loaded objects
// by file name; a missing export is named in the error.
#include "previewer/plugin_library.h"

#include "contract/host_modules.h"
#include "contract/plugin_access.h"

#include <dlfcn.h>

#include <filesystem>
#include <stdexcept>

namespace velora::previewer {
namespace {

// dlopen searches the library path for a bare name; a file name given on
// the command line means that file.
std::string AsPath(const std::string& path)
{
    return path.find('/') == std::string::npos ? "./" + path : path;
}

std::string LastLoaderError()
{
    const char* error = dlerror();
    return error ? error : "unknown error";
}

void* Open(const std::string& path, const std::string& what)
{
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        throw std::runtime_error(what + " not found: " + path);
    }
    void* handle = dlopen(AsPath(path).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        throw std::runtime_error("cannot load " + what + " " + path + ": " + LastLoaderError());
    }
    return handle;
}

}  // namespace

HostModules::HostModules(const std::string& directory)
{
    struct Module {
        const char* file;
        const char* factory;
    };
    static constexpr Module kModules[] = {
        {"MainSystem.so", modules::kMainSystemExport},
        {"Graph.so", modules::kGraphExport},
        {"SurfaceFactory.so", modules::kSurfaceFactoryExport}};
    try {
        for (const Module& module : kModules) {
            const std::string path = (std::filesystem::path(directory) / module.file).string();
            void* handle = Open(path, "host module");
            handles_.push_back(handle);
            if (!dlsym(handle, module.factory)) {
                throw std::runtime_error("host module " + path + " has no export " + module.factory);
            }
        }
    } catch (...) {
        for (void* handle : handles_) {
            dlclose(handle);
        }
        throw;
    }
}

HostModules::~HostModules()
{
    for (auto it = handles_.rbegin(); it != handles_.rend(); ++it) {
        dlclose(*it);
    }
}

PluginLibrary::PluginLibrary(const std::string& path) : handle_(Open(path, "plug-in"))
{
    try {
        if (const char* missing =
                exports::BindExports(*this, [this](const char* name) { return dlsym(handle_, name); })) {
            throw std::runtime_error(path + " is not a DrawVelora plug-in: it has no export " + missing);
        }
    } catch (...) {
        dlclose(handle_);
        throw;
    }
}

PluginLibrary::~PluginLibrary() { dlclose(handle_); }

}  // namespace velora::previewer
