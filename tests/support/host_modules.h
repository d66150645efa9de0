// The three host modules, answering from one RecordingHost through the fake
// module table, as the engine's MainSystem, Graph and SurfaceFactory would.
#pragma once

#include "support/fake_modules.h"
#include "support/recording_host.h"

namespace velora::testing {

class HostModules {
public:
    explicit HostModules(RecordingHost& host) { serving = &host; }
    ~HostModules() { serving = nullptr; }
    HostModules(const HostModules&) = delete;
    HostModules& operator=(const HostModules&) = delete;

    // Makes all three modules loaded, each with its factory export.
    void LoadInto(FakeModules& modules)
    {
        modules.Load("MainSystem", {{"GetInterface", &MainSystem}});
        modules.Load("Graph", {{"CreateInterface", &Graph}});
        modules.Load("SurfaceFactory", {{"CreateInterface", &SurfaceFactory}});
    }

    static void* MainSystem(const Guid* iid) { return GuidEquals(iid, &IID_MainSystem) ? &mainSystem : nullptr; }
    static void* Graph(const Guid* iid)
    {
        if (GuidEquals(iid, &IID_GraphBlend)) {
            return static_cast<IGraphBlend*>(&serving->graphBlend);
        }
        if (GuidEquals(iid, &IID_GraphFilter) && !refuseGraphFilter) {
            return static_cast<IGraphFilter*>(&serving->graphFilter);
        }
        return nullptr;
    }
    static void* SurfaceFactory(const Guid* iid)
    {
        return GuidEquals(iid, &IID_SurfaceFactory) ? static_cast<ISurfaceFactory*>(&serving->surfaceFactory)
                                                    : nullptr;
    }

    static inline bool refuseGraphFilter = false;

private:
    static inline RecordingHost* serving = nullptr;
    static inline int mainSystem = 0;
};

}  // namespace velora::testing
