// What the previewer makes of the frames: the background each frame starts
// from, the animated WebP, the contact sheet and the frame files. The
// encoding runs on a thread of its own, beside the drawing, and every file
// appears whole or not at all.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "reference/surface.h"
#include "previewer/atomic_file.h"

struct WebPAnimEncoder;

namespace velora::previewer {

// The background of every frame, opaque and width x height: "gradient", a
// "#rrggbb" colour, or a PNG file stretched to the size (its transparent
// parts over black). Throws UsageError, with the reason, for anything else.
std::unique_ptr<reference::HostSurface> MakeBackground(const std::string& choice, std::int32_t width,
                                                  std::int32_t height);

// Frames to an animated WebP that loops forever, written as it goes: the
// frames are encoded in segments, each a WebP animation encoder of its own
// whose frames are appended to the file when the segment is full, so memory
// holds one segment's encoded frames however long the animation is. The
// file appears at path only on Commit.
class AnimationWriter {
public:
    // cancelled, if given, is asked while a frame is encoded: true abandons it.
    AnimationWriter(const std::string& path, std::int32_t width, std::int32_t height, std::int32_t quality,
                    bool lossless, std::function<bool()> cancelled = {});
    ~AnimationWriter();
    AnimationWriter(const AnimationWriter&) = delete;
    AnimationWriter& operator=(const AnimationWriter&) = delete;

    // timestampMs: when the frame starts showing, increasing from 0.
    // Throws std::runtime_error.
    void Add(const reference::HostSurface& frame, std::int32_t timestampMs);
    // endMs: when the last frame stops showing. Completes and closes the
    // file. Throws std::runtime_error.
    void Finish(std::int32_t endMs);
    void Commit(FileSwap& swap) { file_.Commit(swap); }

    // Frames a segment holds at this size (a deterministic choice, so that
    // one seed gives one file).
    static std::int32_t SegmentFrames(std::int32_t width, std::int32_t height);

private:
    void StartSegment(std::int32_t timestampMs);
    void EndSegment(std::int32_t endMs);

    AtomicFile file_;
    WebPAnimEncoder* encoder_ = nullptr;
    std::int32_t width_;
    std::int32_t height_;
    std::int32_t quality_;
    bool lossless_;
    std::function<bool()> cancelled_;
    std::int32_t segmentFrames_;
    std::int32_t inSegment_ = 0;
    std::int32_t segmentStartMs_ = 0;
    std::uint8_t flags_ = 0;  // of the VP8X chunk
};

// Evenly spaced frames, scaled down side by side in rows of four. Offered
// every frame in order, it keeps the thumbnails of the planned frames and of
// a thinning set over the frames so far, so that a run stopped early still
// gets its picks spread over the frames actually drawn.
class ContactSheet {
public:
    ContactSheet(std::int32_t frameWidth, std::int32_t frameHeight, std::int32_t totalFrames, std::int32_t shown);

    void Offer(std::int32_t index, reference::HostSurface& frame);
    // The sheet of the first `drawn` frames; last is frame drawn - 1.
    // Throws std::runtime_error.
    std::vector<std::uint8_t> Encode(std::int32_t drawn, reference::HostSurface& last, const std::string& name);

private:
    std::unique_ptr<reference::HostSurface> Thumbnail(reference::HostSurface& frame) const;

    std::int32_t totalFrames_;
    std::int32_t shown_;
    std::vector<std::int32_t> picks_;
    std::int32_t thumbWidth_ = 0;
    std::int32_t thumbHeight_ = 0;
    double scale_ = 1.0;
    std::map<std::int32_t, std::unique_ptr<reference::HostSurface>> kept_;  // frame -> thumbnail
    std::int32_t stride_ = 1;
};

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
