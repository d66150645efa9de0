// The arithmetic of one particle's sprite: its angle folded into one turn,
// the sprite picked from angle and phase, and its place clipped at the
// field's edges, against the roundings written out here one at a time.
#include "render/frame_selection.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <limits>
#include <random>

#include <gtest/gtest.h>

namespace velora {
namespace {

constexpr double kTurn = 6.283185307179586;  // 4 * acos(0)

float Normalized(float angle)
{
    Particle p{};
    p.angle = angle;
    NormalizeAngle(p);
    return p.angle;
}

// The definition: one turn per pass, stored as a float after every pass.
float NormalizedPassByPass(float angle)
{
    while (angle > kTurn) {
        angle = static_cast<float>(angle - kTurn);
    }
    while (angle < 0) {
        angle = static_cast<float>(angle + kTurn);
    }
    return angle;
}

TEST(NormalizeAngle, WorkedExamples)
{
    EXPECT_EQ(Normalized(7.0f), 0.7168147f);
    EXPECT_EQ(Normalized(-0.5f), 5.7831855f);
    EXPECT_EQ(Normalized(13.0f), 0.4336292f);  // two passes
    EXPECT_EQ(Normalized(0.0f), 0.0f);
    EXPECT_EQ(Normalized(1.5f), 1.5f);
    // A tiny negative angle ends just above twoPi: the upper bound is not
    // tested again on the way up.
    EXPECT_EQ(Normalized(-1e-9f), 6.2831855f);
    // The float nearest 2pi lies above twoPi and is reduced.
    const float nearest = 6.2831855f;
    EXPECT_GT(static_cast<double>(nearest), kTurn);
    EXPECT_NEAR(Normalized(nearest), 1.7e-7f, 1e-8f);
    EXPECT_GT(Normalized(nearest), 0.0f);
}

TEST(NormalizeAngle, MatchesPassByPassRoundingForEveryReachableAngle)
{
    // A running effect reaches at most one step's spin past 2pi: pi per
    // second, so about 1.35e7 after the longest pause the clock can measure.
    std::mt19937 random(7);
    std::uniform_real_distribution<float> anywhere(0.0f, 1.36e7f);
    std::vector<float> angles = {6.2831855f, 12.566371f, 16.0f, 15.999999f, 1024.0f, 1030.0f,
                                 8388608.0f, 8388614.0f, 1.35e7f, -7.0f, -100.5f, -4096.25f};
    for (int i = 0; i < 40; ++i) {
        angles.push_back(anywhere(random));
    }
    for (float angle : angles) {
        EXPECT_EQ(Normalized(angle), NormalizedPassByPass(angle)) << "angle " << angle;
    }
}

TEST(NormalizeAngle, TerminatesForEveryFloat)
{
    for (float angle : {1e30f, FLT_MAX, -FLT_MAX, 3e7f, -1e20f, 1e-40f}) {
        const float result = Normalized(angle);
        EXPECT_GE(result, 0.0f) << angle;
        EXPECT_LE(result, 6.2831855f) << angle;
    }
    EXPECT_TRUE(std::isnan(Normalized(std::numeric_limits<float>::quiet_NaN())));
    EXPECT_EQ(Normalized(std::numeric_limits<float>::infinity()), std::numeric_limits<float>::infinity());
    EXPECT_EQ(Normalized(-std::numeric_limits<float>::infinity()), -std::numeric_limits<float>::infinity());
}

EffectInstance SpriteRun(std::int32_t spriteCount, std::int32_t rotationFrames)
{
    EffectInstance instance;
    instance.spriteCount = spriteCount;
    instance.rotationFrames = rotationFrames;
    instance.width = 640;
    instance.height = 480;
    return instance;
}

std::int32_t Frame(const EffectInstance& instance, double ratio, float phase, bool forward)
{
    Particle p{};
    p.angle = static_cast<float>(ratio * kTurn);
    p.phase = phase;
    p.forward = forward;
    return SelectFrame(instance, p);
}

TEST(SelectFrame, GroupsWalkBackAndForthOverOneTurn)
{
    // 16 sprites in 4 groups of 4: the group walks 0, 1, 2, 3, 2, 1.
    const EffectInstance run = SpriteRun(16, 4);
    const std::pair<double, std::int32_t> cases[] = {
        {0.0, 0}, {0.1, 0}, {0.2, 4}, {0.34, 8}, {0.55, 12}, {0.7, 8}, {0.9, 4}, {1.0, 0}};
    for (auto [ratio, first] : cases) {
        EXPECT_EQ(Frame(run, ratio, 0.0f, true), first) << "ratio " << ratio;
    }
}

TEST(SelectFrame, PhaseWalksThroughTheGroupInEitherDirection)
{
    const EffectInstance run = SpriteRun(16, 4);
    EXPECT_EQ(Frame(run, 0.4, 0.3f, true), 9);    // 8 + 1.2
    EXPECT_EQ(Frame(run, 0.4, 0.3f, false), 10);  // 8 + 2.8
    // Backward at phase 0 is the first frame of the following group...
    EXPECT_EQ(Frame(run, 0.0, 0.0f, false), 4);
    // ...which the clamp keeps inside the run in the last group.
    EXPECT_EQ(Frame(run, 0.55, 0.0f, false), 15);
}

TEST(SelectFrame, OneGroupOrTooFewSprites)
{
    const EffectInstance single = SpriteRun(8, 1);
    for (double ratio : {0.0, 0.3, 0.77}) {
        EXPECT_EQ(Frame(single, ratio, 0.5f, true), 4);
        EXPECT_EQ(Frame(single, ratio, 0.99f, true), 7);
    }
    const EffectInstance sparse = SpriteRun(3, 5);  // G = 0
    EXPECT_EQ(Frame(sparse, 0.5, 0.7f, true), 0);
    EXPECT_EQ(Frame(sparse, 0.9, 0.7f, false), 0);
}

TEST(SelectFrame, StaysInsideTheRunForAnyPhaseOrAngle)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const EffectInstance runs[] = {SpriteRun(16, 4), SpriteRun(INT_MAX, 1), SpriteRun(INT_MAX, INT_MAX), SpriteRun(7, INT_MAX),
                                   SpriteRun(INT_MAX, 2)};
    for (const EffectInstance& run : runs) {
        for (float phase : {0.0f, 19.25f, 1e30f, -1e30f, nan, inf, -inf}) {
            for (float angle : {0.0f, 3.0f, 6.2831855f, 1e30f, inf, -inf, nan}) {
                for (bool forward : {true, false}) {
                    Particle p{};
                    p.angle = angle;
                    p.phase = phase;
                    p.forward = forward;
                    const std::int32_t f = SelectFrame(run, p);
                    EXPECT_GE(f, 0);
                    EXPECT_LT(f, run.spriteCount);
                }
            }
        }
    }
}

// Frame selection worked step by step, one rounding at a time: the ratio rounded to
// float, the group index truncated, folded, then the phase's offset.
std::int32_t FrameStepByStep(std::int32_t spriteCount, std::int32_t R, float angle, float phase, bool forward)
{
    const std::int32_t G = spriteCount / R;
    const float ratio = static_cast<float>(static_cast<double>(angle) / kTurn);
    std::int32_t k = static_cast<std::int32_t>(static_cast<double>(ratio) * static_cast<double>(2 * R - 2));
    if (k >= R) {
        k = 2 * R - 2 - k;
    }
    const double phaseOfGroup = static_cast<double>(phase) * G;
    const double offset = forward ? phaseOfGroup : G - phaseOfGroup;
    std::int32_t f = static_cast<std::int32_t>(G * k + offset);
    if (f < 0) {
        f = 0;
    }
    if (f >= spriteCount) {
        f = spriteCount - 1;
    }
    return f;
}

TEST(SelectFrame, EveryGroupCountOnEveryGroupBoundary)
{
    // For R groups the walk changes group where ratio * (2R - 2) crosses a
    // whole number j: the floats nearest j / (2R - 2) of a turn and a few
    // on either side. There, the ratio's rounding to float decides the group.
    for (std::int32_t R = 1; R <= 16; ++R) {
        const EffectInstance run = SpriteRun(3 * R, R);
        const std::int32_t span = 2 * R - 2;
        int decidedByRounding = 0;
        for (std::int32_t j = 0; j <= span; ++j) {
            const float boundary = static_cast<float>(span == 0 ? 0.0 : kTurn * j / span);
            float below = boundary;
            float above = boundary;
            for (int step = 0; step < 3; ++step) {
                below = std::nextafter(below, -1.0f);
                above = std::nextafter(above, 7.0f);
            }
            for (float angle = std::max(below, 0.0f); angle <= above; angle = std::nextafter(angle, 7.0f)) {
                Particle p{};
                p.angle = angle;
                p.forward = true;
                EXPECT_EQ(SelectFrame(run, p), FrameStepByStep(3 * R, R, angle, 0.0f, true))
                    << R << " groups, angle " << angle;
                p.forward = false;
                p.phase = 0.25f;
                EXPECT_EQ(SelectFrame(run, p), FrameStepByStep(3 * R, R, angle, 0.25f, false))
                    << R << " groups, angle " << angle << ", backward";
                const double unrounded = static_cast<double>(angle) / kTurn * span;
                const double rounded = static_cast<double>(static_cast<float>(angle / kTurn)) * span;
                decidedByRounding += static_cast<std::int32_t>(unrounded) != static_cast<std::int32_t>(rounded);
            }
        }
        // These counts of groups have boundary angles where leaving the
        // rounding out picks another group: the cases above must hold them.
        if (R == 5 || R == 8 || R == 9) {
            EXPECT_GT(decidedByRounding, 0) << R << " groups";
        }
    }
}

SpritePlacement Place(float x, float y, std::int32_t S, std::int32_t w, std::int32_t h)
{
    Particle p{};
    p.x = x;
    p.y = y;
    return PlaceSprite(SpriteRun(16, 4), p, S, w, h);
}

TEST(PlaceSprite, CentresOnTheParticleAndClipsAtTheLeftAndTop)
{
    SpritePlacement at = Place(10.0f, 100.0f, 32, 32, 32);
    EXPECT_TRUE(at.visible);
    EXPECT_EQ(at.dstX, 0);
    EXPECT_EQ(at.srcX, 6);
    EXPECT_EQ(at.drawWidth, 26);
    EXPECT_EQ(at.dstY, 84);
    EXPECT_EQ(at.srcY, 0);
    EXPECT_EQ(at.drawHeight, 32);

    at = Place(100.0f, 3.5f, 33, 33, 33);  // half of 33 is 16
    EXPECT_EQ(at.dstX, 84);
    EXPECT_EQ(at.dstY, 0);
    EXPECT_EQ(at.srcY, 12);  // 3.5 - 16 = -12.5 truncates to -12
    EXPECT_EQ(at.drawHeight, 21);

    // Between -1 and 0 truncation gives 0: nothing is clipped.
    at = Place(15.3f, 15.9f, 32, 32, 32);
    EXPECT_EQ(at.dstX, 0);
    EXPECT_EQ(at.srcX, 0);
    EXPECT_EQ(at.dstY, 0);
    EXPECT_EQ(at.drawWidth, 32);
}

TEST(PlaceSprite, ClipsAtTheRightAndBottomWithTheSpritesOwnSize)
{
    SpritePlacement at = Place(646.0f, 100.0f, 32, 32, 32);  // dstX 630
    EXPECT_TRUE(at.visible);
    EXPECT_EQ(at.dstX, 630);
    EXPECT_EQ(at.drawWidth, 10);

    at = Place(646.0f, 470.0f, 32, 40, 20);  // the sprite's own w and h
    EXPECT_EQ(at.drawWidth, 10);
    EXPECT_EQ(at.drawHeight, 20);
    at = Place(100.0f, 470.0f, 32, 40, 30);  // dstY 454: 26 rows left
    EXPECT_EQ(at.drawHeight, 26);

    EXPECT_FALSE(Place(656.0f, 100.0f, 32, 32, 32).visible);  // dstX 640
    EXPECT_FALSE(Place(100.0f, 500.0f, 32, 32, 32).visible);
    EXPECT_FALSE(Place(100.0f, 100.0f, 32, 0, 32).visible);
}

TEST(PlaceSprite, ParticlesBeyondTheLeftOrTopOrAnyPositionAreNotDrawn)
{
    // Cut off entirely: the drawn size would be negative.
    EXPECT_FALSE(Place(-100.0f, 100.0f, 32, 32, 32).visible);
    EXPECT_FALSE(Place(100.0f, -16.0f, 32, 32, 32).visible);  // 32 rows cut off of 32
    EXPECT_TRUE(Place(100.0f, -15.0f, 32, 32, 32).visible);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float far : {nan, inf, -inf, 3e9f, -3e9f, 1e30f}) {
        EXPECT_FALSE(Place(far, 100.0f, 32, 32, 32).visible) << far;
        EXPECT_FALSE(Place(100.0f, far, 32, 32, 32).visible) << far;
    }
    // Extreme sizes: no overflow, nothing outside the field.
    SpritePlacement at = Place(100.0f, 100.0f, -2, INT_MAX, INT_MAX);
    EXPECT_TRUE(at.visible);
    EXPECT_EQ(at.dstX, 101);
    EXPECT_EQ(at.drawWidth, 539);
    EXPECT_EQ(at.drawHeight, 379);
    EXPECT_FALSE(Place(100.0f, 100.0f, INT_MIN, 32, 32).visible);
    EXPECT_FALSE(Place(100.0f, 100.0f, INT_MAX, INT_MIN, INT_MIN).visible);
}

}  // namespace
}  // namespace velora
