// The platform layer's entry points: each asks the test seam when one is
// set, else the system (one source file per system: windows.cpp, posix.cpp,
// web.cpp).
#include "platform/platform.h"

#include "platform/os.h"

namespace velora::platform {
namespace {

testing::TimeSource multimediaOverride = nullptr;
testing::TimeSource tickOverride = nullptr;
testing::ModuleFinder moduleOverride = nullptr;
testing::ExportFinder exportOverride = nullptr;
testing::DebugSink debugOverride = nullptr;

}  // namespace

std::uint32_t MultimediaTime()
{
    return multimediaOverride ? multimediaOverride() : os::MultimediaTime();
}

std::uint32_t TickCount()
{
    return tickOverride ? tickOverride() : os::TickCount();
}

ModuleHandle FindLoadedModule(const char* name)
{
    return moduleOverride ? moduleOverride(name) : os::FindLoadedModule(name);
}

ExportAddress FindExport(ModuleHandle module, const char* name)
{
    return exportOverride ? exportOverride(module, name) : os::FindExport(module, name);
}

void DebugOutput(const char* message)
{
    if (debugOverride) {
        debugOverride(message);
    } else {
        os::DebugOutput(message);
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
