// The previewer's host (hosts/reference/) and the studio's host (hosts/web/) draw the
// same pixels: one frame of the plug-in, with the same field, sprites,
// particles, background and rate, is drawn through each host's own services
// and the two destinations are compared byte for byte. The plug-in finds
// each host's modules by name, as it does in the engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "contract/exports.h"
#include "reference/host_objects.h"
#include "reference/surface.h"
#include "platform/platform.h"
#include "web/studio_host.h"

namespace velora {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::int32_t kWidth = 160;
constexpr std::int32_t kHeight = 120;
constexpr std::int32_t kBase = 100;
constexpr std::int32_t kSprites = 8;
constexpr std::int32_t kSide = 16;
constexpr std::uint32_t kClock = 90210;  // Init's seed and the clock of every frame

std::uint32_t Clock() { return kClock; }
void Quiet(const char*) {}

// Module lookup over one host's three factory exports.
std::vector<web::HostModuleExport> modules;

platform::ModuleHandle FindModule(const char* name)
{
    for (const web::HostModuleExport& entry : modules) {
        if (std::string(entry.module) == name) {
            return const_cast<web::HostModuleExport*>(&entry);
        }
    }
    return nullptr;
}

platform::ExportAddress FindExport(platform::ModuleHandle module, const char* name)
{
    const auto* entry = static_cast<const web::HostModuleExport*>(module);
    return std::string(entry->exportName) == name ? reinterpret_cast<platform::ExportAddress>(entry->factory)
                                                  : nullptr;
}

// Sprite i in straight colour: a disc with a soft rim (partial alpha, so
// premultiplying matters), a colour of its own, transparent corners.
kit::Rgba SpritePixel(std::int32_t i, std::int32_t x, std::int32_t y, bool hardEdge)
{
    const double dx = x + 0.5 - kSide / 2.0;
    const double dy = y + 0.5 - kSide / 2.0;
    const double distance = std::sqrt(dx * dx + dy * dy);
    const double coverage = distance < 5.0 ? 1.0 : distance < 7.5 ? (7.5 - distance) / 2.5 : 0.0;
    const auto alpha = static_cast<std::uint8_t>(hardEdge ? (coverage > 0.0 ? 255 : 0) : coverage * 255.0);
    if (hardEdge) {
        return {200, 120, 40, alpha};
    }
    return {static_cast<std::uint8_t>(250 - 20 * i), static_cast<std::uint8_t>(60 + 25 * i),
            static_cast<std::uint8_t>(30 + 3 * x), alpha};
}

struct Scene {
    std::int32_t type = 0;
    std::int32_t rate = 255;
    std::int32_t numof = 30;
    std::uint32_t top = 0x203050;
    std::uint32_t bottom = 0xC08040;
    bool hardEdge = false;  // one opaque colour, no soft rim
};

// Init, the setters, Start and one Draw of a fresh plug-in object on dest,
// with the modules already set; the background is already in dest.
void DrawOneFrame(const Scene& scene, IDrawHost& drawHost, ISpriteBank& bank, ISurface& dest)
{
    platform::testing::OverrideMultimediaTime(&Clock);
    platform::testing::OverrideTickCount(&Clock);
    platform::testing::OverrideModuleLookup(&FindModule, &FindExport);
    platform::testing::OverrideDebugOutput(&Quiet);
    IDrawPlugin* plugin = CreateInterface(&IID_DrawPlugin);
    ASSERT_NE(plugin, nullptr);
    plugin->SetInterface(&IID_DrawHost, &drawHost);
    plugin->SetInterface(&IID_SpriteBank, &bank);
    constexpr std::int32_t handle = 5;
    Init(handle, kWidth, kHeight, kBase, kSprites / 2, 2);
    SetType(handle, scene.type);
    SetNumof(handle, scene.numof);
    Start(handle);
    plugin->Draw(handle, &dest, 0, 0, 0, 0, 0, 0, scene.rate);
    Release(handle);
    plugin->Destroy();
    platform::testing::OverrideMultimediaTime(nullptr);
    platform::testing::OverrideTickCount(nullptr);
    platform::testing::OverrideModuleLookup(nullptr, nullptr);
    platform::testing::OverrideDebugOutput(nullptr);
}

// The studio's frame: its background, its bank, its modules. Also gives the
// background alone.
Bytes StudioFrame(const Scene& scene, Bytes* background = nullptr)
{
    web::StudioHost studio(kWidth, kHeight);
    for (std::int32_t i = 0; i < kSprites; ++i) {
        auto sprite = std::make_unique<web::PixelSurface>(kSide, kSide);
        for (std::int32_t y = 0; y < kSide; ++y) {
            for (std::int32_t x = 0; x < kSide; ++x) {
                const kit::Rgba p = SpritePixel(i, x, y, scene.hardEdge);
                std::uint8_t* out = sprite->At(x, y);
                out[0] = p.r;
                out[1] = p.g;
                out[2] = p.b;
                out[3] = p.a;
            }
        }
        studio.Bank().Put(kBase + i, std::move(sprite));  // premultiplied there
    }
    studio.SetBackground(scene.top, scene.bottom);
    studio.BeginFrame();
    const kit::Surface& frame = studio.Frame();
    if (background) {
        background->assign(frame.Bytes(), frame.Bytes() + frame.ByteCount());
    }
    web::SetModuleHost(&studio);
    modules.assign(web::HostModuleExports().begin(), web::HostModuleExports().end());
    web::StudioDrawHost drawHost;
    DrawOneFrame(scene, drawHost, studio.Bank(), studio.Frame());
    web::SetModuleHost(nullptr);
    return {frame.Bytes(), frame.Bytes() + frame.ByteCount()};
}

// The reference host's frame over the same background, with its own bank,
// surfaces and modules.
Bytes ReferenceFrame(const Scene& scene, const Bytes& background)
{
    reference::HostSpriteBank bank(kBase);
    for (std::int32_t i = 0; i < kSprites; ++i) {
        auto sprite = std::make_unique<reference::HostSurface>(kSide, kSide, "sprite");
        for (std::int32_t y = 0; y < kSide; ++y) {
            for (std::int32_t x = 0; x < kSide; ++x) {
                sprite->SetPixel(x, y, SpritePixel(i, x, y, scene.hardEdge));  // premultiplies
            }
        }
        bank.Add(std::move(sprite));
    }
    reference::HostSurface frame(kWidth, kHeight, "frame");
    std::copy(background.begin(), background.end(), frame.Bytes());
    modules = {{"MainSystem", "GetInterface", &reference::QueryMainSystem},
               {"Graph", "CreateInterface", &reference::QueryGraph},
               {"SurfaceFactory", "CreateInterface", &reference::QuerySurfaceFactory}};
    reference::HostDrawHost drawHost;
    DrawOneFrame(scene, drawHost, bank, frame);
    return {frame.Bytes(), frame.Bytes() + frame.ByteCount()};
}

// The pixels (as 0xRRGGBB) of a frame that differ from the background.
std::set<std::uint32_t> ChangedColours(const Bytes& frame, const Bytes& background)
{
    std::set<std::uint32_t> colours;
    for (std::size_t i = 0; i < frame.size(); i += 4) {
        if (!std::equal(&frame[i], &frame[i] + 4, &background[i])) {
            colours.insert(std::uint32_t{frame[i]} << 16 | std::uint32_t{frame[i + 1]} << 8 | frame[i + 2]);
        }
    }
    return colours;
}

class BothHosts : public ::testing::TestWithParam<std::tuple<std::int32_t, std::int32_t>> {};

TEST_P(BothHosts, DrawTheSameFrameByteForByte)
{
    Scene scene;
    std::tie(scene.type, scene.rate) = GetParam();
    Bytes background;
    const Bytes studio = StudioFrame(scene, &background);
    const Bytes reference = ReferenceFrame(scene, background);
    ASSERT_EQ(studio.size(), reference.size());
    EXPECT_GT(ChangedColours(studio, background).size(), 10u) << "the studio drew next to nothing";
    std::size_t differing = 0;
    for (std::size_t i = 0; i < studio.size(); ++i) {
        differing += studio[i] != reference[i] ? 1 : 0;
    }
    EXPECT_EQ(differing, 0u) << "bytes that differ between the previewer's host and the studio's";
}

INSTANTIATE_TEST_SUITE_P(EveryModeAndRate, BothHosts,
                         ::testing::Combine(::testing::Values(0, 1, 2, 3), ::testing::Values(255, 128, 7)));

// The looks docs/drawing-modes.md promises, in both hosts.
TEST(ModeLooks, ModeTwoFadedAndModeZeroBlendedDifferAtRate128)
{
    Scene blend;
    blend.type = 0;
    blend.rate = 128;
    Scene fade = blend;
    fade.type = 2;
    Bytes background;
    const Bytes studioBlend = StudioFrame(blend, &background);
    const Bytes studioFade = StudioFrame(fade);
    EXPECT_NE(studioBlend, studioFade);
    EXPECT_NE(ReferenceFrame(blend, background), ReferenceFrame(fade, background));
}

TEST(ModeLooks, ModeThreeShowsTheSpriteColourOnWhiteAndNothingOnBlack)
{
    Scene onWhite;
    onWhite.type = 3;
    onWhite.hardEdge = true;  // every sprite opaque (200, 120, 40) inside its disc
    onWhite.numof = 4;
    onWhite.top = onWhite.bottom = 0xFFFFFF;
    Bytes white;
    const Bytes studioWhite = StudioFrame(onWhite, &white);
    const std::set<std::uint32_t> sprite{0xC87828};
    EXPECT_EQ(ChangedColours(studioWhite, white), sprite);
    EXPECT_EQ(ChangedColours(ReferenceFrame(onWhite, white), white), sprite);

    for (const std::int32_t rate : {255, 128}) {
        Scene onBlack;
        onBlack.type = 3;
        onBlack.rate = rate;
        onBlack.top = onBlack.bottom = 0x000000;
        Bytes black;
        EXPECT_EQ(StudioFrame(onBlack, &black), black) << "rate " << rate;
        EXPECT_EQ(ReferenceFrame(onBlack, black), black) << "rate " << rate;
    }
}

}  // namespace
}  // namespace velora
