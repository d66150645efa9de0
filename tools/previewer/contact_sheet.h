// The contact sheet: a few frames spread evenly over the run, side by side in
// one PNG, to be seen at a glance. Apart because it chooses its frames as
// they come, so that a run stopped early still gets a sheet of what it drew.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "reference/surface.h"

namespace velora::previewer {

// Evenly spaced frames, scaled down side by side in rows of four. Offered
// every frame in order, it keeps the thumbnails of the planned frames and of
// a thinning set over the frames so far, so that a run stopped early still
// gets its picks spread over the frames actually drawn.
class ContactSheet {
public:
    ContactSheet(std::int32_t frameWidth, std::int32_t frameHeight, std::int32_t totalFrames, std::int32_t shown);

    void Offer(std::int32_t index, reference::HostSurface& frame);
    // The sheet of the first `drawn` frames; last is frame drawn - 1.
    // Throws std::runtime_error.
    std::vector<std::uint8_t> Encode(std::int32_t drawn, reference::HostSurface& last, const std::string& name);

private:
    std::unique_ptr<reference::HostSurface> Thumbnail(reference::HostSurface& frame) const;

    std::int32_t totalFrames_;
    std::int32_t shown_;
    std::vector<std::int32_t> picks_;
    std::int32_t thumbWidth_ = 0;
    std::int32_t thumbHeight_ = 0;
    double scale_ = 1.0;
    std::map<std::int32_t, std::unique_ptr<reference::HostSurface>> kept_;  // frame -> thumbnail
    std::int32_t stride_ = 1;
};

}  // namespace velora::previewer
