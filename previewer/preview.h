// One preview: the plug-in driven by the reference host in real time, the
// frames written out.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "previewer/options.h"
#include "previewer/outputs.h"

namespace velora::preview {

struct Reporter {
    // Host messages and warnings, one line each, without a line feed.
    std::function<void(const std::string&)> note;
    // After each frame is drawn; then once with stage "writing" before the
    // files are written.
    std::function<void(std::int32_t done, std::int32_t total)> progress;
    std::function<void()> writing;
};

struct Summary {
    std::int32_t frames = 0;
    std::int32_t fps = 0;
    double seconds = 0.0;  // length of the animation
    std::int32_t particles = 0;
    std::int32_t type = 0;
    std::int64_t drawCalls = 0;  // drawing calls the host received
    OutputPaths outputs;
    std::string trace;
};

// Throws std::runtime_error (with a message fit for the user) for a missing
// or unusable plug-in, host module, sprite file, background or output.
Summary RunPreview(const Options& options, const Reporter& reporter);

// "90 frames at 30 fps (3.0 s), 40 particles in mode 0, 3562 drawing calls:
// preview.webp, preview-sheet.png"
std::string SummaryLine(const Summary& summary);

}  // namespace velora::preview
