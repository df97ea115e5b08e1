#include "pictures/resampler.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace pictures {

Resampler::Resampler(int width, int height, std::uint32_t background, const Limits& limits)
    : dstWidth_(width), dstHeight_(height), background_(background & 0xFFFFFFu), limits_(limits) {
    CheckSize(width, height, limits, "target size");
}

namespace {

// Weights are fixed point: a destination pixel's add up to exactly kOne.
constexpr int kWeightBits = 12;
constexpr std::int32_t kOne = 1 << kWeightBits;
// Alpha 0 .. 255 is carried as 0 .. 65535, and a premultiplied colour as colour * alpha / 256,
// so the final division is a shift.
constexpr std::int32_t kOpaque = 65535;

}  // namespace

Resampler::Axis Resampler::MakeAxis(int source, int destination) {
    Axis axis;
    axis.taps.reserve(static_cast<std::size_t>(destination));
    const double scale = static_cast<double>(source) / destination;
    std::vector<double> exact;
    for (int x = 0; x < destination; ++x) {
        exact.clear();
        int first;
        if (destination > source) {
            // The destination pixel's centre, in source pixels; clamped at the edges.
            const double centre = std::clamp((x + 0.5) * scale - 0.5, 0.0, source - 1.0);
            first = std::min(static_cast<int>(centre), source - 1);
            const double fraction = centre - first;
            exact.push_back(1 - fraction);
            if (fraction > 0) exact.push_back(fraction);
        } else {
            const double lo = x * scale, hi = (x + 1) * scale;
            first = static_cast<int>(lo);
            const int end = std::min(source, static_cast<int>(std::ceil(hi)));
            for (int i = first; i < end; ++i) {
                exact.push_back((std::min(hi, i + 1.0) - std::max(lo, static_cast<double>(i))) / scale);
            }
        }
        // Rounded, with what rounding lost or added given to the largest weight.
        const std::size_t start = axis.weights.size();
        std::int32_t total = 0;
        for (double weight : exact) {
            axis.weights.push_back(static_cast<std::int32_t>(std::lround(weight * kOne)));
            total += axis.weights.back();
        }
        *std::max_element(axis.weights.begin() + static_cast<std::ptrdiff_t>(start), axis.weights.end()) +=
            kOne - total;
        const int count = static_cast<int>(exact.size());
        axis.taps.push_back({first, count, start});
        axis.widest = std::max(axis.widest, count);
    }
    return axis;
}

void Resampler::Begin(int width, int height) {
    rows_.Begin(width, height);
    if (dstWidth_ <= width && dstHeight_ <= height) {
        // Nothing grows: the area scaler gives the same, exactly and faster, and counts the rows.
        area_.emplace(dstWidth_, dstHeight_, background_, limits_);
        return area_->Begin(width, height);
    }
    columns_ = MakeAxis(width, dstWidth_);
    rowTaps_ = MakeAxis(height, dstHeight_);
    // The source rows one destination row is made of are kept, scaled horizontally.
    CheckSize(dstWidth_, rowTaps_.widest, limits_, "working rows");
    premultiplied_.assign(static_cast<std::size_t>(width) * 4, 0);
    recent_.assign(static_cast<std::size_t>(rowTaps_.widest) * static_cast<std::size_t>(dstWidth_) * 4, 0);
    sources_.assign(static_cast<std::size_t>(rowTaps_.widest), nullptr);
    out_.width = dstWidth_;
    out_.height = dstHeight_;
    out_.pixels.assign(static_cast<std::size_t>(dstWidth_) * static_cast<std::size_t>(dstHeight_), 0);
}

void Resampler::Row(std::span<const std::uint8_t> rgba) {
    if (area_) return area_->Row(rgba);
    const int row = rows_.Next(rgba);

    // Premultiplying first keeps the colour of fully transparent pixels out of the mix.
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
        const std::int32_t alpha = rgba[i + 3] * 257;
        premultiplied_[i] = rgba[i] * alpha >> 8;
        premultiplied_[i + 1] = rgba[i + 1] * alpha >> 8;
        premultiplied_[i + 2] = rgba[i + 2] * alpha >> 8;
        premultiplied_[i + 3] = alpha;
    }
    const std::size_t stride = static_cast<std::size_t>(dstWidth_) * 4;
    std::int32_t* scaled = recent_.data() + static_cast<std::size_t>(row % rowTaps_.widest) * stride;
    for (const Taps& column : columns_.taps) {
        std::int32_t r = kOne / 2, g = kOne / 2, b = kOne / 2, a = kOne / 2;  // rounds the shifts below
        const std::int32_t* weight = columns_.weights.data() + column.weights;
        const std::int32_t* in = premultiplied_.data() + static_cast<std::size_t>(column.first) * 4;
        for (int k = 0; k < column.count; ++k, in += 4) {
            const std::int32_t w = weight[k];
            r += w * in[0];
            g += w * in[1];
            b += w * in[2];
            a += w * in[3];
        }
        scaled[0] = r >> kWeightBits;
        scaled[1] = g >> kWeightBits;
        scaled[2] = b >> kWeightBits;
        scaled[3] = a >> kWeightBits;
        scaled += 4;
    }
    EmitRows(row + 1);
}

// Emits every destination row whose source rows have all arrived.
void Resampler::EmitRows(int arrived) {
    const std::size_t stride = static_cast<std::size_t>(dstWidth_) * 4;
    const std::int32_t background[3] = {static_cast<std::int32_t>((background_ >> 16) & 0xFF),
                                        static_cast<std::int32_t>((background_ >> 8) & 0xFF),
                                        static_cast<std::int32_t>(background_ & 0xFF)};
    while (dstRow_ < dstHeight_) {
        const Taps& row = rowTaps_.taps[static_cast<std::size_t>(dstRow_)];
        if (row.first + row.count > arrived) return;
        std::uint32_t* out =
            out_.pixels.data() + static_cast<std::size_t>(dstRow_) * static_cast<std::size_t>(dstWidth_);
        const std::int32_t* weights = rowTaps_.weights.data() + row.weights;
        for (int k = 0; k < row.count; ++k) {
            sources_[static_cast<std::size_t>(k)] =
                recent_.data() + static_cast<std::size_t>((row.first + k) % rowTaps_.widest) * stride;
        }
        for (std::size_t x = 0; x < stride; x += 4) {
            std::int32_t r = kOne / 2, g = kOne / 2, b = kOne / 2, a = kOne / 2;
            for (int k = 0; k < row.count; ++k) {
                const std::int32_t w = weights[k];
                const std::int32_t* in = sources_[static_cast<std::size_t>(k)] + x;
                r += w * in[0];
                g += w * in[1];
                b += w * in[2];
                a += w * in[3];
            }
            // colour + background * (1 - alpha), rounded: all within 32 bits.
            const std::int32_t uncovered = kOpaque - (a >> kWeightBits);
            const auto channel = [uncovered](std::int32_t sum, std::int32_t background) {
                const std::int32_t value = ((sum >> kWeightBits) * 256 + background * uncovered + 32768) >> 16;
                return static_cast<std::uint32_t>(std::min(value, 255));
            };
            const std::uint32_t pixel =
                channel(r, background[0]) << 16 | channel(g, background[1]) << 8 | channel(b, background[2]);
            *out++ = pixel;
        }
        ++dstRow_;
    }
}

Image Resampler::Take() {
    if (area_) return area_->Take();
    rows_.End();
    return std::move(out_);
}

}  // namespace pictures
