// The preview's plan: the script read or made from the effect options, the
// sprites put in the bank, and the layers checked for settings that draw
// nothing.
#include "previewer/plan.h"

#include <fcntl.h>
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

#include "reference/petals.h"
#include "reference/png_io.h"

namespace velora::previewer {

using script::Call;
using script::FloatText;
using script::Layer;
using script::Op;
using script::Script;

namespace {

namespace fs = std::filesystem;

// Puts a copy of sprite under number in the kit's bank, named for the
// trace ("sprite7"); a number outside int32 holds nothing.
void PutSprite(kit::SpriteBank& bank, std::int64_t number, const reference::HostSurface& sprite)
{
    if (number < INT32_MIN || number > INT32_MAX) {
        return;
    }
    auto copy = std::make_unique<reference::HostSurface>(sprite.Width(), sprite.Height(), "sprite" + std::to_string(number));
    std::memcpy(copy->Bytes(), sprite.Bytes(), sprite.Stride() * static_cast<std::size_t>(sprite.Height()));
    bank.Put(static_cast<std::int32_t>(number), std::move(copy));
}

bool HasSprite(const kit::SpriteBank& bank, std::int64_t number)
{
    return number >= INT32_MIN && number <= INT32_MAX && bank.Find(static_cast<std::int32_t>(number));
}

// The first sprite number of a sheet in the studio (its built-in runs come first).
constexpr std::int32_t kSheetBase = 100;

// The user's sprites, or the built-in petals; for a sheet, its cells'
// columns, rows and size in sheet (left as it is otherwise).
reference::Sprites LoadSprites(const Options& options, std::int32_t& rotationFrames, script::Sheet& sheet)
{
    rotationFrames = 1;
    try {
        if (options.sprites.empty()) {
            const reference::PetalRun petals;
            rotationFrames = petals.groups;
            return reference::DrawPetals(petals);
        }
        if (reference::IsNumberPattern(options.sprites)) {
            return reference::LoadNumberedSprites(options.sprites);
        }
        const std::unique_ptr<reference::HostSurface> image = reference::LoadPng(options.sprites);
        image->SetLabel(options.sprites);
        reference::Sprites cells = reference::SplitSheet(*image, options.cell);
        sheet.cell = cells.front()->Width();
        sheet.columns = image->Width() / sheet.cell;
        sheet.rows = image->Height() / sheet.cell;
        sheet.name = fs::path(options.sprites).filename().string();
        return cells;
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
    layer.spawned = options.numof;
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

}  // namespace

void MakePlan(const Options& options, Plan& plan, const Reporter& reporter)
{
    std::int32_t defaultRotation = 1;
    script::Sheet sheet;
    const reference::Sprites loaded = LoadSprites(options, defaultRotation, sheet);
    const auto loadedCount = static_cast<std::int32_t>(loaded.size());
    plan.spritesFrom = options.sprites.empty() ? "the built-in petals" : options.sprites;
    if (options.script.empty()) {
        // A sheet's sprites are numbered from 100 unless --base says otherwise, as the studio numbers its
        // sheets, so that the script printed for it pastes into the studio as it is.
        Options numbered = options;
        if (sheet.cell > 0 && std::find(options.given.begin(), options.given.end(), "base") == options.given.end()) {
            numbered.base = kSheetBase;
        }
        plan.script = ScriptFromOptions(numbered, options.spriteCount.value_or(loadedCount),
                                        options.rotationFrames.value_or(defaultRotation));
        plan.width = options.width;
        plan.height = options.height;
        for (std::int32_t i = 0; i < loadedCount; ++i) {
            PutSprite(plan.bank, std::int64_t{numbered.base} + i, *loaded[static_cast<std::size_t>(i)]);
        }
        // The sheet's comment, which the studio cuts the sheet by (numbers below 0 cannot stand in it).
        if (sheet.cell > 0 && numbered.base >= 0 && std::int64_t{numbered.base} + loadedCount - 1 <= INT32_MAX) {
            sheet.base = numbered.base;
            sheet.count = loadedCount;
            plan.script.sheets.push_back(sheet);
        }
        plan.spritesLoaded = loadedCount;
        return;
    }
    plan.fromScript = true;
    try {
        // The studio's limits: whatever one tool prints, the other reads.
        plan.script = script::ParseScript(ReadScript(options.script, reporter),
                                          script::Limits{script::kMaxLayers, script::kMaxParticles});
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
        reference::Sprites shaped;
        const reference::Sprites* run = &loaded;
        if (options.sprites.empty() && layer.rotation > 0 && layer.count > 0 && layer.count % layer.rotation == 0 &&
            layer.rotation <= 64 && layer.count / layer.rotation <= 64) {
            reference::PetalRun petals;
            petals.groups = layer.rotation;
            petals.frames = layer.count / layer.rotation;
            shaped = reference::DrawPetals(petals);
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
        if (layer.spawned <= 0) {
            Warn(reporter, who + name("--numof ", "SetNumof(" + handle + ", ") + std::to_string(layer.spawned) +
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
        const kit::Surface* base =
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

void Warn(const Reporter& reporter, const std::string& line)
{
    if (reporter.warn) {
        reporter.warn("warning: " + line);
    }
}

std::string PreviewScript(const Options& options)
{
    Plan plan;
    MakePlan(options, plan, Reporter{});
    return script::PrintScript(plan.script.layers, plan.script.sheets, plan.script.picture);
}

}  // namespace velora::previewer
