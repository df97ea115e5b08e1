#include "pictures/resampler.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace pictures {

Resampler::Resampler(int width, int height, std::uint32_t background, const Limits& limits)
    : dstWidth_(width), dstHeight_(height), background_(background & 0xFFFFFFu), limits_(limits) {
    CheckSize(width, height, limits, "target size");
}

Resampler::Axis Resampler::MakeAxis(int source, int destination) {
    Axis axis;
    axis.taps.reserve(static_cast<std::size_t>(destination));
    const double scale = static_cast<double>(source) / destination;
    for (int x = 0; x < destination; ++x) {
        const std::size_t start = axis.weights.size();
        int first;
        if (destination > source) {
            // The destination pixel's centre, in source pixels; clamped at the edges.
            const double centre = std::clamp((x + 0.5) * scale - 0.5, 0.0, source - 1.0);
            first = std::min(static_cast<int>(centre), source - 1);
            const auto fraction = static_cast<float>(centre - first);
            axis.weights.push_back(1.0f - fraction);
            if (fraction > 0) axis.weights.push_back(fraction);
        } else {
            const double lo = x * scale, hi = (x + 1) * scale;
            first = static_cast<int>(lo);
            const int end = std::min(source, static_cast<int>(std::ceil(hi)));
            for (int i = first; i < end; ++i) {
                const double overlap = std::min(hi, i + 1.0) - std::max(lo, static_cast<double>(i));
                axis.weights.push_back(static_cast<float>(overlap / scale));
            }
        }
        const int count = static_cast<int>(axis.weights.size() - start);
        axis.taps.push_back({first, count, start});
        axis.widest = std::max(axis.widest, count);
    }
    return axis;
}

void Resampler::Begin(int width, int height) {
    if (begun_) throw DecodeError("picture started twice");
    if (width <= 0 || height <= 0) throw DecodeError("picture has no pixels");
    begun_ = true;
    if (dstWidth_ <= width && dstHeight_ <= height) {
        // Nothing grows: the area scaler gives the same, exactly and faster.
        area_.emplace(dstWidth_, dstHeight_, background_, limits_);
        return area_->Begin(width, height);
    }
    srcWidth_ = width;
    srcHeight_ = height;
    columns_ = MakeAxis(width, dstWidth_);
    rows_ = MakeAxis(height, dstHeight_);
    // The source rows one destination row is made of are kept, scaled horizontally.
    CheckSize(dstWidth_, rows_.widest, limits_, "working rows");
    premultiplied_.assign(static_cast<std::size_t>(width) * 4, 0);
    recent_.assign(static_cast<std::size_t>(rows_.widest) * static_cast<std::size_t>(dstWidth_) * 4, 0);
    out_.width = dstWidth_;
    out_.height = dstHeight_;
    out_.pixels.assign(static_cast<std::size_t>(dstWidth_) * static_cast<std::size_t>(dstHeight_), 0);
}

void Resampler::Row(std::span<const std::uint8_t> rgba) {
    if (area_) return area_->Row(rgba);
    if (!begun_ || srcRow_ >= srcHeight_) throw DecodeError("more rows than the picture has");
    if (rgba.size() != static_cast<std::size_t>(srcWidth_) * 4) throw DecodeError("row has the wrong length");

    // Premultiplying first keeps the colour of fully transparent pixels out of the mix.
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
        const float alpha = rgba[i + 3] * (1.0f / 255);
        premultiplied_[i] = rgba[i] * alpha;
        premultiplied_[i + 1] = rgba[i + 1] * alpha;
        premultiplied_[i + 2] = rgba[i + 2] * alpha;
        premultiplied_[i + 3] = rgba[i + 3];
    }
    const std::size_t stride = static_cast<std::size_t>(dstWidth_) * 4;
    float* scaled = recent_.data() + static_cast<std::size_t>(srcRow_ % rows_.widest) * stride;
    for (const Taps& column : columns_.taps) {
        float sum[4] = {0, 0, 0, 0};
        const float* weight = columns_.weights.data() + column.weights;
        const float* in = premultiplied_.data() + static_cast<std::size_t>(column.first) * 4;
        for (int k = 0; k < column.count; ++k, in += 4) {
            for (int c = 0; c < 4; ++c) sum[c] += weight[k] * in[c];
        }
        std::copy(sum, sum + 4, scaled);
        scaled += 4;
    }
    ++srcRow_;
    EmitRows();
}

// Emits every destination row whose source rows have all arrived.
void Resampler::EmitRows() {
    const std::size_t stride = static_cast<std::size_t>(dstWidth_) * 4;
    const float background[3] = {static_cast<float>((background_ >> 16) & 0xFF),
                                 static_cast<float>((background_ >> 8) & 0xFF), static_cast<float>(background_ & 0xFF)};
    while (dstRow_ < dstHeight_) {
        const Taps& row = rows_.taps[static_cast<std::size_t>(dstRow_)];
        if (row.first + row.count > srcRow_) return;
        std::uint32_t* out =
            out_.pixels.data() + static_cast<std::size_t>(dstRow_) * static_cast<std::size_t>(dstWidth_);
        for (std::size_t x = 0; x < stride; x += 4) {
            float sum[4] = {0, 0, 0, 0};
            for (int k = 0; k < row.count; ++k) {
                const float weight = rows_.weights[row.weights + static_cast<std::size_t>(k)];
                const float* in =
                    recent_.data() + static_cast<std::size_t>((row.first + k) % rows_.widest) * stride + x;
                for (int c = 0; c < 4; ++c) sum[c] += weight * in[c];
            }
            const float uncovered = 1.0f - sum[3] * (1.0f / 255);
            std::uint32_t pixel = 0;
            for (int c = 0; c < 3; ++c) {
                const float value = std::clamp(sum[c] + background[c] * uncovered + 0.5f, 0.0f, 255.0f);
                pixel = (pixel << 8) | static_cast<std::uint32_t>(value);
            }
            *out++ = pixel;
        }
        ++dstRow_;
    }
}

Image Resampler::Take() {
    if (area_) return area_->Take();
    if (!begun_ || srcRow_ != srcHeight_ || dstRow_ != dstHeight_) throw DecodeError("picture ended early");
    begun_ = false;
    return std::move(out_);
}

Image LoadResampled(std::span<const std::uint8_t> file, int width, int height, std::uint32_t background) {
    Resampler scaler(width, height, background);
    Decode(file, scaler);
    return scaler.Take();
}

}  // namespace pictures
