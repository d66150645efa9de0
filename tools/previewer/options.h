// The previewer's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velora::previewer {

struct Options {
    // The effect: what the script would pass to the control exports and Draw.
    std::int32_t width = 640;   // Init
    std::int32_t height = 480;  // Init
    std::int32_t type = 0;      // SetType
    std::int32_t numof = 40;    // SetNumof
    std::int32_t maxAmp = 40;   // SetMaxAmp
    float xSpeed = 1.0f;        // SetXSpeed
    float ySpeed = 1.0f;        // SetYSpeed
    std::int32_t rate = 255;    // Draw
    std::int32_t handle = 1;    // every call

    // Sprites: empty path for the built-in petals.
    std::string sprites;
    std::int32_t cell = 0;  // 0: the sheet's smaller side
    std::int32_t base = 1;  // Init baseSprite
    std::optional<std::int32_t> spriteCount;     // Init spriteCount; default: all loaded
    std::optional<std::int32_t> rotationFrames;  // Init rotationFrames; default: 4 built-in, 1 loaded

    // Output.
    double seconds = 3.0;
    std::int32_t fps = 30;
    std::string background = "gradient";  // "gradient", "#rrggbb" or a PNG file
    std::string output = "preview.webp";
    std::string sheet;  // empty: derived from output
    std::int32_t sheetFrames = 8;
    std::string framesDir;  // empty: no frame files
    std::string trace;      // empty: no trace
    std::int32_t quality = 90;
    bool lossless = false;
    bool force = false;  // replace the frames a --frames-dir already holds

    // Time and the script.
    std::optional<std::uint32_t> seed;  // the tick count Init reads; default: chosen and printed
    double warmup = 0.0;                // seconds of effect time before the first frame
    bool realtime = false;              // pace by the wall clock, the plug-in reading the real clock
    std::string script;                 // the engine's calls, in place of the effect options
    bool printScript = false;           // print the calls instead of rendering

    // The plug-in and the host modules: empty for the ones built beside the program.
    std::string plugin;
    std::string hostDir;
    bool quiet = false;
    bool verbose = false;  // also the host's messages
    bool help = false;
    bool version = false;

    // The options given on the command line, by name.
    std::vector<std::string> given;
};

// A command line that cannot be used; the message says which option and why.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Parses the arguments after the program name. "--name value" and
// "--name=value" are both accepted. Throws UsageError.
Options ParseOptions(const std::vector<std::string>& arguments);

// The --help text.
std::string HelpText(const std::string& program);

// Effect time of frame k after the first, in whole milliseconds:
// round(k * 1000 / fps), so that the frames lie 1000 / fps apart without drift.
std::int64_t FrameTime(std::int64_t k, std::int32_t fps);

// Frames rendered: seconds x fps, at least one.
std::int32_t FrameCount(const Options& options);

// The contact sheet's path: --sheet, or the output's with "-sheet.png"
// in place of its extension.
std::string SheetPath(const Options& options);

}  // namespace velora::previewer
