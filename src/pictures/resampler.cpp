#include "pictures/resampler.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "pictures/processor.h"

#ifdef PICTURES_HAVE_SSE2
#include <emmintrin.h>
#endif

namespace pictures {

// The loops that run once per row.
struct Resampler::Kernels {
    // A source row premultiplied into `premultiplied`, then each destination column's taps of it.
    void (*scaleRow)(const std::uint8_t* rgba, std::size_t pixels, std::uint16_t* premultiplied, const Axis& columns,
                     std::uint16_t* out);
    // Pixels [from, end) of a destination row from `count` rows scaled across and their weights,
    // laid over the background.
    void (*emitRow)(const std::uint16_t* const* rows, const std::int32_t* weights, int count, std::size_t from,
                    std::size_t end, std::uint32_t background, std::uint32_t* out);
};

namespace {

// Weights are fixed point: a destination pixel's add up to exactly kOne.
constexpr int kWeightBits = 12;
constexpr std::int32_t kOne = 1 << kWeightBits;
// Alpha 0 .. 255 is carried as 0 .. 65535, and a premultiplied colour as colour * alpha / 256,
// so the final division is a shift.
constexpr std::int32_t kOpaque = 65535;

// Every sample below is at most 65535, every weight at most kOne and a pixel's weights add up to
// kOne: sums stay under 2^28, and a scaled sample fits 16 bits again.

// Premultiplying first keeps the colour of fully transparent pixels out of the mix.
void PremultiplyPortable(const std::uint8_t* in, std::size_t pixels, std::uint16_t* out) {
    for (std::size_t i = 0; i < pixels * 4; i += 4) {
        const std::int32_t alpha = in[i + 3] * 257;
        out[i] = static_cast<std::uint16_t>(in[i] * alpha >> 8);
        out[i + 1] = static_cast<std::uint16_t>(in[i + 1] * alpha >> 8);
        out[i + 2] = static_cast<std::uint16_t>(in[i + 2] * alpha >> 8);
        out[i + 3] = static_cast<std::uint16_t>(alpha);
    }
}

void ScaleRowPortable(const std::uint8_t* rgba, std::size_t pixels, std::uint16_t* premultiplied,
                      const Resampler::Axis& columns, std::uint16_t* out) {
    PremultiplyPortable(rgba, pixels, premultiplied);
    for (const Resampler::Taps& column : columns.taps) {
        std::int32_t sum[4] = {kOne / 2, kOne / 2, kOne / 2, kOne / 2};  // rounds the shifts below
        const std::int32_t* weight = columns.weights.data() + column.weights;
        const std::uint16_t* in = premultiplied + static_cast<std::size_t>(column.first) * 4;
        for (int k = 0; k < column.count; ++k, in += 4) {
            for (int c = 0; c < 4; ++c) sum[c] += weight[k] * in[c];
        }
        for (int c = 0; c < 4; ++c) *out++ = static_cast<std::uint16_t>(sum[c] >> kWeightBits);
    }
}

void EmitRowPortable(const std::uint16_t* const* rows, const std::int32_t* weights, int count, std::size_t from,
                     std::size_t end, std::uint32_t background, std::uint32_t* out) {
    const std::int32_t back[3] = {static_cast<std::int32_t>((background >> 16) & 0xFF),
                                  static_cast<std::int32_t>((background >> 8) & 0xFF),
                                  static_cast<std::int32_t>(background & 0xFF)};
    for (std::size_t x = from; x < end; ++x) {
        std::int32_t sum[4] = {kOne / 2, kOne / 2, kOne / 2, kOne / 2};
        for (int k = 0; k < count; ++k) {
            for (int c = 0; c < 4; ++c) sum[c] += weights[k] * rows[k][x * 4 + static_cast<std::size_t>(c)];
        }
        // colour + background * (1 - alpha), rounded: all within 32 bits, and at most 255 as a
        // premultiplied colour is below its alpha.
        const std::int32_t uncovered = kOpaque - (sum[3] >> kWeightBits);
        std::uint32_t pixel = 0;
        for (int c = 0; c < 3; ++c) {
            const std::int32_t value = ((sum[c] >> kWeightBits) * 256 + back[c] * uncovered + 32768) >> 16;
            pixel = pixel << 8 | static_cast<std::uint32_t>(value);
        }
        out[x] = pixel;
    }
}

constexpr Resampler::Kernels kPortable = {ScaleRowPortable, EmitRowPortable};

#ifdef PICTURES_HAVE_SSE2
#define PICTURES_SIMD_LOOPS "pictures/resampler_sse2.inc"
#include "pictures/both_encodings.inc"
#endif

const Resampler::Kernels& KernelsFor(Instructions instructions) {
#ifdef PICTURES_HAVE_SSE2
    return *ChooseLoops(instructions, &vex::kKernels, &sse2::kKernels, &kPortable);
#else
    (void)instructions;
    return kPortable;
#endif
}

}  // namespace

Resampler::Resampler(int width, int height, std::uint32_t background, const Limits& limits, Instructions instructions)
    : kernels_(&KernelsFor(instructions)),
      instructions_(instructions),
      dstWidth_(width),
      dstHeight_(height),
      background_(background & 0xFFFFFFu),
      limits_(limits) {
    CheckSize(width, height, limits, "target size");
}

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
        area_.emplace(dstWidth_, dstHeight_, background_, limits_, instructions_);
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
    const std::size_t stride = static_cast<std::size_t>(dstWidth_) * 4;
    std::uint16_t* scaled = recent_.data() + static_cast<std::size_t>(row % rowTaps_.widest) * stride;
    kernels_->scaleRow(rgba.data(), static_cast<std::size_t>(rows_.Width()), premultiplied_.data(), columns_, scaled);
    EmitRows(row + 1);
}

void Resampler::EmitRows(int arrived) {
    const std::size_t stride = static_cast<std::size_t>(dstWidth_) * 4;
    while (dstRow_ < dstHeight_) {
        const Taps& row = rowTaps_.taps[static_cast<std::size_t>(dstRow_)];
        if (row.first + row.count > arrived) return;
        for (int k = 0; k < row.count; ++k) {
            sources_[static_cast<std::size_t>(k)] =
                recent_.data() + static_cast<std::size_t>((row.first + k) % rowTaps_.widest) * stride;
        }
        std::uint32_t* out =
            out_.pixels.data() + static_cast<std::size_t>(dstRow_) * static_cast<std::size_t>(dstWidth_);
        kernels_->emitRow(sources_.data(), rowTaps_.weights.data() + row.weights, row.count, 0,
                          static_cast<std::size_t>(dstWidth_), background_, out);
        ++dstRow_;
    }
}

Image Resampler::Take() {
    if (area_) return area_->Take();
    rows_.End();
    return std::move(out_);
}

}  // namespace pictures
