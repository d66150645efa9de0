// Start's spawn: each particle built from seven draws in field order, every
// field against its formula for many seeds, the bounds of extreme draws,
// and a count too large for memory that changes nothing.
#include "effect/spawn.h"

#include <climits>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "effect/random.h"
#include "dll/effect/effect_fixture.h"
#include "support/random_seeds.h"

namespace velora {
namespace {

using testing::SeedForDraw;

EffectInstance Field(std::int32_t width, std::int32_t height, std::int32_t numof)
{
    EffectInstance instance;
    instance.width = width;
    instance.height = height;
    instance.numof = numof;
    return instance;
}

class Spawn : public testing::EffectTest {};

TEST_F(Spawn, BuildsEachParticleFromSevenDrawsInFieldOrder)
{
    constexpr std::uint32_t seed = 12345;
    SeedRandom(seed);
    std::vector<int> draws(7 * 3 + 1);
    for (int& r : draws) {
        r = DrawRandom();
    }

    EffectInstance instance = Field(640, 480, 3);
    SeedRandom(seed);
    SpawnParticles(instance);

    ASSERT_EQ(instance.particles.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
        const int* r = &draws[7 * k];
        const Particle& p = instance.particles[k];
        EXPECT_EQ(p.x, static_cast<float>(r[0] / 32768.0 * 640));
        EXPECT_EQ(p.y, static_cast<float>(r[1] / 32768.0 * 480));
        EXPECT_EQ(p.angle, static_cast<float>(r[2] / 32768.0 * 3.141592653589793));
        EXPECT_EQ(p.phaseRate, static_cast<float>(1.5 * (r[3] / 32768.0) + 0.5));
        EXPECT_EQ(p.phase, static_cast<float>(r[4] / 32768.0));
        EXPECT_EQ(p.fallRate, static_cast<float>(2.0 * (r[5] / 32768.0) + 0.9));
        EXPECT_EQ(p.forward, r[6] > 16384);
    }
    // Exactly 21 draws were consumed: the next one is the 22nd.
    EXPECT_EQ(DrawRandom(), draws[21]);
}

// Every field of every particle, for many seeds and awkward fields, against
// its formula applied to draws the test makes itself from the generator's
// recurrence. Each value is one double expression rounded to float once.
TEST_F(Spawn, EveryDrawOfManySeedsGoesThroughItsFormula)
{
    constexpr std::int32_t kFields[][2] = {{640, 480}, {637, 479}, {1, 3}, {1921, 1079}, {-333, 100003}};
    std::uint32_t seed = 7;
    for (int run = 0; run < 200; ++run) {
        seed = seed * 2654435761u + 12345u;
        const auto [width, height] = kFields[run % 5];
        EffectInstance instance = Field(width, height, 40);
        SeedRandom(seed);
        SpawnParticles(instance);

        std::uint32_t state = seed;
        const auto draw = [&state] {
            state = state * 214013u + 2531011u;
            return static_cast<double>(state >> 16 & 0x7FFFu);
        };
        ASSERT_EQ(instance.particles.size(), 40u);
        for (const Particle& p : instance.particles) {
            const double r[7] = {draw(), draw(), draw(), draw(), draw(), draw(), draw()};
            EXPECT_EQ(p.x, static_cast<float>(r[0] * width / 32768));
            EXPECT_EQ(p.y, static_cast<float>(r[1] * height / 32768));
            EXPECT_EQ(p.angle, static_cast<float>(r[2] * 3.141592653589793 / 32768));
            EXPECT_EQ(p.phaseRate, static_cast<float>((3 * r[3] + 32768) / 65536));
            EXPECT_EQ(p.phase, static_cast<float>(r[4] / 32768));
            EXPECT_EQ(p.fallRate, static_cast<float>(r[5] / 16384 + 0.9));
            EXPECT_EQ(p.forward, r[6] > 16384);
            if (HasFailure()) {
                FAIL() << "seed " << seed << ", field " << width << " x " << height;
            }
        }
    }
}

TEST_F(Spawn, ForwardIsTrueOnlyAboveOneHalf)
{
    for (auto [draw, forward] : {std::pair{16384, false}, {16385, true}, {0, false}, {32767, true}}) {
        EffectInstance instance = Field(640, 480, 1);
        SeedRandom(SeedForDraw(7, draw));
        SpawnParticles(instance);
        EXPECT_EQ(instance.particles.at(0).forward, forward) << "draw " << draw;
    }
}

TEST_F(Spawn, ExtremeDrawsStayBelowTheirUpperBounds)
{
    EffectInstance instance = Field(640, 480, 1);
    SeedRandom(SeedForDraw(3, 32767));
    SpawnParticles(instance);
    EXPECT_EQ(instance.particles[0].angle, static_cast<float>(3.141592653589793 * 32767 / 32768));
    EXPECT_LT(instance.particles[0].angle, 3.14159265f);

    SeedRandom(SeedForDraw(3, 0));
    SpawnParticles(instance);
    EXPECT_EQ(instance.particles[0].angle, 0.0f);

    SeedRandom(SeedForDraw(5, 32767));
    SpawnParticles(instance);
    EXPECT_EQ(instance.particles[0].phase, 32767.0f / 32768.0f);
    EXPECT_LT(instance.particles[0].phase, 1.0f);
}

TEST_F(Spawn, ZeroWidthPutsEveryParticleAtTheLeftEdge)
{
    EffectInstance instance = Field(0, 480, 50);
    SeedRandom(99);
    SpawnParticles(instance);
    ASSERT_EQ(instance.particles.size(), 50u);
    for (const Particle& p : instance.particles) {
        EXPECT_EQ(p.x, 0.0f);
    }
}

TEST_F(Spawn, NoParticlesForZeroOrNegativeCountsButTheInstanceStarts)
{
    for (std::int32_t numof : {0, -1, INT_MIN}) {
        EffectInstance instance = Field(640, 480, numof);
        clock.Set(777);
        SeedRandom(5);
        SpawnParticles(instance);
        EXPECT_TRUE(instance.particles.empty());
        EXPECT_TRUE(instance.started);
        EXPECT_EQ(instance.lastTime, 777u);
        // No draw was consumed.
        SeedRandom(5);
        const int first = DrawRandom();
        SeedRandom(5);
        SpawnParticles(instance);
        EXPECT_EQ(DrawRandom(), first);
    }
}

TEST_F(Spawn, RestartReplacesTheWholeSetAndRestampsTheClock)
{
    EffectInstance instance = Field(640, 480, 10);
    clock.Set(100);
    SeedRandom(1);
    SpawnParticles(instance);
    const Particle first = instance.particles[0];

    instance.numof = 4;
    clock.Set(250);
    SpawnParticles(instance);
    ASSERT_EQ(instance.particles.size(), 4u);
    EXPECT_EQ(instance.lastTime, 250u);
    // The source was not reseeded: the new set continues the sequence.
    EXPECT_NE(instance.particles[0].x, first.x);
}

TEST_F(Spawn, ClockIsReadOnceAfterAllParticlesAreAppended)
{
    EffectInstance instance = Field(640, 480, 3);
    clock.Queue(42);
    SpawnParticles(instance);
    EXPECT_EQ(clock.timeReads, 1);
    EXPECT_EQ(instance.lastTime, 42u);
}

TEST_F(Spawn, CountBeyondMemoryFailsWithoutTouchingStateOrDraws)
{
    EffectInstance instance = Field(640, 480, 2);
    clock.Set(10);
    SpawnParticles(instance);
    ASSERT_TRUE(instance.started);

    instance.numof = INT_MAX;  // about 60 GB of particles
    clock.Set(20);
    SeedRandom(3);
    EXPECT_ANY_THROW(SpawnParticles(instance));
    EXPECT_TRUE(instance.particles.empty());
    EXPECT_EQ(instance.lastTime, 10u);
    SeedRandom(3);
    const int first = DrawRandom();
    SeedRandom(3);
    EXPECT_ANY_THROW(SpawnParticles(instance));
    EXPECT_EQ(DrawRandom(), first);
}

}  // namespace
}  // namespace velora
