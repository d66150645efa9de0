// The values of the binary interface, typed out here rather than taken from
// contract/: every host, tool and test takes them from there, so a mistyped
// byte of a GUID, a table position, a name or a message would agree with
// itself everywhere else. The engine does not share those headers.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "contract/exports.h"
#include "contract/host_interfaces.h"
#include "contract/host_modules.h"
#include "contract/messages.h"
#include "contract/plugin_access.h"
#include "contract/plugin_interfaces.h"
#include "effect/instance_registry.h"
#include "platform/platform.h"

namespace velora {
namespace {

// A GUID's 16 bytes in its usual text form: one 32-bit and two 16-bit
// little-endian fields, then eight bytes in order.
std::string GuidText(const void* guid)
{
    const auto* b = static_cast<const unsigned char*>(guid);
    char text[37];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[3],
                  b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

TEST(BinaryInterface, InterfaceIdentifiers)
{
    EXPECT_EQ(sizeof(Guid), 16u);
    EXPECT_EQ(GuidText(&IID_DrawPlugin), "21D5AB5C-B8BB-4CB3-A238-53BE3EC7684D");
    EXPECT_EQ(GuidText(&IID_DrawHost), "1C225D59-DA0D-438B-8481-0DA06A4D89E6");
    EXPECT_EQ(GuidText(&IID_SpriteBank), "631954D8-253C-4CD6-88B2-3AAB75923B64");
    EXPECT_EQ(GuidText(&IID_MainSystem), "B995A758-BFB0-4F7A-9F17-D23A0FB48A08");
    EXPECT_EQ(GuidText(&IID_GraphBlend), "58AD7D01-4DAE-11D4-BEB2-00C0F6B0E9BE");
    EXPECT_EQ(GuidText(&IID_GraphFilter), "46F1EC26-82CD-4A69-A0BF-8F7D6975ABDA");
    EXPECT_EQ(GuidText(&IID_SurfaceFactory), "D6433348-4DB3-11D4-BEB2-00C0F6B0E9BE");
}

// The position of a virtual operation in its table, from a pointer to it. GCC
// on x86 follows the Itanium C++ ABI: such a pointer holds 1 + the
// operation's byte offset in the table.
template <class Operation>
std::ptrdiff_t PositionOf(Operation operation)
{
    struct Representation {
        std::uintptr_t pointer;
        std::ptrdiff_t adjustment;
    };
    static_assert(sizeof(Operation) == sizeof(Representation));
    Representation representation;
    std::memcpy(&representation, &operation, sizeof representation);
    if (representation.pointer % sizeof(void*) != 1) {
        return -1;  // not a virtual operation
    }
    return static_cast<std::ptrdiff_t>((representation.pointer - 1) / sizeof(void*));
}

TEST(BinaryInterface, TablePositions)
{
    // The plug-in object.
    EXPECT_EQ(PositionOf(&IDrawPlugin::Retain), 0);
    EXPECT_EQ(PositionOf(&IDrawPlugin::Destroy), 1);
    EXPECT_EQ(PositionOf(&IDrawPlugin::SetInterface), 2);
    EXPECT_EQ(PositionOf(&IDrawPlugin::Update), 3);
    EXPECT_EQ(PositionOf(&IDrawPlugin::Draw), 4);
    EXPECT_EQ((std::vector<int>{slot::kRetain, slot::kDestroy, slot::kSetInterface, slot::kUpdate, slot::kDraw}),
              (std::vector<int>{0, 1, 2, 3, 4}));
    // The host's interfaces.
    EXPECT_EQ(PositionOf(&IDrawHost::ReportRect), 0);
    EXPECT_EQ(PositionOf(&ISpriteBank::GetSprite), 0);
    EXPECT_EQ(PositionOf(&ISurface::Destroy), 1);
    EXPECT_EQ(PositionOf(&ISurface::GetPixelAddress), 2);
    EXPECT_EQ(PositionOf(&ISurface::GetAlphaAddress), 3);
    EXPECT_EQ(PositionOf(&ISurface::GetWidth), 4);
    EXPECT_EQ(PositionOf(&ISurface::GetHeight), 5);
    EXPECT_EQ(PositionOf(&ISurface::GetFormat), 6);
    EXPECT_EQ(PositionOf(&ISurfaceFactory::CreateSurface), 2);
    EXPECT_EQ(PositionOf(&IGraphBlend::BlendRect), 14);
    EXPECT_EQ(PositionOf(&IGraphBlend::BlendRectAlt), 20);
    EXPECT_EQ(PositionOf(&IGraphFilter::CopyRect), 4);
    EXPECT_EQ(PositionOf(&IGraphFilter::DrawRect), 11);
    EXPECT_EQ(PositionOf(&IGraphFilter::FilterRect), 22);
    EXPECT_EQ(PositionOf(&IGraphFilter::MixRect), 37);
}

TEST(BinaryInterface, ExportAndModuleNames)
{
    std::vector<std::string> names(std::begin(exports::kNames), std::end(exports::kNames));
    EXPECT_EQ(names, (std::vector<std::string>{"CreateInterface", "Init", "Start", "Release", "SetType", "SetNumof",
                                               "SetMaxAmp", "SetXSpeed", "SetYSpeed"}));
    EXPECT_STREQ(modules::kMainSystem, "MainSystem");
    EXPECT_STREQ(modules::kMainSystemExport, "GetInterface");
    EXPECT_STREQ(modules::kGraph, "Graph");
    EXPECT_STREQ(modules::kGraphExport, "CreateInterface");
    EXPECT_STREQ(modules::kSurfaceFactory, "SurfaceFactory");
    EXPECT_STREQ(modules::kSurfaceFactoryExport, "CreateInterface");
}

TEST(BinaryInterface, DebugMessagesInCodePage932)
{
    // 81 A1 is the black square of an error, 81 A0 the white square of a
    // warning; "未対応のGUIDが渡された" (an unsupported GUID was passed) is
    // 96 A2 91 CE 89 9E 82 CC "GUID" 82 AA 93 6E 82 B3 82 EA 82 BD.
    const std::string error = "\x81\xA1" "ERROR - ";
    const std::string warning = "\x81\xA0" "WARNING - ";
    const std::string unsupported =
        "\x96\xA2\x91\xCE\x89\x9E\x82\xCC" "GUID" "\x82\xAA\x93\x6E\x82\xB3\x82\xEA\x82\xBD";
    EXPECT_EQ(messages::kCreateInterfaceNullGuid, error + "pGuid==NULL - CreateInterface\n");
    EXPECT_EQ(messages::kCreateInterfaceUnsupportedGuid, warning + unsupported + " - CreateInterface\n");
    EXPECT_EQ(messages::kModuleNotLoaded, error + "hDLL==NULL - GetQuenIF GetModuleHandle\n");
    EXPECT_EQ(messages::kExportMissing, error + "CreateInterface==NULL - GetQuenIF GetProcAddress\n");
    EXPECT_EQ(messages::kServiceRefused, error + "pGuid==NULL - GetQuenIF CreateInterface\n");
    EXPECT_EQ(messages::kSetInterfaceNullGuid, error + "pGuid==NULL - CDrawTest::SetInterface\n");
    EXPECT_EQ(messages::kSetInterfaceNullInterface, error + "pvInterface==NULL - CDrawTest::SetInterface\n");
    EXPECT_EQ(messages::kSetInterfaceUnsupportedGuid, warning + unsupported + " - CDrawTest::SetInterface\n");
}

// Host modules that write down every lookup and every request, in order:
// "module MainSystem", "export GetInterface", "request <GUID>". Each request
// is answered with a token of its own, so that the fields show which answer
// went where.
class AcquisitionLog {
public:
    AcquisitionLog()
    {
        active = this;
        platform::testing::OverrideModuleLookup(&FindModule, &FindExport);
        platform::testing::OverrideDebugOutput(&Discard);
    }
    ~AcquisitionLog()
    {
        platform::testing::OverrideModuleLookup(nullptr, nullptr);
        platform::testing::OverrideDebugOutput(nullptr);
        active = nullptr;
    }
    AcquisitionLog(const AcquisitionLog&) = delete;
    AcquisitionLog& operator=(const AcquisitionLog&) = delete;

    std::vector<std::string> entries;
    std::vector<std::string> requested;  // GUIDs, in order of the requests
    int tokens[8] = {};

private:
    static platform::ModuleHandle FindModule(const char* name)
    {
        active->entries.push_back(std::string("module ") + name);
        return active;
    }
    static platform::ExportAddress FindExport(platform::ModuleHandle, const char* name)
    {
        active->entries.push_back(std::string("export ") + name);
        return reinterpret_cast<platform::ExportAddress>(&Factory);
    }
    static void* VELORA_CDECL Factory(const Guid* iid)
    {
        active->entries.push_back("request " + GuidText(iid));
        active->requested.push_back(GuidText(iid));
        const std::size_t n = active->requested.size();
        return n <= std::size(active->tokens) ? &active->tokens[n - 1] : nullptr;
    }
    static void Discard(const char*) {}
    static inline AcquisitionLog* active = nullptr;
};

TEST(BinaryInterface, ServicesAreAcquiredInOrderByModuleExportAndGuid)
{
    AcquisitionLog log;
    IDrawPlugin* plugin = CreateInterface(&IID_DrawPlugin);
    ASSERT_NE(plugin, nullptr);
    const std::vector<std::string> expected = {
        "module MainSystem",     "export GetInterface",    "request B995A758-BFB0-4F7A-9F17-D23A0FB48A08",
        "module Graph",          "export CreateInterface", "request 58AD7D01-4DAE-11D4-BEB2-00C0F6B0E9BE",
        "module Graph",          "export CreateInterface", "request 46F1EC26-82CD-4A69-A0BF-8F7D6975ABDA",
        "module SurfaceFactory", "export CreateInterface", "request D6433348-4DB3-11D4-BEB2-00C0F6B0E9BE",
    };
    EXPECT_EQ(log.entries, expected);
    // Each answer is stored in the field of the service asked for.
    const DrawPluginFields fields = FieldsOf(plugin);
    EXPECT_EQ(static_cast<void*>(fields.mainSystem), &log.tokens[0]);
    EXPECT_EQ(static_cast<void*>(fields.graphBlend), &log.tokens[1]);
    EXPECT_EQ(static_cast<void*>(fields.graphFilter), &log.tokens[2]);
    EXPECT_EQ(static_cast<void*>(fields.surfaceFactory), &log.tokens[3]);
    plugin->Destroy();
    Instances().Clear();
}

}  // namespace
}  // namespace velora
