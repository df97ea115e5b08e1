// Runs the real launcher where things go wrong - a planted DLL, a missing or
// broken product, odd show states, a close request mid-sequence - and checks
// it still ends with 0, starts the product at most once and leaves nothing behind.
#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include "launcher_driver.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace launcher_driver;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kBannerHeight = 105;

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
        ResetStandIn(log_);
        SetEnvironmentVariableW(L"STANDIN_LIFETIME_MS", L"800");
    }
    void TearDown() override {
        EndProducts();
        RemoveProduct();
        DeleteFileW(log_.c_str());
    }

    static void InstallStandIn(const wchar_t* mode) { launcher_driver::InstallStandIn(WindowsPath(STANDIN_EXE), mode); }

    static void InstallText() {
        ASSERT_TRUE(CreateDirectoryW(kProductDir, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        HANDLE file =
            CreateFileW(kProductExe, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        const char text[] = "NORVASK is not installed yet.\r\n";
        DWORD written = 0;
        WriteFile(file, text, sizeof text - 1, &written, nullptr);
        CloseHandle(file);
    }

    // Products outlive the launcher by design; a test waits them out, then ends stragglers.
    static void EndProducts() {
        for (const ProcessEntry& p : Processes())
            if (_wcsicmp(p.image.c_str(), L"NORVASK.exe") == 0) EndProcess(p.pid);
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

// The launcher's loader takes one of two paths: with default DLL directories
// (Windows 8 on, Windows 7 with KB2533623), or without them (Windows 7 SP1
// as shipped), which Wine never lacks. A test build of the launcher that
// finds no default DLL directories takes the second path.
std::wstring LauncherFor(bool fallbackLoader) {
    return WindowsPath(fallbackLoader ? WINDOWS7_LOADER_EXE : LAUNCHER_EXE);
}

// Names the launcher loads after start-up, directly (comctl32) or through
// the system (uxtheme, from comctl32). Under Wine, version.dll and imm32.dll
// planted this way are loaded by Wine's own advapi32/user32 before any of the
// launcher's code runs; on Windows imm32 is a KnownDLL and version.dll is not
// loaded at start-up, so they are left out.
struct PlantCase {
    const wchar_t* dll;
    bool fallbackLoader;
};

void PrintTo(const PlantCase& c, std::ostream* out) {
    for (const wchar_t* ch = c.dll; *ch; ++ch) *out << static_cast<char>(*ch);
    *out << (c.fallbackLoader ? " (fallback loader)" : "");
}

class PlantedDll : public Hardening, public testing::WithParamInterface<PlantCase> {
protected:
    void SetUp() override {
        Hardening::SetUp();
        dll_ = std::wstring(GetParam().dll) + L".dll";
        dir_ = TempPath(L"velquor-plant");
        CreateDirectoryW(dir_.c_str(), nullptr);
        marker_ = dir_ + L"\\loaded.txt";
        DeleteFileW(marker_.c_str());
        for (const auto& [from, to] : {std::pair{LauncherFor(GetParam().fallbackLoader), std::wstring(L"VELQUOR.exe")},
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
        for (const std::wstring& name :
             {std::wstring(L"VELQUOR.exe"), dll_, std::wstring(L"probe.exe"), std::wstring(L"loaded.txt")})
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

INSTANTIATE_TEST_SUITE_P(Names, PlantedDll,
                         testing::Values(PlantCase{L"comctl32", false}, PlantCase{L"uxtheme", false},
                                         PlantCase{L"comctl32", true}, PlantCase{L"uxtheme", true}),
                         [](const testing::TestParamInfo<PlantCase>& info) {
                             std::string name;
                             for (const wchar_t* c = info.param.dll; *c; ++c) name += static_cast<char>(*c);
                             return info.param.fallbackLoader ? name + "_fallback_loader" : name;
                         });

// ----- every module from the system folder -----

// What the launcher may load once it runs, each planted beside it: the common controls and the
// theme DLL (its own loads) and shcore (the DPI functions of Windows 8.1); what those load in turn
// that is not a known DLL (dwmapi from uxtheme on Windows; msimg32 and winmm under Wine); the
// targets of advapi32's forwarders (cryptbase, cryptsp); dbghelp, which a crash report loads;
// oleacc, which the launcher loads when something asks for its window's accessible objects, as
// the test does once the splash shows.
// Left out: known DLLs, which Windows never takes from beside the exe but Wine does (a planted
// ole32 is loaded so, through Wine's own DLLs), and what Wine's DLLs load before any of the
// launcher's code (version, imm32, ucrtbase, zlib1). Planted, either would test Wine; the start-up
// loads are the PE check's.
constexpr const wchar_t* kLoadedAfterStart[] = {L"comctl32", L"uxtheme", L"shcore", L"dwmapi",  L"cryptbase",
                                                L"cryptsp",  L"msimg32", L"winmm",  L"dbghelp", L"oleacc"};

using ProcessHandle = std::unique_ptr<void, decltype(&CloseHandle)>;

// The paths of the modules a process has loaded (empty once it has ended).
std::vector<std::wstring> ModulesOf(DWORD pid) {
    const ProcessHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid), &CloseHandle);
    if (!process) return {};
    HMODULE modules[512];
    DWORD bytes = 0;
    if (!EnumProcessModules(process.get(), modules, sizeof modules, &bytes)) return {};
    std::vector<std::wstring> paths;
    for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < std::size(modules); ++i) {
        wchar_t path[MAX_PATH];
        if (GetModuleFileNameExW(process.get(), modules[i], path, MAX_PATH)) paths.emplace_back(path);
    }
    return paths;
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

class EveryModule : public Hardening, public testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        Hardening::SetUp();
        dir_ = TempPath(L"velquor-modules");
        CreateDirectoryW(dir_.c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(LauncherFor(GetParam()).c_str(), Planted(L"VELQUOR.exe").c_str(), FALSE))
            << GetLastError();
        for (const wchar_t* dll : kLoadedAfterStart)
            ASSERT_TRUE(
                CopyFileW(WindowsPath(PLANTED_DLL).c_str(), Planted(std::wstring(dll) + L".dll").c_str(), FALSE))
                << GetLastError();
        InstallStandIn(L"normal");  // the whole sequence runs, the product's start included
    }
    void TearDown() override {
        DeleteFileW(Planted(L"VELQUOR.exe").c_str());
        for (const wchar_t* dll : kLoadedAfterStart) DeleteFileW(Planted(std::wstring(dll) + L".dll").c_str());
        RemoveDirectoryW(dir_.c_str());
        Hardening::TearDown();
    }
    std::wstring Planted(const std::wstring& name) const { return dir_ + L"\\" + name; }

    std::wstring dir_;
};

TEST_P(EveryModule, ComesFromTheSystemFolderWhileTheLauncherRuns) {
    Launch run(Planted(L"VELQUOR.exe"));
    ASSERT_TRUE(run.Started()) << GetLastError();
    // Sampled until it ends, so what it loads to start the product is seen too.
    std::set<std::wstring> seen;
    bool splashSeen = false;
    WaitUntil(
        [&] {
            for (std::wstring& path : ModulesOf(run.Pid())) seen.insert(std::move(path));
            const HWND splash = SplashOf(run.Pid());
            if (!splashSeen && splash && IsWindowVisible(splash)) {
                splashSeen = true;
                IAccessible* accessible = nullptr;  // as a screen reader asks
                if (SUCCEEDED(AccessibleObjectFromWindow(splash, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                                         reinterpret_cast<void**>(&accessible))))
                    accessible->Release();
            }
            return !run.Running();
        },
        30s);
    ExpectCleanEnd(run);
    EXPECT_TRUE(splashSeen) << "no splash";
    ASSERT_TRUE(seen.contains(Planted(L"VELQUOR.exe"))) << "the module list was never read";
    std::vector<std::wstring> beside;
    for (const std::wstring& path : seen)
        if (_wcsicmp(FolderOf(path).c_str(), dir_.c_str()) == 0 && path != Planted(L"VELQUOR.exe"))
            beside.push_back(path);
    EXPECT_TRUE(beside.empty()) << "loaded from the exe's folder: " << Narrow(beside);
    std::printf("modules seen: %s\n", Narrow({seen.begin(), seen.end()}).c_str());
}

INSTANTIATE_TEST_SUITE_P(Paths, EveryModule, testing::Bool(), [](const testing::TestParamInfo<bool>& info) {
    return info.param ? std::string("fallback_loader") : std::string("default_loader");
});

// ----- the stack guard -----

TEST(StackGuard, AnOverrunEndsTheProcessAsWindowsOwnCheckDoes) {
    Launch run(WindowsPath(STACK_GUARD_PROBE), Show{}, L"overrun");
    ASSERT_TRUE(run.Started()) << GetLastError();
    ASSERT_TRUE(run.WaitExit(30s));
    EXPECT_EQ(run.ExitCode(), 0xC0000409u) << "STATUS_STACK_BUFFER_OVERRUN expected";
}

TEST(StackGuard, EachStartHasACanaryOfItsOwn) {
    std::set<DWORD> canaries;
    constexpr int kStarts = 4;
    for (int i = 0; i < kStarts; ++i) {
        Launch run(WindowsPath(STACK_GUARD_PROBE));
        ASSERT_TRUE(run.Started()) << GetLastError();
        ASSERT_TRUE(run.WaitExit(30s));
        EXPECT_NE(run.ExitCode(), 0u) << "a canary of zero";
        canaries.insert(run.ExitCode());
    }
    EXPECT_EQ(canaries.size(), size_t{kStarts}) << "two starts had the same canary";
}

// What the splash shows before its first step, once painted: its whole
// client area, taken when two captures in a row agree.
Pixels FirstFrame(const Launch& run) {
    const HWND splash = run.WaitSplash();
    if (!splash) return {};
    RECT client{};
    GetClientRect(splash, &client);
    Pixels previous, now;
    WaitUntil(
        [&] {
            previous = std::exchange(now, Capture(OnScreen(splash, client)));
            const std::set<COLORREF> colours(now.rgb.begin(), now.rgb.end());
            return colours.size() > 100 && previous.rgb == now.rgb;  // banner and logo are drawn
        },
        800ms);
    return now;
}

TEST_F(Hardening, BothLoaderPathsShowTheSameWindow) {
    Pixels frames[2];
    for (const bool fallback : {false, true}) {
        Launch run(LauncherFor(fallback));
        ASSERT_TRUE(run.Started()) << GetLastError();
        frames[fallback] = FirstFrame(run);
        ASSERT_FALSE(frames[fallback].rgb.empty())
            << "no splash on the " << (fallback ? "fallback" : "default") << " path";
        ExpectCleanEnd(run);
    }
    ASSERT_EQ(frames[0].width, frames[1].width);
    ASSERT_EQ(frames[0].height, frames[1].height);
    size_t differing = 0;
    for (size_t i = 0; i < frames[0].rgb.size(); ++i) differing += frames[0].rgb[i] != frames[1].rgb[i];
    EXPECT_EQ(differing, 0u) << "pixels that differ between the loader paths";
}

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
                const Pixels row =
                    Capture(OnScreen(splash, {0, kBannerHeight / 2, client.right, kBannerHeight / 2 + 1}));
                const COLORREF background = GetSysColor(COLOR_BTNHIGHLIGHT);
                bannerWidth = 0;
                for (COLORREF p : row.rgb) bannerWidth += !Near(p, background);
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
