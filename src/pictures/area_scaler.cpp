#include "pictures/area_scaler.h"

#include <algorithm>
#include <utility>

#include "pictures/processor.h"

#ifdef PICTURES_HAVE_SSE2
#include <emmintrin.h>
#endif

namespace pictures {

// The loops that run once per source row, over every sample of it.
struct AreaScaler::Kernels {
    // out = in, R*A, G*A, B*A, A per pixel (`samples` a multiple of 4).
    void (*premultiply)(const std::uint8_t* in, std::uint32_t* out, std::size_t samples);
    // out = each column's weighed sum of `pre`, four samples a column.
    void (*sumColumns)(const std::uint32_t* pre, const Column* columns, std::size_t count, std::uint32_t inner,
                       std::uint32_t* out);
    // acc += sum * weight.
    void (*addWeighted)(const std::uint32_t* sum, std::uint64_t* acc, std::size_t n, std::uint32_t weight);
    // acc += sum.
    void (*add)(const std::uint32_t* sum, std::uint32_t* acc, std::size_t n);
    // One destination row of pixels from its sums, `acc` plus `wholeWeight` times `whole`, four
    // samples a pixel, each pixel's weights adding up to `full`; then both are cleared.
    void (*emit)(std::uint64_t* acc, std::uint32_t* whole, std::size_t width, std::uint32_t wholeWeight,
                 std::uint64_t full, std::uint32_t background, std::uint32_t* out);
};

namespace {

// Below this total weight every sum and numerator of a pixel is a whole number under 2^52, exact
// as a double, and a double division truncates to the exact quotient (its error, under half a
// unit in the last place, is less than the quotient's distance to the next whole number).
constexpr std::uint64_t kLargestFastFull = std::uint64_t{1} << 44;

void PremultiplyPortable(const std::uint8_t* in, std::uint32_t* out, std::size_t samples) {
    for (std::size_t i = 0; i < samples; i += 4) {
        const std::uint32_t a = in[i + 3];
        out[i + 0] = in[i + 0] * a;
        out[i + 1] = in[i + 1] * a;
        out[i + 2] = in[i + 2] * a;
        out[i + 3] = a;
    }
}

// The sums fit in 32 bits (checked by the caller), so the weights are applied to plain sums once.
void SumColumnsPortable(const std::uint32_t* pre, const AreaScaler::Column* columns, std::size_t count,
                        std::uint32_t inner, std::uint32_t* out) {
    for (const AreaScaler::Column* column = columns; column != columns + count; ++column, out += 4) {
        const std::uint32_t* p = pre + static_cast<std::size_t>(column->first) * 4;
        const std::uint32_t fw = column->firstWeight;
        for (int c = 0; c < 4; ++c) out[c] = fw * p[c];
        if (column->count < 2) continue;
        const std::uint32_t* last = p + static_cast<std::size_t>(column->count - 1) * 4;
        const std::uint32_t lw = column->lastWeight;
        for (int c = 0; c < 4; ++c) {
            std::uint32_t sum = 0;
            for (const std::uint32_t* q = p + 4 + c; q < last; q += 4) sum += *q;
            out[c] += inner * sum + lw * last[c];
        }
    }
}

void AddWeightedPortable(const std::uint32_t* sum, std::uint64_t* acc, std::size_t n, std::uint32_t weight) {
    for (std::size_t i = 0; i < n; ++i) acc[i] += static_cast<std::uint64_t>(weight) * sum[i];
}

void AddPortable(const std::uint32_t* sum, std::uint32_t* acc, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) acc[i] += sum[i];
}

// floor(num / full) for num < 256 * full. Estimated in floating point, then put right with
// exact integer checks: a 64-bit division per channel costs more than the rest of the pixel.
std::uint32_t DivideSmall(std::uint64_t num, std::uint64_t full, double inverse) {
    if (full >= kLargestFastFull) return static_cast<std::uint32_t>(num / full);  // num may not be exact as a double
    auto q = static_cast<std::uint32_t>(static_cast<double>(static_cast<std::int64_t>(num)) * inverse);
    if (q * full > num) {
        --q;
    } else if ((q + 1) * full <= num) {
        ++q;
    }
    return q;
}

void EmitPortable(std::uint64_t* acc, std::uint32_t* whole, std::size_t width, std::uint32_t wholeWeight,
                  std::uint64_t full, std::uint32_t background, std::uint32_t* out) {
    const std::uint64_t bg[3] = {(background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF};
    const double inverse = 1.0 / static_cast<double>(full);
    for (std::size_t x = 0; x < width; ++x, acc += 4, whole += 4) {
        std::uint64_t sum[4];
        for (int c = 0; c < 4; ++c) sum[c] = acc[c] + std::uint64_t{wholeWeight} * whole[c];
        const std::uint64_t uncovered = full - sum[3];
        std::uint32_t pixel = 0;
        for (int c = 0; c < 3; ++c) {
            const std::uint32_t v = DivideSmall(sum[c] + bg[c] * uncovered + full / 2, full, inverse);
            pixel = (pixel << 8) | std::min<std::uint32_t>(v, 255);
        }
        out[x] = pixel;
        acc[0] = acc[1] = acc[2] = acc[3] = 0;
        whole[0] = whole[1] = whole[2] = whole[3] = 0;
    }
}

constexpr AreaScaler::Kernels kPortable = {PremultiplyPortable, SumColumnsPortable, AddWeightedPortable, AddPortable,
                                           EmitPortable};

#ifdef PICTURES_HAVE_SSE2
// Built for SSE2 whatever the build's own target, and run only where the processor has it.

PICTURES_SSE2 void PremultiplySse2(const std::uint8_t* in, std::uint32_t* out, std::size_t samples) {
    // Four pixels at a time; the compiler does not vectorise the alpha broadcast on its own.
    const __m128i zero = _mm_setzero_si128();
    const __m128i alphaLanes = _mm_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0);
    const __m128i alphaOne = _mm_set_epi16(1, 0, 0, 0, 1, 0, 0, 0);
    const auto two = [&](__m128i px, std::uint32_t* to) PICTURES_SSE2 {  // two pixels, 16 bits a sample
        __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(px, _MM_SHUFFLE(3, 3, 3, 3)), _MM_SHUFFLE(3, 3, 3, 3));
        a = _mm_or_si128(_mm_andnot_si128(alphaLanes, a), alphaOne);  // alpha itself is kept
        const __m128i product = _mm_mullo_epi16(px, a);               // at most 255 * 255: exact in 16 bits
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_unpacklo_epi16(product, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 4), _mm_unpackhi_epi16(product, zero));
    };
    std::size_t i = 0;
    for (; i + 16 <= samples; i += 16) {
        const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        two(_mm_unpacklo_epi8(px, zero), out + i);
        two(_mm_unpackhi_epi8(px, zero), out + i + 8);
    }
    PremultiplyPortable(in + i, out + i, samples - i);
}

