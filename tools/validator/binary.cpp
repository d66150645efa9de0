#include "validator/binary.h"
#include "kit/plugin_access.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <utility>
#include <vector>

namespace velora::validator {
namespace {

const char* const kModuleFiles[3] = {"MainSystem.so", "Graph.so", "SurfaceFactory.so"};

}  // namespace

PluginLibrary::~PluginLibrary() { Close(); }

bool PluginLibrary::Open(const std::string& path, std::string& error)
{
    Close();
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* reason = dlerror();
        error = reason ? reason : "dlopen failed";
        return false;
    }
    path_ = path;
    const char* missing = exports::BindExports(*this, [this](const char* name) { return dlsym(handle_, name); });
    if (missing) {
        error = std::string("the plug-in does not export ") + missing;
        Close();
    }
    return !missing;
}

void PluginLibrary::Close()
{
    if (handle_) {
        dlclose(handle_);
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
            dlclose(handle);
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
        dlclose(handles_[module]);
        handles_[module] = nullptr;
    }
    state_[module] = State::Unloaded;
    if (state == State::Unloaded) {
        return true;
    }
    const std::string& dir = dirs_[state == State::WithFactory ? 0 : 1];
    const std::string path = dir + "/" + kModuleFiles[module];
    handles_[module] = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handles_[module]) {
        const char* reason = dlerror();
        error = reason ? reason : ("cannot load " + path);
        return false;
    }
    state_[module] = state;
    return true;
}

void SetSanitizerDeathCallback(void (*onDeath)())
{
    std::vector<std::string> objects{""};  // "" is the program itself
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            if (info->dlpi_name && *info->dlpi_name) {
                static_cast<std::vector<std::string>*>(data)->emplace_back(info->dlpi_name);
            }
            return 0;
        },
        &objects);
    std::set<void*> told;
    for (const std::string& name : objects) {
        void* object = dlopen(name.empty() ? nullptr : name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
        if (!object) {
            continue;
        }
        void* setDeath = dlsym(object, "__sanitizer_set_death_callback");
        if (setDeath && told.insert(setDeath).second) {
            reinterpret_cast<void (*)(void (*)())>(setDeath)(onDeath);
        }
        dlclose(object);
    }
}

MessageCapture::MessageCapture()
{
    file_ = memfd_create("velora-messages", MFD_CLOEXEC);
    if (file_ >= 0) {
        stream_ = fdopen(file_, "w");
    }
    if (stream_) {
        std::setvbuf(stream_, nullptr, _IONBF, 0);  // unbuffered, as stderr is
    }
}

MessageCapture::~MessageCapture()
{
    if (saved_) {
        stderr = saved_;
    }
    if (stream_) {
        std::fclose(stream_);
    } else if (file_ >= 0) {
        close(file_);
    }
}

void MessageCapture::Begin()
{
    saved_ = stderr;
    stderr = stream_;
}

std::string MessageCapture::End()
{
    std::fflush(stream_);
    stderr = saved_;
    saved_ = nullptr;
    const long size = std::ftell(stream_);
    if (size <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(size), '\0');
    const ssize_t got = pread(file_, text.data(), text.size(), 0);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    if (ftruncate(file_, 0) != 0) {
        text += "(capture could not be emptied)";
    }
    std::rewind(stream_);
    return text;
}

}  // namespace velora::validator
