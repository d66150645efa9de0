// The animated WebP writer, apart from the frame sink that drives it: this
// is the file format (segments of the library's encoder, their frames
// appended as they are done), the sink is the threads and the commit.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "previewer/atomic_file.h"
#include "reference/surface.h"

struct WebPAnimEncoder;

namespace velora::previewer {

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

}  // namespace velora::previewer
