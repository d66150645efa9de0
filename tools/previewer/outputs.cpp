#include "previewer/outputs.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <chrono>
#include <stdexcept>

#include <sys/stat.h>

#include <pixman.h>
#include <webp/encode.h>
#include <webp/demux.h>
#include <webp/mux.h>

#include "reference/drawing.h"
#include "reference/png_io.h"
#include "kit/backdrop.h"
#include "kit/pixel_ops.h"
#include "previewer/options.h"

namespace velora::previewer {
namespace {

// The folder, inside the run's temporary folder, that holds the old frames
// while the new ones are put in place.
constexpr const char* kOldFrames = "old";

std::uint16_t Wide(int byte) { return static_cast<std::uint16_t>(byte * 257); }

// A pixman view of a host surface's pixels (bytes R, G, B, A, premultiplied,
// read as one native word: pixman's own form), for the image work the host
// kit does not do. Throws std::bad_alloc when pixman cannot make it.
class PixmanView {
public:
    explicit PixmanView(reference::HostSurface& surface)
        : image_(pixman_image_create_bits(
              std::endian::native == std::endian::little ? PIXMAN_a8b8g8r8 : PIXMAN_r8g8b8a8, surface.Width(),
              surface.Height(), reinterpret_cast<std::uint32_t*>(surface.Bytes()),
              static_cast<int>(surface.Stride())))
    {
        if (!image_) {
            throw std::bad_alloc();
        }
    }
    ~PixmanView() { pixman_image_unref(image_); }
    PixmanView(const PixmanView&) = delete;
    PixmanView& operator=(const PixmanView&) = delete;
    pixman_image_t* Image() const { return image_; }

private:
    pixman_image_t* image_;
};

bool ParseColour(const std::string& text, reference::Rgba& colour)
{
    if (text.size() != 7 || text[0] != '#') {
        return false;
    }
    unsigned value = 0;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        int digit = 0;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return false;
        }
        value = value * 16 + static_cast<unsigned>(digit);
    }
    colour = {static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 8),
              static_cast<std::uint8_t>(value), 255};
    return true;
}

// An evening sky: deep blue above, pale blue at the horizon.
void PaintGradient(reference::HostSurface& surface)
{
    const pixman_point_fixed_t top{0, 0};
    const pixman_point_fixed_t bottom{0, pixman_int_to_fixed(surface.Height())};
    const pixman_gradient_stop_t stops[] = {
        {pixman_double_to_fixed(0.0), {Wide(0x1B), Wide(0x2A), Wide(0x4E), 0xFFFF}},
        {pixman_double_to_fixed(0.6), {Wide(0x4A), Wide(0x6F), Wide(0xA5), 0xFFFF}},
        {pixman_double_to_fixed(1.0), {Wide(0xA4), Wide(0xC8), Wide(0xE2), 0xFFFF}},
    };
    pixman_image_t* gradient = pixman_image_create_linear_gradient(&top, &bottom, stops, 3);
    if (!gradient) {
        throw std::bad_alloc();
    }
    try {
        const PixmanView view(surface);
        pixman_image_composite32(PIXMAN_OP_SRC, gradient, nullptr, view.Image(), 0, 0, 0, 0, 0, 0,
                                 surface.Width(), surface.Height());
    } catch (...) {
        pixman_image_unref(gradient);
        throw;
    }
    pixman_image_unref(gradient);
}

// The picture stretched over the whole surface, on black, as the studio
// draws a background image.
void PaintImage(reference::HostSurface& surface, const std::string& path)
{
    const std::unique_ptr<reference::HostSurface> image = reference::LoadPng(path);
    kit::StretchPicture(image->Bytes(), image->Width(), image->Height(), surface.Bytes(), surface.Width(),
                            surface.Height());
}

}  // namespace

