#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "pictures/decode.h"

namespace pictures {

// What both scalers check of the rows they are given: one Begin, within the sizes their
// arithmetic is made for, then exactly `height` rows of `width` pixels, then one Take.
class SourceRows {
public:
    void Begin(int width, int height) {
        if (begun_) throw DecodeError("picture started twice");
        if (width <= 0 || height <= 0) throw DecodeError("picture has no pixels");
        CheckSize(width, height, Limits{}, "picture");
        begun_ = true;
        width_ = width;
        height_ = height;
    }

    // The index of this row, counted.
    int Next(std::span<const std::uint8_t> rgba) {
        if (!begun_ || received_ >= height_) throw DecodeError("more rows than the picture has");
        if (rgba.size() != static_cast<std::size_t>(width_) * 4) throw DecodeError("row has the wrong length");
        return received_++;
    }

    void End() {
        if (!begun_ || received_ != height_) throw DecodeError("picture ended early");
        begun_ = false;
    }

    int Width() const { return width_; }
    int Height() const { return height_; }

private:
    bool begun_ = false;
    int width_ = 0;
    int height_ = 0;
    int received_ = 0;
};

}  // namespace pictures
