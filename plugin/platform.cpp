// System calls behind the platform layer, and the seams tests drive.
#include "plugin/platform.h"

#if defined(_WIN32)
#include <windows.h>
#include <mmsystem.h>
#elif defined(__EMSCRIPTEN__)
#include <emscripten.h>

#include <cstring>
#include <map>
#include <string>

#include "plugin/platform_web.h"
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
#elif defined(__EMSCRIPTEN__)
// The browser's monotonic clock (performance.now), less the time the page
// held it, in whole milliseconds truncated to the low 32 bits so that it
// wraps exactly like the Windows counters.
struct WebClock {
    bool held = false;
    double heldSince = 0.0;  // browser time when the hold began
    double heldTotal = 0.0;  // milliseconds spent held, never counted
};
WebClock webClock;

std::uint32_t WebMilliseconds()
{
    const double now = webClock.held ? webClock.heldSince : emscripten_get_now();
    const double ms = now - webClock.heldTotal;
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms > 0.0 ? ms : 0.0));
}
std::uint32_t SystemMultimediaTime() { return WebMilliseconds(); }
std::uint32_t SystemTickCount() { return WebMilliseconds(); }

// The modules the page's host registered: name -> export name -> address.
// std::map keeps each module's node in place, so its address is the handle.
using WebModule = std::map<std::string, ExportAddress>;
std::map<std::string, WebModule>& WebModules()
{
    static std::map<std::string, WebModule> modules;
    return modules;
}

ModuleHandle SystemFindLoadedModule(const char* name)
{
    if (!name) {
        return nullptr;
    }
    auto found = WebModules().find(name);
    return found == WebModules().end() ? nullptr : &found->second;
}

ExportAddress SystemFindExport(ModuleHandle module, const char* name)
{
    if (!module || !name) {
        return nullptr;
    }
    const auto& exports = *static_cast<WebModule*>(module);
    auto found = exports.find(name);
    return found == exports.end() ? nullptr : found->second;
}

// The messages are code page 932 bytes; the browser's Shift_JIS decoder
// (which is Windows' code page 932) makes them readable text for the console
// and for the page, which receives them through Module.onDebugMessage. A
// browser without that decoder shows the bytes above 0x7F as <XX>. (No
// backslash in this JavaScript: the macro does not carry one through.)
// clang-format off
EM_JS(void, WebDebugOutput, (const char* bytes, int length), {
    const raw = HEAPU8.slice(bytes, bytes + length);
    let text;
    try {
        text = new TextDecoder("shift_jis").decode(raw);
    } catch (e) {
        text = Array.from(raw, function(b) {
            return b < 0x80 ? String.fromCharCode(b) : "<" + b.toString(16).toUpperCase() + ">";
        }).join("");
    }
    const line = text.charCodeAt(text.length - 1) === 10 ? text.slice(0, -1) : text;
    console.log("DrawVelora: " + line);
    if (typeof Module["onDebugMessage"] === "function") {
        Module["onDebugMessage"](text, raw);
    }
});
// clang-format on

void SystemDebugOutput(const char* message)
{
    if (message) {
        WebDebugOutput(message, static_cast<int>(std::strlen(message)));
    }
}
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

ModuleHandle SystemFindLoadedModule(const char* name)
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

#if defined(__EMSCRIPTEN__)
namespace web {
void RegisterModuleExport(const char* module, const char* exportName, ExportAddress address)
{
    if (!module || !exportName) {
        return;
    }
    WebModule& exports = WebModules()[module];
    if (address) {
        exports[exportName] = address;
    } else {
        exports.erase(exportName);
    }
}

void ForgetModules() { WebModules().clear(); }

void HoldClock(bool held)
{
    if (held == webClock.held) {
        return;
    }
    const double now = emscripten_get_now();
    if (held) {
        webClock.heldSince = now;
    } else {
        webClock.heldTotal += now - webClock.heldSince;
    }
    webClock.held = held;
}
}  // namespace web
#endif

}  // namespace velora::platform
