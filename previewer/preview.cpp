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
#include "previewer/preview.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string_view>
#include <thread>

#include "host/graph.h"
#include "host/petals.h"
#include "host/png_io.h"
#include "host/services.h"
#include "hostkit/services.h"
#include "previewer/effect_clock.h"
#include "hostkit/script.h"
#include "previewer/plugin_library.h"

namespace velora::preview {

using script::Call;
using script::FloatText;
using script::Layer;
using script::Op;
using script::Script;

namespace {

namespace fs = std::filesystem;

// Where effect time starts: any fixed value gives the same frames.
constexpr std::uint64_t kEffectOrigin = 1000000;

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

void Warn(const Reporter& reporter, const std::string& line)
{
    if (reporter.warn) {
        reporter.warn("warning: " + line);
    }
}

// Puts a copy of sprite under number in the kit's bank, named for the
// trace ("sprite7"); a number outside int32 holds nothing.
void PutSprite(hostkit::SpriteBank& bank, std::int64_t number, const host::HostSurface& sprite)
{
    if (number < INT32_MIN || number > INT32_MAX) {
        return;
    }
    auto copy = std::make_unique<host::HostSurface>(sprite.Width(), sprite.Height(), "sprite" + std::to_string(number));
    std::memcpy(copy->Bytes(), sprite.Bytes(), sprite.Stride() * static_cast<std::size_t>(sprite.Height()));
    bank.Put(static_cast<std::int32_t>(number), std::move(copy));
}

bool HasSprite(const hostkit::SpriteBank& bank, std::int64_t number)
{
    return number >= INT32_MIN && number <= INT32_MAX && bank.Find(static_cast<std::int32_t>(number));
}

// Everything the run needs before the plug-in is loaded.
struct Plan {
    Script script;
    bool fromScript = false;
    std::int32_t width = 0;
    std::int32_t height = 0;
    hostkit::SpriteBank bank;
    std::int32_t spritesLoaded = 0;
    std::string spritesFrom;
};

// The user's sprites, or the built-in petals.
host::Sprites LoadSprites(const Options& options, std::int32_t& rotationFrames)
{
    rotationFrames = 1;
    try {
        if (options.sprites.empty()) {
            const host::PetalRun petals;
            rotationFrames = petals.groups;
            return host::DrawPetals(petals);
        }
        if (host::IsNumberPattern(options.sprites)) {
            return host::LoadNumberedSprites(options.sprites);
        }
        return host::LoadSpriteSheet(options.sprites, options.cell);
    } catch (const UsageError&) {
        throw;
    } catch (const std::exception& error) {
        throw UsageError(std::string("--sprites: ") + error.what());
    }
}

// The script's text, read no further than one byte past the longest
// script, so that a device that never ends (/dev/urandom) ends at once.
std::string ReadScript(const std::string& path)
{
    const auto readFrom = [](std::istream& in) {
        std::string text(script::kMaxBytes + 1, '\0');
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<std::size_t>(in.gcount()));
        return text;
    };
    if (path == "-") {
        return readFrom(std::cin);
    }
    std::error_code error;
    if (fs::is_directory(path, error)) {
        throw UsageError("--script " + path + ": is a folder, not a script");
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw UsageError("--script " + path + ": " +
                         (fs::exists(path, error) ? std::string("cannot read it (") + std::strerror(errno) + ")"
                                                  : std::string("no such file")));
    }
    std::string text = readFrom(file);
    if (file.bad()) {
        throw UsageError("--script " + path + ": cannot read it (" + std::strerror(errno) + ")");
    }
    return text;
}

// The layer the effect options describe, with its calls.
Script ScriptFromOptions(const Options& options, std::int32_t spriteCount, std::int32_t rotationFrames)
{
    Layer layer;
    layer.handle = options.handle;
    layer.width = options.width;
    layer.height = options.height;
    layer.base = options.base;
    layer.count = spriteCount;
    layer.rotation = rotationFrames;
    layer.type = options.type;
    layer.numof = options.numof;
    layer.maxAmp = options.maxAmp;
    layer.xSpeed = options.xSpeed;
    layer.ySpeed = options.ySpeed;
    layer.rate = options.rate;
    layer.started = true;
    Script script;
    script.layers.push_back(layer);
    const std::int32_t h = layer.handle;
    script.calls = {
        {Op::Init, h, {layer.width, layer.height, layer.base, layer.count, layer.rotation}, 0.0f, 0},
        {Op::SetType, h, {layer.type}, 0.0f, 0},
        {Op::SetNumof, h, {layer.numof}, 0.0f, 0},
        {Op::SetMaxAmp, h, {layer.maxAmp}, 0.0f, 0},
        {Op::SetXSpeed, h, {}, layer.xSpeed, 0},
        {Op::SetYSpeed, h, {}, layer.ySpeed, 0},
        {Op::Start, h, {}, 0.0f, 0},
    };
    return script;
}

void MakePlan(const Options& options, Plan& plan)
{
    std::int32_t defaultRotation = 1;
    const host::Sprites loaded = LoadSprites(options, defaultRotation);
    const auto loadedCount = static_cast<std::int32_t>(loaded.size());
    plan.spritesFrom = options.sprites.empty() ? "the built-in petals" : options.sprites;
    if (options.script.empty()) {
        plan.script = ScriptFromOptions(options, options.spriteCount.value_or(loadedCount),
                                        options.rotationFrames.value_or(defaultRotation));
        plan.width = options.width;
        plan.height = options.height;
        for (std::int32_t i = 0; i < loadedCount; ++i) {
            PutSprite(plan.bank, std::int64_t{options.base} + i, *loaded[static_cast<std::size_t>(i)]);
        }
        plan.spritesLoaded = loadedCount;
        return;
    }
    plan.fromScript = true;
    try {
        plan.script = script::ParseScript(ReadScript(options.script));
    } catch (const script::ScriptError& error) {
        throw UsageError("--script " + options.script + ": " + error.what());
    }
    for (const Layer& layer : plan.script.layers) {
        if (layer.hidden) {
            plan.script.notes.push_back("handle " + std::to_string(layer.handle) +
                                        " is hidden in the studio; the previewer draws it, as the engine does");
        }
    }
    for (const Layer& layer : plan.script.layers) {
        plan.width = std::max(plan.width, layer.width);
        plan.height = std::max(plan.height, layer.height);
    }
    if (plan.script.layers.empty()) {
        throw UsageError("--script " + options.script + ": no handle is left to draw");
    }
    // The sprites stand at every run the layers name: the built-in petals
    // drawn to the run's shape (its groups and frames per group), or the
    // loaded sprites from the run's base on.
    for (const Layer& layer : plan.script.layers) {
        host::Sprites shaped;
        const host::Sprites* run = &loaded;
        if (options.sprites.empty() && layer.rotation > 0 && layer.count > 0 && layer.count % layer.rotation == 0 &&
            layer.rotation <= 64 && layer.count / layer.rotation <= 64) {
            host::PetalRun petals;
            petals.groups = layer.rotation;
            petals.frames = layer.count / layer.rotation;
            shaped = host::DrawPetals(petals);
            run = &shaped;
        }
        for (std::size_t i = 0; i < run->size(); ++i) {
            PutSprite(plan.bank, std::int64_t{layer.base} + static_cast<std::int64_t>(i), *(*run)[i]);
        }
    }
    plan.spritesLoaded = static_cast<std::int32_t>(plan.bank.Size());
}

// Settings that draw nothing or lose particles.
void WarnAboutLayers(const Plan& plan, const Reporter& reporter)
{
    for (const Layer& layer : plan.script.layers) {
        const std::string who = plan.fromScript ? "handle " + std::to_string(layer.handle) + ": " : "";
        const auto name = [&](const char* option, const char* call) {
            return plan.fromScript ? std::string(call) : std::string(option);
        };
        if (layer.count <= 0) {
            Warn(reporter, who + name("--sprite-count ", "Init's spriteCount ") + std::to_string(layer.count) +
                               ": with no sprites in the run the plug-in draws nothing");
        }
        if (layer.rotation <= 0) {
            Warn(reporter, who + name("--rotation-frames ", "Init's rotationFrames ") + std::to_string(layer.rotation) +
                               ": with no rotation groups the plug-in draws nothing");
        }
        if (layer.count > 0) {
            const std::int64_t first = layer.base;
            const std::int64_t last = first + layer.count - 1;
            std::int64_t missing = 0;
            for (std::int64_t number = first; number <= last && missing <= 100000; ++number) {
                missing += HasSprite(plan.bank, number) ? 0 : 1;
            }
            if (missing > 0) {
                Warn(reporter, who + "the run of sprites " + std::to_string(first) + " to " + std::to_string(last) +
                                   " reaches past the " + std::to_string(plan.spritesLoaded) +
                                   " sprites loaded: particles showing the missing ones are not drawn");
            }
        }
        if (layer.ySpeed == 0.0f) {
            Warn(reporter, who + name("--yspeed", "SetYSpeed") + " 0: the particles do not fall, they only drift and sway");
        } else if (layer.ySpeed < 0.0f) {
            Warn(reporter, who + name("--yspeed ", "SetYSpeed ") + FloatText(layer.ySpeed) +
                               ": the particles rise, leave through the top of the field and never come back");
        }
    }
}

bool IsFrameFile(const std::string& name)
{
    // frame-<digits>.png
    constexpr std::string_view prefix = "frame-";
    constexpr std::string_view suffix = ".png";
    if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix)) {
        return false;
    }
    return std::all_of(name.begin() + prefix.size(), name.end() - suffix.size(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

fs::path Key(const std::string& path)
{
    std::error_code error;
    fs::path key = fs::weakly_canonical(fs::absolute(path), error);
    return error ? fs::absolute(path).lexically_normal() : key;
}

bool IsFile(const std::string& choice)
{
    return !choice.empty() && choice != "gradient" && !choice.starts_with("#");
}

// Two outputs naming one file, or an output naming an input, are refused.
void CheckDistinct(const Options& options, const OutputPaths& outputs, const std::string& trace)
{
    std::vector<std::pair<std::string, std::string>> files = {{"--output", outputs.animation}};
    if (!outputs.sheet.empty()) {
        files.emplace_back("--sheet", outputs.sheet);
    }
    if (!trace.empty()) {
        files.emplace_back("--trace", trace);
    }
    std::vector<std::pair<std::string, std::string>> inputs;
    if (IsFile(options.background)) {
        inputs.emplace_back("--background", options.background);
    }
    if (!options.sprites.empty() && !host::IsNumberPattern(options.sprites)) {
        inputs.emplace_back("--sprites", options.sprites);
    }
    if (!options.script.empty() && options.script != "-") {
        inputs.emplace_back("--script", options.script);
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        for (std::size_t j = i + 1; j < files.size(); ++j) {
            if (Key(files[i].second) == Key(files[j].second)) {
                throw UsageError(files[j].first + " " + files[j].second + " names the same file as " + files[i].first);
            }
        }
        for (const auto& [option, path] : inputs) {
            if (Key(files[i].second) == Key(path)) {
                throw UsageError(files[i].first + " " + files[i].second + " would overwrite the " + option + " file");
            }
        }
    }
    if (outputs.framesDir.empty()) {
        return;
    }
    const fs::path folder = Key(outputs.framesDir);
    for (const auto& [option, path] : files) {
        const fs::path key = Key(path);
        if (key == folder) {
            throw UsageError("--frames-dir " + outputs.framesDir + " names the same file as " + option);
        }
        if (key.parent_path() == folder && IsFrameFile(key.filename().string())) {
            throw UsageError(option + " " + path + " is one of the frame files of --frames-dir");
        }
    }
    for (const auto& [option, path] : inputs) {
        if (Key(path) == folder) {
            throw UsageError("--frames-dir " + outputs.framesDir + " names the " + option + " file");
        }
    }
}

std::string Reason() { return std::strerror(errno); }

// A file the run will write: its folder exists and takes files, and the
// file, if it is there, can be replaced.
void CheckWritable(const std::string& path, const char* what)
{
    std::error_code error;
    const fs::path file = fs::absolute(path);
    if (fs::is_directory(file, error)) {
        throw std::runtime_error(std::string("cannot write the ") + what + " " + path + ": it is a folder");
    }
    const fs::path parent = file.parent_path();
    if (!fs::is_directory(parent, error)) {
        throw std::runtime_error(std::string("cannot write the ") + what + " " + path + ": no folder " +
                                 parent.string());
    }
    if (access(parent.c_str(), W_OK | X_OK) != 0) {
        throw std::runtime_error(std::string("cannot write the ") + what + " " + path + " in " + parent.string() +
                                 ": " + Reason());
    }
    if (fs::exists(file, error) && access(file.c_str(), W_OK) != 0) {
        throw std::runtime_error(std::string("cannot write the ") + what + " " + path + ": " + Reason());
    }
}

// The frames folder: made if missing, and holding no frames of an earlier
// run unless --force lets them go. Returns the frame files to remove.
std::vector<fs::path> CheckFramesFolder(const Options& options)
{
    std::error_code error;
    fs::path folder = fs::absolute(options.framesDir);
    if (!fs::exists(folder, error)) {
        fs::path existing = folder.parent_path();
        while (!existing.empty() && !fs::exists(existing, error) && existing != existing.root_path()) {
            existing = existing.parent_path();
        }
        if (!fs::is_directory(existing, error) || access(existing.c_str(), W_OK | X_OK) != 0) {
            throw std::runtime_error("cannot make the frames folder " + options.framesDir + " in " + existing.string() +
                                     (fs::is_directory(existing, error) ? ": " + Reason() : ": not a folder"));
        }
        return {};
    }
    if (!fs::is_directory(folder, error)) {
        throw std::runtime_error("--frames-dir " + options.framesDir + " is a file, not a folder");
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        throw std::runtime_error("cannot write the frames in " + options.framesDir + ": " + Reason());
    }
    std::vector<fs::path> frames;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        if (IsFrameFile(entry.path().filename().string())) {
            frames.push_back(entry.path());
        }
    }
    if (!frames.empty() && !options.force) {
        std::sort(frames.begin(), frames.end());
        throw UsageError("--frames-dir " + options.framesDir + " already holds " + std::to_string(frames.size()) +
                         " frame file" + (frames.size() == 1 ? "" : "s") + " (" + frames.front().filename().string() +
                         (frames.size() > 1 ? ", ..." : "") +
                         "): add --force to replace them, or name another folder");
    }
    return frames;
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
        host::SetDrawObserver({});
        UseSystemClock();
    }
};

