// The option table: each option's name, help text and parser in one entry,
// from which both the parsing and --help are made, so that the two cannot
// disagree. Also the frame count and frame times the whole run uses.
#include "previewer/options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <sstream>

#include "reference/png_io.h"

namespace velora::previewer {
namespace {

constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();

struct OptionInfo {
    const char* name;     // without the leading dashes
    const char* value;    // placeholder in the help, or null for a flag
    const char* section;  // help section it opens, or null
    const char* help;
    std::function<void(Options&, const std::string& name, const std::string& value)> apply;
};

std::int32_t ToInt(const std::string& name, const std::string& text, std::int32_t low, std::int32_t high)
{
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) {
        throw UsageError("--" + name + " takes a whole number, not '" + text + "'");
    }
    if (value < low || value > high) {
        throw UsageError("--" + name + " must be between " + std::to_string(low) + " and " + std::to_string(high) +
                         ", not " + text);
    }
    return static_cast<std::int32_t>(value);
}

double ToNumber(const std::string& name, const std::string& text)
{
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value)) {
        throw UsageError("--" + name + " takes a number, not '" + text + "'");
    }
    return value;
}

// A speed factor, from low to high (the range the studio takes), as the
// float the setter receives.
float ToFloat(const std::string& name, const std::string& text, int low, int high)
{
    const double value = ToNumber(name, text);
    if (value < low || value > high) {
        throw UsageError("--" + name + " must be between " + std::to_string(low) + " and " + std::to_string(high) + ", not " +
                         text);
    }
    return static_cast<float>(value);
}

// An integer option with its range.
auto Int(std::int32_t Options::*field, std::int32_t low, std::int32_t high)
{
    return [field, low, high](Options& options, const std::string& name, const std::string& value) {
        options.*field = ToInt(name, value, low, high);
    };
}

auto Text(std::string Options::*field)
{
    return [field](Options& options, const std::string& name, const std::string& value) {
        if (value.empty()) {
            throw UsageError("--" + name + " needs a non-empty value");
        }
        options.*field = value;
    };
}

