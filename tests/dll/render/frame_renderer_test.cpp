#include "render/frame_renderer.h"

#include <climits>
#include <cmath>
#include <limits>
#include <optional>

#include <gtest/gtest.h>

#include "contract/exports.h"
#include "effect/instance_registry.h"
#include "effect/motion.h"
#include "support/debug_capture.h"
#include "support/fake_clock.h"
#include "support/fake_modules.h"
#include "support/host_modules.h"
#include "support/recording_host.h"

namespace velora {
namespace {

using Calls = std::vector<std::string>;

constexpr std::int32_t kHandle = 9;
constexpr std::int32_t kBase = 100;
constexpr std::int32_t kRate = 77;

Particle At(float x, float y, float phase = 0.0f, bool forward = true)
{
    return Particle{x, y, 0.0f, 1.0f, phase, 1.0f, forward};
}

// A plug-in object wired to a recording host, with one initialised effect:
// 640 x 480, 16 sprites of 32 x 32 from number 100 in 4 rotation groups.
class Renderer : public ::testing::Test {
protected:
    Renderer()
    {
        Instances().Clear();
        hostModules.LoadInto(modules);
        plugin = CreateInterface(&IID_DrawPlugin);
        plugin->SetInterface(&IID_DrawHost, static_cast<IDrawHost*>(&host.drawHost));
        plugin->SetInterface(&IID_SpriteBank, static_cast<ISpriteBank*>(&host.spriteBank));
        host.spriteBank.AddRun(kBase, 16, 32);
        Init(kHandle, 640, 480, kBase, 16, 4);
    }
    ~Renderer() override
    {
        if (plugin) {
            plugin->Destroy();
        }
        Instances().Clear();
    }

    // Starts the effect with exactly these particles, and clears the log.
    EffectInstance& StartWith(std::int32_t type, std::vector<Particle> particles)
    {
        SetType(kHandle, type);
        SetNumof(kHandle, 0);
        clock.Set(1000);
        Start(kHandle);
        EffectInstance& instance = *Instances().Find(kHandle);
        instance.particles = std::move(particles);
        host.log.calls.clear();
        return instance;
    }

    Calls DrawOnce(std::int32_t handle = kHandle)
    {
        host.log.calls.clear();
        clock.Advance(10);
        plugin->Draw(handle, &host.destination, 1, 2, 3, 4, 5, 6, kRate);
        return host.log.calls;
    }

    // One frame drawn straight through the renderer with `services`, then the
    // motion step with the sprite size it returned, as the plug-in object does.
    Calls DrawServices()
    {
        host.log.calls.clear();
        clock.Advance(10);
        EffectInstance& instance = *Instances().Find(kHandle);
        ScratchSurface scratch(services.surfaceFactory, &host.destination);
        spriteSize = DrawFrame(services, instance, &host.destination, kRate, scratch);
        if (spriteSize) {
            StepParticles(instance, *spriteSize);
        }
        scratch.Destroy();
        return host.log.calls;
    }