std::string Name(const host::HostSurface* surface) { return surface ? surface->Label() : "none"; }

std::int32_t Digits(std::int32_t value)
{
    std::int32_t digits = 1;
    for (; value >= 10; value /= 10) {
        ++digits;
    }
    return digits;
}

}  // namespace

std::string PreviewScript(const Options& options)
{
    Plan plan;
    MakePlan(options, plan);
    return script::PrintScript(plan.script.layers, plan.script.sheets);
}

namespace {

// What set-up leaves for the frames: the plan, the background, the frames
// an earlier run left in the frames folder (removed once all is checked).
struct Prepared {
    std::unique_ptr<Plan> plan;
    std::unique_ptr<host::HostSurface> background;
    std::vector<fs::path> oldFrames;
};

// Everything that can fail on the user's options and files fails here,
// before the plug-in is loaded and before any output is touched.
Prepared Prepare(const Options& options, Summary& summary, const Reporter& reporter)
{
    summary.fps = options.fps;
    summary.plannedFrames = FrameCount(options);
    summary.realtime = options.realtime;
    summary.warmup = options.warmup;
    summary.outputs.animation = options.output;
    summary.outputs.sheet = options.sheetFrames > 0 ? SheetPath(options) : std::string();
    summary.outputs.framesDir = options.framesDir;
    summary.trace = options.trace;

    CheckDistinct(options, summary.outputs, options.trace);
    Prepared prepared;
    prepared.plan = std::make_unique<Plan>();
    Plan& plan = *prepared.plan;
    MakePlan(options, plan);
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
    WarnAboutLayers(plan, reporter);
    summary.spritesLoaded = plan.spritesLoaded;
    summary.spritesFrom = plan.spritesFrom;
    for (const Layer& layer : plan.script.layers) {
        summary.handles.push_back(layer.handle);
        summary.particles += layer.started ? std::max(layer.numof, 0) : 0;
        summary.type = layer.type;
    }
    return prepared;
}

// Clears the frames an earlier run left (with --force) and opens the trace.
std::ofstream OpenOutputs(const Options& options, const std::vector<fs::path>& oldFrames)
{
    for (const fs::path& frame : oldFrames) {
        std::error_code error;
        if (!fs::remove(frame, error) && error) {
            throw std::runtime_error("cannot remove the old frame " + frame.string() + ": " + error.message());
        }
    }
    std::ofstream trace;
    if (!options.trace.empty()) {
        trace.open(options.trace, std::ios::trunc);
        if (!trace) {
            throw std::runtime_error("cannot write the trace " + options.trace + ": " + Reason());
        }
        trace << "# every drawing call the host received, frame by frame\n";
    }
    return trace;
}

// One line of the trace for each drawing call the host receives.
void TraceCall(std::ofstream& trace, const host::DrawCall& call)
{
    trace << call.operation << " dest=" << Name(call.dest) << " dx=" << call.dx << " dy=" << call.dy;
    if (call.src) {
        trace << " src=" << Name(call.src) << " sx=" << call.sx << " sy=" << call.sy;
    }
    trace << " w=" << call.width << " h=" << call.height;
    if (call.hasRate) {
        trace << " rate=" << call.rate;
    }
    trace << (call.result == host::kDone ? "" : " refused") << "\n";
}

// The script's calls, run in an instant: every Init reads the seed, every
// Start the effect's origin (or, with --realtime, the real clock).
void ReplayScript(const Plan& plan, const PluginLibrary& library, const Options& options, std::uint32_t seed)
{
    const auto origin = [&] {
        if (options.realtime) {
            UseSystemClock();
        } else {
            SetFixedClock(kEffectOrigin);
        }
    };
    for (const Call& call : plan.script.calls) {
        switch (call.op) {
        case Op::Init:
            SetFixedClock(seed);
            library.Init(call.handle, call.args[0], call.args[1], call.args[2], call.args[3], call.args[4]);
            origin();
            break;
        case Op::SetType: library.SetType(call.handle, call.args[0]); break;
        case Op::SetNumof: library.SetNumof(call.handle, call.args[0]); break;
        case Op::SetMaxAmp: library.SetMaxAmp(call.handle, call.args[0]); break;
        case Op::SetXSpeed: library.SetXSpeed(call.handle, call.speed); break;
        case Op::SetYSpeed: library.SetYSpeed(call.handle, call.speed); break;
        case Op::Start:
            origin();
            library.Start(call.handle);
            break;
        case Op::Release: library.Release(call.handle); break;
        }
    }
    origin();
}

// The frames: warm-up frames drawn and thrown away, then the captured ones,
// each the background with every layer drawn over it in order.
class FrameLoop {
public:
    FrameLoop(const Options& options, const Reporter& reporter, const Plan& plan, IDrawPlugin* plugin,
              host::HostSurface& background, std::ofstream& trace, Summary& summary)
        : options_(options), reporter_(reporter), plan_(plan), plugin_(plugin), background_(background),
          trace_(trace), summary_(summary), destination_(plan.width, plan.height, "frame"),
          wallStart_(RealMilliseconds())
    {
    }

