#include <algorithm>
#include <string>
#include <utility>

#include "pictures/decode.h"
#include "pictures/image.h"
#include "pictures/resampler.h"

namespace pictures {

void CheckSize(std::int64_t width, std::int64_t height, const Limits& limits, const char* what) {
    if (width <= 0 || height <= 0) throw DecodeError(std::string(what) + " is empty");
    const std::int64_t side = std::min(limits.maxSide, kLargestSide);
    const std::int64_t pixels = std::min(limits.maxPixels, kMostPixels);
    if (width > side || height > side || width * height > pixels) {
        throw DecodeError(std::string(what) + " is too large");
    }
}

bool LooksLikePng(std::span<const std::uint8_t> file) {
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return file.size() >= 8 && std::equal(kSignature, kSignature + 8, file.begin());
}

bool LooksLikeJpeg(std::span<const std::uint8_t> file) {
    return file.size() >= 3 && file[0] == 0xFF && file[1] == 0xD8 && file[2] == 0xFF;
}

void Decode(std::span<const std::uint8_t> file, RowSink& sink, const Limits& limits) {
    if (LooksLikePng(file)) return DecodePng(file, sink, limits);
    if (LooksLikeJpeg(file)) return DecodeJpeg(file, sink, limits);
    throw DecodeError("neither a PNG nor a JPEG");
}

namespace {

class CollectingSink final : public RowSink {
public:
    void Begin(int width, int height) override {
        image.width = width;
        image.height = height;
        image.rgba.clear();
        image.rgba.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    }
    void Row(std::span<const std::uint8_t> rgba) override {
        image.rgba.insert(image.rgba.end(), rgba.begin(), rgba.end());
    }
    RgbaImage image;
};

}  // namespace

RgbaImage DecodeRgba(std::span<const std::uint8_t> file, const Limits& limits) {
    CollectingSink sink;
    Decode(file, sink, limits);
    if (sink.image.rgba.size() !=
        static_cast<std::size_t>(sink.image.width) * static_cast<std::size_t>(sink.image.height) * 4) {
        throw DecodeError("picture ended early");
    }
    return std::move(sink.image);
}

Image LoadPicture(std::span<const std::uint8_t> file, int width, int height, std::uint32_t background,
                  const Limits& limits) {
    Resampler scaler(width, height, background, limits);
    Decode(file, scaler, limits);
    return scaler.Take();
}

}  // namespace pictures
