// The previewer executable end to end: the real plug-in, the real host
// modules, real files.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <thread>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include <gtest/gtest.h>
#include <webp/demux.h>

#include "reference/png_io.h"
#include "kit/pixel_ops.h"
#include "temp_dir.h"

extern char** environ;

namespace velora::previewer {
namespace {

using reference::HostSurface;
using reference::Rgba;

struct Outcome {
    bool exited = false;  // false: killed by a signal
    int status = -1;
    long peakKb = 0;  // the child's peak resident memory
    std::string out;
    std::string err;
};

std::string Slurp(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// Runs the previewer; `whileRunning`, if given, is called with its process id.
Outcome Preview(const testing::TempDir& dir, std::vector<std::string> arguments,
                const std::function<void(pid_t)>& whileRunning = {}, const std::string& input = {})
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
    if (!input.empty()) {
        posix_spawn_file_actions_addopen(&files, 0, input.c_str(), O_RDWR, 0);
    }
    pid_t child = 0;
    Outcome outcome;
    if (posix_spawn(&child, argv[0], &files, nullptr, argv.data(), environ) == 0) {
        if (whileRunning) {
            whileRunning(child);
        }
        int status = 0;
        struct rusage usage{};
        wait4(child, &status, 0, &usage);
        outcome.peakKb = usage.ru_maxrss;
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
    std::string pixels;  // every frame's RGBA, one after the other
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
        animation.pixels.append(reinterpret_cast<const char*>(pixels),
                                static_cast<std::size_t>(info.canvas_width) * info.canvas_height * 4);
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
    const auto options = [&](const std::string& name) {
        return std::vector<std::string>{"--type", std::to_string(GetParam()), "--width", "160", "--height", "120",
                                        "--seconds", "0.3", "--fps", "20", "--numof", "30", "--background",
                                        "#406080", "--seed", "2024", "--output", dir / (name + ".webp"),
                                        "--frames-dir", dir / (name + "-frames"), "--trace",
                                        dir / (name + "-trace.txt"), "--lossless", "--verbose"};
    };
    const Outcome run = Preview(dir, options("out"));
    ASSERT_TRUE(run.exited && run.status == 0) << run.err;
    std::filesystem::rename(dir / "out-frames", dir / "frames");
    std::filesystem::rename(dir / "out-trace.txt", dir / "trace.txt");
    // The same options and seed again: the same bytes in every file.
    const Outcome again = Preview(dir, options("again"));
    ASSERT_TRUE(again.exited && again.status == 0) << again.err;
    EXPECT_EQ(Slurp(dir / "again.webp"), Slurp(dir / "out.webp"));
    EXPECT_EQ(Slurp(dir / "again-sheet.png"), Slurp(dir / "out-sheet.png"));
    EXPECT_EQ(Slurp(dir / "again-trace.txt"), Slurp(dir / "trace.txt"));
    EXPECT_EQ(Slurp(dir / "again-frames/frame-0005.png"), Slurp(dir / "frames/frame-0005.png"));
    EXPECT_NE(run.out.find("seed 2024"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("6 frames at 20 fps"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("30 particles in mode " + std::to_string(GetParam())), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("host: ReportRect(handle 1, 0, 0, 640 x 480)"), std::string::npos) << "Update ran";

    const Animation animation = Decode(dir / "out.webp");
    EXPECT_EQ(animation.width, 160);
    EXPECT_EQ(animation.height, 120);
    EXPECT_EQ(animation.frames, 6);
    EXPECT_EQ(animation.timestamps, (std::vector<int>{50, 100, 150, 200, 250, 300})) << "one frame every 50 ms";
    const auto sheet = reference::LoadPng(dir / "out-sheet.png");
    EXPECT_EQ(sheet->Width(), 4 * (160 + 4) + 4) << "six frames, four to a row";
    EXPECT_EQ(sheet->Height(), 2 * (120 + 4) + 4);

    const Rects rects = DrawnOnFrame(dir / "trace.txt");
    std::vector<std::uint8_t> previous;
    for (int frame = 0; frame < 6; ++frame) {
        char name[32];
        std::snprintf(name, sizeof name, "frames/frame-%04d.png", frame);
        const auto image = reference::LoadPng(dir / name);
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
    reference::SavePng(sheet, dir / "sheet.png");
    HostSurface backdrop(4, 4, "backdrop");
    backdrop.Fill({0, 0, 255, 255});
    reference::SavePng(backdrop, dir / "backdrop.png");

    const Outcome run = Preview(dir, {"--sprites", dir / "sheet.png", "--background", dir / "backdrop.png", "--width",
                                      "64", "--height", "64", "--seconds", "0.1", "--fps", "10", "--sheet-frames", "0",
                                      "--output", dir / "out.webp", "--frames-dir", dir / "frames", "--quiet"});
    ASSERT_TRUE(run.exited && run.status == 0) << run.err;
    EXPECT_EQ(run.err, "") << "quiet";
    EXPECT_EQ(run.out.find("-sheet.png"), std::string::npos) << "no contact sheet asked for";
    const auto frame = reference::LoadPng(dir / "frames/frame-0000.png");
    std::set<std::tuple<int, int, int>> colours;
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            const Rgba pixel = frame->Pixel(x, y);
            colours.insert({pixel.r, pixel.g, pixel.b});
        }
    }
    EXPECT_TRUE(colours.contains({0, 0, 255})) << "the stretched background";
    EXPECT_TRUE(colours.contains({255, 0, 0}) || colours.contains({0, 255, 0})) << "the sprites";

    // The script printed for a sheet names it as the studio does, from sprite 100 on, so the studio cuts it.
    const Outcome printed = Preview(dir, {"--sprites", dir / "sheet.png", "--width", "64", "--height", "64",
                                          "--print-script"});
    ASSERT_EQ(printed.status, 0) << printed.err;
    EXPECT_NE(printed.out.find("// sprites 100-101: sheet \"sheet.png\", 2 x 1 cells of 8 x 8 px, row by row\n"
                               "Init(1, 64, 64, 100, 2, 1);\n"),
              std::string::npos)
        << printed.out;
}

TEST(Previewer, BadInputEndsWithAClearErrorAndNoOutput)
{
    testing::TempDir dir;
    std::ofstream(dir / "corrupt.png") << "not a png";
    std::ofstream(dir / "nothing.png").flush();
    // The header of a PNG of 16384 x 4097: within the side, past the pixels in all.
    std::ofstream(dir / "huge.png", std::ios::binary)
        << std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\x40\0\0\0\x10\x01\x08\x06\0\0\0\x41\x41\x2a\x96"
                       "\0\0\0\0IDAT\x35\xaf\x06\x1e\0\0\0\0IEND\xae\x42\x60\x82", 57);
    std::filesystem::create_directory(dir / "empty");
    const std::string tiny[] = {"--width", "32", "--height", "32", "--seconds", "0.05", "--output", dir / "out.webp"};
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"--fps", "0"}, "--fps must be between 1 and 120"},
        {{"--plugin", dir / "missing.so"}, "plug-in not found: " + dir / "missing.so"},
        {{"--plugin", VELORA_HOST_LIBRARY}, "is not a DrawVelora plug-in: it has no export CreateInterface"},
        {{"--host-dir", dir / "empty"}, "host module not found: " + dir / "empty/MainSystem.so"},
        {{"--sprites", dir / "missing.png"}, dir / "missing.png: no such file"},
        {{"--background", dir / "sunset.png"}, "--background " + dir / "sunset.png: no such file"},
        {{"--background", dir / "corrupt.png"}, "corrupt.png: not a readable PNG image"},
        {{"--sheet", dir / "same.png", "--trace", dir / "same.png"}, "--trace " + dir / "same.png names the same file as --sheet"},
        {{"--sheet", dir / "./out.webp.png", "--trace", dir / "out.webp.png"}, "names the same file as --sheet"},
        {{"--frames-dir", dir / "out.webp"}, "--frames-dir " + dir / "out.webp names the same file as --output"},
        {{"--sheet", dir / "f/frame-0001.png", "--frames-dir", dir / "f"}, "is one of the frame files of --frames-dir"},
        {{"--background", dir / "corrupt.png", "--sheet", dir / "corrupt.png"},
         "--sheet " + dir / "corrupt.png would overwrite the --background file"},
        {{"--output", dir / "out.png"}, "its name ends in .webp"},
        {{"--output", "-"}, "the animation cannot go to standard output"},
        {{"--sprites", dir / "corrupt.png"}, dir / "corrupt.png: not a readable PNG image"},
        {{"--sprites", dir / "nothing.png"}, dir / "nothing.png: an empty file (0 bytes), not a PNG image"},
        {{"--background", dir / "huge.png"},
         "image of 16384 x 4097 pixels is larger than the host takes (at most 16384 a side and 67108864 pixels in all)"},
        {{"--sprites", dir / "gone%03d.png"}, "no numbered file found"},
        {{"--background", "#12345"}, "--background #12345: a colour is written #rrggbb"},
        {{"--background", "sunset"}, "--background sunset: no such file"},
        {{"--output", dir / "no/such/dir/out.webp"}, "no folder"},
        {{"--sheet", dir / "folder.png"}, "cannot write the contact sheet " + dir / "folder.png: it is a folder"},
        {{"--trace", dir / "no/trace.txt"}, "cannot write the trace"},
        {{"--frames-dir", dir / "corrupt.png/frames"}, "cannot make the frames folder"},
        {{"--frames-dir", dir / "no/frames"}, "cannot make the frames folder " + dir / "no/frames: no folder"},
        {{"--cell", "8"}, "--cell cuts a sprite sheet into cells, but the built-in petals are whole sprites"},
        {{"--background", dir / "out-sheet.png"},
         "the contact sheet " + dir / "out-sheet.png (named after --output; --sheet names another"},
    };
    std::ofstream(dir / "out-sheet.png") << "the user's picture";
    std::filesystem::create_directory(dir / "folder.png");
    for (const auto& [bad, message] : cases) {
        std::vector<std::string> arguments(std::begin(tiny), std::end(tiny));
        arguments.insert(arguments.end(), bad.begin(), bad.end());
        const Outcome run = Preview(dir, arguments);
        ASSERT_TRUE(run.exited) << bad[0] << " crashed";
        const bool environment = message.rfind("cannot", 0) == 0 || message == "no folder" ||
                                 bad[0] == "--plugin" || bad[0] == "--host-dir";
        EXPECT_EQ(run.status, environment ? 1 : 2) << bad[0] << ": " << run.err;
        EXPECT_NE(run.err.find(message), std::string::npos) << bad[0] << " gave: " << run.err;
        EXPECT_EQ(run.out, "") << bad[0];
        EXPECT_FALSE(std::filesystem::exists(dir / "out.webp")) << bad[0];
    }

