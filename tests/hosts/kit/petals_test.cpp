// The host kit's petal painter: the rest pose and the turn agree, and a
// quarter turn turns the picture a quarter turn clockwise, for both outlines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>

#include "kit/petals.h"

namespace velora::kit {
namespace {

constexpr int kSide = 32;

std::unique_ptr<Surface> Paint(PetalLook look, double turnStart)
{
    look.turnStart = turnStart;
    auto sprite = std::make_unique<Surface>(kSide, kSide);
    DrawPetal(*sprite, look, 0, 1, 0, 1);
    return sprite;
}

// Largest alpha difference between a(x, y) and b at the pixel that map(x, y) names.
template <class Map>
int AlphaGap(const Surface& a, const Surface& b, Map map)
{
    int gap = 0;
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            const auto [bx, by] = map(x, y);
            gap = std::max(gap, std::abs(a.At(x, y)[3] - b.At(bx, by)[3]));
        }
    }
    return gap;
}

TEST(PetalPainter, TheTurnIsClockwiseFromTheRestPoseForBothOutlines)
{
    for (const PetalOutline outline : {PetalOutline::Heart, PetalOutline::Slender}) {
        SCOPED_TRACE(outline == PetalOutline::Heart ? "heart" : "slender");
        const PetalLook up{.outline = outline, .base = {200, 80, 120}, .tip = {250, 220, 230}, .reach = 0.4};
        PetalLook right = up;
        right.restsUp = false;
        const auto uprightSprite = Paint(up, 0.0);
        const Surface& upright = *uprightSprite;
        // A quarter turn clockwise: what stood at (x, y) stands at (N-1-y, x).
        const auto turnedSprite = Paint(up, 90.0);
        const Surface& turned = *turnedSprite;
        EXPECT_LE(AlphaGap(turned, upright, [](int x, int y) { return std::pair{y, kSide - 1 - x}; }), 16);
        EXPECT_GT(AlphaGap(turned, upright, [](int x, int y) { return std::pair{x, y}; }), 128) << "it did turn";
        // Resting to the right is resting up turned a quarter turn.
        EXPECT_LE(AlphaGap(*Paint(right, 0.0), turned, [](int x, int y) { return std::pair{x, y}; }), 16);
        // Upright, the tip (pale) is above the base (deep).
        int tipRow = kSide, baseRow = -1;
        for (int y = 0; y < kSide; ++y) {
            if (upright.At(kSide / 2, y)[3] == 255) {
                tipRow = std::min(tipRow, y);
                baseRow = std::max(baseRow, y);
            }
        }
        ASSERT_LT(tipRow, baseRow);
        EXPECT_GT(upright.At(kSide / 2, tipRow)[1], upright.At(kSide / 2, baseRow)[1]);
    }
}

}  // namespace
}  // namespace velora::kit
