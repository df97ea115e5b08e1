#pragma once

#include <cstdint>
#include <span>

namespace pictures {

// Receives a picture row by row so that no reader has to hold the whole picture.
class RowSink {
public:
    virtual ~RowSink() = default;
    // Called once, before any row; the size is already within the reader's limits.
    virtual void Begin(int width, int height) = 0;
    // Straight RGBA, 4 bytes a pixel, width * 4 bytes; rows arrive top-down.
    virtual void Row(std::span<const std::uint8_t> rgba) = 0;
};

}  // namespace pictures
