// Starts the real launcher and watches it from outside: its window, what it
// draws on the screen, the product it starts and how it ends.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "launcher_driver.h"

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace launcher_driver;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kClientWidth = 729, kClientHeight = 441;
constexpr RECT kStatus{24, 384, 100, 397};

std::wstring LogPath() { return TempPath(L"velquor-e2e-standin.log"); }

std::vector<std::string> LogLines() { return Lines(LogPath()); }

std::string Field(const std::string& line, const std::string& name) {
    // cmdline holds spaces in general; it is followed by " show=".
    const std::string key = name + "=";
    const size_t start = line.find(key);
    if (start == std::string::npos) return {};
    const size_t from = start + key.size();
    const size_t end = (name == "cmdline") ? line.find(" show=", from) : line.find(' ', from);
    return line.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

// Processes whose parent is `parent` and whose image is NORVASK.exe.
std::vector<DWORD> ProductsStartedBy(DWORD parent) {
    std::vector<DWORD> pids;
    for (const ProcessEntry& p : Processes())
        if (p.parent == parent && _wcsicmp(p.image.c_str(), L"NORVASK.exe") == 0) pids.push_back(p.pid);
    return pids;
}

// ----- the screen -----

int GreenPixelsInStatus(HWND window) {
    const Pixels p = Capture(OnScreen(window, kStatus));
    int green = 0;
    for (COLORREF c : p.rgb) green += IsGreenish(c);
    return green;
}

// 0, 10, 30 for the fills the launcher shows; -1 for anything else.
int BarStep(double fill) {
    if (fill < 0.02) return 0;
    if (fill > 0.05 && fill < 0.16) return 10;
    if (fill > 0.24 && fill < 0.36) return 30;
    return -1;
}

// PBM_GETPOS across processes; -1 while the launcher's thread is busy.
int ProgressPosition(HWND splash) {
    HWND bar = FindWindowExW(splash, nullptr, PROGRESS_CLASSW, nullptr);
    if (!bar) return -1;
    DWORD_PTR position = 0;
    if (!SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_NORMAL, 50, &position)) return -1;
    return static_cast<int>(position);
}

// ----- the launcher -----

// Each case starts from no C:\VELQUOR, no log and no stand-in settings.
class E2E : public testing::Test {
protected:
    void SetUp() override {
        RemoveProduct();
        ResetStandIn(LogPath());
    }
    void TearDown() override {
        if (launcher_) {
            EndProducts(launcher_->Pid());
            launcher_.reset();
        }
        RemoveProduct();
        DeleteFileW(LogPath().c_str());
    }

    void InstallProduct(const wchar_t* mode) { InstallStandIn(WindowsPath(STANDIN_EXE), mode); }

    Launch& Start() {
        launcher_ = std::make_unique<Launch>(WindowsPath(LAUNCHER_EXE));
        EXPECT_TRUE(launcher_->Started()) << "CreateProcess: " << GetLastError();
        return *launcher_;
    }

    // The stand-in lives on after the launcher; let it end (or end it) so the
    // next case can replace its file.
    static void EndProducts(DWORD launcherPid) {
        for (DWORD pid : ProductsStartedBy(launcherPid)) EndProcess(pid);
    }

    std::unique_ptr<Launch> launcher_;
};

// ----- the window -----

using Window = E2E;

