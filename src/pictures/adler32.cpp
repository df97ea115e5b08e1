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

#define PICTURES_SIMD_LOOPS "pictures/adler32_sse2.inc"
#include "pictures/both_encodings.inc"

}  // namespace
#endif

Adler32Function Adler32For(Instructions instructions) {
#ifdef PICTURES_HAVE_SSE2
    return ChooseLoops(instructions, vex::Adler32Sse2, sse2::Adler32Sse2, PortableAdler32);
#else
    (void)instructions;
    return PortableAdler32;
#endif
}

}  // namespace pictures