    const Outcome script = Preview(dir, {"--script", dir / "none.txt", "--output", dir / "out.webp"});
    EXPECT_EQ(script.status, 2);
    EXPECT_NE(script.err.find("--script " + dir / "none.txt: no such file"), std::string::npos) << script.err;

    const Outcome help = Preview(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: velora_previewer [options]", 0), 0u);
}

// Every file under dir (but the runner's own), with its bytes.
std::map<std::string, std::string> Files(const testing::TempDir& dir)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.Path())) {
        const std::string name = std::filesystem::relative(entry.path(), dir.Path()).string();
        if (name != "stdout.txt" && name != "stderr.txt") {
            files[name] = entry.is_directory() ? "(folder)" : Slurp(entry.path());
        }
    }
    return files;
}

// The temporary files and folders a run left anywhere under dir.
std::vector<std::string> TemporaryFilesLeft(const testing::TempDir& dir)
{
    std::vector<std::string> left;
    for (const auto& [name, bytes] : Files(dir)) {
        if (name.find(".velora-preview-") != std::string::npos) {
            left.push_back(name);
        }
    }
    return left;
}

// A small field, few particles: each run takes a moment.
std::vector<std::string> Small(const testing::TempDir& dir, std::vector<std::string> more)
{
    std::vector<std::string> arguments = {"--width", "64", "--height", "48", "--numof", "6", "--seed", "5",
                                          "--output", dir / "out.webp"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
}

TEST(Previewer, FramesAreWholeFrameIntervalsOfEffectTimeApart)
{
    testing::TempDir dir;
    const Outcome run = Preview(dir, Small(dir, {"--seconds", "1.0334", "--fps", "30", "--frames-dir", dir / "plain"}));
    ASSERT_EQ(run.status, 0) << run.err;
    const Animation animation = Decode(dir / "out.webp");
    ASSERT_EQ(animation.frames, 31);
    int previous = 0;
    for (const int end : animation.timestamps) {
        EXPECT_TRUE(end - previous == 33 || end - previous == 34) << end;
        previous = end;
    }
    EXPECT_EQ(previous, 1033) << "no drift";

    // A warm-up of one second runs the very frames the plain run shows after one second.
    const Outcome warm = Preview(dir, Small(dir, {"--seconds", "0.1", "--fps", "30", "--warmup", "1",
                                                  "--output", dir / "warm.webp", "--frames-dir", dir / "warm"}));
    ASSERT_EQ(warm.status, 0) << warm.err;
    EXPECT_NE(warm.out.find("after 1.0 s of warm-up"), std::string::npos) << warm.out;
    EXPECT_EQ(Slurp(dir / "warm/frame-0000.png"), Slurp(dir / "plain/frame-0030.png"));
    EXPECT_NE(Slurp(dir / "warm/frame-0000.png"), Slurp(dir / "plain/frame-0000.png"));
}

TEST(Previewer, TheStudiosScriptDrawsEveryHandleInOrderWithItsRate)
{
    testing::TempDir dir;
    const std::string copy =
        "// DrawVelora: 2 layers, drawn in this order every frame\n\n"
        "// Layer 1, handle 4 (drawn first, furthest back)\n"
        "Init(4, 96, 64, 32, 32, 4);\nSetType(4, 0);\nSetNumof(4, 7);\nSetMaxAmp(4, 25);\n"
        "SetXSpeed(4, 0.6);\nSetYSpeed(4, 0.45);\nStart(4);\n"
        "// the engine draws handle 4 with rate 170 each frame\n\n"
        "// Layer 2, handle 2 (drawn last, in front) (hidden in the studio)\n"
        "Init(2, 96, 64, 0, 32, 4);\nSetType(2, 1);\nSetNumof(2, 3);\nSetMaxAmp(2, 60);\n"
        "SetXSpeed(2, 1.5);\nSetYSpeed(2, 1.1);\nStart(2);\n"
        "// the engine draws handle 2 with rate 201 each frame\n";
    std::ofstream(dir / "studio.txt") << copy;
    const Outcome run = Preview(dir, {"--script", dir / "studio.txt", "--seed", "9", "--seconds", "0.2", "--output",
                                      dir / "out.webp", "--trace", dir / "trace.txt"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("2 layers (handles 4, 2) with 10 particles"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("handle 2 is hidden in the studio; the previewer draws it"), std::string::npos) << run.err;
    EXPECT_EQ(Decode(dir / "out.webp").width, 96);

    // Per frame: handle 4's calls at rate 170, then handle 2's at 201.
    std::istringstream trace(Slurp(dir / "trace.txt"));
    std::string line;
    std::string order;
    int frames = 0;
    int rate = -1;
    int calls = 0;
    while (std::getline(trace, line)) {
        if (line.rfind("frame ", 0) == 0) {
            ++frames;
            order += "|";
        } else if (line.rfind("draw handle ", 0) == 0) {
            order += line.substr(12, 1);
            rate = std::stoi(line.substr(line.find(" rate ") + 6));
        } else if (line.find(" rate=") != std::string::npos) {
            EXPECT_EQ(std::stoi(line.substr(line.find(" rate=") + 6)), rate) << line;
            ++calls;
        }
    }
    EXPECT_EQ(frames, 6);
    EXPECT_EQ(order, "|42|42|42|42|42|42");
    EXPECT_GT(calls, 6 * 5);

    // --print-script gives the calls back, and they render the same frames.
    const Outcome printed = Preview(dir, {"--script", dir / "studio.txt", "--print-script"});
    ASSERT_EQ(printed.status, 0) << printed.err;
    EXPECT_EQ(printed.out, copy);
    const Outcome single = Preview(dir, Small(dir, {"--type", "2", "--xspeed", "0.1", "--rate", "9", "--print-script"}));
    EXPECT_NE(single.out.find("Init(1, 64, 48, 1, 16, 4);\nSetType(1, 2);\nSetNumof(1, 6);\nSetMaxAmp(1, 40);\n"
                              "SetXSpeed(1, 0.1);\nSetYSpeed(1, 1.0);\nStart(1);\n"
                              "// the engine draws handle 1 with rate 9 each frame\n"),
              std::string::npos)
        << single.out;

    // Past the studio's limits: refused in the studio's words, so that a
    // script one tool prints, the other reads.
    std::string crowd;
    for (int handle = 1; handle <= 65; ++handle) {
        crowd += "Init(" + std::to_string(handle) + ", 64, 64, 0, 32, 4);\n";
    }
    std::ofstream(dir / "crowd.txt") << crowd;
    const Outcome crowded = Preview(dir, {"--script", dir / "crowd.txt", "--print-script"});
    EXPECT_EQ(crowded.status, 2);
    EXPECT_NE(crowded.err.find("line 65: Init of handle 65 would make more than 64 layers at once"), std::string::npos)
        << crowded.err;
}

TEST(Previewer, FramesFolderKeepsEarlierFramesUnlessForced)
{
    testing::TempDir dir;
    std::filesystem::create_directory(dir / "frames");
    std::ofstream(dir / "frames/frame-0099.png") << "an earlier run";
    std::ofstream(dir / "frames/notes.txt") << "the user's";
    const Outcome refused = Preview(dir, Small(dir, {"--seconds", "0.1", "--frames-dir", dir / "frames"}));
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("already holds 1 frame file (frame-0099.png): add --force"), std::string::npos)
        << refused.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.webp"));

    const Outcome forced = Preview(dir, Small(dir, {"--seconds", "0.1", "--frames-dir", dir / "frames", "--force"}));
    ASSERT_EQ(forced.status, 0) << forced.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "frames/frame-0099.png"));
    EXPECT_TRUE(std::filesystem::exists(dir / "frames/frame-0002.png"));
    EXPECT_TRUE(std::filesystem::exists(dir / "frames/notes.txt")) << "only frames are replaced";
}

