// Starts the real launcher on a display of some DPI (the prefix's LogPixels,
// named by VELQUOR_E2E_DPI) and checks that it laid out and drew the 96-dpi
// layout at that DPI: window, centring, status line, bar and both pictures.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "launcher_driver.h"
#include "pictures/image.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace launcher_driver;
using namespace std::chrono_literals;

std::vector<std::uint8_t> ReadAsset(const char* name) {
    std::ifstream in(std::string("Z:") + TEST_ASSET_DIR + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

int ScreenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return dpi;
}

// How far a captured area is from a picture (0x00RRGGBB): the mean and the largest
// difference of a channel.
struct Difference {
    double mean = 0;
    int largest = 0;
};

Difference Compare(const Pixels& screen, const pictures::Image& picture) {
    Difference d;
    long long total = 0;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const std::uint32_t want = picture.pixels[static_cast<size_t>(y * picture.width + x)];
            const COLORREF got = screen.At(x, y);
            const int channels[3] = {abs(static_cast<int>((want >> 16) & 0xFF) - GetRValue(got)),
                                     abs(static_cast<int>((want >> 8) & 0xFF) - GetGValue(got)),
                                     abs(static_cast<int>(want & 0xFF) - GetBValue(got))};
            for (int c : channels) {
                total += c;
                d.largest = std::max(d.largest, c);
            }
        }
    }
    d.mean = static_cast<double>(total) / (3.0 * picture.width * picture.height);
    return d;
}

