// The real module lookup: host modules are found among the shared objects
// already loaded, by file name, and never loaded by the plug-in itself.
#include <dlfcn.h>

#include <string>

#include <gtest/gtest.h>

#include "effect/instance_registry.h"
#include "contract/exports.h"
#include "contract/plugin_access.h"
#include "support/debug_capture.h"

namespace velora {
namespace {

const std::string kHostModuleMissing = "\x81\xA1" "ERROR - hDLL==NULL - GetQuenIF GetModuleHandle\n";

void* Open(const char* name)
{
    const std::string path = std::string(VELORA_TEST_MODULE_DIR) + "/" + name;
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(handle, nullptr) << dlerror();
    return handle;
}

void* Answer(void* module, const char* exportName, const Guid& iid)
{
    using Factory = void* (*)(const Guid*);
    return reinterpret_cast<Factory>(dlsym(module, exportName))(&iid);
}

TEST(HostModules, AreFoundOnlyOnceTheHostHasLoadedThem)
{
    testing::DebugCapture debug;
    IDrawPlugin* before = CreateInterface(&IID_DrawPlugin);
    ASSERT_NE(before, nullptr);
    EXPECT_EQ(debug.messages, std::vector<std::string>(4, kHostModuleMissing));
    EXPECT_EQ(dlopen(VELORA_TEST_MODULE_DIR "/Graph.so", RTLD_NOW | RTLD_NOLOAD), nullptr)
        << "the lookup must never load a module";
    before->Destroy();

    void* mainSystem = Open("MainSystem.so");
    void* graph = Open("Graph.so");
    void* surfaceFactory = Open("SurfaceFactory.so");
    debug.messages.clear();
    IDrawPlugin* plugin = CreateInterface(&IID_DrawPlugin);
    ASSERT_NE(plugin, nullptr);
    const DrawPluginFields fields = FieldsOf(plugin);
    EXPECT_TRUE(debug.messages.empty());
    EXPECT_EQ(static_cast<void*>(fields.mainSystem), Answer(mainSystem, "GetInterface", IID_MainSystem));
    EXPECT_EQ(static_cast<void*>(fields.graphBlend), Answer(graph, "CreateInterface", IID_GraphBlend));
    EXPECT_EQ(static_cast<void*>(fields.graphFilter), Answer(graph, "CreateInterface", IID_GraphFilter));
    EXPECT_NE(static_cast<void*>(fields.graphBlend), static_cast<void*>(fields.graphFilter));
    EXPECT_EQ(static_cast<void*>(fields.surfaceFactory),
              Answer(surfaceFactory, "CreateInterface", IID_SurfaceFactory));
    plugin->Destroy();
    dlclose(surfaceFactory);
    dlclose(graph);
    dlclose(mainSystem);
}

}  // namespace
}  // namespace velora