std::unique_ptr<reference::HostSurface> MakeBackground(const std::string& choice, std::int32_t width, std::int32_t height)
{
    auto surface = std::make_unique<reference::HostSurface>(width, height, "background");
    reference::Rgba colour;
    if (choice == "gradient") {
        PaintGradient(*surface);
    } else if (ParseColour(choice, colour)) {
        surface->Fill(colour);
    } else if (choice.starts_with("#")) {
        throw UsageError("--background " + choice + ": a colour is written #rrggbb");
    } else {
        std::error_code error;
        const char* kinds = " (a background is 'gradient', a #rrggbb colour or a PNG file)";
        if (!std::filesystem::exists(choice, error)) {
            throw UsageError("--background " + choice + ": no such file" + kinds);
        }
        if (std::filesystem::is_directory(choice, error)) {
            throw UsageError("--background " + choice + ": is a folder" + kinds);
        }
        try {
            PaintImage(*surface, choice);
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception& problem) {
            throw UsageError(std::string("--background: ") + problem.what() + kinds);
        }
    }
    return surface;
}

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

namespace {
constexpr std::int32_t kSheetColumns = 4;
constexpr std::int32_t kSheetGap = 4;
constexpr double kThumbSide = 240.0;
}  // namespace

ContactSheet::ContactSheet(std::int32_t frameWidth, std::int32_t frameHeight, std::int32_t totalFrames,
                           std::int32_t shown)
    : totalFrames_(std::max(totalFrames, 1)), shown_(std::clamp(shown, 1, std::max(totalFrames, 1)))
{
    for (std::int32_t j = 0; j < shown_; ++j) {
        picks_.push_back(shown_ == 1 ? 0
                                     : static_cast<std::int32_t>(
                                           std::lround(double(j) * (totalFrames_ - 1) / (shown_ - 1))));
    }
    scale_ = std::min(1.0, kThumbSide / std::max(frameWidth, frameHeight));
    thumbWidth_ = std::max(1, static_cast<std::int32_t>(std::lround(frameWidth * scale_)));
    thumbHeight_ = std::max(1, static_cast<std::int32_t>(std::lround(frameHeight * scale_)));
}

std::unique_ptr<reference::HostSurface> ContactSheet::Thumbnail(reference::HostSurface& frame) const
{
    // Downscaling averages the pixels each thumbnail pixel covers.
    auto thumb = std::make_unique<reference::HostSurface>(thumbWidth_, thumbHeight_, "thumbnail");
    const PixmanView source(frame);
    const PixmanView target(*thumb);
    const pixman_fixed_t step = pixman_double_to_fixed(1.0 / scale_);
    pixman_transform_t transform;
    pixman_transform_init_scale(&transform, step, step);
    pixman_image_set_transform(source.Image(), &transform);
    int count = 0;
    pixman_fixed_t* filter = pixman_filter_create_separable_convolution(
        &count, step, step, PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, 4, 4);
    if (filter) {
        pixman_image_set_filter(source.Image(), PIXMAN_FILTER_SEPARABLE_CONVOLUTION, filter, count);
        std::free(filter);
    } else {
        pixman_image_set_filter(source.Image(), PIXMAN_FILTER_BILINEAR, nullptr, 0);
    }
    pixman_image_set_repeat(source.Image(), PIXMAN_REPEAT_PAD);
    pixman_image_composite32(PIXMAN_OP_SRC, source.Image(), nullptr, target.Image(), 0, 0, 0, 0, 0, 0,
                             thumbWidth_, thumbHeight_);
    return thumb;
}

void ContactSheet::Offer(std::int32_t index, reference::HostSurface& frame)
{
    const bool planned = std::find(picks_.begin(), picks_.end(), index) != picks_.end();
    if (!planned && index % stride_ != 0) {
        return;
    }
    kept_[index] = Thumbnail(frame);
    // The thinning set: every stride-th frame, the stride doubling whenever
    // more than twice the shown frames are kept.
    while (static_cast<std::int32_t>(kept_.size()) > 2 * shown_ + static_cast<std::int32_t>(picks_.size())) {
        stride_ *= 2;
        std::erase_if(kept_, [&](const auto& entry) {
            return entry.first % stride_ != 0 &&
                   std::find(picks_.begin(), picks_.end(), entry.first) == picks_.end();
        });
    }
}