    // Warm-up: frames up to warmup seconds of effect time, neither traced nor kept.
    void WarmUp()
    {
        for (std::int64_t j = 1; FrameTime(j, options_.fps) <= WarmupMs() && !Stopped(); ++j) {
            Draw(FrameTime(j, options_.fps));
        }
    }

    // The captured frames, into sink; stops early on Ctrl+C. Answers the
    // effect time, in milliseconds, where the last frame ends.
    std::int32_t Capture(FrameSink& sink)
    {
        capturing_ = true;
        const std::int64_t intervalMs = std::max<std::int64_t>(1, FrameTime(1, options_.fps));
        double firstDrawn = 0.0;
        std::int32_t lastStamp = -1;
        for (std::int32_t frameIndex = 0; frameIndex < summary_.plannedFrames; ++frameIndex) {
            if (Stopped()) {
                summary_.interrupted = true;
                break;
            }
            if (trace_.is_open()) {
                trace_ << "frame " << frameIndex << "\n";
            }
            const std::int64_t due = WarmupMs() + FrameTime(frameIndex + 1, options_.fps);
            const double drawn = Draw(due);
            std::int32_t stamp = static_cast<std::int32_t>(FrameTime(frameIndex, options_.fps));
            if (options_.realtime) {
                if (frameIndex == 0) {
                    firstDrawn = drawn;
                }
                if (drawn - static_cast<double>(due) > static_cast<double>(intervalMs)) {
                    ++summary_.lateFrames;
                }
                // When each frame was drawn, strictly increasing as the encoder wants.
                stamp = static_cast<std::int32_t>(std::max<double>(lastStamp + 1, std::min(drawn - firstDrawn, 1e9)));
            }
            lastDrawn_ = drawn;
            sink.Push(destination_, frameIndex, stamp);
            lastStamp = stamp;
            ++summary_.frames;
            if (reporter_.progress) {
                reporter_.progress(frameIndex + 1, summary_.plannedFrames);
            }
        }
        summary_.wallSeconds = (RealMilliseconds() - wallStart_) / 1000.0;
        return options_.realtime ? lastStamp + static_cast<std::int32_t>(intervalMs)
                                 : static_cast<std::int32_t>(FrameTime(summary_.frames, options_.fps));
    }

