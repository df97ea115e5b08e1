#include "pictures/area_scaler.h"

#include <algorithm>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace pictures {

AreaScaler::AreaScaler(int width, int height, std::uint32_t background, const Limits& limits)
    : dstWidth_(width), dstHeight_(height), background_(background & 0xFFFFFFu) {
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
    inverseFull_ = 1.0 / static_cast<double>(full_);
    premultiplied_.assign(static_cast<std::size_t>(width) * 4, 0);
    accumulator_.assign(static_cast<std::size_t>(dstWidth_) * 4, 0);
    out_.width = dstWidth_;
    out_.height = dstHeight_;
    out_.pixels.assign(static_cast<std::size_t>(dstWidth_) * static_cast<std::size_t>(dstHeight_), 0);
}

template <typename Sum>
void AreaScaler::Accumulate() {
    const std::uint32_t* pre = premultiplied_.data();
    const auto dw = static_cast<Sum>(dstWidth_);
    Sum* sum;
    if constexpr (sizeof(Sum) == 4) {
        sum = narrowSum_.data();
    } else {
        sum = wideSum_.data();
    }
    Sum* out = sum;
    for (const Column& column : columns_) {
        const std::uint32_t* p = pre + static_cast<std::size_t>(column.first) * 4;
        Sum r = Sum{column.firstWeight} * p[0], g = Sum{column.firstWeight} * p[1];
        Sum b = Sum{column.firstWeight} * p[2], a = Sum{column.firstWeight} * p[3];
        if (column.count > 1) {
            // Plain sums for the pixels wholly inside, weighed once.
            Sum ir = 0, ig = 0, ib = 0, ia = 0;
            const std::uint32_t* last = p + static_cast<std::size_t>(column.count - 1) * 4;
            for (const std::uint32_t* q = p + 4; q != last; q += 4) {
                ir += q[0];
                ig += q[1];
                ib += q[2];
                ia += q[3];
            }
            const Sum lw = column.lastWeight;
            r += dw * ir + lw * last[0];
            g += dw * ig + lw * last[1];
            b += dw * ib + lw * last[2];
            a += dw * ia + lw * last[3];
        }
        out[0] = r;
        out[1] = g;
        out[2] = b;
        out[3] = a;
        out += 4;
    }

    // Same trick vertically: a source row is dstHeight_ long, a destination row srcHeight_.
    const std::int64_t sh = srcHeight_, dh = dstHeight_;
    const std::int64_t lo = srcRow_ * dh, hi = (srcRow_ + 1) * dh;
    const std::size_t n = accumulator_.size();
    while (dstRow_ < dstHeight_) {
        const std::int64_t rowLo = dstRow_ * sh, rowHi = (dstRow_ + 1) * sh;
        const std::int64_t overlap = std::min(hi, rowHi) - std::max(lo, rowLo);
        if (overlap == dh && wholeRows_) {
            std::uint32_t* whole = whole_.data();
            for (std::size_t i = 0; i < n; ++i) whole[i] += static_cast<std::uint32_t>(sum[i]);
        } else if (overlap > 0) {
            // overlap <= dstHeight_, so 32 bits; a narrow sum times it widens in one multiply.
            const auto w = static_cast<std::uint32_t>(overlap);
            std::uint64_t* acc = accumulator_.data();
            std::size_t i = 0;
#ifdef __SSE2__
            if constexpr (sizeof(Sum) == 4) {  // the compiler makes this a full 64-bit multiply
                const __m128i weight = _mm_set1_epi64x(w), zero = _mm_setzero_si128();
                for (; i + 4 <= n; i += 4) {
                    const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sum + i));
                    __m128i* a = reinterpret_cast<__m128i*>(acc + i);
                    _mm_storeu_si128(
                        a, _mm_add_epi64(_mm_loadu_si128(a), _mm_mul_epu32(_mm_unpacklo_epi32(s, zero), weight)));
                    _mm_storeu_si128(a + 1, _mm_add_epi64(_mm_loadu_si128(a + 1),
                                                          _mm_mul_epu32(_mm_unpackhi_epi32(s, zero), weight)));
                }
            }
#endif
            for (; i < n; ++i) acc[i] += static_cast<std::uint64_t>(w) * sum[i];
        }
        if (rowHi > hi) break;  // the rest of this destination row lies in later source rows
        EmitRow();
    }
}