std::vector<std::uint8_t> ContactSheet::Encode(std::int32_t drawn, reference::HostSurface& last, const std::string& name)
{
    const std::int32_t shown = std::clamp(shown_, 1, std::max(drawn, 1));
    if (drawn > 0 && !kept_.contains(drawn - 1)) {
        kept_[drawn - 1] = Thumbnail(last);
    }
    const std::int32_t columns = std::min(shown, kSheetColumns);
    const std::int32_t rows = (shown + columns - 1) / columns;
    reference::HostSurface sheet(columns * (thumbWidth_ + kSheetGap) + kSheetGap,
                            rows * (thumbHeight_ + kSheetGap) + kSheetGap, "sheet");
    sheet.Fill({0x20, 0x20, 0x20, 255});
    for (std::int32_t slot = 0; slot < shown; ++slot) {
        // The frame wanted there, evenly spaced over the frames drawn, and
        // the nearest one kept (the very one unless the run stopped early).
        const std::int32_t wanted =
            drawn == totalFrames_ ? picks_[static_cast<std::size_t>(slot)]
            : shown == 1          ? 0
                                  : static_cast<std::int32_t>(std::lround(double(slot) * (drawn - 1) / (shown - 1)));
        auto best = kept_.end();
        for (auto entry = kept_.begin(); entry != kept_.end(); ++entry) {
            if (entry->first < drawn &&
                (best == kept_.end() || std::abs(entry->first - wanted) < std::abs(best->first - wanted))) {
                best = entry;
            }
        }
        if (best == kept_.end()) {
            continue;
        }
        kit::CopyRect(sheet, kSheetGap + (slot % kSheetColumns) * (thumbWidth_ + kSheetGap),
                          kSheetGap + (slot / kSheetColumns) * (thumbHeight_ + kSheetGap), *best->second, 0, 0,
                          thumbWidth_, thumbHeight_);
    }
    return reference::EncodePng(sheet, name);
}

FrameSink::FrameSink(const OutputPaths& paths, std::int32_t width, std::int32_t height, std::int32_t totalFrames,
                     std::int32_t sheetFrames, std::int32_t quality, bool lossless, std::int32_t digits,
                     std::function<bool()> cancelled)
    : paths_(paths), animation_(paths.animation, width, height, quality, lossless, std::move(cancelled)),
      digits_(digits)
{
    if (!paths_.sheet.empty() && sheetFrames > 0) {
        sheet_ = std::make_unique<ContactSheet>(width, height, totalFrames, sheetFrames);
        sheetFile_ = std::make_unique<AtomicFile>(paths_.sheet);
    }
    if (!paths_.framesDir.empty()) {
        // The frames folder is made if missing, but not the folders above
        // it, as for every other output.
        std::error_code error;
        madeFramesDir_ = std::filesystem::create_directory(paths_.framesDir, error);
        if (error || !std::filesystem::is_directory(paths_.framesDir)) {
            throw std::runtime_error(paths_.framesDir + ": cannot make the folder for the frames (" +
                                     (error ? error.message() : std::string("not a folder")) + ")");
        }
        std::string staging =
            (std::filesystem::path(paths_.framesDir) / (std::string(kTemporaryPrefix) + "XXXXXX")).string();
        if (!mkdtemp(staging.data())) {
            throw std::runtime_error(paths_.framesDir + ": cannot make a temporary folder for the frames (" +
                                     std::strerror(errno) + ")");
        }
        staging_ = staging;
    }
    // Frames waiting for the encoder: two keep both threads busy; one when a
    // frame is large (above 16 MB, 2048 x 2048), where memory counts more.
    const std::size_t frameBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
    maxQueued_ = frameBytes > (std::size_t{16} << 20) ? 1 : 2;
    worker_ = std::thread([this] { Run(); });
}

