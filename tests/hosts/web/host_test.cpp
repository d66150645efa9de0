// The studio host (its pixel work is the host kit's, tested by the kit's
// conformance suite): its surfaces and sprite bank, the sprite runs it draws, and the plug-in drawing through it
// (the plug-in's own objects, with the host's modules found by name as the
// web build registers them). Built with AddressSanitizer, so any read or
// write outside a surface fails the test that makes it.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "contract/exports.h"
#include "contract/exports.h"
#include "platform/platform.h"
#include "web/studio_host.h"

namespace velora::web {
namespace {

using Pixel = std::array<std::uint8_t, 4>;

Pixel Get(const PixelSurface& s, int x, int y)
{
    const std::uint8_t* p = s.At(x, y);
    return {p[0], p[1], p[2], p[3]};
}

std::vector<std::uint8_t> Bytes(const PixelSurface& s) { return {s.Bytes(), s.Bytes() + s.ByteCount()}; }

// ---- Surfaces, factory and bank ------------------------------------------------

TEST(WebHostSurfaces, AddressesOnlyInsideAndTheFactoryOwnsWhatItMakes)
{
    PixelSurface s(3, 2);
    EXPECT_EQ(s.GetPixelAddress(2, 1), s.Bytes() + (1 * 3 + 2) * 4);
    EXPECT_EQ(s.GetAlphaAddress(2, 1), s.Bytes() + (1 * 3 + 2) * 4 + 3);
    for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {3, 0}, {0, 2}, {INT_MAX, INT_MAX}, {INT_MIN, 0}}) {
        EXPECT_EQ(s.GetPixelAddress(x, y), nullptr);
        EXPECT_EQ(s.GetAlphaAddress(x, y), nullptr);
    }
    EXPECT_THROW(PixelSurface(-4, 5), std::invalid_argument);
    PixelSurface empty(0, 5);
    EXPECT_EQ(empty.GetPixelAddress(0, 0), nullptr);
    s.Destroy();  // the host's own surface stays
    EXPECT_EQ(s.GetWidth(), 3);

    StudioSurfaceFactory factory;
    EXPECT_EQ(factory.CreateSurface(8, 8, 1234), nullptr);
    EXPECT_EQ(factory.CreateSurface(0, 8, PixelSurface::kFormat), nullptr);
    EXPECT_EQ(factory.CreateSurface(8, StudioSurfaceFactory::kMaxSide + 1, PixelSurface::kFormat), nullptr);
    ISurface* made = factory.CreateSurface(8, 4, PixelSurface::kFormat);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->GetWidth(), 8);
    EXPECT_EQ(made->GetHeight(), 4);
    EXPECT_EQ(*made->GetAlphaAddress(7, 3), 0);  // transparent
    EXPECT_EQ(factory.Live(), 1);
    made->Destroy();
    EXPECT_EQ(factory.Live(), 0);
}

TEST(WebHostSprites, ASheetIsCutRowByRowIntoWholeCells)
{
    // 3 x 2 cells of 4 pixels, plus a partial column and row that are left out.
    const int width = 14, height = 9, cell = 4;
    std::vector<std::uint8_t> rgba(width * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &rgba[(y * width + x) * 4];
            p[0] = static_cast<std::uint8_t>(x / cell);
            p[1] = static_cast<std::uint8_t>(y / cell);
            p[2] = static_cast<std::uint8_t>(x % cell * 10 + y % cell);
            p[3] = 255;
        }
    }
    StudioSpriteBank bank;
    bank.Put(100, std::make_unique<PixelSurface>(1, 1));
    bank.Put(250, std::make_unique<PixelSurface>(1, 1));  // another sheet's sprite
    bank.Put(7, std::make_unique<PixelSurface>(1, 1));
    const SpriteRun run = AddSheet(bank, rgba.data(), width, height, cell, 100);
    EXPECT_EQ(run.base, 100);
    EXPECT_EQ(run.count, 6);
    EXPECT_EQ(run.rotationFrames, 2);  // one group per row
    EXPECT_EQ(run.size, cell);
    EXPECT_EQ(bank.Size(), 8u);
    EXPECT_NE(bank.GetSprite(250), nullptr);
    EXPECT_NE(bank.GetSprite(7), nullptr);
    for (int n = 0; n < 6; ++n) {
        auto* sprite = static_cast<PixelSurface*>(bank.GetSprite(100 + n));
        ASSERT_NE(sprite, nullptr);
        ASSERT_EQ(sprite->Width(), cell);
        ASSERT_EQ(sprite->Height(), cell);
        EXPECT_EQ(Get(*sprite, 3, 2), (Pixel{static_cast<std::uint8_t>(n % 3), static_cast<std::uint8_t>(n / 3), 32, 255}))
            << "cell " << n;
    }
    EXPECT_EQ(bank.GetSprite(106), nullptr);

    // No whole cell: nothing changes.
    const SpriteRun none = AddSheet(bank, rgba.data(), width, height, 10, 100);
    EXPECT_EQ(none.count, 0);
    EXPECT_EQ(bank.Size(), 8u);
    EXPECT_EQ(AddSheet(bank, nullptr, width, height, cell, 100).count, 0);
    EXPECT_EQ(AddSheet(bank, rgba.data(), width, height, 0, 100).count, 0);
}

