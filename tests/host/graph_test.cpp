// The host's drawing operations, through the interfaces the plug-in gets
// from Graph and SurfaceFactory, checked on real pixels.
#include "host/graph.h"

#include <climits>
#include <cstdlib>

#include <gtest/gtest.h>

#include "host/services.h"

namespace velora::host {
namespace {

constexpr Rgba kBack{10, 20, 30, 255};
constexpr Rgba kPetal{200, 100, 50, 255};

// A surface that is not the host's: every operation must refuse it.
class ForeignSurface final : public ISurface {
public:
    void VELORA_METHOD Destroy() override {}
    std::uint8_t* VELORA_METHOD GetPixelAddress(std::int32_t, std::int32_t) override { return pixel; }
    std::uint8_t* VELORA_METHOD GetAlphaAddress(std::int32_t, std::int32_t) override { return pixel + 3; }
    std::int32_t VELORA_METHOD GetWidth() override { return 4; }
    std::int32_t VELORA_METHOD GetHeight() override { return 4; }
    std::int32_t VELORA_METHOD GetFormat() override { return kSurfaceFormat; }
    std::uint8_t pixel[4] = {1, 2, 3, 4};
};

bool Near(Rgba a, Rgba b, int tolerance = 1)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance &&
           std::abs(a.a - b.a) <= tolerance;
}

class Graph : public ::testing::Test {
protected:
    Graph()
    {
        dest.Fill(kBack);
        sprite.Fill(kPetal);
    }

    // Pixels that are no longer the background.
    static int Changed(const HostSurface& surface)
    {
        int changed = 0;
        for (int y = 0; y < surface.Height(); ++y) {
            for (int x = 0; x < surface.Width(); ++x) {
                changed += surface.Pixel(x, y) == kBack ? 0 : 1;
            }
        }
        return changed;
    }

    // Pixels inside (x, y, w, h) must equal inside, the others outside.
    void ExpectRect(const HostSurface& surface, int x, int y, int w, int h, Rgba inside, Rgba outside)
    {
        for (int py = 0; py < surface.Height(); ++py) {
            for (int px = 0; px < surface.Width(); ++px) {
                const bool in = px >= x && px < x + w && py >= y && py < y + h;
                ASSERT_EQ(surface.Pixel(px, py), in ? inside : outside) << "pixel " << px << ", " << py;
            }
        }
    }

