// Starts the real launcher and watches it from outside: its window, what it
// draws on the screen, the product it starts and how it ends.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kClientWidth = 729, kClientHeight = 441;
constexpr RECT kBar{8, 408, 8 + 713, 408 + 25};
constexpr RECT kStatus{24, 384, 100, 397};
const wchar_t kProductDir[] = L"C:\\VELQUOR";
const wchar_t kProductExe[] = L"C:\\VELQUOR\\NORVASK.exe";

// The build gives Unix paths; Wine shows the Unix root as Z:.
std::wstring WindowsPath(const char* unixPath) {
    std::wstring path = L"Z:";
    for (const char* c = unixPath; *c; ++c) path += (*c == '/') ? L'\\' : static_cast<wchar_t>(*c);
    return path;
}

std::wstring LogPath() {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + L"velquor-e2e-standin.log";
}

std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    std::ifstream in(LogPath().c_str());
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

std::string Field(const std::string& line, const std::string& name) {
    // cmdline holds spaces in general; it is followed by " show=".
    const std::string key = name + "=";
    const size_t start = line.find(key);
    if (start == std::string::npos) return {};
    const size_t from = start + key.size();
    const size_t end = (name == "cmdline") ? line.find(" show=", from) : line.find(' ', from);
    return line.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) return false;
        Sleep(5);
    }
    return true;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring TextOf(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);  // another process: answered by the window manager's copy
    return text;
}

struct WindowSearch {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindowOf(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->pid) search->found.push_back(window);
    return TRUE;
}

// Top-level windows of a process, hidden ones included.
std::vector<HWND> TopLevelWindows(DWORD pid) {
    WindowSearch search{pid, {}};
    EnumWindows(CollectWindowOf, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND SplashOf(DWORD pid) {
    for (HWND window : TopLevelWindows(pid))
        if (ClassOf(window) == L"Tfrm_abertura" && TextOf(window) == L"frm_abertura") return window;
    return nullptr;
}


// Processes whose parent is `parent` and whose image is NORVASK.exe.
std::vector<DWORD> ProductsStartedBy(DWORD parent) {
    std::vector<DWORD> pids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return pids;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry))
        if (entry.th32ParentProcessID == parent && _wcsicmp(entry.szExeFile, L"NORVASK.exe") == 0)
            pids.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return pids;
}

// ----- the screen -----

struct Pixels {
    int width = 0, height = 0;
    std::vector<COLORREF> rgb;
    COLORREF At(int x, int y) const { return rgb[static_cast<size_t>(y * width + x)]; }
};

// Copies a screen rectangle: what the user sees, whoever drew it.
Pixels Capture(const RECT& area) {
    Pixels out;
    out.width = area.right - area.left;
    out.height = area.bottom - area.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = out.width;
    info.bmiHeader.biHeight = -out.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, out.width, out.height, screen, area.left, area.top, SRCCOPY);
    GdiFlush();
    const auto* bgrx = static_cast<const DWORD*>(bits);
    for (int i = 0; i < out.width * out.height; ++i) {
        const DWORD p = bgrx[i];
        out.rgb.push_back(RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF));
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return out;
}

RECT OnScreen(HWND window, const RECT& client) {
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    return {origin.x + client.left, origin.y + client.top, origin.x + client.right, origin.y + client.bottom};
}

bool Differs(COLORREF a, COLORREF b) {
    return abs(GetRValue(a) - GetRValue(b)) + abs(GetGValue(a) - GetGValue(b)) + abs(GetBValue(a) - GetBValue(b)) > 48;
}

bool IsGreenish(COLORREF c) { return GetGValue(c) >= 80 && GetGValue(c) > GetRValue(c) + 40 && GetGValue(c) > GetBValue(c) + 40; }

int GreenPixelsInStatus(HWND window) {
    const Pixels p = Capture(OnScreen(window, kStatus));
    int green = 0;
    for (COLORREF c : p.rgb) green += IsGreenish(c);
    return green;
}

