// The previewer's command line, and the sizes of the images it reads.
#include "previewer/options.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "previewer/background.h"

namespace velora::previewer {
namespace {

std::string UsageErrorOf(const std::vector<std::string>& arguments)
{
    try {
        ParseOptions(arguments);
    } catch (const UsageError& error) {
        return error.what();
    }
    return "";
}

TEST(Options, DefaultsAreTheReadmePreview)
{
    const Options options = ParseOptions({});
    EXPECT_EQ(options.width, 640);
    EXPECT_EQ(options.height, 480);
    EXPECT_EQ(options.type, 0);
    EXPECT_EQ(options.numof, 40);
    EXPECT_EQ(options.maxAmp, 40);
    EXPECT_EQ(options.xSpeed, 1.0f);
    EXPECT_EQ(options.ySpeed, 1.0f);
    EXPECT_EQ(options.rate, 255);
    EXPECT_EQ(options.sprites, "");
    EXPECT_EQ(options.background, "gradient");
    EXPECT_EQ(FrameCount(options), 90);
    EXPECT_EQ(options.output, "preview.webp");
    EXPECT_EQ(SheetPath(options), "preview-sheet.png");
}

TEST(Options, EveryOptionReachesItsSetting)
{
    const Options o = ParseOptions({"--width", "320", "--height=200", "--type", "-7", "--numof", "0", "--maxamp",
                                    "-3", "--xspeed", "-0.5", "--yspeed=2.25", "--rate", "0", "--handle", "-2",
                                    "--sprites", "sheet.png", "--cell", "16", "--base", "500", "--sprite-count",
                                    "8", "--rotation-frames", "2", "--seconds", "0.25", "--fps", "8",
                                    "--background", "#102030", "--output", "out/a.webp", "--sheet-frames", "3",
                                    "--frames-dir", "f", "--trace", "t.txt", "--quality", "50", "--lossless",
                                    "--plugin", "p.so", "--host-dir", "h", "--quiet"});
    EXPECT_EQ(o.width, 320);
    EXPECT_EQ(o.height, 200);
    EXPECT_EQ(o.type, -7);
    EXPECT_EQ(o.numof, 0);
    EXPECT_EQ(o.maxAmp, -3);
    EXPECT_EQ(o.xSpeed, -0.5f);
    EXPECT_EQ(o.ySpeed, 2.25f);
    EXPECT_EQ(o.rate, 0);
    EXPECT_EQ(o.handle, -2);
    EXPECT_EQ(o.sprites, "sheet.png");
    EXPECT_EQ(o.cell, 16);
    EXPECT_EQ(o.base, 500);
    EXPECT_EQ(o.spriteCount, 8);
    EXPECT_EQ(o.rotationFrames, 2);
    EXPECT_EQ(FrameCount(o), 2);
    EXPECT_EQ(o.background, "#102030");
    EXPECT_EQ(SheetPath(o), "out/a-sheet.png");
    EXPECT_EQ(o.sheetFrames, 3);
    EXPECT_EQ(o.framesDir, "f");
    EXPECT_EQ(o.trace, "t.txt");
    EXPECT_EQ(o.quality, 50);
    EXPECT_TRUE(o.lossless);
    EXPECT_EQ(o.plugin, "p.so");
    EXPECT_EQ(o.hostDir, "h");
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(ParseOptions({"--sheet", "x.png"}).sheet, "x.png");
    EXPECT_TRUE(ParseOptions({"--help"}).help);
    EXPECT_EQ(FrameCount(ParseOptions({"--seconds", "0.001", "--fps", "1"})), 1) << "at least one frame";
}

TEST(Options, BadOptionsAreNamedInTheError)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--colour", "red"}, "unknown option --colour"},
        {{"preview.webp"}, "unexpected argument 'preview.webp'"},
        {{"--width"}, "--width needs a value"},
        {{"--width", "0"}, "--width must be between 1 and 4096, not 0"},
        {{"--height", "4097"}, "--height must be between 1 and 4096"},
        {{"--rate", "256"}, "--rate must be between 0 and 255"},
        {{"--numof", "-1"}, "--numof must be between 0 and 100000"},
        {{"--fps", "12.5"}, "--fps takes a whole number, not '12.5'"},
        {{"--type", "99999999999"}, "--type must be between"},
        {{"--xspeed", "fast"}, "--xspeed takes a number, not 'fast'"},
        {{"--yspeed", "nan"}, "--yspeed takes a number"},
        {{"--yspeed", "1e39"}, "--yspeed must be between -100 and 100, not 1e39"},
        {{"--maxamp", "-1001"}, "--maxamp must be between -1000 and 1000, not -1001"},
        {{"--seconds", "0"}, "--seconds must be above 0"},
        {{"--quality=", "5"}, "--quality takes a whole number, not ''"},
        {{"--output", ""}, "--output needs a non-empty value"},
        {{"--lossless=yes"}, "--lossless takes no value"},
        {{"--output", "-"}, "the animation cannot go to standard output"},
        {{"--output", "out.png"}, "its name ends in .webp"},
        {{"--sheet", "sheet.jpg"}, "its name ends in .png"},
        {{"--seed", "4294967296"}, "--seed takes a whole number from 0 to 4294967295"},
        {{"--seed", "-1"}, "--seed takes a whole number"},
        {{"--warmup", "-0.5"}, "--warmup must be from 0 to 600"},
        {{"--script", "s.txt", "--numof", "5"}, "--numof cannot be combined with --script"},
    };
    for (const auto& [arguments, message] : cases) {
        EXPECT_NE(UsageErrorOf(arguments).find(message), std::string::npos)
            << arguments[0] << " gave: " << UsageErrorOf(arguments);
    }
}