// Four 32-bit lanes times one weight, kept to 32 bits (the sums fit).
PICTURES_SSE2 inline __m128i MultiplyLanes(__m128i v, __m128i weight) {
    const __m128i even = _mm_mul_epu32(v, weight);
    const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(v, 32), weight);
    return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                              _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}

// The same for a pixel's premultiplied samples (each below 2^16) times a weight below 2^16: the
// product's two halves come from two 16-bit multiplies.
PICTURES_SSE2 inline __m128i MultiplySamples(__m128i samples, __m128i weight) {
    return _mm_or_si128(_mm_mullo_epi16(samples, weight), _mm_slli_epi32(_mm_mulhi_epu16(samples, weight), 16));
}

// A pixel's four samples are one register, so a column is a few adds and up to three multiplies.
PICTURES_SSE2 void SumColumnsSse2(const std::uint32_t* pre, const AreaScaler::Column* columns, std::size_t count,
                                  std::uint32_t inner, std::uint32_t* out) {
    const __m128i innerWeight = _mm_set1_epi32(static_cast<int>(inner));
    // Edge weights are at most `inner`, the destination width.
    const bool smallWeights = inner < 0x10000;
    const auto edge = [smallWeights](const __m128i* pixel, std::uint32_t weight) PICTURES_SSE2 {
        const __m128i w = _mm_set1_epi32(static_cast<int>(weight));
        return smallWeights ? MultiplySamples(_mm_loadu_si128(pixel), w) : MultiplyLanes(_mm_loadu_si128(pixel), w);
    };
    const auto* pixels = reinterpret_cast<const __m128i*>(pre);
    for (const AreaScaler::Column* column = columns; column != columns + count; ++column, out += 4) {
        const __m128i* p = pixels + column->first;
        __m128i sum = edge(p, column->firstWeight);
        if (column->count > 1) {
            const __m128i* last = p + (column->count - 1);
            if (column->count > 2) {
                __m128i between = _mm_loadu_si128(p + 1);
                for (const __m128i* q = p + 2; q < last; ++q) between = _mm_add_epi32(between, _mm_loadu_si128(q));
                sum = _mm_add_epi32(sum, MultiplyLanes(between, innerWeight));
            }
            sum = _mm_add_epi32(sum, edge(last, column->lastWeight));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), sum);
    }
}

