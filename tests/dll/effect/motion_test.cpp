// The motion step against its arithmetic written out here step by step, each
// value rounded to float where the plug-in rounds it; and the edges: wraps,
// the clock's wrap, pauses of 2^31 ms and more, non-numbers.
#include "effect/motion.h"

#include <climits>
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "dll/effect/effect_fixture.h"
#include "support/chooser.h"

namespace velora {
namespace {

constexpr float kPiF = 3.14159265358979f;

// The field of the worked examples: 640 x 480, sway 40, both speeds 1.
EffectInstance Field(Particle p)
{
    EffectInstance instance;
    instance.width = 640;
    instance.height = 480;
    instance.started = true;
    instance.particles.push_back(p);
    return instance;
}

Particle MakeParticle(float x, float y, float angle, float phaseRate, float phase, float fallRate)
{
    return Particle{x, y, angle, phaseRate, phase, fallRate, true};
}

class Motion : public testing::EffectTest {
protected:
    // One step of `elapsed` milliseconds with the given sprite size.
    Particle StepOnce(EffectInstance& instance, std::uint32_t elapsed, std::int32_t spriteSize = 32)
    {
        instance.lastTime = 5000;
        clock.Set(5000 + elapsed);
        StepParticles(instance, spriteSize);
        return instance.particles.at(0);
    }
};

// One particle's step written out from the documented formulas: t, c, X, Y,
// angle and phase are each rounded to float where the system rounds them,
// everything between them is double.
Particle DocumentedStep(const EffectInstance& e, Particle p, std::uint32_t elapsed, std::int32_t size)
{
    const double t = static_cast<float>(elapsed / 10000.0);
    const double c = static_cast<float>(std::cos(static_cast<double>(p.angle)));
    const std::int32_t h = size / 2;
    double X = static_cast<float>(c * e.maxAmp * 0.01 + (t * 100.0 * e.xSpeed + p.x));
    double Y = static_cast<float>(static_cast<double>(e.height) * t * p.fallRate * e.ySpeed + p.y);
    p.angle = static_cast<float>(3.141592653589793 * t * 10.0 + p.angle);
    p.phase = static_cast<float>(static_cast<double>(p.phaseRate) * t * 10.0 + p.phase);
    p.phase = p.phase >= 1.0f ? static_cast<float>(p.phase - 1.0) : p.phase;
    X = X - h > e.width ? static_cast<float>(X - (e.width + h)) : X;
    X = X + h < 0.0 ? static_cast<float>(X + (e.width + h)) : X;
    Y = Y - h > e.height ? static_cast<float>(Y - (e.height + size)) : Y;
    p.x = static_cast<float>(X);
    p.y = static_cast<float>(Y);
    return p;
}

// Many steps with awkward fields, speeds, rates and times, including
// particles at x = 0 without drift, where the sway alone makes X.
TEST_F(Motion, AwkwardStepsMatchTheDocumentedArithmetic)
{
    testing::Chooser choose(0x2545F491u);
    const auto next = [&choose](std::uint32_t n) { return choose.Below(n); };
    const auto unit = [&next] { return static_cast<float>(next(1000003)) / 1000003.0f; };
    for (int round = 0; round < 300; ++round) {
        EffectInstance instance = Field(MakeParticle(0, 0, 0, 1, 0, 1));
        instance.width = 1 + static_cast<std::int32_t>(next(2000));
        instance.height = 1 + static_cast<std::int32_t>(next(2000));
        instance.maxAmp = static_cast<std::int32_t>(next(20001)) - 5000;
        instance.xSpeed = round % 3 == 0 ? 0.0f : 7.0f * unit() - 3.0f;
        instance.ySpeed = 3.0f * unit() - 0.5f;
        instance.particles.clear();
        for (int i = 0; i < 50; ++i) {
            const float x = i % 4 == 0 ? 0.0f : unit() * static_cast<float>(instance.width);
            instance.particles.push_back(MakeParticle(x, unit() * static_cast<float>(instance.height), 7.0f * unit(),
                                                      1.5f * unit() + 0.5f, unit(), 2.0f * unit() + 0.9f));
        }
        const std::vector<Particle> before = instance.particles;
        const std::uint32_t elapsed = round % 5 == 0 ? 250u : next(1200);
        const std::int32_t size = static_cast<std::int32_t>(next(70)) - 3;
        StepOnce(instance, elapsed, size);
        for (std::size_t i = 0; i < before.size(); ++i) {
            const Particle expected = DocumentedStep(instance, before[i], elapsed, size);
            const Particle& p = instance.particles[i];
            EXPECT_EQ(p.x, expected.x);
            EXPECT_EQ(p.y, expected.y);
            EXPECT_EQ(p.angle, expected.angle);
            EXPECT_EQ(p.phase, expected.phase);
            if (HasFailure()) {
                FAIL() << "round " << round << ", particle " << i << ", " << elapsed << " ms";
            }
        }
    }
}

TEST_F(Motion, PhaseLandingExactlyOnOneStartsOver)
{
    // 250 ms is t = 0.025f, a little above 0.025: the sums round to 1.0f.
    for (auto [rate, phase] : {std::pair{1.0f, 0.75f}, {2.0f, 0.5f}, {0.5f, 0.875f}}) {
        EffectInstance instance = Field(MakeParticle(100, 50, 0, rate, phase, 1));
        EXPECT_EQ(StepOnce(instance, 250).phase, 0.0f) << rate;
    }
}

TEST_F(Motion, HundredMillisecondStep)
{
    EffectInstance instance = Field(MakeParticle(100, 50, 0, 1, 0.25f, 1));
    const Particle p = StepOnce(instance, 100);
    EXPECT_EQ(p.x, 101.4f);
    EXPECT_EQ(p.y, 54.8f);
    EXPECT_EQ(p.angle, 0.31415924f);
    EXPECT_EQ(p.phase, 0.35f);
    EXPECT_EQ(p.phaseRate, 1.0f);
    EXPECT_EQ(p.fallRate, 1.0f);
}

TEST_F(Motion, StepWithinOneMillisecondOnlySways)
{
    EffectInstance instance = Field(MakeParticle(100, 50, 0, 1, 0.25f, 1));
    const Particle p = StepOnce(instance, 0);
    EXPECT_EQ(p.x, 100.4f);
    EXPECT_EQ(p.y, 50.0f);
    EXPECT_EQ(p.angle, 0.0f);
    EXPECT_EQ(p.phase, 0.25f);
}

TEST_F(Motion, SwayDoesNotScaleWithTheStepLength)
{
    // Without drift, a particle at angle pi sways by -0.4 whatever the step.
    for (std::uint32_t elapsed : {0u, 100u}) {
        EffectInstance instance = Field(MakeParticle(300, 50, kPiF, 1, 0, 1));
        instance.xSpeed = 0;
        EXPECT_EQ(StepOnce(instance, elapsed).x, 299.6f) << elapsed;
    }
}

TEST_F(Motion, RightEdgeWrapsByWidthPlusHalfTheSprite)
{
    EffectInstance instance = Field(MakeParticle(660, 500, kPiF / 2, 1, 0.95f, 1));
    const Particle p = StepOnce(instance, 100);
    EXPECT_EQ(p.x, 5.0f);                 // 661 - 656
    EXPECT_EQ(p.y, -7.20001220703125f);   // 504.8f - 512, about -7.2
    EXPECT_EQ(p.phase, 1.05f - 1.0f);     // 1.05 as a float, less one: about 0.05
}

TEST_F(Motion, LeftEdgeTestsThePositionAfterTheRightEdge)
{
    EffectInstance instance = Field(MakeParticle(-20, 100, kPiF, 1, 0, 2));
    EXPECT_EQ(StepOnce(instance, 100).x, 636.6f);  // -19.4 + 656
}

TEST_F(Motion, PositionsExactlyOnAThresholdStay)
{
    EffectInstance instance = Field(MakeParticle(656, 496, 0, 1, 0, 1));
    instance.maxAmp = 0;
    Particle p = StepOnce(instance, 0);
    EXPECT_EQ(p.x, 656.0f);  // X - H == width
    EXPECT_EQ(p.y, 496.0f);  // Y - H == height

    instance.particles[0] = MakeParticle(-16, 100, 0, 1, 0, 1);
    EXPECT_EQ(StepOnce(instance, 0).x, -16.0f);  // X + H == 0

    instance.particles[0] = MakeParticle(656.0001f, 496.0001f, 0, 1, 0, 1);
    p = StepOnce(instance, 0);
    EXPECT_EQ(p.x, static_cast<float>(656.0001f - 656.0));
    EXPECT_EQ(p.y, static_cast<float>(496.0001f - 512.0));
}

TEST_F(Motion, LongPauseBecomesOneLargeStepWithOneWrapPerEdge)
{
    EffectInstance instance = Field(MakeParticle(100, 50, 0, 2, 0.25f, 2.5f));
    Particle p = StepOnce(instance, 10000);
    EXPECT_EQ(p.y, 738.0f);   // 1250, wrapped once, still below the field
    EXPECT_EQ(p.phase, 19.25f);
    EXPECT_EQ(p.x, 200.4f);
    EXPECT_EQ(p.angle, static_cast<float>(10 * 3.141592653589793));

    // The following steps take off one wrap distance and one phase each.
    instance.particles[0].angle = 0;
    p = StepOnce(instance, 0);
    EXPECT_EQ(p.y, 226.0f);
    EXPECT_EQ(p.phase, 18.25f);
}

TEST_F(Motion, ElapsedTimeSurvivesTheClockWrap)
{
    const Particle start = MakeParticle(100, 50, 0, 1, 0.25f, 1);
    EffectInstance wrapped = Field(start);
    wrapped.lastTime = 0xFFFFFFFFu - 295;  // 2^32 - 296
    clock.Set(200);
    StepParticles(wrapped, 32);

    EffectInstance plain = Field(start);
    const Particle expected = StepOnce(plain, 496);
    EXPECT_EQ(wrapped.particles[0].x, expected.x);
    EXPECT_EQ(wrapped.particles[0].y, expected.y);
    EXPECT_EQ(wrapped.particles[0].phase, expected.phase);
    EXPECT_NE(expected.y, start.y);
}

// Catches: the elapsed time kept as a signed 32-bit difference, which
// agrees for short steps across the wrap but steps backwards once a pause
// reaches 2^31 ms, and a pause of exactly 2^32 ms that is not a zero step.
TEST_F(Motion, PausesOfTwoToTheThirtyOneAndMoreStepForwards)
{
    struct Case {
        std::uint32_t last;
        std::uint32_t now;
        std::uint32_t elapsed;
    };
    const Case cases[] = {
        {0, 0x80000000u, 0x80000000u},           // 2^31, without a wrap
        {0x80000000u, 0, 0x80000000u},           // 2^31 across the wrap
        {1000, 999, 0xFFFFFFFFu},                // 2^32 - 1: the longest pause there is
        {0xFFFFFF00u, 0x7FFFFFFFu, 0x800000FFu}, // past 2^31 across the wrap
        {1234, 1234, 0},                         // 2^32 reads as no time at all
    };
    const Particle start = MakeParticle(100, 50, 0, 1, 0.25f, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.last << " -> " << c.now);
        EffectInstance instance = Field(start);
        instance.lastTime = c.last;
        clock.Set(c.now);
        StepParticles(instance, 32);
        const Particle expected = DocumentedStep(instance, start, c.elapsed, 32);
        EXPECT_EQ(instance.particles[0].x, expected.x);
        EXPECT_EQ(instance.particles[0].y, expected.y);
        EXPECT_EQ(instance.particles[0].angle, expected.angle);
        EXPECT_EQ(instance.particles[0].phase, expected.phase);
        // Drifting right: no step, however long, ends left of the start.
        EXPECT_GT(instance.particles[0].x, start.x);
    }
}

TEST_F(Motion, OddAndNegativeSpriteSizesHalveTowardZero)
{
    // Size 33: h = 16, horizontal wrap 656, vertical wrap 513.
    EffectInstance instance = Field(MakeParticle(700, 600, 0, 1, 0, 1));
    instance.maxAmp = 0;
    Particle p = StepOnce(instance, 0, 33);
    EXPECT_EQ(p.x, 44.0f);
    EXPECT_EQ(p.y, 87.0f);

    // Size -3: h = -1, horizontal wrap 639, vertical wrap 477.
    instance.particles[0] = MakeParticle(700, 600, 0, 1, 0, 1);
    p = StepOnce(instance, 0, -3);
    EXPECT_EQ(p.x, 61.0f);
    EXPECT_EQ(p.y, 123.0f);
}

TEST_F(Motion, RisingParticlesNeverReturnButLeftDriftersDo)
{
    EffectInstance rising = Field(MakeParticle(100, 10, 0, 1, 0, 1));
    rising.ySpeed = -1;
    float previous = 10;
    for (int i = 0; i < 50; ++i) {
        const float y = StepOnce(rising, 1000).y;
        EXPECT_LT(y, previous);
        previous = y;
    }

    EffectInstance drifting = Field(MakeParticle(10, 100, 0, 1, 0, 1));
    drifting.xSpeed = -1;
    drifting.maxAmp = 0;
    EXPECT_EQ(StepOnce(drifting, 3000).x, 636.0f);  // -20 + 656
}

TEST_F(Motion, EmptyInstanceOnlyRestampsTheClock)
{
    EffectInstance instance;
    instance.started = true;
    instance.lastTime = 3;
    clock.Queue(10);
    clock.Queue(11);
    StepParticles(instance, 32);
    EXPECT_EQ(instance.lastTime, 11u);
    EXPECT_EQ(clock.timeReads, 2);
}

TEST_F(Motion, TimeBetweenTheTwoReadingsIsCountedInNoStep)
{
    EffectInstance instance = Field(MakeParticle(100, 50, 0, 1, 0, 1));
    instance.maxAmp = 0;
    instance.lastTime = 1000;
    clock.Queue(1100);  // measured: 100 ms
    clock.Queue(1500);  // stamped
    StepParticles(instance, 32);
    EXPECT_EQ(instance.particles[0].x, 101.0f);
    EXPECT_EQ(instance.lastTime, 1500u);
}

TEST_F(Motion, WrapDistancesOverflowLikeThirtyTwoBitSums)
{
    // width + h = INT_MAX + 1 and height + size = INT_MAX + 2 wrap to
    // INT_MIN and INT_MIN + 1: the "wraps" move the particle forward by about
    // 2^31 instead of being undefined.
    EffectInstance instance = Field(MakeParticle(3e9f, 3e9f, 0, 1, 0, 1));
    instance.width = INT_MAX;
    instance.height = INT_MAX;
    instance.maxAmp = 0;
    const Particle p = StepOnce(instance, 0, 2);
    EXPECT_EQ(p.x, static_cast<float>(3e9 + 2147483648.0));
    EXPECT_EQ(p.y, static_cast<float>(3e9 + 2147483647.0));
}

TEST_F(Motion, NonNumbersAndInfinitiesNeitherCrashNorWrap)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EffectInstance instance = Field(MakeParticle(100, 50, 0, 1, 0, 1));
    instance.xSpeed = nan;
    instance.ySpeed = inf;
    instance.maxAmp = INT_MIN;
    instance.width = INT_MIN;
    instance.height = INT_MAX;
    const Particle p = StepOnce(instance, 100, INT_MIN);
    EXPECT_TRUE(std::isnan(p.x));
    EXPECT_TRUE(std::isinf(p.y));

    instance.particles[0] = MakeParticle(nan, nan, inf, nan, nan, nan);
    const Particle q = StepOnce(instance, 0xFFFFFFFFu, 0);
    EXPECT_TRUE(std::isnan(q.x));
    EXPECT_TRUE(std::isnan(q.y));
    EXPECT_TRUE(std::isinf(q.angle));
    EXPECT_TRUE(std::isnan(q.phase));
}

}  // namespace
}  // namespace velora
