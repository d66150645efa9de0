// The scene behind the effect: a picture (a screenshot of the game, as a
// rule) stretched over the whole frame. The previewer's --background image
// and the studio's background image both come through here, so the two tools
// put the same pixels behind the effect from the same picture.
#pragma once

#include <cstdint>

namespace velora::kit {

// Fills the width x height frame (four bytes a pixel, rows without padding)
// with the picture (the same layout, premultiplied, as loaded) stretched to
// it, over black, so the frame comes out opaque. Each frame pixel takes the
// picture at the same place, measured from pixel centres, mixing the four
// nearest pixels by distance (bilinear); past the picture's edge its edge
// pixels go on. A picture of the frame's own size comes out unchanged
// (over black). Nothing happens when either is empty.
void StretchPicture(const std::uint8_t* picture, std::int32_t pictureWidth, std::int32_t pictureHeight,
                    std::uint8_t* frame, std::int32_t width, std::int32_t height);

}  // namespace velora::kit