const std::vector<OptionInfo>& OptionTable()
{
    static const std::vector<OptionInfo> table = {
        {"width", "N", "Effect (the plug-in's control exports, and Draw):",
         "field width in pixels, 1 to 4096 (Init); default 640", Int(&Options::width, 1, 4096)},
        {"height", "N", nullptr, "field height in pixels, 1 to 4096 (Init); default 480",
         Int(&Options::height, 1, 4096)},
        {"type", "N", nullptr,
         "drawing mode (SetType): 0 blend, 1 add,\n"
         "2 fade and draw, 3 multiply; any other\n"
         "32-bit number draws nothing; default 0",
         Int(&Options::type, kInt32Min, kInt32Max)},
        {"numof", "N", nullptr, "particles spawned by Start (SetNumof),\n0 to 100000; default 40",
         Int(&Options::numof, 0, 100000)},
        {"maxamp", "N", nullptr,
         "sway amplitude (SetMaxAmp), -1000 to 1000,\n"
         "as the studio takes it (a negative one\n"
         "sways the other way); default 40",
         Int(&Options::maxAmp, -1000, 1000)},
        {"xspeed", "F", nullptr, "horizontal speed factor (SetXSpeed),\n-100 to 100; default 1.0",
         [](Options& o, const std::string& n, const std::string& v) { o.xSpeed = ToFloat(n, v, -100, 100); }},
        {"yspeed", "F", nullptr, "falling speed factor (SetYSpeed),\n-100 to 100; default 1.0",
         [](Options& o, const std::string& n, const std::string& v) { o.ySpeed = ToFloat(n, v, -100, 100); }},
        {"rate", "N", nullptr,
         "rate passed to Draw, 0 to 255: the host's\n"
         "strength of each blend, fade and mix; default 255",
         Int(&Options::rate, 0, 255)},
        {"handle", "N", nullptr, "handle of the effect in every call, any\n32-bit whole number; default 1",
         Int(&Options::handle, kInt32Min, kInt32Max)},

        {"sprites", "PATH", "Sprites:",
         "a PNG sprite sheet, or numbered PNG files\n"
         "given as a pattern such as petal%02d.png\n"
         "(read from 0 or 1 up to the first gap);\n"
         "default: the built-in petals, 4 rotation\n"
         "groups x 4 frames of 32 x 32",
         Text(&Options::sprites)},
        {"cell", "S", nullptr, "size of a sheet's square cells; default:\nthe sheet's smaller side",
         Int(&Options::cell, 1, 16384)},
        {"base", "N", nullptr,
         "sprite number of the first sprite\n(Init baseSprite), any 32-bit whole\n"
         "number; default 1, and 100 for a sprite\nsheet, as the studio numbers its sheets",
         Int(&Options::base, kInt32Min, kInt32Max)},
        {"sprite-count", "N", nullptr, "sprites in the run (Init spriteCount), any\n32-bit whole number; default: all loaded",
         [](Options& o, const std::string& n, const std::string& v) {
             o.spriteCount = ToInt(n, v, kInt32Min, kInt32Max);
         }},
        {"rotation-frames", "R", nullptr,
         "rotation groups in the run (Init\n"
         "rotationFrames), any 32-bit whole number;\n"
         "default 4 for the built-in petals, 1 for\n"
         "loaded sprites",
         [](Options& o, const std::string& n, const std::string& v) {
             o.rotationFrames = ToInt(n, v, kInt32Min, kInt32Max);
         }},

        {"seconds", "S", "Output:", "length of the preview, above 0 and up to\n600; default 3",
         [](Options& o, const std::string& n, const std::string& v) {
             const double seconds = ToNumber(n, v);
             if (seconds <= 0.0 || seconds > 600.0) {
                 throw UsageError("--" + n + " must be above 0 and at most 600, not " + v);
             }
             o.seconds = seconds;
         }},
        {"fps", "N", nullptr, "frames per second, 1 to 120; default 30", Int(&Options::fps, 1, 120)},
        {"background", "B", nullptr,
         "#rrggbb colour, 'gradient' (an evening sky)\n"
         "or a PNG image stretched to the field;\n"
         "default gradient",
         Text(&Options::background)},
        {"output", "PATH", nullptr, "the animated WebP; default preview.webp", Text(&Options::output)},
        {"sheet", "PATH", nullptr, "the contact sheet PNG; default: the\noutput's name ending in -sheet.png",
         Text(&Options::sheet)},
        {"sheet-frames", "N", nullptr, "frames on the contact sheet, evenly spaced,\n0 (none) to 64; default 8",
         Int(&Options::sheetFrames, 0, 64)},
        {"frames-dir", "DIR", nullptr, "also write every frame as DIR/frame-0000.png, ...",
         Text(&Options::framesDir)},
        {"trace", "PATH", nullptr, "write every drawing call the host receives,\nframe by frame",
         Text(&Options::trace)},
        {"force", nullptr, nullptr, "let --frames-dir replace the frame-*.png\nfiles the folder already holds",
         [](Options& o, const std::string&, const std::string&) { o.force = true; }},
        {"quality", "Q", nullptr, "WebP quality, 0 to 100; default 90", Int(&Options::quality, 0, 100)},
        {"lossless", nullptr, nullptr, "lossless WebP frames",
         [](Options& o, const std::string&, const std::string&) { o.lossless = true; }},

        {"seed", "N", "Time and the script:",
         "the tick count Init reads, 0 to 4294967295,\n"
         "which chooses the particle layout; default:\n"
         "the clock's, printed in the summary",
         [](Options& o, const std::string& n, const std::string& v) {
             std::uint64_t value = 0;
             const char* end = v.data() + v.size();
             const auto [stop, error] = std::from_chars(v.data(), end, value);
             if (v.empty() || error != std::errc() || stop != end || value > 0xFFFFFFFFu) {
                 throw UsageError("--" + n + " takes a whole number from 0 to 4294967295, not '" + v + "'");
             }
             o.seed = static_cast<std::uint32_t>(value);
         }},
        {"warmup", "S", nullptr, "seconds of effect time, 0 to 600, run\nbefore the first frame; default 0",
         [](Options& o, const std::string& n, const std::string& v) {
             const double seconds = ToNumber(n, v);
             if (seconds < 0.0 || seconds > 600.0) {
                 throw UsageError("--" + n + " must be from 0 to 600, not " + v);
             }
             o.warmup = seconds;
         }},
        {"realtime", nullptr, nullptr,
         "pace the frames by the wall clock and let\n"
         "the plug-in read the real clock, as in the\n"
         "engine (the frames then depend on the\n"
         "machine's speed); default: effect time",
         [](Options& o, const std::string&, const std::string&) { o.realtime = true; }},
        {"script", "FILE", nullptr,
         "the engine's calls, as the studio's Copy\n"
         "gives them: every handle is a layer, drawn\n"
         "in the script's order with its rate; '-'\n"
         "reads standard input",
         Text(&Options::script)},
        {"print-script", nullptr, nullptr, "print the calls that make this preview\nand stop",
         [](Options& o, const std::string&, const std::string&) { o.printScript = true; }},

        {"plugin", "PATH", "Plug-in and host:", "the plug-in library; default: DrawVelora.so\nbeside this program",
         Text(&Options::plugin)},
        {"host-dir", "DIR", nullptr,
         "folder of the host modules MainSystem.so,\n"
         "Graph.so and SurfaceFactory.so; default:\n"
         "host/ beside this program",
         Text(&Options::hostDir)},
        {"quiet", nullptr, nullptr, "no progress bar and no notes: only\nwarnings, errors and the summary",
         [](Options& o, const std::string&, const std::string&) { o.quiet = true; }},
        {"verbose", nullptr, nullptr,
         "also show the host's messages, such as the\n"
         "plug-in's ReportRect(handle, 0, 0, 640 x 480)\n"
         "at Update: the plug-in always reports that\n"
         "fixed rectangle, whatever the field's size",
         [](Options& o, const std::string&, const std::string&) { o.verbose = true; }},
        {"help", nullptr, nullptr, "this text",
         [](Options& o, const std::string&, const std::string&) { o.help = true; }},
        {"version", nullptr, nullptr, "the previewer's version",
         [](Options& o, const std::string&, const std::string&) { o.version = true; }},
    };
    return table;
}

