#include "pictures/area_scaler.h"

#include <algorithm>
#include <utility>

namespace pictures {

AreaScaler::AreaScaler(int width, int height, std::uint32_t background, const Limits& limits)
    : dst_width_(width), dst_height_(height), background_(background & 0xFFFFFFu) {
  CheckSize(width, height, limits, "target size");
}

void AreaScaler::Begin(int width, int height) {
  if (begun_) throw DecodeError("picture started twice");
  if (width <= 0 || height <= 0) throw DecodeError("picture has no pixels");
  begun_ = true;
  src_width_ = width;
  src_height_ = height;

  // Lengths are measured in units where a source pixel is dst_width_ long and a destination
  // pixel src_width_ long, so every overlap is a whole number and each column's taps add up
  // to exactly src_width_.
  const std::int64_t sw = width, dw = dst_width_;
  tap_start_.assign(static_cast<std::size_t>(dst_width_) + 1, 0);
  taps_.clear();
  taps_.reserve(static_cast<std::size_t>(width + dst_width_));
  for (std::int64_t x = 0; x < dw; ++x) {
    tap_start_[static_cast<std::size_t>(x)] = taps_.size();
    const std::int64_t lo = x * sw, hi = (x + 1) * sw;
    for (std::int64_t i = lo / dw; i * dw < hi; ++i) {
      const std::int64_t overlap = std::min(hi, (i + 1) * dw) - std::max(lo, i * dw);
      if (overlap > 0) taps_.push_back({static_cast<int>(i), static_cast<std::uint32_t>(overlap)});
    }
  }
  tap_start_.back() = taps_.size();

  premultiplied_.assign(static_cast<std::size_t>(width) * 4, 0);
  row_sum_.assign(static_cast<std::size_t>(dst_width_) * 4, 0);
  accumulator_.assign(static_cast<std::size_t>(dst_width_) * 4, 0);
  out_.width = dst_width_;
  out_.height = dst_height_;
  out_.pixels.assign(static_cast<std::size_t>(dst_width_) * static_cast<std::size_t>(dst_height_), 0);
}

void AreaScaler::Row(std::span<const std::uint8_t> rgba) {
  if (!begun_ || src_row_ >= src_height_) throw DecodeError("more rows than the picture has");
  if (rgba.size() != static_cast<std::size_t>(src_width_) * 4) throw DecodeError("row has the wrong length");

  // Premultiplying first keeps the colour of fully transparent pixels out of the mean.
  for (std::size_t i = 0; i < static_cast<std::size_t>(src_width_); ++i) {
    const std::uint64_t a = rgba[i * 4 + 3];
    premultiplied_[i * 4 + 0] = rgba[i * 4 + 0] * a;
    premultiplied_[i * 4 + 1] = rgba[i * 4 + 1] * a;
    premultiplied_[i * 4 + 2] = rgba[i * 4 + 2] * a;
    premultiplied_[i * 4 + 3] = a;
  }
  for (std::size_t x = 0; x < static_cast<std::size_t>(dst_width_); ++x) {
    std::uint64_t r = 0, g = 0, b = 0, a = 0;
    for (std::size_t t = tap_start_[x]; t < tap_start_[x + 1]; ++t) {
      const std::uint64_t* p = &premultiplied_[static_cast<std::size_t>(taps_[t].source) * 4];
      const std::uint64_t w = taps_[t].weight;
      r += w * p[0];
      g += w * p[1];
      b += w * p[2];
      a += w * p[3];
    }
    row_sum_[x * 4 + 0] = r;
    row_sum_[x * 4 + 1] = g;
    row_sum_[x * 4 + 2] = b;
    row_sum_[x * 4 + 3] = a;
  }

  // Same trick vertically: a source row is dst_height_ long, a destination row src_height_.
  const std::int64_t sh = src_height_, dh = dst_height_;
  const std::int64_t lo = src_row_ * dh, hi = (src_row_ + 1) * dh;
  while (dst_row_ < dst_height_) {
    const std::int64_t row_lo = dst_row_ * sh, row_hi = (dst_row_ + 1) * sh;
    const std::int64_t overlap = std::min(hi, row_hi) - std::max(lo, row_lo);
    if (overlap > 0) {
      const auto w = static_cast<std::uint64_t>(overlap);
      for (std::size_t i = 0; i < accumulator_.size(); ++i) accumulator_[i] += w * row_sum_[i];
    }
    if (row_hi > hi) break;  // the rest of this destination row lies in later source rows
    EmitRow();
  }
  ++src_row_;
}

void AreaScaler::EmitRow() {
  // Each destination pixel has collected a total weight of src_width_ * src_height_.
  const std::uint64_t full = static_cast<std::uint64_t>(src_width_) * static_cast<std::uint64_t>(src_height_) * 255;
  const std::uint64_t bg[3] = {(background_ >> 16) & 0xFF, (background_ >> 8) & 0xFF, background_ & 0xFF};
  std::uint32_t* out = &out_.pixels[static_cast<std::size_t>(dst_row_) * static_cast<std::size_t>(dst_width_)];
  for (std::size_t x = 0; x < static_cast<std::size_t>(dst_width_); ++x) {
    const std::uint64_t* acc = &accumulator_[x * 4];
    const std::uint64_t uncovered = full - acc[3];
    std::uint32_t pixel = 0;
    for (int c = 0; c < 3; ++c) {
      const std::uint64_t v = (acc[c] + bg[c] * uncovered + full / 2) / full;
      pixel = (pixel << 8) | static_cast<std::uint32_t>(std::min<std::uint64_t>(v, 255));
    }
    out[x] = pixel;
  }
  std::fill(accumulator_.begin(), accumulator_.end(), 0);
  ++dst_row_;
}

Image AreaScaler::Take() {
  if (!begun_ || src_row_ != src_height_ || dst_row_ != dst_height_) throw DecodeError("picture ended early");
  begun_ = false;
  return std::move(out_);
}

Image ScaleRgba(const RgbaImage& source, int width, int height, std::uint32_t background) {
  AreaScaler scaler(width, height, background);
  CheckSize(source.width, source.height, Limits{}, "picture");
  const std::size_t stride = static_cast<std::size_t>(source.width) * 4;
  if (source.rgba.size() != stride * static_cast<std::size_t>(source.height)) throw DecodeError("pixel buffer has the wrong size");
  scaler.Begin(source.width, source.height);
  for (int y = 0; y < source.height; ++y) {
    scaler.Row(std::span(source.rgba).subspan(static_cast<std::size_t>(y) * stride, stride));
  }
  return scaler.Take();
}

}  // namespace pictures
