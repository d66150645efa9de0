// The checks on the user's files, made before the plug-in is loaded and
// before any output is touched.
#include "previewer/file_checks.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "previewer/atomic_file.h"
#include "reference/png_io.h"

namespace velora::previewer {
namespace {

namespace fs = std::filesystem;

bool IsFrameFile(const std::string& name)
{
    // frame-<digits>.png
    constexpr std::string_view prefix = "frame-";
    constexpr std::string_view suffix = ".png";
    if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix)) {
        return false;
    }
    return std::all_of(name.begin() + prefix.size(), name.end() - suffix.size(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

fs::path Key(const std::string& path)
{
    std::error_code error;
    fs::path key = fs::weakly_canonical(fs::absolute(path), error);
    return error ? fs::absolute(path).lexically_normal() : key;
}

bool IsFile(const std::string& choice)
{
    return !choice.empty() && choice != "gradient" && !choice.starts_with("#");
}

// A file by its identity: two paths (hard links, symbolic links, "a/../b")
// name one file when their device and inode agree.
struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    bool exists = false;
    bool operator==(const Identity& other) const
    {
        return exists && other.exists && device == other.device && inode == other.inode;
    }
};

Identity IdentityOf(const std::string& path)
{
    struct stat info{};
    if (stat(path.c_str(), &info) != 0) {
        return {};
    }
    return {info.st_dev, info.st_ino, true};
}

struct NamedFile {
    std::string option;
    std::string path;
    Identity identity;
    fs::path key;
};

NamedFile Named(std::string option, std::string path)
{
    const Identity identity = IdentityOf(path);
    fs::path key = Key(path);
    return {std::move(option), std::move(path), identity, std::move(key)};
}

bool Same(const NamedFile& a, const NamedFile& b) { return a.identity == b.identity || a.key == b.key; }

// The files the run reads: background, sprites (every file a numbered
// pattern reads), script, the plug-in and the host modules.
std::vector<NamedFile> Inputs(const Options& options, const std::string& pluginPath, const std::string& hostDir)
{
    std::vector<NamedFile> inputs;
    if (IsFile(options.background)) {
        inputs.push_back(Named("--background", options.background));
    }
    if (!options.sprites.empty()) {
        if (reference::IsNumberPattern(options.sprites)) {
            for (const std::string& file : reference::NumberedFiles(options.sprites)) {
                inputs.push_back(Named("--sprites", file));
            }
        } else {
            inputs.push_back(Named("--sprites", options.sprites));
        }
    }
    if (!options.script.empty() && options.script != "-") {
        inputs.push_back(Named("--script", options.script));
    }
    inputs.push_back(Named("--plugin", pluginPath));
    for (const char* module : {"MainSystem.so", "Graph.so", "SurfaceFactory.so"}) {
        inputs.push_back(Named("--host-dir", (fs::path(hostDir) / module).string()));
    }
    return inputs;
}

// Two outputs naming one file, or an output naming an input, are refused,
// by path and by file identity.
void CheckDistinct(const Options& options, const OutputPaths& outputs, const std::string& trace,
                   const std::vector<NamedFile>& inputs)
{
    const bool sheetGiven = std::find(options.given.begin(), options.given.end(), "sheet") != options.given.end();
    std::vector<NamedFile> files = {Named("--output", outputs.animation)};
    if (!outputs.sheet.empty()) {
        files.push_back(Named("--sheet", outputs.sheet));
    }
    if (!trace.empty()) {
        files.push_back(Named("--trace", trace));
    }
    // The sheet's name comes from --output unless --sheet gave it.
    const auto what = [&](const NamedFile& file) {
        if (file.option == "--sheet" && !sheetGiven) {
            return "the contact sheet " + file.path + " (named after --output; --sheet names another, "
                   "--sheet-frames 0 makes none)";
        }
        return file.option + " " + file.path;
    };
    const auto inputName = [](const NamedFile& input) {
        return input.option == "--sprites" || input.option == "--host-dir" ? input.option + " file " + input.path
                                                                            : input.option + " file";
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
        for (std::size_t j = i + 1; j < files.size(); ++j) {
            if (Same(files[i], files[j])) {
                throw UsageError(what(files[j]) + " names the same file as " + files[i].option);
            }
        }
        for (const NamedFile& input : inputs) {
            if (Same(files[i], input)) {
                throw UsageError(what(files[i]) + " would overwrite the " + inputName(input));
            }
        }
    }
    if (outputs.framesDir.empty()) {
        return;
    }
    const fs::path folder = Key(outputs.framesDir);
    for (const NamedFile& file : files) {
        if (file.key == folder) {
            throw UsageError("--frames-dir " + outputs.framesDir + " names the same file as " + file.option);
        }
        if (file.key.parent_path() == folder && IsFrameFile(file.key.filename().string())) {
            throw UsageError(what(file) + " is one of the frame files of --frames-dir");
        }
    }
    for (const NamedFile& input : inputs) {
        if (input.key == folder) {
            throw UsageError("--frames-dir " + outputs.framesDir + " names the " + inputName(input));
        }
        if (input.key.parent_path() == folder && IsFrameFile(input.key.filename().string())) {
            throw UsageError("--frames-dir " + outputs.framesDir + " would replace the " + inputName(input));
        }
    }
    // A frame file of an earlier run (replaced with --force) may be a hard
    // link to an input.
    std::error_code error;
    if (fs::is_directory(folder, error)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
            if (!IsFrameFile(entry.path().filename().string())) {
                continue;
            }
            const NamedFile frame = Named("--frames-dir", entry.path().string());
            for (const NamedFile& input : inputs) {
                if (Same(frame, input)) {
                    throw UsageError("--frames-dir " + outputs.framesDir + ": its " +
                                     entry.path().filename().string() + " is the " + inputName(input));
                }
            }
        }
    }
}

std::string Reason() { return std::strerror(errno); }

}  // namespace

