// The previewer plays the engine: it loads the host modules, then the
// plug-in, hands the plug-in object the draw host and the sprite bank, runs
// the script's calls (Init, the setters, Start), calls Update once, and then,
// once per frame, clears the destination to the background and calls Draw
// for every layer in order.
//
// Time is the previewer's: the plug-in reads CLOCK_MONOTONIC, which this
// process answers itself (effect_clock.h). Every Init reads the seed as its
// tick count, as when the engine runs the whole script within one
// millisecond; Start reads a fixed origin; frame k is drawn with the clock
// standing at origin + warmup + round((k + 1) x 1000 / fps), so every frame
// shows exactly one frame interval of motion whatever the machine's speed.
// With --realtime the plug-in reads the real clock after Init and the frames
// are paced by the wall clock instead.
//
// This file holds the run itself: set-up, the plug-in object, the frames'
// outputs and the summary. The plan (script and sprites) is made in
// plan.cpp, the user's files are checked in file_checks.cpp and the frames
// are drawn in frame_loop.cpp.
#include "previewer/preview.h"

#include <csignal>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "script/script.h"
#include "previewer/background.h"
#include "previewer/effect_clock.h"
#include "previewer/file_checks.h"
#include "previewer/frame_loop.h"
#include "previewer/plan.h"
#include "previewer/plugin_library.h"
#include "reference/drawing.h"
#include "reference/host_objects.h"

