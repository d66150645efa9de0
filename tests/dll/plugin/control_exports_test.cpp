// The control exports as the engine's script calls them: what Init, the
// setters, Start and Release store, when a setting takes effect, and that
// handles and failed allocations leave the other instances sound.
#include "contract/exports.h"
#include "contract/plugin_access.h"

#include <climits>
#include <vector>

#include <gtest/gtest.h>

#include "dll/effect/effect_fixture.h"
#include "effect/random.h"
#include "support/debug_capture.h"

namespace velora {
namespace {

class ControlExports : public testing::EffectTest {
protected:
    ~ControlExports() override
    {
        if (plugin) {
            plugin->Destroy();
        }
    }

    testing::DebugCapture debug;  // the plug-in object finds no host modules here
    IDrawPlugin* plugin = CreateInterface(&IID_DrawPlugin);
};

TEST_F(ControlExports, InitRegistersAnUnstartedInstanceWithDefaults)
{
    Init(7, 800, 600, 100, 16, 4);
    const EffectInstance* instance = Find(7);
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(instance->type, 0);
    EXPECT_EQ(instance->baseSprite, 100);
    EXPECT_EQ(instance->spriteCount, 16);
    EXPECT_EQ(instance->rotationFrames, 4);
    EXPECT_EQ(instance->numof, 40);
    EXPECT_EQ(instance->maxAmp, 40);
    EXPECT_EQ(instance->width, 800);
    EXPECT_EQ(instance->height, 600);
    EXPECT_EQ(instance->xSpeed, 1.0f);
    EXPECT_EQ(instance->ySpeed, 1.0f);
    EXPECT_FALSE(instance->started);
    EXPECT_TRUE(instance->particles.empty());
}

TEST_F(ControlExports, InitStoresEveryValueUnchecked)
{
    for (std::int32_t handle : {0, -1, INT_MIN, INT_MAX}) {
        Init(handle, INT_MIN, -5, INT_MAX, INT_MIN, 0);
        const EffectInstance* instance = Find(handle);
        ASSERT_NE(instance, nullptr) << handle;
        EXPECT_EQ(instance->width, INT_MIN);
        EXPECT_EQ(instance->height, -5);
        EXPECT_EQ(instance->baseSprite, INT_MAX);
        EXPECT_EQ(instance->spriteCount, INT_MIN);
        EXPECT_EQ(instance->rotationFrames, 0);
    }
    EXPECT_EQ(Instances().Size(), 4u);
}

TEST_F(ControlExports, StartWithoutSettersSpawnsFortyParticles)
{
    Init(1, 640, 480, 0, 8, 2);
    clock.Set(1234);
    Start(1);
    const EffectInstance* instance = Find(1);
    EXPECT_TRUE(instance->started);
    EXPECT_EQ(instance->particles.size(), 40u);
    EXPECT_EQ(instance->lastTime, 1234u);
    for (const Particle& p : instance->particles) {
        EXPECT_GE(p.x, 0.0f);
        EXPECT_LT(p.x, 640.0f);
        EXPECT_GE(p.y, 0.0f);
        EXPECT_LT(p.y, 480.0f);
    }
}

TEST_F(ControlExports, NumofTakesEffectAtTheNextStartOnly)
{
    Init(1, 640, 480, 0, 8, 2);
    SetNumof(1, 5);
    Start(1);
    EXPECT_EQ(Find(1)->particles.size(), 5u);

    SetNumof(1, 9);
    EXPECT_EQ(Find(1)->particles.size(), 5u);
    Start(1);
    EXPECT_EQ(Find(1)->particles.size(), 9u);

    for (std::int32_t none : {0, -3}) {
        SetNumof(1, none);
        Start(1);
        EXPECT_TRUE(Find(1)->particles.empty());
        EXPECT_TRUE(Find(1)->started);
    }
}

TEST_F(ControlExports, SettersStoreTheirValuesAndNothingElse)
{
    Init(3, 640, 480, 0, 8, 2);
    Start(3);
    const auto before = Find(3)->particles;
    const int reads = clock.timeReads;

    SetType(3, 5);
    SetMaxAmp(3, -12);
    SetXSpeed(3, 0.5f);
    SetYSpeed(3, -2.25f);
    const EffectInstance* instance = Find(3);
    EXPECT_EQ(instance->type, 5);
    EXPECT_EQ(instance->maxAmp, -12);
    EXPECT_EQ(instance->xSpeed, 0.5f);
    EXPECT_EQ(instance->ySpeed, -2.25f);
    EXPECT_EQ(clock.timeReads, reads);
    ASSERT_EQ(instance->particles.size(), before.size());
    EXPECT_EQ(instance->particles[0].x, before[0].x);
}

TEST_F(ControlExports, SecondInitKeepsTheInstanceButRecordsItsArguments)
{
    Init(2, 640, 480, 0, 8, 2);
    SetType(2, 1);
    Start(2);
    Init(2, 800, 600, 50, 4, 1);

    const EffectInstance* instance = Find(2);
    EXPECT_EQ(instance->width, 640);
    EXPECT_EQ(instance->height, 480);
    EXPECT_EQ(instance->type, 1);
    EXPECT_TRUE(instance->started);
    EXPECT_EQ(instance->particles.size(), 40u);
    EXPECT_EQ(FieldsOf(plugin).lastHandle, 2);
    EXPECT_EQ(FieldsOf(plugin).lastWidth, 800);
    EXPECT_EQ(FieldsOf(plugin).lastHeight, 600);
}

TEST_F(ControlExports, InitOnATakenHandleStillReseeds)
{
    clock.SetTicks(31337);
    Init(3, 640, 480, 0, 8, 2);
    SetNumof(3, 6);
    Start(3);
    const std::vector<Particle> first = Find(3)->particles;

    // Same ticks: the next Start lays the same particles out again.
    Init(3, 640, 480, 0, 8, 2);
    Start(3);
    const std::vector<Particle>& again = Find(3)->particles;
    ASSERT_EQ(again.size(), first.size());
    for (std::size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(again[i].x, first[i].x) << i;
        EXPECT_EQ(again[i].angle, first[i].angle) << i;
        EXPECT_EQ(again[i].fallRate, first[i].fallRate) << i;
    }

    // Other ticks: the first draw is the first of that seed's sequence.
    clock.SetTicks(2);
    Init(3, 800, 600, 0, 8, 2);
    Start(3);
    SeedRandom(2);
    EXPECT_EQ(Find(3)->particles.at(0).x, static_cast<float>(DrawRandom() / 32768.0 * 640));
}

TEST_F(ControlExports, InitWithoutPluginObjectStillRegistersAndReseeds)
{
    plugin->Destroy();  // leaves no current object
    plugin = nullptr;
    clock.SetTicks(99);
    Init(4, 640, 480, 0, 8, 2);
    EXPECT_NE(Find(4), nullptr);
    EXPECT_EQ(clock.tickReads, 1);
}

TEST_F(ControlExports, ReleaseForgetsTheHandleAndIsHarmlessTwice)
{
    Init(5, 640, 480, 0, 8, 2);
    SetNumof(5, 3);
    Start(5);
    Release(5);
    EXPECT_EQ(Find(5), nullptr);
    Release(5);
    Release(12345);

    Init(5, 320, 200, 0, 8, 2);
    const EffectInstance* fresh = Find(5);
    ASSERT_NE(fresh, nullptr);
    EXPECT_FALSE(fresh->started);
    EXPECT_EQ(fresh->numof, 40);
    EXPECT_EQ(fresh->width, 320);
    EXPECT_TRUE(fresh->particles.empty());
}

TEST_F(ControlExports, StartAndSettersIgnoreHandlesWithoutInstance)
{
    Start(8);
    SetType(8, 1);
    SetNumof(8, 1);
    SetMaxAmp(8, 1);
    SetXSpeed(8, 1);
    SetYSpeed(8, 1);
    EXPECT_EQ(Instances().Size(), 0u);
    EXPECT_EQ(clock.timeReads, 0);
}

TEST_F(ControlExports, HandlesAreIndependent)
{
    Init(1, 640, 480, 0, 8, 2);
    Init(2, 640, 480, 0, 8, 2);
    SetNumof(1, 3);
    SetXSpeed(1, 7);
    Start(1);
    EXPECT_EQ(Find(2)->numof, 40);
    EXPECT_EQ(Find(2)->xSpeed, 1.0f);
    EXPECT_FALSE(Find(2)->started);
    Release(1);
    EXPECT_NE(Find(2), nullptr);
}

TEST_F(ControlExports, InstancesStartedWithinOneTickShareTheirLayout)
{
    clock.SetTicks(4242);
    Init(1, 640, 480, 0, 8, 2);
    Start(1);
    Init(2, 640, 480, 0, 8, 2);
    Start(2);
    const auto& a = Find(1)->particles;
    const auto& b = Find(2)->particles;
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].x, b[i].x);
        EXPECT_EQ(a[i].angle, b[i].angle);
        EXPECT_EQ(a[i].forward, b[i].forward);
    }

    clock.SetTicks(4243);
    Init(3, 640, 480, 0, 8, 2);
    Start(3);
    EXPECT_NE(Find(3)->particles[0].x, a[0].x);
}

TEST_F(ControlExports, StartBeyondMemoryLeavesTheProcessAndInstanceSound)
{
    Init(6, 640, 480, 0, 8, 2);
    SetNumof(6, 2);
    clock.Set(50);
    Start(6);
    SetNumof(6, INT_MAX);
    clock.Set(90);
    Start(6);  // must not throw into the caller
    const EffectInstance* instance = Find(6);
    EXPECT_TRUE(instance->started);
    EXPECT_EQ(instance->lastTime, 50u);
    EXPECT_TRUE(instance->particles.empty());

    SetNumof(6, 4);
    Start(6);
    EXPECT_EQ(instance->particles.size(), 4u);
}

}  // namespace
}  // namespace velora
