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

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

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

#include "reference/graph.h"
#include "reference/petals.h"
#include "reference/png_io.h"
#include "reference/services.h"
#include "kit/services.h"
#include "previewer/effect_clock.h"
#include "kit/script.h"
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

// Reads the script in pieces, so that a signal ends the reading of a
// terminal or a pipe that never ends.
std::string ReadScript(const std::string& path, const Reporter& reporter)
{
    int fd = STDIN_FILENO;
    if (path != "-") {
        std::error_code error;
        if (fs::is_directory(path, error)) {
            throw UsageError("--script " + path + ": is a folder, not a script");
        }
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            throw UsageError("--script " + path + ": " +
                             (errno == ENOENT ? std::string("no such file")
                                              : std::string("cannot read it (") + std::strerror(errno) + ")"));
        }
    }
    struct Closer {
        int fd;
        ~Closer()
        {
            if (fd != STDIN_FILENO) {
                close(fd);
            }
        }
    } closer{fd};
    // No further than one byte past the longest script, so that a device
    // that never ends (/dev/urandom) ends at once.
    std::string text;
    char buffer[1 << 16];
    while (text.size() <= script::kMaxBytes) {
        if (reporter.stopRequested && reporter.stopRequested()) {
            const int signal = reporter.stopSignal ? reporter.stopSignal() : SIGINT;
            throw Stopped(signal, "stopped by " + SignalName(signal) + " while reading the script " + path +
                                      ": nothing written");
        }
        const std::size_t wanted = std::min(sizeof buffer, script::kMaxBytes + 1 - text.size());
        const ssize_t got = read(fd, buffer, wanted);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw UsageError("--script " + path + ": cannot read it (" + std::strerror(errno) + ")");
        }
        if (got == 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(got));
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