namespace velora::previewer {

using script::Layer;

namespace {

namespace fs = std::filesystem;

fs::path ProgramFolder()
{
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::current_path() : self.parent_path();
}

void Note(const Reporter& reporter, const std::string& line)
{
    if (reporter.note) {
        reporter.note(line);
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

// Stops tracing, and gives the process its clock back, however the preview ends.
struct Scope {
    ~Scope()
    {
        reference::SetDrawObserver({});
        UseSystemClock();
    }
};

std::int32_t Digits(std::int32_t value)
{
    std::int32_t digits = 1;
    for (; value >= 10; value /= 10) {
        ++digits;
    }
    return digits;
}

// What set-up leaves for the frames: the plan, the background, the frames
// an earlier run left in the frames folder (removed once all is checked).
struct Prepared {
    std::unique_ptr<Plan> plan;
    std::unique_ptr<reference::HostSurface> background;
    std::vector<fs::path> oldFrames;
};

// Everything that can fail on the user's options and files fails here,
// before the plug-in is loaded and before any output is touched.
Prepared Prepare(const Options& options, Summary& summary, const Reporter& reporter, const std::string& pluginPath,
                 const std::string& hostDir)
{
    summary.fps = options.fps;
    summary.plannedFrames = FrameCount(options);
    summary.realtime = options.realtime;
    summary.warmup = options.warmup;
    summary.outputs.animation = options.output;
    summary.outputs.sheet = options.sheetFrames > 0 ? SheetPath(options) : std::string();
    summary.outputs.framesDir = options.framesDir;
    summary.trace = options.trace;

    CheckDistinct(options, summary.outputs, options.trace, pluginPath, hostDir);
    Prepared prepared;
    prepared.plan = std::make_unique<Plan>();
    Plan& plan = *prepared.plan;
    MakePlan(options, plan, reporter);
    for (const std::string& note : plan.script.notes) {
        Note(reporter, "script: " + note);
    }
    prepared.background = MakeBackground(options.background, plan.width, plan.height);
    CheckWritable(options.output, "animation");
    if (!summary.outputs.sheet.empty()) {
        CheckWritable(summary.outputs.sheet, "contact sheet");
    }
    if (!options.trace.empty()) {
        CheckWritable(options.trace, "trace");
    }
    if (!options.framesDir.empty()) {
        prepared.oldFrames = CheckFramesFolder(options);
    }
    std::vector<std::string> folders;
    for (const std::string& output : {options.output, summary.outputs.sheet, options.trace}) {
        if (!output.empty()) {
            folders.push_back(fs::absolute(output).parent_path().string());
        }
    }
    std::error_code error;
    if (!options.framesDir.empty() && fs::is_directory(options.framesDir, error)) {
        folders.push_back(options.framesDir);
    }
    const Leftovers leftovers = RemoveLeftovers(folders);
    for (const std::string& line : leftovers.removed) {
        Note(reporter, line);
    }
    for (const std::string& line : leftovers.kept) {
        Warn(reporter, line);
    }
    WarnAboutLayers(plan, reporter);
    summary.spritesLoaded = plan.spritesLoaded;
    summary.spritesFrom = plan.spritesFrom;
    for (const Layer& layer : plan.script.layers) {
        summary.handles.push_back(layer.handle);
        summary.particles += layer.started ? std::max(layer.spawned, 0) : 0;
        summary.type = layer.type;
    }
    return prepared;
}

int StopSignal(const Reporter& reporter) { return reporter.stopSignal ? reporter.stopSignal() : SIGINT; }

bool Abandoned(const Reporter& reporter) { return reporter.abandonRequested && reporter.abandonRequested(); }

[[noreturn]] void ThrowAbandoned(const Reporter& reporter)
{
    const int signal = StopSignal(reporter);
    const std::string why = signal == SIGHUP ? "stopped by SIGHUP (the terminal closed)"
                                             : "stopped by a second signal, " + SignalName(signal) +
                                                   ", while writing the files";
    throw Stopped(signal, why + ": nothing written, every earlier file kept as it was");
}

}  // namespace

std::string SignalName(int signal)
{
    switch (signal) {
    case SIGINT: return "Ctrl+C (SIGINT)";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "signal " + std::to_string(signal);
    }
}

Summary RunPreview(const Options& options, const Reporter& reporter)
{
    const fs::path folder = ProgramFolder();
    const std::string pluginPath = options.plugin.empty() ? (folder / "DrawVelora.so").string() : options.plugin;
    const std::string hostDir = options.hostDir.empty() ? (folder / "host").string() : options.hostDir;

    Summary summary;
    const Prepared prepared = Prepare(options, summary, reporter, pluginPath, hostDir);
    const Plan& plan = *prepared.plan;

    // The engine's order: host modules loaded, then the plug-in.
    const HostModules modules(hostDir);
    const PluginLibrary library(pluginPath);
    reference::HostDrawHost drawHost([&reporter](const std::string& line) {
        if (reporter.host) {
            reporter.host("host: " + line);
        }
    });
    const std::unique_ptr<AtomicFile> trace = OpenTrace(options);

    const Scope scope;
    const FrameLoop* loop = nullptr;  // warm-up frames are neither traced nor counted
    std::exception_ptr traceError;    // kept here: nothing may be thrown through the plug-in
    reference::SetDrawObserver([&](const reference::DrawCall& call) {
        if (!loop || !loop->Capturing()) {
            return;
        }
        ++summary.drawCalls;
        if (trace && !traceError) {
            try {
                TraceCall(*trace, call);
            } catch (...) {
                traceError = std::current_exception();
            }
        }
    });

    PluginObject plugin{library.CreateInterface(&IID_DrawPlugin)};
    if (!plugin.object) {
        throw std::runtime_error(pluginPath + " gave no plug-in object for IID_DrawPlugin");
    }
    plugin.object->SetInterface(&IID_DrawHost, static_cast<IDrawHost*>(&drawHost));
    plugin.object->SetInterface(&IID_SpriteBank, static_cast<ISpriteBank*>(&prepared.plan->bank));

    summary.seed = options.seed.value_or(static_cast<std::uint32_t>(static_cast<std::uint64_t>(RealMilliseconds())));
    ReplayScript(plan, library, options, summary.seed);
    FrameLoop frames(options, reporter, plan, plugin.object, *prepared.background, trace.get(), summary,
                     traceError);
    loop = &frames;
    plugin.object->Update();
    frames.WarmUp();

    FrameSink sink(summary.outputs, plan.width, plan.height, summary.plannedFrames, options.sheetFrames,
                   options.quality, options.lossless, std::max(4, Digits(summary.plannedFrames - 1)),
                   [&reporter] { return Abandoned(reporter); });
    std::int32_t endMs = 0;
    try {
        endMs = frames.Capture(sink);
    } catch (...) {
        if (Abandoned(reporter)) {
            ThrowAbandoned(reporter);
        }
        throw;
    }
    for (const Layer& layer : plan.script.layers) {
        library.Release(layer.handle);
    }
    UseSystemClock();
    if (summary.interrupted) {
        summary.stopSignal = StopSignal(reporter);
    }
    if (summary.frames == 0) {
        summary.interrupted = true;
        return summary;  // nothing to write; the sink removes what it began
    }
    summary.seconds = endMs / 1000.0;
    if (options.realtime && summary.lateFrames > 0) {
        // Late: drawn more than one frame interval after its time.
        Warn(reporter, "could not keep up with real time: " + std::to_string(summary.lateFrames) + " of " +
                           std::to_string(summary.frames) + " frames were drawn more than a frame interval (" +
                           std::to_string(std::max<std::int64_t>(1, FrameTime(1, options.fps))) +
                           " ms) after their time; drop --realtime for evenly spaced frames");
    }
    if (reporter.writing) {
        reporter.writing();
    }
    try {
        sink.Finish(endMs, frames.LastFrame(), reporter.writingProgress);
        if (trace) {
            trace->Close();
        }
        if (Abandoned(reporter)) {
            ThrowAbandoned(reporter);
        }
        // Every file is complete: now they replace the earlier ones.
        sink.Commit(prepared.oldFrames, trace.get());
    } catch (const Stopped&) {
        throw;
    } catch (...) {
        if (Abandoned(reporter)) {
            ThrowAbandoned(reporter);
        }
        throw;
    }
    return summary;
}

std::string SummaryLine(const Summary& summary)
{
    std::ostringstream line;
    line.setf(std::ios::fixed);
    line.precision(1);
    if (summary.interrupted) {
        line << "stopped by " << SignalName(summary.stopSignal ? summary.stopSignal : SIGINT) << " after "
             << summary.frames << " of " << summary.plannedFrames << " frames; wrote ";
    }
    line << summary.frames << (summary.frames == 1 ? " frame" : " frames") << " at " << summary.fps << " fps ("
         << summary.seconds << " s of " << (summary.realtime ? "real time" : "effect time");
    if (summary.warmup > 0.0) {
        line << " after " << summary.warmup << " s of warm-up";
    }
    line << ", seed " << summary.seed << ", drawn in " << summary.wallSeconds << " s";
    if (summary.realtime && summary.lateFrames > 0) {
        line << ", fell behind on " << summary.lateFrames << " frames";
    }
    line << "), ";
    if (summary.handles.size() == 1) {
        line << summary.particles << (summary.particles == 1 ? " particle" : " particles") << " in mode "
             << summary.type;
    } else {
        line << summary.handles.size() << " layers (handles";
        for (std::size_t i = 0; i < summary.handles.size(); ++i) {
            line << (i ? ", " : " ") << summary.handles[i];
        }
        line << ") with " << summary.particles << " particles";
    }
    line << ", " << summary.spritesLoaded << (summary.spritesLoaded == 1 ? " sprite" : " sprites") << " loaded ("
         << summary.spritesFrom << "), " << summary.drawCalls << " drawing calls: " << summary.outputs.animation;
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

}  // namespace velora::previewer
