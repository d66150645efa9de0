// The checks made on the user's files before anything is loaded or
// written: no two outputs, and no output and input, naming one file (by path
// and by file identity); every output's place writable; the frames folder
// free of an earlier run's frames.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "previewer/frame_sink.h"
#include "previewer/options.h"

namespace velora::previewer {

// Refuses two outputs naming one file, or an output naming a file the run
// reads (background, sprites, script, the plug-in, the host modules).
void CheckDistinct(const Options& options, const OutputPaths& outputs, const std::string& trace,
                   const std::string& pluginPath, const std::string& hostDir);

// A file the run will write: its folder exists and takes files, and the
// file, if it is there, can be replaced.
void CheckWritable(const std::string& path, const char* what);

// The frames folder: made if missing, and holding no frames of an earlier
// run unless --force lets them go. Returns the frame files to remove.
std::vector<std::filesystem::path> CheckFramesFolder(const Options& options);

// What an earlier run killed outright (SIGKILL, a power cut) left in the
// given folders: the temporary files and folders of kTemporaryPrefix, ours
// and older than any run lasts (a day), are removed. A temporary folder
// still holding old frames is kept. Returns a line for the user about
// each removal, and a warning about each folder kept.
struct Leftovers {
    std::vector<std::string> removed;
    std::vector<std::string> kept;
};
Leftovers RemoveLeftovers(const std::vector<std::string>& folders);

}  // namespace velora::previewer
