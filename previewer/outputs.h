// What the previewer makes of the frames: the background each frame starts
// from, the animated WebP, the contact sheet and the frame files. The
// encoding runs on a thread of its own, beside the drawing.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/surface.h"

struct WebPAnimEncoder;

namespace velora::preview {

// The background of every frame, opaque and width x height: "gradient", a
// "#rrggbb" colour, or a PNG file stretched to the size (its transparent
// parts over black). Throws UsageError, with the reason, for anything else.
std::unique_ptr<host::HostSurface> MakeBackground(const std::string& choice, std::int32_t width,
                                                  std::int32_t height);

// Frames to an animated WebP that loops forever.
class AnimationWriter {
public:
    AnimationWriter(std::int32_t width, std::int32_t height, std::int32_t quality, bool lossless);
    ~AnimationWriter();
    AnimationWriter(const AnimationWriter&) = delete;
    AnimationWriter& operator=(const AnimationWriter&) = delete;

    // timestampMs: when the frame starts showing, increasing from 0.
    void Add(const host::HostSurface& frame, std::int32_t timestampMs);
    // endMs: when the last frame stops showing. Throws std::runtime_error.
    void Write(const std::string& path, std::int32_t endMs);

private:
    WebPAnimEncoder* encoder_ = nullptr;
    std::int32_t width_;
    std::int32_t height_;
    std::int32_t quality_;
    bool lossless_;
};

// Evenly spaced frames, scaled down side by side in rows of four.
class ContactSheet {
public:
    ContactSheet(std::int32_t frameWidth, std::int32_t frameHeight, std::int32_t totalFrames, std::int32_t shown);

    bool Wants(std::int32_t index) const;
    void Place(std::int32_t index, host::HostSurface& frame);
    // Throws std::runtime_error.
    void Write(const std::string& path) const;

private:
    std::vector<std::int32_t> picks_;
    std::int32_t thumbWidth_ = 0;
    std::int32_t thumbHeight_ = 0;
    double scale_ = 1.0;
    std::unique_ptr<host::HostSurface> sheet_;
};

struct OutputPaths {
    std::string animation;
    std::string sheet;      // empty: none
    std::string framesDir;  // empty: none
};

// Takes frames from the drawing loop and writes them out on its own thread.
class FrameSink {
public:
    FrameSink(const OutputPaths& paths, std::int32_t width, std::int32_t height, std::int32_t totalFrames,
              std::int32_t sheetFrames, std::int32_t quality, bool lossless, std::int32_t digits = 4);
    ~FrameSink();
    FrameSink(const FrameSink&) = delete;
    FrameSink& operator=(const FrameSink&) = delete;

    // Copies the frame. Throws the writer's error if it has failed.
    void Push(const host::HostSurface& frame, std::int32_t index, std::int32_t timestampMs);
    // Waits for every frame, then writes the animation and the sheet. Throws
    // the first error met.
    void Finish(std::int32_t endMs);

private:
    struct Frame {
        std::unique_ptr<host::HostSurface> pixels;
        std::int32_t index = 0;
        std::int32_t timestampMs = 0;
    };
    void Run();
    void Take(Frame& frame);

    OutputPaths paths_;
    AnimationWriter animation_;
    std::int32_t digits_;  // of the numbers in the frame files' names
    std::unique_ptr<ContactSheet> sheet_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Frame> queue_;
    std::size_t maxQueued_ = 4;
    bool closed_ = false;
    std::exception_ptr error_;
    std::thread worker_;
};

}  // namespace velora::preview
