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

#define PICTURES_SIMD PICTURES_SSE2
namespace sse2 {
#include "pictures/adler32_sse2.inc"
}  // namespace sse2
#undef PICTURES_SIMD
#define PICTURES_SIMD PICTURES_VEX
namespace vex {
#include "pictures/adler32_sse2.inc"
}  // namespace vex
#undef PICTURES_SIMD

}  // namespace
#endif

Adler32Function Adler32For(Instructions instructions) {
#ifdef PICTURES_HAVE_SSE2
    switch (LoopFormFor(instructions)) {
        case LoopForm::kVex:
            return vex::Adler32Sse2;
        case LoopForm::kSse2:
            return sse2::Adler32Sse2;
        case LoopForm::kPortable:
            break;
    }
#endif
    (void)instructions;
    return PortableAdler32;
}

}  // namespace pictures