    bool Capturing() const { return capturing_; }
    // Wall milliseconds from the start of the frames to the last one drawn.
    double LastDrawn() const { return lastDrawn_; }

private:
    std::int64_t WarmupMs() const { return static_cast<std::int64_t>(std::llround(options_.warmup * 1000.0)); }
    bool Stopped() const { return reporter_.stopRequested && reporter_.stopRequested(); }

    // One frame at effect time `due` milliseconds after Start; answers when
    // it was drawn, in wall milliseconds from the start of the frames.
    double Draw(std::int64_t due)
    {
        if (options_.realtime) {
            const double wait = wallStart_ + static_cast<double>(due) - RealMilliseconds();
            if (wait > 0.0) {
                std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(wait));
            }
        } else {
            SetFixedClock(kEffectOrigin + static_cast<std::uint64_t>(due));
        }
        host::Copy(&destination_, 0, 0, &background_, 0, 0, plan_.width, plan_.height);
        const double drawn = RealMilliseconds();
        for (const Layer& layer : plan_.script.layers) {
            if (capturing_ && trace_.is_open()) {
                trace_ << "draw handle " << layer.handle << " rate " << layer.rate << "\n";
            }
            plugin_->Draw(layer.handle, &destination_, 0, 0, 0, 0, 0, 0, layer.rate);
        }
        return drawn - wallStart_;
    }

