// System calls behind the platform layer, and the seams tests drive.
#include "plugin/platform.h"

#if defined(_WIN32)
#include <windows.h>
#include <mmsystem.h>
#else
#include <dlfcn.h>
#include <link.h>
#include <time.h>

#include <cstdio>
#include <cstring>
#include <string>
#endif

namespace velora::platform {
namespace {

#if defined(_WIN32)
std::uint32_t SystemMultimediaTime() { return timeGetTime(); }
std::uint32_t SystemTickCount() { return GetTickCount(); }

ModuleHandle SystemFindLoadedModule(const char* name)
{
    return reinterpret_cast<ModuleHandle>(GetModuleHandleA(name));
}

ExportAddress SystemFindExport(ModuleHandle module, const char* name)
{
    return reinterpret_cast<ExportAddress>(
        reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name)));
}

void SystemDebugOutput(const char* message) { OutputDebugStringA(message); }
#else
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
std::uint32_t SystemMultimediaTime() { return MonotonicMilliseconds(); }
std::uint32_t SystemTickCount() { return MonotonicMilliseconds(); }

// Walks the loaded objects for one whose file name is exactly `wanted`.
struct ModuleSearch {
    std::string wanted;
    std::string path;
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

ModuleHandle SystemFindLoadedModule(const char* name)
{
    if (!name) {
        return nullptr;
    }
    ModuleSearch search{std::string(name) + ".so", {}};
    if (!dl_iterate_phdr(&MatchLoadedObject, &search)) {
        return nullptr;
    }
    // RTLD_NOLOAD only finds an object that is already there. Like
    // GetModuleHandleA the result holds no reference: the handle stays valid
    // while the host keeps the module loaded.
    void* handle = dlopen(search.path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle) {
        dlclose(handle);
    }
    return handle;
}

ExportAddress SystemFindExport(ModuleHandle module, const char* name)
{
    return reinterpret_cast<ExportAddress>(dlsym(module, name));
}

void SystemDebugOutput(const char* message)
{
    std::fputs(message, stderr);
    std::fflush(stderr);
}
#endif

testing::TimeSource multimediaOverride = nullptr;
testing::TimeSource tickOverride = nullptr;
testing::ModuleFinder moduleOverride = nullptr;
testing::ExportFinder exportOverride = nullptr;
testing::DebugSink debugOverride = nullptr;

}  // namespace

std::uint32_t MultimediaTime()
{
    return multimediaOverride ? multimediaOverride() : SystemMultimediaTime();
}

std::uint32_t TickCount()
{
    return tickOverride ? tickOverride() : SystemTickCount();
}

ModuleHandle FindLoadedModule(const char* name)
{
    return moduleOverride ? moduleOverride(name) : SystemFindLoadedModule(name);
}

ExportAddress FindExport(ModuleHandle module, const char* name)
{
    return exportOverride ? exportOverride(module, name) : SystemFindExport(module, name);
}

void DebugOutput(const char* message)
{
    if (debugOverride) {
        debugOverride(message);
    } else {
        SystemDebugOutput(message);
    }
}

namespace testing {
void OverrideMultimediaTime(TimeSource source) { multimediaOverride = source; }
void OverrideTickCount(TimeSource source) { tickOverride = source; }
void OverrideModuleLookup(ModuleFinder findModule, ExportFinder findExport)
{
    moduleOverride = findModule;
    exportOverride = findExport;
}
void OverrideDebugOutput(DebugSink sink) { debugOverride = sink; }
}  // namespace testing

}  // namespace velora::platform
