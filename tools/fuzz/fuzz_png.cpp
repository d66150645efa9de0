// The libFuzzer target of PNG loading as velora_previewer does it: the input
// is a PNG file as downloaded (a sprite sheet, a sprite, a background
// picture). It is written to a file and loaded with LoadPng, then cut into
// cells with SplitSheet (the cell size chosen by the file's last byte, as
// --cell would give it, 0 for the sheet's smaller side) and stretched over a
// small frame as a background picture is.
//
// A file that cannot be used is refused with a std::runtime_error whose
// message names the file; one that loads must fit the host's limits and
// cut into exactly the cells its size allows, each holding the sheet's
// pixels at its place.
//
// It exists to catch: a surface made before its size is checked against the
// limits (or with the size overflowing), libpng writing rows past the
// surface (a wrong stride or format), a cell cut past the sheet's edge or a
// sheet that does not divide taken, a failure thrown without the file's
// name or as something other than std::runtime_error, and memory leaked on
// a refusal. Memory errors and undefined behaviour are the sanitizers' to
// report, hangs libFuzzer's (-timeout).
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "kit/backdrop.h"
#include "reference/png_io.h"

namespace {

using namespace velora::reference;

std::string* file = nullptr;  // where each input is written, in a folder of its own

void RemoveFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(*file).parent_path(), ignored);
}

[[noreturn]] void Fail(const std::string& why)
{
    std::fprintf(stderr, "velora_fuzz_png: FAULT: %s\n", why.c_str());
    std::abort();
}

void WriteInput(const std::uint8_t* data, std::size_t size)
{
    std::FILE* out = std::fopen(file->c_str(), "wb");
    if (out == nullptr || (size > 0 && std::fwrite(data, 1, size, out) != size) || std::fclose(out) != 0) {
        std::fprintf(stderr, "velora_fuzz_png: cannot write %s: %s\n", file->c_str(), std::strerror(errno));
        std::exit(1);
    }
}

// The cell size --cell would give: mostly the sheet's smaller side (0).
std::int32_t CellFor(const std::uint8_t* data, std::size_t size)
{
    constexpr std::int32_t kCells[] = {0, 0, 0, 0, 1, 2, 3, 4, 8, 16, 32, 48, 64, 100, 256, 16384};
    return size == 0 ? 0 : kCells[data[size - 1] % std::size(kCells)];
}

void CheckCells(const HostSurface& sheet, std::int32_t cell, const Sprites& cells)
{
    const std::int32_t side = cell == 0 ? std::min(sheet.Width(), sheet.Height()) : cell;
    const std::int32_t columns = sheet.Width() / side;
    const std::int32_t rows = sheet.Height() / side;
    if (sheet.Width() % side != 0 || sheet.Height() % side != 0 ||
        cells.size() != static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows)) {
        Fail("a sheet of " + std::to_string(sheet.Width()) + " x " + std::to_string(sheet.Height()) + " cut into " +
             std::to_string(cells.size()) + " cells of " + std::to_string(side));
    }
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const HostSurface& sprite = *cells[i];
        const auto x = static_cast<std::int32_t>(i % static_cast<std::size_t>(columns)) * side;
        const auto y = static_cast<std::int32_t>(i / static_cast<std::size_t>(columns)) * side;
        if (sprite.Width() != side || sprite.Height() != side) {
            Fail("cell " + std::to_string(i) + " has the wrong size");
        }
        for (std::int32_t row = 0; row < side; ++row) {
            if (std::memcmp(sprite.At(0, row), sheet.At(x, y + row), sprite.Stride()) != 0) {
                Fail("cell " + std::to_string(i) + " does not hold the sheet's pixels at its place");
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/velora_fuzz_png.XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) {
        std::fprintf(stderr, "velora_fuzz_png: cannot make a folder in %s: %s\n", folder.c_str(),
                     std::strerror(errno));
        std::exit(1);
    }
    file = new std::string(folder + "/input.png");  // lives as long as the process
    std::atexit(RemoveFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    WriteInput(data, size);
    std::unique_ptr<HostSurface> sheet;
    try {
        sheet = LoadPng(*file);
    } catch (const std::runtime_error& error) {
        if (std::string(error.what()).rfind(*file + ": ", 0) != 0) {
            Fail(std::string("a refusal that does not name the file: ") + error.what());
        }
        return 0;
    }
    if (sheet->IsEmpty() || !HostSurface::SizeAllowed(sheet->Width(), sheet->Height())) {
        Fail("a picture of " + std::to_string(sheet->Width()) + " x " + std::to_string(sheet->Height()) +
             " pixels was taken");
    }
    // A background picture over a small frame, as the previewer paints it.
    std::vector<std::uint8_t> frame(std::size_t{24} * 16 * 4);
    velora::kit::StretchPicture(sheet->Bytes(), sheet->Width(), sheet->Height(), frame.data(), 24, 16);

    const std::int32_t cell = CellFor(data, size);
    sheet->SetLabel(*file);
    Sprites cells;
    try {
        cells = SplitSheet(*sheet, cell);
    } catch (const std::runtime_error& error) {
        if (std::string(error.what()).rfind(*file + ": ", 0) != 0) {
            Fail(std::string("a refusal that does not name the file: ") + error.what());
        }
        const std::int32_t side = cell == 0 ? std::min(sheet->Width(), sheet->Height()) : cell;
        if (sheet->Width() % side == 0 && sheet->Height() % side == 0) {
            Fail("a sheet that divides into cells of " + std::to_string(side) + " was refused: " + error.what());
        }
        return 0;
    }
    CheckCells(*sheet, cell, cells);
    return 0;
}