void MakePlan(const Options& options, Plan& plan, const Reporter& reporter)
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
        plan.script = script::ParseScript(ReadScript(options.script, reporter));
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
    const auto plural = [](std::int64_t count, const char* noun) {
        return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
    };
    for (const Layer& layer : plan.script.layers) {
        const std::string handle = std::to_string(layer.handle);
        const std::string who = plan.fromScript ? "handle " + handle + ": " : "";
        const auto name = [&](const char* option, const std::string& call) {
            return plan.fromScript ? call : std::string(option);
        };
        if (!layer.started) {
            // Only a script can leave a layer without Start.
            Warn(reporter, who + "Init without Start: the plug-in never draws this handle; add Start(" + handle +
                               "); after its setters");
            continue;
        }
        if (layer.numof <= 0) {
            Warn(reporter, who + name("--numof ", "SetNumof(" + handle + ", ") + std::to_string(layer.numof) +
                               (plan.fromScript ? ")" : "") +
                               ": Start spawns no particles, so nothing is drawn; ask for 1 or more");
        }
        if (layer.type < 0 || layer.type > 3) {
            Warn(reporter, who + name("--type ", "SetType(" + handle + ", ") + std::to_string(layer.type) +
                               (plan.fromScript ? ")" : "") +
                               ": only modes 0 to 3 draw (0 blend, 1 add, 2 fade and draw, 3 multiply); this one "
                               "draws nothing");
        } else if (layer.rate <= 0) {
            const std::string rate = name("--rate 0", "the rate 0 of its \"draws handle\" comment");
            if (layer.type == 2) {
                Warn(reporter, who + rate + ": mode 2 darkens each sprite fully before drawing it, so the particles "
                                         "are black silhouettes; a rate from 1 to 255 keeps some of their colour");
            } else {
                Warn(reporter, who + rate + ": mode " + std::to_string(layer.type) +
                                   " at rate 0 leaves the background as it is, so nothing shows; use a rate from "
                                   "1 to 255");
            }
        }
        if (layer.count <= 0) {
            Warn(reporter, who + name("--sprite-count ", "Init's spriteCount ") + std::to_string(layer.count) +
                               ": with no sprites in the run the plug-in draws nothing");
        }
        if (layer.rotation <= 0) {
            Warn(reporter, who + name("--rotation-frames ", "Init's rotationFrames ") + std::to_string(layer.rotation) +
                               ": with no rotation groups the plug-in draws nothing");
        }
        if (layer.count > 0 && layer.rotation > 0) {
            if (layer.count < layer.rotation) {
                Warn(reporter, who + name("--rotation-frames ", "Init's rotationFrames ") +
                                   std::to_string(layer.rotation) + " with " + plural(layer.count, "sprite") +
                                   " in the run: the groups are empty and every particle shows the first sprite; "
                                   "use at most as many rotation groups as sprites");
            } else if (layer.count % layer.rotation != 0) {
                const std::int64_t perGroup = layer.count / layer.rotation;
                const std::int64_t unused = layer.count - perGroup * layer.rotation;
                Warn(reporter, who + name("--rotation-frames ", "Init's rotationFrames ") +
                                   std::to_string(layer.rotation) + " with " + plural(layer.count, "sprite") +
                                   ": the run splits into " + plural(layer.rotation, "group") + " of " +
                                   std::to_string(perGroup) + ", and the last " + plural(unused, "sprite") +
                                   " of the run " + (unused == 1 ? "is" : "are") +
                                   " never drawn; use a sprite count that the rotation groups divide");
            }
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
                                   " reaches past the " + plural(plan.spritesLoaded, "sprite") +
                                   " loaded: particles showing the missing ones are not drawn");
            }
        }
        // The base sprite's width is the size the plug-in centres and clips by.
        const hostkit::Surface* base =
            HasSprite(plan.bank, layer.base) ? plan.bank.Find(static_cast<std::int32_t>(layer.base)) : nullptr;
        const std::int64_t size = base ? base->Width() : 0;
        const std::string field = plan.fromScript ? "Init's field of " + std::to_string(layer.width) + " x " +
                                                        std::to_string(layer.height)
                                                  : "the field of --width " + std::to_string(layer.width) +
                                                        " x --height " + std::to_string(layer.height);
        if (size > 0 && (size > layer.width || size > layer.height)) {
            const bool tiny = std::int64_t{layer.width} * 4 <= size || std::int64_t{layer.height} * 4 <= size;
            Warn(reporter, who + field + " is smaller than a sprite (" + std::to_string(size) + " x " +
                               std::to_string(size) + "): " +
                               (tiny ? "at most slivers of a few sprites are drawn, often none at all"
                                     : "every sprite is cut off at the field's edges") +
                               "; make the field at least " + std::to_string(size) + " pixels each way");
        }
        // Every frame sways a particle by up to maxAmp / 100 pixels; the
        // edges move it back by the field's width and half a sprite once.
        const double sway = std::fabs(static_cast<double>(layer.maxAmp)) * 0.01;
        if (layer.width > 0 && sway > static_cast<double>(layer.width) + static_cast<double>(size / 2)) {
            Warn(reporter, who + name("--maxamp ", "SetMaxAmp(" + handle + ", ") + std::to_string(layer.maxAmp) +
                               (plan.fromScript ? ")" : "") + ": the sway moves a particle up to " +
                               std::to_string(static_cast<std::int64_t>(sway)) +
                               " pixels a frame, more than the field is wide (" + std::to_string(layer.width) +
                               "), so most particles swing out of the field and do not come back; keep it below " +
                               std::to_string((std::int64_t{layer.width} + size / 2) * 100));
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

// A file by its identity: two paths (hard links, symbolic links, "a/../b")
// name one file when their device and inode agree.
struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    bool exists = false;
    bool operator==(const Identity& other) const
    {
        return exists && other.exists && device == other.device && inode == other.inode;
    }
};

Identity IdentityOf(const std::string& path)
{
    struct stat info{};
    if (stat(path.c_str(), &info) != 0) {
        return {};
    }
    return {info.st_dev, info.st_ino, true};
}

struct NamedFile {
    std::string option;
    std::string path;
    Identity identity;
    fs::path key;
};

NamedFile Named(std::string option, std::string path)
{
    const Identity identity = IdentityOf(path);
    fs::path key = Key(path);
    return {std::move(option), std::move(path), identity, std::move(key)};
}

