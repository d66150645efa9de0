// The host's surfaces, surface factory, sprite bank, draw host and service
// lookup, as the plug-in reaches them.
#include "reference/host_objects.h"

#include <climits>

#include <gtest/gtest.h>

namespace velora::reference {
namespace {

TEST(Surface, PixelAndAlphaAddressesFollowTheLayout)
{
    HostSurface surface(3, 2, "s");
    surface.SetPixel(2, 1, {30, 20, 10, 40});
    std::uint8_t* colour = surface.GetPixelAddress(2, 1);
    ASSERT_NE(colour, nullptr);
    EXPECT_EQ(colour[0], 5);  // red, green, blue, premultiplied: 30 x 40 / 255
    EXPECT_EQ(colour[1], 3);
    EXPECT_EQ(colour[2], 2);
    EXPECT_EQ(surface.GetAlphaAddress(2, 1), colour + 3);
    EXPECT_EQ(surface.GetPixelAddress(1, 1), colour - 4);
    EXPECT_EQ(surface.GetPixelAddress(2, 0), colour - 12);

    // What is written through the addresses is the pixel.
    colour[0] = colour[1] = colour[2] = 255;
    *surface.GetAlphaAddress(0, 0) = 0;
    EXPECT_EQ(surface.Pixel(2, 1), (Rgba{255, 255, 255, 40}));
    EXPECT_EQ(surface.Pixel(0, 0), (Rgba{0, 0, 0, 0}));

    EXPECT_EQ(surface.GetWidth(), 3);
    EXPECT_EQ(surface.GetHeight(), 2);
    EXPECT_EQ(surface.GetFormat(), kSurfaceFormat);
    for (const auto& [x, y] : {std::pair{-1, 0}, {3, 0}, {0, -1}, {0, 2}, {INT_MIN, INT_MAX}}) {
        EXPECT_EQ(surface.GetPixelAddress(x, y), nullptr);
        EXPECT_EQ(surface.GetAlphaAddress(x, y), nullptr);
    }
}

TEST(Surface, FactoryMakesScratchSurfacesThatDestroyEnds)
{
    auto* factory = static_cast<ISurfaceFactory*>(QuerySurfaceFactory(&IID_SurfaceFactory));
    const std::size_t before = HostSurface::LiveCount();
    ISurface* scratch = factory->CreateSurface(5, 7, 12345);  // any format: the host has one
    ASSERT_NE(scratch, nullptr);
    EXPECT_EQ(scratch->GetWidth(), 5);
    EXPECT_EQ(scratch->GetHeight(), 7);
    EXPECT_EQ(scratch->GetFormat(), kSurfaceFormat);
    EXPECT_EQ(*scratch->GetAlphaAddress(4, 6), 0) << "starts transparent";
    EXPECT_EQ(HostSurface::LiveCount(), before + 1);
    scratch->Destroy();
    EXPECT_EQ(HostSurface::LiveCount(), before);

    // Sizes the host cannot make give null, not a crash.
    EXPECT_EQ(factory->CreateSurface(-1, 5, 0), nullptr);
    EXPECT_EQ(factory->CreateSurface(5, INT_MIN, 0), nullptr);
    EXPECT_EQ(factory->CreateSurface(INT_MAX, INT_MAX, 0), nullptr);
    EXPECT_EQ(factory->CreateSurface(kMaxSurfaceSide, kMaxSurfaceSide, 0), nullptr);
    ISurface* empty = factory->CreateSurface(0, 0, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->GetPixelAddress(0, 0), nullptr);
    empty->Destroy();
    EXPECT_EQ(HostSurface::LiveCount(), before);

    // Destroy on a surface the factory did not make leaves it to its owner.
    HostSurface sprite(2, 2, "sprite");
    sprite.Destroy();
    EXPECT_EQ(HostSurface::FromInterface(&sprite), &sprite);
}

TEST(SpriteBank, AnswersTheNumbersOfItsRun)
{
    HostSpriteBank bank(100);
    for (int i = 0; i < 3; ++i) {
        bank.Add(std::make_unique<HostSurface>(4, 4, "loaded"));
    }
    EXPECT_EQ(bank.GetSprite(100), &bank.At(0));
    EXPECT_EQ(bank.GetSprite(102), &bank.At(2));
    EXPECT_EQ(bank.At(2).Label(), "sprite102");
    for (const std::int32_t outside : {99, 103, 0, INT_MIN, INT_MAX}) {
        EXPECT_EQ(bank.GetSprite(outside), nullptr) << outside;
    }

    HostSpriteBank high(INT_MAX);
    high.Add(std::make_unique<HostSurface>(1, 1, "a"));
    high.Add(std::make_unique<HostSurface>(1, 1, "b"));  // a number past the int32 range
    EXPECT_EQ(high.GetSprite(INT_MAX), &high.At(0));
    EXPECT_EQ(high.GetSprite(INT_MIN), nullptr);
}

TEST(DrawHost, ReportRectLogsAndKeepsWhatItReceives)
{
    std::vector<std::string> lines;
    HostDrawHost host([&](const std::string& line) { lines.push_back(line); });
    EXPECT_EQ(host.ReportRect(7, 0, 0, 640, 480), 0);
    ASSERT_EQ(host.Reports().size(), 1u);
    EXPECT_EQ(host.Reports()[0], (HostDrawHost::Report{7, 0, 0, 640, 480}));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "ReportRect(handle 7, 0, 0, 640 x 480)");
}

TEST(Services, EachModuleAnswersItsOwnGuidsOnly)
{
    EXPECT_NE(QueryMainSystem(&IID_MainSystem), nullptr);
    EXPECT_NE(QueryGraph(&IID_GraphBlend), nullptr);
    EXPECT_NE(QueryGraph(&IID_GraphFilter), nullptr);
    EXPECT_NE(QueryGraph(&IID_GraphBlend), QueryGraph(&IID_GraphFilter));
    EXPECT_NE(QuerySurfaceFactory(&IID_SurfaceFactory), nullptr);

    Guid almost = IID_GraphBlend;
    almost.Data4[7] ^= 1;
    for (const Guid* other : {&IID_DrawPlugin, &IID_DrawHost, &IID_SpriteBank, static_cast<const Guid*>(&almost),
                              static_cast<const Guid*>(nullptr)}) {
        EXPECT_EQ(QueryGraph(other), nullptr);
        EXPECT_EQ(QuerySurfaceFactory(other), nullptr);
        EXPECT_EQ(QueryMainSystem(other), nullptr);
    }
    EXPECT_EQ(QueryMainSystem(&IID_GraphBlend), nullptr);
    EXPECT_EQ(QueryGraph(&IID_SurfaceFactory), nullptr);
    EXPECT_EQ(QuerySurfaceFactory(&IID_MainSystem), nullptr);
}

}  // namespace
}  // namespace velora::reference
