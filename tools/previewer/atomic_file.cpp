// The system calls behind AtomicFile and FileSwap: a temporary file made
// beside its target with the permissions a new file would get, every write
// and close checked, and renames that never replace a file unasked.
#include "previewer/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>

namespace velora::previewer {
namespace {

constexpr std::size_t kBufferSize = 1 << 16;

// The permissions a newly made file gets from the process's umask.
mode_t NewFileMode()
{
    static const mode_t mode = [] {
        const mode_t mask = umask(0);
        umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}

std::string FolderOf(const std::string& path)
{
    const std::filesystem::path file(path);
    return file.has_parent_path() ? file.parent_path().string() : std::string(".");
}

// rename, refusing to replace a file at to.
int RenameNoReplace(const std::string& from, const std::string& to)
{
    const int done = renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (done == 0 || (errno != EINVAL && errno != ENOSYS)) {
        return done;
    }
    // A file system without the flag: the check and the rename are two steps.
    struct stat info{};
    if (lstat(to.c_str(), &info) == 0) {
        errno = EEXIST;
        return -1;
    }
    return std::rename(from.c_str(), to.c_str());
}

}  // namespace

std::string TemporaryName(const std::string& folder)
{
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    for (;;) {
        std::string name = kTemporaryPrefix;
        for (int i = 0; i < 6; ++i) {
            name += kLetters[pick(random)];
        }
        std::string path = (std::filesystem::path(folder) / name).string();
        struct stat info{};
        if (lstat(path.c_str(), &info) != 0) {
            return path;
        }
    }
}

FileSwap::~FileSwap()
{
    if (!kept_) {
        Undo();
    }
}

void FileSwap::Replace(const std::string& temporary, const std::string& target, const std::string& shown)
{
    Step step{temporary, target, {}, true};
    bool linked = false;
    struct stat old{};
    if (lstat(target.c_str(), &old) == 0) {
        if (S_ISDIR(old.st_mode)) {
            throw std::runtime_error(shown + ": is a folder, so it is not replaced");
        }
        if (S_ISREG(old.st_mode) && chmod(temporary.c_str(), old.st_mode & 07777) != 0) {
            throw std::runtime_error(shown + ": cannot give the new file the earlier one's permissions (" +
                                     std::strerror(errno) + ")");
        }
        // A second name for the earlier file, to put it back by; where the
        // file system has no hard links, the file itself moves aside.
        for (int attempt = 0; step.backup.empty() && attempt < 100; ++attempt) {
            std::string backup = TemporaryName(FolderOf(target));
            if (link(target.c_str(), backup.c_str()) == 0) {
                linked = true;
                step.backup = backup;
            } else if (errno != EEXIST && RenameNoReplace(target, backup) == 0) {
                step.backup = backup;
            } else if (errno != EEXIST) {
                throw std::runtime_error(shown + ": cannot keep the earlier file aside (" + std::strerror(errno) +
                                         ")");
            }
        }
        if (step.backup.empty()) {
            throw std::runtime_error(shown + ": cannot keep the earlier file aside (no free temporary name)");
        }
    }
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = errno;
        std::string lost;
        if (linked) {
            ::unlink(step.backup.c_str());
        } else if (!step.backup.empty() && RenameNoReplace(step.backup, target) != 0) {
            lost = "; the earlier file could not be put back: it is " + step.backup;
        }
        throw std::runtime_error(shown + ": cannot put the file in place (" + std::strerror(error) + ")" + lost);
    }
    steps_.push_back(step);
}

void FileSwap::Move(const std::string& from, const std::string& to, const std::string& shown, const char* doing)
{
    if (RenameNoReplace(from, to) != 0) {
        throw std::runtime_error(shown + ": cannot " + doing + " (" + std::string(std::strerror(errno)) + ")");
    }
    steps_.push_back({from, to, {}, false});
}

void FileSwap::Keep()
{
    kept_ = true;
    for (const Step& step : steps_) {
        if (!step.backup.empty()) {
            ::unlink(step.backup.c_str());
        }
    }
    steps_.clear();
}

std::string FileSwap::Undo()
{
    std::string lost;
    const auto note = [&lost](const std::string& what) { lost += (lost.empty() ? "" : "; ") + what; };
    for (auto step = steps_.rbegin(); step != steps_.rend(); ++step) {
        if (!step->replace) {
            if (RenameNoReplace(step->to, step->from) != 0) {
                note(step->from + " could not be put back (" + std::strerror(errno) + "): it is " + step->to);
            }
        } else if (step->backup.empty()) {
            ::unlink(step->to.c_str());  // the new file; no earlier one was there
        } else if (std::rename(step->backup.c_str(), step->to.c_str()) != 0) {
            note("the earlier " + step->to + " could not be put back (" + std::strerror(errno) + "): it is " +
                 step->backup);
        }
    }
    steps_.clear();
    kept_ = true;
    return lost;
}

AtomicFile::AtomicFile(std::string target, std::string shown)
    : target_(std::move(target)), shown_(shown.empty() ? target_ : std::move(shown))
{
    const std::string folder = FolderOf(target_);
    temporary_ = (std::filesystem::path(folder) / (std::string(kTemporaryPrefix) + "XXXXXX")).string();
    fd_ = mkostemp(temporary_.data(), O_CLOEXEC);
    if (fd_ < 0) {
        const int error = errno;
        temporary_.clear();
        throw std::runtime_error(shown_ + ": cannot make a temporary file in " + FolderOf(shown_) + " (" +
                                 std::strerror(error) + ")");
    }
    if (fchmod(fd_, NewFileMode()) != 0) {
        // Thrown from the constructor, so no destructor will remove it.
        const int error = errno;
        Abandon();
        Fail("set the permissions of", error);
    }
    buffer_.reserve(kBufferSize);
}

AtomicFile::~AtomicFile() { Abandon(); }

void AtomicFile::Fail(const char* doing, int error) const
{
    // Nothing is put in place before every file is complete, so a file that
    // cannot be written leaves every earlier output as it was.
    throw std::runtime_error(shown_ + ": cannot " + doing + " the file (" + std::strerror(error) +
                             "); nothing was replaced: every earlier output is kept as it was");
}

void AtomicFile::Flush()
{
    std::size_t done = 0;
    while (done < buffer_.size()) {
        const ssize_t wrote = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            Fail("write", wrote < 0 ? errno : ENOSPC);
        }
        done += static_cast<std::size_t>(wrote);
    }
    buffer_.clear();
}