TEST(WebHostSprites, AHugeSheetGivesAtMostTheCellLimitInOneGroup)
{
    const int width = 2100, height = 2;
    std::vector<std::uint8_t> rgba(width * height * 4, 128);
    StudioSpriteBank bank;
    const SpriteRun run = AddSheet(bank, rgba.data(), width, height, 1, kSheetBase);
    EXPECT_EQ(run.count, kMaxSheetCells);
    EXPECT_EQ(run.rotationFrames, 1);
    EXPECT_EQ(bank.Size(), static_cast<std::size_t>(kMaxSheetCells));
}

// Sheets side by side keep their own numbers; loading at a sheet's first
// number again replaces that sheet only, and its numbers past the new one
// are gone from the bank.
TEST(WebHostSprites, EachSheetKeepsItsOwnNumbersAndAReloadReplacesOnlyItself)
{
    StudioHost host{64, 64};
    const std::size_t builtIn = host.Runs().size();
    std::vector<std::uint8_t> wide(16 * 8 * 4, 200);  // 4 x 2 cells of 4
    std::vector<std::uint8_t> strip(12 * 4 * 4, 50);  // 3 cells of 4
    EXPECT_EQ(host.LoadSheetAt(wide.data(), 16, 8, 4, 100).count, 8);
    EXPECT_EQ(host.LoadSheetAt(strip.data(), 12, 4, 4, 200).count, 3);
    ASSERT_EQ(host.Runs().size(), builtIn + 2);
    EXPECT_NE(host.Bank().GetSprite(107), nullptr);
    EXPECT_NE(host.Bank().GetSprite(202), nullptr);

    // Cut again at 8: 2 cells at 100, 101; 102 to 107 are gone, 200 stays.
    const SpriteRun recut = host.LoadSheetAt(wide.data(), 16, 8, 8, 100);
    EXPECT_EQ(recut.count, 2);
    EXPECT_EQ(recut.rotationFrames, 1);
    ASSERT_EQ(host.Runs().size(), builtIn + 2);
    EXPECT_EQ(host.Runs().back().base, 100);
    EXPECT_NE(host.Bank().GetSprite(101), nullptr);
    EXPECT_EQ(host.Bank().GetSprite(102), nullptr);
    EXPECT_EQ(host.Bank().GetSprite(107), nullptr);
    EXPECT_NE(host.Bank().GetSprite(200), nullptr);

    // Below the sheets' numbers nothing is loaded; the built-in runs stay.
    EXPECT_EQ(host.LoadSheetAt(strip.data(), 12, 4, 4, 0).count, 0);
    EXPECT_EQ(host.Runs().size(), builtIn + 2);
}