bool Same(const NamedFile& a, const NamedFile& b) { return a.identity == b.identity || a.key == b.key; }

// The files the run reads: background, sprites (every file a numbered
// pattern reads), script, the plug-in and the host modules.
std::vector<NamedFile> Inputs(const Options& options, const std::string& pluginPath, const std::string& hostDir)
{
    std::vector<NamedFile> inputs;
    if (IsFile(options.background)) {
        inputs.push_back(Named("--background", options.background));
    }
    if (!options.sprites.empty()) {
        if (host::IsNumberPattern(options.sprites)) {
            for (const std::string& file : host::NumberedFiles(options.sprites)) {
                inputs.push_back(Named("--sprites", file));
            }
        } else {
            inputs.push_back(Named("--sprites", options.sprites));
        }
    }
    if (!options.script.empty() && options.script != "-") {
        inputs.push_back(Named("--script", options.script));
    }
    inputs.push_back(Named("--plugin", pluginPath));
    for (const char* module : {"MainSystem.so", "Graph.so", "SurfaceFactory.so"}) {
        inputs.push_back(Named("--host-dir", (fs::path(hostDir) / module).string()));
    }
    return inputs;
}

// Two outputs naming one file, or an output naming an input, are refused,
// by path and by file identity.
void CheckDistinct(const Options& options, const OutputPaths& outputs, const std::string& trace,
                   const std::vector<NamedFile>& inputs)
{
    const bool sheetGiven = std::find(options.given.begin(), options.given.end(), "sheet") != options.given.end();
    std::vector<NamedFile> files = {Named("--output", outputs.animation)};
    if (!outputs.sheet.empty()) {
        files.push_back(Named("--sheet", outputs.sheet));
    }
    if (!trace.empty()) {
        files.push_back(Named("--trace", trace));
    }
    // The sheet's name comes from --output unless --sheet gave it.
    const auto what = [&](const NamedFile& file) {
        if (file.option == "--sheet" && !sheetGiven) {
            return "the contact sheet " + file.path + " (named after --output; --sheet names another, "
                   "--sheet-frames 0 makes none)";
        }
        return file.option + " " + file.path;
    };
    const auto inputName = [](const NamedFile& input) {
        return input.option == "--sprites" || input.option == "--host-dir" ? input.option + " file " + input.path
                                                                            : input.option + " file";
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
        for (std::size_t j = i + 1; j < files.size(); ++j) {
            if (Same(files[i], files[j])) {
                throw UsageError(what(files[j]) + " names the same file as " + files[i].option);
            }
        }
        for (const NamedFile& input : inputs) {
            if (Same(files[i], input)) {
                throw UsageError(what(files[i]) + " would overwrite the " + inputName(input));
            }
        }
    }
    if (outputs.framesDir.empty()) {
        return;
    }
    const fs::path folder = Key(outputs.framesDir);
    for (const NamedFile& file : files) {
        if (file.key == folder) {
            throw UsageError("--frames-dir " + outputs.framesDir + " names the same file as " + file.option);
        }
        if (file.key.parent_path() == folder && IsFrameFile(file.key.filename().string())) {
            throw UsageError(what(file) + " is one of the frame files of --frames-dir");
        }
    }
    for (const NamedFile& input : inputs) {
        if (input.key == folder) {
            throw UsageError("--frames-dir " + outputs.framesDir + " names the " + inputName(input));
        }
        if (input.key.parent_path() == folder && IsFrameFile(input.key.filename().string())) {
            throw UsageError("--frames-dir " + outputs.framesDir + " would replace the " + inputName(input));
        }
    }
    // A frame file of an earlier run (replaced with --force) may be a hard
    // link to an input.
    std::error_code error;
    if (fs::is_directory(folder, error)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
            if (!IsFrameFile(entry.path().filename().string())) {
                continue;
            }
            const NamedFile frame = Named("--frames-dir", entry.path().string());
            for (const NamedFile& input : inputs) {
                if (Same(frame, input)) {
                    throw UsageError("--frames-dir " + outputs.framesDir + ": its " +
                                     entry.path().filename().string() + " is the " + inputName(input));
                }
            }
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
    MakePlan(options, plan, Reporter{});
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

    CheckDistinct(options, summary.outputs, options.trace, Inputs(options, pluginPath, hostDir));
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

// The trace, written as the frames are drawn and put in place at the end.
std::unique_ptr<AtomicFile> OpenTrace(const Options& options)
{
    if (options.trace.empty()) {
        return nullptr;
    }
    auto trace = std::make_unique<AtomicFile>(options.trace);
    trace->Write("# every drawing call the host received, frame by frame\n");
    return trace;
}

// One line of the trace for each drawing call the host receives.
void TraceCall(AtomicFile& trace, const host::DrawCall& call)
{
    std::string line;
    line.reserve(128);
    const auto number = [&](const char* key, std::int64_t value) {
        line += key;
        line += std::to_string(value);
    };
    line += call.operation;
    line += " dest=" + Name(call.dest);
    number(" dx=", call.dx);
    number(" dy=", call.dy);
    if (call.src) {
        line += " src=" + Name(call.src);
        number(" sx=", call.sx);
        number(" sy=", call.sy);
    }
    number(" w=", call.width);
    number(" h=", call.height);
    if (call.hasRate) {
        number(" rate=", call.rate);
    }
    line += call.result == host::kDone ? "\n" : " refused\n";
    trace.Write(line);
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
              host::HostSurface& background, AtomicFile* trace, Summary& summary, std::exception_ptr& traceError)
        : options_(options), reporter_(reporter), plan_(plan), plugin_(plugin), background_(background),
          trace_(trace), summary_(summary), traceError_(traceError), destination_(plan.width, plan.height, "frame"),
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
            if (trace_) {
                trace_->Write("frame " + std::to_string(frameIndex) + "\n");
            }
            const std::int64_t due = WarmupMs() + FrameTime(frameIndex + 1, options_.fps);
            const double drawn = Draw(due);
            if (traceError_) {
                std::rethrow_exception(traceError_);
            }
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
    // The frame drawn last.
    host::HostSurface& LastFrame() { return destination_; }
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
            if (capturing_ && trace_) {
                trace_->Write("draw handle " + std::to_string(layer.handle) + " rate " + std::to_string(layer.rate) +
                              "\n");
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
    AtomicFile* trace_;
    Summary& summary_;
    std::exception_ptr& traceError_;
    host::HostSurface destination_;
    const double wallStart_;
    bool capturing_ = false;
    double lastDrawn_ = 0.0;
};

int StopSignal(const Reporter& reporter) { return reporter.stopSignal ? reporter.stopSignal() : SIGINT; }

bool Abandoned(const Reporter& reporter) { return reporter.abandonRequested && reporter.abandonRequested(); }

[[noreturn]] void ThrowAbandoned(const Reporter& reporter)
{
    const int signal = StopSignal(reporter);
    throw Stopped(signal, "stopped by a second signal, " + SignalName(signal) +
                              ", while writing the files: nothing written, every earlier file kept as it was");
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
    host::HostDrawHost drawHost([&reporter](const std::string& line) {
        if (reporter.host) {
            reporter.host("host: " + line);
        }
    });
    const std::unique_ptr<AtomicFile> trace = OpenTrace(options);

    const Scope scope;
    const FrameLoop* loop = nullptr;  // warm-up frames are neither traced nor counted
    std::exception_ptr traceError;    // kept here: nothing may be thrown through the plug-in
    host::SetDrawObserver([&](const host::DrawCall& call) {
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
        Warn(reporter, "could not keep up with real time: " + std::to_string(summary.lateFrames) + " of " +
                           std::to_string(summary.frames) + " frames came late, and the effect ran " +
                           std::to_string(frames.LastDrawn() / 1000.0).substr(0, 5) + " s for its frames' " +
                           std::to_string(FrameTime(summary.frames, options.fps) / 1000.0).substr(0, 5) +
                           " s; drop --realtime for evenly spaced frames");
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
        sink.Commit(prepared.oldFrames);
        if (trace) {
            trace->Commit();
        }
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

}  // namespace velora::preview