void AtomicFile::Write(const void* bytes, std::size_t size)
{
    if (fd_ < 0) {
        Fail("write", EBADF);
    }
    const char* data = static_cast<const char*>(bytes);
    if (buffer_.size() + size > kBufferSize) {
        Flush();
    }
    if (size >= kBufferSize) {
        buffer_.assign(data, data + size);
        Flush();
    } else {
        buffer_.insert(buffer_.end(), data, data + size);
    }
    written_ += size;
}

void AtomicFile::WriteAt(std::uint64_t offset, const void* bytes, std::size_t size)
{
    if (fd_ < 0) {
        Fail("write", EBADF);
    }
    Flush();
    std::size_t done = 0;
    const char* data = static_cast<const char*>(bytes);
    while (done < size) {
        const ssize_t wrote = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(offset + done));
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            Fail("write", wrote < 0 ? errno : ENOSPC);
        }
        done += static_cast<std::size_t>(wrote);
    }
}

void AtomicFile::Close()
{
    if (fd_ < 0) {
        return;
    }
    Flush();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        Fail("close", errno);
    }
}

void AtomicFile::Commit()
{
    FileSwap swap;
    Commit(swap);
    swap.Keep();
}

void AtomicFile::Commit(FileSwap& swap)
{
    Close();
    if (committed_ || temporary_.empty()) {
        return;
    }
    swap.Replace(temporary_, target_, shown_);
    committed_ = true;
}

void AtomicFile::Abandon()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!committed_ && !temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

void WriteWholeFile(const std::string& target, const std::vector<std::uint8_t>& bytes, const std::string& shown)
{
    AtomicFile file(target, shown);
    file.Write(bytes.data(), bytes.size());
    file.Commit();
}

}  // namespace velora::previewer