// How much of the bar's inside is filled, 0..1, read along its middle row:
// the inside's right end is empty at every position the launcher uses.
double BarFill(HWND window) {
    const RECT row{kBar.left, kBar.top + 12, kBar.right, kBar.top + 13};
    const Pixels p = Capture(OnScreen(window, row));
    constexpr int edge = 2;  // the sunken border
    const int inner = p.width - 2 * edge;
    const COLORREF empty = p.At(p.width - edge - 2, 0);
    for (int x = p.width - edge - 1; x >= edge; --x)
        if (Differs(p.At(x, 0), empty)) return static_cast<double>(x - edge + 1) / inner;
    return 0.0;
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

class Launcher {
public:
    Launcher() {
        std::wstring commandLine = L"\"" + WindowsPath(LAUNCHER_EXE) + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        started_ = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                  &startup, &process_) != FALSE;
    }
    ~Launcher() {
        if (started_) {
            if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process_.hProcess, 99);
            CloseHandle(process_.hThread);
            CloseHandle(process_.hProcess);
        }
    }
    bool Started() const { return started_; }
    DWORD Pid() const { return process_.dwProcessId; }
    bool Running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }
    bool WaitExit(std::chrono::milliseconds limit) const {
        return WaitForSingleObject(process_.hProcess, static_cast<DWORD>(limit.count())) == WAIT_OBJECT_0;
    }
    DWORD ExitCode() const {
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }
    // The splash once it is on the screen.
    HWND WaitSplash(std::chrono::milliseconds limit = 15s) const {
        HWND found = nullptr;
        WaitUntil([&] { return (found = SplashOf(Pid())) && IsWindowVisible(found); }, limit);
        return found;
    }

private:
    PROCESS_INFORMATION process_{};
    bool started_ = false;
};

// Each case starts from no C:\VELQUOR, no log and no stand-in settings.
class E2E : public testing::Test {
protected:
    void SetUp() override {
        RemoveProduct();
        DeleteFileW(LogPath().c_str());
        SetEnvironmentVariableW(L"STANDIN_LOG", LogPath().c_str());
        for (const wchar_t* name : {L"STANDIN_MODE", L"STANDIN_LIFETIME_MS", L"STANDIN_READY_DELAY_MS"})
            SetEnvironmentVariableW(name, nullptr);
    }
    void TearDown() override {
        if (launcher_) {
            EndProducts(launcher_->Pid());
            launcher_.reset();
        }
        RemoveProduct();
        DeleteFileW(LogPath().c_str());
    }

    void InstallProduct(const wchar_t* mode) {
        ASSERT_TRUE(CreateDirectoryW(kProductDir, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        ASSERT_TRUE(CopyFileW(WindowsPath(STANDIN_EXE).c_str(), kProductExe, FALSE)) << GetLastError();
        SetEnvironmentVariableW(L"STANDIN_MODE", mode);
    }

    Launcher& Start() {
        launcher_ = std::make_unique<Launcher>();
        EXPECT_TRUE(launcher_->Started()) << "CreateProcess: " << GetLastError();
        return *launcher_;
    }

    // The stand-in lives on after the launcher; let it end (or end it) so the
    // next case can replace its file.
    static void EndProducts(DWORD launcherPid) {
        for (DWORD pid : ProductsStartedBy(launcherPid)) {
            HANDLE product = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
            if (!product) continue;
            if (WaitForSingleObject(product, 10000) == WAIT_TIMEOUT) TerminateProcess(product, 99);
            WaitForSingleObject(product, 5000);
            CloseHandle(product);
        }
    }

    static void RemoveProduct() {
        for (int attempt = 0; attempt < 50 && GetFileAttributesW(kProductExe) != INVALID_FILE_ATTRIBUTES; ++attempt) {
            if (DeleteFileW(kProductExe)) break;
            Sleep(100);
        }
        RemoveDirectoryW(kProductDir);
    }

    std::unique_ptr<Launcher> launcher_;
};

// ----- the window -----

using Window = E2E;

TEST_F(Window, IsABorderlessCentredTaskbarSplashOfTheDesignedSize) {
    Launcher& launcher = Start();
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
    Launcher& launcher = Start();
    HWND splash = launcher.WaitSplash();
    ASSERT_NE(splash, nullptr);

    // Before the first tick: green status, empty bar, position 0 - all seen together.
    bool initial = WaitUntil(
        [&] { return GreenPixelsInStatus(splash) >= 15 && BarStep(BarFill(splash)) == 0 && ProgressPosition(splash) == 0; },
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
    Launcher& launcher = Start();

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
    Launcher& launcher = Start();
    HWND splash = launcher.WaitSplash();
    ASSERT_NE(splash, nullptr);
    std::vector<std::wstring> others;
    const bool ended = WaitUntil(
        [&] {
            for (HWND window : TopLevelWindows(launcher.Pid()))
                if (window != splash && IsWindowVisible(window)) others.push_back(ClassOf(window) + L" \"" + TextOf(window) + L"\"");
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
    Launcher& launcher = Start();
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
