// The plug-in, the host modules and the debug messages on POSIX systems:
// libraries loaded with dlopen, the modules as MainSystem.so, Graph.so and
// SurfaceFactory.so, and the standard error stream caught in a memory file.
#include "validator/binary.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <vector>

#include "validator/shared_library.h"

namespace velora::validator {
namespace library {

void* Open(const std::string& path, bool hostModule, std::string& error)
{
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* reason = dlerror();
        error = reason ? reason : hostModule ? "cannot load " + path : "dlopen failed";
    }
    return handle;
}

void Close(void* handle) { dlclose(handle); }

void* Find(void* handle, const char* name) { return dlsym(handle, name); }

// The plug-in's clock and allocator calls bind to the validator's own
// exported definitions (interpose.cpp): nothing to do once it is loaded.
bool Prepare(void*, std::string&) { return true; }

std::string ModulePath(const std::string& folder, int module)
{
    static const char* const kModuleFiles[3] = {"MainSystem.so", "Graph.so", "SurfaceFactory.so"};
    return folder + "/" + kModuleFiles[module];
}

}  // namespace library

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
