// An output file that appears whole or not at all: the bytes go to a
// temporary file beside the target, and only a complete, closed file is
// renamed over it. Until then the target, if it exists, is left as it was.
//
// Every temporary name the previewer makes starts with kTemporaryPrefix and
// is short, whatever the output's name, so that any name the file system
// takes for an output also works for its temporary file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velora::previewer {

// The program's name before it was velora_previewer: kept, so that what a
// killed run of an earlier version left is still recognised and removed.
inline constexpr const char* kTemporaryPrefix = ".velora-preview-";

// Puts files in place together: every step can be undone, so that a failure
// part way leaves every target as it was.
class FileSwap {
public:
    FileSwap() = default;
    // Undoes every step unless Keep was called.
    ~FileSwap();
    FileSwap(const FileSwap&) = delete;
    FileSwap& operator=(const FileSwap&) = delete;

    // Renames a complete, closed file over target. An earlier file there
    // gives the new one its permissions and is kept aside until Keep.
    // Throws std::runtime_error naming `shown` and the reason.
    void Replace(const std::string& temporary, const std::string& target, const std::string& shown);
    // Renames from to a name nothing holds. Throws std::runtime_error
    // naming `shown`, what it was doing ("put the frame in place") and the
    // reason.
    void Move(const std::string& from, const std::string& to, const std::string& shown, const char* doing);
    // Every step stays, and the earlier files kept aside are removed.
    void Keep();
    // Undoes every step, latest first. Returns what could not be put back,
    // "" when everything was.
    std::string Undo();

private:
    struct Step {
        std::string from;    // Move: where the file was; Replace: the new file's temporary name
        std::string to;      // where it is now
        std::string backup;  // Replace: the earlier file, kept aside ("" when there was none)
        bool replace = false;
    };
    std::vector<Step> steps_;
    bool kept_ = false;
};

class AtomicFile {
public:
    // Makes the temporary file in the target's folder. shown, if given, is
    // the name messages use for the file (else the target). Throws
    // std::runtime_error naming the file and the reason.
    explicit AtomicFile(std::string target, std::string shown = {});
    // Removes the temporary file unless it was committed.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Appends bytes (buffered). Every failure throws std::runtime_error
    // naming the file and the reason, such as a full disk.
    void Write(const void* bytes, std::size_t size);
    void Write(const std::string& text) { Write(text.data(), text.size()); }
    // Overwrites bytes already written, at offset from the start.
    void WriteAt(std::uint64_t offset, const void* bytes, std::size_t size);
    std::uint64_t Size() const { return written_; }
    // Flushes and closes, checking both; the file is complete afterwards.
    void Close();
    // Close, then rename over the target, on its own.
    void Commit();
    // Close, then rename over the target as one step of swap.
    void Commit(FileSwap& swap);
    // Removes the temporary file now; the target stays as it was.
    void Abandon();

    const std::string& Target() const { return target_; }
    const std::string& Shown() const { return shown_; }

private:
    void Flush();
    [[noreturn]] void Fail(const char* doing, int error) const;

    std::string target_;
    std::string shown_;
    std::string temporary_;
    int fd_ = -1;
    std::vector<char> buffer_;
    std::uint64_t written_ = 0;
    bool committed_ = false;
};

// Writes a whole file at once through an AtomicFile; shown as in AtomicFile.
void WriteWholeFile(const std::string& target, const std::vector<std::uint8_t>& bytes, const std::string& shown = {});

// A free temporary name in folder: kTemporaryPrefix and six random letters.
std::string TemporaryName(const std::string& folder);

}  // namespace velora::previewer
