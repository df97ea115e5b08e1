#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "pictures/area_scaler.h"
#include "pictures/decode.h"

namespace pictures_fuzz {

// Tighter than the defaults so that one input cannot take seconds; the code paths are the same.
inline pictures::Limits FuzzLimits() {
    pictures::Limits limits;
    limits.maxSide = 4096;
    limits.maxPixels = std::int64_t{4} << 20;
    limits.maxJpegMemory = 128L << 20;
    return limits;
}

// The target size comes from the input length, so both shrinking and stretching get exercised.
template <typename Reader>
int Run(const std::uint8_t* data, std::size_t size, Reader read) {
    const pictures::Limits limits = FuzzLimits();
    const int width = 1 + static_cast<int>(size % 61);
    const int height = 1 + static_cast<int>((size / 61) % 47);
    try {
        pictures::AreaScaler scaler(width, height, 0xFFFFFF, limits);
        read(std::span<const std::uint8_t>(data, size), scaler, limits);
        const pictures::Image image = scaler.Take();
        if (image.pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) __builtin_trap();
    } catch (const pictures::DecodeError&) {
    }
    return 0;
}

}  // namespace pictures_fuzz