// Every limited option at both edges and one past each.
// Catches: a range copied from a neighbouring option (height checked against
// the width's field, the particle limit one short, "below" for "up to").
TEST(Options, EveryRangeTakesItsEdgesAndRefusesOnePast)
{
    struct Range {
        const char* option;
        const char* lowest;
        const char* belowLowest;
        const char* highest;
        const char* aboveHighest;
    };
    const Range ranges[] = {
        {"width", "1", "0", "4096", "4097"},
        {"height", "1", "0", "4096", "4097"},
        {"numof", "0", "-1", "100000", "100001"},
        {"maxamp", "-1000", "-1001", "1000", "1001"},
        {"xspeed", "-100", "-100.001", "100", "100.001"},
        {"yspeed", "-100", "-100.001", "100", "100.001"},
        {"rate", "0", "-1", "255", "256"},
        {"cell", "1", "0", "16384", "16385"},
        {"seconds", "0.001", "0", "600", "600.001"},
        {"fps", "1", "0", "120", "121"},
        {"sheet-frames", "0", "-1", "64", "65"},
        {"quality", "0", "-1", "100", "101"},
        {"warmup", "0", "-0.001", "600", "600.001"},
        {"seed", "0", "-1", "4294967295", "4294967296"},
        {"type", "-2147483648", "-2147483649", "2147483647", "2147483648"},
        {"handle", "-2147483648", "-2147483649", "2147483647", "2147483648"},
    };
    const auto refusal = [](const char* option, const char* value) {
        std::vector<std::string> arguments = {std::string("--") + option, value};
        if (std::string(option) == "cell") {
            arguments.insert(arguments.end(), {"--sprites", "sheet.png"});  // --cell cuts a sheet
        }
        return UsageErrorOf(arguments);
    };
    for (const Range& r : ranges) {
        EXPECT_EQ(refusal(r.option, r.lowest), "") << "--" << r.option << " " << r.lowest;
        EXPECT_EQ(refusal(r.option, r.highest), "") << "--" << r.option << " " << r.highest;
        for (const char* past : {r.belowLowest, r.aboveHighest}) {
            EXPECT_NE(refusal(r.option, past).find(std::string("--") + r.option), std::string::npos)
                << "--" << r.option << " " << past << " gave: '" << refusal(r.option, past) << "'";
        }
    }
    // Both sides reach the field, not just the first.
    const Options largest = ParseOptions({"--width", "4096", "--height", "4096", "--numof", "100000"});
    EXPECT_EQ(largest.width, 4096);
    EXPECT_EQ(largest.height, 4096);
    EXPECT_EQ(largest.numof, 100000);
}