FrameSink::~FrameSink()
{
    {
        const std::lock_guard lock(mutex_);
        closed_ = true;
        if (!error_) {
            error_ = std::make_exception_ptr(std::runtime_error("abandoned"));
        }
    }
    changed_.notify_all();
    if (worker_.joinable()) {
        worker_.join();
    }
    std::error_code error;
    if (!staging_.empty()) {
        // The new frames go; old frames a failed commit could not put back
        // stay in their folder, which the failure's message names.
        for (const auto& entry : std::filesystem::directory_iterator(staging_, error)) {
            if (entry.path().filename() != kOldFrames) {
                std::filesystem::remove_all(entry.path(), error);
            }
        }
        std::filesystem::remove(staging_ / kOldFrames, error);  // only while it is empty
        std::filesystem::remove(staging_, error);
    }
    if (madeFramesDir_ && !paths_.framesDir.empty()) {
        std::filesystem::remove(paths_.framesDir, error);  // only while it is empty
    }
}

void FrameSink::Push(const reference::HostSurface& frame, std::int32_t index, std::int32_t timestampMs)
{
    std::unique_ptr<reference::HostSurface> pixels;
    {
        const std::lock_guard lock(mutex_);
        if (!spare_.empty()) {
            pixels = std::move(spare_.back());
            spare_.pop_back();
        }
    }
    if (!pixels) {
        pixels = std::make_unique<reference::HostSurface>(frame.Width(), frame.Height(), "frame");
    }
    std::memcpy(pixels->Bytes(), frame.Bytes(), frame.Stride() * static_cast<std::size_t>(frame.Height()));
    // The thumbnails are made here, on the drawing's thread, which has time
    // to spare while the encoder's thread is the busier one.
    if (sheet_) {
        sheet_->Offer(index, *pixels);
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return error_ || queue_.size() < maxQueued_; });
    if (error_) {
        std::rethrow_exception(error_);
    }
    queue_.push_back({std::move(pixels), index, timestampMs});
    ++pushed_;
    changed_.notify_all();
}

void FrameSink::Finish(std::int32_t endMs, reference::HostSurface& last,
                       const std::function<void(std::int32_t, std::int32_t)>& progress)
{
    {
        const std::lock_guard lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
    // The sheet is made here while the encoder finishes its last frames.
    std::vector<std::uint8_t> sheetPng;
    if (sheet_ && pushed_ > 0) {
        sheetPng = sheet_->Encode(pushed_, last, paths_.sheet);
    }
    {
        std::unique_lock lock(mutex_);
        while (!error_ && (taken_ < pushed_)) {
            if (progress) {
                const std::int32_t taken = taken_;
                const std::int32_t pushed = pushed_;
                lock.unlock();
                progress(taken, pushed);
                lock.lock();
            }
            changed_.wait_for(lock, std::chrono::milliseconds(200));
        }
    }
    worker_.join();
    if (error_) {
        std::rethrow_exception(error_);
    }
    if (progress) {
        progress(taken_, pushed_);
    }
    animation_.Finish(endMs);
    if (sheetFile_ && !sheetPng.empty()) {
        sheetFile_->Write(sheetPng.data(), sheetPng.size());
        sheetFile_->Close();
    }
}

namespace {

bool Exists(const std::string& path)
{
    struct stat info{};
    return !path.empty() && lstat(path.c_str(), &info) == 0;
}

// What a failed commit kept: the earlier outputs, named.
std::string KeptMessage(const OutputPaths& paths, const std::string& trace, std::size_t oldFrames)
{
    std::vector<std::string> kept;
    for (const std::string& path : {paths.animation, paths.sheet, trace}) {
        if (Exists(path)) {
            kept.push_back(path);
        }
    }
    if (oldFrames > 0) {
        kept.push_back(std::to_string(oldFrames) + (oldFrames == 1 ? " frame in " : " frames in ") + paths.framesDir);
    }
    if (kept.empty()) {
        return "nothing was replaced, and no new file is left";
    }
    std::string list;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        list += (i == 0 ? "" : i + 1 == kept.size() ? " and " : ", ") + kept[i];
    }
    return "nothing was replaced: the earlier " + list + (kept.size() == 1 ? " is" : " are") + " kept as before";
}

}  // namespace

