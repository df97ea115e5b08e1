#pragma once

// The readers behind LoadPicture, for callers that want rows or the full-size picture.

#include <cstdint>
#include <span>
#include <vector>

#include "pictures/image.h"
#include "pictures/row_sink.h"

namespace pictures {

// Throws DecodeError unless 0 < width, height <= maxSide and width * height <= maxPixels, and
// within kLargestSide and kMostPixels whatever the limits say.
void CheckSize(std::int64_t width, std::int64_t height, const Limits& limits, const char* what);

bool LooksLikePng(std::span<const std::uint8_t> file);
bool LooksLikeJpeg(std::span<const std::uint8_t> file);

// Each reader calls sink.Begin once, then sink.Row once per row, top-down, as the rows decode.
void DecodePng(std::span<const std::uint8_t> file, RowSink& sink, const Limits& limits = {});
void DecodeJpeg(std::span<const std::uint8_t> file, RowSink& sink, const Limits& limits = {});
// Picks the reader by signature.
void Decode(std::span<const std::uint8_t> file, RowSink& sink, const Limits& limits = {});

// Full-size, straight (not premultiplied) RGBA, 4 bytes a pixel, rows top-down.
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;
};
RgbaImage DecodeRgba(std::span<const std::uint8_t> file, const Limits& limits = {});

}  // namespace pictures
