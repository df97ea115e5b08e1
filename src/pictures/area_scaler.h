#pragma once

#include <cstdint>
#include <vector>

#include "pictures/decode.h"
#include "pictures/image.h"
#include "pictures/row_sink.h"

namespace pictures {

// Box-filters the incoming rows to a fixed size: every destination pixel is the mean of the
// source area under it, weighted by exact fractional coverage, in premultiplied alpha, and
// then laid over the background. Works for shrinking and stretching alike.
class AreaScaler final : public RowSink {
 public:
  // Throws DecodeError if the destination size is out of `limits`.
  AreaScaler(int width, int height, std::uint32_t background, const Limits& limits = {});

  void Begin(int width, int height) override;
  void Row(std::span<const std::uint8_t> rgba) override;

  // The finished picture; throws DecodeError if rows are missing.
  Image Take();

 private:
  struct Tap {
    int source;
    std::uint32_t weight;
  };
  void EmitRow();

  int dst_width_;
  int dst_height_;
  std::uint32_t background_;
  int src_width_ = 0;
  int src_height_ = 0;
  int src_row_ = 0;
  int dst_row_ = 0;
  bool begun_ = false;
  // Per destination column: taps_[tap_start_[x] .. tap_start_[x + 1]).
  std::vector<std::size_t> tap_start_;
  std::vector<Tap> taps_;
  std::vector<std::uint64_t> premultiplied_;  // one source row, R*A, G*A, B*A, A
  std::vector<std::uint64_t> row_sum_;        // one source row, scaled horizontally
  std::vector<std::uint64_t> accumulator_;    // the destination row being built
  Image out_;
};

// Convenience over AreaScaler for a picture already in memory.
Image ScaleRgba(const RgbaImage& source, int width, int height, std::uint32_t background);

}  // namespace pictures
