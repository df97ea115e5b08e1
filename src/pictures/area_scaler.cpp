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
    // background, divided by `full` (the total weight a pixel collects, times 255).
    void (*emitRow)(const std::uint32_t* sums, const Column* columns, std::size_t count, std::uint32_t inner,
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

template <int kShares>
void AddRowPortable(const std::uint8_t* in, std::size_t pixels, const AreaScaler::RowShare* shares) {
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

constexpr AreaScaler::Kernels kPortable = {{AddRowPortable<1>, AddRowPortable<2>}, EmitRowPortable};

#ifdef PICTURES_HAVE_SSE2
// Built for SSE2 whatever the build's own target, and run only where the processor has it.

// Four pixels at a time, 16 bits a sample: premultiplied once (at most 255 * 255, exact), then
// times each share's weight as the low and high halves of 32-bit products.
template <int kShares>
PICTURES_SSE2 void AddRowSse2(const std::uint8_t* in, std::size_t pixels, const AreaScaler::RowShare* shares) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i alphaLanes = _mm_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0);
    const __m128i alphaOne = _mm_set_epi16(1, 0, 0, 0, 1, 0, 0, 0);
    __m128i weights[kShares];
    for (int k = 0; k < kShares; ++k) weights[k] = _mm_set1_epi16(static_cast<short>(shares[k].weight));
    const auto two = [&](__m128i px, std::size_t at) PICTURES_SSE2 {
        __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(px, _MM_SHUFFLE(3, 3, 3, 3)), _MM_SHUFFLE(3, 3, 3, 3));
        a = _mm_or_si128(_mm_andnot_si128(alphaLanes, a), alphaOne);  // alpha itself is kept
        const __m128i premultiplied = _mm_mullo_epi16(px, a);
        for (int k = 0; k < kShares; ++k) {
            const __m128i low = _mm_mullo_epi16(premultiplied, weights[k]);
            const __m128i high = _mm_mulhi_epu16(premultiplied, weights[k]);
            auto* lanes = reinterpret_cast<__m128i*>(shares[k].sums + at);
            _mm_storeu_si128(lanes, _mm_add_epi32(_mm_loadu_si128(lanes), _mm_unpacklo_epi16(low, high)));
            _mm_storeu_si128(lanes + 1, _mm_add_epi32(_mm_loadu_si128(lanes + 1), _mm_unpackhi_epi16(low, high)));
        }
    };
    std::size_t i = 0;
    for (; i + 4 <= pixels; i += 4) {
        const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i * 4));
        // Four clear pixels add nothing: much of a logo is its transparent surround.
        if ((_mm_movemask_epi8(_mm_cmpeq_epi8(px, zero)) & 0x8888) == 0x8888) continue;
        two(_mm_unpacklo_epi8(px, zero), i * 4);
        two(_mm_unpackhi_epi8(px, zero), i * 4 + 8);
    }
    AreaScaler::RowShare rest[kShares];
    for (int k = 0; k < kShares; ++k) rest[k] = {shares[k].sums + i * 4, shares[k].weight};
    AddRowPortable<kShares>(in + i * 4, pixels - i, rest);
}

// 64-bit lanes x (under 2^42 / w) times w, a 32-bit lane.
PICTURES_SSE2 inline __m128i MultiplyWide(__m128i x, __m128i w) {
    return _mm_add_epi64(_mm_mul_epu32(x, w), _mm_slli_epi64(_mm_mul_epu32(_mm_srli_epi64(x, 32), w), 32));
}

// 0 <= x < 2^52 as two doubles: its bits under those of 2^52, less 2^52.
PICTURES_SSE2 inline __m128d ToDoubles(__m128i x) {
    const __m128i magicBits = _mm_set1_epi64x(0x4330000000000000);
    return _mm_sub_pd(_mm_castsi128_pd(_mm_or_si128(x, magicBits)), _mm_set1_pd(4503599627370496.0));
}

