#include "pictures/area_scaler.h"

#include <algorithm>
#include <utility>

#include "pictures/processor.h"

#ifdef PICTURES_HAVE_SSE2
#include <emmintrin.h>
#endif

namespace pictures {

// The loops that run once per row.
struct AreaScaler::Kernels {
    // For each share, sums += weight * (R*A, G*A, B*A, A) of each of `pixels` straight RGBA
    // pixels: addRow[0] takes one share, addRow[1] two (a source row across two destination rows).
    void (*addRow[2])(const std::uint8_t* rgba, std::size_t pixels, const RowShare* shares);
    // One destination row from its summed source row: each column's weighed sum, over the
    // background, divided by `full` (the total weight a pixel collects, times 255). emitRow[1]
    // only where the pixels wholly inside any one column sum to under 2^32 (narrow_).
    void (*emitRow[2])(const std::uint32_t* sums, const Column* columns, std::size_t count, std::uint32_t inner,
                       std::uint64_t full, std::uint32_t background, std::uint32_t* out);
};

namespace {

// Bounds the limits give, in the units of Begin (a source pixel is the destination size long):
// - a row weight is at most the source height, under 2^16, so it fits a 16-bit multiply;
// - the row weights one destination row collects add up to the source height, so each sum of
//   a premultiplied sample (at most 255 * 255) over them stays under 2^30;
// - a destination pixel collects 255 * 255 * width * height at most, under 2^42, and `full` is
//   255 * width * height, under 2^34: both are exact as doubles. A quotient (under 256) that is
//   not whole lies at least 1 / full, over 2^-34, below the next whole number, while the product
//   of the numerator and a rounded 1 / full is off by under 2^-44: so that product plus 2^-40
//   truncates to the exact quotient, with no division.
static_assert(kLargestSide < 0x10000);
static_assert(std::uint64_t{255} * 255 * kLargestSide < (std::uint64_t{1} << 30));
static_assert(std::uint64_t{255} * 256 * kMostPixels < (std::uint64_t{1} << 42));

// Not inlined: in the vector loops it only takes the last few pixels of a row.
template <int kShares>
[[gnu::noinline]] void AddRowPortable(const std::uint8_t* in, std::size_t pixels, const AreaScaler::RowShare* shares) {
    for (std::size_t i = 0; i < pixels * 4; i += 4, in += 4) {
        const std::uint32_t a = in[3];
        const std::uint32_t premultiplied[4] = {in[0] * a, in[1] * a, in[2] * a, a};
        for (int k = 0; k < kShares; ++k) {
            for (int c = 0; c < 4; ++c) shares[k].sums[i + c] += shares[k].weight * premultiplied[c];
        }
    }
}

constexpr double kNudge = 1.0 / (std::uint64_t{1} << 40);

// floor(num / full), exactly (see the bounds above).
std::uint32_t Quotient(std::uint64_t num, double inverse) {
    return static_cast<std::uint32_t>(static_cast<double>(num) * inverse + kNudge);
}

void EmitRowPortable(const std::uint32_t* sums, const AreaScaler::Column* columns, std::size_t count,
                     std::uint32_t inner, std::uint64_t full, std::uint32_t background, std::uint32_t* out) {
    const std::uint64_t bg[3] = {(background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF};
    const double inverse = 1.0 / static_cast<double>(full);
    for (const AreaScaler::Column* column = columns; column != columns + count; ++column) {
        const std::uint32_t* p = sums + static_cast<std::size_t>(column->first) * 4;
        std::uint64_t sum[4];
        for (int c = 0; c < 4; ++c) sum[c] = std::uint64_t{column->firstWeight} * p[c];
        if (column->count > 1) {
            const std::uint32_t* last = p + static_cast<std::size_t>(column->count - 1) * 4;
            for (int c = 0; c < 4; ++c) {
                std::uint64_t between = 0;
                for (const std::uint32_t* q = p + 4 + c; q < last; q += 4) between += *q;
                sum[c] += inner * between + std::uint64_t{column->lastWeight} * last[c];
            }
        }
        const std::uint64_t uncovered = full - sum[3];
        std::uint32_t pixel = 0;
        for (int c = 0; c < 3; ++c) {
            // At most 255: a premultiplied sample is at most 255 times its alpha.
            pixel = (pixel << 8) | Quotient(sum[c] + bg[c] * uncovered + full / 2, inverse);
        }
        *out++ = pixel;
    }
}

constexpr AreaScaler::Kernels kPortable = {{AddRowPortable<1>, AddRowPortable<2>}, {EmitRowPortable, EmitRowPortable}};

#ifdef PICTURES_HAVE_SSE2
#define PICTURES_SIMD_LOOPS "pictures/area_scaler_sse2.inc"
#include "pictures/both_encodings.inc"
#endif

const AreaScaler::Kernels& KernelsFor(AreaScaler::Instructions instructions) {
#ifdef PICTURES_HAVE_SSE2
    return *ChooseLoops(instructions, &vex::kKernels, &sse2::kKernels, &kPortable);
#else
    (void)instructions;
    return kPortable;
#endif
}

}  // namespace

bool AreaScaler::BestIsSse2() {
#ifdef PICTURES_HAVE_SSE2
    return &KernelsFor(Instructions::kBest) != &kPortable;
#else
    return false;
#endif
}

AreaScaler::AreaScaler(int width, int height, std::uint32_t background, const Limits& limits, Instructions instructions)
    : kernels_(&KernelsFor(instructions)), dstWidth_(width), dstHeight_(height), background_(background & 0xFFFFFFu) {
    CheckSize(width, height, limits, "target size");
}

// Once a picture: small beats fast.
[[gnu::cold]] void AreaScaler::Begin(int width, int height) {
    rows_.Begin(width, height);
    // Lengths are measured in units where a source pixel is dstWidth_ long and a destination
    // pixel srcWidth_ long, so every overlap is a whole number and each column's weights add up
    // to exactly the source width.
    const std::int64_t sw = width, dw = dstWidth_;
    columns_.resize(static_cast<std::size_t>(dstWidth_));
    for (std::int64_t x = 0; x < dw; ++x) {
        // Source pixels lo / dw .. (hi - 1) / dw each overlap the column by more than nothing.
        const std::int64_t lo = x * sw, hi = (x + 1) * sw;
        const std::int64_t first = lo / dw, last = (hi - 1) / dw;
        const auto overlap = [&](std::int64_t i) { return std::min(hi, (i + 1) * dw) - std::max(lo, i * dw); };
        columns_[static_cast<std::size_t>(x)] = {
            static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(last - first + 1),
            static_cast<std::uint32_t>(overlap(first)), static_cast<std::uint32_t>(overlap(last))};
    }
    full_ = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 255;
    // A summed source pixel is at most 255 * 255 * height (see the bounds above).
    std::uint32_t widest = 0;
    for (const Column& column : columns_) widest = std::max(widest, column.count);
    narrow_ = widest <= 2 ||
              std::uint64_t{widest - 2} * 255 * 255 * static_cast<std::uint64_t>(height) < (std::uint64_t{1} << 32);
    sums_.assign(static_cast<std::size_t>(width) * 4, 0);
    next_.assign(static_cast<std::size_t>(width) * 4, 0);
    out_.width = dstWidth_;
    out_.height = dstHeight_;
    out_.pixels.assign(static_cast<std::size_t>(dstWidth_) * static_cast<std::size_t>(dstHeight_), 0);
}

void AreaScaler::Row(std::span<const std::uint8_t> rgba) {
    const std::int64_t y = rows_.Next(rgba);
    // Same units vertically: a source row is dstHeight_ long, a destination row the source height.
    const std::int64_t sh = rows_.Height(), dh = dstHeight_;
    const std::int64_t lo = y * dh, hi = (y + 1) * dh;
    const auto pixels = static_cast<std::size_t>(rows_.Width());
    while (dstRow_ < dstHeight_) {
        const std::int64_t rowLo = dstRow_ * sh, rowHi = (dstRow_ + 1) * sh;
        const auto overlap = static_cast<std::uint32_t>(std::min(hi, rowHi) - std::max(lo, rowLo));
        if (rowHi < hi && hi <= rowHi + sh) {
            // Across this destination row into the next, as most rows of a shrinking picture:
            // premultiplied once for both.
            const RowShare shares[2] = {{sums_.data(), overlap},
                                        {next_.data(), static_cast<std::uint32_t>(hi - rowHi)}};
            kernels_->addRow[1](rgba.data(), pixels, shares);
            EmitRow();
            if (hi == rowHi + sh) EmitRow();
            return;
        }
        if (overlap > 0) {
            const RowShare share = {sums_.data(), overlap};
            kernels_->addRow[0](rgba.data(), pixels, &share);
        }
        if (rowHi > hi) return;  // the rest of this destination row lies in later source rows
        EmitRow();
    }
}

void AreaScaler::EmitRow() {
    std::uint32_t* out = &out_.pixels[static_cast<std::size_t>(dstRow_) * static_cast<std::size_t>(dstWidth_)];
    kernels_->emitRow[narrow_](sums_.data(), columns_.data(), columns_.size(), static_cast<std::uint32_t>(dstWidth_),
                               full_, background_, out);
    std::fill(sums_.begin(), sums_.end(), 0);
    sums_.swap(next_);  // the next row may already hold its share of the last source row
    ++dstRow_;
}

Image AreaScaler::Take() {
    rows_.End();
    return std::move(out_);
}

Image ScaleRgba(const RgbaImage& source, int width, int height, std::uint32_t background,
                AreaScaler::Instructions instructions) {
    AreaScaler scaler(width, height, background, Limits{}, instructions);
    CheckSize(source.width, source.height, Limits{}, "picture");
    const std::size_t stride = static_cast<std::size_t>(source.width) * 4;
    if (source.rgba.size() != stride * static_cast<std::size_t>(source.height))
        throw DecodeError("pixel buffer has the wrong size");
    scaler.Begin(source.width, source.height);
    for (int y = 0; y < source.height; ++y) {
        scaler.Row(std::span(source.rgba).subspan(static_cast<std::size_t>(y) * stride, stride));
    }
    return scaler.Take();
}

}  // namespace pictures
