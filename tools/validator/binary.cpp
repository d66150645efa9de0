// The plug-in and the host modules as loaded libraries (binary.h), over the
// system's way of loading them (shared_library.h).
#include "validator/binary.h"

#include <string>
#include <utility>

#include "contract/plugin_access.h"
#include "validator/shared_library.h"

namespace velora::validator {

PluginLibrary::~PluginLibrary() { Close(); }

bool PluginLibrary::Open(const std::string& path, std::string& error)
{
    Close();
    handle_ = library::Open(path, false, error);
    if (!handle_) {
        return false;
    }
    path_ = path;
    const char* missing =
        exports::BindExports(*this, [this](const char* name) { return library::Find(handle_, name); });
    if (missing) {
        error = std::string("the plug-in does not export ") + missing;
    } else if (!library::Prepare(handle_, error)) {
        missing = "";
    }
    if (missing) {
        Close();
    }
    return !missing;
}

void PluginLibrary::Close()
{
    if (handle_) {
        library::Close(handle_);
        handle_ = nullptr;
    }
}

HostModules::HostModules(std::string withFactoryDir, std::string withoutFactoryDir)
    : dirs_{std::move(withFactoryDir), std::move(withoutFactoryDir)}
{
}

HostModules::~HostModules()
{
    for (void*& handle : handles_) {
        if (handle) {
            library::Close(handle);
            handle = nullptr;
        }
    }
}

bool HostModules::Set(int module, State state, std::string& error)
{
    if (state_[module] == state) {
        return true;
    }
    if (handles_[module]) {
        library::Close(handles_[module]);
        handles_[module] = nullptr;
    }
    state_[module] = State::Unloaded;
    if (state == State::Unloaded) {
        return true;
    }
    const std::string& dir = dirs_[state == State::WithFactory ? 0 : 1];
    handles_[module] = library::Open(library::ModulePath(dir, module), true, error);
    if (!handles_[module]) {
        return false;
    }
    state_[module] = state;
    return true;
}

}  // namespace velora::validator