// Replacing the outputs is all or nothing: when one old frame cannot go,
// the WebP, the sheet, the trace and every frame stay as they were, and the
// message names what failed and what was kept.
TEST(Previewer, AReplacementThatCannotFinishKeepsEveryEarlierFile)
{
    testing::TempDir dir;
    const auto run = [&](const char* seed, const std::vector<std::string>& more, const std::function<void(pid_t)>& hook) {
        std::vector<std::string> arguments = Small(dir, {"--seconds", "0.33", "--seed", seed, "--frames-dir",
                                                         dir / "fr", "--trace", dir / "t.txt", "--force"});
        arguments.insert(arguments.end(), more.begin(), more.end());
        return Preview(dir, arguments, hook);
    };
    ASSERT_EQ(run("5", {}, {}).status, 0);
    ASSERT_TRUE(std::filesystem::exists(dir / "fr/frame-0009.png"));
    std::filesystem::remove(dir / "fr/frame-0003.png");
    std::filesystem::create_directory(dir / "fr/frame-0003.png");
    std::ofstream(dir / "fr/frame-0003.png/note.txt") << "the user's";
    const auto earlier = Files(dir);
    const std::string kept = "nothing was replaced: the earlier " + dir / "out.webp" + ", " + dir / "out-sheet.png" +
                             ", " + dir / "t.txt" + " and 10 frames in " + dir / "fr" + " are kept as before";

    const Outcome folder = run("6", {}, {});
    EXPECT_EQ(folder.status, 1);
    EXPECT_NE(folder.err.find(dir / "fr/frame-0003.png: is a folder, not a frame file, so it is not replaced; " + kept),
              std::string::npos) << folder.err;
    EXPECT_EQ(Files(dir), earlier) << "every earlier file byte for byte, nothing new";

    // Where the file system allows: an old frame that cannot be moved, and a
    // sheet that cannot be replaced once the WebP already was.
    std::filesystem::remove_all(dir / "fr/frame-0003.png");
    std::ofstream(dir / "fr/frame-0003.png") << "an old frame";
    const auto before = Files(dir);
    if (std::system(("chattr +i " + dir / "fr/frame-0007.png" + " 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "needs chattr (root, and a file system that takes it) for files that cannot be replaced";
    }
    const Outcome stuck = run("6", {}, {});
    [[maybe_unused]] const int frameFree = std::system(("chattr -i " + dir / "fr/frame-0007.png").c_str());
    EXPECT_EQ(stuck.status, 1);
    EXPECT_NE(stuck.err.find(dir / "fr/frame-0007.png: cannot move the old frame aside (Operation not permitted); " +
                             kept), std::string::npos) << stuck.err;
    EXPECT_EQ(Files(dir), before);

    const Outcome sheet = run("6", {"--seconds", "600", "--realtime"}, [&](pid_t child) {
        // Once this run has drawn a few frames (into its hidden folder).
        const auto drawn = [&] {
            std::error_code error;
            for (const auto& entry : std::filesystem::recursive_directory_iterator(dir / "fr", error)) {
                if (entry.path().filename() == "frame-00003.png") {
                    return true;
                }
            }
            return false;
        };
        for (int wait = 0; wait < 500 && !drawn(); ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        [[maybe_unused]] const int locked = std::system(("chattr +i " + dir / "out-sheet.png").c_str());
        kill(child, SIGTERM);
    });
    [[maybe_unused]] const int sheetFree = std::system(("chattr -i " + dir / "out-sheet.png").c_str());
    EXPECT_EQ(sheet.status, 1);
    EXPECT_NE(sheet.err.find(dir / "out-sheet.png: cannot "), std::string::npos) << sheet.err;
    EXPECT_NE(sheet.err.find(kept), std::string::npos) << "the WebP, already replaced, is put back: " << sheet.err;
    EXPECT_EQ(Files(dir), before);
}

// A replaced output keeps its permissions; any name the file system takes
// works, 255 bytes of it included; the frames folder is made, the folders
// above it are not.
TEST(Previewer, ReplacedOutputsKeepTheirModeAndLongNamesWork)
{
    testing::TempDir dir;
    const std::string longest = dir / (std::string(250, 'a') + ".webp");
    std::string japanese;
    for (int i = 0; i < 83; ++i) {
        japanese += "\xE6\xA1\x9C";  // 桜, three bytes
    }
    const std::string kanji = dir / (japanese + ".webp");
    for (const std::string& name : {longest, kanji}) {
        const Outcome run = Preview(dir, Small(dir, {"--seconds", "0.1", "--output", name, "--sheet",
                                                     dir / "s.png", "--frames-dir", dir / "frames", "--force"}));
        EXPECT_EQ(run.status, 0) << name.size() << " bytes: " << run.err;
        EXPECT_EQ(Decode(name).frames, 3);
    }
    ASSERT_EQ(chmod(longest.c_str(), 0640), 0);
    ASSERT_EQ(chmod((dir / "s.png").c_str(), 0600), 0);
    ASSERT_EQ(chmod((dir / "frames/frame-0001.png").c_str(), 0604), 0);
    const Outcome again = Preview(dir, Small(dir, {"--seconds", "0.1", "--seed", "8", "--output", longest, "--sheet",
                                                   dir / "s.png", "--frames-dir", dir / "frames", "--force"}));
    ASSERT_EQ(again.status, 0) << again.err;
    const auto mode = [](const std::string& path) {
        struct stat info{};
        stat(path.c_str(), &info);
        return info.st_mode & 07777;
    };
    EXPECT_EQ(mode(longest), 0640u);
    EXPECT_EQ(mode(dir / "s.png"), 0600u);
    EXPECT_EQ(mode(dir / "frames/frame-0001.png"), 0604u);
    EXPECT_EQ(TemporaryFilesLeft(dir), std::vector<std::string>{});
}

// What a run killed outright leaves is removed by the next run into the same
// folder once it is a day old; younger files may be another run's at work,
// and a folder still holding old frames is named, not removed.
TEST(Previewer, LeftoversOfAKilledRunAreRemovedADayLater)
{
    testing::TempDir dir;
    std::filesystem::create_directories(dir / "fr/.velora-preview-Frames/old");
    std::filesystem::create_directories(dir / "fr/.velora-preview-OldFrm/old");
    std::ofstream(dir / "fr/.velora-preview-Frames/frame-0001.png") << "a frame of a killed run";
    std::ofstream(dir / "fr/.velora-preview-OldFrm/old/frame-0001.png") << "the user's old frame";
    std::ofstream(dir / ".velora-preview-Wb4x2q") << "half a WebP";
    std::ofstream(dir / ".velora-preview-Fresh1") << "a run at work";
    const auto twoDaysAgo = std::filesystem::file_time_type::clock::now() - std::chrono::hours(48);
    for (const char* old : {"fr/.velora-preview-Frames", "fr/.velora-preview-OldFrm", ".velora-preview-Wb4x2q"}) {
        std::filesystem::last_write_time(dir / old, twoDaysAgo);
    }
    const Outcome run = Preview(dir, Small(dir, {"--seconds", "0.05", "--frames-dir", dir / "fr"}));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("removed " + dir / ".velora-preview-Wb4x2q" + ", left by an earlier run that was killed"),
              std::string::npos) << run.err;
    EXPECT_NE(run.err.find("warning: " + dir / "fr/.velora-preview-OldFrm/old" + " holds old frames"),
              std::string::npos) << run.err;
    EXPECT_EQ(TemporaryFilesLeft(dir),
              (std::vector<std::string>{".velora-preview-Fresh1", "fr/.velora-preview-OldFrm",
                                        "fr/.velora-preview-OldFrm/old", "fr/.velora-preview-OldFrm/old/frame-0001.png"}));
}

TEST(Previewer, WarnsAboutSettingsThatDrawNothingOrLoseParticles)
{
    testing::TempDir dir;
    const Outcome nothing = Preview(dir, Small(dir, {"--seconds", "0.01", "--sprite-count", "0", "--rotation-frames",
                                                     "-1", "--yspeed", "-0.5", "--quiet"}));
    ASSERT_EQ(nothing.status, 0) << nothing.err;
    EXPECT_NE(nothing.err.find("warning: --sprite-count 0: with no sprites in the run the plug-in draws nothing"),
              std::string::npos) << nothing.err;
    EXPECT_NE(nothing.err.find("warning: --rotation-frames -1: with no rotation groups"), std::string::npos);
    EXPECT_NE(nothing.err.find("warning: --yspeed -0.5: the particles rise, leave through the top"),
              std::string::npos);
    EXPECT_NE(nothing.out.find(": 1 frame at 30 fps"), std::string::npos) << nothing.out;
    EXPECT_NE(nothing.out.find("16 sprites loaded (the built-in petals)"), std::string::npos) << nothing.out;

    const Outcome past = Preview(dir, Small(dir, {"--seconds", "0.01", "--sprite-count", "20", "--yspeed", "0",
                                                  "--base", "3", "--quiet"}));
    ASSERT_EQ(past.status, 0) << past.err;
    EXPECT_NE(past.err.find("warning: the run of sprites 3 to 22 reaches past the 16 sprites loaded"),
              std::string::npos) << past.err;
    EXPECT_NE(past.err.find("warning: --yspeed 0: the particles do not fall"), std::string::npos);

    const Outcome fine = Preview(dir, Small(dir, {"--seconds", "0.01", "--quiet"}));
    EXPECT_EQ(fine.err, "") << "no warning for sound settings";
}

TEST(Previewer, CtrlCWritesTheFramesDrawnSoFar)
{
    testing::TempDir dir;
    const Outcome run = Preview(dir, Small(dir, {"--seconds", "600", "--realtime", "--frames-dir", dir / "frames"}),
                                [&](pid_t child) {
                                    // The frames wait in a hidden folder until the end.
                                    const auto drawn = [&] {
                                        std::error_code error;
                                        for (const auto& entry :
                                             std::filesystem::recursive_directory_iterator(dir / "frames", error)) {
                                            if (entry.path().filename() == "frame-00003.png") {
                                                return true;
                                            }
                                        }
                                        return false;
                                    };
                                    for (int wait = 0; wait < 500 && !drawn(); ++wait) {
                                        std::this_thread::sleep_for(std::chrono::milliseconds(20));
                                    }
                                    kill(child, SIGINT);
                                });
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.status, 130);
    const Animation animation = Decode(dir / "out.webp");
    EXPECT_GE(animation.frames, 4);
    EXPECT_NE(run.out.find("stopped by Ctrl+C (SIGINT) after " + std::to_string(animation.frames) + " of 18000 frames"),
              std::string::npos) << run.out;
    EXPECT_TRUE(std::filesystem::exists(dir / "out-sheet.png"));

    // SIGHUP (the terminal closed, an ssh session dropped) ends the run and
    // writes nothing: the earlier files stay byte for byte, no temporary file left.
    const std::string before = Slurp(dir / "out.webp");
    const std::string sheetBefore = Slurp(dir / "out-sheet.png");
    const Outcome hup = Preview(dir, Small(dir, {"--seconds", "600", "--realtime", "--frames-dir", dir / "frames",
                                                 "--force"}), [](pid_t child) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(child, SIGHUP);
    });
    ASSERT_TRUE(hup.exited);
    EXPECT_EQ(hup.status, 128 + SIGHUP);
    EXPECT_NE(hup.err.find("stopped by SIGHUP (the terminal closed): nothing written, every earlier file kept"),
              std::string::npos)
        << hup.err;
    EXPECT_EQ(Slurp(dir / "out.webp"), before);
    EXPECT_EQ(Slurp(dir / "out-sheet.png"), sheetBefore);
    EXPECT_EQ(TemporaryFilesLeft(dir), std::vector<std::string>{});
}

