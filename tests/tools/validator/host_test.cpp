// The validator's host checks, fed by hand: a plug-in that follows the rules
// leaves no fault, and each broken rule is reported.
#include "validator/host.h"

#include <gtest/gtest.h>

#include "validator/choice_stream.h"

namespace velora::validator {
namespace {

// A started instance: field 640 x 480, sprites 100.. 115, four groups, and
// the host's uniform 32 x 32 sprites (the default configuration).
class HostChecks : public ::testing::Test {
protected:
    DrawExpectation Started(std::int32_t type, std::int64_t particles)
    {
        DrawExpectation e;
        e.started = true;
        e.width = 640;
        e.height = 480;
        e.type = type;
        e.baseSprite = 100;
        e.spriteCount = 16;
        e.rotationFrames = 4;
        e.particles = particles;
        e.hasBank = true;
        e.destination = host.Destination(0);
        e.rate = 77;
        return e;
    }

    void BeginDraw(const DrawExpectation& e)
    {
        host.ExpectDraw(e);
        host.BeginCall(CallKind::Draw, "Draw");
    }

    // Base sprite and its width, as every Draw of a started instance begins.
    std::int32_t FetchBase()
    {
        ISurface* base = host.SpriteBank()->GetSprite(100);
        return base->GetWidth();
    }

    // One particle's sprite fetch: GetSprite, GetWidth, GetHeight.
    ISurface* FetchParticle(std::int32_t number = 101)
    {
        ISurface* sprite = host.SpriteBank()->GetSprite(number);
        sprite->GetWidth();
        sprite->GetHeight();
        return sprite;
    }

    std::vector<std::string> Faults() const { return host.Faults(); }

