// The platform layer on Linux and other POSIX systems: CLOCK_MONOTONIC for
// both clocks, the loaded shared objects for host modules (module X is the
// loaded X.so) and standard error for debug messages.
#include "platform/os.h"

#include <dlfcn.h>
#include <link.h>
#include <time.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace velora::platform::os {
namespace {

// Milliseconds of CLOCK_MONOTONIC, truncated to the low 32 bits so that it
// wraps exactly like the Windows counters.
std::uint32_t MonotonicMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                    static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

// Walks the loaded objects for one whose file name is exactly `wanted`. The
// callback runs inside the loader, so it must not allocate or throw: it only
// keeps a pointer to the object's name, valid while the object is loaded.
struct ModuleSearch {
    std::string wanted;
    const char* path = nullptr;
};

int MatchLoadedObject(dl_phdr_info* info, std::size_t, void* data)
{
    auto* search = static_cast<ModuleSearch*>(data);
    const char* path = info->dlpi_name;
    if (!path || !*path) {
        return 0;  // the main program, or the vDSO
    }
    const char* slash = std::strrchr(path, '/');
    const char* base = slash ? slash + 1 : path;
    if (search->wanted != base) {
        return 0;
    }
    search->path = path;
    return 1;
}

}  // namespace

std::uint32_t MultimediaTime() { return MonotonicMilliseconds(); }
std::uint32_t TickCount() { return MonotonicMilliseconds(); }

ModuleHandle FindLoadedModule(const char* name)
{
    if (!name) {
        return nullptr;
    }
    ModuleSearch search{std::string(name) + ".so", nullptr};
    if (!dl_iterate_phdr(&MatchLoadedObject, &search)) {
        return nullptr;
    }
    // RTLD_NOLOAD only finds an object that is already there. Like
    // GetModuleHandleA the result holds no reference: the handle stays valid
    // while the host keeps the module loaded.
    void* handle = dlopen(search.path, RTLD_LAZY | RTLD_NOLOAD);
    if (handle) {
        dlclose(handle);
    }
    return handle;
}

ExportAddress FindExport(ModuleHandle module, const char* name)
{
    return reinterpret_cast<ExportAddress>(dlsym(module, name));
}

void DebugOutput(const char* message)
{
    std::fputs(message, stderr);
    std::fflush(stderr);
}

}  // namespace velora::platform::os