// A pixel's four sums are one register; its weighed sums are two, 64 bits a lane: the even
// samples (R, B) and the odd ones (G, A). The quotients are the portable loop's.
PICTURES_SSE2 void EmitRowSse2(const std::uint32_t* sums, const AreaScaler::Column* columns, std::size_t count,
                               std::uint32_t inner, std::uint64_t full, std::uint32_t background, std::uint32_t* out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i evenLanes = _mm_set_epi32(0, -1, 0, -1);
    const __m128i innerWeight = _mm_set1_epi32(static_cast<int>(inner));
    // Lanes (B, G) and (R, A), so that the quotients pack straight into 0x00RRGGBB; alpha's
    // is made 0 by a zero inverse.
    const double fullAsDouble = static_cast<double>(full), inverse = 1.0 / fullAsDouble;
    const __m128d total = _mm_set1_pd(fullAsDouble);
    const __m128d halfBg = _mm_set1_pd(static_cast<double>(full / 2));
    const __m128d halfRa = _mm_set_pd(0, static_cast<double>(full / 2));
    const __m128d inverseBg = _mm_set1_pd(inverse);
    const __m128d inverseRa = _mm_set_pd(0, inverse);
    const __m128d nudge = _mm_set1_pd(kNudge);
    const __m128d backgroundBg = _mm_set_pd((background >> 8) & 0xFF, background & 0xFF);
    const __m128d backgroundRa = _mm_set_pd(0, (background >> 16) & 0xFF);
    const auto* pixels = reinterpret_cast<const __m128i*>(sums);
    for (const AreaScaler::Column* column = columns; column != columns + count; ++column) {
        const __m128i* p = pixels + column->first;
        __m128i v = _mm_loadu_si128(p);
        __m128i w = _mm_set1_epi32(static_cast<int>(column->firstWeight));
        __m128i even = _mm_mul_epu32(v, w), odd = _mm_mul_epu32(_mm_srli_epi64(v, 32), w);
        if (column->count > 1) {
            const __m128i* last = p + (column->count - 1);
            if (column->count > 2) {
                __m128i evenBetween = zero, oddBetween = zero;
                for (const __m128i* q = p + 1; q < last; ++q) {
                    v = _mm_loadu_si128(q);
                    evenBetween = _mm_add_epi64(evenBetween, _mm_and_si128(v, evenLanes));
                    oddBetween = _mm_add_epi64(oddBetween, _mm_srli_epi64(v, 32));
                }
                even = _mm_add_epi64(even, MultiplyWide(evenBetween, innerWeight));
                odd = _mm_add_epi64(odd, MultiplyWide(oddBetween, innerWeight));
            }
            v = _mm_loadu_si128(last);
            w = _mm_set1_epi32(static_cast<int>(column->lastWeight));
            even = _mm_add_epi64(even, _mm_mul_epu32(v, w));
            odd = _mm_add_epi64(odd, _mm_mul_epu32(_mm_srli_epi64(v, 32), w));
        }
        const __m128d rb = ToDoubles(even), ga = ToDoubles(odd);
        const __m128d uncovered = _mm_sub_pd(total, _mm_unpackhi_pd(ga, ga));
        const __m128d bg =
            _mm_add_pd(_mm_add_pd(_mm_shuffle_pd(rb, ga, 1), _mm_mul_pd(backgroundBg, uncovered)), halfBg);
        const __m128d ra =
            _mm_add_pd(_mm_add_pd(_mm_shuffle_pd(rb, ga, 2), _mm_mul_pd(backgroundRa, uncovered)), halfRa);
        // Quotients b, g, r, 0, each at most 255, as bytes.
        const __m128i q = _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(bg, inverseBg), nudge)),
                                             _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(ra, inverseRa), nudge)));
        const __m128i words = _mm_packs_epi32(q, q);
        *out++ = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
    }
}

constexpr AreaScaler::Kernels kSse2 = {{AddRowSse2<1>, AddRowSse2<2>}, EmitRowSse2};
#endif

const AreaScaler::Kernels& KernelsFor(AreaScaler::Instructions instructions) {
#ifdef PICTURES_HAVE_SSE2
    if (instructions == AreaScaler::Instructions::kBest && ProcessorHasSse2()) return kSse2;
#endif
    (void)instructions;
    return kPortable;
}

}  // namespace

bool AreaScaler::BestIsSse2() {
#ifdef PICTURES_HAVE_SSE2
    return &KernelsFor(Instructions::kBest) == &kSse2;
#else
    return false;
#endif
}

AreaScaler::AreaScaler(int width, int height, std::uint32_t background, const Limits& limits, Instructions instructions)
    : kernels_(&KernelsFor(instructions)), dstWidth_(width), dstHeight_(height), background_(background & 0xFFFFFFu) {
    CheckSize(width, height, limits, "target size");
}

void AreaScaler::Begin(int width, int height) {
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
    kernels_->emitRow(sums_.data(), columns_.data(), columns_.size(), static_cast<std::uint32_t>(dstWidth_), full_,
                      background_, out);
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