    Host host;
};

TEST_F(HostChecks, AFrameThatFollowsTheRulesIsCleanInEveryMode)
{
    for (std::int32_t type : {0, 1, 2, 3, 7}) {
        BeginDraw(Started(type, 2));
        const std::int32_t S = FetchBase();
        ISurface* scratch = nullptr;
        for (int particle = 0; particle < 2; ++particle) {
            ISurface* sprite = FetchParticle();
            ISurface* dest = host.Destination(0);
            if (type == 0) {
                host.GraphBlend()->BlendRect(dest, 0, 10, sprite, 6, 0, 26, 32, 77);
            } else if (type == 1) {
                host.GraphBlend()->BlendRectAlt(dest, 608, 448, sprite, 0, 0, 32, 32, 77);
            } else if (type == 2 || type == 3) {
                if (!scratch) {
                    scratch = host.SurfaceFactory()->CreateSurface(S, S, dest->GetFormat());
                }
                host.GraphFilter()->CopyRect(scratch, 0, 0, sprite, 0, 0, S, S);
                if (type == 2) {
                    host.GraphFilter()->FilterRect(scratch, 0, 0, S, S, 77);
                    host.GraphFilter()->DrawRect(dest, 100, 100, scratch, 0, 0, 32, 32);
                } else {
                    sprite->GetAlphaAddress(31, 31);
                    scratch->GetPixelAddress(31, 31);
                    host.GraphFilter()->MixRect(dest, 0, 0, scratch, 4, 5, 28, 27, 77);
                }
            }
        }
        if (scratch) {
            scratch->Destroy();
        }
        host.EndCall();
        EXPECT_EQ(Faults(), std::vector<std::string>{}) << "mode " << type;
        EXPECT_EQ(host.DrawsThisCall(), type < 4 ? 2 : 0);
    }
}

TEST_F(HostChecks, HandlesWithoutAStartedInstanceGetNoHostCall)
{
    DrawExpectation e = Started(0, 3);
    e.started = false;
    BeginDraw(e);
    host.EndCall();
    EXPECT_TRUE(Faults().empty());

    BeginDraw(e);
    FetchBase();
    host.EndCall();
    ASSERT_EQ(Faults().size(), 1u);  // told once per call
    EXPECT_NE(Faults()[0].find("without a started instance"), std::string::npos);

    host.ClearFaults();
    host.BeginCall(CallKind::Quiet, "SetType");
    host.SpriteBank()->GetSprite(3);
    host.EndCall();
    ASSERT_EQ(Faults().size(), 1u);
    EXPECT_EQ(Faults()[0], "SetType: host operation GetSprite made during it");
}

TEST_F(HostChecks, TheParticleCountIsTheNumberOfSpriteFetches)
{
    BeginDraw(Started(0, 3));
    FetchBase();
    FetchParticle();
    FetchParticle();
    host.EndCall();
    ASSERT_EQ(Faults().size(), 1u);
    EXPECT_EQ(Faults()[0], "Draw: 2 sprites fetched for particles, but the last Start spawned 3");

    // A run without groups may be skipped whole, or fetched in full.
    host.ClearFaults();
    DrawExpectation degenerate = Started(0, 2);
    degenerate.rotationFrames = 0;
    BeginDraw(degenerate);
    FetchBase();
    host.EndCall();
    EXPECT_TRUE(Faults().empty());

    // Without a sprite bank nothing can be fetched at all.
    DrawExpectation noBank = Started(0, 2);
    noBank.hasBank = false;
    BeginDraw(noBank);
    host.EndCall();
    EXPECT_TRUE(Faults().empty());
}

TEST_F(HostChecks, SpritesOutsideTheRunOrBeforeTheBaseAreFaults)
{
    BeginDraw(Started(5, 1));
    host.SpriteBank()->GetSprite(101);  // not the base sprite first
    host.SpriteBank()->GetSprite(116);  // one past the run
    host.EndCall();
    ASSERT_EQ(Faults().size(), 2u);
    EXPECT_EQ(Faults()[0], "Draw: first sprite fetched is 101, not the base sprite 100");
    EXPECT_EQ(Faults()[1], "Draw: sprite 116 fetched outside the run of 16 from 100");
}

TEST_F(HostChecks, RectanglesMustLieInsideTheFieldAndTheirSource)
{
    BeginDraw(Started(0, 3));
    FetchBase();
    ISurface* dest = host.Destination(0);
    ISurface* sprite = FetchParticle();
    host.GraphBlend()->BlendRect(dest, 630, 0, sprite, 0, 0, 32, 32, 77);  // past the right edge
    sprite = FetchParticle();
    host.GraphBlend()->BlendRect(dest, 0, 0, sprite, 20, 0, 20, 32, 77);   // past the sprite
    sprite = FetchParticle();
    host.GraphBlend()->BlendRect(dest, 0, 0, sprite, 0, 0, 0, 32, 77);     // empty
    host.EndCall();
    ASSERT_EQ(Faults().size(), 3u);
    EXPECT_EQ(Faults()[0], "Draw: BlendRect destination rectangle (630, 0, 32, 32) leaves the 640 x 480 field");
    EXPECT_EQ(Faults()[1], "Draw: BlendRect source rectangle (20, 0, 20, 32) leaves the 32 x 32 sprite");
    EXPECT_EQ(Faults()[2], "Draw: BlendRect with an empty destination rectangle (0, 0, 0, 32)");
}

TEST_F(HostChecks, WrongModeRateOrSurfaceAreFaults)
{
    BeginDraw(Started(1, 2));
    FetchBase();
    ISurface* dest = host.Destination(0);
    ISurface* sprite = FetchParticle();
    host.GraphBlend()->BlendRect(dest, 0, 0, sprite, 0, 0, 8, 8, 76);
    FetchParticle();
    host.GraphBlend()->BlendRectAlt(host.Destination(1), 0, 0, host.Destination(0), 0, 0, 8, 8, 77);
    host.EndCall();
    ASSERT_EQ(Faults().size(), 4u);
    EXPECT_EQ(Faults()[0], "Draw: BlendRect in drawing mode 1");
    EXPECT_EQ(Faults()[1], "Draw: BlendRect with rate 76, the host passed 77");
    EXPECT_EQ(Faults()[2], "Draw: BlendRectAlt onto a surface that is not the destination");
    EXPECT_EQ(Faults()[3], "Draw: BlendRectAlt of a surface that is not the particle's own sprite");
}

TEST_F(HostChecks, TheScratchSurfaceIsOneSquareDestroyedInItsOwnCall)
{
    BeginDraw(Started(2, 1));
    const std::int32_t S = FetchBase();
    FetchParticle();
    ISurface* dest = host.Destination(0);
    ISurface* scratch = host.SurfaceFactory()->CreateSurface(S, S + 1, dest->GetFormat());
    host.SurfaceFactory()->CreateSurface(S, S, 99);
    host.EndCall();
    ASSERT_EQ(Faults().size(), 5u);
    EXPECT_EQ(Faults()[0], "Draw: scratch surface of 32 x 33 asked for, the base sprite is 32 wide");
    EXPECT_EQ(Faults()[1], "Draw: more than one scratch surface asked for in one call");
    EXPECT_EQ(Faults()[2], "Draw: scratch surface asked for in format 99, not the destination's");
    EXPECT_EQ(Faults()[3], "Draw: the scratch surface was not destroyed in the call that made it");
    EXPECT_EQ(Faults()[4], "Draw: the scratch surface was not destroyed in the call that made it");

    // Kept into the next call, destroyed there, and destroyed twice.
    host.ClearFaults();
    BeginDraw(Started(2, 0));
    FetchBase();
    scratch->Destroy();
    host.EndCall();
    BeginDraw(Started(2, 0));
    FetchBase();
    ISurface* fresh = host.SurfaceFactory()->CreateSurface(S, S, 32);
    fresh->Destroy();
    fresh->Destroy();
    host.Destination(0)->Destroy();
    host.EndCall();
    ASSERT_EQ(Faults().size(), 3u);
    EXPECT_EQ(Faults()[0], "Draw: Destroy on a surface not handed over in this call");
    EXPECT_EQ(Faults()[1], "Draw: Destroy on a surface after its Destroy");
    EXPECT_EQ(Faults()[2], "Draw: Destroy of a surface the plug-in does not own");
}

TEST_F(HostChecks, CopiesAndDrawsFromTheScratchSurfaceStayInsideTheCopy)
{
    // A copy smaller than the scratch surface, as for a sprite smaller than
    // the base sprite: what lies beyond it is not this particle's.
    BeginDraw(Started(3, 2));
    const std::int32_t S = FetchBase();
    ISurface* dest = host.Destination(0);
    ISurface* scratch = host.SurfaceFactory()->CreateSurface(S, S, dest->GetFormat());
    ISurface* sprite = FetchParticle();
    host.GraphFilter()->CopyRect(scratch, 0, 0, sprite, 0, 0, 16, 16);
    sprite->GetAlphaAddress(16, 0);  // outside what was copied is still inside the sprite
    scratch->GetPixelAddress(16, 0);
    host.GraphFilter()->MixRect(dest, 0, 0, scratch, 0, 0, 20, 16, 77);
    sprite = FetchParticle();
    host.GraphFilter()->MixRect(dest, 0, 0, scratch, 0, 0, 8, 8, 77);  // no copy for this particle
    scratch->Destroy();
    host.EndCall();
    ASSERT_EQ(Faults().size(), 3u);
    EXPECT_EQ(Faults()[0], "Draw: pixel (16, 0) asked outside the copied 16 x 16");
    EXPECT_EQ(Faults()[1], "Draw: MixRect source rectangle (0, 0, 20, 16) leaves the 16 x 16 copy of the sprite");
    EXPECT_EQ(Faults()[2], "Draw: MixRect not from the scratch surface holding this particle's sprite");
}

TEST_F(HostChecks, HostileSpritesAreStableForAConfiguration)
{
    SeededChoices choices(5);
    int missing = 0;
    int sizes = 0;
    for (int round = 0; round < 50; ++round) {
        host.ConfigureSprites(choices, true);
        for (std::int32_t number : {0, 1, 100, -7, 2147483647}) {
            Surface* first = host.SpriteFor(number);
            EXPECT_EQ(host.SpriteFor(number), first);
            missing += first ? 0 : 1;
            sizes += first && first->width != 32 ? 1 : 0;
        }
    }
    EXPECT_GT(missing, 0);
    EXPECT_GT(sizes, 0);

    host.ConfigureSprites(choices, false);
    Surface* uniform = host.SpriteFor(12345);
    ASSERT_NE(uniform, nullptr);
    EXPECT_EQ(host.SpriteFor(-12345), uniform);
    EXPECT_EQ(uniform->width, uniform->height);
}

TEST_F(HostChecks, UpdateReportsTheFixedRectangleOnceForTheLatestInit)
{
    host.SetReportAnswer(42);
    host.ExpectReport(true, true, 7);
    host.BeginCall(CallKind::Update, "Update");
    EXPECT_EQ(host.DrawHost()->ReportRect(7, 0, 0, 640, 480), 42);
    host.EndCall();
    EXPECT_TRUE(Faults().empty());

    host.ExpectReport(true, true, 7);
    host.BeginCall(CallKind::Update, "Update");
    host.DrawHost()->ReportRect(8, 0, 0, 800, 600);
    host.DrawHost()->ReportRect(7, 0, 0, 640, 480);
    host.EndCall();
    ASSERT_EQ(Faults().size(), 3u);
    EXPECT_EQ(Faults()[0], "Update: ReportRect(0, 0, 800, 600), not the rectangle 0, 0, 640, 480");
    EXPECT_EQ(Faults()[1], "Update: ReportRect for handle 8, the latest Init was for 7");
    EXPECT_EQ(Faults()[2], "Update: 2 ReportRect calls, expected 1");
}

TEST_F(HostChecks, ModuleFactoriesAnswerOnlyDuringCreateInterface)
{
    SetActiveHost(&host);
    host.BeginCall(CallKind::CreateInterface, "CreateInterface");
    EXPECT_EQ(ServeModule(1, &IID_GraphBlend), static_cast<void*>(host.GraphBlend()));
    EXPECT_EQ(ServeModule(1, &IID_SurfaceFactory), nullptr);
    host.SetModuleRefuses(Module::SurfaceFactory, true);
    EXPECT_EQ(ServeModule(2, &IID_SurfaceFactory), nullptr);
    host.EndCall();
    EXPECT_EQ(host.FactoryCalls().size(), 3u);
    EXPECT_TRUE(Faults().empty());

    host.BeginCall(CallKind::Quiet, "Init");
    ServeModule(0, &IID_MainSystem);
    host.EndCall();
    SetActiveHost(nullptr);
    ASSERT_EQ(Faults().size(), 1u);
    EXPECT_EQ(Faults()[0], "Init: a host module's factory was called");
}

}  // namespace
}  // namespace velora::validator
