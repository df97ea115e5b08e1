#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "pictures/decode.h"
#include "pictures_test_support.h"

namespace {

using pictures::DecodeError;
using pictures::DecodeRgba;
using namespace pictures_test;

// The reference for a 16-bit picture is ImageMagick's 16-bit decode, narrowed to the nearest 8-bit value.
Bytes Reference(const std::string& name) {
    if (name.ends_with("16")) {
        const Bytes wide = ReadFixture("pictures/" + name + ".rgba16");
        Bytes narrow;
        for (std::size_t i = 0; i + 1 < wide.size(); i += 2) {
            narrow.push_back(std::uint8_t(std::lround((wide[i] << 8 | wide[i + 1]) / 257.0)));
        }
        return narrow;
    }
    return ReadFixture("pictures/" + name + ".rgba");
}

// Every colour type and bit depth the reader takes, against ImageMagick's decode of the same file.
class PngMatchesReference : public testing::TestWithParam<const char*> {};

TEST_P(PngMatchesReference, DecodesToTheSamePixels) {
    const std::string name = GetParam();
    const Bytes file = ReadFixture("pictures/" + name + ".png");
    const Bytes reference = Reference(name);
    ASSERT_FALSE(file.empty());
    ASSERT_EQ(reference.size(), 13u * 7u * 4u);
    const pictures::RgbaImage image = DecodeRgba(file);
    EXPECT_EQ(image.width, 13);
    EXPECT_EQ(image.height, 7);
    EXPECT_EQ(image.rgba, reference);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, PngMatchesReference,
                         testing::Values("rgba8", "rgba16", "rgb8", "rgb16", "rgb8-trns", "grey1", "grey2", "grey4",
                                         "grey8", "grey16", "grey8-trns", "grey-alpha8", "grey-alpha16", "palette1",
                                         "palette2", "palette4", "palette8-trns"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

Bytes Rgb8Rows() {
    // One row per filter type; the expected values were worked out by hand and agree with ImageMagick.
    return {0, 10,  20,  30,  40, 50, 60,  //
            1, 1,   2,   3,   4,  5,  6,   //
            2, 1,   1,   1,   1,  1,  1,   //
            3, 10,  10,  10,  10, 10, 10,  //
            4, 9,   0,   249, 1,  2,  3,   // takes Paeth's left, above and above-left branches in turn
            4, 254, 251, 251, 0,  0,  0};  // ties: left beats above-left, above beats above-left
}

TEST(PngFilters, EachRowFilterIsUndone) {
    const pictures::RgbaImage image = DecodeRgba(MakePng(Ihdr(2, 6, 8, 2), Rgb8Rows()));
    const std::vector<std::vector<int>> expected = {{10, 20, 30, 40, 50, 60}, {1, 2, 3, 5, 7, 9},
                                                    {2, 3, 4, 6, 8, 10},      {11, 11, 12, 18, 19, 21},
                                                    {20, 11, 5, 21, 21, 15},  {18, 6, 0, 18, 21, 15}};
    ASSERT_EQ(image.rgba.size(), 2u * 6u * 4u);
    for (std::size_t y = 0; y < 6; ++y) {
        for (std::size_t i = 0; i < 6; ++i) {
            EXPECT_EQ(image.rgba[y * 8 + (i / 3) * 4 + i % 3], expected[y][i]) << "row " << y << " byte " << i;
        }
        EXPECT_EQ(image.rgba[y * 8 + 3], 255);
        EXPECT_EQ(image.rgba[y * 8 + 7], 255);
    }
}

// Splits the compressed stream of a real file across many IDAT chunks, empty ones included.
Bytes ResplitIdat(const Bytes& png, std::size_t piece) {
    Bytes head, zdata, tail;
    std::size_t pos = 8;
    while (pos + 12 <= png.size()) {
        const std::uint32_t n = Be32(png, pos);
        const std::string type(png.begin() + std::ptrdiff_t(pos + 4), png.begin() + std::ptrdiff_t(pos + 8));
        const Bytes chunk(png.begin() + std::ptrdiff_t(pos), png.begin() + std::ptrdiff_t(pos + 12 + n));
        if (type == "IDAT") {
            zdata.insert(zdata.end(), chunk.begin() + 8, chunk.end() - 4);
        } else {
            (zdata.empty() ? head : tail).insert((zdata.empty() ? head : tail).end(), chunk.begin(), chunk.end());
        }
        pos += 12 + n;
    }
    Bytes out = Concat({PngSignature(), head, Chunk("IDAT", {})});
    for (std::size_t i = 0; i < zdata.size(); i += piece) {
        const std::size_t n = std::min(piece, zdata.size() - i);
        const Bytes part(zdata.begin() + std::ptrdiff_t(i), zdata.begin() + std::ptrdiff_t(i + n));
        const Bytes chunk = Chunk("IDAT", part);
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    const Bytes empty = Chunk("IDAT", {});
    out.insert(out.end(), empty.begin(), empty.end());
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

TEST(PngStreaming, IdatSplitAnywhereDecodesTheSame) {
    const Bytes file = ReadFixture("pictures/rgba16.png");
    const pictures::RgbaImage whole = DecodeRgba(file);
    for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{64}}) {
        EXPECT_EQ(DecodeRgba(ResplitIdat(file, piece)).rgba, whole.rgba) << "pieces of " << piece;
    }
}

// Rows are inflated many at a time into a buffer that wraps round: pictures tall and wide
// enough to wrap it, every row filtered against the one above, must keep the right row above.
TEST(PngStreaming, TallPicturesKeepTheRowAbove) {
    struct Case {
        std::uint32_t width;
        int colourType, channels;
    };
    const int height = 40;
    for (const Case& c : {Case{12000, 6, 4}, Case{5000, 2, 3}, Case{2000, 0, 1}, Case{13, 6, 4}}) {
        Bytes raw;
        for (int y = 0; y < height; ++y) {
            raw.push_back(2);  // Up
            raw.insert(raw.end(), std::size_t(c.width) * std::size_t(c.channels), std::uint8_t(y * 37 + 1));
        }
        const pictures::RgbaImage image = DecodeRgba(MakePng(Ihdr(c.width, height, 8, c.colourType), raw));
        ASSERT_EQ(image.rgba.size(), std::size_t(c.width) * height * 4) << c.width;
        int value = 0, wrong = 0;
        for (int y = 0; y < height; ++y) {
            value = (value + y * 37 + 1) & 0xFF;
            const std::uint8_t alpha = c.channels == 4 ? std::uint8_t(value) : 255;
            for (std::size_t i = 0; i < std::size_t(c.width); ++i) {
                const std::uint8_t* p = &image.rgba[(std::size_t(y) * c.width + i) * 4];
                wrong += p[0] != value || p[1] != value || p[2] != value || p[3] != alpha;
            }
        }
        EXPECT_EQ(wrong, 0) << c.width << " wide, colour type " << c.colourType;
    }
}

TEST(PngChunks, UnknownAncillaryChunksAreSkipped) {
    const Bytes raw = {0, 1, 2, 3};
    const Bytes plain = MakePng(Ihdr(1, 1, 8, 2), raw);
    const Bytes extra = MakePng(Ihdr(1, 1, 8, 2), raw, Chunk("zzZz", {1, 2, 3}));
    EXPECT_EQ(DecodeRgba(extra).rgba, DecodeRgba(plain).rgba);
    EXPECT_EQ(DecodeRgba(plain).rgba, (Bytes{1, 2, 3, 255}));
}

Bytes Cut(Bytes bytes, std::size_t keep) {
    bytes.resize(std::min(keep, bytes.size()));
    return bytes;
}

Bytes Flip(Bytes bytes, std::size_t at) {
    bytes.at(at) ^= 0x40;
    return bytes;
}

// Flips a byte inside a chunk's data and gives the chunk its right CRC again, so the damage
// reaches the checks behind the CRC.
Bytes FlipInChunk(Bytes png, std::size_t at) {
    std::size_t chunk = 8;  // the chunk that holds `at`
    while (at >= chunk + 8 + Be32(png, chunk)) chunk += 12 + Be32(png, chunk);
    png = Flip(png, at);
    const auto type = png.begin() + std::ptrdiff_t(chunk + 4), data = type + 4;
    const Bytes fixed = Chunk(std::string(type, data), Bytes(data, data + std::ptrdiff_t(Be32(png, chunk))));
    std::copy(fixed.begin(), fixed.end(), png.begin() + std::ptrdiff_t(chunk));
    return png;
}

Bytes Append(Bytes bytes, const Bytes& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes;
}

std::vector<BadPicture> BadPngs() {
    const Bytes good = ReadFixture("pictures/rgb8.png");  // IHDR at 8, one IDAT at 33, IEND at 322
    const std::size_t size = good.size();
    const Bytes onePixel = {0, 1, 2, 3};
    const Bytes rgb1x1 = Ihdr(1, 1, 8, 2);
    const Bytes end = Chunk("IEND", {});
    const Bytes sig = PngSignature();
    Bytes zlib = StoredZlib(onePixel);
    Bytes badAdler = zlib;
    badAdler.back() ^= 1;
    Bytes ihdr14 = Ihdr(1, 1, 8, 2);  // IHDR with a 14th byte, CRC still right
    {
        Bytes data(ihdr14.begin() + 8, ihdr14.end() - 4);
        data.push_back(0);
        ihdr14 = Chunk("IHDR", data);
    }
    // A whole chunk frame (length, type, CRC) whose length is past 2^31.
    const Bytes hugeLength = Concat({sig, rgb1x1, {0x80, 0, 0, 0, 'I', 'D', 'A', 'T', 0, 0, 0, 0}});
    return {
        {"empty", {}, "neither a PNG nor a JPEG"},
        {"signature only", sig, "no IEND chunk"},
        {"wrong signature", Flip(good, 1), "neither a PNG nor a JPEG"},
        {"cut inside IHDR", Cut(good, 20), "truncated chunk"},
        {"cut inside IDAT", Cut(good, size / 2), "truncated chunk"},
        {"cut inside IEND", Cut(good, size - 1), "truncated chunk"},
        {"no IEND", Cut(good, size - 12), "no IEND chunk"},
        {"bad IHDR CRC", Flip(good, 29), "bad chunk CRC"},
        {"bad IHDR data", FlipInChunk(good, 17), "too large"},  // the width grows by 2^22
        {"bad IDAT data", FlipInChunk(good, size / 2), "bad compressed data"},
        {"bad IEND CRC", Flip(good, size - 2), "bad chunk CRC"},
        {"data after IEND", Append(good, {0}), "data after IEND"},
        {"chunk after IEND", Append(good, end), "data after IEND"},
        {"chunk length over 2^31", hugeLength, "chunk length out of range"},
        {"chunk type not letters", Concat({sig, rgb1x1, Chunk("ID4T", zlib), end}), "bad chunk type"},
        {"zero width", MakePng(Ihdr(0, 1, 8, 2), onePixel), "is empty"},
        {"zero height", MakePng(Ihdr(1, 0, 8, 2), {}), "is empty"},
        {"width over 2^31", MakePng(Ihdr(0x80000000u, 1, 8, 2), onePixel), "size out of range"},
        {"width over the side limit", MakePng(Ihdr(16385, 1, 8, 2), onePixel), "too large"},
        {"too many pixels", MakePng(Ihdr(16384, 16384, 8, 2), onePixel), "too large"},
        {"IHDR too long", MakePng(ihdr14, onePixel), "IHDR has the wrong length"},
        {"IHDR not first", Concat({sig, Chunk("tEXt", {'a', 0, 'b'}), rgb1x1, Chunk("IDAT", zlib), end}),
         "IHDR is not the first chunk"},
        {"second IHDR", MakePng(rgb1x1, onePixel, rgb1x1), "second IHDR"},
        {"colour type 5", MakePng(Ihdr(1, 1, 8, 5), onePixel), "bad colour type"},
        {"RGB at 4 bits", MakePng(Ihdr(1, 1, 4, 2), {0, 0x12, 0x30}), "bad bit depth"},
        {"grey at 3 bits", MakePng(Ihdr(1, 1, 3, 0), {0, 0}), "bad bit depth"},
        {"palette at 16 bits", MakePng(Ihdr(1, 1, 16, 3), {0, 0, 0}, Chunk("PLTE", {1, 2, 3})), "bad bit depth"},
        {"compression method 1",
         Concat({sig, Chunk("IHDR", {0, 0, 0, 1, 0, 0, 0, 1, 8, 2, 1, 0, 0}), Chunk("IDAT", zlib), end}),
         "unknown compression method"},
        {"filter method 1",
         Concat({sig, Chunk("IHDR", {0, 0, 0, 1, 0, 0, 0, 1, 8, 2, 0, 1, 0}), Chunk("IDAT", zlib), end}),
         "unknown filter method"},
        {"interlaced", ReadFixture("pictures/interlaced.png"), "interlaced pictures are not supported"},
        {"interlaced, one pixel", MakePng(Ihdr(1, 1, 8, 2, 1), onePixel), "interlaced pictures are not supported"},
        {"interlace method 2", MakePng(Ihdr(1, 1, 8, 2, 2), onePixel), "unknown interlace method"},
        {"no IDAT", Concat({sig, rgb1x1, end}), "no IDAT chunk"},
        {"unknown critical chunk", MakePng(rgb1x1, onePixel, Chunk("CgBI", {0, 0, 0, 0})), "unknown critical chunk"},
        {"IDAT not consecutive",
         Concat({sig, rgb1x1, Chunk("IDAT", Cut(zlib, 5)), Chunk("tEXt", {'a', 0}),
                 Chunk("IDAT", Bytes(zlib.begin() + 5, zlib.end())), end}),
         "IDAT chunks are not consecutive"},
        {"palette without PLTE", MakePng(Ihdr(1, 1, 8, 3), {0, 0}), "no PLTE before IDAT"},
        {"PLTE in greyscale", MakePng(Ihdr(1, 1, 8, 0), {0, 0}, Chunk("PLTE", {1, 2, 3})),
         "PLTE in a greyscale picture"},
        {"PLTE length not a multiple of 3", MakePng(Ihdr(1, 1, 8, 3), {0, 0}, Chunk("PLTE", {1, 2, 3, 4})),
         "PLTE has a bad length"},
        {"PLTE larger than the depth allows", MakePng(Ihdr(1, 1, 1, 3), {0, 0}, Chunk("PLTE", Bytes(9, 7))),
         "more entries than the bit depth allows"},
        {"palette index past PLTE", MakePng(Ihdr(1, 1, 8, 3), {0, 1}, Chunk("PLTE", {1, 2, 3})),
         "palette index out of range"},
        {"tRNS longer than PLTE",
         MakePng(Ihdr(1, 1, 8, 3), {0, 0}, Concat({Chunk("PLTE", {1, 2, 3}), Chunk("tRNS", {1, 2})})),
         "tRNS longer than the palette"},
        {"tRNS with an alpha channel", MakePng(Ihdr(1, 1, 8, 6), {0, 1, 2, 3, 4}, Chunk("tRNS", {0, 0})),
         "tRNS in a picture with an alpha channel"},
        {"tRNS wrong length for RGB", MakePng(rgb1x1, onePixel, Chunk("tRNS", {0, 0})), "tRNS has the wrong length"},
        {"filter type 5", MakePng(rgb1x1, {5, 1, 2, 3}), "unknown row filter"},
        {"not a zlib stream", Concat({sig, rgb1x1, Chunk("IDAT", {1, 2, 3, 4, 5, 6, 7, 8}), end}),
         "bad compressed data"},
        {"bad zlib checksum", Concat({sig, rgb1x1, Chunk("IDAT", badAdler), end}), "bad compressed data"},
        {"zlib stream cut short", Concat({sig, rgb1x1, Chunk("IDAT", Cut(zlib, zlib.size() - 2)), end}),
         "compressed stream ends early"},
        {"too little image data", MakePng(Ihdr(1, 2, 8, 2), onePixel), "image data ends early"},
        {"too much image data", MakePng(rgb1x1, {0, 1, 2, 3, 0}), "more image data than the picture needs"},
        {"bytes after the zlib stream", Concat({sig, rgb1x1, Chunk("IDAT", Append(zlib, {0})), end}),
         "data after the end of the compressed stream"},
        {"IDAT after the zlib stream", Concat({sig, rgb1x1, Chunk("IDAT", zlib), Chunk("IDAT", {0}), end}),
         "data after the end of the compressed stream"},
    };
}

TEST(PngErrors, MalformedFilesAreRefused) { ExpectEachRefused(BadPngs()); }

// The readers' limits are settable; the size check must come before the rows are allocated.
TEST(PngErrors, LimitsAreCheckedFromTheHeader) {
    pictures::Limits tight;
    tight.maxSide = 8;
    tight.maxPixels = 40;
    const Bytes file = ReadFixture("pictures/rgb8.png");  // 13x7
    EXPECT_THROW(DecodeRgba(file, tight), DecodeError);
    tight.maxSide = 13;
    tight.maxPixels = 13 * 7;
    EXPECT_NO_THROW(DecodeRgba(file, tight));
}

}  // namespace
