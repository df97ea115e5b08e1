#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <utility>
#include <string>
#include <vector>

#include "pictures/area_scaler.h"
#include "pictures/decode.h"
#include "pictures/resampler.h"
#include "pictures_test_support.h"

namespace {

using pictures::DecodeError;
using pictures::Image;
using pictures::LoadPicture;
using pictures::Resampler;
using pictures::RgbaImage;
using namespace pictures_test;

std::vector<int> Channel(const Image& image, int shift) {
    std::vector<int> out;
    for (std::uint32_t p : image.pixels) out.push_back(int((p >> shift) & 0xFF));
    return out;
}

// Linear between the two source pixels nearest each destination centre, clamped at the ends:
// a black and a white pixel enlarged 4 times give a ramp, not two blocks.
TEST(Resampler, EnlargesSmoothlyNotInBlocks) {
    const RgbaImage pair = Make(2, 1, [](int x, int) { return x ? Rgba{255, 255, 255, 255} : Rgba{0, 0, 0, 255}; });
    EXPECT_EQ(Channel(Resample(pair, 8, 1, 0), 0), (std::vector<int>{0, 0, 32, 96, 159, 223, 255, 255}));
    const RgbaImage column = Make(1, 2, [](int, int y) { return y ? Rgba{255, 255, 255, 255} : Rgba{0, 0, 0, 255}; });
    EXPECT_EQ(Channel(Resample(column, 1, 8, 0), 0), (std::vector<int>{0, 0, 32, 96, 159, 223, 255, 255}));
}

// Whatever grows or shrinks, a flat picture stays exactly flat: no ringing, no seams.
TEST(Resampler, FlatStaysFlat) {
    const RgbaImage flat = Make(7, 5, [](int, int) { return Rgba{200, 100, 50, 255}; });
    struct Size {
        int width, height;
    };
    for (const Size s : {Size{20, 13}, Size{20, 3}, Size{3, 13}, Size{7, 6}}) {
        const Image out = Resample(flat, s.width, s.height, 0);
        EXPECT_TRUE(std::all_of(out.pixels.begin(), out.pixels.end(), [](std::uint32_t p) { return p == 0xC86432; }))
            << s.width << "x" << s.height;
    }
}

// Growing on one axis and shrinking on the other: the shrinking axis is area-averaged.
TEST(Resampler, AveragesTheAxisThatShrinks) {
    const RgbaImage stripes = Make(2, 4, [](int, int y) {
        return y % 2 ? Rgba{255, 255, 255, 255} : Rgba{0, 0, 0, 255};
    });
    const Image out = Resample(stripes, 5, 2, 0);
    EXPECT_EQ(Channel(out, 8), std::vector<int>(10, 128));
}

// Premultiplied: a transparent neighbour's colour never bleeds into the mix; the background
// shows through in proportion.
TEST(Resampler, KeepsTransparentColourOut) {
    const RgbaImage pair = Make(2, 1, [](int x, int) { return x ? Rgba{0, 255, 0, 0} : Rgba{255, 0, 0, 255}; });
    const Image out = Resample(pair, 4, 1, 0xFFFFFF);
    EXPECT_EQ(Channel(out, 16), std::vector<int>(4, 255));
    EXPECT_EQ(Channel(out, 8), Channel(out, 0)) << "green came from the transparent pixel";
    EXPECT_EQ(Channel(out, 8), (std::vector<int>{0, 64, 191, 255}));
}

// Where nothing grows the area scaler does the work: the same pixels as before, exactly.
TEST(Resampler, GivesTheAreaScalersPixelsWhereNothingGrows) {
    struct Case {
        const char* asset;
        int width, height;
    };
    for (const Case& c : {Case{"banner.jpg", 729, 105}, Case{"banner.jpg", 911, 131}, Case{"logo.png", 202, 170},
                          Case{"logo.png", 404, 340}}) {
        const Bytes file = ReadAsset(c.asset);
        EXPECT_EQ(LoadPicture(file, c.width, c.height, 0xFFFFFF).pixels,
                  pictures::ScaleRgba(pictures::DecodeRgba(file), c.width, c.height, 0xFFFFFF).pixels)
            << c.asset << " at " << c.width << "x" << c.height;
    }
}

// The banner at 144 and 192 dpi grows: streamed from the reader it matches the resampled
// full decode, and it is smooth where the area scaler would repeat columns.
TEST(Resampler, StreamsTheBannerAsTheFullDecodeGives) {
    const Bytes file = ReadAsset("banner.jpg");
    const RgbaImage decoded = pictures::DecodeRgba(file);
    for (const auto& [width, height] : {std::pair{1094, 158}, std::pair{1458, 210}}) {
        EXPECT_EQ(LoadPicture(file, width, height, 0xFFFFFF).pixels, Resample(decoded, width, height, 0xFFFFFF).pixels);
    }
}

// The SSE2 loops and the portable ones give the same pixels: sizes that grow on one axis or
// both, odd widths for the loops' tails, noise with clear and part-covered pixels.
TEST(Resampler, Sse2AndPortableLoopsAgree) {
    struct Size {
        int sw, sh, dw, dh;
    };
    Random random(54321);
    for (const Size s : {Size{960, 209, 1094, 158}, Size{960, 209, 1458, 210}, Size{7, 5, 20, 13}, Size{7, 5, 3, 13},
                         Size{7, 5, 20, 3}, Size{1, 1, 5, 3}, Size{2, 3, 9, 4}}) {
        const RgbaImage noise = Noise(s.sw, s.sh, random);
        const std::uint32_t background = RandomBackground(random);
        const auto portable = Resample(noise, s.dw, s.dh, background, pictures::Instructions::kPortable).pixels;
        for (const auto instructions : {pictures::Instructions::kBest, pictures::Instructions::kSse2}) {
            EXPECT_EQ(Resample(noise, s.dw, s.dh, background, instructions).pixels, portable)
                << s.sw << "x" << s.sh << " -> " << s.dw << "x" << s.dh << " form " << static_cast<int>(instructions);
        }
    }
}

TEST(Resampler, RefusesBrokenStreams) {
    const RgbaImage pair = Make(2, 2, [](int, int) { return Rgba{1, 2, 3, 255}; });
    const std::vector<std::uint8_t> row(8, 0);
    struct Case {
        const char* name;
        std::function<void(Resampler&)> feed;
    };
    const Case cases[] = {
        {"no rows", [](Resampler& r) { r.Begin(2, 2); }},
        {"one row short",
         [&](Resampler& r) {
             r.Begin(2, 2);
             r.Row(row);
         }},
        {"never begun", [](Resampler&) {}},
    };
    for (const Case& c : cases) {
        Resampler resampler(5, 5, 0);
        c.feed(resampler);
        EXPECT_THROW(resampler.Take(), DecodeError) << c.name;
    }
    const Case refused[] = {
        {"begun twice",
         [](Resampler& r) {
             r.Begin(2, 2);
             r.Begin(2, 2);
         }},
        {"no pixels", [](Resampler& r) { r.Begin(0, 2); }},
        {"row before begin", [&](Resampler& r) { r.Row(row); }},
        {"row too short",
         [&](Resampler& r) {
             r.Begin(3, 2);
             r.Row(row);
         }},
        {"a row too many",
         [&](Resampler& r) {
             r.Begin(2, 1);
             r.Row(row);
             r.Row(row);
         }},
    };
    for (const Case& c : refused) {
        Resampler resampler(5, 5, 0);
        EXPECT_THROW(c.feed(resampler), DecodeError) << c.name;
    }
    EXPECT_THROW(Resampler(0, 5, 0), DecodeError);
    EXPECT_THROW(Resampler(5, 100000, 0), DecodeError);
}

}  // namespace
