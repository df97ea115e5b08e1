#pragma once

// Helpers shared by the picture tests: pictures made in code, feeding them to a scaler, fixture
// files, hand-built PNG files and the check that a malformed file is refused for the right reason.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "pictures/decode.h"
#include "pictures/resampler.h"

namespace pictures_test {

struct Rgba {
    std::uint8_t r, g, b, a;
};

// A picture of `width` x `height` whose pixels `pixel(x, y)` gives.
inline pictures::RgbaImage Make(int width, int height, const std::function<Rgba(int, int)>& pixel) {
    pictures::RgbaImage image{width, height, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgba p = pixel(x, y);
            image.rgba.insert(image.rgba.end(), {p.r, p.g, p.b, p.a});
        }
    }
    return image;
}

// The same pseudo-random bytes on every run.
class Random {
public:
    explicit Random(std::uint32_t seed) : state_(seed) {}
    std::uint8_t Next() {
        state_ = state_ * 1664525u + 1013904223u;
        return std::uint8_t(state_ >> 24);
    }

private:
    std::uint32_t state_;
};

// Random colours over opaque, clear and part-covered pixels in equal shares; the columns left
// of `clearColumns` all clear, their colours still random, for loops that pass over clear pixels.
inline pictures::RgbaImage Noise(int width, int height, Random& random, int clearColumns = 0) {
    return Make(width, height, [&](int x, int) {
        const int kind = x < clearColumns ? 1 : random.Next() % 3;
        const std::uint8_t r = random.Next(), g = random.Next(), b = random.Next();
        const std::uint8_t alpha = kind == 0 ? 255 : kind == 1 ? 0 : random.Next();
        return Rgba{r, g, b, alpha};
    });
}

// A background colour (0x00RRGGBB) from `random`.
inline std::uint32_t RandomBackground(Random& random) {
    const std::uint32_t r = random.Next(), g = random.Next(), b = random.Next();
    return r << 16 | g << 8 | b;
}

// Hands `image` to `sink` as a reader does: its size, then its rows top-down.
inline void Feed(pictures::RowSink& sink, const pictures::RgbaImage& image) {
    sink.Begin(image.width, image.height);
    const std::size_t stride = static_cast<std::size_t>(image.width) * 4;
    for (int y = 0; y < image.height; ++y) sink.Row({image.rgba.data() + static_cast<std::size_t>(y) * stride, stride});
}

// `source` scaled by the resampler LoadPicture streams into.
inline pictures::Image Resample(const pictures::RgbaImage& source, int width, int height, std::uint32_t background,
                                pictures::Instructions instructions = pictures::Instructions::kBest) {
    pictures::Resampler resampler(width, height, background, {}, instructions);
    Feed(resampler, source);
    return resampler.Take();
}

using Bytes = std::vector<std::uint8_t>;

// TEST_FIXTURE_DIR is a Unix path; a Windows build running under Wine reaches it through Z:.
inline std::string FixturePath(const std::string& relative) {
    std::string dir = TEST_FIXTURE_DIR;
#ifdef _WIN32
    if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir;
#endif
    return dir + "/" + relative;
}

// The artwork in assets/: TEST_ASSET_DIR when the build gives it, else found beside the fixtures.
inline std::string AssetPath(const std::string& name) {
#ifdef TEST_ASSET_DIR
    std::string dir = TEST_ASSET_DIR;
#ifdef _WIN32
    if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir;
#endif
    return dir + "/" + name;
#else
    return FixturePath("../../assets/" + name);
#endif
}

// A missing fixture or asset is a broken checkout: the test fails, naming the file.
inline Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("missing test file " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline Bytes ReadFixture(const std::string& relative) { return ReadFile(FixturePath(relative)); }
inline Bytes ReadAsset(const std::string& name) { return ReadFile(AssetPath(name)); }

// Decoding `file` must be refused with a message that holds `error`; `name` labels the case.
inline void ExpectRefused(const Bytes& file, const std::string& error, const std::string& name) {
    try {
        pictures::DecodeRgba(file);
        ADD_FAILURE() << name << ": decoded, expected the error \"" << error << "\"";
    } catch (const pictures::DecodeError& e) {
        EXPECT_TRUE(std::string(e.what()).find(error) != std::string::npos)
            << name << ": refused with \"" << e.what() << "\", expected \"" << error << "\"";
    }
}

// A malformed file and the error it must be refused with: a part of the reader's message, so
// each row shows it reached the check it is named for rather than failing earlier.
struct BadPicture {
    const char* name;
    Bytes file;
    const char* error;
};

inline void ExpectEachRefused(const std::vector<BadPicture>& table) {
    for (const BadPicture& bad : table) ExpectRefused(bad.file, bad.error, bad.name);
}

inline std::uint32_t Be32(const Bytes& bytes, std::size_t at) {
    return std::uint32_t(bytes.at(at)) << 24 | std::uint32_t(bytes.at(at + 1)) << 16 |
           std::uint32_t(bytes.at(at + 2)) << 8 | bytes.at(at + 3);
}

inline void PutBe32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(std::uint8_t(v >> shift));
}

// Written out here so the tests do not lean on the zlib under test.
inline std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

inline Bytes Chunk(const std::string& type, const Bytes& data) {
    Bytes out;
    PutBe32(out, std::uint32_t(data.size()));
    Bytes body(type.begin(), type.end());
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    PutBe32(out, Crc32(body.data(), body.size()));
    return out;
}

inline Bytes Ihdr(std::uint32_t width, std::uint32_t height, int depth, int colorType, int interlace = 0) {
    Bytes data;
    PutBe32(data, width);
    PutBe32(data, height);
    data.insert(data.end(), {std::uint8_t(depth), std::uint8_t(colorType), 0, 0, std::uint8_t(interlace)});
    return Chunk("IHDR", data);
}

// A zlib stream of uncompressed blocks, so a test controls every byte that inflates.
inline Bytes StoredZlib(const Bytes& raw) {
    Bytes out = {0x78, 0x01};
    std::size_t pos = 0;
    do {
        const std::size_t n = std::min<std::size_t>(raw.size() - pos, 65535);
        const bool last = pos + n == raw.size();
        out.push_back(last ? 1 : 0);
        out.insert(out.end(), {std::uint8_t(n), std::uint8_t(n >> 8), std::uint8_t(~n), std::uint8_t(~n >> 8)});
        out.insert(out.end(), raw.begin() + std::ptrdiff_t(pos), raw.begin() + std::ptrdiff_t(pos + n));
        pos += n;
    } while (pos < raw.size());
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBe32(out, b << 16 | a);
    return out;
}

inline Bytes PngSignature() { return {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}; }

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// Signature, IHDR, `middle` chunks, one IDAT holding `raw` (filter bytes included), IEND.
inline Bytes MakePng(const Bytes& ihdr, const Bytes& raw, const Bytes& middle = {}) {
    return Concat({PngSignature(), ihdr, middle, Chunk("IDAT", StoredZlib(raw)), Chunk("IEND", {})});
}

}  // namespace pictures_test
