// PNG files through libpng's simplified API, which reads any PNG as straight
// RGBA: loading premultiplies once for the kit's surfaces, writing converts
// back. Also the sheets cut into cells and the numbered sprite files.
#include "reference/png_io.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <vector>

#include <png.h>

#include "reference/drawing.h"

namespace velora::reference {
namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& reason)
{
    throw std::runtime_error(path + ": " + reason);
}

// Frees the reader on every way out.
struct PngImage {
    png_image image{};
    PngImage()
    {
        image.version = PNG_IMAGE_VERSION;
    }
    ~PngImage() { png_image_free(&image); }
    PngImage(const PngImage&) = delete;
    PngImage& operator=(const PngImage&) = delete;
};

std::string Reason(const png_image& image, const char* fallback)
{
    return image.message[0] ? std::string(image.message) : std::string(fallback);
}

// A parsed numbering pattern: prefix, then the number padded to width, then suffix.
struct NumberPattern {
    std::string prefix;
    std::string suffix;
    int width = 0;
    bool zeroPad = false;

    std::string Name(int number) const
    {
        std::string digits = std::to_string(number);
        if (static_cast<int>(digits.size()) < width) {
            digits.insert(0, static_cast<std::size_t>(width) - digits.size(), zeroPad ? '0' : ' ');
        }
        return prefix + digits + suffix;
    }
};

std::optional<NumberPattern> ParsePattern(const std::string& text)
{
    NumberPattern pattern;
    bool found = false;
    std::string* out = &pattern.prefix;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            *out += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '%') {
            *out += '%';
            ++i;
            continue;
        }
        if (found) {
            return std::nullopt;  // a second conversion
        }
        std::size_t j = i + 1;
        if (j < text.size() && text[j] == '0') {
            pattern.zeroPad = true;
            ++j;
        }
        int width = 0;
        while (j < text.size() && text[j] >= '0' && text[j] <= '9' && width < 100) {
            width = width * 10 + (text[j] - '0');
            ++j;
        }
        if (j >= text.size() || text[j] != 'd' || width > 9) {
            return std::nullopt;
        }
        pattern.width = width;
        found = true;
        out = &pattern.suffix;
        i = j;
    }
    return found ? std::optional(pattern) : std::nullopt;
}

bool IsFile(const std::string& path)
{
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

}  // namespace

std::unique_ptr<HostSurface> LoadPng(const std::string& path)
{
    if (!IsFile(path)) {
        Fail(path, std::filesystem::exists(path) ? "not a file" : "no such file");
    }
    std::error_code sizeError;
    if (std::filesystem::file_size(path, sizeError) == 0 && !sizeError) {
        Fail(path, "an empty file (0 bytes), not a PNG image");
    }
    PngImage png;
    if (!png_image_begin_read_from_file(&png.image, path.c_str())) {
        Fail(path, "not a readable PNG image (" + Reason(png.image, "unknown error") + ")");
    }
    const png_uint_32 width = png.image.width;
    const png_uint_32 height = png.image.height;
    if (width == 0 || height == 0 || width > kMaxSurfaceSide || height > kMaxSurfaceSide ||
        std::int64_t{width} * height > kMaxSurfacePixels) {
        Fail(path, "image of " + std::to_string(width) + " x " + std::to_string(height) +
                       " pixels is larger than the host takes (at most " + std::to_string(kMaxSurfaceSide) +
                       " a side and " + std::to_string(kMaxSurfacePixels) + " pixels in all)");
    }
    png.image.format = PNG_FORMAT_RGBA;
    auto surface = std::make_unique<HostSurface>(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height),
                                                 std::filesystem::path(path).filename().string());
    if (!png_image_finish_read(&png.image, nullptr, surface->Bytes(), static_cast<png_int_32>(surface->Stride()),
                               nullptr)) {
        Fail(path, "corrupt PNG image (" + Reason(png.image, "unknown error") + ")");
    }
    surface->Premultiply();  // the form the blend wants, once, at loading
    return surface;
}

namespace {

// The surface's pixels as libpng writes them: straight (not premultiplied)
// RGBA, with the image's size and format set in png.
std::vector<std::uint8_t> StraightPixels(const HostSurface& surface, const std::string& name, PngImage& png)
{
    if (surface.IsEmpty()) {
        Fail(name, "an image without pixels cannot be written");
    }
    png.image.width = static_cast<png_uint_32>(surface.Width());
    png.image.height = static_cast<png_uint_32>(surface.Height());
    png.image.format = PNG_FORMAT_RGBA;
    std::vector<std::uint8_t> straight(surface.Bytes(), surface.Bytes() + surface.ByteCount());
    kit::Unpremultiply(straight.data(), straight.size() / 4);
    return straight;
}

}  // namespace