    testing::RecordingHost host;
    testing::HostModules hostModules{host};
    testing::FakeModules modules;
    testing::DebugCapture debug;
    testing::FakeClock clock;
    IDrawPlugin* plugin = nullptr;
    // What the plug-in object hands the renderer, for tests that take services away.
    HostServices services{&host.spriteBank, &host.surfaceFactory, &host.graphBlend, &host.graphFilter};
    std::optional<std::int32_t> spriteSize;  // what the last DrawServices returned
};

TEST_F(Renderer, HandlesWithoutAStartedInstanceMakeNoHostCall)
{
    clock.Set(500);
    EXPECT_TRUE(DrawOnce(kHandle).empty());  // initialised, not started
    EXPECT_TRUE(DrawOnce(12345).empty());    // never initialised
    StartWith(0, {At(100, 100)});
    Release(kHandle);
    EXPECT_TRUE(DrawOnce(kHandle).empty());
    EXPECT_EQ(clock.timeReads, 1);  // only Start read the clock
}

TEST_F(Renderer, InstanceWithoutParticlesFetchesTheBaseSpriteAndSteps)
{
    EffectInstance& instance = StartWith(2, {});
    EXPECT_EQ(DrawOnce(), (Calls{"GetSprite@0(100)", "sprite100.GetWidth@4()"}));
    EXPECT_EQ(instance.lastTime, 1010u);
}

TEST_F(Renderer, ModeZeroBlendsTheClippedSpriteAtTheLeftEdge)
{
    StartWith(0, {At(10, 100)});
    const Calls expected = {
        "GetSprite@0(100)", "sprite100.GetWidth@4()",
        "GetSprite@0(100)", "sprite100.GetWidth@4()", "sprite100.GetHeight@5()",
        "BlendRect@14(dest, 0, 84, sprite100, 6, 0, 26, 32, 77)",
    };
    EXPECT_EQ(DrawOnce(), expected);
}

TEST_F(Renderer, ModeOneUsesTheOtherBlend)
{
    StartWith(1, {At(200, 150, 0.5f)});
    const Calls expected = {
        "GetSprite@0(100)", "sprite100.GetWidth@4()",
        "GetSprite@0(102)", "sprite102.GetWidth@4()", "sprite102.GetHeight@5()",
        "BlendRectAlt@20(dest, 184, 134, sprite102, 0, 0, 32, 32, 77)",
    };
    EXPECT_EQ(DrawOnce(), expected);
}

TEST_F(Renderer, ModeTwoSharesOneScratchSurfaceAndFiltersWithTheRate)
{
    StartWith(2, {At(100, 100), At(1000, 100, 0.25f), At(300, 200, 0.25f), At(50, 470, 0.5f)});
    const Calls expected = {
        "GetSprite@0(100)", "sprite100.GetWidth@4()",
        "GetSprite@0(100)", "sprite100.GetWidth@4()", "sprite100.GetHeight@5()",
        "dest.GetFormat@6()", "CreateSurface@2(32, 32, 32)",
        "CopyRect@4(scratch1, 0, 0, sprite100, 0, 0, 32, 32)",
        "FilterRect@22(scratch1, 0, 0, 32, 32, 77)",
        "DrawRect@11(dest, 84, 84, scratch1, 0, 0, 32, 32)",
        "GetSprite@0(101)", "sprite101.GetWidth@4()", "sprite101.GetHeight@5()",
        "GetSprite@0(101)", "sprite101.GetWidth@4()", "sprite101.GetHeight@5()",
        "CopyRect@4(scratch1, 0, 0, sprite101, 0, 0, 32, 32)",
        "FilterRect@22(scratch1, 0, 0, 32, 32, 77)",
        "DrawRect@11(dest, 284, 184, scratch1, 0, 0, 32, 32)",
        "GetSprite@0(102)", "sprite102.GetWidth@4()", "sprite102.GetHeight@5()",
        "CopyRect@4(scratch1, 0, 0, sprite102, 0, 0, 32, 32)",
        "FilterRect@22(scratch1, 0, 0, 32, 32, 77)",
        "DrawRect@11(dest, 34, 454, scratch1, 0, 0, 32, 26)",
        "scratch1.Destroy@1()",
    };
    EXPECT_EQ(DrawOnce(), expected);
    EXPECT_TRUE(host.surfaceFactory.made.at(0)->destroyed);
}

// The motion step's two clock readings come before the scratch surface ends.
TEST_F(Renderer, ScratchSurfaceEndsAfterTheMotionStep)
{
    static testing::CallLog* log = nullptr;
    log = &host.log;
    platform::testing::OverrideMultimediaTime([]() -> std::uint32_t {
        log->Record("MultimediaTime", 0);
        return 1010;
    });
    for (std::int32_t type : {2, 3}) {
        StartWith(type, {At(100, 100)});
        const Calls calls = DrawOnce();
        ASSERT_GE(calls.size(), 3u);
        const Calls end(calls.end() - 3, calls.end());
        const std::string destroy = "scratch" + std::to_string(type - 1) + ".Destroy@1()";
        EXPECT_EQ(end, (Calls{"MultimediaTime@0()", "MultimediaTime@0()", destroy})) << "mode " << type;
    }
}

TEST_F(Renderer, ScratchSurfaceIsMadeOnlyWhenSomethingIsDrawn)
{
    for (std::int32_t type : {2, 3}) {
        StartWith(type, {At(1000, 100), At(100, 900)});
        const Calls calls = DrawOnce();
        EXPECT_EQ(host.log.Count("dest.GetFormat"), 0);
        EXPECT_EQ(host.log.Count("CreateSurface"), 0);
        EXPECT_EQ(calls.size(), 2u + 2 * 3);
    }
}

TEST_F(Renderer, ModeThreeWhitensTheCopysTransparentPixels)
{
    // S = 2: the base sprite's width decides the scratch size and the loops.
    host.spriteBank.sprites.clear();
    host.spriteBank.AddRun(kBase, 16, 2);
    testing::FakeSurface& sprite = *host.spriteBank.sprites.at(kBase);
    sprite.Fill(10, 20, 30, 200);
    sprite.Alpha(0, 0) = 0;
    sprite.Alpha(1, 1) = 0;
    host.destination.Fill(1, 2, 3, 255);
    StartWith(3, {At(10, 10)});

    const Calls expected = {
        "GetSprite@0(100)", "sprite100.GetWidth@4()",
        "GetSprite@0(100)", "sprite100.GetWidth@4()", "sprite100.GetHeight@5()",
        "dest.GetFormat@6()", "CreateSurface@2(2, 2, 32)",
        "CopyRect@4(scratch1, 0, 0, sprite100, 0, 0, 2, 2)",
        "sprite100.GetAlphaAddress@3(0, 0)",
        "scratch1.GetPixelAddress@2(0, 0)", "scratch1.GetPixelAddress@2(0, 0)",
        "scratch1.GetPixelAddress@2(0, 0)",
        "sprite100.GetAlphaAddress@3(0, 1)",
        "sprite100.GetAlphaAddress@3(1, 0)",
        "sprite100.GetAlphaAddress@3(1, 1)",
        "scratch1.GetPixelAddress@2(1, 1)", "scratch1.GetPixelAddress@2(1, 1)",
        "scratch1.GetPixelAddress@2(1, 1)",
        "MixRect@37(dest, 9, 9, scratch1, 0, 0, 2, 2, 77)",
        "scratch1.Destroy@1()",
    };
    EXPECT_EQ(DrawOnce(), expected);

    testing::FakeSurface& scratch = *host.surfaceFactory.made.at(0);
    auto colour = [](testing::FakeSurface& s, int x, int y) {
        const std::uint8_t* c = s.Colour(x, y);
        return std::vector<int>{c[0], c[1], c[2]};
    };
    EXPECT_EQ(colour(scratch, 0, 0), (std::vector<int>{255, 255, 255}));
    EXPECT_EQ(colour(scratch, 1, 1), (std::vector<int>{255, 255, 255}));
    EXPECT_EQ(colour(scratch, 0, 1), (std::vector<int>{10, 20, 30}));
    EXPECT_EQ(colour(scratch, 1, 0), (std::vector<int>{10, 20, 30}));
    EXPECT_EQ(scratch.Alpha(0, 0), 0);  // no alpha byte is changed
    // The host mixed the whitened copy onto the destination.
    EXPECT_EQ(colour(host.destination, 9, 9), (std::vector<int>{255, 255, 255}));
    EXPECT_EQ(colour(host.destination, 10, 9), (std::vector<int>{10, 20, 30}));
    EXPECT_EQ(colour(host.destination, 11, 9), (std::vector<int>{1, 2, 3}));
}

TEST_F(Renderer, ModeThreeReadsNoAlphaOutsideASmallerSprite)
{
    host.spriteBank.sprites.clear();
    host.spriteBank.Add(kBase, 4, 4);  // S = 4
    for (std::int32_t i = 1; i < 16; ++i) {
        host.spriteBank.Add(kBase + i, 2, 3);
    }
    host.spriteBank.sprites.at(kBase + 1)->Fill(0, 0, 0, 0);
    StartWith(3, {At(100, 100, 0.25f)});  // frame 1
    DrawOnce();
    EXPECT_EQ(host.log.Count("sprite101.GetAlphaAddress"), 2 * 3);
    EXPECT_EQ(host.log.Count("scratch1.GetPixelAddress"), 2 * 3 * 3);
    EXPECT_EQ(host.log.Count("MixRect@37(dest, 98, 98, scratch1, 0, 0, 2, 3, 77)"), 1);
}

// Modes 2 and 3 go through the S x S scratch surface: a sprite smaller than
// the base sprite is copied only as far as it reaches, and only that much is
// drawn, so the host never reads past the sprite.
TEST_F(Renderer, ScratchModesCopyNoMoreThanASmallerSpriteHolds)
{
    host.spriteBank.sprites.clear();
    host.spriteBank.Add(kBase, 32, 32);  // S = 32
    for (std::int32_t i = 1; i < 16; ++i) {
        host.spriteBank.Add(kBase + i, 16, 12);
    }
    for (std::int32_t type : {2, 3}) {
        host.surfaceFactory.made.clear();
        StartWith(type, {At(100, 100, 0.25f)});  // frame 1
        DrawOnce();
        EXPECT_EQ(host.log.Count("CopyRect@4(scratch1, 0, 0, sprite101, 0, 0, 16, 12)"), 1) << "mode " << type;
        EXPECT_EQ(host.log.Count(type == 2 ? "DrawRect@11(dest, 84, 84, scratch1, 0, 0, 16, 12)"
                                           : "MixRect@37(dest, 84, 84, scratch1, 0, 0, 16, 12, 77)"),
                  1);
        EXPECT_EQ(host.log.Count("FilterRect@22(scratch1, 0, 0, 32, 32, 77)"), type == 2 ? 1 : 0);
    }
}

// A sprite larger than the base sprite: the scratch surface holds only its
// top-left S x S pixels, and the drawing stops there.
TEST_F(Renderer, ScratchModesDrawNoMoreThanTheScratchSurfaceHolds)
{
    host.spriteBank.sprites.clear();
    host.spriteBank.Add(kBase, 32, 32);
    for (std::int32_t i = 1; i < 16; ++i) {
        host.spriteBank.Add(kBase + i, 48, 40);
    }
    StartWith(2, {At(100, 100, 0.25f), At(10, 100, 0.25f)});
    DrawOnce();
    EXPECT_EQ(host.log.Count("CopyRect@4(scratch1, 0, 0, sprite101, 0, 0, 32, 32)"), 2);
    EXPECT_EQ(host.log.Count("DrawRect@11(dest, 84, 84, scratch1, 0, 0, 32, 32)"), 1);
    // Cut off by 6 at the left edge: 26 of the copy's 32 columns remain.
    EXPECT_EQ(host.log.Count("DrawRect@11(dest, 0, 84, scratch1, 6, 0, 26, 32)"), 1);
}

// A base sprite without width leaves no scratch area: modes 2 and 3 draw
// nothing and make no scratch surface, and the effect still moves.
TEST_F(Renderer, ScratchModesDrawNothingWhenTheBaseSpriteHasNoWidth)
{
    for (std::int32_t S : {0, -4}) {
        for (std::int32_t type : {2, 3}) {
            host.spriteBank.sprites.clear();
            host.spriteBank.Add(kBase, S, 32);
            for (std::int32_t i = 1; i < 16; ++i) {
                host.spriteBank.Add(kBase + i, 32, 32);
            }
            EffectInstance& instance = StartWith(type, {At(100, 100, 0.25f)});
            const Calls calls = DrawOnce();
            EXPECT_EQ(calls.size(), 2u + 3) << "S " << S << ", mode " << type;
            EXPECT_EQ(host.log.Count("CreateSurface"), 0);
            EXPECT_EQ(instance.lastTime, 1010u);
        }
    }
}

// A host that answers null for an alpha or pixel address has no pixel there:
// whitening stops, instead of asking for every other pixel of a sprite that,
// as the host tells it, is far larger than anything it holds.
TEST_F(Renderer, ModeThreeStopsWhiteningWhereTheHostHasNoPixels)
{
    host.spriteBank.sprites.clear();
    host.spriteBank.AddRun(kBase, 16, 2048);  // S = 2048, larger than any surface holds
    StartWith(3, {At(1034, 1034, 0.25f)});
    DrawOnce();
    EXPECT_EQ(host.log.Count("sprite101.GetAlphaAddress"), 1);
    EXPECT_EQ(host.log.Count("MixRect@37(dest, 10, 10, scratch1, 0, 0, 630, 470, 77)"), 1);

    // A transparent sprite that holds its pixels, copied into a scratch
    // surface that holds none.
    for (std::int32_t i = 1; i < 16; ++i) {
        host.spriteBank.Add(kBase + i, 4, 4).Fill(0, 0, 0, 0);
    }
    host.surfaceFactory.made.clear();
    StartWith(3, {At(1034, 1034, 0.25f)});
    DrawOnce();
    EXPECT_EQ(host.log.Count("sprite101.GetAlphaAddress"), 1);
    EXPECT_EQ(host.log.Count("scratch1.GetPixelAddress"), 1);
    EXPECT_EQ(host.log.Count("MixRect@37(dest, 10, 10, scratch1, 0, 0, 4, 4, 77)"), 1);
}

TEST_F(Renderer, UnknownModeStillNormalisesFetchesAndSteps)
{
    EffectInstance& instance = StartWith(5, {At(100, 100), At(200, 200, 0.5f)});
    instance.particles[0].angle = 7.0f;
    const Calls expected = {
        "GetSprite@0(100)", "sprite100.GetWidth@4()",
        "GetSprite@0(100)", "sprite100.GetWidth@4()", "sprite100.GetHeight@5()",
        "GetSprite@0(102)", "sprite102.GetWidth@4()", "sprite102.GetHeight@5()",
    };
    EXPECT_EQ(DrawOnce(), expected);
    // Normalised (7 - 2pi = 0.7168147), then spun by the 10 ms step.
    EXPECT_EQ(instance.particles[0].angle, static_cast<float>(0.7168147f + 3.141592653589793 * 0.001f * 10));
    EXPECT_EQ(instance.lastTime, 1010u);
}

TEST_F(Renderer, TheSixIgnoredWordsChangeNothing)
{
    StartWith(2, {At(100, 100), At(300, 300, 0.5f)});
    host.log.calls.clear();
    plugin->Draw(kHandle, &host.destination, 0, 0, 0, 0, 0, 0, kRate);
    const Calls plain = host.log.calls;
    StartWith(2, {At(100, 100), At(300, 300, 0.5f)});
    plugin->Draw(kHandle, &host.destination, INT_MIN, -1, INT_MAX, 0x7F7F7F7F, 42, -42, kRate);
    for (std::string& call : host.log.calls) {
        const auto at = call.find("scratch2");
        if (at != std::string::npos) {
            call.replace(at, 8, "scratch1");
        }
    }
    EXPECT_EQ(host.log.calls, plain);
}

TEST_F(Renderer, DegenerateRunsAreNotDrawnButKeepMoving)
{
    for (auto [count, groups] : {std::pair{0, 4}, {-5, 4}, {16, 0}, {16, -1}, {INT_MIN, -1}}) {
        Instances().Clear();
        Init(kHandle, 640, 480, kBase, count, groups);
        EffectInstance& instance = StartWith(0, {At(100, 100)});
        instance.particles[0].angle = 13.0f;
        EXPECT_EQ(DrawOnce(), (Calls{"GetSprite@0(100)", "sprite100.GetWidth@4()"}));
        EXPECT_EQ(instance.lastTime, 1010u);
        EXPECT_NE(instance.particles[0].y, 100.0f);
        EXPECT_LT(instance.particles[0].angle, 6.3f);
    }
}

TEST_F(Renderer, MissingServicesSkipOnlyWhatNeedsThem)
{
    EffectInstance& instance = StartWith(0, {At(100, 100)});
    services.spriteBank = nullptr;
    EXPECT_TRUE(DrawServices().empty());  // no sprite size, so no frame and no step
    EXPECT_EQ(spriteSize, std::nullopt);
    EXPECT_EQ(instance.lastTime, 1000u);

    services.spriteBank = &host.spriteBank;
    services.graphBlend = nullptr;
    EXPECT_EQ(DrawServices().size(), 5u);  // fetched, not drawn
    EXPECT_EQ(spriteSize, 32);
    EXPECT_EQ(instance.lastTime, 1020u);

    SetType(kHandle, 2);
    services.graphFilter = nullptr;
    EXPECT_EQ(DrawServices().size(), 5u);
    services.graphFilter = &host.graphFilter;
    services.surfaceFactory = nullptr;
    EXPECT_EQ(DrawServices().size(), 5u);
}

TEST_F(Renderer, NullSpritesAndRefusedScratchSurfacesAreSkipped)
{
    host.spriteBank.sprites.erase(kBase + 2);
    StartWith(0, {At(100, 100, 0.5f), At(200, 200)});
    const Calls calls = DrawOnce();
    EXPECT_EQ(calls.at(2), "GetSprite@0(102)");
    EXPECT_EQ(calls.at(3), "GetSprite@0(100)");
    EXPECT_EQ(host.log.Count("BlendRect"), 1);

    host.spriteBank.sprites.erase(kBase);
    EXPECT_EQ(DrawOnce(), Calls{"GetSprite@0(100)"});

    host.spriteBank.AddRun(kBase, 16, 32);
    host.surfaceFactory.refuse = true;
    StartWith(3, {At(100, 100), At(200, 200)});
    DrawOnce();
    EXPECT_EQ(host.log.Count("CreateSurface"), 1);  // asked once per call
    EXPECT_EQ(host.log.Count("CopyRect"), 0);
    EXPECT_EQ(host.log.Count("MixRect"), 0);
}

TEST_F(Renderer, ParticlesFarOutsideTheFieldAreNeverDrawn)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    StartWith(0, {At(-100, 100), At(100, -5000), At(nan, 100), At(3e9f, 3e9f), At(100, 100)});
    DrawOnce();
    EXPECT_EQ(host.log.Count("BlendRect"), 1);
}

// The host's whole flow, in each mode: every drawn rectangle lies inside the
// field and inside its source, and each scratch surface ends in its call.
TEST_F(Renderer, WholeEffectOverManyFramesInEveryMode)
{
    for (std::int32_t type : {0, 1, 2, 3}) {
        plugin->Destroy();
        Instances().Clear();
        host.log.calls.clear();
        host.surfaceFactory.made.clear();
        plugin = CreateInterface(&IID_DrawPlugin);
        plugin->SetInterface(&IID_DrawHost, static_cast<IDrawHost*>(&host.drawHost));
        plugin->SetInterface(&IID_SpriteBank, static_cast<ISpriteBank*>(&host.spriteBank));
        clock.SetTicks(1234u + static_cast<std::uint32_t>(type));
        Init(kHandle, 640, 480, kBase, 16, 4);
        SetType(kHandle, type);
        SetNumof(kHandle, 60);
        SetMaxAmp(kHandle, 25);
        SetXSpeed(kHandle, -3.5f);
        SetYSpeed(kHandle, 2.0f);
        Start(kHandle);
        EXPECT_EQ(plugin->Update(), host.drawHost.answer);

        int drawn = 0;
        for (int frame = 0; frame < 120; ++frame) {
            host.log.calls.clear();
            clock.Advance(frame % 7 == 0 ? 400 : 16);
            plugin->Draw(kHandle, &host.destination, 0, 0, 0, 0, 0, 0, 200);
            for (const std::string& call : host.log.calls) {
                int dx, dy, sx, sy, w, h;
                const char* format = type < 2 ? "%*[^(](dest, %d, %d, sprite%*d, %d, %d, %d, %d"
                                              : "%*[^(](dest, %d, %d, scratch%*d, %d, %d, %d, %d";
                if (call.find("(dest,") == std::string::npos ||
                    std::sscanf(call.c_str(), format, &dx, &dy, &sx, &sy, &w, &h) != 6) {
                    continue;
                }
                ++drawn;
                EXPECT_GE(dx, 0);
                EXPECT_GE(dy, 0);
                EXPECT_GT(w, 0);
                EXPECT_GT(h, 0);
                EXPECT_LE(dx + w, 640);
                EXPECT_LE(dy + h, 480);
                EXPECT_LE(sx + w, 32);
                EXPECT_LE(sy + h, 32);
            }
            const int made = host.log.Count("CreateSurface");
            EXPECT_EQ(made, type >= 2 ? 1 : 0) << "frame " << frame;
            if (!made) {
                EXPECT_EQ(host.log.Count("scratch"), 0);
            } else {
                EXPECT_EQ(host.log.calls.back(), "scratch" + std::to_string(host.surfaceFactory.made.size()) +
                                                     ".Destroy@1()");
            }
        }
        EXPECT_GT(drawn, 120 * 20) << "mode " << type;
        EXPECT_EQ(Instances().Find(kHandle)->particles.size(), 60u);
        Release(kHandle);
        host.log.calls.clear();
        plugin->Draw(kHandle, &host.destination, 0, 0, 0, 0, 0, 0, 200);
        EXPECT_TRUE(host.log.calls.empty());
    }
}

}  // namespace
}  // namespace velora
