// The previewer executable end to end: the real plug-in, the real host
// modules, real files.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include <gtest/gtest.h>
#include <webp/demux.h>

#include "host/png_io.h"
#include "temp_dir.h"

extern char** environ;

namespace velora::preview {
namespace {

using host::HostSurface;
using host::Rgba;

struct Outcome {
    bool exited = false;  // false: killed by a signal
    int status = -1;
    std::string out;
    std::string err;
};

std::string Slurp(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

Outcome Preview(const testing::TempDir& dir, std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), VELORA_PREVIEW_PROGRAM);
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const std::string out = dir / "stdout.txt";
    const std::string err = dir / "stderr.txt";
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t child = 0;
    Outcome outcome;
    if (posix_spawn(&child, argv[0], &files, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(child, &status, 0);
        outcome.exited = WIFEXITED(status);
        outcome.status = outcome.exited ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&files);
    outcome.out = Slurp(out);
    outcome.err = Slurp(err);
    return outcome;
}

// The animation's frames, decoded.
struct Animation {
    int width = 0;
    int height = 0;
    int frames = 0;
    std::vector<int> timestamps;
};

Animation Decode(const std::string& path)
{
    const std::string bytes = Slurp(path);
    WebPData data{reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
    WebPAnimDecoderOptions options;
    WebPAnimDecoderOptionsInit(&options);
    Animation animation;
    WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
    if (!decoder) {
        return animation;
    }
    WebPAnimInfo info;
    WebPAnimDecoderGetInfo(decoder, &info);
    animation.width = static_cast<int>(info.canvas_width);
    animation.height = static_cast<int>(info.canvas_height);
    std::uint8_t* pixels = nullptr;
    int timestamp = 0;
    while (WebPAnimDecoderHasMoreFrames(decoder) && WebPAnimDecoderGetNext(decoder, &pixels, &timestamp)) {
        ++animation.frames;
        animation.timestamps.push_back(timestamp);
    }
    WebPAnimDecoderDelete(decoder);
    return animation;
}

// Frame number -> rectangles drawn on the frame, from the trace.
using Rects = std::map<int, std::vector<std::array<int, 4>>>;

Rects DrawnOnFrame(const std::string& tracePath)
{
    Rects rects;
    std::istringstream trace(Slurp(tracePath));
    std::string line;
    int frame = -1;
    while (std::getline(trace, line)) {
        if (line.rfind("frame ", 0) == 0) {
            frame = std::stoi(line.substr(6));
        } else if (line.find(" dest=frame ") != std::string::npos) {
            const auto value = [&](const std::string& key) {
                return std::stoi(line.substr(line.find(" " + key + "=") + key.size() + 2));
            };
            rects[frame].push_back({value("dx"), value("dy"), value("w"), value("h")});
        }
    }
    return rects;
}

constexpr Rgba kBackground{0x40, 0x60, 0x80, 255};

class EveryMode : public ::testing::TestWithParam<int> {};

TEST_P(EveryMode, FramesChangeOnlyWhereTheHostWasAskedToDraw)
{
    testing::TempDir dir;
    const Outcome run = Preview(dir, {"--type", std::to_string(GetParam()), "--width", "160", "--height", "120",
                                      "--seconds", "0.3", "--fps", "20", "--numof", "30", "--background", "#406080",
                                      "--output", dir / "out.webp", "--frames-dir", dir / "frames", "--trace",
                                      dir / "trace.txt", "--lossless"});
    ASSERT_TRUE(run.exited && run.status == 0) << run.err;
    EXPECT_NE(run.out.find("6 frames at 20 fps"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("30 particles in mode " + std::to_string(GetParam())), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("host: ReportRect(handle 1, 0, 0, 640 x 480)"), std::string::npos) << "Update ran";

    const Animation animation = Decode(dir / "out.webp");
    EXPECT_EQ(animation.width, 160);
    EXPECT_EQ(animation.height, 120);
    EXPECT_EQ(animation.frames, 6);
    const auto sheet = host::LoadPng(dir / "out-sheet.png");
    EXPECT_EQ(sheet->Width(), 4 * (160 + 4) + 4) << "six frames, four to a row";
    EXPECT_EQ(sheet->Height(), 2 * (120 + 4) + 4);

    const Rects rects = DrawnOnFrame(dir / "trace.txt");
    std::vector<std::uint8_t> previous;
    for (int frame = 0; frame < 6; ++frame) {
        char name[32];
        std::snprintf(name, sizeof name, "frames/frame-%04d.png", frame);
        const auto image = host::LoadPng(dir / name);
        ASSERT_EQ(image->Width(), 160);
        // Where the host drew this frame.
        std::vector<bool> drawn(160 * 120, false);
        ASSERT_TRUE(rects.contains(frame)) << frame;
        for (const auto& [x, y, w, h] : rects.at(frame)) {
            for (int py = std::max(y, 0); py < std::min(y + h, 120); ++py) {
                for (int px = std::max(x, 0); px < std::min(x + w, 160); ++px) {
                    drawn[static_cast<std::size_t>(py * 160 + px)] = true;
                }
            }
        }
        int changed = 0;
        for (int y = 0; y < 120; ++y) {
            for (int x = 0; x < 160; ++x) {
                if (image->Pixel(x, y) != kBackground) {
                    ++changed;
                    ASSERT_TRUE(drawn[static_cast<std::size_t>(y * 160 + x)])
                        << "frame " << frame << " changed at " << x << ", " << y << " where nothing was drawn";
                }
            }
        }
        EXPECT_GT(changed, 500) << "frame " << frame;
        const std::vector<std::uint8_t> pixels(image->Bytes(), image->Bytes() + image->Stride() * 120);
        EXPECT_NE(pixels, previous) << "frame " << frame << " is the same as the one before";
        previous = pixels;
    }
}

INSTANTIATE_TEST_SUITE_P(Previewer, EveryMode, ::testing::Values(0, 1, 2, 3));

TEST(Previewer, DrawsSpritesFromASheetOverAnImage)
{
    testing::TempDir dir;
    HostSurface sheet(16, 8, "sheet");  // two 8 x 8 sprites: solid red, solid green
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 16; ++x) {
            sheet.SetPixel(x, y, x < 8 ? Rgba{255, 0, 0, 255} : Rgba{0, 255, 0, 255});
        }
    }
    host::SavePng(sheet, dir / "sheet.png");
    HostSurface backdrop(4, 4, "backdrop");
    backdrop.Fill({0, 0, 255, 255});
    host::SavePng(backdrop, dir / "backdrop.png");

    const Outcome run = Preview(dir, {"--sprites", dir / "sheet.png", "--background", dir / "backdrop.png", "--width",
                                      "64", "--height", "64", "--seconds", "0.1", "--fps", "10", "--sheet-frames", "0",
                                      "--output", dir / "out.webp", "--frames-dir", dir / "frames", "--quiet"});
    ASSERT_TRUE(run.exited && run.status == 0) << run.err;
    EXPECT_EQ(run.err, "") << "quiet";
    EXPECT_EQ(run.out.find("-sheet.png"), std::string::npos) << "no contact sheet asked for";
    const auto frame = host::LoadPng(dir / "frames/frame-0000.png");
    std::set<std::tuple<int, int, int>> colours;
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            const Rgba pixel = frame->Pixel(x, y);
            colours.insert({pixel.r, pixel.g, pixel.b});
        }
    }
    EXPECT_TRUE(colours.contains({0, 0, 255})) << "the stretched background";
    EXPECT_TRUE(colours.contains({255, 0, 0}) || colours.contains({0, 255, 0})) << "the sprites";
}