void SavePng(const HostSurface& surface, const std::string& path)
{
    PngImage png;
    const std::vector<std::uint8_t> straight = StraightPixels(surface, path, png);
    if (!png_image_write_to_file(&png.image, path.c_str(), 0, straight.data(),
                                 static_cast<png_int_32>(surface.Stride()), nullptr)) {
        Fail(path, "cannot write the PNG image (" + Reason(png.image, "unknown error") + ")");
    }
}

std::vector<std::uint8_t> EncodePng(const HostSurface& surface, const std::string& name)
{
    PngImage png;
    const std::vector<std::uint8_t> straight = StraightPixels(surface, name, png);
    const auto stride = static_cast<png_int_32>(surface.Stride());
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&png.image, nullptr, &size, 0, straight.data(), stride, nullptr)) {
        Fail(name, "cannot encode the PNG image (" + Reason(png.image, "unknown error") + ")");
    }
    std::vector<std::uint8_t> bytes(size);
    if (!png_image_write_to_memory(&png.image, bytes.data(), &size, 0, straight.data(), stride, nullptr)) {
        Fail(name, "cannot encode the PNG image (" + Reason(png.image, "unknown error") + ")");
    }
    bytes.resize(size);
    return bytes;
}

Sprites SplitSheet(const HostSurface& sheet, std::int32_t cell)
{
    const std::string& name = sheet.Label();
    if (sheet.IsEmpty()) {
        Fail(name, "the sheet has no pixels");
    }
    if (cell < 0) {
        Fail(name, "cell size " + std::to_string(cell) + " is negative");
    }
    if (cell == 0) {
        cell = std::min(sheet.Width(), sheet.Height());
    }
    if (sheet.Width() % cell != 0 || sheet.Height() % cell != 0) {
        Fail(name, "a sheet of " + std::to_string(sheet.Width()) + " x " + std::to_string(sheet.Height()) +
                       " pixels does not divide into cells of " + std::to_string(cell) + " x " +
                       std::to_string(cell));
    }
    Sprites sprites;
    const HostSurface& source = sheet;
    for (std::int32_t y = 0; y < sheet.Height(); y += cell) {
        for (std::int32_t x = 0; x < sheet.Width(); x += cell) {
            auto sprite = std::make_unique<HostSurface>(cell, cell, "sprite");
            kit::CopyRect(*sprite, 0, 0, source, x, y, cell, cell);
            sprites.push_back(std::move(sprite));
        }
    }
    return sprites;
}

Sprites LoadSpriteSheet(const std::string& path, std::int32_t cell)
{
    const std::unique_ptr<HostSurface> sheet = LoadPng(path);
    sheet->SetLabel(path);
    return SplitSheet(*sheet, cell);
}

bool IsNumberPattern(const std::string& path) { return ParsePattern(path).has_value(); }

std::vector<std::string> NumberedFiles(const std::string& text)
{
    const std::optional<NumberPattern> pattern = ParsePattern(text);
    if (!pattern) {
        Fail(text, "not a numbering pattern (use one %d or %0Nd, such as petal%02d.png)");
    }
    constexpr int kMostFiles = 100000;
    std::vector<std::string> files;
    for (int number = IsFile(pattern->Name(0)) ? 0 : 1;
         IsFile(pattern->Name(number)) && files.size() < kMostFiles; ++number) {
        files.push_back(pattern->Name(number));
    }
    return files;
}

Sprites LoadNumberedSprites(const std::string& text)
{
    const std::optional<NumberPattern> pattern = ParsePattern(text);
    if (!pattern) {
        Fail(text, "not a numbering pattern (use one %d or %0Nd, such as petal%02d.png)");
    }
    int number = IsFile(pattern->Name(0)) ? 0 : 1;
    if (!IsFile(pattern->Name(number))) {
        Fail(text, "no numbered file found (neither " + pattern->Name(0) + " nor " + pattern->Name(1) + ")");
    }
    constexpr int kMostFiles = 100000;
    Sprites sprites;
    for (; IsFile(pattern->Name(number)) && sprites.size() < kMostFiles; ++number) {
        const std::string path = pattern->Name(number);
        std::unique_ptr<HostSurface> sprite = LoadPng(path);
        if (!sprites.empty() &&
            (sprite->Width() != sprites[0]->Width() || sprite->Height() != sprites[0]->Height())) {
            Fail(path, "is " + std::to_string(sprite->Width()) + " x " + std::to_string(sprite->Height()) +
                           " pixels, but the first sprite is " + std::to_string(sprites[0]->Width()) + " x " +
                           std::to_string(sprites[0]->Height()));
        }
        sprites.push_back(std::move(sprite));
    }
    return sprites;
}

}  // namespace velora::reference