// What Windows' stretching of a 96-dpi window would show: the 96-dpi picture, pixels repeated.
pictures::Image Stretched(const pictures::Image& small, int width, int height) {
    pictures::Image out{width, height, std::vector<std::uint32_t>(static_cast<size_t>(width) * height)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            out.pixels[static_cast<size_t>(y * width + x)] =
                small.pixels[static_cast<size_t>(y * small.height / height * small.width + x * small.width / width)];
    return out;
}

class DisplayScale : public testing::Test {
protected:
    void SetUp() override {
        const char* wanted = getenv("VELQUOR_E2E_DPI");
        ASSERT_NE(wanted, nullptr) << "VELQUOR_E2E_DPI names the prefix's DPI";
        dpi_ = atoi(wanted);
        ASSERT_EQ(ScreenDpi(), dpi_) << "the prefix's LogPixels did not take";
        RemoveProduct();
        launcher_ = std::make_unique<Launch>(WindowsPath(LAUNCHER_EXE));
        ASSERT_TRUE(launcher_->Started());
        splash_ = launcher_->WaitSplash();
        ASSERT_NE(splash_, nullptr);
        // Drawn once the status line shows.
        const RECT status = OnScreen(splash_, Scaled(RECT{24, 384, 100, 397}, dpi_));
        ASSERT_TRUE(WaitUntil(
            [&] {
                const Pixels p = Capture(status);
                return std::count_if(p.rgb.begin(), p.rgb.end(), IsGreenish) >= 15;
            },
            5s))
            << "the status line was never drawn";
    }
    void TearDown() override {
        if (launcher_) {
            EXPECT_TRUE(launcher_->WaitExit(15s));
        }
    }

    int dpi_ = 96;
    std::unique_ptr<Launch> launcher_;
    HWND splash_ = nullptr;
};

TEST_F(DisplayScale, WindowHasTheScaledSizeCentredOnTheDesktop) {
    RECT client{}, outer{};
    GetClientRect(splash_, &client);
    GetWindowRect(splash_, &outer);
    const int width = Scaled(729, dpi_), height = Scaled(441, dpi_);
    EXPECT_EQ(client.right, width);
    EXPECT_EQ(client.bottom, height);
    EXPECT_EQ(outer.right - outer.left, width);
    EXPECT_EQ(outer.bottom - outer.top, height);
    const int dl = GetSystemMetrics(SM_XVIRTUALSCREEN), dt = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int dw = GetSystemMetrics(SM_CXVIRTUALSCREEN), dh = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    EXPECT_EQ(outer.left, std::max(dl, dl + dw / 2 - width / 2)) << "desktop width " << dw;
    EXPECT_EQ(outer.top, std::max(dt, dt + dh / 2 - height / 2)) << "desktop height " << dh;
}

TEST_F(DisplayScale, StatusInkAndBarFrameAreWhereTheScaledLayoutPutsThem) {
    // The status line's ink lies inside the label's scaled corner and line.
    const RECT around = Scaled(RECT{0, 360, 300, 405}, dpi_);
    const Pixels p = Capture(OnScreen(splash_, around));
    RECT ink{p.width, p.height, -1, -1};
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            if (IsGreenish(p.At(x, y)))
                ink = {std::min(ink.left, LONG(x)), std::min(ink.top, LONG(y)), std::max(ink.right, LONG(x + 1)),
                       std::max(ink.bottom, LONG(y + 1))};
    OffsetRect(&ink, around.left, around.top);
    const int left = Scaled(24, dpi_), top = Scaled(384, dpi_), line = Scaled(13, dpi_);
    EXPECT_GE(ink.left, left);
    EXPECT_LE(ink.left, left + Scaled(3, dpi_));
    EXPECT_GE(ink.top, top);
    EXPECT_LE(ink.bottom, top + line + 1);
    EXPECT_GT(ink.right - ink.left, Scaled(60, dpi_)) << "the text is drawn at the scaled size";

    // The bar: a child where the scaled layout says, its frame drawn there.
    HWND bar = FindWindowExW(splash_, nullptr, PROGRESS_CLASSW, nullptr);
    ASSERT_NE(bar, nullptr);
    RECT bounds{};
    GetWindowRect(bar, &bounds);
    MapWindowPoints(nullptr, splash_, reinterpret_cast<POINT*>(&bounds), 2);
    const RECT expected = Scaled(RECT{8, 408, 721, 433}, dpi_);
    EXPECT_EQ(bounds.left, expected.left);
    EXPECT_EQ(bounds.top, expected.top);
    EXPECT_EQ(bounds.right, expected.right);
    EXPECT_EQ(bounds.bottom, expected.bottom);
    const RECT edges{expected.left - 1, expected.top - 1, expected.right + 1, expected.bottom + 1};
    const Pixels frame = Capture(OnScreen(splash_, edges));
    const COLORREF background = GetSysColor(COLOR_BTNHIGHLIGHT);
    const int midX = frame.width / 2, midY = frame.height / 2;
    EXPECT_TRUE(Near(frame.At(0, midY), background)) << "left of the bar";
    EXPECT_TRUE(Differs(frame.At(1, midY), background)) << "the bar's left edge";
    EXPECT_TRUE(Near(frame.At(frame.width - 1, midY), background)) << "right of the bar";
    EXPECT_TRUE(Near(frame.At(midX, 0), background)) << "above the bar";
    EXPECT_TRUE(Differs(frame.At(midX, 1), background)) << "the bar's top edge";
}

// The bar's middle row, inside its edge, read as the classic look draws it:
// blocks of the highlight colour on the button face.
struct BarRow {
    std::vector<std::pair<int, int>> blocks;  // [first, last] pixels, from the inside's left
    bool onlyBarColours = true;               // nothing half-painted or themed
    int Extent() const { return blocks.empty() ? 0 : blocks.back().second + 1; }
};

BarRow ReadBarRow(const Pixels& bar) {
    const COLORREF fill = GetSysColor(COLOR_HIGHLIGHT), empty = GetSysColor(COLOR_BTNFACE);
    BarRow row;
    const int y = bar.height / 2;
    bool inBlock = false;
    for (int x = 1; x < bar.width - 1; ++x) {
        const COLORREF c = bar.At(x, y);
        const bool filled = Near(c, fill);
        row.onlyBarColours = row.onlyBarColours && (filled || Near(c, empty));
        if (filled && !inBlock) row.blocks.push_back({x - 1, x - 1});
        if (filled) row.blocks.back().second = x - 1;
        inBlock = filled;
    }
    return row;
}

// Windows' classic (comctl32 5) bar: separate blocks with gaps of the bar's
// background, filled to the position within a block's width, and the
// WS_EX_STATICEDGE edge: shadow on top and left, highlight on right and bottom.
TEST_F(DisplayScale, BarFillsInSeparateBlocksWithTheClassicEdge) {
    HWND bar = FindWindowExW(splash_, nullptr, PROGRESS_CLASSW, nullptr);
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(GetWindowLongW(bar, GWL_EXSTYLE) & WS_EX_STATICEDGE);
    const RECT bounds = Scaled(RECT{8, 408, 721, 433}, dpi_);
    const int inside = bounds.right - bounds.left - 2, height = bounds.bottom - bounds.top - 2;
    for (const int position : {10, 30}) {
        SCOPED_TRACE(testing::Message() << "position " << position);
        const int expected = inside * position / 100;
        Pixels shown;
        BarRow row;
        const bool drawn = WaitUntil(
            [&] {
                shown = Capture(OnScreen(splash_, bounds));
                row = ReadBarRow(shown);
                return row.onlyBarColours && abs(row.Extent() - expected) <= height;
            },
            5s);
        ASSERT_TRUE(drawn) << "never filled to about " << expected << " px; last seen " << row.Extent() << " px in "
                           << row.blocks.size() << " runs" << (row.onlyBarColours ? "" : ", with other colours");

        ASSERT_GE(row.blocks.size(), 3u) << "a smooth band, not blocks";
        const int block = row.blocks.front().second - row.blocks.front().first + 1;
        EXPECT_GE(block, height / 3);
        EXPECT_LE(block, height);
        for (size_t i = 1; i < row.blocks.size(); ++i) {
            const int gap = row.blocks[i].first - row.blocks[i - 1].second - 1;
            EXPECT_GE(gap, 1) << "block " << i;
            EXPECT_LE(gap, block / 2) << "block " << i;
            if (i + 1 < row.blocks.size()) {
                EXPECT_NEAR(row.blocks[i].second - row.blocks[i].first + 1, block, 1) << "block " << i;
            }
        }

        const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW), light = GetSysColor(COLOR_BTNHIGHLIGHT);
        const int midX = shown.width / 2, midY = shown.height / 2;
        EXPECT_TRUE(Near(shown.At(midX, 0), shadow)) << "top edge";
        EXPECT_TRUE(Near(shown.At(0, midY), shadow)) << "left edge";
        EXPECT_TRUE(Near(shown.At(midX, shown.height - 1), light)) << "bottom edge";
        EXPECT_TRUE(Near(shown.At(shown.width - 1, midY), light)) << "right edge";
    }
}

