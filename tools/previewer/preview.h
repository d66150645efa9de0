// One preview: the plug-in driven by the reference host, frame by frame in
// effect time (or by the wall clock with --realtime), the frames written out.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "previewer/frame_sink.h"
#include "previewer/options.h"

namespace velora::previewer {

struct Reporter {
    // Things worth telling the user (about the script), one line each,
    // without a line feed.
    std::function<void(const std::string&)> note;
    // The host's messages, such as the plug-in's ReportRect at Update.
    std::function<void(const std::string&)> host;
    // Warnings about settings that draw nothing or lose particles, and about
    // a real-time run that fell behind.
    std::function<void(const std::string&)> warn;
    // After each frame is drawn.
    std::function<void(std::int32_t done, std::int32_t total)> progress;
    // Once, before the files are written.
    std::function<void()> writing;
    // Asked after every frame: true stops the run, and the frames drawn so
    // far are written.
    std::function<bool()> stopRequested;
    // Asked while the files are written: true abandons them, and every
    // earlier file stays as it was.
    std::function<bool()> abandonRequested;
    // The latest signal that asked to stop (SIGINT, SIGTERM, SIGHUP), for the messages.
    std::function<int()> stopSignal;
    // Now and then while the files are written: frames encoded of those drawn.
    std::function<void(std::int32_t done, std::int32_t total)> writingProgress;
};

// A run ended by a signal with nothing written: while the script was read,
// or by a second signal while the files were written.
class Stopped : public std::runtime_error {
public:
    Stopped(int signal, const std::string& what) : std::runtime_error(what), signal_(signal) {}
    int Signal() const { return signal_; }

private:
    int signal_;
};

// "Ctrl+C (SIGINT)", "SIGTERM", "SIGHUP", "signal 10".
std::string SignalName(int signal);

struct Summary {
    std::int32_t frames = 0;         // frames written
    std::int32_t plannedFrames = 0;  // frames asked for
    bool interrupted = false;        // stopped before plannedFrames
    int stopSignal = 0;              // the signal that stopped it, when one did
    std::int32_t fps = 0;
    double seconds = 0.0;  // length of the animation
    std::uint32_t seed = 0;
    double warmup = 0.0;
    bool realtime = false;
    std::int32_t lateFrames = 0;  // real time: frames drawn more than a frame late
    double wallSeconds = 0.0;     // drawing, from Start to the last frame
    std::vector<std::int32_t> handles;  // layers, in drawing order
    std::int32_t particles = 0;         // over all layers
    std::int32_t type = 0;              // of a single layer
    std::int32_t spritesLoaded = 0;
    std::string spritesFrom;
    std::int64_t drawCalls = 0;  // drawing calls the host received
    OutputPaths outputs;
    std::string trace;
};

// Throws UsageError for options that cannot work together or name input
// that cannot be used (a background, sprites or script that cannot be read,
// outputs that name the same file, a frames folder that holds frames), and
// std::runtime_error (with a message fit for the user) for a missing or
// unusable plug-in, host module or output folder. Every such check is made
// before the first frame.
Summary RunPreview(const Options& options, const Reporter& reporter);

// The calls that make this preview, as --print-script prints them.
std::string PreviewScript(const Options& options);

// "90 frames at 30 fps (3.0 s of effect time, seed 7), 40 particles in mode
// 0, 16 sprites loaded (the built-in petals), 3562 drawing calls:
// preview.webp, preview-sheet.png"
std::string SummaryLine(const Summary& summary);

}  // namespace velora::previewer