const OptionInfo* Find(const std::string& name)
{
    for (const OptionInfo& info : OptionTable()) {
        if (name == info.name) {
            return &info;
        }
    }
    return nullptr;
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& arguments)
{
    Options options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "-h") {
            options.help = true;
            continue;
        }
        if (argument.rfind("--", 0) != 0 || argument.size() == 2) {
            throw UsageError("unexpected argument '" + argument + "' (options start with --; see --help)");
        }
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        const OptionInfo* info = Find(name);
        if (!info) {
            throw UsageError("unknown option --" + name + " (see --help)");
        }
        std::string value;
        if (!info->value) {
            if (equals != std::string::npos) {
                throw UsageError("--" + name + " takes no value");
            }
        } else if (equals != std::string::npos) {
            value = argument.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            throw UsageError("--" + name + " needs a value (" + info->value + ")");
        }
        info->apply(options, name, value);
        options.given.push_back(name);
    }

    const auto lower = [](std::string text) {
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return text;
    };
    if (options.output == "-") {
        throw UsageError("--output -: the animation cannot go to standard output; name a .webp file");
    }
    if (!lower(options.output).ends_with(".webp")) {
        throw UsageError("--output " + options.output + ": the animation is an animated WebP, so its name ends in .webp");
    }
    if (!options.sheet.empty() && (options.sheet == "-" || !lower(options.sheet).ends_with(".png"))) {
        throw UsageError("--sheet " + options.sheet + ": the contact sheet is a PNG file, so its name ends in .png");
    }
    if (std::find(options.given.begin(), options.given.end(), "cell") != options.given.end() &&
        (options.sprites.empty() || reference::IsNumberPattern(options.sprites))) {
        throw UsageError(std::string("--cell cuts a sprite sheet into cells, but ") +
                         (options.sprites.empty() ? "the built-in petals are" : "numbered files are") +
                         " whole sprites already: leave --cell out");
    }
    if (options.quiet && options.verbose) {
        throw UsageError("--quiet and --verbose cannot be combined: choose one");
    }
    if (options.trace == "-") {
        throw UsageError("--trace -: name a file for the trace");
    }
    if (!options.script.empty()) {
        // The script makes every call these options would make.
        for (const char* name : {"width", "height", "type", "numof", "maxamp", "xspeed", "yspeed", "rate", "handle",
                                 "base", "sprite-count", "rotation-frames"}) {
            if (std::find(options.given.begin(), options.given.end(), name) != options.given.end()) {
                throw UsageError(std::string("--") + name + " cannot be combined with --script: the script's calls set it");
            }
        }
    }
    return options;
}