TEST(WebHostSprites, BuiltInRunsArePetalsAndSnowThatTurnAndTilt)
{
    StudioSpriteBank bank;
    const std::vector<SpriteRun> runs = AddBuiltInRuns(bank);
    ASSERT_EQ(runs.size(), 3u);
    // Every pixel of each run, pinned (FNV-1a over the premultiplied bytes):
    // the petal painter is the host kit's, shared with the reference host,
    // and a change made for one host must not move the other's sprites.
    const std::uint64_t pinned[3] = {0xb57d3291ea548e65ull, 0x7e6fa72a1457db15ull, 0x68e28b97a248d10dull};
    std::set<std::int32_t> numbers;
    for (std::size_t r = 0; r < runs.size(); ++r) {
        const SpriteRun& run = runs[r];
        std::uint64_t digest = 14695981039346656037ull;
        for (int n = run.base; n < run.base + run.count; ++n) {
            const auto* sprite = static_cast<const PixelSurface*>(bank.GetSprite(n));
            ASSERT_NE(sprite, nullptr);
            for (int y = 0; y < sprite->Height(); ++y) {
                for (int x = 0; x < sprite->Width(); ++x) {
                    for (int k = 0; k < 4; ++k) {
                        digest = (digest ^ sprite->At(x, y)[k]) * 1099511628211ull;
                    }
                }
            }
        }
        EXPECT_EQ(digest, pinned[r]) << run.name;
        EXPECT_GT(run.count, 0) << run.name;
        EXPECT_LT(run.base + run.count, kSheetBase) << run.name;
        EXPECT_EQ(run.count % run.rotationFrames, 0) << run.name;
        std::set<std::vector<std::uint8_t>> distinct;
        for (int n = run.base; n < run.base + run.count; ++n) {
            EXPECT_TRUE(numbers.insert(n).second) << "sprite " << n << " in two runs";
            auto* sprite = static_cast<PixelSurface*>(bank.GetSprite(n));
            ASSERT_NE(sprite, nullptr);
            ASSERT_EQ(sprite->Width(), run.size);
            ASSERT_EQ(sprite->Height(), run.size);
            EXPECT_EQ(Get(*sprite, 0, 0)[3], 0) << "corner of sprite " << n;
            const Pixel middle = Get(*sprite, run.size / 2, run.size / 2);
            EXPECT_GT(middle[3], 128) << "middle of sprite " << n;
            distinct.insert(Bytes(*sprite));
        }
        EXPECT_EQ(distinct.size(), static_cast<std::size_t>(run.count)) << run.name << ": repeated sprites";
    }
    // A petal tilted away covers less than a face-on one.
    auto coverage = [&](int n) {
        auto* sprite = static_cast<PixelSurface*>(bank.GetSprite(n));
        int sum = 0;
        for (int y = 0; y < sprite->Height(); ++y) {
            for (int x = 0; x < sprite->Width(); ++x) {
                sum += Get(*sprite, x, y)[3];
            }
        }
        return sum;
    };
    const SpriteRun& petals = runs[0];
    const int group = petals.count / petals.rotationFrames;
    EXPECT_LT(coverage(petals.base + (petals.rotationFrames - 1) * group), coverage(petals.base) * 2 / 3);
}

// ---- The plug-in through the studio host ---------------------------------------

std::uint32_t clockNow = 1000;
std::uint32_t Clock() { return clockNow; }
std::vector<std::string> messages;
void Collect(const char* message) { messages.emplace_back(message); }

// Module lookup as the web build registers it: by name, among the host's exports.
platform::ModuleHandle FindModule(const char* name)
{
    for (const HostModuleExport& entry : HostModuleExports()) {
        if (std::string(entry.module) == name) {
            return const_cast<HostModuleExport*>(&entry);
        }
    }
    return nullptr;
}

platform::ExportAddress FindExport(platform::ModuleHandle module, const char* name)
{
    const auto* entry = static_cast<const HostModuleExport*>(module);
    return std::string(entry->exportName) == name ? reinterpret_cast<platform::ExportAddress>(entry->factory)
                                                  : nullptr;
}

class StudioHostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        messages.clear();
        platform::testing::OverrideMultimediaTime(&Clock);
        platform::testing::OverrideTickCount(&Clock);
        platform::testing::OverrideModuleLookup(&FindModule, &FindExport);
        platform::testing::OverrideDebugOutput(&Collect);
        SetModuleHost(&host);
        plugin = CreateInterface(&IID_DrawPlugin);
        ASSERT_NE(plugin, nullptr);
        host.Connect(*plugin);
    }

    void TearDown() override
    {
        plugin->Destroy();
        SetModuleHost(nullptr);
        platform::testing::OverrideMultimediaTime(nullptr);
        platform::testing::OverrideTickCount(nullptr);
        platform::testing::OverrideModuleLookup(nullptr, nullptr);
        platform::testing::OverrideDebugOutput(nullptr);
    }

    // One frame of one layer: background, Draw; the frame's bytes.
    std::vector<std::uint8_t> Frame(std::int32_t handle, std::int32_t rate, std::int32_t* calls = nullptr)
    {
        host.BeginFrame();
        const std::int32_t made = host.DrawLayer(*plugin, handle, rate);
        if (calls) {
            *calls = made;
        }
        return Bytes(host.Frame());
    }

    StudioHost host{320, 240};
    IDrawPlugin* plugin = nullptr;
};

