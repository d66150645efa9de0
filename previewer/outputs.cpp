#include "previewer/outputs.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <pixman.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include "host/graph.h"
#include "host/png_io.h"
#include "previewer/options.h"

namespace velora::preview {
namespace {

std::uint16_t Wide(int byte) { return static_cast<std::uint16_t>(byte * 257); }

// A pixman view of a host surface's pixels (bytes R, G, B, A, premultiplied,
// read as one native word: pixman's own form), for the image work the host
// kit does not do. Throws std::bad_alloc when pixman cannot make it.
class PixmanView {
public:
    explicit PixmanView(host::HostSurface& surface)
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

bool ParseColour(const std::string& text, host::Rgba& colour)
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
void PaintGradient(host::HostSurface& surface)
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

// The image stretched over the whole surface, on black.
void PaintImage(host::HostSurface& surface, const std::string& path)
{
    const std::unique_ptr<host::HostSurface> image = host::LoadPng(path);
    // Scaling mixes neighbours, which wants premultiplied colour: loaded
    // images are, and the copy carries the scaling.
    host::HostSurface premultiplied(image->Width(), image->Height(), "background");
    const PixmanView source(premultiplied);
    pixman_image_composite32(PIXMAN_OP_SRC, PixmanView(*image).Image(), nullptr, source.Image(), 0, 0, 0, 0,
                             0, 0, image->Width(), image->Height());
    pixman_transform_t scale;
    pixman_transform_init_scale(&scale, pixman_double_to_fixed(double(image->Width()) / surface.Width()),
                                pixman_double_to_fixed(double(image->Height()) / surface.Height()));
    pixman_image_set_transform(source.Image(), &scale);
    pixman_image_set_filter(source.Image(), PIXMAN_FILTER_BILINEAR, nullptr, 0);
    pixman_image_set_repeat(source.Image(), PIXMAN_REPEAT_PAD);
    surface.Fill({0, 0, 0, 255});
    pixman_image_composite32(PIXMAN_OP_OVER, source.Image(), nullptr, PixmanView(surface).Image(), 0, 0, 0, 0, 0,
                             0, surface.Width(), surface.Height());
}

void WriteFile(const std::string& path, const std::uint8_t* bytes, std::size_t size)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (file) {
        file.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
        file.close();
    }
    if (!file) {
        throw std::runtime_error(path + ": cannot write the file (" + std::strerror(errno) + ")");
    }
}

}  // namespace

std::unique_ptr<host::HostSurface> MakeBackground(const std::string& choice, std::int32_t width, std::int32_t height)
{
    auto surface = std::make_unique<host::HostSurface>(width, height, "background");
    host::Rgba colour;
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

AnimationWriter::AnimationWriter(std::int32_t width, std::int32_t height, std::int32_t quality, bool lossless)
    : width_(width), height_(height), quality_(quality), lossless_(lossless)
{
    WebPAnimEncoderOptions options;
    if (!WebPAnimEncoderOptionsInit(&options)) {
        throw std::runtime_error("the WebP library does not match its headers");
    }
    options.anim_params.loop_count = 0;  // loop forever
    encoder_ = WebPAnimEncoderNew(width, height, &options);
    if (!encoder_) {
        throw std::runtime_error("cannot start a WebP animation of " + std::to_string(width) + " x " +
                                 std::to_string(height));
    }
}

AnimationWriter::~AnimationWriter() { WebPAnimEncoderDelete(encoder_); }

void AnimationWriter::Add(const host::HostSurface& frame, std::int32_t timestampMs)
{
    WebPConfig config;
    if (!WebPConfigInit(&config)) {
        throw std::runtime_error("the WebP library does not match its headers");
    }
    config.quality = static_cast<float>(quality_);
    config.lossless = lossless_ ? 1 : 0;
    WebPPicture picture;
    if (!WebPPictureInit(&picture)) {
        throw std::runtime_error("the WebP library does not match its headers");
    }
    picture.width = width_;
    picture.height = height_;
    picture.use_argb = 1;
    if (!WebPPictureImportRGBA(&picture, frame.Bytes(), static_cast<int>(frame.Stride()))) {
        WebPPictureFree(&picture);
        throw std::bad_alloc();
    }
    const int added = WebPAnimEncoderAdd(encoder_, &picture, timestampMs, &config);
    WebPPictureFree(&picture);
    if (!added) {
        throw std::runtime_error(std::string("WebP encoding failed: ") + WebPAnimEncoderGetError(encoder_));
    }
}

void AnimationWriter::Write(const std::string& path, std::int32_t endMs)
{
    if (!WebPAnimEncoderAdd(encoder_, nullptr, endMs, nullptr)) {
        throw std::runtime_error(std::string("WebP encoding failed: ") + WebPAnimEncoderGetError(encoder_));
    }
    WebPData data;
    WebPDataInit(&data);
    if (!WebPAnimEncoderAssemble(encoder_, &data)) {
        throw std::runtime_error(std::string("WebP encoding failed: ") + WebPAnimEncoderGetError(encoder_));
    }
    try {
        WriteFile(path, data.bytes, data.size);
    } catch (...) {
        WebPDataClear(&data);
        throw;
    }
    WebPDataClear(&data);
}

namespace {
constexpr std::int32_t kSheetColumns = 4;
constexpr std::int32_t kSheetGap = 4;
constexpr double kThumbSide = 240.0;
}  // namespace

ContactSheet::ContactSheet(std::int32_t frameWidth, std::int32_t frameHeight, std::int32_t totalFrames,
                           std::int32_t shown)
{
    shown = std::clamp(shown, 1, std::max(totalFrames, 1));
    for (std::int32_t j = 0; j < shown; ++j) {
        picks_.push_back(shown == 1 ? 0
                                    : static_cast<std::int32_t>(
                                          std::lround(double(j) * (totalFrames - 1) / (shown - 1))));
    }
    scale_ = std::min(1.0, kThumbSide / std::max(frameWidth, frameHeight));
    thumbWidth_ = std::max(1, static_cast<std::int32_t>(std::lround(frameWidth * scale_)));
    thumbHeight_ = std::max(1, static_cast<std::int32_t>(std::lround(frameHeight * scale_)));
    const std::int32_t columns = std::min(shown, kSheetColumns);
    const std::int32_t rows = (shown + columns - 1) / columns;
    sheet_ = std::make_unique<host::HostSurface>(columns * (thumbWidth_ + kSheetGap) + kSheetGap,
                                                 rows * (thumbHeight_ + kSheetGap) + kSheetGap, "sheet");
    sheet_->Fill({0x20, 0x20, 0x20, 255});
}

bool ContactSheet::Wants(std::int32_t index) const
{
    return std::find(picks_.begin(), picks_.end(), index) != picks_.end();
}

void ContactSheet::Place(std::int32_t index, host::HostSurface& frame)
{
    // Downscaling averages the pixels each thumbnail pixel covers.
    const PixmanView source(frame);
    const PixmanView sheet(*sheet_);
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
    for (std::size_t slot = 0; slot < picks_.size(); ++slot) {
        if (picks_[slot] != index) {
            continue;
        }
        const auto column = static_cast<std::int32_t>(slot) % kSheetColumns;
        const auto row = static_cast<std::int32_t>(slot) / kSheetColumns;
        pixman_image_composite32(PIXMAN_OP_SRC, source.Image(), nullptr, sheet.Image(), 0, 0, 0, 0,
                                 kSheetGap + column * (thumbWidth_ + kSheetGap),
                                 kSheetGap + row * (thumbHeight_ + kSheetGap), thumbWidth_, thumbHeight_);
    }
}

void ContactSheet::Write(const std::string& path) const { host::SavePng(*sheet_, path); }

FrameSink::FrameSink(const OutputPaths& paths, std::int32_t width, std::int32_t height, std::int32_t totalFrames,
                     std::int32_t sheetFrames, std::int32_t quality, bool lossless, std::int32_t digits)
    : paths_(paths), animation_(width, height, quality, lossless), digits_(digits)
{
    if (!paths_.sheet.empty() && sheetFrames > 0) {
        sheet_ = std::make_unique<ContactSheet>(width, height, totalFrames, sheetFrames);
    }
    if (!paths_.framesDir.empty()) {
        std::error_code error;
        std::filesystem::create_directories(paths_.framesDir, error);
        if (error || !std::filesystem::is_directory(paths_.framesDir)) {
            throw std::runtime_error(paths_.framesDir + ": cannot make the folder for the frames (" +
                                     (error ? error.message() : std::string("not a folder")) + ")");
        }
    }
    // Frames waiting to be written: enough for smooth drawing, bounded in memory.
    const std::size_t frameBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
    maxQueued_ = std::max<std::size_t>(4, (std::size_t{512} << 20) / std::max<std::size_t>(frameBytes, 1));
    worker_ = std::thread([this] { Run(); });
}

FrameSink::~FrameSink()
{
    {
        const std::lock_guard lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable()) {
        worker_.join();
    }
}

void FrameSink::Push(const host::HostSurface& frame, std::int32_t index, std::int32_t timestampMs)
{
    Frame copy{std::make_unique<host::HostSurface>(frame.Width(), frame.Height(), "frame"), index, timestampMs};
    std::memcpy(copy.pixels->Bytes(), frame.Bytes(), frame.Stride() * static_cast<std::size_t>(frame.Height()));
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return error_ || queue_.size() < maxQueued_; });
    if (error_) {
        std::rethrow_exception(error_);
    }
    queue_.push_back(std::move(copy));
    changed_.notify_all();
}

void FrameSink::Finish(std::int32_t endMs)
{
    {
        const std::lock_guard lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
    worker_.join();
    if (error_) {
        std::rethrow_exception(error_);
    }
    animation_.Write(paths_.animation, endMs);
    if (sheet_) {
        sheet_->Write(paths_.sheet);
    }
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
    }
}

void FrameSink::Take(Frame& frame)
{
    animation_.Add(*frame.pixels, frame.timestampMs);
    if (sheet_ && sheet_->Wants(frame.index)) {
        sheet_->Place(frame.index, *frame.pixels);
    }
    if (!paths_.framesDir.empty()) {
        char name[32];
        std::snprintf(name, sizeof name, "frame-%0*d.png", digits_, frame.index);
        host::SavePng(*frame.pixels, (std::filesystem::path(paths_.framesDir) / name).string());
    }
}

}  // namespace velora::preview