// The README's picture comes from this command; rebuild both files with it
// (output docs/preview.webp) when the plug-in's drawing changes on purpose.
TEST(Previewer, TheReadmePictureIsWhatThePreviewerDraws)
{
    testing::TempDir dir;
    const Outcome run = Preview(dir, {"--seed", "2024", "--width", "320", "--height", "200", "--numof", "30",
                                      "--seconds", "1.5", "--fps", "12", "--quality", "50", "--sheet-frames", "4",
                                      "--output", dir / "preview.webp", "--quiet"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string docs = VELORA_README_PICTURES;
    const Animation made = Decode(dir / "preview.webp");
    const Animation kept = Decode(docs + "/preview.webp");
    EXPECT_EQ(made.frames, 18);
    EXPECT_EQ(made.timestamps, kept.timestamps);
    EXPECT_TRUE(made.pixels == kept.pixels) << "docs/preview.webp is out of date";
    const auto sheet = reference::LoadPng(dir / "preview-sheet.png");
    const auto keptSheet = reference::LoadPng(docs + "/preview-sheet.png");
    ASSERT_EQ(sheet->Width(), keptSheet->Width());
    ASSERT_EQ(sheet->Height(), keptSheet->Height());
    EXPECT_TRUE(std::equal(sheet->Bytes(), sheet->Bytes() + sheet->Stride() * sheet->Height(), keptSheet->Bytes()))
        << "docs/preview-sheet.png is out of date";
}


// One frame of a small field at a fixed seed, as the previewer writes it.
std::unique_ptr<HostSurface> OneFrame(const testing::TempDir& dir, std::int32_t type, std::int32_t rate,
                                      const std::string& background, const std::string& numof)
{
    const std::string frames = dir / ("mode" + std::to_string(type) + "-rate" + std::to_string(rate) + background);
    const Outcome run = Preview(dir, {"--seed", "11", "--width", "160", "--height", "120", "--numof", numof,
                                      "--seconds", "1", "--fps", "1", "--warmup", "1", "--type",
                                      std::to_string(type), "--rate", std::to_string(rate), "--background",
                                      background, "--sheet-frames", "0", "--output", dir / "out.webp",
                                      "--frames-dir", frames, "--quiet"});
    EXPECT_EQ(run.status, 0) << run.err;
    return reference::LoadPng(frames + "/frame-0000.png");
}

std::vector<std::uint8_t> PixelsOf(const HostSurface& surface)
{
    return {surface.Bytes(), surface.Bytes() + surface.ByteCount()};
}

TEST(Previewer, ModeTwoAndModeZeroDifferAtRate128)
{
    testing::TempDir dir;
    EXPECT_NE(PixelsOf(*OneFrame(dir, 0, 128, "gradient", "14")), PixelsOf(*OneFrame(dir, 2, 128, "gradient", "14")));
}

// On white, multiplying by the sprite over white gives the sprite over white:
// mode 3 draws what mode 0 draws there (no two petals overlap in this field).
// On black it changes nothing, at any rate.
TEST(Previewer, ModeThreeShowsTheSpritesColourOnWhiteAndNothingOnBlack)
{
    testing::TempDir dir;
    const auto multiplied = OneFrame(dir, 3, 255, "#ffffff", "6");
    const auto blended = OneFrame(dir, 0, 255, "#ffffff", "6");
    EXPECT_EQ(PixelsOf(*multiplied), PixelsOf(*blended));
    std::vector<std::uint8_t> white(multiplied->ByteCount(), 255);
    EXPECT_NE(PixelsOf(*multiplied), white) << "nothing was drawn";
    for (const std::int32_t rate : {255, 128}) {
        const auto frame = OneFrame(dir, 3, rate, "#000000", "6");
        for (std::int32_t y = 0; y < frame->Height(); ++y) {
            for (std::int32_t x = 0; x < frame->Width(); ++x) {
                ASSERT_EQ(frame->Pixel(x, y), (Rgba{0, 0, 0, 255})) << x << "," << y << " at rate " << rate;
            }
        }
    }
}

// docs/modes.png: the four modes (columns 0 to 3) at rate 255 (top row) and
// 128 (bottom row), each the previewer's frame of the same field and seed.
// Run with VELORA_UPDATE_README_PICTURES=1 to write it anew when the drawing
// changes on purpose.
TEST(Previewer, TheReadmeModesPictureIsWhatThePreviewerDraws)
{
    testing::TempDir dir;
    constexpr std::int32_t kGap = 4;
    HostSurface picture(4 * 160 + 3 * kGap, 2 * 120 + kGap, "modes");
    picture.Fill({255, 255, 255, 255});
    for (std::int32_t row = 0; row < 2; ++row) {
        for (std::int32_t type = 0; type < 4; ++type) {
            const auto frame = OneFrame(dir, type, row == 0 ? 255 : 128, "gradient", "14");
            ASSERT_TRUE(frame && frame->Width() == 160 && frame->Height() == 120);
            kit::CopyRect(picture, type * (160 + kGap), row * (120 + kGap), *frame, 0, 0, 160, 120);
        }
    }
    const std::string kept = std::string(VELORA_README_PICTURES) + "/modes.png";
    if (std::getenv("VELORA_UPDATE_README_PICTURES")) {
        reference::SavePng(picture, kept);
        GTEST_SKIP() << "wrote " << kept;
    }
    const auto keptPicture = reference::LoadPng(kept);
    ASSERT_TRUE(keptPicture) << kept << " is missing";
    EXPECT_TRUE(PixelsOf(picture) == PixelsOf(*keptPicture)) << "docs/modes.png is out of date";
}

// Whatever path names it (a numbered pattern, a hard link), an input is
// never replaced by an output: the run is refused before anything is drawn.
TEST(Previewer, RefusesAnOutputThatIsAnInputUnderAnotherName)
{
    testing::TempDir dir;
    HostSurface sprite(8, 8, "sprite");
    sprite.Fill({200, 40, 40, 255});
    for (const char* name : {"petal00.png", "petal01.png", "petal02.png"}) {
        reference::SavePng(sprite, dir / name);
    }
    std::filesystem::create_hard_link(dir / "petal01.png", dir / "hard.png");
    std::ofstream(dir / "hl.txt") << "Init(1, 64, 48, 1, 16, 4);\nStart(1);\n";
    std::filesystem::create_hard_link(dir / "hl.txt", dir / "hl2.txt");
    const std::string spriteBytes = Slurp(dir / "petal02.png");
    const std::string scriptBytes = Slurp(dir / "hl.txt");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--sprites", dir / "petal%02d.png", "--sheet", dir / "petal02.png"},
         "--sheet " + dir / "petal02.png would overwrite the --sprites file " + dir / "petal02.png"},
        {{"--sprites", dir / "petal01.png", "--sheet", dir / "hard.png"},
         "--sheet " + dir / "hard.png would overwrite the --sprites file"},
        {{"--script", dir / "hl.txt", "--trace", dir / "hl2.txt"},
         "--trace " + dir / "hl2.txt would overwrite the --script file"},
    };
    for (const auto& [arguments, message] : cases) {
        std::vector<std::string> all = {"--seconds", "0.1", "--output", dir / "out.webp"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        const Outcome run = Preview(dir, all);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(dir / "out.webp")) << "nothing drawn";
    }
    EXPECT_EQ(Slurp(dir / "petal02.png"), spriteBytes);
    EXPECT_EQ(Slurp(dir / "petal01.png"), Slurp(dir / "hard.png"));
    EXPECT_EQ(Slurp(dir / "hl.txt"), scriptBytes);
}

