// The frame sink's two threads (the drawing pushes, the encoder takes) and
// its commit: old frames moved aside, every new file put in place, and on
// any failure every move undone, with a message naming what was kept.
#include "previewer/frame_sink.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "reference/png_io.h"

namespace velora::previewer {
namespace {

// The folder, inside the run's temporary folder, that holds the old frames
// while the new ones are put in place.
constexpr const char* kOldFrames = "old";

}  // namespace

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
