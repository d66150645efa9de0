// PNG files: loading sprites and images, writing frames and sheets.
//
// Every failure (a missing, unreadable or corrupt file, an image too large
// for a surface, a sheet that does not split) throws std::runtime_error
// whose message names the file and the reason.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "reference/host_api.h"
#include "reference/surface.h"

namespace velora::reference {

using Sprites = std::vector<std::unique_ptr<HostSurface>>;

// The image as a surface, with straight alpha (opaque when the file has none).
VELORA_REFERENCE_API std::unique_ptr<HostSurface> LoadPng(const std::string& path);

// Writes the surface with its alpha.
VELORA_REFERENCE_API void SavePng(const HostSurface& surface, const std::string& path);

// The PNG file SavePng writes, in memory; name is for the error message.
VELORA_REFERENCE_API std::vector<std::uint8_t> EncodePng(const HostSurface& surface, const std::string& name);

// Cuts a sheet into square cells of cell x cell pixels, row by row, left to
// right. cell 0 takes the sheet's smaller side (a strip of sprites in one row
// or one column). The sheet must divide into whole cells.
VELORA_REFERENCE_API Sprites SplitSheet(const HostSurface& sheet, std::int32_t cell);

// LoadPng, then SplitSheet.
VELORA_REFERENCE_API Sprites LoadSpriteSheet(const std::string& path, std::int32_t cell);

// Numbered files: a pattern with one %d (optionally %0Nd), such as
// "petal%02d.png"; %% is a literal percent sign. Files are read from number 0
// (or 1 when there is no file 0) up to the first number without a file, and
// must all be the same size.
VELORA_REFERENCE_API Sprites LoadNumberedSprites(const std::string& pattern);

// The files LoadNumberedSprites reads for this pattern, in order (empty
// when it reads none). Throws like LoadNumberedSprites for a bad pattern.
VELORA_REFERENCE_API std::vector<std::string> NumberedFiles(const std::string& pattern);

// True when path holds a %d-style pattern that LoadNumberedSprites accepts.
VELORA_REFERENCE_API bool IsNumberPattern(const std::string& path);

}  // namespace velora::reference