// A disk that fills up: the run fails naming the file and the reason, and
// every file an earlier run left is as it was, with no temporary file left.
TEST(Previewer, AFailedWriteKeepsTheEarlierFileAndSaysWhy)
{
    testing::TempDir dir;
    const std::string disk = dir / "disk";
    std::filesystem::create_directory(disk);
    if (geteuid() != 0 || std::system(("mount -t tmpfs -o size=200k tmpfs " + disk + " 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "needs root and a tmpfs mount to fill a small disk";
    }
    struct Unmount {
        std::string path;
        ~Unmount() { [[maybe_unused]] const int ignored = std::system(("umount " + path).c_str()); }
    } unmount{disk};
    const Outcome earlier = Preview(dir, Small(dir, {"--seconds", "0.2", "--output", disk + "/keep.webp",
                                                     "--sheet-frames", "0", "--quiet"}));
    ASSERT_EQ(earlier.status, 0) << earlier.err;
    std::ofstream(disk + "/trace.txt") << "an earlier trace";
    const std::string kept = Slurp(disk + "/keep.webp");

    // The trace of 3 s of 40 petals is larger than the disk.
    const Outcome trace = Preview(dir, {"--seconds", "3", "--seed", "1", "--width", "160", "--height", "120",
                                        "--output", dir / "out.webp", "--trace", disk + "/trace.txt", "--quiet"});
    EXPECT_EQ(trace.status, 1);
    EXPECT_NE(trace.err.find(disk + "/trace.txt: cannot write the file (No space left on device)"),
              std::string::npos) << trace.err;
    EXPECT_EQ(trace.out, "") << "no summary for a failed run";
    EXPECT_EQ(Slurp(disk + "/trace.txt"), "an earlier trace");
    EXPECT_FALSE(std::filesystem::exists(dir / "out.webp")) << "no output of a failed run appears";

    // A lossless animation of thousands of petals is too.
    const Outcome animation = Preview(dir, {"--seconds", "1", "--seed", "1", "--width", "320", "--height", "240",
                                            "--numof", "3000", "--lossless", "--output", disk + "/keep.webp",
                                            "--sheet-frames", "0", "--quiet"});
    EXPECT_EQ(animation.status, 1);
    EXPECT_NE(animation.err.find(disk + "/keep.webp: cannot write the file (No space left on device)"),
              std::string::npos) << animation.err;
    EXPECT_EQ(Slurp(disk + "/keep.webp"), kept);
    std::set<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(disk)) {
        left.insert(entry.path().filename().string());
    }
    EXPECT_EQ(left, (std::set<std::string>{"keep.webp", "trace.txt"})) << "no temporary file is left";

    // Frames too many for the disk: the frame is named, not the folder they wait in.
    const Outcome frames = Preview(dir, {"--seconds", "3", "--seed", "1", "--width", "160", "--height", "120",
                                         "--output", dir / "out.webp", "--frames-dir", disk + "/fr", "--quiet"});
    EXPECT_EQ(frames.status, 1);
    EXPECT_NE(frames.err.find(disk + "/fr/frame-00"), std::string::npos) << frames.err;
    EXPECT_NE(frames.err.find(".png: cannot write the file (No space left on device); nothing was replaced"),
              std::string::npos) << frames.err;
    EXPECT_EQ(frames.err.find(".velora-preview-"), std::string::npos) << frames.err;
    EXPECT_FALSE(std::filesystem::exists(disk + "/fr")) << "the frames folder it made is removed";
}

// The animation is written as it is drawn: ten times the frames need no
// more memory.
TEST(Previewer, PeakMemoryDoesNotGrowWithTheLength)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine, so the peak measures it, not the previewer";
#endif
    testing::TempDir dir;
    const auto run = [&](const char* seconds) {
        return Preview(dir, {"--seconds", seconds, "--seed", "3", "--width", "320", "--height", "240", "--output",
                             dir / "long.webp", "--quiet"});
    };
    const Outcome brief = run("2");
    const Outcome ten = run("20");
    ASSERT_EQ(brief.status, 0) << brief.err;
    ASSERT_EQ(ten.status, 0) << ten.err;
    EXPECT_EQ(Decode(dir / "long.webp").frames, 600);
    EXPECT_LT(ten.peakKb - brief.peakKb, 20 * 1024) << brief.peakKb << " KB for 2 s, " << ten.peakKb << " KB for 20 s";
}

