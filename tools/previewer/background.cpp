// The three kinds of background: the evening sky painted by pixman, a
// "#rrggbb" colour, and a PNG file stretched as the studio stretches it.
#include "previewer/background.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>

#include <pixman.h>

#include "kit/backdrop.h"
#include "previewer/options.h"
#include "previewer/pixman_view.h"
#include "reference/png_io.h"

namespace velora::previewer {
namespace {

std::uint16_t Wide(int byte) { return static_cast<std::uint16_t>(byte * 257); }

bool ParseColour(const std::string& text, reference::Rgba& colour)
{
    if (text.size() != 7 || text[0] != '#') {
        return false;
    }
    unsigned value = 0;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        int digit = 0;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return false;
        }
        value = value * 16 + static_cast<unsigned>(digit);
    }
    colour = {static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 8),
              static_cast<std::uint8_t>(value), 255};
    return true;
}

// An evening sky: deep blue above, pale blue at the horizon.
void PaintGradient(reference::HostSurface& surface)
{
    const pixman_point_fixed_t top{0, 0};
    const pixman_point_fixed_t bottom{0, pixman_int_to_fixed(surface.Height())};
    const pixman_gradient_stop_t stops[] = {
        {pixman_double_to_fixed(0.0), {Wide(0x1B), Wide(0x2A), Wide(0x4E), 0xFFFF}},
        {pixman_double_to_fixed(0.6), {Wide(0x4A), Wide(0x6F), Wide(0xA5), 0xFFFF}},
        {pixman_double_to_fixed(1.0), {Wide(0xA4), Wide(0xC8), Wide(0xE2), 0xFFFF}},
    };
    pixman_image_t* gradient = pixman_image_create_linear_gradient(&top, &bottom, stops, 3);
    if (!gradient) {
        throw std::bad_alloc();
    }
    try {
        const PixmanView view(surface);
        pixman_image_composite32(PIXMAN_OP_SRC, gradient, nullptr, view.Image(), 0, 0, 0, 0, 0, 0,
                                 surface.Width(), surface.Height());
    } catch (...) {
        pixman_image_unref(gradient);
        throw;
    }
    pixman_image_unref(gradient);
}

// The picture stretched over the whole surface, on black, as the studio
// draws a background image.
void PaintImage(reference::HostSurface& surface, const std::string& path)
{
    const std::unique_ptr<reference::HostSurface> image = reference::LoadPng(path);
    kit::StretchPicture(image->Bytes(), image->Width(), image->Height(), surface.Bytes(), surface.Width(),
                            surface.Height());
}

}  // namespace

std::unique_ptr<reference::HostSurface> MakeBackground(const std::string& choice, std::int32_t width, std::int32_t height)
{
    auto surface = std::make_unique<reference::HostSurface>(width, height, "background");
    reference::Rgba colour;
    if (choice == "gradient") {
        PaintGradient(*surface);
    } else if (ParseColour(choice, colour)) {
        surface->Fill(colour);
    } else if (choice.starts_with("#")) {
        throw UsageError("--background " + choice + ": a colour is written #rrggbb");
    } else {
        std::error_code error;
        const char* kinds = " (a background is 'gradient', a #rrggbb colour or a PNG file)";
        if (!std::filesystem::exists(choice, error)) {
            throw UsageError("--background " + choice + ": no such file" + kinds);
        }
        if (std::filesystem::is_directory(choice, error)) {
            throw UsageError("--background " + choice + ": is a folder" + kinds);
        }
        try {
            PaintImage(*surface, choice);
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception& problem) {
            throw UsageError(std::string("--background: ") + problem.what() + kinds);
        }
    }
    return surface;
}

}  // namespace velora::previewer
