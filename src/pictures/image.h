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

// The largest pictures read or made: the scalers' arithmetic is sized for them, so a Limits can
// only tighten them.
constexpr int kLargestSide = 16384;
constexpr std::int64_t kMostPixels = std::int64_t{1} << 26;

// Checked before anything sized by the picture is allocated.
struct Limits {
    int maxSide = kLargestSide;
    std::int64_t maxPixels = kMostPixels;
    // libjpeg's own working memory (progressive pictures keep all coefficients).
    long maxJpegMemory = 512L << 20;
    // Crafted progressive files can hold endless tiny scans, each a full pass over the picture.
    int maxJpegScans = 1000;
};

// The way in: decodes a PNG or a JPEG (told apart by signature) and scales it straight to
// width x height over `background` (0x00RRGGBB), averaged along an axis it shrinks on and
// interpolated along one it grows on. Throws DecodeError with a short message.
Image LoadPicture(std::span<const std::uint8_t> file, int width, int height, std::uint32_t background,
                  const Limits& limits = {});

}  // namespace pictures