void CheckDistinct(const Options& options, const OutputPaths& outputs, const std::string& trace,
                   const std::string& pluginPath, const std::string& hostDir)
{
    CheckDistinct(options, outputs, trace, Inputs(options, pluginPath, hostDir));
}

void CheckWritable(const std::string& path, const char* what)
{
    std::error_code error;
    const fs::path file = fs::absolute(path);
    if (fs::is_directory(file, error)) {
        throw std::runtime_error(std::string("cannot write the ") + what + " " + path + ": it is a folder");
    }
    const fs::path parent = file.parent_path();
    if (!fs::is_directory(parent, error)) {
        throw std::runtime_error(std::string("cannot write the ") + what + " " + path + ": no folder " +
                                 parent.string());
    }
    if (access(parent.c_str(), W_OK | X_OK) != 0) {
        throw std::runtime_error(std::string("cannot write the ") + what + " " + path + " in " + parent.string() +
                                 ": " + Reason());
    }
    if (fs::exists(file, error) && access(file.c_str(), W_OK) != 0) {
        throw std::runtime_error(std::string("cannot write the ") + what + " " + path + ": " + Reason());
    }
}

// The frames folder: made if missing, and holding no frames of an earlier
// run unless --force lets them go. Returns the frame files to remove.
std::vector<fs::path> CheckFramesFolder(const Options& options)
{
    // The frames folder is made if missing; the folder it goes in must be
    // there, as for every output.
    std::error_code error;
    fs::path folder = fs::absolute(options.framesDir).lexically_normal();
    if (!folder.has_filename()) {
        folder = folder.parent_path();
    }
    if (!fs::exists(folder, error)) {
        const fs::path parent = folder.parent_path();
        if (!fs::is_directory(parent, error)) {
            throw std::runtime_error("cannot make the frames folder " + options.framesDir + ": no folder " +
                                     parent.string());
        }
        if (access(parent.c_str(), W_OK | X_OK) != 0) {
            throw std::runtime_error("cannot make the frames folder " + options.framesDir + " in " + parent.string() +
                                     ": " + Reason());
        }
        return {};
    }
    if (!fs::is_directory(folder, error)) {
        throw std::runtime_error("--frames-dir " + options.framesDir + " is a file, not a folder");
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        throw std::runtime_error("cannot write the frames in " + options.framesDir + ": " + Reason());
    }
    std::vector<fs::path> frames;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        if (IsFrameFile(entry.path().filename().string())) {
            frames.push_back(entry.path());
        }
    }
    if (!frames.empty() && !options.force) {
        std::sort(frames.begin(), frames.end());
        throw UsageError("--frames-dir " + options.framesDir + " already holds " + std::to_string(frames.size()) +
                         " frame file" + (frames.size() == 1 ? "" : "s") + " (" + frames.front().filename().string() +
                         (frames.size() > 1 ? ", ..." : "") +
                         "): add --force to replace them, or name another folder");
    }
    return frames;
}

Leftovers RemoveLeftovers(const std::vector<std::string>& folders)
{
    // A run lasts at most minutes of drawing and encoding; a day is well past it.
    constexpr auto kOlderThan = std::chrono::hours(24);
    const std::string prefix = kTemporaryPrefix;
    const auto now = std::chrono::system_clock::now();
    Leftovers leftovers;
    std::vector<fs::path> seen;
    for (const std::string& name : folders) {
        const fs::path folder = Key(name);
        if (std::find(seen.begin(), seen.end(), folder) != seen.end()) {
            continue;
        }
        seen.push_back(folder);
        std::error_code error;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
            const std::string file = entry.path().filename().string();
            struct stat info{};
            if (file.size() != prefix.size() + 6 || !file.starts_with(prefix) ||
                lstat(entry.path().c_str(), &info) != 0 || info.st_uid != geteuid()) {
                continue;
            }
            const auto changed = std::chrono::system_clock::from_time_t(info.st_mtim.tv_sec);
            if (now - changed < kOlderThan) {
                continue;  // perhaps another run's, at work now
            }
            const fs::path old = entry.path() / "old";
            std::error_code empty;
            if (S_ISDIR(info.st_mode) && fs::exists(old, empty) && !fs::is_empty(old, empty)) {
                leftovers.kept.push_back(old.string() + " holds old frames that a run killed while putting its "
                                         "files in place did not put back: move them back to " +
                                         entry.path().parent_path().string() + " or remove them");
                continue;
            }
            std::error_code removed;
            fs::remove_all(entry.path(), removed);
            if (!removed) {
                leftovers.removed.push_back("removed " + entry.path().string() +
                                            ", left by an earlier run that was killed");
            }
        }
    }
    return leftovers;
}

}  // namespace velora::previewer
