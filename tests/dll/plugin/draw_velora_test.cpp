// The plug-in object as the engine sees it: its table of operations and
// fields, the services it acquires, SetInterface, Update's report and
// Destroy; the nothrow operator new here lets a test fail its next
// allocation. Also the debug messages' bytes on both platforms.
#include <new>
#include <string>

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "contract/exports.h"
#include "contract/plugin_access.h"
#include "effect/instance_registry.h"
#include "support/debug_capture.h"
#include "support/fake_clock.h"
#include "support/fake_modules.h"
#include "support/host_modules.h"
#include "support/recording_host.h"
#include "support/slots.h"

namespace {
bool failNextNothrowNew = false;
}  // namespace

// Lets a test make the plug-in's next allocation fail. Otherwise it does
// what the default nothrow form does: the plain operator new, so that the
// memory matches the operator delete that frees it (AddressSanitizer checks).
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    if (failNextNothrowNew) {
        failNextNothrowNew = false;
        return nullptr;
    }
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

namespace velora {
namespace {

using testing::CallSlot;

// The eight messages, spelled out as bytes: code page 932, one line each.
const std::string kHostModuleMissing = "\x81\xA1" "ERROR - hDLL==NULL - GetQuenIF GetModuleHandle\n";
const std::string kExportMissing = "\x81\xA1" "ERROR - CreateInterface==NULL - GetQuenIF GetProcAddress\n";
const std::string kServiceNull = "\x81\xA1" "ERROR - pGuid==NULL - GetQuenIF CreateInterface\n";
const std::string kFactoryNullGuid = "\x81\xA1" "ERROR - pGuid==NULL - CreateInterface\n";
const std::string kFactoryWrongGuid =
    "\x81\xA0" "WARNING - \x96\xA2\x91\xCE\x89\x9E\x82\xCCGUID\x82\xAA\x93n\x82\xB3\x82\xEA\x82\xBD - CreateInterface\n";
const std::string kSetNullGuid = "\x81\xA1" "ERROR - pGuid==NULL - CDrawTest::SetInterface\n";
const std::string kSetNullInterface = "\x81\xA1" "ERROR - pvInterface==NULL - CDrawTest::SetInterface\n";
const std::string kSetWrongGuid =
    "\x81\xA0" "WARNING - \x96\xA2\x91\xCE\x89\x9E\x82\xCCGUID\x82\xAA\x93n\x82\xB3\x82\xEA\x82\xBD - CDrawTest::SetInterface\n";

class PluginObject : public ::testing::Test {
protected:
    PluginObject()
    {
        testing::HostModules::refuseGraphFilter = false;
        Instances().Clear();
    }
    ~PluginObject() override { Instances().Clear(); }

    // Whether plugin is the object Init writes to. A probing Init into an
    // object already ended would be a use after free, which the sanitized
    // run of this suite reports.
    static bool IsCurrent(IDrawPlugin* plugin)
    {
        DrawPluginFields fields = FieldsOf(plugin);
        ProbeInit();
        const bool current = FieldsOf(plugin).lastHandle == kProbeHandle;
        SetFields(plugin, fields);  // as it was
        return current;
    }
    static void ProbeInit()
    {
        Init(kProbeHandle, 1, 1, 0, 1, 1);
        Release(kProbeHandle);
    }
    static constexpr std::int32_t kProbeHandle = -424242;

    void LoadAllModules() { hostModules.LoadInto(modules); }

    IDrawPlugin* Create()
    {
        IDrawPlugin* plugin = CreateInterface(&IID_DrawPlugin);
        EXPECT_NE(plugin, nullptr);
        return plugin;
    }

