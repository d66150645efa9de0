// The previewer plays the engine: it loads the host modules, then the
// plug-in, hands the plug-in object the draw host and the sprite bank, runs
// the script's calls (Init, the setters, Start), calls Update once, and then,
// once per frame at that frame's time, clears the destination to the
// background and calls Draw. The plug-in moves its particles by the wall
// clock, so the frames are paced in real time and stamped with the times at
// which they were drawn.
#include "previewer/preview.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <thread>

#include "host/graph.h"
#include "host/petals.h"
#include "host/png_io.h"
#include "host/services.h"
#include "previewer/plugin_library.h"

namespace velora::preview {
namespace {

using Clock = std::chrono::steady_clock;

std::filesystem::path ProgramFolder()
{
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::current_path() : self.parent_path();
}

void Note(const Reporter& reporter, const std::string& line)
{
    if (reporter.note) {
        reporter.note(line);
    }
}

struct SpriteRun {
    host::Sprites sprites;
    std::int32_t rotationFrames = 1;
};

SpriteRun LoadSprites(const Options& options, const Reporter& reporter)
{
    SpriteRun run;
    if (options.sprites.empty()) {
        const host::PetalRun petals;
        run.sprites = host::DrawPetals(petals);
        run.rotationFrames = petals.groups;
    } else if (host::IsNumberPattern(options.sprites)) {
        run.sprites = host::LoadNumberedSprites(options.sprites);
    } else {
        run.sprites = host::LoadSpriteSheet(options.sprites, options.cell);
    }
    const host::HostSurface& first = *run.sprites.front();
    if (first.Width() != first.Height()) {
        Note(reporter, "warning: the sprites are " + std::to_string(first.Width()) + " x " +
                           std::to_string(first.Height()) + "; the plug-in treats every sprite as square, " +
                           std::to_string(first.Width()) + " pixels a side");
    }
    return run;
}

// The file's folder must exist before three seconds are spent drawing.
void CheckWritable(const std::string& path, const char* what)
{
    const std::filesystem::path parent = std::filesystem::absolute(path).parent_path();
    std::error_code error;
    if (!std::filesystem::is_directory(parent, error)) {
        throw std::runtime_error(std::string("cannot write the ") + what + " " + path + ": no folder " +
                                 parent.string());
    }
}

// Ends the plug-in object however the preview ends.
struct PluginObject {
    IDrawPlugin* object = nullptr;
    ~PluginObject()
    {
        if (object) {
            object->Destroy();
        }
    }
};

// Stops tracing however the preview ends.
struct ObserverScope {
    ~ObserverScope() { host::SetDrawObserver({}); }
};

std::string Name(const host::HostSurface* surface) { return surface ? surface->Label() : "none"; }

}  // namespace

Summary RunPreview(const Options& options, const Reporter& reporter)
{
    const std::filesystem::path folder = ProgramFolder();
    const std::string pluginPath = options.plugin.empty() ? (folder / "DrawVelora.so").string() : options.plugin;
    const std::string hostDir = options.hostDir.empty() ? (folder / "host").string() : options.hostDir;

    Summary summary;
    summary.fps = options.fps;
    summary.frames = FrameCount(options);
    summary.type = options.type;
    summary.particles = options.numof;
    summary.outputs.animation = options.output;
    summary.outputs.sheet = options.sheetFrames > 0 ? SheetPath(options) : std::string();
    summary.outputs.framesDir = options.framesDir;
    summary.trace = options.trace;

    // Everything that can fail on the user's files fails before drawing starts.
    SpriteRun run = LoadSprites(options, reporter);
    const auto loaded = static_cast<std::int32_t>(run.sprites.size());
    const std::int32_t spriteCount = options.spriteCount.value_or(loaded);
    const std::int32_t rotationFrames = options.rotationFrames.value_or(run.rotationFrames);
    if (spriteCount > loaded) {
        Note(reporter, "warning: --sprite-count " + std::to_string(spriteCount) + " but only " +
                           std::to_string(loaded) + " sprites loaded; the missing ones are not drawn");
    }
    if (spriteCount <= 0 || rotationFrames <= 0) {
        Note(reporter, "warning: with a sprite count or rotation frames of 0 or less the plug-in draws nothing");
    }
    host::HostSpriteBank bank(options.base);
    for (auto& sprite : run.sprites) {
        bank.Add(std::move(sprite));
    }
    const std::unique_ptr<host::HostSurface> background =
        MakeBackground(options.background, options.width, options.height);
    host::HostSurface destination(options.width, options.height, "frame");
    CheckWritable(options.output, "animation");
    if (!summary.outputs.sheet.empty()) {
        CheckWritable(summary.outputs.sheet, "contact sheet");
    }
    std::ofstream trace;
    if (!options.trace.empty()) {
        trace.open(options.trace, std::ios::trunc);
        if (!trace) {
            throw std::runtime_error("cannot write the trace " + options.trace);
        }
        trace << "# every drawing call the host received, frame by frame\n";
    }

    // The engine's order: host modules loaded, then the plug-in.
    const HostModules modules(hostDir);
    const PluginLibrary library(pluginPath);
    host::HostDrawHost drawHost([&reporter](const std::string& line) { Note(reporter, "host: " + line); });

    const ObserverScope observerScope;
    host::SetDrawObserver([&](const host::DrawCall& call) {
        ++summary.drawCalls;
        if (!trace.is_open()) {
            return;
        }
        trace << call.operation << " dest=" << Name(call.dest) << " dx=" << call.dx << " dy=" << call.dy;
        if (call.src) {
            trace << " src=" << Name(call.src) << " sx=" << call.sx << " sy=" << call.sy;
        }
        trace << " w=" << call.width << " h=" << call.height;
        if (call.hasRate) {
            trace << " rate=" << call.rate;
        }
        trace << (call.result == host::kDone ? "" : " refused") << "\n";
    });

    PluginObject plugin{library.CreateInterface(&IID_DrawPlugin)};
    if (!plugin.object) {
        throw std::runtime_error(pluginPath + " gave no plug-in object for IID_DrawPlugin");
    }
    plugin.object->SetInterface(&IID_DrawHost, static_cast<IDrawHost*>(&drawHost));
    plugin.object->SetInterface(&IID_SpriteBank, static_cast<ISpriteBank*>(&bank));
    library.Init(options.handle, options.width, options.height, options.base, spriteCount, rotationFrames);
    library.SetType(options.handle, options.type);
    library.SetNumof(options.handle, options.numof);
    library.SetMaxAmp(options.handle, options.maxAmp);
    library.SetXSpeed(options.handle, options.xSpeed);
    library.SetYSpeed(options.handle, options.ySpeed);

    FrameSink sink(summary.outputs, options.width, options.height, summary.frames, options.sheetFrames,
                   options.quality, options.lossless);

    library.Start(options.handle);
    const Clock::time_point started = Clock::now();
    plugin.object->Update();

    // Frame i is drawn one interval after frame i - 1, the first one interval
    // after Start: every frame shows one interval's motion.
    const auto interval = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / options.fps));
    Clock::time_point firstDrawn;
    std::int32_t lastStamp = -1;
    for (std::int32_t frameIndex = 0; frameIndex < summary.frames; ++frameIndex) {
        std::this_thread::sleep_until(started + interval * (frameIndex + 1));
        host::Copy(&destination, 0, 0, background.get(), 0, 0, options.width, options.height);
        const Clock::time_point drawn = Clock::now();
        if (trace.is_open()) {
            trace << "frame " << frameIndex << "\n";
        }
        plugin.object->Draw(options.handle, &destination, 0, 0, 0, 0, 0, 0, options.rate);
        if (frameIndex == 0) {
            firstDrawn = drawn;
        }
        const auto sinceFirst = std::chrono::duration_cast<std::chrono::milliseconds>(drawn - firstDrawn).count();
        // Strictly increasing, as the encoder wants them.
        const auto stamp = static_cast<std::int32_t>(std::max<std::int64_t>(
            lastStamp + 1, std::min<std::int64_t>(sinceFirst, std::numeric_limits<std::int32_t>::max() / 2)));
        sink.Push(destination, frameIndex, stamp);
        lastStamp = stamp;
        if (reporter.progress) {
            reporter.progress(frameIndex + 1, summary.frames);
        }
    }
    library.Release(options.handle);

    const auto intervalMs = std::max<std::int32_t>(1, static_cast<std::int32_t>(std::lround(1000.0 / options.fps)));
    const std::int32_t endMs = lastStamp + intervalMs;
    summary.seconds = endMs / 1000.0;
    if (reporter.writing) {
        reporter.writing();
    }
    sink.Finish(endMs);
    return summary;
}

std::string SummaryLine(const Summary& summary)
{
    std::ostringstream line;
    line.setf(std::ios::fixed);
    line.precision(1);
    line << summary.frames << " frames at " << summary.fps << " fps (" << summary.seconds << " s), "
         << summary.particles << " particles in mode " << summary.type << ", " << summary.drawCalls
         << " drawing calls: " << summary.outputs.animation;
    if (!summary.outputs.sheet.empty()) {
        line << ", " << summary.outputs.sheet;
    }
    if (!summary.outputs.framesDir.empty()) {
        line << ", frames in " << summary.outputs.framesDir;
    }
    if (!summary.trace.empty()) {
        line << ", trace in " << summary.trace;
    }
    return line.str();
}

}  // namespace velora::preview