TEST_F(Window, IsABorderlessCentredTaskbarSplashOfTheDesignedSize) {
    Launch& launcher = Start();
    HWND splash = launcher.WaitSplash();
    ASSERT_NE(splash, nullptr) << "no visible Tfrm_abertura/frm_abertura window";

    const LONG style = GetWindowLongW(splash, GWL_STYLE);
    const LONG exStyle = GetWindowLongW(splash, GWL_EXSTYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_EQ(style & WS_CAPTION, 0) << std::hex << style;
    EXPECT_EQ(style & WS_THICKFRAME, 0) << std::hex << style;
    EXPECT_EQ(exStyle & WS_EX_TOPMOST, 0) << std::hex << exStyle;
    EXPECT_TRUE(exStyle & WS_EX_APPWINDOW) << std::hex << exStyle;

    RECT client{}, outer{};
    GetClientRect(splash, &client);
    GetWindowRect(splash, &outer);
    EXPECT_EQ(client.right - client.left, kClientWidth);
    EXPECT_EQ(client.bottom - client.top, kClientHeight);
    EXPECT_EQ(outer.right - outer.left, kClientWidth);
    EXPECT_EQ(outer.bottom - outer.top, kClientHeight);

    const int dl = GetSystemMetrics(SM_XVIRTUALSCREEN), dt = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int dw = GetSystemMetrics(SM_CXVIRTUALSCREEN), dh = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    EXPECT_EQ(outer.left, dl + dw / 2 - kClientWidth / 2) << "desktop width " << dw;
    EXPECT_EQ(outer.top, dt + dh / 2 - kClientHeight / 2) << "desktop height " << dh;
}

// ----- what it draws, in order -----

using Steps = E2E;

TEST_F(Steps, ShowsTheGreenStatusAndAnEmptyBarThenTenThenThirtyPercent) {
    Launch& launcher = Start();
    HWND splash = launcher.WaitSplash();
    ASSERT_NE(splash, nullptr);

    // Before the first tick: green status, empty bar, position 0 - all seen together.
    bool initial = WaitUntil(
        [&] {
            return GreenPixelsInStatus(splash) >= 15 && BarStep(BarFill(splash)) == 0 && ProgressPosition(splash) == 0;
        },
        3s);
    ASSERT_TRUE(initial) << "green pixels " << GreenPixelsInStatus(splash) << ", fill " << BarFill(splash)
                         << ", position " << ProgressPosition(splash);

    // Then the screen alone: the launcher's thread sleeps between the steps and
    // answers no messages.
    std::vector<int> steps{0};
    double lastThirty = 0;
    int greenAtThirty = 0;
    const auto end = Clock::now() + 10s;
    while (launcher.Running() && IsWindow(splash) && Clock::now() < end) {
        const double fill = BarFill(splash);
        const int step = BarStep(fill);
        if (!IsWindow(splash) || !launcher.Running()) break;  // the capture may have raced the exit
        if (step == 30) {
            lastThirty = fill;
            greenAtThirty = GreenPixelsInStatus(splash);
        }
        if (step != -1 && step != steps.back()) steps.push_back(step);  // -1: mid-paint
        if (step == 30) break;
    }
    std::ostringstream seen;
    for (int s : steps) seen << s << ' ';
    EXPECT_EQ(steps, (std::vector<int>{0, 10, 30})) << "bar steps seen: " << seen.str();
    EXPECT_NEAR(lastThirty, 0.30, 0.05);
    EXPECT_GE(greenAtThirty, 15) << "the status stays green";
    EXPECT_TRUE(launcher.WaitExit(15s));
}

// ----- handing over to the product -----

HWND ProductWindow(DWORD launcherPid) {
    for (DWORD pid : ProductsStartedBy(launcherPid))
        for (HWND window : TopLevelWindows(pid))
            if (ClassOf(window) == L"NorvaskStandIn") return window;
    return nullptr;
}

struct ProductCase {
    const char* name;
    const wchar_t* mode;
    bool readyLate;  // the stand-in waits before it reads its first message
};

void PrintTo(const ProductCase& c, std::ostream* out) { *out << c.name; }

class Product : public E2E, public testing::WithParamInterface<ProductCase> {};

TEST_P(Product, IsStartedOnceQuotedAndShownNormalThenTheLauncherEnds) {
    const ProductCase& c = GetParam();
    InstallProduct(c.mode);
    SetEnvironmentVariableW(L"STANDIN_READY_DELAY_MS", L"2000");
    SetEnvironmentVariableW(L"STANDIN_LIFETIME_MS", L"1500");
    Launch& launcher = Start();

    ASSERT_TRUE(WaitUntil([] { return !LogLines().empty(); }, 20s)) << "the product was not started";
    if (c.readyLate) {
        // Not ready yet: the launcher waits for it with its splash up.
        EXPECT_TRUE(launcher.Running());
        EXPECT_NE(SplashOf(launcher.Pid()), nullptr);
        EXPECT_EQ(ProductWindow(launcher.Pid()), nullptr);
    }
    ASSERT_TRUE(launcher.WaitExit(40s)) << "the launcher is still running";
    EXPECT_EQ(launcher.ExitCode(), 0u);
    if (c.readyLate) {
        EXPECT_NE(ProductWindow(launcher.Pid()), nullptr) << "the launcher ended before the product was ready";
    }

    EndProducts(launcher.Pid());
    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 1u) << "starts logged";
    EXPECT_EQ(Field(lines[0], "cmdline"), "\"C:\\VELQUOR\\NORVASK.exe\"") << lines[0];
    EXPECT_EQ(Field(lines[0], "show"), "1") << lines[0];
}