    testing::RecordingHost host;
    testing::HostModules hostModules{host};
    testing::FakeModules modules;
    testing::DebugCapture debug;
    testing::FakeClock clock;
};

TEST_F(PluginObject, OperationsSitAtTheirTablePositions)
{
    LoadAllModules();
    IDrawPlugin* plugin = Create();
    EXPECT_EQ(CallSlot<std::int32_t>(plugin, 0), 1);  // Retain

    CallSlot<void>(plugin, 2, &IID_DrawHost, static_cast<void*>(static_cast<IDrawHost*>(&host.drawHost)));
    Init(7, 800, 600, 0, 16, 4);
    EXPECT_EQ(CallSlot<std::int32_t>(plugin, 3), host.drawHost.answer);  // Update
    EXPECT_EQ(host.log.calls, std::vector<std::string>{"ReportRect@0(7, 0, 0, 640, 480)"});

    EXPECT_EQ(CallSlot<std::int32_t>(plugin, 1), 0);  // Destroy
    ProbeInit();  // no current object is left to write to
    EXPECT_EQ(Instances().Find(7), nullptr);
    EXPECT_TRUE(debug.messages.empty());
}

TEST_F(PluginObject, FieldsFollowTheTablePointerInOrder)
{
    LoadAllModules();
    IDrawPlugin* plugin = Create();
    plugin->SetInterface(&IID_DrawHost, static_cast<IDrawHost*>(&host.drawHost));
    plugin->SetInterface(&IID_SpriteBank, static_cast<ISpriteBank*>(&host.spriteBank));
    Init(-3, 11, 12, 0, 1, 1);

    void* const* words = reinterpret_cast<void* const*>(plugin);
    EXPECT_EQ(words[1], static_cast<IDrawHost*>(&host.drawHost));
    EXPECT_EQ(words[2], static_cast<ISpriteBank*>(&host.spriteBank));
    EXPECT_EQ(words[3], testing::HostModules::MainSystem(&IID_MainSystem));
    EXPECT_EQ(words[4], static_cast<ISurfaceFactory*>(&host.surfaceFactory));
    EXPECT_EQ(words[5], static_cast<IGraphBlend*>(&host.graphBlend));
    EXPECT_EQ(words[6], static_cast<IGraphFilter*>(&host.graphFilter));
    const auto* numbers = reinterpret_cast<const std::int32_t*>(&words[7]);
    EXPECT_EQ(numbers[0], -3);
    EXPECT_EQ(numbers[1], 11);
    EXPECT_EQ(numbers[2], 12);
    // The contract's view of the same memory.
    const DrawPluginFields fields = FieldsOf(plugin);
    EXPECT_EQ(fields.table, words[0]);
    EXPECT_EQ(fields.graphFilter, static_cast<IGraphFilter*>(&host.graphFilter));
    EXPECT_EQ(fields.lastHeight, 12);
    plugin->Destroy();
}

TEST_F(PluginObject, HostOperationsAreCalledAtTheirTablePositions)
{
    testing::RecordingSurface& surface = host.spriteBank.Add(1, 2, 2);
    ISurface* s = &surface;
    CallSlot<void>(s, 1);
    CallSlot<std::uint8_t*>(s, 2, 1, 0);
    CallSlot<std::uint8_t*>(s, 3, 0, 1);
    CallSlot<std::int32_t>(s, 4);
    CallSlot<std::int32_t>(s, 5);
    CallSlot<std::int32_t>(s, 6);
    CallSlot<ISurface*>(static_cast<ISpriteBank*>(&host.spriteBank), 0, 1);
    CallSlot<ISurface*>(static_cast<ISurfaceFactory*>(&host.surfaceFactory), 2, 3, 4, 5);
    IGraphBlend* blend = &host.graphBlend;
    CallSlot<std::int32_t>(blend, 14, s, 1, 2, s, 3, 4, 0, 0, 9);
    CallSlot<std::int32_t>(blend, 20, s, 1, 2, s, 3, 4, 0, 0, 9);
    IGraphFilter* filter = &host.graphFilter;
    CallSlot<std::int32_t>(filter, 4, s, 1, 2, s, 3, 4, 0, 0);
    CallSlot<std::int32_t>(filter, 11, s, 1, 2, s, 3, 4, 0, 0);
    CallSlot<std::int32_t>(filter, 22, s, 1, 2, 0, 0, 9);
    CallSlot<std::int32_t>(filter, 37, s, 1, 2, s, 3, 4, 0, 0, 9);
    CallSlot<std::int32_t>(static_cast<IDrawHost*>(&host.drawHost), 0, 1, 2, 3, 4, 5);

    const std::vector<std::string> expected = {
        "sprite1.Destroy@1()",
        "sprite1.GetPixelAddress@2(1, 0)",
        "sprite1.GetAlphaAddress@3(0, 1)",
        "sprite1.GetWidth@4()",
        "sprite1.GetHeight@5()",
        "sprite1.GetFormat@6()",
        "GetSprite@0(1)",
        "CreateSurface@2(3, 4, 5)",
        "BlendRect@14(sprite1, 1, 2, sprite1, 3, 4, 0, 0, 9)",
        "BlendRectAlt@20(sprite1, 1, 2, sprite1, 3, 4, 0, 0, 9)",
        "CopyRect@4(sprite1, 1, 2, sprite1, 3, 4, 0, 0)",
        "DrawRect@11(sprite1, 1, 2, sprite1, 3, 4, 0, 0)",
        "FilterRect@22(sprite1, 1, 2, 0, 0, 9)",
        "MixRect@37(sprite1, 1, 2, sprite1, 3, 4, 0, 0, 9)",
        "ReportRect@0(1, 2, 3, 4, 5)",
    };
    EXPECT_EQ(host.log.calls, expected);
}

TEST_F(PluginObject, ConstructionAcquiresTheFourServicesInOrder)
{
    LoadAllModules();
    IDrawPlugin* plugin = Create();
    const DrawPluginFields fields = FieldsOf(plugin);
    EXPECT_EQ(modules.lookups, (std::vector<std::string>{"MainSystem", "Graph", "Graph", "SurfaceFactory"}));
    EXPECT_EQ(fields.mainSystem, testing::HostModules::MainSystem(&IID_MainSystem));
    EXPECT_EQ(fields.graphBlend, &host.graphBlend);
    EXPECT_EQ(fields.graphFilter, &host.graphFilter);
    EXPECT_EQ(fields.surfaceFactory, &host.surfaceFactory);
    EXPECT_EQ(fields.drawHost, nullptr);
    EXPECT_EQ(fields.spriteBank, nullptr);
    EXPECT_EQ(fields.lastHandle, 0);
    EXPECT_TRUE(IsCurrent(plugin));
    EXPECT_TRUE(debug.messages.empty());
    plugin->Destroy();
}

TEST_F(PluginObject, MissingModulesLeaveNullServicesButStillMakeTheObject)
{
    IDrawPlugin* plugin = Create();
    EXPECT_EQ(debug.messages, std::vector<std::string>(4, kHostModuleMissing));
    const DrawPluginFields fields = FieldsOf(plugin);
    EXPECT_EQ(fields.mainSystem, nullptr);
    EXPECT_EQ(fields.graphBlend, nullptr);
    EXPECT_EQ(fields.graphFilter, nullptr);
    EXPECT_EQ(fields.surfaceFactory, nullptr);
    EXPECT_TRUE(IsCurrent(plugin));
    plugin->Destroy();
}

TEST_F(PluginObject, EachServiceFailureIsToldAndTheOthersAreStillAcquired)
{
    LoadAllModules();
    modules.Load("MainSystem", {{"CreateInterface", &testing::HostModules::MainSystem}});  // no GetInterface
    testing::HostModules::refuseGraphFilter = true;
    IDrawPlugin* plugin = Create();
    const DrawPluginFields fields = FieldsOf(plugin);
    EXPECT_EQ(debug.messages, (std::vector<std::string>{kExportMissing, kServiceNull}));
    EXPECT_EQ(fields.mainSystem, nullptr);
    EXPECT_EQ(fields.graphBlend, &host.graphBlend);
    EXPECT_EQ(fields.graphFilter, nullptr);
    EXPECT_EQ(fields.surfaceFactory, &host.surfaceFactory);
    plugin->Destroy();
}

TEST_F(PluginObject, FactoryRefusesNullAndForeignGuids)
{
    LoadAllModules();
    EXPECT_EQ(CreateInterface(nullptr), nullptr);
    Guid almost = IID_DrawPlugin;
    almost.Data4[7] ^= 1;
    EXPECT_EQ(CreateInterface(&almost), nullptr);
    EXPECT_EQ(CreateInterface(&IID_DrawHost), nullptr);
    EXPECT_EQ(debug.messages, (std::vector<std::string>{kFactoryNullGuid, kFactoryWrongGuid, kFactoryWrongGuid}));
    EXPECT_TRUE(modules.lookups.empty());
    ProbeInit();  // no object was made for Init to write to
}

TEST_F(PluginObject, EveryCreationMakesANewCurrentObject)
{
    LoadAllModules();
    IDrawPlugin* first = Create();
    IDrawPlugin* second = Create();
    EXPECT_NE(first, second);
    EXPECT_FALSE(IsCurrent(first));
    EXPECT_TRUE(IsCurrent(second));

    // The first keeps working, and its Destroy leaves the current one alone.
    first->SetInterface(&IID_DrawHost, static_cast<IDrawHost*>(&host.drawHost));
    EXPECT_EQ(first->Update(), host.drawHost.answer);
    EXPECT_EQ(first->Destroy(), 0);
    EXPECT_TRUE(IsCurrent(second));
    EXPECT_EQ(second->Destroy(), 0);
    ProbeInit();
}

TEST_F(PluginObject, FailedAllocationLeavesNoCurrentObjectAndNoMessage)
{
    LoadAllModules();
    IDrawPlugin* previous = Create();
    failNextNothrowNew = true;
    EXPECT_EQ(CreateInterface(&IID_DrawPlugin), nullptr);
    EXPECT_FALSE(IsCurrent(previous));
    EXPECT_TRUE(debug.messages.empty());
    previous->Destroy();
}

TEST_F(PluginObject, SetInterfaceAcceptsOnlyTheDrawHostAndTheSpriteBank)
{
    LoadAllModules();
    IDrawPlugin* plugin = Create();
    const DrawPluginFields fields = FieldsOf(plugin);
    testing::RecordingDrawHost other(host.log);

    plugin->SetInterface(nullptr, nullptr);
    plugin->SetInterface(&IID_DrawHost, nullptr);
    plugin->SetInterface(&IID_MainSystem, &other);
    plugin->SetInterface(&IID_DrawPlugin, &other);
    plugin->SetInterface(&IID_GraphBlend, &other);
    EXPECT_EQ(debug.messages, (std::vector<std::string>{kSetNullGuid, kSetNullInterface, kSetWrongGuid,
                                                        kSetWrongGuid, kSetWrongGuid}));
    EXPECT_EQ(fields.drawHost, nullptr);
    EXPECT_EQ(fields.graphBlend, &host.graphBlend);

    debug.messages.clear();
    plugin->SetInterface(&IID_DrawHost, static_cast<IDrawHost*>(&host.drawHost));
    plugin->SetInterface(&IID_DrawHost, static_cast<IDrawHost*>(&other));
    plugin->SetInterface(&IID_SpriteBank, static_cast<ISpriteBank*>(&host.spriteBank));
    plugin->SetInterface(&IID_DrawHost, nullptr);  // never clears
    EXPECT_EQ(FieldsOf(plugin).drawHost, static_cast<IDrawHost*>(&other));
    EXPECT_EQ(FieldsOf(plugin).spriteBank, static_cast<ISpriteBank*>(&host.spriteBank));
    EXPECT_EQ(debug.messages, std::vector<std::string>{kSetNullInterface});
    plugin->Destroy();
}

TEST_F(PluginObject, UpdateReportsTheFixedRectangleForTheLatestInit)
{
    LoadAllModules();
    IDrawPlugin* plugin = Create();
    EXPECT_EQ(plugin->Update(), 0);  // no draw host yet: nothing to call
    EXPECT_TRUE(host.log.calls.empty());

    plugin->SetInterface(&IID_DrawHost, static_cast<IDrawHost*>(&host.drawHost));
    EXPECT_EQ(plugin->Update(), host.drawHost.answer);  // before any Init: handle 0
    Init(7, 800, 600, 0, 16, 4);
    host.drawHost.answer = -9;
    EXPECT_EQ(plugin->Update(), -9);
    EXPECT_EQ(host.log.calls, (std::vector<std::string>{"ReportRect@0(0, 0, 0, 640, 480)",
                                                        "ReportRect@0(7, 0, 0, 640, 480)"}));
    EXPECT_EQ(plugin->Retain(), 1);
    EXPECT_EQ(plugin->Retain(), 1);
    plugin->Destroy();
}

TEST_F(PluginObject, DestroyEmptiesTheRegistryWhicheverObjectMadeTheInstances)
{
    LoadAllModules();
    IDrawPlugin* first = Create();
    Init(1, 640, 480, 0, 8, 2);
    IDrawPlugin* second = Create();
    Init(2, 640, 480, 0, 8, 2);
    Start(2);
    EXPECT_EQ(first->Destroy(), 0);
    EXPECT_EQ(Instances().Size(), 0u);
    EXPECT_TRUE(IsCurrent(second));
    second->Destroy();

    // Without a current object Init still registers.
    Init(3, 640, 480, 0, 8, 2);
    EXPECT_NE(Instances().Find(3), nullptr);
}

#if defined(_WIN32)
// OutputDebugStringA raises DBG_PRINTEXCEPTION_C (parameter 0: the length
// with the terminating zero, parameter 1: the text), which a vectored
// handler sees first and dismisses.
std::string debugStringSeen;

LONG CALLBACK SeeDebugString(EXCEPTION_POINTERS* pointers)
{
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    if (record->ExceptionCode != 0x40010006 || record->NumberParameters < 2) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    const auto length = static_cast<std::size_t>(record->ExceptionInformation[0]);
    debugStringSeen.assign(reinterpret_cast<const char*>(record->ExceptionInformation[1]),
                           length > 0 ? length - 1 : 0);
    return EXCEPTION_CONTINUE_EXECUTION;
}

TEST(PlatformDebugOutput, PassesTheBytesUnchangedToOutputDebugStringA)
{
    debugStringSeen.clear();
    PVOID handler = AddVectoredExceptionHandler(1, &SeeDebugString);
    ASSERT_NE(handler, nullptr);
    platform::DebugOutput(kFactoryWrongGuid.c_str());
    RemoveVectoredExceptionHandler(handler);
    EXPECT_EQ(debugStringSeen, kFactoryWrongGuid);
}
#else
TEST(PlatformDebugOutput, WritesTheBytesUnchangedToStandardError)
{
    ::testing::internal::CaptureStderr();
    platform::DebugOutput(kFactoryWrongGuid.c_str());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), kFactoryWrongGuid);
}
#endif

}  // namespace
}  // namespace velora
