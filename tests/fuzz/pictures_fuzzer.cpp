#include <cstddef>
#include <cstdint>
#include <span>

#include "pictures/image.h"

namespace pictures_fuzz {

// Tighter than the defaults so that one input cannot take seconds; the code paths are the same.
inline pictures::Limits FuzzLimits() {
    pictures::Limits limits;
    limits.maxSide = 4096;
    limits.maxPixels = std::int64_t{4} << 20;
    limits.maxJpegMemory = 128L << 20;
    return limits;
}

// The first four bytes give the target size, 1 to 320 a side, so the fuzzer finds pictures to
// shrink, to grow and to do both; the rest is the file (scripts/fuzz.sh puts the prefix on the
// seeds).
inline int Run(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const int width = 1 + (data[0] | data[1] << 8) % 320;
    const int height = 1 + (data[2] | data[3] << 8) % 320;
    try {
        const pictures::Image image = pictures::LoadPicture(std::span<const std::uint8_t>(data + 4, size - 4), width,
                                                            height, 0xFFFFFF, FuzzLimits());
        if (image.width != width || image.height != height ||
            image.pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
            __builtin_trap();
        }
        for (const std::uint32_t pixel : image.pixels) {
            if (pixel > 0xFFFFFF) __builtin_trap();
        }
    } catch (const pictures::DecodeError&) {
    }
    return 0;
}

}  // namespace pictures_fuzz

// One target for both formats: the front door picks the reader by signature, and each run is
// seeded and steered (dictionary) with one format's files.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return pictures_fuzz::Run(data, size);
}
