// The three host modules as the real shared objects, and the plug-in
// library finding them among the loaded objects and drawing through them.
#include <dlfcn.h>

#include <map>
#include <string>

#include <gtest/gtest.h>

#include "reference/drawing.h"
#include "reference/host_objects.h"
#include "reference/petals.h"
#include "contract/exports.h"

namespace velora::reference {
namespace {

using Factory = void* (*)(const Guid*);

void* Load(const std::string& path)
{
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(handle, nullptr) << dlerror();
    return handle;
}

template <class Function>
Function Export(void* library, const char* name)
{
    return library ? reinterpret_cast<Function>(dlsym(library, name)) : nullptr;
}

// Loaded once, in the engine's order, and kept for the whole run.
class HostModules : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        mainSystem = Load(VELORA_HOST_MODULE_DIR "/MainSystem.so");
        graph = Load(VELORA_HOST_MODULE_DIR "/Graph.so");
        surfaceFactory = Load(VELORA_HOST_MODULE_DIR "/SurfaceFactory.so");
        plugin = Load(VELORA_PLUGIN_PATH);
    }

    static inline void* mainSystem = nullptr;
    static inline void* graph = nullptr;
    static inline void* surfaceFactory = nullptr;
    static inline void* plugin = nullptr;
};

TEST_F(HostModules, ExportsAnswerTheirGuidsWithTheHostsServices)
{
    const auto getInterface = Export<Factory>(mainSystem, "GetInterface");
    const auto graphFactory = Export<Factory>(graph, "CreateInterface");
    const auto surfaces = Export<Factory>(surfaceFactory, "CreateInterface");
    ASSERT_TRUE(getInterface && graphFactory && surfaces);
    EXPECT_EQ(getInterface(&IID_MainSystem), QueryMainSystem(&IID_MainSystem));
    EXPECT_EQ(graphFactory(&IID_GraphBlend), QueryGraph(&IID_GraphBlend));
    EXPECT_EQ(graphFactory(&IID_GraphFilter), QueryGraph(&IID_GraphFilter));
    EXPECT_EQ(surfaces(&IID_SurfaceFactory), QuerySurfaceFactory(&IID_SurfaceFactory));
    EXPECT_EQ(getInterface(&IID_GraphBlend), nullptr);
    EXPECT_EQ(graphFactory(&IID_SurfaceFactory), nullptr);
    EXPECT_EQ(surfaces(nullptr), nullptr);
    EXPECT_EQ(Export<Factory>(mainSystem, "CreateInterface"), nullptr);

    // A surface from one module is drawn on by another.
    auto* factory = static_cast<ISurfaceFactory*>(surfaces(&IID_SurfaceFactory));
    auto* blend = static_cast<IGraphBlend*>(graphFactory(&IID_GraphBlend));
    ISurface* canvas = factory->CreateSurface(4, 4, kSurfaceFormat);
    HostSurface sprite(4, 4, "sprite");
    sprite.Fill({1, 2, 3, 255});
    EXPECT_EQ(blend->BlendRect(canvas, 0, 0, &sprite, 0, 0, 4, 4, 255), kDone);
    EXPECT_EQ(canvas->GetPixelAddress(3, 3)[2], 3);  // blue
    canvas->Destroy();
}

TEST_F(HostModules, ThePluginFindsThemAndDrawsEveryModeThroughThem)
{
    ASSERT_NE(plugin, nullptr);
    const auto create = Export<IDrawPlugin* (*)(const Guid*)>(plugin, "CreateInterface");
    const auto init = Export<void (*)(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                                      std::int32_t)>(plugin, "Init");
    const auto setType = Export<void (*)(std::int32_t, std::int32_t)>(plugin, "SetType");
    const auto start = Export<void (*)(std::int32_t)>(plugin, "Start");
    ASSERT_TRUE(create && init && setType && start);

    // The plug-in tells every service it cannot acquire on standard error.
    ::testing::internal::CaptureStderr();
    IDrawPlugin* object = create(&IID_DrawPlugin);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    ASSERT_NE(object, nullptr);

    HostSpriteBank bank(1);
    for (auto& petal : DrawPetals()) {
        bank.Add(std::move(petal));
    }
    HostDrawHost drawHost;
    object->SetInterface(&IID_DrawHost, static_cast<IDrawHost*>(&drawHost));
    object->SetInterface(&IID_SpriteBank, static_cast<ISpriteBank*>(&bank));

    std::map<std::string, int> calls;
    int refused = 0;
    SetDrawObserver([&](const DrawCall& call) { ++(call.result == kDone ? calls[call.operation] : refused); });
    const std::size_t surfacesBefore = HostSurface::LiveCount();
    for (std::int32_t mode = 0; mode < 4; ++mode) {
        init(mode, 96, 96, 1, 16, 4);
        setType(mode, mode);
        start(mode);
        HostSurface frame(96, 96, "frame");
        frame.Fill({40, 60, 90, 255});
        object->Draw(mode, &frame, 0, 0, 0, 0, 0, 0, 255);
        int changed = 0;
        for (int y = 0; y < 96; ++y) {
            for (int x = 0; x < 96; ++x) {
                changed += frame.Pixel(x, y) == Rgba{40, 60, 90, 255} ? 0 : 1;
            }
        }
        EXPECT_GT(changed, 100) << "mode " << mode;
    }
    SetDrawObserver({});
    EXPECT_EQ(HostSurface::LiveCount(), surfacesBefore) << "every scratch surface was ended";
    EXPECT_EQ(refused, 0);
    EXPECT_GT(calls["BlendRect"], 0);
    EXPECT_GT(calls["BlendRectAlt"], 0);
    EXPECT_EQ(calls["FilterRect"], calls["DrawRect"]);
    EXPECT_GT(calls["DrawRect"], 0);
    EXPECT_EQ(calls["CopyRect"], calls["FilterRect"] + calls["MixRect"]);
    EXPECT_GT(calls["MixRect"], 0);

    object->Update();
    EXPECT_EQ(drawHost.Reports().back(), (HostDrawHost::Report{3, 0, 0, 640, 480}));
    object->Destroy();
}

}  // namespace
}  // namespace velora::reference