// Every setting that draws nothing or loses particles is named, with what
// to change, and the run still succeeds.
TEST(Previewer, WarnsAboutEverySettingThatDrawsNothing)
{
    testing::TempDir dir;
    std::ofstream(dir / "layers.txt") << "Init(1, 64, 48, 1, 16, 4);\nSetNumof(1, -40);\nStart(1);\n"
                                         "Init(2, 64, 48, 1, 16, 4);\n";
    // (--maxamp stops at 1000, as the studio does; a script may sway further)
    std::ofstream(dir / "sway.txt") << "Init(1, 64, 48, 1, 16, 4);\nSetMaxAmp(1, 100000);\nStart(1);\n";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--type", "4"}, "warning: --type 4: only modes 0 to 3 draw"},
        {{"--rate", "0"}, "warning: --rate 0: mode 0 at rate 0 leaves the background as it is"},
        {{"--rate", "0", "--type", "2"}, "warning: --rate 0: mode 2 darkens each sprite fully"},
        {{"--numof", "0"}, "warning: --numof 0: Start spawns no particles"},
        {{"--width", "1"}, "warning: the field of --width 1 x --height 48 is smaller than a sprite (32 x 32)"},
        {{"--script", dir / "sway.txt"},
         "warning: handle 1: SetMaxAmp(1, 100000): the sway moves a particle up to 1000 pixels a frame"},
        {{"--rotation-frames", "3", "--sprite-count", "4"},
         "warning: --rotation-frames 3 with 4 sprites: the run splits into 3 groups of 1, and the last 1 sprite of "
         "the run is never drawn"},
        {{"--script", dir / "layers.txt"}, "warning: handle 1: SetNumof(1, -40): Start spawns no particles"},
        {{"--script", dir / "layers.txt"}, "warning: handle 2: Init without Start: the plug-in never draws"},
    };
    for (const auto& [arguments, message] : cases) {
        std::vector<std::string> all = {"--seconds", "0.05", "--seed", "1", "--output", dir / "out.webp", "--quiet"};
        if (arguments[0] != "--script") {
            all.insert(all.end(), {"--height", "48"});
        }
        all.insert(all.end(), arguments.begin(), arguments.end());
        const Outcome run = Preview(dir, all);
        EXPECT_EQ(run.status, 0) << arguments[0] << ": " << run.err;
        EXPECT_NE(run.err.find(message), std::string::npos) << arguments[0] << " gave: " << run.err;
    }
}

