// Runs the real launcher where things go wrong - a planted DLL, a missing or
// broken product, odd show states, a close request mid-sequence - and checks
// it still ends with 0, starts the product at most once and leaves nothing behind.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const wchar_t kProductDir[] = L"C:\\VELQUOR";
const wchar_t kProductExe[] = L"C:\\VELQUOR\\NORVASK.exe";
constexpr RECT kBar{8, 408, 8 + 713, 408 + 25};
constexpr int kBannerHeight = 105;

std::wstring WindowsPath(const char* unixPath) {
    std::wstring path = L"Z:";
    for (const char* c = unixPath; *c; ++c) path += (*c == '/') ? L'\\' : static_cast<wchar_t>(*c);
    return path;
}

std::wstring TempPath(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + name;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::string> Lines(const std::wstring& path) {
    std::vector<std::string> lines;
    std::ifstream in(path.c_str());
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) return false;
        Sleep(5);
    }
    return true;
}

struct ProcessEntry {
    DWORD pid, parent;
    std::wstring image;
};

std::vector<ProcessEntry> Processes() {
    std::vector<ProcessEntry> out;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return out;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry))
        out.push_back({entry.th32ProcessID, entry.th32ParentProcessID, entry.szExeFile});
    CloseHandle(snapshot);
    return out;
}

// What the launcher may leave running: itself and whatever it started
// (matched by parent, so other programs in the same Wine prefix do not count).
// Wine starts its desktop process (explorer.exe) from the first program that
// needs a desktop, which may be the launcher; it belongs to Wine and stays.
bool IsWineDesktop(const ProcessEntry& p) {
    if (_wcsicmp(p.image.c_str(), L"explorer.exe") != 0) return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, p.pid);
    if (!process) return false;
    wchar_t path[MAX_PATH] = {}, system[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    const BOOL named = QueryFullProcessImageNameW(process, 0, path, &size);
    CloseHandle(process);
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    return named && length && _wcsnicmp(path, system, length) == 0;
}

std::vector<std::wstring> Leftovers(DWORD launcherPid) {
    std::vector<std::wstring> left;
    for (const ProcessEntry& p : Processes())
        if ((p.pid == launcherPid || p.parent == launcherPid) && !IsWineDesktop(p))
            left.push_back(p.image + L" pid " + std::to_wstring(p.pid));
    return left;
}

std::string Narrow(const std::vector<std::wstring>& items) {
    std::string out;
    for (const std::wstring& item : items) {
        for (wchar_t c : item) out += static_cast<char>(c < 128 ? c : '?');
        out += "; ";
    }
    return out;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

struct SplashSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK MatchSplash(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<SplashSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->pid || ClassOf(window) != L"Tfrm_abertura") return TRUE;
    search->found = window;
    return FALSE;
}