INSTANTIATE_TEST_SUITE_P(Modes, Product,
                         testing::Values(ProductCase{"slow_ready", L"slow-ready", true},
                                         ProductCase{"normal", L"normal", false},
                                         ProductCase{"exit_at_once", L"exit-at-once", false}),
                         [](const testing::TestParamInfo<ProductCase>& info) { return info.param.name; });

// ----- without a product -----

using NoProduct = E2E;

TEST_F(NoProduct, EndsQuietlyWithExitCodeZero) {
    Launch& launcher = Start();
    HWND splash = launcher.WaitSplash();
    ASSERT_NE(splash, nullptr);
    std::vector<std::wstring> others;
    const bool ended = WaitUntil(
        [&] {
            for (HWND window : TopLevelWindows(launcher.Pid()))
                if (window != splash && IsWindowVisible(window))
                    others.push_back(ClassOf(window) + L" \"" + TextOf(window) + L"\"");
            return !launcher.Running();
        },
        15s);
    ASSERT_TRUE(ended) << "still running 15 s after start";
    EXPECT_EQ(launcher.ExitCode(), 0u);
    for (const std::wstring& other : others) ADD_FAILURE() << "another window appeared: " << other;
    EXPECT_TRUE(LogLines().empty());
}

// ----- closed before the first tick -----

struct CloseCase {
    const char* name;
    UINT message;
    WPARAM wParam;
};

void PrintTo(const CloseCase& c, std::ostream* out) { *out << c.name; }

class CloseEarly : public E2E, public testing::WithParamInterface<CloseCase> {};

TEST_P(CloseEarly, EndsWithExitCodeZeroAndStartsNothing) {
    const CloseCase& c = GetParam();
    InstallProduct(L"normal");
    Launch& launcher = Start();
    HWND splash = launcher.WaitSplash();
    ASSERT_NE(splash, nullptr);
    int before = -1;  // -1 while a loaded machine keeps the launcher from answering
    WaitUntil([&] { return (before = ProgressPosition(splash)) != -1; }, 2s);
    ASSERT_EQ(before, 0) << "the first tick ran before the window could be closed";
    ASSERT_TRUE(PostMessageW(splash, c.message, c.wParam, 0));

    std::vector<int> positions;
    const bool ended = WaitUntil(
        [&] {
            if (IsWindow(splash)) {
                const int position = ProgressPosition(splash);
                if (position > 0) positions.push_back(position);  // -1: no answer, it is going away
            }
            return !launcher.Running();
        },
        10s);
    ASSERT_TRUE(ended) << "still running after the close";
    EXPECT_EQ(launcher.ExitCode(), 0u);
    EXPECT_TRUE(positions.empty()) << "the bar moved: first " << positions.front();
    EXPECT_TRUE(ProductsStartedBy(launcher.Pid()).empty());
    EXPECT_TRUE(LogLines().empty()) << "the product was started";
}

INSTANTIATE_TEST_SUITE_P(Ways, CloseEarly,
                         testing::Values(CloseCase{"wm_close", WM_CLOSE, 0},
                                         CloseCase{"sc_close", WM_SYSCOMMAND, SC_CLOSE}),
                         [](const testing::TestParamInfo<CloseCase>& info) { return info.param.name; });

}  // namespace
