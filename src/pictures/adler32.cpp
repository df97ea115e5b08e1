#include "pictures/adler32.h"

#include <zlib.h>

#include <algorithm>

#include "pictures/processor.h"

#ifdef PICTURES_HAVE_SSE2
#include <emmintrin.h>
#endif

namespace pictures {

std::uint32_t PortableAdler32(std::uint32_t adler, const std::uint8_t* data, std::size_t size) {
    // zlib's own, in pieces its length type takes.
    while (size > 0) {
        const auto piece = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
        adler = static_cast<std::uint32_t>(adler32(adler, data, piece));
        data += piece;
        size -= piece;
    }
    return adler;
}

#ifdef PICTURES_HAVE_SSE2
namespace {

constexpr std::uint32_t kBase = 65521;
// At most this many bytes between reductions keep every lane below 2^32.
constexpr std::size_t kBlock = 5552 / 16 * 16;

PICTURES_SSE2 std::uint32_t SumLanes(__m128i v) {
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(v));
}

// Sixteen bytes a step: `a` gains their sum, `b` gains 16 times `a` as it was plus the bytes
// weighted 16, 15, ... 1.
PICTURES_SSE2 std::uint32_t Adler32Sse2(std::uint32_t adler, const std::uint8_t* data, std::size_t size) {
    std::uint32_t a = adler & 0xFFFF, b = adler >> 16;
    const __m128i zero = _mm_setzero_si128();
    const __m128i firstWeights = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
    const __m128i lastWeights = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
    while (size >= 16) {
        const std::size_t steps = std::min(size, kBlock) / 16;
        __m128i sumA = zero, sumB = zero, earlierA = zero;  // earlierA: sumA before each step, added up
        for (std::size_t i = 0; i < steps; ++i, data += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
            earlierA = _mm_add_epi32(earlierA, sumA);
            sumA = _mm_add_epi32(sumA, _mm_sad_epu8(bytes, zero));
            sumB = _mm_add_epi32(sumB, _mm_madd_epi16(_mm_unpacklo_epi8(bytes, zero), firstWeights));
            sumB = _mm_add_epi32(sumB, _mm_madd_epi16(_mm_unpackhi_epi8(bytes, zero), lastWeights));
        }
        size -= steps * 16;
        const std::uint64_t newB =
            b + std::uint64_t{a} * 16 * steps + std::uint64_t{SumLanes(earlierA)} * 16 + SumLanes(sumB);
        a = static_cast<std::uint32_t>((a + std::uint64_t{SumLanes(sumA)}) % kBase);
        b = static_cast<std::uint32_t>(newB % kBase);
    }
    for (; size > 0; --size, ++data) {
        a += *data;
        b += a;
    }
    return (b % kBase) << 16 | (a % kBase);
}

}  // namespace
#endif

Adler32Function BestAdler32() {
#ifdef PICTURES_HAVE_SSE2
    if (ProcessorHasSse2()) return Adler32Sse2;
#endif
    return PortableAdler32;
}

}  // namespace pictures
