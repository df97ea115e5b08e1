#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "pictures/area_scaler.h"
#include "pictures/decode.h"
#include "pictures_test_support.h"

namespace {

using pictures::DecodeError;
using pictures::Image;
using pictures::RgbaImage;
using pictures::ScaleRgba;
using pictures_test::Make;
using pictures_test::Rgba;

RgbaImage Grey(const std::vector<int>& row) {
    return Make(int(row.size()), 1, [&](int x, int) {
        const auto v = std::uint8_t(row[std::size_t(x)]);
        return Rgba{v, v, v, 255};
    });
}

std::vector<int> Greys(const Image& image) {
    std::vector<int> out;
    for (std::uint32_t p : image.pixels) out.push_back(int(p & 0xFF));
    return out;
}

// Any size to any size: a flat picture stays exactly flat, whatever the ratio.
struct Size {
    int sw, sh, dw, dh;
};

TEST(AreaScaler, UniformStaysUniform) {
    const std::vector<Size> sizes = {{989, 989, 202, 170}, {960, 209, 729, 105}, {960, 209, 1900, 300},
                                     {7, 5, 3, 2},         {3, 1, 2, 1},         {5, 3, 3, 5},
                                     {1, 1, 13, 9},        {2, 3, 7, 11},        {13, 7, 13, 7}};
    struct Colour {
        Rgba pixel;
        std::uint32_t background, expected;
    };
    // Semi-transparent: (c * a + bg * (255 - a)) / 255, rounded, per channel.
    const std::vector<Colour> colours = {{{12, 200, 77, 255}, 0xFFFFFF, 0x0CC84D},
                                         {{12, 200, 77, 0}, 0x123456, 0x123456},
                                         {{255, 0, 100, 128}, 0xFFFFFF, 0xFF7FB1},
                                         {{255, 0, 100, 128}, 0xFF000000, 0x800032}};  // top byte ignored
    for (const Size& s : sizes) {
        for (const Colour& c : colours) {
            const Image out = ScaleRgba(Make(s.sw, s.sh, [&](int, int) { return c.pixel; }), s.dw, s.dh, c.background);
            ASSERT_EQ(out.pixels.size(), std::size_t(s.dw) * std::size_t(s.dh));
            const std::vector<std::uint32_t> expected(out.pixels.size(), c.expected);
            EXPECT_EQ(out.pixels, expected)
                << s.sw << "x" << s.sh << " -> " << s.dw << "x" << s.dh << " bg " << std::hex << c.background;
        }
    }
}

// The largest pictures the limits let in keep their sums within the scaler's integer widths:
// a full-height column of 16384 rows, a full-width row, and the most pixels, into one pixel
// and into many, come out exact.
TEST(AreaScaler, LargestPicturesStayExact) {
    struct Case {
        int width, height, dstWidth, dstHeight;
    };
    // 12 and 14 columns into 2: four pixels wholly inside a column still sum in 32 bits, five not.
    const std::vector<Case> cases = {{4096, 16384, 1, 1},  {16384, 4096, 3, 1}, {1, 16384, 1, 7},
                                     {16384, 1, 16384, 1}, {12, 16384, 2, 1},   {14, 16384, 2, 1}};
    struct Colour {
        Rgba pixel;
        std::uint32_t expected;
    };
    for (const Case& c : cases) {
        for (const Colour& colour : {Colour{{255, 255, 255, 255}, 0xFFFFFF}, Colour{{255, 0, 100, 128}, 0xFF7FB1}}) {
            for (const auto instructions :
                 {pictures::Instructions::kBest, pictures::Instructions::kSse2, pictures::Instructions::kPortable}) {
                pictures::AreaScaler scaler(c.dstWidth, c.dstHeight, 0xFFFFFF, {}, instructions);
                scaler.Begin(c.width, c.height);
                std::vector<std::uint8_t> row;
                for (int x = 0; x < c.width; ++x) {
                    row.insert(row.end(), {colour.pixel.r, colour.pixel.g, colour.pixel.b, colour.pixel.a});
                }
                for (int y = 0; y < c.height; ++y) scaler.Row(row);
                EXPECT_EQ(
                    scaler.Take().pixels,
                    std::vector<std::uint32_t>(std::size_t(c.dstWidth) * std::size_t(c.dstHeight), colour.expected))
                    << c.width << "x" << c.height << " -> " << c.dstWidth << "x" << c.dstHeight;
            }
        }
    }
}

// Hand-worked one-row cases: each destination pixel weighs the source pixels by how much of
// them it covers.
TEST(AreaScaler, FractionalCoverage) {
    struct Case {
        std::vector<int> source;
        std::vector<int> expected;
    };
    const std::vector<Case> cases = {
        {{0, 90, 255}, {30, 200}},                  // 3 -> 2: (2a + b) / 3, (b + 2c) / 3
        {{0, 50, 100, 150, 250}, {20, 100, 210}},   // 5 -> 3: (3,2,0,0,0), (0,1,3,1,0), (0,0,0,2,3) fifths
        {{0, 255}, {0, 128, 255}},                  // 2 -> 3: the middle one straddles both
        {{10, 20, 30, 40}, {15, 35}},               // 2:1
        {{60}, {60, 60, 60, 60, 60}},               // 1 -> 5
        {{0, 30, 60}, {0, 0, 20, 30, 40, 60, 60}},  // 3 -> 7
    };
    for (const Case& c : cases) {
        const Image out = ScaleRgba(Grey(c.source), int(c.expected.size()), 1, 0);
        EXPECT_EQ(Greys(out), c.expected) << c.source.size() << " -> " << c.expected.size();
    }
}

TEST(AreaScaler, TwoByTwoCheckerboardGoesGrey) {
    const RgbaImage board = Make(64, 48, [](int x, int y) {
        const std::uint8_t v = (x + y) % 2 ? 255 : 0;
        return Rgba{v, v, v, 255};
    });
    const Image out = ScaleRgba(board, 32, 24, 0);
    EXPECT_EQ(out.pixels, std::vector<std::uint32_t>(32 * 24, 0x808080));  // 127.5 rounds up
}

TEST(AreaScaler, BothAxesTogether) {
    // 3x3 -> 2x2: each output covers a quarter of the bright centre pixel, 0.25 / 2.25 of its area.
    const RgbaImage dot = Make(3, 3, [](int x, int y) {
        const std::uint8_t v = x == 1 && y == 1 ? 255 : 0;
        return Rgba{v, v, v, 255};
    });
    EXPECT_EQ(Greys(ScaleRgba(dot, 2, 2, 0)), (std::vector<int>{28, 28, 28, 28}));
    // 1x2 -> 3x1 and 2x1 -> 1x3: one axis shrinks while the other grows.
    const RgbaImage column = Make(1, 2, [](int, int y) { return Rgba{std::uint8_t(y * 200), 0, 0, 255}; });
    EXPECT_EQ(ScaleRgba(column, 3, 1, 0).pixels, (std::vector<std::uint32_t>{0x640000, 0x640000, 0x640000}));
    const RgbaImage row = Make(2, 1, [](int x, int) { return Rgba{0, 0, std::uint8_t(x * 200), 255}; });
    EXPECT_EQ(ScaleRgba(row, 1, 3, 0).pixels, (std::vector<std::uint32_t>{0x64, 0x64, 0x64}));
}

TEST(AreaScaler, TransparentPixelsLendNoColour) {
    // Opaque red beside fully transparent green: the green must not show, only the background.
    const RgbaImage half = Make(2, 1, [](int x, int) { return x == 0 ? Rgba{255, 0, 0, 255} : Rgba{0, 255, 0, 0}; });
    EXPECT_EQ(ScaleRgba(half, 1, 1, 0xFFFFFF).pixels, (std::vector<std::uint32_t>{0xFF8080}));
    EXPECT_EQ(ScaleRgba(half, 1, 1, 0x000000).pixels, (std::vector<std::uint32_t>{0x800000}));
}

// A smooth ramp shrunk by a ratio like the logo's stays smooth: every output is the ramp's
// value at the centre of the area it covers, to within rounding.
TEST(AreaScaler, RampShrinksWithoutSteps) {
    const int sw = 989, dw = 202;
    const RgbaImage ramp = Make(sw, 3, [&](int x, int) {
        const auto v = std::uint8_t(std::lround(x * 255.0 / (sw - 1)));
        return Rgba{v, v, v, 255};
    });
    const std::vector<int> out = Greys(ScaleRgba(ramp, dw, 1, 0));
    for (int x = 0; x < dw; ++x) {
        const double centre = (x + 0.5) * sw / dw - 0.5;
        EXPECT_NEAR(out[std::size_t(x)], centre * 255.0 / (sw - 1), 1.0) << "column " << x;
    }
}

// The SSE2 loops, in both encodings, and the portable ones must give the same pixels, for the
// artwork's sizes and for odd widths that leave the vector loops a tail.
TEST(AreaScaler, Sse2AndPortableLoopsAgree) {
#if defined(__i386__) || defined(__x86_64__)
    EXPECT_TRUE(pictures::AreaScaler::BestIsSse2());
#endif
    const std::vector<Size> sizes = {{989, 989, 202, 170}, {960, 209, 729, 105}, {960, 209, 1900, 300},
                                     {37, 23, 5, 3},       {5, 3, 37, 23},       {13, 7, 13, 7},
                                     {1, 1, 3, 2},         {70, 1, 3, 1},        {3, 70, 1, 9}};
    pictures_test::Random random(12345);
    for (const Size& s : sizes) {
        const RgbaImage noise = pictures_test::Noise(s.sw, s.sh, random, s.sw / 3);
        const std::uint32_t background = pictures_test::RandomBackground(random);
        const Image portable = ScaleRgba(noise, s.dw, s.dh, background, pictures::Instructions::kPortable);
        for (const auto instructions : {pictures::Instructions::kBest, pictures::Instructions::kSse2}) {
            EXPECT_EQ(ScaleRgba(noise, s.dw, s.dh, background, instructions).pixels, portable.pixels)
                << s.sw << "x" << s.sh << " -> " << s.dw << "x" << s.dh << " form " << static_cast<int>(instructions);
        }
    }
}

TEST(AreaScaler, RowsMustMatchTheHeader) {
    pictures::AreaScaler scaler(2, 2, 0);
    scaler.Begin(3, 2);
    const std::vector<std::uint8_t> row(3 * 4, 0), shortRow(2 * 4, 0);
    EXPECT_THROW(scaler.Row(shortRow), DecodeError);
    scaler.Row(row);
    EXPECT_THROW(scaler.Take(), DecodeError);  // one row missing
    scaler.Row(row);
    EXPECT_THROW(scaler.Row(row), DecodeError);  // one too many
    EXPECT_EQ(scaler.Take().pixels.size(), 4u);
}

// Both sizes are checked where they come in: the target when the scaler is made, the source at
// Begin, whoever calls it, as the scaler's arithmetic is sized for the largest pictures only.
TEST(AreaScaler, SizesAreValidated) {
    const std::vector<std::pair<int, int>> refused = {{0, 1}, {1, 0}, {-5, 10}, {16385, 1}, {1, 16385}, {8192, 8193}};
    for (const auto& [w, h] : refused) {
        EXPECT_THROW(pictures::AreaScaler(w, h, 0), DecodeError) << w << "x" << h;
        pictures::AreaScaler scaler(2, 2, 0);
        EXPECT_THROW(scaler.Begin(w, h), DecodeError) << "source " << w << "x" << h;
    }
    pictures::AreaScaler scaler(2, 2, 0);
    EXPECT_NO_THROW(scaler.Begin(8192, 8192));
}

}  // namespace
