// Picking the sheet's frames, box-filtering them down to thumbnails with
// pixman, and laying the thumbnails out in rows on a dark ground.
#include "previewer/contact_sheet.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <pixman.h>

#include "kit/pixel_ops.h"
#include "previewer/pixman_view.h"
#include "reference/png_io.h"

namespace velora::previewer {
namespace {
constexpr std::int32_t kSheetColumns = 4;
constexpr std::int32_t kSheetGap = 4;
constexpr double kThumbSide = 240.0;
}  // namespace

ContactSheet::ContactSheet(std::int32_t frameWidth, std::int32_t frameHeight, std::int32_t totalFrames,
                           std::int32_t shown)
    : totalFrames_(std::max(totalFrames, 1)), shown_(std::clamp(shown, 1, std::max(totalFrames, 1)))
{
    for (std::int32_t j = 0; j < shown_; ++j) {
        picks_.push_back(shown_ == 1 ? 0
                                     : static_cast<std::int32_t>(
                                           std::lround(double(j) * (totalFrames_ - 1) / (shown_ - 1))));
    }
    scale_ = std::min(1.0, kThumbSide / std::max(frameWidth, frameHeight));
    thumbWidth_ = std::max(1, static_cast<std::int32_t>(std::lround(frameWidth * scale_)));
    thumbHeight_ = std::max(1, static_cast<std::int32_t>(std::lround(frameHeight * scale_)));
}

std::unique_ptr<reference::HostSurface> ContactSheet::Thumbnail(reference::HostSurface& frame) const
{
    // Downscaling averages the pixels each thumbnail pixel covers.
    auto thumb = std::make_unique<reference::HostSurface>(thumbWidth_, thumbHeight_, "thumbnail");
    const PixmanView source(frame);
    const PixmanView target(*thumb);
    const pixman_fixed_t step = pixman_double_to_fixed(1.0 / scale_);
    pixman_transform_t transform;
    pixman_transform_init_scale(&transform, step, step);
    pixman_image_set_transform(source.Image(), &transform);
    int count = 0;
    pixman_fixed_t* filter = pixman_filter_create_separable_convolution(
        &count, step, step, PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, 4, 4);
    if (filter) {
        pixman_image_set_filter(source.Image(), PIXMAN_FILTER_SEPARABLE_CONVOLUTION, filter, count);
        std::free(filter);
    } else {
        pixman_image_set_filter(source.Image(), PIXMAN_FILTER_BILINEAR, nullptr, 0);
    }
    pixman_image_set_repeat(source.Image(), PIXMAN_REPEAT_PAD);
    pixman_image_composite32(PIXMAN_OP_SRC, source.Image(), nullptr, target.Image(), 0, 0, 0, 0, 0, 0,
                             thumbWidth_, thumbHeight_);
    return thumb;
}

void ContactSheet::Offer(std::int32_t index, reference::HostSurface& frame)
{
    const bool planned = std::find(picks_.begin(), picks_.end(), index) != picks_.end();
    if (!planned && index % stride_ != 0) {
        return;
    }
    kept_[index] = Thumbnail(frame);
    // The thinning set: every stride-th frame, the stride doubling whenever
    // more than twice the shown frames are kept.
    while (static_cast<std::int32_t>(kept_.size()) > 2 * shown_ + static_cast<std::int32_t>(picks_.size())) {
        stride_ *= 2;
        std::erase_if(kept_, [&](const auto& entry) {
            return entry.first % stride_ != 0 &&
                   std::find(picks_.begin(), picks_.end(), entry.first) == picks_.end();
        });
    }
}

std::vector<std::uint8_t> ContactSheet::Encode(std::int32_t drawn, reference::HostSurface& last, const std::string& name)
{
    const std::int32_t shown = std::clamp(shown_, 1, std::max(drawn, 1));
    if (drawn > 0 && !kept_.contains(drawn - 1)) {
        kept_[drawn - 1] = Thumbnail(last);
    }
    const std::int32_t columns = std::min(shown, kSheetColumns);
    const std::int32_t rows = (shown + columns - 1) / columns;
    reference::HostSurface sheet(columns * (thumbWidth_ + kSheetGap) + kSheetGap,
                            rows * (thumbHeight_ + kSheetGap) + kSheetGap, "sheet");
    sheet.Fill({0x20, 0x20, 0x20, 255});
    for (std::int32_t slot = 0; slot < shown; ++slot) {
        // The frame wanted there, evenly spaced over the frames drawn, and
        // the nearest one kept (the very one unless the run stopped early).
        const std::int32_t wanted =
            drawn == totalFrames_ ? picks_[static_cast<std::size_t>(slot)]
            : shown == 1          ? 0
                                  : static_cast<std::int32_t>(std::lround(double(slot) * (drawn - 1) / (shown - 1)));
        auto best = kept_.end();
        for (auto entry = kept_.begin(); entry != kept_.end(); ++entry) {
            if (entry->first < drawn &&
                (best == kept_.end() || std::abs(entry->first - wanted) < std::abs(best->first - wanted))) {
                best = entry;
            }
        }
        if (best == kept_.end()) {
            continue;
        }
        kit::CopyRect(sheet, kSheetGap + (slot % kSheetColumns) * (thumbWidth_ + kSheetGap),
                          kSheetGap + (slot / kSheetColumns) * (thumbHeight_ + kSheetGap), *best->second, 0, 0,
                          thumbWidth_, thumbHeight_);
    }
    return reference::EncodePng(sheet, name);
}

}  // namespace velora::previewer