    IGraphBlend* blend = static_cast<IGraphBlend*>(QueryGraph(&IID_GraphBlend));
    IGraphFilter* filter = static_cast<IGraphFilter*>(QueryGraph(&IID_GraphFilter));
    ISurfaceFactory* factory = static_cast<ISurfaceFactory*>(QuerySurfaceFactory(&IID_SurfaceFactory));
    HostSurface dest{8, 8, "dest"};
    HostSurface sprite{4, 4, "sprite"};
};

TEST_F(Graph, OpaqueSpriteAtFullRateCoversExactlyItsRectangle)
{
    EXPECT_EQ(blend->BlendRect(&dest, 2, 3, &sprite, 0, 0, 4, 4, 255), kDone);
    ExpectRect(dest, 2, 3, 4, 4, kPetal, kBack);

    dest.Fill(kBack);
    EXPECT_EQ(filter->DrawRect(&dest, 2, 3, &sprite, 0, 0, 4, 4), kDone);
    ExpectRect(dest, 2, 3, 4, 4, kPetal, kBack);

    // The other blend adds light, and saturates.
    dest.Fill(kBack);
    blend->BlendRectAlt(&dest, 2, 3, &sprite, 0, 0, 4, 4, 255);
    ExpectRect(dest, 2, 3, 4, 4, {210, 120, 80, 255}, kBack);
    blend->BlendRectAlt(&dest, 2, 3, &sprite, 0, 0, 4, 4, 255);
    EXPECT_EQ(dest.Pixel(3, 4), (Rgba{255, 220, 130, 255}));
}

TEST_F(Graph, RateAndSourceAlphaWeightTheBlends)
{
    blend->BlendRect(&dest, 0, 0, &sprite, 0, 0, 4, 4, 128);
    EXPECT_TRUE(Near(dest.Pixel(0, 0), {105, 60, 40, 255})) << "half way";

    // Rates outside 0 to 255 count as the nearer end.
    dest.Fill(kBack);
    blend->BlendRect(&dest, 0, 0, &sprite, 0, 0, 4, 4, -5);
    blend->BlendRectAlt(&dest, 0, 0, &sprite, 0, 0, 4, 4, 0);
    EXPECT_EQ(dest.Pixel(0, 0), kBack);
    blend->BlendRect(&dest, 0, 0, &sprite, 0, 0, 4, 4, 1000);
    EXPECT_EQ(dest.Pixel(0, 0), kPetal);

    // A transparent pixel leaves the destination alone whatever colour it
    // holds; a half transparent one counts half.
    dest.Fill(kBack);
    sprite.SetPixel(0, 0, {255, 255, 255, 0});
    sprite.SetPixel(1, 0, {200, 100, 50, 128});
    blend->BlendRect(&dest, 0, 0, &sprite, 0, 0, 2, 1, 255);
    EXPECT_EQ(dest.Pixel(0, 0), kBack);
    EXPECT_TRUE(Near(dest.Pixel(1, 0), {105, 60, 40, 255}));
    filter->DrawRect(&dest, 4, 0, &sprite, 0, 0, 2, 1);
    EXPECT_EQ(dest.Pixel(4, 0), kBack);
    EXPECT_TRUE(Near(dest.Pixel(5, 0), {105, 60, 40, 255}));
}

TEST_F(Graph, DrawingOnTransparentPixelsKeepsTheirColourStraight)
{
    HostSurface clear(2, 1, "clear");
    clear.SetPixel(1, 0, {255, 255, 255, 0});
    sprite.SetPixel(0, 0, {200, 100, 50, 128});
    sprite.SetPixel(1, 0, {0, 0, 0, 0});
    filter->DrawRect(&clear, 0, 0, &sprite, 0, 0, 2, 1);
    EXPECT_TRUE(Near(clear.Pixel(0, 0), {200, 100, 50, 128})) << "not darkened by its alpha";
    EXPECT_EQ(clear.Pixel(1, 0), (Rgba{255, 255, 255, 0})) << "an untouched pixel keeps its bytes";
}

TEST_F(Graph, CopyRectMovesColourAndAlphaUnchanged)
{
    sprite.SetPixel(1, 1, {255, 255, 255, 0});
    sprite.SetPixel(2, 1, {1, 2, 3, 77});
    filter->CopyRect(&dest, 4, 4, &sprite, 1, 1, 2, 1);
    EXPECT_EQ(dest.Pixel(4, 4), (Rgba{255, 255, 255, 0}));
    EXPECT_EQ(dest.Pixel(5, 4), (Rgba{1, 2, 3, 77}));
    EXPECT_EQ(dest.Pixel(6, 4), kBack);

    // Within one surface, an overlapping copy reads the pixels as they were.
    HostSurface row(4, 1, "row");
    for (std::uint8_t x = 0; x < 4; ++x) {
        row.SetPixel(x, 0, {x, x, x, 255});
    }
    filter->CopyRect(&row, 1, 0, &row, 0, 0, 3, 1);
    EXPECT_EQ(row.Pixel(1, 0).r, 0);
    EXPECT_EQ(row.Pixel(2, 0).r, 1);
    EXPECT_EQ(row.Pixel(3, 0).r, 2);
}

TEST_F(Graph, FilterRectFadesTheAlphaInPlace)
{
    sprite.Fill({200, 100, 50, 200});
    filter->FilterRect(&sprite, 1, 1, 2, 2, 128);
    ExpectRect(sprite, 1, 1, 2, 2, {200, 100, 50, 100}, {200, 100, 50, 200});
    filter->FilterRect(&sprite, 0, 0, 4, 4, 255);
    EXPECT_EQ(sprite.Pixel(0, 0).a, 200) << "full rate changes nothing";
    filter->FilterRect(&sprite, 0, 0, 4, 4, 0);
    EXPECT_EQ(sprite.Pixel(0, 0), (Rgba{200, 100, 50, 0}));
}

TEST_F(Graph, MixRectMultipliesAndWhiteLeavesTheDestinationUnchanged)
{
    HostSurface white(4, 4, "white");
    white.Fill({255, 255, 255, 0});  // alpha plays no part in the mix
    dest.SetPixel(7, 7, {90, 180, 250, 40});
    for (const std::int32_t rate : {0, 1, 128, 255}) {
        filter->MixRect(&dest, 0, 0, &white, 0, 0, 4, 4, rate);
        filter->MixRect(&dest, 4, 4, &white, 0, 0, 4, 4, rate);
        EXPECT_EQ(dest.Pixel(0, 0), kBack);
        EXPECT_EQ(dest.Pixel(7, 7), (Rgba{90, 180, 250, 40}));
    }

    HostSurface tint(1, 1, "tint");
    tint.SetPixel(0, 0, {128, 255, 0, 0});
    HostSurface grey(1, 1, "grey");
    grey.SetPixel(0, 0, {200, 100, 50, 99});
    filter->MixRect(&grey, 0, 0, &tint, 0, 0, 1, 1, 255);
    EXPECT_TRUE(Near(grey.Pixel(0, 0), {100, 100, 0, 99})) << "per channel, alpha kept";

    grey.SetPixel(0, 0, {200, 100, 50, 255});
    tint.SetPixel(0, 0, {0, 0, 0, 255});
    filter->MixRect(&grey, 0, 0, &tint, 0, 0, 1, 1, 128);
    EXPECT_TRUE(Near(grey.Pixel(0, 0), {100, 50, 25, 255})) << "rate mixes the factor with white";
}

TEST_F(Graph, RectanglesAreClippedToBothSurfaces)
{
    // Each sprite pixel tells where it came from.
    for (std::uint8_t y = 0; y < 4; ++y) {
        for (std::uint8_t x = 0; x < 4; ++x) {
            sprite.SetPixel(x, y, {x, y, 99, 255});
        }
    }
    blend->BlendRect(&dest, -2, -1, &sprite, 0, 0, 4, 4, 255);  // off the top left
    EXPECT_EQ(Changed(dest), 2 * 3);
    EXPECT_EQ(dest.Pixel(0, 0), (Rgba{2, 1, 99, 255}));
    EXPECT_EQ(dest.Pixel(1, 2), (Rgba{3, 3, 99, 255}));

    dest.Fill(kBack);
    filter->CopyRect(&dest, 6, 7, &sprite, 0, 0, INT_MAX, INT_MAX);  // off the bottom right
    EXPECT_EQ(Changed(dest), 2 * 1);
    EXPECT_EQ(dest.Pixel(7, 7), (Rgba{1, 0, 99, 255}));

    dest.Fill(kBack);
    filter->CopyRect(&dest, 0, 0, &sprite, -1, 2, 8, 8);  // source rectangle partly outside the sprite
    EXPECT_EQ(Changed(dest), 4 * 2);
    EXPECT_EQ(dest.Pixel(1, 0), (Rgba{0, 2, 99, 255}));
    EXPECT_EQ(dest.Pixel(4, 1), (Rgba{3, 3, 99, 255}));

    // Nothing lands for rectangles wholly outside either surface, or with a
    // size of 0 or less, up to the far ends of the integers.
    dest.Fill(kBack);
    for (const std::int32_t outside : {INT_MIN, -4, 8, INT_MAX}) {
        blend->BlendRect(&dest, outside, 0, &sprite, 0, 0, 4, 4, 255);
        blend->BlendRectAlt(&dest, 0, outside, &sprite, 0, 0, INT_MAX, 4, 255);
        filter->DrawRect(&dest, 0, 0, &sprite, outside, 0, 4, INT_MAX);
        filter->MixRect(&dest, 0, 0, &sprite, 0, outside == 8 ? 4 : outside, 4, 4, 255);
        filter->FilterRect(&dest, outside, 0, 4, 8, 0);
        filter->FilterRect(&dest, INT_MIN, outside, INT_MAX, INT_MAX, 0);
        filter->CopyRect(&dest, INT_MIN, outside, &sprite, 0, 0, INT_MAX, INT_MAX);
    }
    for (const std::int32_t size : {INT_MIN, -1, 0}) {
        blend->BlendRect(&dest, 0, 0, &sprite, 0, 0, size, 4, 255);
        blend->BlendRectAlt(&dest, 0, 0, &sprite, 0, 0, 4, size, 255);
        filter->CopyRect(&dest, 0, 0, &sprite, 0, 0, size, size);
        filter->FilterRect(&dest, 0, 0, size, 8, 0);
        filter->MixRect(&dest, 0, 0, &sprite, 0, 0, 4, size, 255);
    }
    EXPECT_EQ(Changed(dest), 0);
}

TEST_F(Graph, MissingForeignAndEndedSurfacesAreRefused)
{
    ForeignSurface foreign;
    ISurface* scratch = factory->CreateSurface(4, 4, 0);
    ASSERT_NE(scratch, nullptr);
    scratch->Destroy();
    for (ISurface* bad : {static_cast<ISurface*>(nullptr), static_cast<ISurface*>(&foreign), scratch}) {
        EXPECT_EQ(blend->BlendRect(&dest, 0, 0, bad, 0, 0, 4, 4, 255), kRefused);
        EXPECT_EQ(blend->BlendRectAlt(bad, 0, 0, &sprite, 0, 0, 4, 4, 255), kRefused);
        EXPECT_EQ(filter->CopyRect(bad, 0, 0, &sprite, 0, 0, 4, 4), kRefused);
        EXPECT_EQ(filter->DrawRect(&dest, 0, 0, bad, 0, 0, 4, 4), kRefused);
        EXPECT_EQ(filter->FilterRect(bad, 0, 0, 4, 4, 0), kRefused);
        EXPECT_EQ(filter->MixRect(&dest, 0, 0, bad, 0, 0, 4, 4, 255), kRefused);
    }
    EXPECT_EQ(Changed(dest), 0);
    EXPECT_EQ(foreign.pixel[0], 1);

    // A surface without pixels is the host's, with nothing to draw.
    HostSurface empty(0, 5, "empty");
    EXPECT_EQ(blend->BlendRect(&empty, 0, 0, &sprite, 0, 0, 4, 4, 255), kDone);
    EXPECT_EQ(blend->BlendRect(&dest, 0, 0, &empty, 0, 0, 4, 4, 255), kDone);
    EXPECT_EQ(Changed(dest), 0);
}

}  // namespace
}  // namespace velora::host
