// An output file that appears whole or not at all: the bytes go to a
// temporary file beside the target, and only a complete, closed file is
// renamed over it. Until then the target, if it exists, is left as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velora::preview {

class AtomicFile {
public:
    // Makes the temporary file in the target's folder. Throws
    // std::runtime_error naming the target and the reason.
    explicit AtomicFile(std::string target);
    // Removes the temporary file unless it was committed.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Appends bytes (buffered). Every failure throws std::runtime_error
    // naming the target and the reason, such as a full disk.
    void Write(const void* bytes, std::size_t size);
    void Write(const std::string& text) { Write(text.data(), text.size()); }
    // Overwrites bytes already written, at offset from the start.
    void WriteAt(std::uint64_t offset, const void* bytes, std::size_t size);
    std::uint64_t Size() const { return written_; }
    // Flushes and closes, checking both; the file is complete afterwards.
    void Close();
    // Close, then rename over the target.
    void Commit();
    // Removes the temporary file now; the target stays as it was.
    void Abandon();

    const std::string& Target() const { return target_; }

private:
    void Flush();
    [[noreturn]] void Fail(const char* doing, int error) const;

    std::string target_;
    std::string temporary_;
    int fd_ = -1;
    std::vector<char> buffer_;
    std::uint64_t written_ = 0;
    bool committed_ = false;
};

// Writes a whole file at once through an AtomicFile.
void WriteWholeFile(const std::string& target, const std::vector<std::uint8_t>& bytes);

}  // namespace velora::preview