TEST(Previewer, BadInputEndsWithAClearErrorAndNoOutput)
{
    testing::TempDir dir;
    std::ofstream(dir / "corrupt.png") << "not a png";
    std::filesystem::create_directory(dir / "empty");
    const std::string tiny[] = {"--width", "32", "--height", "32", "--seconds", "0.05", "--output", dir / "out.webp"};
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"--fps", "0"}, "--fps must be between 1 and 120"},
        {{"--plugin", dir / "missing.so"}, "plug-in not found: " + dir / "missing.so"},
        {{"--plugin", VELORA_HOST_LIBRARY}, "is not a DrawVelora plug-in: it has no export CreateInterface"},
        {{"--host-dir", dir / "empty"}, "host module not found: " + dir / "empty/MainSystem.so"},
        {{"--sprites", dir / "missing.png"}, dir / "missing.png: no such file"},
        {{"--sprites", dir / "corrupt.png"}, dir / "corrupt.png: not a readable PNG image"},
        {{"--sprites", dir / "gone%03d.png"}, "no numbered file found"},
        {{"--background", "#12345"}, "background colour '#12345' is not of the form #rrggbb"},
        {{"--background", "sunset"}, "neither 'gradient', a #rrggbb colour nor an existing PNG file"},
        {{"--output", dir / "no/such/dir/out.webp"}, "no folder"},
    };
    for (const auto& [bad, message] : cases) {
        std::vector<std::string> arguments(std::begin(tiny), std::end(tiny));
        arguments.insert(arguments.end(), bad.begin(), bad.end());
        const Outcome run = Preview(dir, arguments);
        ASSERT_TRUE(run.exited) << bad[0] << " crashed";
        EXPECT_EQ(run.status, bad[0] == "--bogus" || bad[0] == "--fps" ? 2 : 1) << bad[0];
        EXPECT_NE(run.err.find(message), std::string::npos) << bad[0] << " gave: " << run.err;
        EXPECT_EQ(run.out, "") << bad[0];
        EXPECT_FALSE(std::filesystem::exists(dir / "out.webp")) << bad[0];
    }

    const Outcome help = Preview(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: velora-preview [options]", 0), 0u);
}

}  // namespace
}  // namespace velora::preview
