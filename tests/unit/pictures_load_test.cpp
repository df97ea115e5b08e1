#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "pictures/area_scaler.h"
#include "pictures/decode.h"
#include "pictures/image.h"
#include "pictures/resampler.h"
#include "pictures_test_support.h"

namespace {

using pictures::DecodeError;
using pictures::LoadPicture;
using pictures::RgbaImage;
using namespace pictures_test;

// The largest difference of a channel between two pictures of one size.
int LargestDifference(const pictures::Image& a, const pictures::Image& b) {
    int largest = 0;
    for (std::size_t i = 0; i < a.pixels.size() && i < b.pixels.size(); ++i) {
        for (int shift : {0, 8, 16}) {
            const int difference = int((a.pixels[i] >> shift) & 0xFF) - int((b.pixels[i] >> shift) & 0xFF);
            largest = std::max(largest, std::abs(difference));
        }
    }
    return largest;
}

// LoadPicture is the reader streaming into the scaler: it must give what scaling ImageMagick's
// decode gives, for both formats, shrinking and stretching, and exactly what scaling the
// reader's own full decode gives.
TEST(LoadPicture, MatchesScalingTheReferenceDecode) {
    struct Case {
        const char* file;
        const char* reference;
        int referenceWidth, referenceHeight;
        int width, height;
        int tolerance;  // a JPEG decode may round its IDCT and upsampling otherwise
    };
    const Case cases[] = {
        {"rgba8.png", "rgba8.rgba", 13, 7, 5, 3, 0},
        {"palette8-trns.png", "palette8-trns.rgba", 13, 7, 40, 9, 0},
        {"grey-alpha8.png", "grey-alpha8.rgba", 13, 7, 13, 7, 0},
        {"rgb8.png", "rgb8.rgba", 13, 7, 9, 20, 0},
        {"progressive.jpg", "progressive.rgba", 33, 17, 11, 6, 3},
        {"baseline420.jpg", "baseline420.rgba", 33, 17, 50, 40, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const Bytes file = ReadFixture(std::string("pictures/") + c.file);
        const RgbaImage reference{c.referenceWidth, c.referenceHeight,
                                  ReadFixture(std::string("pictures/") + c.reference)};
        const auto actual = LoadPicture(file, c.width, c.height, 0x336699);
        ASSERT_EQ(actual.width, c.width);
        ASSERT_EQ(actual.height, c.height);
        ASSERT_EQ(actual.pixels.size(), std::size_t(c.width) * std::size_t(c.height));
        EXPECT_LE(LargestDifference(actual, Resample(reference, c.width, c.height, 0x336699)), c.tolerance);
        EXPECT_EQ(actual.pixels, Resample(pictures::DecodeRgba(file), c.width, c.height, 0x336699).pixels);
    }
}

TEST(LoadPicture, RefusesWhatItCannotRead) {
    const Bytes png = ReadFixture("pictures/rgba8.png");
    EXPECT_THROW(LoadPicture({}, 10, 10, 0), DecodeError);
    EXPECT_THROW(LoadPicture(Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}, 10, 10, 0), DecodeError);
    EXPECT_THROW(LoadPicture(png, 0, 10, 0), DecodeError);
    EXPECT_THROW(LoadPicture(png, 10, -1, 0), DecodeError);
    EXPECT_THROW(LoadPicture(png, 100000, 10, 0), DecodeError);
    // The limits reach the reader: the 13 x 7 fixture is refused under a 12-pixel side.
    pictures::Limits small;
    small.maxSide = 12;
    EXPECT_THROW(LoadPicture(png, 5, 5, 0, small), DecodeError);
    EXPECT_NO_THROW(LoadPicture(png, 5, 5, 0));
}

// The real artwork: stated sizes, and the same pixels as ImageMagick (exactly for the PNG,
// closely for the JPEG). References come from tests/fixtures/pictures/make-asset-references.sh.
std::uint64_t Fnv1a(const Bytes& data) {
    std::uint64_t h = 0xcbf29ce484222325u;
    for (std::uint8_t b : data) h = (h ^ b) * 0x100000001b3u;
    return h;
}

TEST(Artwork, LogoDecodesExactly) {
    const Bytes file = ReadAsset("logo.png");
    const Bytes reference = ReadFixture("pictures/logo.fnv");
    std::istringstream in(std::string(reference.begin(), reference.end()));
    int width = 0, height = 0;
    std::string hash;
    in >> width >> height >> hash;
    const pictures::RgbaImage logo = pictures::DecodeRgba(file);
    EXPECT_EQ(logo.width, 989);
    EXPECT_EQ(logo.height, 989);
    EXPECT_EQ(width, 989);
    EXPECT_EQ(height, 989);
    char actual[17];
    std::snprintf(actual, sizeof actual, "%016llx", static_cast<unsigned long long>(Fnv1a(logo.rgba)));
    EXPECT_EQ(actual, hash) << "artwork changed? rerun make-asset-references.sh";
    EXPECT_NO_THROW(LoadPicture(file, 202, 170, 0xFFFFFF));
}

TEST(Artwork, BannerDecodesClosely) {
    const Bytes file = ReadAsset("banner.jpg");
    const Bytes samples = ReadFixture("pictures/banner.samples");
    const pictures::RgbaImage banner = pictures::DecodeRgba(file);
    ASSERT_EQ(banner.width, 960);
    ASSERT_EQ(banner.height, 209);
    ASSERT_EQ(samples.size(), std::size_t((960 / 8) * ((209 + 7) / 8) * 3)) << "rerun make-asset-references.sh";
    std::size_t next = 0;
    int worst = 0;
    for (int y = 0; y < 209; y += 8) {
        for (int x = 0; x < 960; x += 8) {
            for (int c = 0; c < 3; ++c) {
                const int mine = banner.rgba[(std::size_t(y) * 960 + std::size_t(x)) * 4 + std::size_t(c)];
                worst = std::max(worst, std::abs(mine - int(samples[next++])));
            }
        }
    }
    EXPECT_LE(worst, 3);
    const auto scaled = LoadPicture(file, 729, 105, 0xFFFFFF);
    EXPECT_EQ(scaled.pixels.size(), 729u * 105u);
}

}  // namespace
