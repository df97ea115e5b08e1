#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "pictures/decode.h"
#include "pictures_test_support.h"

namespace {

using pictures::DecodeError;
using pictures::DecodeRgba;
using namespace pictures_test;

// libjpeg builds may differ in IDCT and upsampling rounding from the one ImageMagick used.
constexpr int kTolerance = 3;

class JpegMatchesReference : public testing::TestWithParam<const char*> {};

TEST_P(JpegMatchesReference, DecodesCloseToImageMagick) {
    const std::string name = GetParam();
    const Bytes file = ReadFixture("pictures/" + name + ".jpg");
    const Bytes reference = ReadFixture("pictures/" + name + ".rgba");
    ASSERT_FALSE(file.empty());
    ASSERT_EQ(reference.size(), 33u * 17u * 4u);
    const pictures::RgbaImage image = DecodeRgba(file);
    ASSERT_EQ(image.width, 33);
    ASSERT_EQ(image.height, 17);
    ASSERT_EQ(image.rgba.size(), reference.size());
    int worst = 0;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        worst = std::max(worst, std::abs(int(image.rgba[i]) - int(reference[i])));
    }
    EXPECT_LE(worst, kTolerance);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, JpegMatchesReference,
                         testing::Values("baseline420", "baseline444", "progressive", "grey"));

// Offset of the frame header's height field (width follows), or 0.
std::size_t FrameSizeOffset(const Bytes& jpeg) {
    for (std::size_t i = 2; i + 9 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) return i + 5;
    }
    return 0;
}

Bytes WithSize(Bytes jpeg, unsigned width, unsigned height) {
    const std::size_t at = FrameSizeOffset(jpeg);
    jpeg.at(at) = std::uint8_t(height >> 8);
    jpeg.at(at + 1) = std::uint8_t(height);
    jpeg.at(at + 2) = std::uint8_t(width >> 8);
    jpeg.at(at + 3) = std::uint8_t(width);
    return jpeg;
}

// Everything before the first scan: a header with no image data.
Bytes UpToFirstScan(const Bytes& jpeg) {
    for (std::size_t i = 2; i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) return Bytes(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(i));
    }
    return jpeg;
}

std::vector<BadPicture> BadJpegs() {
    const Bytes baseline = ReadFixture("pictures/baseline420.jpg");
    const Bytes progressive = ReadFixture("pictures/progressive.jpg");
    Bytes endOnly = UpToFirstScan(baseline);
    endOnly.insert(endOnly.end(), {0xFF, 0xD9});
    Bytes wrongMarker = baseline;
    wrongMarker[3] = 0x01;  // first marker after SOI is not a marker
    return {
        {"empty", {}, "neither a PNG nor a JPEG"},
        {"SOI only", {0xFF, 0xD8, 0xFF}, "file is truncated"},
        {"header without a scan", UpToFirstScan(baseline), "file is truncated"},
        {"header then EOI", endOnly, "missing SOS marker"},
        {"baseline cut in the scan",
         Bytes(baseline.begin(), baseline.begin() + std::ptrdiff_t(baseline.size() * 3 / 4)), "file is truncated"},
        {"baseline without EOI", Bytes(baseline.begin(), baseline.end() - 2), "file is truncated"},
        {"progressive cut in a later scan",
         Bytes(progressive.begin(), progressive.begin() + std::ptrdiff_t(progressive.size() - 40)),
         "file is truncated"},
        {"bad marker", wrongMarker, "extraneous bytes before marker"},
        {"zero width", WithSize(baseline, 0, 17), "Empty JPEG image"},
        {"zero height", WithSize(baseline, 33, 0), "Empty JPEG image"},
        {"over the side limit", WithSize(baseline, 16385, 17), "too large"},
        {"over the pixel limit", WithSize(progressive, 16384, 16384), "too large"},
        {"CMYK", ReadFixture("pictures/cmyk.jpg"), "CMYK and other colour spaces are not supported"},
    };
}

TEST(JpegErrors, MalformedFilesAreRefused) { ExpectEachRefused(BadJpegs()); }

// Damage inside the entropy-coded data makes libjpeg warn and carry on; such a picture is refused
// rather than shown half grey.
TEST(JpegErrors, CorruptScanDataIsRefused) {
    const Bytes baseline = ReadFixture("pictures/baseline420.jpg");
    const std::size_t scan = UpToFirstScan(baseline).size() + 14;  // past the SOS header
    ASSERT_LT(scan + 7, baseline.size() - 2) << "no scan data found to damage before the EOI marker";
    for (std::size_t i = scan; i + 2 < baseline.size(); i += 7) {
        Bytes bad = baseline;
        bad[i] = 0xFF;
        bad[i + 1] = std::uint8_t(0xD0 + i % 8);  // a restart marker where none belongs
        EXPECT_THROW(DecodeRgba(bad), DecodeError) << "restart marker at byte " << i;
    }
}

TEST(JpegErrors, ScanCountIsCapped) {
    const Bytes progressive = ReadFixture("pictures/progressive.jpg");
    pictures::Limits fewScans;
    fewScans.maxJpegScans = 3;
    try {
        DecodeRgba(progressive, fewScans);
        FAIL() << "decoded past the scan cap";
    } catch (const DecodeError& e) {
        EXPECT_NE(std::string(e.what()).find("scans"), std::string::npos) << e.what();
    }
    EXPECT_NO_THROW(DecodeRgba(progressive));
}

TEST(JpegErrors, MemoryIsCapped) {
    pictures::Limits littleMemory;
    littleMemory.maxJpegMemory = 16 * 1024;
    // A progressive picture keeps every coefficient until the last scan.
    EXPECT_THROW(DecodeRgba(WithSize(ReadFixture("pictures/progressive.jpg"), 2000, 2000), littleMemory), DecodeError);
}

}  // namespace
