#include "toolkit/colours.h"

#include <gtest/gtest.h>

namespace {

using toolkit::ContrastRatio;
using toolkit::ReadableInk;

TEST(ContrastRatio, FollowsWcag2) {
    EXPECT_NEAR(ContrastRatio(RGB(0, 0, 0), RGB(255, 255, 255)), 21.0, 1e-9);
    EXPECT_NEAR(ContrastRatio(RGB(255, 255, 255), RGB(0, 0, 0)), 21.0, 1e-9) << "either way round";
    EXPECT_NEAR(ContrastRatio(RGB(0, 128, 0), RGB(255, 255, 255)), 5.14, 0.01);
    EXPECT_NEAR(ContrastRatio(RGB(118, 118, 118), RGB(255, 255, 255)), 4.54, 0.01);
    EXPECT_NEAR(ContrastRatio(RGB(40, 90, 200), RGB(40, 90, 200)), 1.0, 1e-9);
}

struct InkCase {
    const char* scheme;
    COLORREF ink, background, drawn;
};

// The ink the labels ask for, on the window's colour of several schemes.
const InkCase kInkCases[] = {
    {"Windows 10: window text on white", RGB(0, 0, 0), RGB(255, 255, 255), RGB(0, 0, 0)},
    {"Windows 10: the status green on white", RGB(0, 128, 0), RGB(255, 255, 255), RGB(0, 128, 0)},
    {"just readable grey kept", RGB(118, 118, 118), RGB(255, 255, 255), RGB(118, 118, 118)},
    {"just unreadable grey replaced", RGB(119, 119, 119), RGB(255, 255, 255), RGB(0, 0, 0)},
    {"High Contrast Black: white text on a white highlight", RGB(255, 255, 255), RGB(255, 255, 255), RGB(0, 0, 0)},
    {"white text on black kept", RGB(255, 255, 255), RGB(0, 0, 0), RGB(255, 255, 255)},
    {"black text on black", RGB(0, 0, 0), RGB(0, 0, 0), RGB(255, 255, 255)},
    {"green on dark blue", RGB(0, 128, 0), RGB(0, 0, 128), RGB(255, 255, 255)},
    {"green on mid grey", RGB(0, 128, 0), RGB(128, 128, 128), RGB(0, 0, 0)},
    {"yellow on white", RGB(255, 255, 0), RGB(255, 255, 255), RGB(0, 0, 0)},
};

TEST(ReadableInk, KeepsTheDesignedInkWhereItReadsAndReplacesItWhereNot) {
    for (const InkCase& c : kInkCases) {
        const COLORREF drawn = ReadableInk(c.ink, c.background);
        EXPECT_EQ(drawn, c.drawn) << c.scheme;
        EXPECT_GE(ContrastRatio(drawn, c.background), toolkit::kReadableContrast) << c.scheme;
    }
}

// Whatever the background, the ink drawn on it reads.
TEST(ReadableInk, ReadsOnEveryGrey) {
    for (int level = 0; level < 256; ++level) {
        const COLORREF background = RGB(level, level, level);
        EXPECT_GE(ContrastRatio(ReadableInk(background, background), background), toolkit::kReadableContrast) << level;
    }
}

}  // namespace
