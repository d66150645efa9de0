#include "previewer/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace velora::preview {
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

}  // namespace

AtomicFile::AtomicFile(std::string target) : target_(std::move(target))
{
    const std::filesystem::path path(target_);
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::string name(1, '.');
    name.append(path.filename().string()).append(".XXXXXX");
    temporary_ = (folder / name).string();
    fd_ = mkostemp(temporary_.data(), O_CLOEXEC);
    if (fd_ < 0) {
        const int error = errno;
        temporary_.clear();
        throw std::runtime_error(target_ + ": cannot make a temporary file in " + folder.string() + " (" +
                                 std::strerror(error) + ")");
    }
    if (fchmod(fd_, NewFileMode()) != 0) {
        Fail("set the permissions of", errno);
    }
    buffer_.reserve(kBufferSize);
}

AtomicFile::~AtomicFile() { Abandon(); }

void AtomicFile::Fail(const char* doing, int error) const
{
    throw std::runtime_error(target_ + ": cannot " + doing + " the file (" + std::strerror(error) +
                             "); an earlier file of that name is kept as it was");
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
    Close();
    if (committed_ || temporary_.empty()) {
        return;
    }
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        Fail("put in place", errno);
    }
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

void WriteWholeFile(const std::string& target, const std::vector<std::uint8_t>& bytes)
{
    AtomicFile file(target);
    file.Write(bytes.data(), bytes.size());
    file.Commit();
}

}  // namespace velora::preview
