// Sprites from PNG files, and the built-in petals.
#include "reference/png_io.h"

#include <cstring>
#include <fstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "reference/petals.h"
#include "temp_dir.h"

namespace velora::reference {
namespace {

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// The message of the error the call throws, or "" when it throws none.
template <class Call>
std::string ErrorOf(Call&& call)
{
    try {
        call();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "";
}

// A sheet of columns x rows cells of cell pixels, cell i filled with {i, 10 * i, 255 - i}.
std::unique_ptr<HostSurface> Sheet(int columns, int rows, int cell)
{
    auto sheet = std::make_unique<HostSurface>(columns * cell, rows * cell, "sheet");
    HostSurface& surface = *sheet;
    for (int y = 0; y < surface.Height(); ++y) {
        for (int x = 0; x < surface.Width(); ++x) {
            const auto i = static_cast<std::uint8_t>(y / cell * columns + x / cell);
            surface.SetPixel(x, y, {i, static_cast<std::uint8_t>(10 * i), static_cast<std::uint8_t>(255 - i), 255});
        }
    }
    return sheet;
}

TEST(Png, SavedImagesLoadBackWithTheirAlpha)
{
    testing::TempDir dir;
    HostSurface image(3, 2, "image");
    image.SetPixel(0, 0, {255, 0, 0, 255});
    image.SetPixel(1, 0, {10, 200, 30, 128});
    image.SetPixel(2, 1, {1, 2, 3, 1});
    SavePng(image, dir / "image.png");
    const auto loaded = LoadPng(dir / "image.png");
    ASSERT_EQ(loaded->Width(), 3);
    ASSERT_EQ(loaded->Height(), 2);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(loaded->Pixel(x, y), image.Pixel(x, y)) << x << ", " << y;
        }
    }
}

TEST(Png, SheetsSplitIntoCellsRowByRow)
{
    testing::TempDir dir;
    SavePng(*Sheet(3, 2, 4), dir / "grid.png");
    const Sprites grid = LoadSpriteSheet(dir / "grid.png", 4);
    ASSERT_EQ(grid.size(), 6u);
    for (std::uint8_t i = 0; i < 6; ++i) {
        EXPECT_EQ(grid[i]->Width(), 4);
        EXPECT_EQ(grid[i]->Pixel(0, 0).r, i);
        EXPECT_EQ(grid[i]->Pixel(3, 3).r, i) << "the whole cell, nothing of its neighbour";
    }

    // Without a cell size a strip splits into squares of its smaller side.
    SavePng(*Sheet(1, 5, 8), dir / "column.png");
    const Sprites column = LoadSpriteSheet(dir / "column.png", 0);
    ASSERT_EQ(column.size(), 5u);
    EXPECT_EQ(column[4]->Pixel(7, 7).r, 4);

    EXPECT_NE(ErrorOf([&] { LoadSpriteSheet(dir / "grid.png", 5); }).find("does not divide into cells of 5 x 5"),
              std::string::npos);
}

TEST(Png, MissingAndCorruptFilesAreErrorsNamingTheFile)
{
    testing::TempDir dir;
    SavePng(*Sheet(2, 2, 16), dir / "good.png");
    const std::string good = ReadBytes(dir / "good.png");
    WriteBytes(dir / "empty.png", "");
    WriteBytes(dir / "text.png", "this is not an image");
    WriteBytes(dir / "truncated.png", good.substr(0, good.size() / 2));
    std::string flipped = good;
    flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x5A);
    WriteBytes(dir / "flipped.png", flipped);

    EXPECT_EQ(ErrorOf([&] { LoadPng(dir / "missing.png"); }), dir / "missing.png" + ": no such file");
    EXPECT_EQ(ErrorOf([&] { LoadPng(dir.Path().string()); }), dir.Path().string() + ": not a file");
    for (const char* name : {"empty.png", "text.png", "truncated.png", "flipped.png"}) {
        const std::string error = ErrorOf([&] { LoadSpriteSheet(dir / name, 0); });
        EXPECT_EQ(error.rfind(dir / name + ": ", 0), 0u) << name << ": " << error;
        EXPECT_NE(error.find("PNG"), std::string::npos) << error;
    }
    EXPECT_NE(ErrorOf([&] { SavePng(HostSurface(2, 2, "x"), dir / "no/such/folder.png"); }), "");
}

TEST(Png, NumberedFilesLoadInOrderUpToTheFirstGap)
{
    testing::TempDir dir;
    const Sprites cells = SplitSheet(*Sheet(4, 1, 2), 2);
    for (int i = 1; i <= 3; ++i) {
        SavePng(*cells[static_cast<std::size_t>(i)], dir / ("petal0" + std::to_string(i) + ".png"));
    }
    SavePng(*cells[0], dir / "petal05.png");  // after a gap: not part of the run
    ASSERT_TRUE(IsNumberPattern(dir / "petal%02d.png"));
    const Sprites run = LoadNumberedSprites(dir / "petal%02d.png");
    ASSERT_EQ(run.size(), 3u);
    EXPECT_EQ(run[0]->Pixel(0, 0).r, 1);
    EXPECT_EQ(run[2]->Pixel(1, 1).r, 3);

    SavePng(HostSurface(3, 3, "odd"), dir / "petal00.png");
    EXPECT_NE(ErrorOf([&] { LoadNumberedSprites(dir / "petal%02d.png"); }).find("but the first sprite is 3 x 3"),
              std::string::npos);
    EXPECT_NE(ErrorOf([&] { LoadNumberedSprites(dir / "none%d.png"); }).find("no numbered file"), std::string::npos);
    for (const char* bad : {"petal.png", "petal%s.png", "a%d%d.png", "%-2d.png", "100%.png"}) {
        EXPECT_FALSE(IsNumberPattern(bad)) << bad;
    }
    EXPECT_TRUE(IsNumberPattern("100%%-%d.png"));
}

TEST(Petals, TheBuiltInRunTurnsAndFlutters)
{
    const Sprites petals = DrawPetals();
    ASSERT_EQ(petals.size(), 16u);
    std::vector<int> coverage;
    for (const auto& petal : petals) {
        ASSERT_EQ(petal->Width(), 32);
        ASSERT_EQ(petal->Height(), 32);
        int alpha = 0;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                const Rgba pixel = petal->Pixel(x, y);
                alpha += pixel.a;
                if (x == 0 || y == 0 || x == 31 || y == 31) {
                    ASSERT_EQ(pixel.a, 0) << "the petal stays inside its sprite";
                }
                if (pixel.a > 0) {
                    ASSERT_GT(pixel.r, pixel.b) << "pink";
                }
            }
        }
        coverage.push_back(alpha);
    }
    // Later groups show the petal turned further towards edge-on.
    for (std::size_t group = 1; group < 4; ++group) {
        EXPECT_LT(coverage[group * 4], coverage[(group - 1) * 4]) << "group " << group;
    }
    // The frames of a group differ: the petal flutters.
    for (std::size_t frame = 1; frame < 4; ++frame) {
        EXPECT_NE(std::memcmp(petals[0]->Bytes(), petals[frame]->Bytes(), 32 * 32 * 4), 0) << frame;
    }
    EXPECT_THROW(DrawPetals({4, 4, 4}), std::invalid_argument);
    EXPECT_THROW(DrawPetals({32, 0, 4}), std::invalid_argument);
}

}  // namespace
}  // namespace velora::reference
