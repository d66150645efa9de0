// What the previewer makes of the frames: the animated WebP, the contact
// sheet and the frame files. The encoding runs on a thread of its own,
// beside the drawing, and every file appears whole or not at all, all of
// them together or none.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "previewer/animation_writer.h"
#include "previewer/atomic_file.h"
#include "previewer/contact_sheet.h"
#include "reference/surface.h"

namespace velora::previewer {

struct OutputPaths {
    std::string animation;
    std::string sheet;      // empty: none
    std::string framesDir;  // empty: none
};

// Takes frames from the drawing loop and encodes and writes them on its own
// thread, a few frames in flight at most. Nothing replaces an earlier file
// before Commit, which puts every output in place or none; destroyed
// without Commit, it leaves every earlier file as it was and removes what it
// wrote. The new frames wait in a temporary folder inside the frames folder.
class FrameSink {
public:
    FrameSink(const OutputPaths& paths, std::int32_t width, std::int32_t height, std::int32_t totalFrames,
              std::int32_t sheetFrames, std::int32_t quality, bool lossless, std::int32_t digits = 4,
              std::function<bool()> cancelled = {});
    ~FrameSink();
    FrameSink(const FrameSink&) = delete;
    FrameSink& operator=(const FrameSink&) = delete;

    // Copies the frame. Throws the writer's error if it has failed.
    void Push(const reference::HostSurface& frame, std::int32_t index, std::int32_t timestampMs);
    // Waits for every frame (telling progress how many are encoded of how
    // many pushed, now and then), then completes the animation and the
    // sheet; last is the last frame pushed. Throws the first error met.
    void Finish(std::int32_t endMs, reference::HostSurface& last,
                const std::function<void(std::int32_t, std::int32_t)>& progress = {});
    // Puts every file in place (the trace too, if given), replacing the old
    // frames given: all of them, or, on any failure, none, every earlier
    // file kept as it was. Throws std::runtime_error saying what failed and
    // what was kept.
    void Commit(const std::vector<std::filesystem::path>& oldFrames, AtomicFile* trace);

private:
    struct Frame {
        std::unique_ptr<reference::HostSurface> pixels;
        std::int32_t index = 0;
        std::int32_t timestampMs = 0;
    };
    void Run();
    void Take(Frame& frame);

    OutputPaths paths_;
    AnimationWriter animation_;
    std::int32_t digits_;  // of the numbers in the frame files' names
    std::unique_ptr<ContactSheet> sheet_;
    std::unique_ptr<AtomicFile> sheetFile_;
    std::filesystem::path staging_;       // the new frame files until Commit, the old ones during it
    bool madeFramesDir_ = false;
    std::vector<std::string> stagedFrames_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Frame> queue_;
    std::vector<std::unique_ptr<reference::HostSurface>> spare_;  // buffers to reuse
    std::size_t maxQueued_ = 2;
    std::int32_t pushed_ = 0;
    std::int32_t taken_ = 0;
    bool closed_ = false;
    std::exception_ptr error_;
    std::thread worker_;
};

}  // namespace velora::previewer