// A script read from a pipe that never ends: SIGTERM ends the reading.
TEST(Previewer, SigtermEndsTheReadingOfAScript)
{
    testing::TempDir dir;
    const std::string pipe = dir / "pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const Outcome run = Preview(dir, {"--script", "-", "--output", dir / "out.webp"}, [](pid_t child) {
        // Wait until it is blocked reading (system call 0 on x86-64, or any
        // blocked call elsewhere), then stop it.
        for (int wait = 0; wait < 1000; ++wait) {
            std::ifstream call("/proc/" + std::to_string(child) + "/syscall");
            std::string number;
            call >> number;
            if (number == "0") {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(child, SIGTERM);
    }, pipe);
    ASSERT_TRUE(run.exited) << "killed instead of stopping";
    EXPECT_EQ(run.status, 128 + SIGTERM);
    EXPECT_NE(run.err.find("stopped by SIGTERM while reading the script -: nothing written"), std::string::npos)
        << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.webp"));
}

// SIGTERM is named as such, and the contact sheet spreads its frames over
// the frames drawn before it; a second signal while the files are written
// abandons them and keeps the earlier ones.
TEST(Previewer, SignalsAreNamedAndASecondOneKeepsTheEarlierFiles)
{
    testing::TempDir dir;
    const auto afterFrames = [&](int frames, std::vector<int> signals) {
        return [&dir, frames, signals](pid_t child) {
            const std::string name =
                "frame-" + std::string(frames < 10 ? "0000" : "000") + std::to_string(frames) + ".png";
            const auto drawn = [&] {
                std::error_code error;
                for (const auto& entry : std::filesystem::recursive_directory_iterator(dir / "frames", error)) {
                    // Drawn by this run: still in its hidden folder.
                    if (entry.path().filename() == name && entry.path().parent_path() != dir / "frames") {
                        return true;
                    }
                }
                return false;
            };
            for (int wait = 0; wait < 1000 && !drawn(); ++wait) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            for (int signal : signals) {
                kill(child, signal);
            }
        };
    };
    const auto options = Small(dir, {"--seconds", "600", "--realtime", "--frames-dir", dir / "frames", "--force"});
    const Outcome term = Preview(dir, options, afterFrames(12, {SIGTERM}));
    ASSERT_TRUE(term.exited);
    EXPECT_EQ(term.status, 128 + SIGTERM);
    const Animation animation = Decode(dir / "out.webp");
    EXPECT_GE(animation.frames, 13);
    EXPECT_NE(term.out.find("stopped by SIGTERM after " + std::to_string(animation.frames) + " of 18000 frames"),
              std::string::npos) << term.out;
    const auto sheet = reference::LoadPng(dir / "out-sheet.png");
    ASSERT_TRUE(sheet && sheet->Width() == 4 * 68 + 4 && sheet->Height() == 2 * 52 + 4);
    for (int cell = 0; cell < 8; ++cell) {
        const std::uint8_t* middle = sheet->Bytes() + (4 + (cell / 4) * 52 + 24) * sheet->Stride() +
                                     static_cast<std::size_t>(4 + (cell % 4) * 68 + 32) * 4;
        EXPECT_FALSE(middle[0] == 0x20 && middle[1] == 0x20 && middle[2] == 0x20) << "cell " << cell << " is empty";
    }

    const std::string earlier = Slurp(dir / "out.webp");
    // Two different signals, as the same one twice may arrive as one; the
    // later one, whichever it is, is named.
    const Outcome twice = Preview(dir, options, afterFrames(3, {SIGINT, SIGTERM}));
    ASSERT_TRUE(twice.exited);
    const bool termLast = twice.status == 128 + SIGTERM;
    EXPECT_TRUE(termLast || twice.status == 128 + SIGINT) << twice.status;
    EXPECT_NE(twice.err.find(std::string("stopped by a second signal, ") + (termLast ? "SIGTERM" : "Ctrl+C (SIGINT)") +
                             ", while writing the files: nothing written"),
              std::string::npos) << twice.err;
    EXPECT_EQ(Slurp(dir / "out.webp"), earlier);
    EXPECT_TRUE(std::filesystem::exists(dir / "frames/frame-00012.png")) << "the earlier frames are kept";
    EXPECT_EQ(TemporaryFilesLeft(dir), std::vector<std::string>{});
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir / "frames")) {
        ++entries;
    }
    EXPECT_EQ(entries, static_cast<std::size_t>(animation.frames)) << "no temporary folder is left";
}