void AreaScaler::Row(std::span<const std::uint8_t> rgba) {
    if (!begun_ || srcRow_ >= srcHeight_) throw DecodeError("more rows than the picture has");
    if (rgba.size() != static_cast<std::size_t>(srcWidth_) * 4) throw DecodeError("row has the wrong length");

    // Premultiplying first keeps the colour of fully transparent pixels out of the mean.
    const std::uint8_t* in = rgba.data();
    std::uint32_t* pre = premultiplied_.data();
    const std::size_t n = static_cast<std::size_t>(srcWidth_) * 4;
    std::size_t i = 0;
#ifdef __SSE2__
    // Four pixels at a time; the compiler does not vectorise the alpha broadcast on its own.
    const __m128i zero = _mm_setzero_si128();
    const __m128i alphaLanes = _mm_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0);
    const __m128i alphaOne = _mm_set_epi16(1, 0, 0, 0, 1, 0, 0, 0);
    const auto two = [&](__m128i px, std::uint32_t* out) {  // px: two pixels, 16 bits a sample
        __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(px, _MM_SHUFFLE(3, 3, 3, 3)), _MM_SHUFFLE(3, 3, 3, 3));
        a = _mm_or_si128(_mm_andnot_si128(alphaLanes, a), alphaOne);  // alpha itself is kept
        const __m128i product = _mm_mullo_epi16(px, a);               // at most 255 * 255: exact in 16 bits
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(product, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4), _mm_unpackhi_epi16(product, zero));
    };
    for (; i + 16 <= n; i += 16) {
        const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        two(_mm_unpacklo_epi8(px, zero), pre + i);
        two(_mm_unpackhi_epi8(px, zero), pre + i + 8);
    }
#endif
    for (; i < n; i += 4) {
        const std::uint32_t a = in[i + 3];
        pre[i + 0] = in[i + 0] * a;
        pre[i + 1] = in[i + 1] * a;
        pre[i + 2] = in[i + 2] * a;
        pre[i + 3] = a;
    }
    if (narrowSums_) {
        Accumulate<std::uint32_t>();
    } else {
        Accumulate<std::uint64_t>();
    }
    ++srcRow_;
}

namespace {

// floor(num / full) for num < 256 * full. Estimated in floating point, then put right with
// exact integer checks: a 64-bit division per channel costs more than the rest of the pixel.
std::uint32_t DivideSmall(std::uint64_t num, std::uint64_t full, double inverse) {
    if (full >= (std::uint64_t{1} << 44))
        return static_cast<std::uint32_t>(num / full);  // num may not be exact as a double
    auto q = static_cast<std::uint32_t>(static_cast<double>(static_cast<std::int64_t>(num)) * inverse);
    if (q * full > num) {
        --q;
    } else if ((q + 1) * full <= num) {
        ++q;
    }
    return q;
}

}  // namespace

void AreaScaler::EmitRow() {
    // Each destination pixel has collected a total weight of srcWidth_ * srcHeight_.
    const std::uint64_t full = full_;
    const std::uint64_t bg[3] = {(background_ >> 16) & 0xFF, (background_ >> 8) & 0xFF, background_ & 0xFF};
    std::uint32_t* out = &out_.pixels[static_cast<std::size_t>(dstRow_) * static_cast<std::size_t>(dstWidth_)];
    const auto dh = static_cast<std::uint64_t>(dstHeight_);
    std::uint64_t* acc = accumulator_.data();
    std::uint32_t* whole = whole_.data();
    for (std::size_t x = 0; x < static_cast<std::size_t>(dstWidth_); ++x, acc += 4, whole += 4) {
        std::uint64_t sum[4];
        for (int c = 0; c < 4; ++c) sum[c] = acc[c] + dh * whole[c];
        const std::uint64_t uncovered = full - sum[3];
        std::uint32_t pixel = 0;
        for (int c = 0; c < 3; ++c) {
            const std::uint32_t v = DivideSmall(sum[c] + bg[c] * uncovered + full / 2, full, inverseFull_);
            pixel = (pixel << 8) | std::min<std::uint32_t>(v, 255);
        }
        out[x] = pixel;
        acc[0] = acc[1] = acc[2] = acc[3] = 0;
        whole[0] = whole[1] = whole[2] = whole[3] = 0;
    }
    ++dstRow_;
}

Image AreaScaler::Take() {
    if (!begun_ || srcRow_ != srcHeight_ || dstRow_ != dstHeight_) throw DecodeError("picture ended early");
    begun_ = false;
    return std::move(out_);
}

Image ScaleRgba(const RgbaImage& source, int width, int height, std::uint32_t background) {
    AreaScaler scaler(width, height, background);
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
