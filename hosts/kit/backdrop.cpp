// The picture behind the effect, stretched: bilinear, in double, each
// colour rounded once.
#include "kit/backdrop.h"

#include <cstddef>
#include <vector>

namespace velora::kit {
namespace {

// Where frame position i (of size frame) falls in a picture of size source:
// the two pixels to mix and the weight of the second.
struct Sample {
    std::int32_t first = 0;
    std::int32_t second = 0;
    double weight = 0.0;
};

std::vector<Sample> Samples(std::int32_t source, std::int32_t frame)
{
    std::vector<Sample> samples(static_cast<std::size_t>(frame));
    for (std::int32_t i = 0; i < frame; ++i) {
        // Pixel centres: frame pixel i covers [i, i + 1), its centre i + 0.5.
        const double at = (i + 0.5) * source / frame - 0.5;
        Sample& sample = samples[static_cast<std::size_t>(i)];
        if (at <= 0.0) {
            sample = {0, 0, 0.0};
        } else if (at >= source - 1) {
            sample = {source - 1, source - 1, 0.0};
        } else {
            const auto first = static_cast<std::int32_t>(at);  // at > 0: truncation is the floor
            sample = {first, first + 1, at - first};
        }
    }
    return samples;
}

// One picture row mixed across to the frame's columns, three colours a
// pixel.
void MixRow(const std::uint8_t* row, const std::vector<Sample>& columns, std::vector<double>& out)
{
    double* to = out.data();
    for (const Sample& column : columns) {
        const std::uint8_t* left = row + static_cast<std::size_t>(column.first) * 4u;
        const std::uint8_t* right = row + static_cast<std::size_t>(column.second) * 4u;
        for (std::size_t c = 0; c < 3; ++c) {
            *to++ = left[c] + (right[c] - left[c]) * column.weight;
        }
    }
}

}  // namespace

void StretchPicture(const std::uint8_t* picture, std::int32_t pictureWidth, std::int32_t pictureHeight,
                    std::uint8_t* frame, std::int32_t width, std::int32_t height)
{
    if (!picture || !frame || pictureWidth <= 0 || pictureHeight <= 0 || width <= 0 || height <= 0) {
        return;
    }
    const std::vector<Sample> columns = Samples(pictureWidth, width);
    const std::vector<Sample> rows = Samples(pictureHeight, height);
    const auto stride = static_cast<std::size_t>(pictureWidth) * 4u;
    // The two picture rows of the frame row, mixed across; frame rows that
    // fall between the same two (a picture made larger) reuse them.
    std::vector<double> upper(static_cast<std::size_t>(width) * 3u), lower(upper.size());
    std::int32_t upperRow = -1, lowerRow = -1;
    std::uint8_t* out = frame;
    for (const Sample& row : rows) {
        if (row.first != upperRow) {
            if (row.first == lowerRow) {
                upper.swap(lower);
                lowerRow = -1;
            } else {
                MixRow(picture + static_cast<std::size_t>(row.first) * stride, columns, upper);
            }
            upperRow = row.first;
        }
        if (row.second != lowerRow) {
            MixRow(picture + static_cast<std::size_t>(row.second) * stride, columns, lower);
            lowerRow = row.second;
        }
        for (std::size_t i = 0; i < upper.size(); i += 3) {
            for (std::size_t c = 0; c < 3; ++c) {
                // Over black, the premultiplied colour is the colour shown.
                out[c] = static_cast<std::uint8_t>(upper[i + c] + (lower[i + c] - upper[i + c]) * row.weight + 0.5);
            }
            out[3] = 255;
            out += 4;
        }
    }
}

}  // namespace velora::kit