// Every example command in the README and the previewer's document runs from
// the top of a fresh clone, with the sample files it ships (shortened, and
// writing elsewhere).
TEST(Previewer, TheDocumentedExamplesRunFromTheRepository)
{
    testing::TempDir dir;
    const std::filesystem::path root = std::filesystem::path(VELORA_README_PICTURES).parent_path();
    int examples = 0;
    for (const char* document : {"README.md", "docs/previewer.md"}) {
        std::istringstream text(Slurp((root / document).string()));
        std::string line;
        int inDocument = 0;
        while (std::getline(text, line)) {
            if (line != "./preview" && line.rfind("./preview ", 0) != 0) {
                continue;
            }
            // The words of the command, single quotes as the shell reads them.
            std::vector<std::string> words;
            std::string word;
            bool quoted = false;
            bool any = false;
            for (const char c : line.substr(0, line.find(" #"))) {
                if (c == '\'') {
                    quoted = !quoted;
                    any = true;
                } else if (c == ' ' && !quoted) {
                    if (any) {
                        words.push_back(word);
                    }
                    word.clear();
                    any = false;
                } else {
                    word += c;
                    any = true;
                }
            }
            if (any) {
                words.push_back(word);
            }
            words[0] = VELORA_PREVIEW_PROGRAM;
            for (const std::string& more : {std::string("--seconds"), std::string("0.1"), std::string("--output"),
                                            dir / "example.webp", std::string("--quiet")}) {
                words.push_back(more);
            }
            std::vector<char*> argv;
            for (std::string& each : words) {
                argv.push_back(each.data());
            }
            argv.push_back(nullptr);
            const std::string err = dir / "stderr.txt";
            posix_spawn_file_actions_t files;
            posix_spawn_file_actions_init(&files);
            posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
            posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            posix_spawn_file_actions_addchdir_np(&files, root.c_str());
            pid_t child = 0;
            int status = -1;
            if (posix_spawn(&child, argv[0], &files, nullptr, argv.data(), environ) == 0) {
                waitpid(child, &status, 0);
            }
            posix_spawn_file_actions_destroy(&files);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << line << ": " << Slurp(err);
            EXPECT_EQ(Slurp(err), "") << line << ": no warning for the documents' own examples";
            ++inDocument;
        }
        EXPECT_GE(inDocument, 1) << document << ": no ./preview example found";
        examples += inDocument;
    }
    EXPECT_GE(examples, 5) << "the documents' examples were not found";
}

}  // namespace
}  // namespace velora::previewer
