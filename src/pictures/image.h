#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

namespace pictures {

// Opaque pixels as 0x00RRGGBB per uint32 (B,G,R,0 bytes in memory), rows top-down:
// exactly a 32-bpp top-down DIB, so the toolkit can hand it to GDI unchanged.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};

class DecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Decodes a PNG or a JPEG (told apart by signature), area-averages it to width x height and
// composites any alpha over `background` (0x00RRGGBB). Throws DecodeError with a short message.
Image LoadScaled(std::span<const std::uint8_t> file, int width, int height, std::uint32_t background);

}  // namespace pictures