PICTURES_SSE2 void AddWeightedSse2(const std::uint32_t* sum, std::uint64_t* acc, std::size_t n, std::uint32_t weight) {
    const __m128i w = _mm_set1_epi32(static_cast<int>(weight)), zero = _mm_setzero_si128();
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sum + i));
        __m128i* a = reinterpret_cast<__m128i*>(acc + i);
        _mm_storeu_si128(a, _mm_add_epi64(_mm_loadu_si128(a), _mm_mul_epu32(_mm_unpacklo_epi32(s, zero), w)));
        _mm_storeu_si128(a + 1, _mm_add_epi64(_mm_loadu_si128(a + 1), _mm_mul_epu32(_mm_unpackhi_epi32(s, zero), w)));
    }
    AddWeightedPortable(sum + i, acc + i, n - i, weight);
}

PICTURES_SSE2 void AddSse2(const std::uint32_t* sum, std::uint32_t* acc, std::size_t n) {
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        auto* a = reinterpret_cast<__m128i*>(acc + i);
        _mm_storeu_si128(a,
                         _mm_add_epi32(_mm_loadu_si128(a), _mm_loadu_si128(reinterpret_cast<const __m128i*>(sum + i))));
    }
    AddPortable(sum + i, acc + i, n - i);
}

// 0 <= x < 2^52 as two doubles: its bits under those of 2^52, less 2^52.
PICTURES_SSE2 inline __m128d ToDoubles(__m128i x) {
    const __m128i magicBits = _mm_set1_epi64x(0x4330000000000000);
    return _mm_sub_pd(_mm_castsi128_pd(_mm_or_si128(x, magicBits)), _mm_set1_pd(4503599627370496.0));
}