// A PNG file that says it is width x height, with a stand-in for its pixels:
// enough for a reader to judge the size before it decodes anything.
std::string PngHeaderOnly(std::uint32_t width, std::uint32_t height)
{
    const auto crc = [](const std::string& bytes) {
        std::uint32_t c = 0xFFFFFFFFu;
        for (const unsigned char byte : bytes) {
            c ^= byte;
            for (int k = 0; k < 8; ++k) {
                c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
            }
        }
        return ~c;
    };
    const auto big = [](std::uint32_t v) {
        return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    };
    const auto chunk = [&](const std::string& type, const std::string& data) {
        return big(static_cast<std::uint32_t>(data.size())) + type + data + big(crc(type + data));
    };
    return std::string("\x89PNG\r\n\x1A\n", 8) +
           chunk("IHDR", big(width) + big(height) + std::string("\x08\x06\x00\x00\x00", 5)) +
           chunk("IDAT", "not pixels") + chunk("IEND", "");
}

// The host takes images up to 16384 pixels a side and 2^26 in all (an image
// of exactly 2^26 pixels is left out: making its surface takes seconds).
// Catches: a side limit applied to one direction only, or compared with >=,
// and the area limit one off.
TEST(Background, AnImageIsTakenUpToTheHostsLimitsAndRefusedOnePast)
{
    struct Case {
        std::uint32_t width;
        std::uint32_t height;
        bool taken;
    };
    const Case cases[] = {
        {16384, 1, true}, {16385, 1, false}, {1, 16384, true}, {1, 16385, false},
        {16384, 4097, false}, {4097, 16384, false},
    };
    const std::string path = testing::TempDir() + "velora-background-" + std::to_string(getpid()) + ".png";
    for (const Case& c : cases) {
        {
            std::ofstream(path, std::ios::binary) << PngHeaderOnly(c.width, c.height);
        }
        std::string error;
        try {
            MakeBackground(path, 4, 4);
        } catch (const UsageError& problem) {
            error = problem.what();
        }
        // A taken size goes on to the pixels, which this file does not have.
        EXPECT_NE(error.find(c.taken ? "corrupt PNG image" : "larger than the host takes"), std::string::npos)
            << c.width << " x " << c.height << ": " << error;
    }
    std::remove(path.c_str());
}

TEST(Options, FramesLieWholeMillisecondsApartWithoutDrift)
{
    for (const std::int32_t fps : {1, 7, 24, 30, 60, 120}) {
        for (std::int64_t k = 0; k < 10 * fps; ++k) {
            const std::int64_t gap = FrameTime(k + 1, fps) - FrameTime(k, fps);
            EXPECT_TRUE(gap == 1000 / fps || gap == 1000 / fps + (1000 % fps ? 1 : 0)) << fps << " fps, frame " << k;
        }
        EXPECT_EQ(FrameTime(10 * fps, fps), 10000) << fps << " fps";
    }
    const Options o = ParseOptions({"--seed", "4294967295", "--warmup", "2.5", "--realtime", "--force",
                                    "--script", "s.txt", "--print-script", "--output", "A.WEBP"});
    EXPECT_EQ(o.seed, 4294967295u);
    EXPECT_EQ(o.warmup, 2.5);
    EXPECT_TRUE(o.realtime && o.force && o.printScript);
    EXPECT_EQ(o.script, "s.txt");
    EXPECT_FALSE(ParseOptions({}).seed.has_value()) << "chosen at run time";
}

TEST(Options, HelpDocumentsEveryOption)
{
    const std::string help = HelpText("velora_previewer");
    for (const char* option :
         {"--width N", "--height N", "--type N", "--numof N", "--maxamp N", "--xspeed F", "--yspeed F", "--rate N",
          "--handle N", "--sprites PATH", "--cell S", "--base N", "--sprite-count N", "--rotation-frames R",
          "--seconds S", "--fps N", "--background B", "--output PATH", "--sheet PATH", "--sheet-frames N",
          "--frames-dir DIR", "--trace PATH", "--quality Q", "--lossless", "--plugin PATH", "--host-dir DIR", "--seed N", "--warmup S", "--realtime", "--script FILE",
          "--print-script", "--force",
          "--quiet", "--help", "--version"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
    EXPECT_NE(help.find("rate runs from 0 to 255"), std::string::npos);
}

}  // namespace
}  // namespace velora::previewer