std::string HelpText(const std::string& program)
{
    std::ostringstream text;
    text << "Usage: " << program << " [options]\n"
         << "\n"
         << "Renders a DrawVelora effect without the engine: loads the plug-in and the\n"
         << "reference host's modules, drives the effect (CreateInterface, SetInterface,\n"
         << "Init, the setters, Start, Update, then Draw once per frame over the\n"
         << "background) and writes an animated WebP and a contact sheet PNG.\n"
         << "\n"
         << "The previewer owns the plug-in's clock: Init reads the seed as its tick\n"
         << "count, Start reads a fixed effect-time origin, and frame k is drawn at\n"
         << "origin + warmup + round((k + 1) x 1000 / fps) ms, the clock standing still\n"
         << "while a frame is drawn. Frames render as fast as the machine allows, and\n"
         << "the same options with the same --seed give byte-identical files.\n";
    for (const OptionInfo& info : OptionTable()) {
        if (info.section) {
            text << "\n" << info.section << "\n";
        }
        std::string left = std::string("  --") + info.name;
        if (info.value) {
            left += std::string(" ") + info.value;
        }
        constexpr std::size_t kColumn = 22;
        text << left;
        std::string help = info.help;
        std::size_t start = 0;
        bool first = true;
        while (start <= help.size()) {
            const std::size_t stop = help.find('\n', start);
            const std::string line = help.substr(start, stop == std::string::npos ? std::string::npos : stop - start);
            const std::size_t used = first ? left.size() : 0;
            text << (used < kColumn ? std::string(kColumn - used, ' ') : std::string("\n") + std::string(kColumn, ' '))
                 << line << "\n";
            first = false;
            if (stop == std::string::npos) {
                break;
            }
            start = stop + 1;
        }
    }
    text << "\nThe reference host's rate runs from 0 to 255. Exit status: 0 done, 1 failed,\n"
         << "2 bad options, 128 + the signal when one stopped the run (130 Ctrl+C,\n"
         << "143 SIGTERM, 129 SIGHUP).\n";
    return text.str();
}

std::int64_t FrameTime(std::int64_t k, std::int32_t fps)
{
    return (k * 2000 + fps) / (std::int64_t{2} * fps);
}

std::int32_t FrameCount(const Options& options)
{
    const double frames = std::round(options.seconds * options.fps);
    return frames < 1.0 ? 1 : static_cast<std::int32_t>(frames);
}

std::string SheetPath(const Options& options)
{
    if (!options.sheet.empty()) {
        return options.sheet;
    }
    std::filesystem::path path(options.output);
    const std::string stem = path.stem().string();
    return path.replace_filename(stem + "-sheet.png").string();
}

}  // namespace velora::previewer
