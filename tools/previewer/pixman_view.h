// The one way into pixman, for the image work the host kit does not do:
// the background's gradient sky and the contact sheet's thumbnails. Only
// the previewer's own sources include it, as only they see pixman's headers.
#pragma once

#include <bit>
#include <cstdint>
#include <new>

#include <pixman.h>

#include "reference/surface.h"

namespace velora::previewer {

// A pixman view of a host surface's pixels (bytes R, G, B, A, premultiplied,
// read as one native word: pixman's own form), for the image work the host
// kit does not do. Throws std::bad_alloc when pixman cannot make it.
class PixmanView {
public:
    explicit PixmanView(reference::HostSurface& surface)
        : image_(pixman_image_create_bits(
              std::endian::native == std::endian::little ? PIXMAN_a8b8g8r8 : PIXMAN_r8g8b8a8, surface.Width(),
              surface.Height(), reinterpret_cast<std::uint32_t*>(surface.Bytes()),
              static_cast<int>(surface.Stride())))
    {
        if (!image_) {
            throw std::bad_alloc();
        }
    }
    ~PixmanView() { pixman_image_unref(image_); }
    PixmanView(const PixmanView&) = delete;
    PixmanView& operator=(const PixmanView&) = delete;
    pixman_image_t* Image() const { return image_; }

private:
    pixman_image_t* image_;
};

}  // namespace velora::previewer
