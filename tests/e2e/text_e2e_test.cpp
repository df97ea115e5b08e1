// Starts the real launcher and reads its text off the screen, in the bed
// VELQUOR_E2E_BED names (base: a Windows without Office; office: a narrow
// face installed; high-contrast: a scheme whose window text is as light as
// the window) at the DPI VELQUOR_E2E_DPI names: the narrow lines keep their
// designed widths and their letters are spaced as the narrow face spaces
// them, and every label's ink reads on what it is drawn on.
#include <windows.h>

#include <gtest/gtest.h>

#include "launcher_driver.h"
#include "toolkit/colours.h"
#include "toolkit/fonts.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <utility>
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

// Where each glyph of a line, drawn alone at its place as the label draws
// the line, has ink: per row, its leftmost and rightmost inked column.
struct GlyphInk {
    std::vector<int> left, right;  // -1 where the row has none
};

std::vector<GlyphInk> InkOfGlyphs(const toolkit::Font& font, const std::wstring& text) {
    HDC screen = GetDC(nullptr);
    std::vector<int> advances = toolkit::CondensedAdvances(screen, font, text);
    HGDIOBJ old = SelectObject(screen, font.handle.get());
    if (advances.empty()) {  // drawn at the face's own widths
        std::vector<int> ends(text.size());
        SIZE whole{};
        GetTextExtentExPointW(screen, text.c_str(), static_cast<int>(text.size()), 0, nullptr, ends.data(), &whole);
        for (size_t i = 0; i < ends.size(); ++i) advances.push_back(ends[i] - (i ? ends[i - 1] : 0));
    }
    TEXTMETRICW metrics{};
    GetTextMetricsW(screen, &metrics);
    SelectObject(screen, old);
    const int width = std::accumulate(advances.begin(), advances.end(), 0) + metrics.tmHeight;
    const int height = metrics.tmHeight;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
    HGDIOBJ oldFont = SelectObject(memory, font.handle.get());
    SetTextColor(memory, RGB(0, 0, 0));
    SetBkMode(memory, TRANSPARENT);
    std::vector<GlyphInk> glyphs;
    int x = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const RECT all{0, 0, width, height};
        FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        ExtTextOutW(memory, x, 0, 0, nullptr, &text[i], 1, nullptr);
        GdiFlush();
        GlyphInk ink{std::vector<int>(static_cast<size_t>(height), -1),
                     std::vector<int>(static_cast<size_t>(height), -1)};
        const auto* pixels = static_cast<const DWORD*>(bits);
        for (int y = 0; y < height; ++y) {
            for (int column = 0; column < width; ++column) {
                const DWORD p = pixels[y * width + column];
                if (Differs(RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF), RGB(255, 255, 255))) {
                    if (ink.left[static_cast<size_t>(y)] < 0) ink.left[static_cast<size_t>(y)] = column;
                    ink.right[static_cast<size_t>(y)] = column;
                }
            }
        }
        glyphs.push_back(ink);
        x += advances[i];
    }
    SelectObject(memory, oldFont);
    SelectObject(memory, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return glyphs;
}

// The gaps between two letters of a word, each the blank between one's ink
// and the next one's at the row where they come nearest, named by the pair.
std::vector<std::pair<std::string, int>> GapsInWords(const std::wstring& text, const std::vector<GlyphInk>& glyphs) {
    std::vector<std::pair<std::string, int>> gaps;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == L' ' || text[i + 1] == L' ') continue;
        int nearest = INT_MAX;
        for (size_t y = 0; y < glyphs[i].left.size(); ++y) {
            if (glyphs[i].right[y] >= 0 && glyphs[i + 1].left[y] >= 0)
                nearest = std::min(nearest, glyphs[i + 1].left[y] - glyphs[i].right[y] - 1);
        }
        if (nearest != INT_MAX)
            gaps.emplace_back(std::string{static_cast<char>(text[i]), static_cast<char>(text[i + 1])}, nearest);
    }
    return gaps;
}

// The narrow face's own widest gap inside a word of each italic line, in
// Liberation Sans Narrow (the office bed's), at each DPI.
struct NarrowGaps {
    int dpi, maker, notice;
};
const NarrowGaps kNarrowGaps[] = {{96, 2, 1}, {144, 3, 2}};

// The italic lines as the toolkit draws them in this bed: condensed where no
// narrow face is installed, letters spaced as the narrow face spaces them.
TEST_F(Text, NarrowLinesAreEvenlySpaced) {
    const auto designed = std::find_if(std::begin(kNarrowGaps), std::end(kNarrowGaps),
                                       [&](const NarrowGaps& n) { return n.dpi == dpi_; });
    ASSERT_NE(designed, std::end(kNarrowGaps)) << "no narrow face's gaps at " << dpi_ << " dpi";
    struct Line {
        const char* name;
        const wchar_t* text;
        int narrowGap;
    };
    const Line lines[] = {{"maker", L"UM PRODUTO MERVIK", designed->maker},
                          {"notice", L"Copyright \u00A9 2026 Mervik Sistemas Ltda.", designed->notice}};
    toolkit::FaceResolver faces;
    const toolkit::FontLayout layout{.face = L"Arial Narrow", .height = 12, .italic = true, .charset = ANSI_CHARSET};
    const toolkit::Font font = toolkit::CreateFontFrom(layout, dpi_, faces);
    for (const Line& line : lines) {
        int widest = 0;
        std::string seen;
        for (const auto& [pair, gap] : GapsInWords(line.text, InkOfGlyphs(font, line.text))) {
            widest = std::max(widest, gap);
            seen += pair + "=" + std::to_string(gap) + " ";
        }
        std::printf("%s bed, %d dpi: %s gaps %s\n  widest in a word %d px (narrow face %d)\n", bed_.c_str(), dpi_,
                    line.name, seen.c_str(), widest, line.narrowGap);
        if (bed_ == "office") {
            EXPECT_EQ(widest, line.narrowGap) << line.name << ": the narrow face itself";
        } else {
            EXPECT_LE(widest, line.narrowGap + 1) << line.name;
        }
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
