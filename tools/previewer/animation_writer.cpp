// The WebP container written by hand around the library's encoder: the
// header first with its size and flags left blank, each segment's frames
// (assembled by the library, read back, their ANMF chunks copied) appended,
// and the size and flags filled in when the animation ends.
#include "previewer/animation_writer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

namespace velora::previewer {
namespace {

// The encoder's effort (0 fastest to 6 smallest). The encoder's thread is
// the busier of the two: at 640 x 480 with 10 000 particles every frame
// changes everywhere, and the library's default of 4 takes about 3.5 s of
// one core for 90 frames, 2 about 2.4 s for a file 2 % larger. 0 would
// take 1.8 s, but makes the usual sparse previews half as large again.
constexpr int kMethod = 2;
// Pixels of the frames one segment holds: about 2.5 s at 640 x 480 and 30 fps.
constexpr std::int64_t kSegmentPixels = 24'000'000;

constexpr std::uint8_t kAlphaFlag = 0x10;
constexpr std::uint8_t kAnimationFlag = 0x02;
constexpr std::size_t kRiffSizeAt = 4;
constexpr std::size_t kFlagsAt = 20;  // "RIFF" size "WEBP" "VP8X" size, then the flags

void PutLE(std::string& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

int CancelHook(int, const WebPPicture* picture)
{
    const auto* cancelled = static_cast<const std::function<bool()>*>(picture->user_data);
    return (*cancelled && (*cancelled)()) ? 0 : 1;
}

std::string EncoderError(WebPAnimEncoder* encoder)
{
    const char* error = WebPAnimEncoderGetError(encoder);
    return std::string("WebP encoding failed: ") + (error && *error ? error : "unknown error");
}

}  // namespace

AnimationWriter::AnimationWriter(const std::string& path, std::int32_t width, std::int32_t height,
                                 std::int32_t quality, bool lossless, std::function<bool()> cancelled)
    : file_(path), width_(width), height_(height), quality_(quality), lossless_(lossless),
      cancelled_(std::move(cancelled)), segmentFrames_(SegmentFrames(width, height))
{
    // The header; the file's size and the flags are filled in at the end.
    std::string header = "RIFF";
    PutLE(header, 0, 4);
    header += "WEBPVP8X";
    PutLE(header, 10, 4);
    PutLE(header, 0, 4);  // flags and reserved
    PutLE(header, static_cast<std::uint32_t>(width - 1), 3);
    PutLE(header, static_cast<std::uint32_t>(height - 1), 3);
    header += "ANIM";
    PutLE(header, 6, 4);
    PutLE(header, 0xFFFFFFFFu, 4);  // background colour: white, as the library's encoder writes it
    PutLE(header, 0, 2);            // loop forever
    file_.Write(header);
}

AnimationWriter::~AnimationWriter() { WebPAnimEncoderDelete(encoder_); }

std::int32_t AnimationWriter::SegmentFrames(std::int32_t width, std::int32_t height)
{
    const std::int64_t pixels = std::max<std::int64_t>(1, std::int64_t{width} * height);
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(kSegmentPixels / pixels, 1, 100000));
}

void AnimationWriter::StartSegment(std::int32_t timestampMs)
{
    WebPAnimEncoderOptions options;
    if (!WebPAnimEncoderOptionsInit(&options)) {
        throw std::runtime_error("the WebP library does not match its headers");
    }
    encoder_ = WebPAnimEncoderNew(width_, height_, &options);
    if (!encoder_) {
        throw std::runtime_error("cannot start a WebP animation of " + std::to_string(width_) + " x " +
                                 std::to_string(height_));
    }
    inSegment_ = 0;
    segmentStartMs_ = timestampMs;
}

void AnimationWriter::Add(const reference::HostSurface& frame, std::int32_t timestampMs)
{
    if (encoder_ && inSegment_ >= segmentFrames_) {
        EndSegment(timestampMs);
    }
    if (!encoder_) {
        StartSegment(timestampMs);
    }
    WebPConfig config;
    if (!WebPConfigInit(&config)) {
        throw std::runtime_error("the WebP library does not match its headers");
    }
    config.quality = static_cast<float>(quality_);
    config.lossless = lossless_ ? 1 : 0;
    config.method = kMethod;
    WebPPicture picture;
    if (!WebPPictureInit(&picture)) {
        throw std::runtime_error("the WebP library does not match its headers");
    }
    picture.width = width_;
    picture.height = height_;
    picture.use_argb = 1;
    picture.progress_hook = CancelHook;
    picture.user_data = &cancelled_;
    if (!WebPPictureImportRGBA(&picture, frame.Bytes(), static_cast<int>(frame.Stride()))) {
        WebPPictureFree(&picture);
        throw std::bad_alloc();
    }
    const int added = WebPAnimEncoderAdd(encoder_, &picture, timestampMs - segmentStartMs_, &config);
    WebPPictureFree(&picture);
    if (!added) {
        if (cancelled_ && cancelled_()) {
            throw std::runtime_error("WebP encoding stopped");
        }
        throw std::runtime_error(EncoderError(encoder_));
    }
    ++inSegment_;
}

// The segment's frames, assembled by the library, go into the file as they
// are (their ANMF chunks), one after the other.
void AnimationWriter::EndSegment(std::int32_t endMs)
{
    const std::int32_t lengthMs = endMs - segmentStartMs_;
    if (!WebPAnimEncoderAdd(encoder_, nullptr, lengthMs, nullptr)) {
        throw std::runtime_error(EncoderError(encoder_));
    }
    WebPData data;
    WebPDataInit(&data);
    if (!WebPAnimEncoderAssemble(encoder_, &data)) {
        throw std::runtime_error(EncoderError(encoder_));
    }
    WebPAnimEncoderDelete(encoder_);
    encoder_ = nullptr;
    struct Owned {
        WebPData* data;
        WebPDemuxer* demuxer = nullptr;
        ~Owned()
        {
            WebPDemuxDelete(demuxer);
            WebPDataClear(data);
        }
    } owned{&data};
    owned.demuxer = WebPDemux(&data);
    if (!owned.demuxer) {
        throw std::runtime_error("WebP encoding failed: the encoder's segment does not read back");
    }
    if (WebPDemuxGetI(owned.demuxer, WEBP_FF_FORMAT_FLAGS) & kAlphaFlag) {
        flags_ |= kAlphaFlag;
    }
    WebPIterator frame;
    if (!WebPDemuxGetFrame(owned.demuxer, 1, &frame)) {
        throw std::runtime_error("WebP encoding failed: the encoder's segment holds no frame");
    }
    std::int32_t shownMs = 0;
    bool first = true;
    do {
        const bool lastOne = frame.frame_num == frame.num_frames;
        // The last frame lasts to the segment's end (a segment of one frame
        // comes back as a still image, without a duration).
        const std::int32_t duration = lastOne ? lengthMs - shownMs : frame.duration;
        shownMs += duration;
        const bool wholeCanvas = frame.x_offset == 0 && frame.y_offset == 0 && frame.width == width_ &&
                                 frame.height == height_;
        // A segment starts afresh: its first frame covers the canvas and
        // replaces what the previous segment left.
        const bool blend = frame.blend_method == WEBP_MUX_BLEND && !(first && wholeCanvas);
        std::string chunk = "ANMF";
        const std::size_t payload = 16 + frame.fragment.size;
        PutLE(chunk, static_cast<std::uint32_t>(payload), 4);
        PutLE(chunk, static_cast<std::uint32_t>(frame.x_offset / 2), 3);
        PutLE(chunk, static_cast<std::uint32_t>(frame.y_offset / 2), 3);
        PutLE(chunk, static_cast<std::uint32_t>(frame.width - 1), 3);
        PutLE(chunk, static_cast<std::uint32_t>(frame.height - 1), 3);
        PutLE(chunk, static_cast<std::uint32_t>(duration), 3);
        chunk += static_cast<char>((blend ? 0 : 2) | (frame.dispose_method == WEBP_MUX_DISPOSE_BACKGROUND ? 1 : 0));
        file_.Write(chunk);
        file_.Write(frame.fragment.bytes, frame.fragment.size);
        if (payload % 2 != 0) {
            file_.Write("", 1);
        }
        first = false;
    } while (WebPDemuxNextFrame(&frame));
    WebPDemuxReleaseIterator(&frame);
}

void AnimationWriter::Finish(std::int32_t endMs)
{
    if (encoder_) {
        EndSegment(endMs);
    }
    const std::uint64_t size = file_.Size();
    if (size - 8 > 0xFFFFFFFFu) {
        throw std::runtime_error(file_.Target() + ": the animation is larger than a WebP file can be (4 GB)");
    }
    std::string riffSize;
    PutLE(riffSize, static_cast<std::uint32_t>(size - 8), 4);
    file_.WriteAt(kRiffSizeAt, riffSize.data(), riffSize.size());
    const std::uint8_t flags = static_cast<std::uint8_t>(flags_ | kAnimationFlag);
    file_.WriteAt(kFlagsAt, &flags, 1);
    file_.Close();
}

}  // namespace velora::previewer