TEST_F(StudioHostTest, ThePluginFindsEveryServiceAndDrawsOneCallPerVisibleSprite)
{
    EXPECT_TRUE(messages.empty()) << messages.front();
    Init(1, 320, 240, 0, 32, 4);
    SetNumof(1, 25);
    Start(1);
    host.SetBackground(0x000000, 0x000000);
    std::int32_t calls = 0;
    const auto frame = Frame(1, 255, &calls);
    EXPECT_GT(calls, 15);
    EXPECT_LE(calls, 25);
    EXPECT_NE(frame, std::vector<std::uint8_t>(frame.size(), 0)) << "nothing drawn";
    EXPECT_TRUE(messages.empty());

    plugin->Update();
    EXPECT_EQ(host.DrawHost().last.handle, 1);
    EXPECT_EQ(host.DrawHost().last.width, 640);

    // Released: the handle draws nothing, the frame is the bare background.
    Release(1);
    const auto released = Frame(1, 255, &calls);
    EXPECT_EQ(calls, 0);
    for (std::size_t i = 0; i < released.size(); i += 4) {
        ASSERT_EQ((Pixel{released[i], released[i + 1], released[i + 2], released[i + 3]}), (Pixel{0, 0, 0, 255}));
    }
}

TEST_F(StudioHostTest, TheFourModesDrawDifferentlyAndEndTheirScratchSurfaces)
{
    Init(2, 320, 240, 32, 32, 4);
    SetMaxAmp(2, 0);  // with the clock standing still, nothing moves
    Start(2);
    host.SetBackground(0x808080, 0x808080);
    SetType(2, 4);
    std::int32_t calls = -1;
    const auto bare = Frame(2, 128, &calls);
    EXPECT_EQ(calls, 0);
    for (std::size_t i = 0; i < bare.size(); i += 4) {  // grey throughout, opaque
        ASSERT_EQ(bare[i], 0x80);
        ASSERT_EQ(bare[i + 3], 255);
    }

    std::vector<std::vector<std::uint8_t>> frames;
    for (std::int32_t mode = 0; mode < 4; ++mode) {
        SetType(2, mode);
        frames.push_back(Frame(2, 128, &calls));
        EXPECT_GT(calls, 20) << "mode " << mode;
        EXPECT_EQ(host.SurfaceFactory().Live(), 0) << "mode " << mode << " left its scratch surface";
        SetType(2, mode);
        EXPECT_EQ(Frame(2, 128), frames.back()) << "mode " << mode << " is not repeatable";
    }
    for (std::size_t a = 0; a < frames.size(); ++a) {
        for (std::size_t b = a + 1; b < frames.size(); ++b) {
            EXPECT_NE(frames[a], frames[b]) << "modes " << a << " and " << b;
        }
    }
    // Additive only brightens the grey, multiply only darkens it.
    bool brighter = false, darker = false;
    for (std::size_t i = 0; i < bare.size(); ++i) {
        ASSERT_GE(frames[1][i], bare[i]);
        ASSERT_LE(frames[3][i], bare[i]);
        brighter = brighter || frames[1][i] > bare[i];
        darker = darker || frames[3][i] < bare[i];
    }
    EXPECT_TRUE(brighter);
    EXPECT_TRUE(darker);
    EXPECT_TRUE(messages.empty());
}

TEST_F(StudioHostTest, AFieldLargerThanTheFrameIsClippedToIt)
{
    // The field reaches past the frame on every side it can: the host clips.
    Init(3, 4000, 3000, 0, 32, 4);
    SetNumof(3, 400);
    SetType(3, 3);
    Start(3);
    for (std::int32_t mode = 0; mode < 4; ++mode) {
        SetType(3, mode);
        std::int32_t calls = 0;
        Frame(3, 200, &calls);
        EXPECT_GT(calls, 0);
        clockNow += 16;
    }
    EXPECT_EQ(host.SurfaceFactory().Live(), 0);
}

}  // namespace
}  // namespace velora::web