// The same exact quotients as the portable loop, in doubles: every value on the way is a whole
// number below 2^53, and a division truncates to the exact quotient (see kLargestFastFull).
PICTURES_SSE2 void EmitSse2(std::uint64_t* acc, std::uint32_t* whole, std::size_t width, std::uint32_t wholeWeight,
                            std::uint64_t full, std::uint32_t background, std::uint32_t* out) {
    if (full >= kLargestFastFull) return EmitPortable(acc, whole, width, wholeWeight, full, background, out);
    const __m128d total = _mm_set1_pd(static_cast<double>(static_cast<std::int64_t>(full)));
    const __m128d half = _mm_set1_pd(static_cast<double>(static_cast<std::int64_t>(full / 2)));
    const __m128d weight = _mm_set1_pd(wholeWeight);
    const __m128d bgRg = _mm_set_pd((background >> 8) & 0xFF, (background >> 16) & 0xFF);
    const __m128d bgBa = _mm_set_pd(0, background & 0xFF);
    const __m128i zero = _mm_setzero_si128();
    for (std::size_t x = 0; x < width; ++x, acc += 4, whole += 4) {
        auto* accLanes = reinterpret_cast<__m128i*>(acc);
        const __m128i wholeLanes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(whole));
        const __m128d rg = _mm_add_pd(ToDoubles(_mm_loadu_si128(accLanes)),
                                      _mm_mul_pd(weight, ToDoubles(_mm_unpacklo_epi32(wholeLanes, zero))));
        const __m128d ba = _mm_add_pd(ToDoubles(_mm_loadu_si128(accLanes + 1)),
                                      _mm_mul_pd(weight, ToDoubles(_mm_unpackhi_epi32(wholeLanes, zero))));
        const __m128d uncovered = _mm_sub_pd(total, _mm_unpackhi_pd(ba, ba));
        const __m128d rgNum = _mm_add_pd(_mm_add_pd(rg, _mm_mul_pd(bgRg, uncovered)), half);
        const __m128d baNum = _mm_add_pd(_mm_add_pd(ba, _mm_mul_pd(bgBa, uncovered)), half);
        // Quotients r, g, b, (a), saturated to bytes; the pixel is 0x00RRGGBB.
        const __m128i q =
            _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_div_pd(rgNum, total)), _mm_cvttpd_epi32(_mm_div_pd(baNum, total)));
        const auto bytes = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(q, q), zero)));
        out[x] = (bytes & 0xFF) << 16 | (bytes & 0xFF00) | (bytes >> 16 & 0xFF);
        _mm_storeu_si128(accLanes, zero);
        _mm_storeu_si128(accLanes + 1, zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(whole), zero);
    }
}

constexpr AreaScaler::Kernels kSse2 = {PremultiplySse2, SumColumnsSse2, AddWeightedSse2, AddSse2, EmitSse2};
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
    if (begun_) throw DecodeError("picture started twice");
    if (width <= 0 || height <= 0) throw DecodeError("picture has no pixels");
    begun_ = true;
    srcWidth_ = width;
    srcHeight_ = height;

    // Lengths are measured in units where a source pixel is dstWidth_ long and a destination
    // pixel srcWidth_ long, so every overlap is a whole number and each column's weights add up
    // to exactly srcWidth_.
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
    // A column's sum is at most 255 * 255 * srcWidth_: within 32 bits up to 66051 pixels wide.
    narrowSums_ = width <= 66051;
    narrowSum_.assign(narrowSums_ ? static_cast<std::size_t>(dstWidth_) * 4 : 0, 0);
    wideSum_.assign(narrowSums_ ? 0 : static_cast<std::size_t>(dstWidth_) * 4, 0);
    // A destination row holds at most height / dstHeight_ + 1 whole source rows, each summing to
    // at most 255 * 255 * width.
    wholeRows_ = narrowSums_ && std::uint64_t{255 * 255} * static_cast<std::uint64_t>(width) *
                                        static_cast<std::uint64_t>(height / dstHeight_ + 1) <=
                                    0xFFFFFFFFu;
    whole_.assign(static_cast<std::size_t>(dstWidth_) * 4, 0);

    full_ = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 255;
    premultiplied_.assign(static_cast<std::size_t>(width) * 4, 0);
    accumulator_.assign(static_cast<std::size_t>(dstWidth_) * 4, 0);
    out_.width = dstWidth_;
    out_.height = dstHeight_;
    out_.pixels.assign(static_cast<std::size_t>(dstWidth_) * static_cast<std::size_t>(dstHeight_), 0);
}