struct PictureCase {
    const char* name;
    const char* asset;
    RECT bounds;  // at 96 dpi
};

void PrintTo(const PictureCase& c, std::ostream* out) { *out << c.name; }

class Pictures : public DisplayScale, public testing::WithParamInterface<PictureCase> {};

// Each picture is made from its source at the scaled size (area-averaged where it
// shrinks, smoothly interpolated where it grows), never from the 96-dpi picture.
TEST_P(Pictures, AreMadeFromTheirSourcesAtTheScaledSize) {
    const PictureCase& c = GetParam();
    const RECT bounds = Scaled(c.bounds, dpi_);
    const int width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
    const std::uint32_t background = [] {
        const COLORREF c = GetSysColor(COLOR_BTNHIGHLIGHT);
        return std::uint32_t{GetRValue(c)} << 16 | std::uint32_t{GetGValue(c)} << 8 | GetBValue(c);
    }();
    const std::vector<std::uint8_t> file = ReadAsset(c.asset);
    ASSERT_FALSE(file.empty()) << c.asset;
    const pictures::Image expected = pictures::LoadPicture(file, width, height, background);
    const Pixels shown = Capture(OnScreen(splash_, bounds));
    const Difference direct = Compare(shown, expected);
    EXPECT_LE(direct.largest, 2) << "mean difference " << direct.mean;
    if (dpi_ != 96) {
        const int width96 = c.bounds.right - c.bounds.left, height96 = c.bounds.bottom - c.bounds.top;
        const pictures::Image small = pictures::LoadPicture(file, width96, height96, background);
        const Difference stretched = Compare(shown, Stretched(small, width, height));
        EXPECT_GT(stretched.mean, 4 * direct.mean + 0.5) << "it looks like the 96-dpi picture stretched";
    }
}

INSTANTIATE_TEST_SUITE_P(Both, Pictures,
                         testing::Values(PictureCase{"banner", "banner.jpg", {0, 0, 729, 105}},
                                         PictureCase{"logo", "logo.png", {0, 111, 202, 281}}),
                         [](const testing::TestParamInfo<PictureCase>& info) { return info.param.name; });

}  // namespace