HWND SplashOf(DWORD pid) {
    SplashSearch search{pid, nullptr};
    EnumWindows(MatchSplash, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// ----- the screen: the launcher's thread answers no messages mid-sequence -----

std::vector<COLORREF> Capture(const RECT& area) {
    const int width = area.right - area.left, height = area.bottom - area.top;
    std::vector<COLORREF> out;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    GdiFlush();
    const auto* bgrx = static_cast<const DWORD*>(bits);
    for (int i = 0; i < width * height; ++i)
        out.push_back(RGB((bgrx[i] >> 16) & 0xFF, (bgrx[i] >> 8) & 0xFF, bgrx[i] & 0xFF));
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return out;
}

RECT ClientOnScreen(HWND window, const RECT& client) {
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    return {origin.x + client.left, origin.y + client.top, origin.x + client.right, origin.y + client.bottom};
}

bool Near(COLORREF a, COLORREF b) {
    return abs(GetRValue(a) - GetRValue(b)) + abs(GetGValue(a) - GetGValue(b)) + abs(GetBValue(a) - GetBValue(b)) <= 48;
}

// Fraction of the bar's inside that is filled, read along its middle row.
double BarFill(HWND splash) {
    const RECT row{kBar.left, kBar.top + 12, kBar.right, kBar.top + 13};
    const std::vector<COLORREF> p = Capture(ClientOnScreen(splash, row));
    const int width = static_cast<int>(p.size()), edge = 2;
    const COLORREF empty = p[static_cast<size_t>(width - edge - 2)];
    for (int x = width - edge - 1; x >= edge; --x)
        if (!Near(p[static_cast<size_t>(x)], empty)) return static_cast<double>(x - edge + 1) / (width - 2 * edge);
    return 0.0;
}

// ----- one run of the launcher -----

struct Show {
    bool set = false;
    WORD command = SW_SHOWNORMAL;
};

class Launch {
public:
    explicit Launch(const std::wstring& exe, Show show = {}, const std::wstring& arguments = {}) {
        std::wstring commandLine = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (show.set) {
            startup.dwFlags = STARTF_USESHOWWINDOW;
            startup.wShowWindow = show.command;
        }
        started_ = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                  &startup, &process_) != FALSE;
    }
    ~Launch() {
        if (!started_) return;
        if (Running()) TerminateProcess(process_.hProcess, 99);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    Launch(const Launch&) = delete;
    Launch& operator=(const Launch&) = delete;

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

private:
    PROCESS_INFORMATION process_{};
    bool started_ = false;
};

// What a watcher saw of the splash while the launcher ran.
struct Sighting {
    HWND splash = nullptr;
    bool progressBar = false;
    bool iconic = false, zoomed = false;
};

Sighting WatchSplash(const Launch& run, std::chrono::milliseconds limit = 20s) {
    Sighting seen;
    WaitUntil(
        [&] {
            if (!seen.splash) seen.splash = SplashOf(run.Pid());
            if (seen.splash && IsWindowVisible(seen.splash)) {
                seen.progressBar |= FindWindowExW(seen.splash, nullptr, PROGRESS_CLASSW, nullptr) != nullptr;
                seen.iconic |= IsIconic(seen.splash) != FALSE;
                seen.zoomed |= IsZoomed(seen.splash) != FALSE;
            }
            return seen.progressBar || !run.Running();
        },
        limit);
    return seen;
}

// Each case starts with no C:\VELQUOR, an empty product log and the stand-in's defaults.
class Hardening : public testing::Test {
protected:
    void SetUp() override {
        RemoveProduct();
        log_ = TempPath(L"velquor-hardening-standin.log");
        DeleteFileW(log_.c_str());
        SetEnvironmentVariableW(L"STANDIN_LOG", log_.c_str());
        SetEnvironmentVariableW(L"STANDIN_LIFETIME_MS", L"800");
        for (const wchar_t* name : {L"STANDIN_MODE", L"STANDIN_READY_DELAY_MS"}) SetEnvironmentVariableW(name, nullptr);
    }
    void TearDown() override {
        EndProducts();
        RemoveProduct();
        DeleteFileW(log_.c_str());
    }

    static void InstallStandIn(const wchar_t* mode) {
        ASSERT_TRUE(CreateDirectoryW(kProductDir, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        ASSERT_TRUE(CopyFileW(WindowsPath(STANDIN_EXE).c_str(), kProductExe, FALSE)) << GetLastError();
        SetEnvironmentVariableW(L"STANDIN_MODE", mode);
    }

    static void InstallText() {
        ASSERT_TRUE(CreateDirectoryW(kProductDir, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        HANDLE file = CreateFileW(kProductExe, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        const char text[] = "NORVASK is not installed yet.\r\n";
        DWORD written = 0;
        WriteFile(file, text, sizeof text - 1, &written, nullptr);
        CloseHandle(file);
    }

    // Products outlive the launcher by design; a test waits them out, then ends stragglers.
    static void EndProducts() {
        for (const ProcessEntry& p : Processes()) {
            if (_wcsicmp(p.image.c_str(), L"NORVASK.exe") != 0) continue;
            HANDLE product = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, p.pid);
            if (!product) continue;
            if (WaitForSingleObject(product, 10000) == WAIT_TIMEOUT) TerminateProcess(product, 99);
            WaitForSingleObject(product, 5000);
            CloseHandle(product);
        }
    }

    static void RemoveProduct() {
        for (int attempt = 0; attempt < 50 && Exists(kProductExe); ++attempt) {
            if (DeleteFileW(kProductExe)) break;
            Sleep(100);
        }
        RemoveDirectoryW(kProductDir);
    }

    // The launcher ended with 0 and, once the products' lifetime has passed,
    // nothing it started is still running.
    static void ExpectCleanEnd(const Launch& run, std::chrono::milliseconds limit = 30s) {
        ASSERT_TRUE(run.WaitExit(limit)) << "the launcher is still running";
        EXPECT_EQ(run.ExitCode(), 0u);
        std::vector<std::wstring> left;
        const bool clean = WaitUntil([&] { return (left = Leftovers(run.Pid())).empty(); }, 20s);
        EXPECT_TRUE(clean) << "still running: " << Narrow(left);
    }

    size_t ProductStarts() const { return Lines(log_).size(); }

    std::wstring log_;
};

// ----- a DLL planted beside the launcher -----

// Names the launcher loads after start-up, directly (comctl32) or through
// the system (uxtheme, from comctl32). Under Wine, version.dll and imm32.dll
// planted this way are loaded by Wine's own advapi32/user32 before any of the
// launcher's code runs; on Windows imm32 is a KnownDLL and version.dll is not
// loaded at start-up, so they are left out.
class PlantedDll : public Hardening, public testing::WithParamInterface<const wchar_t*> {
protected:
    void SetUp() override {
        Hardening::SetUp();
        dll_ = std::wstring(GetParam()) + L".dll";
        dir_ = TempPath(L"velquor-plant");
        CreateDirectoryW(dir_.c_str(), nullptr);
        marker_ = dir_ + L"\\loaded.txt";
        DeleteFileW(marker_.c_str());
        for (const auto& [from, to] : {std::pair{WindowsPath(LAUNCHER_EXE), std::wstring(L"VELQUOR.exe")},
                                       std::pair{WindowsPath(PLANTED_DLL), dll_},
                                       std::pair{WindowsPath(PLANT_PROBE), std::wstring(L"probe.exe")}})
            ASSERT_TRUE(CopyFileW(from.c_str(), (dir_ + L"\\" + to).c_str(), FALSE)) << GetLastError();
        SetEnvironmentVariableW(L"PLANT_MARKER", marker_.c_str());
        // Under Wine, CTest sets WINEDLLOVERRIDES (these names =n,b): Wine
        // otherwise prefers its own DLLs whatever the search order says, and
        // takes WINE* variables from the Unix environment, not from this process's.
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"PLANT_MARKER", nullptr);
        for (const std::wstring& name : {std::wstring(L"VELQUOR.exe"), dll_, std::wstring(L"probe.exe"),
                                         std::wstring(L"loaded.txt")})
            DeleteFileW((dir_ + L"\\" + name).c_str());
        RemoveDirectoryW(dir_.c_str());
        Hardening::TearDown();
    }

    std::wstring dll_, dir_, marker_;
};

TEST_P(PlantedDll, APlainLoadLibraryFromTheFolderLoadsIt) {
    Launch probe(dir_ + L"\\probe.exe", Show{}, dll_);
    ASSERT_TRUE(probe.Started()) << GetLastError();
    ASSERT_TRUE(probe.WaitExit(30s));
    EXPECT_EQ(probe.ExitCode(), 0u) << "LoadLibraryW failed";
    EXPECT_TRUE(Exists(marker_)) << "the planted DLL was not loaded: the test bed does not plant";
}

TEST_P(PlantedDll, TheLauncherIgnoresItAndStillShowsItsWindow) {
    Launch run(dir_ + L"\\VELQUOR.exe");
    ASSERT_TRUE(run.Started()) << GetLastError();
    const Sighting seen = WatchSplash(run);
    EXPECT_TRUE(seen.progressBar) << "no splash with a progress bar";
    ExpectCleanEnd(run);
    const std::vector<std::string> loaded = Lines(marker_);
    EXPECT_TRUE(loaded.empty()) << "the launcher loaded " << loaded.front();
}

INSTANTIATE_TEST_SUITE_P(Names, PlantedDll, testing::Values(L"comctl32", L"uxtheme"),
                         [](const testing::TestParamInfo<const wchar_t*>& info) {
                             std::string name;
                             for (const wchar_t* c = info.param; *c; ++c) name += static_cast<char>(*c);
                             return name;
                         });

// ----- the product missing or broken -----

enum class Install { Nothing, TextFile, StandIn };

struct ProductCase {
    const char* name;
    Install install;
    const wchar_t* mode;  // the stand-in's STANDIN_MODE
    size_t starts;        // lines the stand-in logs
};

class BadProduct : public Hardening, public testing::WithParamInterface<ProductCase> {};

TEST_P(BadProduct, TheLauncherShowsItsWindowAndEndsCleanly) {
    const ProductCase& c = GetParam();
    if (c.install == Install::TextFile) InstallText();
    if (c.install == Install::StandIn) InstallStandIn(c.mode);
    Launch run(WindowsPath(LAUNCHER_EXE));
    ASSERT_TRUE(run.Started()) << GetLastError();
    EXPECT_TRUE(WatchSplash(run).progressBar);
    ExpectCleanEnd(run);
    EXPECT_EQ(ProductStarts(), c.starts);
}

INSTANTIATE_TEST_SUITE_P(Cases, BadProduct,
                         testing::Values(ProductCase{"FolderMissing", Install::Nothing, nullptr, 0},
                                         ProductCase{"TextFileNamedExe", Install::TextFile, nullptr, 0},
                                         ProductCase{"ExitsAtOnce", Install::StandIn, L"exit-at-once", 1}),
                         [](const testing::TestParamInfo<ProductCase>& info) { return info.param.name; });

// A product that never reads its messages: the launcher waits for it only up
// to the system's input-idle limit, then ends while the product runs on.
TEST_F(Hardening, NeverIdleProductIsWaitedForOnlyUpToTheLimit) {
    InstallStandIn(L"never-idle");
    SetEnvironmentVariableW(L"STANDIN_LIFETIME_MS", L"120000");
    Launch run(WindowsPath(LAUNCHER_EXE));
    ASSERT_TRUE(run.Started()) << GetLastError();
    ASSERT_TRUE(WaitUntil([&] { return ProductStarts() > 0 || !run.Running(); }, 30s));
    ASSERT_EQ(ProductStarts(), 1u);
    const auto productSeen = Clock::now();
    ASSERT_TRUE(run.WaitExit(110s)) << "the launcher waited far past the input-idle limit";
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - productSeen);
    std::printf("the launcher ended %lld ms after the product started\n", static_cast<long long>(waited.count()));
    EXPECT_EQ(run.ExitCode(), 0u);
    bool productRunning = false;
    for (const ProcessEntry& p : Processes()) productRunning |= p.parent == run.Pid();
    EXPECT_TRUE(productRunning) << "the launcher should not wait for the product to end";
    EndProducts();
    std::vector<std::wstring> left;
    EXPECT_TRUE(WaitUntil([&] { return (left = Leftovers(run.Pid())).empty(); }, 20s)) << Narrow(left);
}

// ----- started minimised or maximised -----

struct ShowCase {
    const char* name;
    WORD command;
};

class ShowState : public Hardening, public testing::WithParamInterface<ShowCase> {};

TEST_P(ShowState, TheSequenceRunsAndStartsTheProductOnce) {
    const ShowCase& c = GetParam();
    InstallStandIn(L"normal");
    Launch run(WindowsPath(LAUNCHER_EXE), Show{true, c.command});
    ASSERT_TRUE(run.Started()) << GetLastError();
    HWND splash = nullptr;
    bool iconic = false, zoomed = false, bannerSpans = false;
    int bannerWidth = 0, clientWidth = 0;
    WaitUntil(
        [&] {
            if (!splash) splash = SplashOf(run.Pid());
            if (!splash || !IsWindowVisible(splash)) return !run.Running();
            iconic |= IsIconic(splash) != FALSE;
            zoomed |= IsZoomed(splash) != FALSE;
            if (c.command == SW_SHOWMAXIMIZED && zoomed && !bannerSpans) {
                // The banner is aligned to the top: it must cover the widened
                // client, not stay at its designed 729 pixels.
                RECT client{};
                GetClientRect(splash, &client);
                clientWidth = client.right;
                const std::vector<COLORREF> row =
                    Capture(ClientOnScreen(splash, {0, kBannerHeight / 2, client.right, kBannerHeight / 2 + 1}));
                const COLORREF background = GetSysColor(COLOR_BTNHIGHLIGHT);
                bannerWidth = 0;
                for (COLORREF p : row) bannerWidth += !Near(p, background);
                bannerSpans = clientWidth > 729 && bannerWidth >= clientWidth * 95 / 100;
            }
            return !run.Running() || (c.command == SW_SHOWMAXIMIZED ? bannerSpans : iconic);
        },
        20s);
    if (c.command == SW_SHOWMAXIMIZED) {
        EXPECT_TRUE(zoomed) << "never seen maximised";
        EXPECT_TRUE(bannerSpans) << "banner covers " << bannerWidth << " of " << clientWidth << " pixels";
    } else {
        EXPECT_TRUE(iconic) << "never seen minimised";
    }
    ExpectCleanEnd(run);
    const std::vector<std::string> starts = Lines(log_);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_NE(starts[0].find(" show=1 "), std::string::npos) << "the product is shown normally: " << starts[0];
}

INSTANTIATE_TEST_SUITE_P(Cases, ShowState,
                         testing::Values(ShowCase{"Minimised", SW_SHOWMINNOACTIVE},
                                         ShowCase{"Maximised", SW_SHOWMAXIMIZED}),
                         [](const testing::TestParamInfo<ShowCase>& info) { return info.param.name; });

// ----- closed from the system menu mid-sequence -----

TEST_F(Hardening, CloseDuringTheSequenceNeitherStopsNorRepeatsTheStart) {
    InstallStandIn(L"normal");
    Launch run(WindowsPath(LAUNCHER_EXE));
    ASSERT_TRUE(run.Started()) << GetLastError();
    HWND splash = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (splash = SplashOf(run.Pid())) && IsWindowVisible(splash); }, 20s));
    // The first tick has run once the bar shows 10 % (the thread answers no messages then).
    double fill = 0;
    const bool ticked = WaitUntil([&] { return !run.Running() || (fill = BarFill(splash)) > 0.05; }, 20s);
    ASSERT_TRUE(ticked && run.Running()) << "the bar was never seen filling, fill " << fill;
    ASSERT_EQ(ProductStarts(), 0u) << "posted too late: the product had started";
    ASSERT_TRUE(PostMessageW(splash, WM_SYSCOMMAND, SC_CLOSE, 0)) << GetLastError();
    ExpectCleanEnd(run);
    EXPECT_EQ(ProductStarts(), 1u);
}

}  // namespace