template <typename Sum>
void AreaScaler::Accumulate() {
    const std::uint32_t* pre = premultiplied_.data();
    Sum* sum;
    if constexpr (sizeof(Sum) == 4) {
        sum = narrowSum_.data();
        kernels_->sumColumns(pre, columns_.data(), columns_.size(), static_cast<std::uint32_t>(dstWidth_), sum);
    } else {
        sum = wideSum_.data();
        const auto dw = static_cast<Sum>(dstWidth_);
        Sum* out = sum;
        for (const Column& column : columns_) {
            const std::uint32_t* p = pre + static_cast<std::size_t>(column.first) * 4;
            for (int c = 0; c < 4; ++c) out[c] = Sum{column.firstWeight} * p[c];
            if (column.count > 1) {
                // Plain sums for the pixels wholly inside, weighed once.
                const std::uint32_t* last = p + static_cast<std::size_t>(column.count - 1) * 4;
                for (int c = 0; c < 4; ++c) {
                    Sum between = 0;
                    for (const std::uint32_t* q = p + 4 + c; q < last; q += 4) between += *q;
                    out[c] += dw * between + Sum{column.lastWeight} * last[c];
                }
            }
            out += 4;
        }
    }

    // Same trick vertically: a source row is dstHeight_ long, a destination row srcHeight_.
    const std::int64_t sh = srcHeight_, dh = dstHeight_;
    const std::int64_t lo = srcRow_ * dh, hi = (srcRow_ + 1) * dh;
    const std::size_t n = accumulator_.size();
    while (dstRow_ < dstHeight_) {
        const std::int64_t rowLo = dstRow_ * sh, rowHi = (dstRow_ + 1) * sh;
        const std::int64_t overlap = std::min(hi, rowHi) - std::max(lo, rowLo);
        if (overlap == dh && wholeRows_) {
            if constexpr (sizeof(Sum) == 4) kernels_->add(sum, whole_.data(), n);
        } else if (overlap > 0) {
            // overlap <= dstHeight_, so 32 bits; a narrow sum times it widens in one multiply.
            const auto w = static_cast<std::uint32_t>(overlap);
            std::uint64_t* acc = accumulator_.data();
            if constexpr (sizeof(Sum) == 4) {
                kernels_->addWeighted(sum, acc, n, w);
            } else {
                for (std::size_t i = 0; i < n; ++i) acc[i] += w * sum[i];
            }
        }
        if (rowHi > hi) break;  // the rest of this destination row lies in later source rows
        EmitRow();
    }
}

void AreaScaler::Row(std::span<const std::uint8_t> rgba) {
    if (!begun_ || srcRow_ >= srcHeight_) throw DecodeError("more rows than the picture has");
    if (rgba.size() != static_cast<std::size_t>(srcWidth_) * 4) throw DecodeError("row has the wrong length");

    // Premultiplying first keeps the colour of fully transparent pixels out of the mean.
    kernels_->premultiply(rgba.data(), premultiplied_.data(), rgba.size());
    if (narrowSums_) {
        Accumulate<std::uint32_t>();
    } else {
        Accumulate<std::uint64_t>();
    }
    ++srcRow_;
}

void AreaScaler::EmitRow() {
    // Each destination pixel has collected a total weight of srcWidth_ * srcHeight_.
    std::uint32_t* out = &out_.pixels[static_cast<std::size_t>(dstRow_) * static_cast<std::size_t>(dstWidth_)];
    kernels_->emit(accumulator_.data(), whole_.data(), static_cast<std::size_t>(dstWidth_),
                   static_cast<std::uint32_t>(dstHeight_), full_, background_, out);
    ++dstRow_;
}

Image AreaScaler::Take() {
    if (!begun_ || srcRow_ != srcHeight_ || dstRow_ != dstHeight_) throw DecodeError("picture ended early");
    begun_ = false;
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