    const Options& options_;
    const Reporter& reporter_;
    const Plan& plan_;
    IDrawPlugin* plugin_;
    host::HostSurface& background_;
    std::ofstream& trace_;
    Summary& summary_;
    host::HostSurface destination_;
    const double wallStart_;
    bool capturing_ = false;
    double lastDrawn_ = 0.0;
};

}  // namespace

Summary RunPreview(const Options& options, const Reporter& reporter)
{
    const fs::path folder = ProgramFolder();
    const std::string pluginPath = options.plugin.empty() ? (folder / "DrawVelora.so").string() : options.plugin;
    const std::string hostDir = options.hostDir.empty() ? (folder / "host").string() : options.hostDir;

    Summary summary;
    const Prepared prepared = Prepare(options, summary, reporter);
    const Plan& plan = *prepared.plan;

    // The engine's order: host modules loaded, then the plug-in.
    const HostModules modules(hostDir);
    const PluginLibrary library(pluginPath);
    host::HostDrawHost drawHost([&reporter](const std::string& line) { Note(reporter, "host: " + line); });
    std::ofstream trace = OpenOutputs(options, prepared.oldFrames);

    const Scope scope;
    const FrameLoop* loop = nullptr;  // warm-up frames are neither traced nor counted
    host::SetDrawObserver([&](const host::DrawCall& call) {
        if (!loop || !loop->Capturing()) {
            return;
        }
        ++summary.drawCalls;
        if (trace.is_open()) {
            TraceCall(trace, call);
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
    FrameLoop frames(options, reporter, plan, plugin.object, *prepared.background, trace, summary);
    loop = &frames;
    plugin.object->Update();
    frames.WarmUp();

    FrameSink sink(summary.outputs, plan.width, plan.height, summary.plannedFrames, options.sheetFrames,
                   options.quality, options.lossless, std::max(4, Digits(summary.plannedFrames - 1)));
    const std::int32_t endMs = frames.Capture(sink);
    for (const Layer& layer : plan.script.layers) {
        library.Release(layer.handle);
    }
    UseSystemClock();
    if (summary.frames == 0) {
        summary.interrupted = true;
        return summary;  // nothing to write
    }
    summary.seconds = endMs / 1000.0;
    if (options.realtime && summary.lateFrames > 0) {
        Warn(reporter, "could not keep up with real time: " + std::to_string(summary.lateFrames) + " of " +
                           std::to_string(summary.frames) + " frames came late, and the effect ran " +
                           std::to_string(frames.LastDrawn() / 1000.0).substr(0, 5) + " s for its frames' " +
                           std::to_string(FrameTime(summary.frames, options.fps) / 1000.0).substr(0, 5) +
                           " s; drop --realtime for evenly spaced frames");
    }
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
    if (summary.interrupted) {
        line << "stopped by Ctrl+C after " << summary.frames << " of " << summary.plannedFrames << " frames; wrote ";
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

}  // namespace velora::preview
