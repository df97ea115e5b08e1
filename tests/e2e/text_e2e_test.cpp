// Starts the real launcher and reads its text off the screen, in the bed
// VELQUOR_E2E_BED names (base: a Windows without Office; office: a narrow
// face installed; high-contrast: a scheme whose window text is as light as
// the window) at the DPI VELQUOR_E2E_DPI names: the narrow lines keep their
// designed widths, and every label's ink reads on what it is drawn on.
#include <windows.h>

#include <gtest/gtest.h>

#include "launcher_driver.h"
#include "toolkit/colours.h"
#include "toolkit/fonts.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace launcher_driver;
using namespace std::chrono_literals;

COLORREF WindowText() { return GetSysColor(COLOR_WINDOWTEXT); }
COLORREF StatusGreen() { return RGB(0, 128, 0); }

struct LabelArea {
    const char* name;
    RECT around;  // at 96 dpi: the label's corner and line, with room for its text
    COLORREF (*designedInk)();
};

const LabelArea kLabels[] = {
    {"Label1", {238, 152, 600, 186}, WindowText},
    {"Label2", {326, 199, 500, 216}, WindowText},
    {"Label3", {302, 237, 520, 254}, WindowText},
    {"lbl_verifica", {22, 384, 200, 398}, StatusGreen},
};

// The most common colour of an area: what its text is drawn on.
COLORREF Background(const Pixels& p) {
    std::map<COLORREF, int> counts;
    for (COLORREF c : p.rgb) ++counts[c];
    return std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) { return a.second < b.second; })->first;
}

struct Ink {
    int pixels = 0;
    int left = -1, right = -1;  // columns, right exclusive
    double contrast = 1;        // of the ink's body against the background
    COLORREF strongest = 0;     // the pixel that stands out most
};

// The ink is every pixel that is not the background; its body is the quarter
// of it that stands out most (the rest is the edges antialiasing softens).
Ink InkOf(const Pixels& p) {
    const COLORREF background = Background(p);
    Ink ink;
    std::vector<double> contrasts;
    double strongest = 1;
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            if (!Differs(p.At(x, y), background)) continue;
            contrasts.push_back(toolkit::ContrastRatio(p.At(x, y), background));
            if (contrasts.back() > strongest) {
                strongest = contrasts.back();
                ink.strongest = p.At(x, y);
            }
            if (ink.left < 0 || x < ink.left) ink.left = x;
            ink.right = std::max(ink.right, x + 1);
        }
    }
    ink.pixels = static_cast<int>(contrasts.size());
    if (!contrasts.empty()) {
        std::sort(contrasts.rbegin(), contrasts.rend());
        ink.contrast = contrasts[contrasts.size() / 4];
    }
    return ink;
}

std::string Env(const char* name, const char* fallback) {
    const char* value = getenv(name);
    return value ? value : fallback;
}

class Text : public testing::Test {
protected:
    void SetUp() override {
        dpi_ = atoi(Env("VELQUOR_E2E_DPI", "96").c_str());
        bed_ = Env("VELQUOR_E2E_BED", "base");
        RemoveProduct();
        launcher_ = std::make_unique<Launch>(WindowsPath(LAUNCHER_EXE));
        ASSERT_TRUE(launcher_->Started());
        splash_ = launcher_->WaitSplash();
        ASSERT_NE(splash_, nullptr);
        // Painted in one copy: once the window's own colour shows, all of it is drawn.
        const COLORREF window = GetSysColor(COLOR_BTNHIGHLIGHT);
        const RECT empty = OnScreen(splash_, Scaled(RECT{650, 300, 660, 310}, dpi_));
        ASSERT_TRUE(WaitUntil([&] { return Near(Capture(empty).At(5, 5), window); }, 5s)) << "never painted";
    }
    void TearDown() override {
        if (launcher_) {
            EXPECT_TRUE(launcher_->WaitExit(15s));
        }
    }
    Ink InkOfLabel(const LabelArea& label) const {
        return InkOf(Capture(OnScreen(splash_, Scaled(label.around, dpi_))));
    }

    int dpi_ = 96;
    std::string bed_;
    std::unique_ptr<Launch> launcher_;
    HWND splash_ = nullptr;
};

// The ink widths of "UM PRODUTO MERVIK" and the notice in Liberation Sans
// Narrow, Arial Narrow's metric twin, as the bed with a narrow face draws them.
struct NarrowInk {
    int dpi, maker, notice;
};
const NarrowInk kNarrowInk[] = {{96, 108, 168}, {120, 133, 215}, {144, 161, 256}, {192, 211, 346}};

TEST_F(Text, NarrowLinesKeepTheirDesignedWidths) {
    const bool narrowFace = toolkit::IsFaceInstalled(L"Liberation Sans Narrow");
    ASSERT_EQ(narrowFace, bed_ == "office") << "the " << bed_ << " bed has a narrow face only with Office";
    const auto designed =
        std::find_if(std::begin(kNarrowInk), std::end(kNarrowInk), [&](const NarrowInk& n) { return n.dpi == dpi_; });
    ASSERT_NE(designed, std::end(kNarrowInk)) << "no designed widths at " << dpi_ << " dpi";
    const Ink maker = InkOfLabel(kLabels[1]), notice = InkOfLabel(kLabels[2]);
    const int makerWidth = maker.right - maker.left, noticeWidth = notice.right - notice.left;
    std::printf("%s bed, %d dpi: maker %d px, notice %d px (designed %d, %d)\n", bed_.c_str(), dpi_, makerWidth,
                noticeWidth, designed->maker, designed->notice);
    EXPECT_NEAR(makerWidth, designed->maker, designed->maker * 0.05);
    EXPECT_NEAR(noticeWidth, designed->notice, designed->notice * 0.05);
    if (narrowFace) {  // drawn in the narrow face itself, as ever
        EXPECT_EQ(makerWidth, designed->maker);
        EXPECT_EQ(noticeWidth, designed->notice);
    }
}

TEST_F(Text, EveryLabelReadsOnWhatItIsDrawnOn) {
    const double designed = toolkit::ContrastRatio(GetSysColor(COLOR_WINDOWTEXT), GetSysColor(COLOR_BTNHIGHLIGHT));
    if (bed_ == "high-contrast") {
        ASSERT_LT(designed, toolkit::kReadableContrast) << "the scheme's window text reads on the window";
    } else {
        ASSERT_GE(designed, toolkit::kReadableContrast) << "a default scheme";
    }
    for (const LabelArea& label : kLabels) {
        const Ink ink = InkOfLabel(label);
        std::printf("%s bed, %d dpi: %s %d ink pixels, contrast %.2f:1\n", bed_.c_str(), dpi_, label.name, ink.pixels,
                    ink.contrast);
        EXPECT_GE(ink.pixels, Scaled(40, dpi_)) << label.name << ": no text to read";
        EXPECT_GE(ink.contrast, toolkit::kReadableContrast) << label.name;
        // Where the designed ink reads, it is what is drawn.
        if (toolkit::ContrastRatio(label.designedInk(), GetSysColor(COLOR_BTNHIGHLIGHT)) >=
            toolkit::kReadableContrast) {
            EXPECT_EQ(ink.strongest, label.designedInk()) << label.name;
        }
    }
}

}  // namespace
