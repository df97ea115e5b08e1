#include "runs.h"

#include <commctrl.h>
#include <psapi.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "clock.h"

namespace bench {

namespace {

// Files the programs write for the driver: the product's (or bare window's) start stamp and the
// staged build's stage log, named to them through the environment.
struct Files {
    std::wstring stamp, stageLog;
    static Files Make() {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        Files files{std::wstring(temp) + L"velquor-bench-stamp.bin", std::wstring(temp) + L"velquor-bench-stages.txt"};
        SetEnvironmentVariableW(L"VELQUOR_BENCH_STAMP", files.stamp.c_str());
        SetEnvironmentVariableW(L"VELQUOR_STAGE_LOG", files.stageLog.c_str());
        return files;
    }
    void Clear() const {
        DeleteFileW(stamp.c_str());
        DeleteFileW(stageLog.c_str());
    }
};

std::vector<Stage> ReadStages(const Files& files, const Clock& clock, double start) {
    std::vector<Stage> stages;
    std::ifstream in{std::filesystem::path(files.stageLog)};
    std::string name;
    long long begin = 0, end = 0;
    while (in >> name >> begin >> end)
        stages.push_back({name, clock.Ms(begin) - start, end ? clock.Ms(end) - start : kNotSeen});
    return stages;
}

double ReadStamp(const Files& files, const Clock& clock, double start, bool wait) {
    // The product may still be writing it.
    for (int i = 0; i < 200; ++i) {
        std::ifstream in(std::filesystem::path(files.stamp), std::ios::binary);
        long long stamp = 0;
        if (in.read(reinterpret_cast<char*>(&stamp), sizeof stamp)) return clock.Ms(stamp) - start;
        if (!wait) break;
        Sleep(10);
    }
    return kNotSeen;
}

struct WindowSearch {
    DWORD pid;
    const wchar_t* windowClass;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[64];
    if (owner != search->pid || !GetClassNameW(window, name, 64) || lstrcmpW(name, search->windowClass) != 0)
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND TopWindowOf(DWORD pid, const wchar_t* windowClass) {
    WindowSearch search{pid, windowClass, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Where the bar's fill is read on screen: 5 % and 20 % into its inside (past its sunken edge).
struct BarPoints {
    POINT at10, at30;
    static BarPoints Of(HWND bar) {
        RECT rc;
        GetWindowRect(bar, &rc);
        const int inner = rc.right - rc.left - 4, middle = (rc.top + rc.bottom) / 2;
        return {{rc.left + 2 + inner * 5 / 100, middle}, {rc.left + 2 + inner * 20 / 100, middle}};
    }
};

struct ScreenDc {
    HDC dc = GetDC(nullptr);
    ScreenDc() = default;
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    ~ScreenDc() { ReleaseDC(nullptr, dc); }
};

// Polls a started process every millisecond until it ends (or 15 s pass).
class Watch {
public:
    Watch(const Clock& clock, HANDLE process, DWORD pid, const wchar_t* windowClass, bool watchBar)
        : clock_(clock), process_(process), pid_(pid), windowClass_(windowClass), watchBar_(watchBar) {}

    void Until(Run& run, double start) {
        const ScreenDc screen;
        for (;;) {
            const double t = clock_.Now() - start;
            if (WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) {
                run.exit = t;
                return;
            }
            if (t > 15000) {
                TerminateProcess(process_, 99);
                return;
            }
            Sample(run, t, screen.dc);
            Sleep(1);
        }
    }

private:
    void Sample(Run& run, double t, HDC screen) {
        // Polled rather than waited on, so the window is seen from its creation on.
        if (std::isnan(run.ready) && WaitForInputIdle(process_, 0) == 0) run.ready = t;
        if (!window_ && (window_ = TopWindowOf(pid_, windowClass_))) run.window = t;
        if (window_ && !bar_) bar_ = FindWindowExW(window_, nullptr, PROGRESS_CLASSW, nullptr);
        // The form may still move into place after its bar exists, and the empty bar's colour is
        // taken while it is surely painted and surely not yet stepped.
        const bool settling = t - run.window < 700;
        if (bar_ && settling) points_ = BarPoints::Of(bar_);
        if (watchBar_ && bar_) SampleBar(run, t, screen, settling);
        SampleMemory(run, t);
    }

    void SampleBar(Run& run, double t, HDC screen, bool settling) {
        DWORD_PTR pos = 0;
        if (SendMessageTimeoutW(bar_, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5, &pos)) {
            if (pos >= 10 && std::isnan(run.pos10)) run.pos10 = t;
            if (pos >= 30 && std::isnan(run.pos30)) run.pos30 = t;
        }
        const COLORREF c10 = GetPixel(screen, points_.at10.x, points_.at10.y);
        const COLORREF c30 = GetPixel(screen, points_.at30.x, points_.at30.y);
        if (settling) {
            empty10_ = c10, empty30_ = c30;
            return;
        }
        if (c10 != empty10_ && std::isnan(run.pix10)) run.pix10 = t;
        if (c30 != empty30_ && std::isnan(run.pix30)) run.pix30 = t;
    }

    void SampleMemory(Run& run, double t) {
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        // A process on its way out reads as all zeros under Wine.
        if (std::isnan(run.pagefileUp) && !std::isnan(run.window) && t >= run.window + 500 &&
            GetProcessMemoryInfo(process_, &counters, sizeof counters) && counters.PagefileUsage)
            run.pagefileUp = static_cast<double>(counters.PagefileUsage) / (1024.0 * 1024.0);
    }

    const Clock& clock_;
    HANDLE process_;
    DWORD pid_;
    const wchar_t* windowClass_;
    bool watchBar_;
    HWND window_ = nullptr, bar_ = nullptr;
    BarPoints points_{};
    COLORREF empty10_ = CLR_INVALID, empty30_ = CLR_INVALID;
};

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

Run RunOnce(const Clock& clock, const Files& files, const std::wstring& exe, const wchar_t* windowClass,
            bool watchBar) {
    Run run;
    files.Clear();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    std::wstring command = L"\"" + exe + L"\"";
    const double start = clock.Now();
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started)) {
        std::fwprintf(stderr, L"driver: cannot start %ls (%lu)\n", exe.c_str(), GetLastError());
        return run;
    }
    const UniqueHandle process(started.hProcess), thread(started.hThread);
    Watch(clock, process.get(), started.dwProcessId, windowClass, watchBar).Until(run, start);
    WaitForSingleObject(process.get(), INFINITE);
    GetExitCodeProcess(process.get(), &run.exitCode);
    run.stages = ReadStages(files, clock, start);
    run.stamp = ReadStamp(files, clock, start, watchBar);
    return run;
}

// The launcher's product path, with whatever the tests left there kept aside meanwhile.
class ProductSlot {
public:
    ProductSlot() {
        CreateDirectoryW(L"C:\\VELQUOR", nullptr);
        kept_ = MoveFileExW(kPath, kSaved, MOVEFILE_REPLACE_EXISTING) != FALSE;
    }
    ~ProductSlot() {
        DeleteFileW(kPath);
        if (kept_) MoveFileExW(kSaved, kPath, MOVEFILE_REPLACE_EXISTING);
    }
    ProductSlot(const ProductSlot&) = delete;
    ProductSlot& operator=(const ProductSlot&) = delete;
    void Install(const std::wstring& product) const { CopyFileW(product.c_str(), kPath, FALSE); }
    void Remove() const { DeleteFileW(kPath); }

private:
    static constexpr const wchar_t* kPath = L"C:\\VELQUOR\\NORVASK.exe";
    static constexpr const wchar_t* kSaved = L"C:\\VELQUOR\\NORVASK.exe.bench-saved";
    bool kept_ = false;
};

}  // namespace

Runs RunAll(const Programs& programs, int rounds) {
    const Clock clock;
    const Files files = Files::Make();
    const ProductSlot slot;
    Runs runs;
    for (int i = 0; i < rounds; ++i) {
        slot.Install(programs.product);
        runs[kLauncher].push_back(RunOnce(clock, files, programs.launcher, L"Tfrm_abertura", true));
        slot.Remove();
        runs[kNoProduct].push_back(RunOnce(clock, files, programs.launcher, L"Tfrm_abertura", true));
        runs[kBare].push_back(RunOnce(clock, files, programs.bare, L"VelquorBenchBare", false));
        // What Wine alone costs from CreateProcess to a program's first line.
        runs[kProductAlone].push_back(RunOnce(clock, files, programs.product, L"-", false));
        runs[kStaged].push_back(RunOnce(clock, files, programs.staged, L"Tfrm_abertura", true));
        std::fwprintf(stderr, L"\rdriver: round %d/%d", i + 1, rounds);
    }
    std::fwprintf(stderr, L"\n");
    files.Clear();
    return runs;
}

}  // namespace bench