void FrameSink::Commit(const std::vector<std::filesystem::path>& oldFrames, AtomicFile* trace)
{
    FileSwap swap;
    try {
        std::map<std::string, mode_t> oldModes;  // a replaced frame keeps its permissions
        if (!staging_.empty() && !oldFrames.empty()) {
            // The old frames move aside first, each checked that it can go.
            const std::filesystem::path aside = staging_ / kOldFrames;
            if (mkdir(aside.c_str(), 0700) != 0) {
                throw std::runtime_error(paths_.framesDir + ": cannot make a temporary folder for the old frames (" +
                                         std::strerror(errno) + ")");
            }
            for (const std::filesystem::path& frame : oldFrames) {
                struct stat info{};
                if (lstat(frame.c_str(), &info) != 0) {
                    if (errno == ENOENT) {
                        continue;  // gone since it was listed
                    }
                    throw std::runtime_error(frame.string() + ": cannot replace the old frame (" +
                                             std::strerror(errno) + ")");
                }
                if (S_ISDIR(info.st_mode)) {
                    throw std::runtime_error(frame.string() + ": is a folder, not a frame file, so it is not replaced");
                }
                swap.Move(frame.string(), (aside / frame.filename()).string(), frame.string(),
                          "move the old frame aside");
                if (S_ISREG(info.st_mode)) {
                    oldModes[frame.filename().string()] = info.st_mode & 07777;
                }
            }
        }
        animation_.Commit(swap);
        if (sheetFile_) {
            sheetFile_->Commit(swap);
        }
        if (trace) {
            trace->Commit(swap);
        }
        for (const std::string& name : stagedFrames_) {
            const std::filesystem::path staged = staging_ / name;
            const std::filesystem::path target = std::filesystem::path(paths_.framesDir) / name;
            const auto mode = oldModes.find(name);
            if (mode != oldModes.end() && chmod(staged.c_str(), mode->second) != 0) {
                throw std::runtime_error(target.string() + ": cannot give the new frame the old one's permissions (" +
                                         std::strerror(errno) + ")");
            }
            swap.Move(staged.string(), target.string(), target.string(), "put the frame in place");
        }
    } catch (const std::exception& problem) {
        const std::string lost = swap.Undo();
        throw std::runtime_error(std::string(problem.what()) + "; " +
                                 (lost.empty() ? KeptMessage(paths_, trace ? trace->Target() : std::string(),
                                                             oldFrames.size())
                                               : "the other files were put back, but " + lost));
    }
    swap.Keep();
    if (!staging_.empty()) {
        std::error_code error;
        std::filesystem::remove_all(staging_, error);  // the old frames, now replaced
        staging_.clear();
    }
    madeFramesDir_ = false;
}

void FrameSink::Run()
{
    for (;;) {
        Frame frame;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return closed_ || !queue_.empty(); });
            if (queue_.empty()) {
                return;
            }
            frame = std::move(queue_.front());
            queue_.pop_front();
            changed_.notify_all();
            if (error_) {
                continue;  // after a failure, frames are only drained
            }
        }
        try {
            Take(frame);
        } catch (...) {
            const std::lock_guard lock(mutex_);
            error_ = std::current_exception();
            changed_.notify_all();
        }
        const std::lock_guard lock(mutex_);
        ++taken_;
        if (spare_.empty()) {
            spare_.push_back(std::move(frame.pixels));  // for the next Push
        }
        changed_.notify_all();
    }
}

void FrameSink::Take(Frame& frame)
{
    animation_.Add(*frame.pixels, frame.timestampMs);
    if (!staging_.empty()) {
        char name[32];
        std::snprintf(name, sizeof name, "frame-%0*d.png", digits_, frame.index);
        WriteWholeFile((staging_ / name).string(), reference::EncodePng(*frame.pixels, name),
                       (std::filesystem::path(paths_.framesDir) / name).string());
        stagedFrames_.emplace_back(name);
    }
}

}  // namespace velora::previewer
