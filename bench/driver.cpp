// Benchmark driver, run under Wine: starts the launcher, a bare window and the launcher's staged
// build itself (interleaved), watches them from outside with QueryPerformanceCounter, times the
// launcher's picture code in-process, and prints the figures, the stage table and the goals, all
// of them also written as JSON. Every figure is a row of a table below: add one there.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "pictures/decode.h"
#include "pictures/image.h"

namespace {

constexpr double kNaN = NAN;
using Samples = std::vector<double>;

// ----- the command line: --name value pairs -----

struct Options {
    std::wstring launcher, bare, staged, product, shipped, banner, logo, json, n, arch, machine, cpuLauncher, cpuBare;
};

struct Option {
    const wchar_t* name;
    std::wstring Options::*field;
    const wchar_t* what;
};

constexpr Option kOptions[] = {
    {L"--launcher", &Options::launcher, L"the launcher's exe of the build run"},
    {L"--bare", &Options::bare, L"the bare window's exe"},
    {L"--staged", &Options::staged, L"the launcher's build with its stages marked"},
    {L"--product", &Options::product, L"the stand-in product's exe"},
    {L"--shipped", &Options::shipped, L"the shipped i686 exe (its size)"},
    {L"--banner", &Options::banner, L"the banner's file"},
    {L"--logo", &Options::logo, L"the logo's file"},
    {L"--json", &Options::json, L"where the figures are written"},
    {L"--n", &Options::n, L"runs of each program"},
    {L"--arch", &Options::arch, L"the build run: i686 or x86_64"},
    {L"--machine", &Options::machine, L"the machine, in words"},
    {L"--cpu-launcher", &Options::cpuLauncher, L"CPU ms of launcher runs, from Linux rusage, space-separated"},
    {L"--cpu-bare", &Options::cpuBare, L"CPU ms of bare runs, likewise"},
};

bool Parse(int argc, wchar_t** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const auto option = std::find_if(std::begin(kOptions), std::end(kOptions),
                                         [&](const Option& o) { return std::wcscmp(o.name, argv[i]) == 0; });
        if (option == std::end(kOptions)) return false;
        options.*(option->field) = argv[i + 1];
    }
    return argc % 2 == 1 && std::all_of(std::begin(kOptions), std::end(kOptions),
                                        [&](const Option& o) { return !(options.*(o.field)).empty(); });
}

void Usage() {
    std::fwprintf(stderr, L"usage: driver");
    for (const Option& o : kOptions) std::fwprintf(stderr, L" %ls VALUE", o.name);
    std::fwprintf(stderr, L"\n");
    for (const Option& o : kOptions) std::fwprintf(stderr, L"  %-16ls %ls\n", o.name, o.what);
}

std::string Utf8(const std::wstring& text) {
    std::string out(text.size() * 3 + 1, '\0');
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(length > 0 ? static_cast<size_t>(length - 1) : 0);
    return out;
}

Samples Numbers(const std::wstring& text) {
    Samples values;
    std::wistringstream in(text);
    for (double v; in >> v;) values.push_back(v);
    return values;
}

// ----- the run: each program started and watched from outside -----

struct Clock {
    double ticksPerMs;
    static Clock Make() {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return {static_cast<double>(f.QuadPart) / 1000.0};
    }
    double Ms(long long ticks) const { return static_cast<double>(ticks) / ticksPerMs; }
    double Now() const {
        LARGE_INTEGER t;
        QueryPerformanceCounter(&t);
        return Ms(t.QuadPart);
    }
};

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

// A start-up stage from the staged build's log, ms after process start.
struct Stage {
    std::string name;
    double begin, end;
};

// One run, in ms after CreateProcess (NaN: not seen).
struct Run {
    double ready = kNaN;       // WaitForInputIdle
    double window = kNaN;      // first seen by EnumWindows
    double pos10 = kNaN;       // PBM_GETPOS first reads >= 10
    double pos30 = kNaN;       // ... >= 30
    double pix10 = kNaN;       // the bar's fill seen on screen at 10 %
    double pix30 = kNaN;       // ... at 30 %
    double stamp = kNaN;       // the product's start, or the bare window's wWinMain return
    double exit = kNaN;        // process handle signalled
    double pagefileUp = kNaN;  // committed MiB, 500 ms after the window was seen
    DWORD exitCode = 0;
    std::vector<Stage> stages;
};

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

double MiB(SIZE_T bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

std::vector<Stage> ReadStages(const Files& files, const Clock& clock, double start) {
    std::vector<Stage> stages;
    std::ifstream in{std::filesystem::path(files.stageLog)};
    std::string name;
    long long begin = 0, end = 0;
    while (in >> name >> begin >> end)
        stages.push_back({name, clock.Ms(begin) - start, end ? clock.Ms(end) - start : kNaN});
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
    return kNaN;
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

// Polls a started process every millisecond until it ends (or 15 s pass).
class Watch {
public:
    Watch(const Clock& clock, const PROCESS_INFORMATION& process, const wchar_t* windowClass, bool watchBar)
        : clock_(clock), process_(process), windowClass_(windowClass), watchBar_(watchBar) {}

    void Until(Run& run, double start) {
        HDC screen = GetDC(nullptr);
        for (;;) {
            const double t = clock_.Now() - start;
            if (WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0) {
                run.exit = t;
                break;
            }
            if (t > 15000) {
                TerminateProcess(process_.hProcess, 99);
                break;
            }
            Sample(run, t, screen);
            Sleep(1);
        }
        ReleaseDC(nullptr, screen);
    }

private:
    void Sample(Run& run, double t, HDC screen) {
        // Polled rather than waited on, so the window is seen from its creation on.
        if (std::isnan(run.ready) && WaitForInputIdle(process_.hProcess, 0) == 0) run.ready = t;
        if (!window_ && (window_ = TopWindowOf(process_.dwProcessId, windowClass_))) run.window = t;
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
            GetProcessMemoryInfo(process_.hProcess, &counters, sizeof counters) && counters.PagefileUsage)
            run.pagefileUp = MiB(counters.PagefileUsage);
    }

    const Clock& clock_;
    const PROCESS_INFORMATION& process_;
    const wchar_t* windowClass_;
    bool watchBar_;
    HWND window_ = nullptr, bar_ = nullptr;
    BarPoints points_{};
    COLORREF empty10_ = CLR_INVALID, empty30_ = CLR_INVALID;
};

Run RunOnce(const Clock& clock, const Files& files, const std::wstring& exe, const wchar_t* windowClass,
            bool watchBar) {
    Run run;
    files.Clear();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring command = L"\"" + exe + L"\"";
    const double start = clock.Now();
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::fwprintf(stderr, L"driver: cannot start %ls (%lu)\n", exe.c_str(), GetLastError());
        return run;
    }
    Watch(clock, process, windowClass, watchBar).Until(run, start);
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    run.stages = ReadStages(files, clock, start);
    run.stamp = ReadStamp(files, clock, start, watchBar);
    return run;
}

enum Kind { kLauncher, kNoProduct, kBare, kProductAlone, kStaged, kKinds };

using Runs = std::array<std::vector<Run>, kKinds>;

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

// N rounds, each program once per round, so paired runs share the moment's load.
Runs RunAll(const Options& options, int n) {
    const Clock clock = Clock::Make();
    const Files files = Files::Make();
    const ProductSlot slot;
    Runs runs;
    for (int i = 0; i < n; ++i) {
        slot.Install(options.product);
        runs[kLauncher].push_back(RunOnce(clock, files, options.launcher, L"Tfrm_abertura", true));
        slot.Remove();
        runs[kNoProduct].push_back(RunOnce(clock, files, options.launcher, L"Tfrm_abertura", true));
        runs[kBare].push_back(RunOnce(clock, files, options.bare, L"VelquorBenchBare", false));
        // What Wine alone costs from CreateProcess to a program's first line.
        runs[kProductAlone].push_back(RunOnce(clock, files, options.product, L"-", false));
        runs[kStaged].push_back(RunOnce(clock, files, options.staged, L"Tfrm_abertura", true));
        std::fwprintf(stderr, L"\rdriver: run %d/%d", i + 1, n);
    }
    std::fwprintf(stderr, L"\n");
    files.Clear();
    return runs;
}

// ----- the pictures, in the driver's own process -----

std::vector<std::uint8_t> ReadAll(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct PictureTimes {
    Samples banner, logo, both, bannerDecode, logoDecode;
    double firstBoth = kNaN;  // the first, cold, call
};

// The picture path as the launcher takes it at 96 dpi: decoded and sized to the layout's sizes.
void LoadBoth(const std::vector<std::uint8_t>& banner, const std::vector<std::uint8_t>& logo, const Clock& clock,
              PictureTimes& times) {
    const double a = clock.Now();
    pictures::LoadPicture(banner, 729, 105, 0xFFFFFF);
    const double m = clock.Now();
    pictures::LoadPicture(logo, 202, 170, 0xFFFFFF);
    const double e = clock.Now();
    times.banner.push_back(m - a), times.logo.push_back(e - m), times.both.push_back(e - a);
}

// The decoders alone, rows dropped: what sizing adds is the difference.
void DecodeBoth(const std::vector<std::uint8_t>& banner, const std::vector<std::uint8_t>& logo, const Clock& clock,
                PictureTimes& times) {
    struct NoSink final : pictures::RowSink {
        void Begin(int, int) override {}
        void Row(std::span<const std::uint8_t>) override {}
    } none;
    const double a = clock.Now();
    pictures::Decode(banner, none);
    const double m = clock.Now();
    pictures::Decode(logo, none);
    times.bannerDecode.push_back(m - a), times.logoDecode.push_back(clock.Now() - m);
}

PictureTimes TimePictures(const Options& options, int n) {
    const Clock clock = Clock::Make();
    const auto banner = ReadAll(options.banner), logo = ReadAll(options.logo);
    PictureTimes times;
    for (int i = 0; i < std::max(n, 5); ++i) {
        LoadBoth(banner, logo, clock, times);
        if (i == 0) times.firstBoth = times.both.back();
        DecodeBoth(banner, logo, clock, times);
    }
    return times;
}

// ----- the figures: one row each -----

double FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA d{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &d)) return kNaN;
    return static_cast<double>((static_cast<unsigned long long>(d.nFileSizeHigh) << 32) | d.nFileSizeLow);
}

struct Results {
    Runs runs;
    PictureTimes pictures;
    Samples cpuLauncher, cpuBare;
    double exeRun, exeShipped, exeBare;  // bytes
};

struct Stat {
    double median = kNaN, p10 = kNaN, p90 = kNaN;
    int n = 0;
};

Stat Summarise(Samples v) {
    std::erase_if(v, [](double x) { return std::isnan(x); });
    Stat s;
    s.n = static_cast<int>(v.size());
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    auto at = [&](double q) {  // linear interpolation between closest ranks
        const double pos = q * static_cast<double>(v.size() - 1);
        const size_t lo = static_cast<size_t>(pos), hi = std::min(lo + 1, v.size() - 1);
        return v[lo] + (v[hi] - v[lo]) * (pos - static_cast<double>(lo));
    };
    s.median = at(0.5), s.p10 = at(0.1), s.p90 = at(0.9);
    return s;
}

double Median(const Samples& v) { return Summarise(v).median; }

using RunValue = double (*)(const Run&);

Samples Each(const std::vector<Run>& runs, RunValue value) {
    Samples v;
    for (const Run& r : runs) v.push_back(value(r));
    return v;
}

// Run by run against the bare window's run of the same round.
Samples OverBare(const Results& r, Kind kind, RunValue value) {
    Samples v;
    for (size_t i = 0; i < r.runs[kind].size() && i < r.runs[kBare].size(); ++i)
        v.push_back(value(r.runs[kind][i]) - value(r.runs[kBare][i]));
    return v;
}

// The bar's steps as drawn on screen, or as PBM_GETPOS read them where the screen was not read.
double Step10(const Run& r) { return std::isnan(r.pix10) ? r.pos10 : r.pix10; }
double Step30(const Run& r) { return std::isnan(r.pix30) ? r.pos30 : r.pix30; }

const Stage* StageOf(const Run& r, const char* name, int nth = 0) {
    for (const Stage& s : r.stages)
        if (s.name == name && nth-- == 0) return &s;
    return nullptr;
}

// What one run gives, ms after its start unless said.
double Ready(const Run& r) { return r.ready; }
double Window(const Run& r) { return r.window; }
double Stamp(const Run& r) { return r.stamp; }  // the product's start, or the bare window's return
double Exit(const Run& r) { return r.exit; }
double Committed(const Run& r) { return r.pagefileUp; }  // MiB
double Teardown(const Run& r) { return r.exit - r.stamp; }
double FirstStepAfterWindow(const Run& r) { return Step10(r) - r.window; }
double FirstStepAfterArming(const Run& r) {
    // The timer is the form's last control: armed as the form is finished.
    const Stage* form = StageOf(r, "form");
    return form ? Step10(r) - form->end : kNaN;
}
double FirstHold(const Run& r) { return Step30(r) - Step10(r); }
double SecondHold(const Run& r) { return r.stamp - Step30(r); }

template <Kind kind, RunValue value>
Samples PerRun(const Results& r) {
    return Each(r.runs[kind], value);
}

template <Kind kind, RunValue value>
Samples Paired(const Results& r) {
    return OverBare(r, kind, value);
}

Samples ReadyRatio(const Results& r) {
    Samples v;
    for (size_t i = 0; i < r.runs[kLauncher].size() && i < r.runs[kBare].size(); ++i)
        v.push_back(r.runs[kLauncher][i].ready / r.runs[kBare][i].ready);
    return v;
}

Samples SecondHoldLessStartCost(const Results& r) {
    return {Median(PerRun<kLauncher, SecondHold>(r)) - Median(PerRun<kProductAlone, Stamp>(r))};
}

Samples CpuOverBare(const Results& r) { return {Median(r.cpuLauncher) - Median(r.cpuBare)}; }

Samples BadExits(const Results& r) {
    double bad = 0;
    for (const auto& runs : r.runs)
        for (const Run& x : runs) bad += x.exitCode != 0;
    return {bad};
}

// A goal on a figure's median.
struct Goal {
    const char* text = nullptr;
    bool (*met)(double) = nullptr;
};

struct Metric {
    const char* key;
    const char* label;
    const char* unit;
    Samples (*read)(const Results&);
    Goal goal = {};
};

constexpr Goal kExeSize{"<= 1024", [](double kib) { return kib <= 1024; }};
constexpr Goal kHold{"100 +- 10", [](double ms) { return std::fabs(ms - 100) <= 10; }};
constexpr Goal kTick{"1000 +- 20", [](double ms) { return std::fabs(ms - 1000) <= 20; }};

// Every figure, printed and written in this order.
constexpr Metric kMetrics[] = {
    {"ready_launcher", "ready (start->input idle), launcher", "ms", PerRun<kLauncher, Ready>},
    {"ready_bare", "ready (start->input idle), bare", "ms", PerRun<kBare, Ready>},
    {"ready_over_bare",
     "ready, launcher - bare (paired runs)",
     "ms",
     Paired<kLauncher, Ready>,
     {"<= +12", [](double ms) { return ms <= 12; }}},
    {"ready_ratio",
     "ready, launcher / bare (paired runs)",
     "",
     ReadyRatio,
     {"<= 1.25", [](double ratio) { return ratio <= 1.25; }}},
    {"window_launcher", "window seen, launcher", "ms", PerRun<kLauncher, Window>},
    {"window_bare", "window seen, bare", "ms", PerRun<kBare, Window>},
    {"first_tick_armed", "first step drawn, after the timer was armed", "ms", PerRun<kStaged, FirstStepAfterArming>,
     kTick},
    {"first_tick_window", "first step drawn, after the window was seen", "ms", PerRun<kLauncher, FirstStepAfterWindow>,
     kTick},
    {"hold_10_30", "first step -> second step drawn", "ms", PerRun<kLauncher, FirstHold>, kHold},
    {"hold_30_product", "second step drawn -> product started", "ms", PerRun<kLauncher, SecondHold>, kHold},
    {"process_start_cost", "CreateProcess -> first line, product alone", "ms", PerRun<kProductAlone, Stamp>},
    {"hold_30_product_less_start", "second step -> product, less its start cost", "ms", SecondHoldLessStartCost, kHold},
    {"product_start", "start -> product started", "ms", PerRun<kLauncher, Stamp>},
    {"exit_launcher", "start -> exit, product present", "ms", PerRun<kLauncher, Exit>},
    {"exit_noproduct", "start -> exit, no product", "ms", PerRun<kNoProduct, Exit>},
    {"exit_bare", "start -> exit, bare", "ms", PerRun<kBare, Exit>},
    {"exit_noproduct_over_bare",
     "exit no product, launcher - bare (paired)",
     "ms",
     Paired<kNoProduct, Exit>,
     {"<= +250", [](double ms) { return ms <= 250; }}},
    {"teardown_bare", "wWinMain returned -> exit seen, bare", "ms", PerRun<kBare, Teardown>},
    {"committed_launcher", "committed memory, window up, launcher", "MiB", PerRun<kNoProduct, Committed>},
    {"committed_bare", "committed memory, window up, bare", "MiB", PerRun<kBare, Committed>},
    {"committed_over_bare",
     "committed memory, launcher - bare (paired)",
     "MiB",
     Paired<kNoProduct, Committed>,
     {"<= 2", [](double mib) { return mib <= 2; }}},
    {"cpu_launcher", "CPU user+sys, launcher, no product (rusage)", "ms",
     [](const Results& r) { return r.cpuLauncher; }},
    {"cpu_bare", "CPU user+sys, bare (rusage)", "ms", [](const Results& r) { return r.cpuBare; }},
    {"cpu_over_bare",
     "CPU, launcher - bare (medians)",
     "ms",
     CpuOverBare,
     {"<= 40", [](double ms) { return ms <= 40; }}},
    {"pictures_banner_decode", "banner decode alone", "ms", [](const Results& r) { return r.pictures.bannerDecode; }},
    {"pictures_banner", "banner 960x209 -> 729x105, decode + scale", "ms",
     [](const Results& r) { return r.pictures.banner; }},
    {"pictures_logo_decode", "logo decode alone", "ms", [](const Results& r) { return r.pictures.logoDecode; }},
    {"pictures_logo", "logo 989x989 -> 202x170, decode + scale", "ms",
     [](const Results& r) { return r.pictures.logo; }},
    {"pictures_both",
     "both pictures, decode + scale",
     "ms",
     [](const Results& r) { return r.pictures.both; },
     {"<= 7", [](double ms) { return ms <= 7; }}},
    {"pictures_first_call", "both pictures, first (cold) call", "ms",
     [](const Results& r) { return Samples{r.pictures.firstBoth}; }},
    {"exe_run_kib", "VELQUOR.exe, the build run", "KiB", [](const Results& r) { return Samples{r.exeRun / 1024}; },
     kExeSize},
    {"exe_shipped_kib", "VELQUOR.exe, shipped i686", "KiB",
     [](const Results& r) { return Samples{r.exeShipped / 1024}; }, kExeSize},
    {"exe_bare_kib", "bare.exe", "KiB", [](const Results& r) { return Samples{r.exeBare / 1024}; }},
    {"nonzero_exits", "runs with a nonzero exit code", "runs", BadExits},
};

// ----- the stages: the staged build's marks and the bare window's, side by side -----

double Length(const Run& r, const char* name, int nth) {
    const Stage* s = StageOf(r, name, nth);
    return s ? s->end - s->begin : kNaN;
}

// What the stages named `name` took while the form was built.
double WithinForm(const Run& r, const char* name) {
    const Stage* form = StageOf(r, "form");
    if (!form) return kNaN;
    double sum = 0;
    for (const Stage& s : r.stages)
        if (s.name == name && s.begin >= form->begin && s.end <= form->end) sum += s.end - s.begin;
    return sum;
}

struct StageRow {
    const char* key;
    const char* label;
    RunValue value;  // ms, of a run of the staged launcher or of the bare window
};

constexpr StageRow kStages[] = {
    {"stage_entry", "process start -> wWinMain",
     [](const Run& r) {
         const Stage* s = StageOf(r, "start-up");
         return s ? s->begin : kNaN;
     }},
    {"stage_startup", "toolkit start-up (comctl32)", [](const Run& r) { return Length(r, "start-up", 0); }},
    {"stage_picture_banner", "picture: banner, decode + scale", [](const Run& r) { return Length(r, "picture", 0); }},
    {"stage_picture_logo", "picture: logo, decode + scale", [](const Run& r) { return Length(r, "picture", 1); }},
    {"stage_fonts", "fonts (all labels and the form)", [](const Run& r) { return WithinForm(r, "font"); }},
    {"stage_window_controls", "window and controls (form less the above)",
     [](const Run& r) { return Length(r, "form", 0) - WithinForm(r, "font") - WithinForm(r, "picture"); }},
    {"stage_show", "form built -> first paint (centre, show)",
     [](const Run& r) {
         const Stage *form = StageOf(r, "form"), *paint = StageOf(r, "paint");
         return form && paint ? paint->begin - form->end : kNaN;
     }},
    {"stage_first_paint", "first paint", [](const Run& r) { return Length(r, "paint", 0); }},
    {"stage_paint_to_ready", "first paint -> ready for input",
     [](const Run& r) {
         const Stage* s = StageOf(r, "paint");
         return s ? r.ready - s->end : kNaN;
     }},
    {"stage_ready", "= ready for input", [](const Run& r) { return r.ready; }},
};

struct StageStats {
    Stat launcher, bare, difference;  // difference: paired runs, launcher - bare
};

StageStats Summarise(const Results& r, const StageRow& row) {
    const Samples launcher = Each(r.runs[kStaged], row.value), bare = Each(r.runs[kBare], row.value);
    Samples difference;
    for (size_t i = 0; i < launcher.size() && i < bare.size(); ++i) difference.push_back(launcher[i] - bare[i]);
    return {Summarise(launcher), Summarise(bare), Summarise(difference)};
}

const char* Verdict(const Goal& goal, double value) {
    return std::isnan(value) ? "n/a" : goal.met(value) ? "yes" : "NO";
}

// ----- the report: printed, and written as JSON -----

// A figure of the stage table, blank where that program has no such stage.
std::string Cell(double value, const char* format = "%.1f") {
    if (std::isnan(value)) return "";
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

void PrintReport(const Results& r, const Options& options, int n) {
    const std::string arch = Utf8(options.arch);
    std::printf("VELQUOR benchmark: N=%d, Wine, %s build run (medians; spread p10-p90)\n", n, arch.c_str());
    std::printf("build:   %s\n", arch == "i686" ? "i686, the shipped 32-bit build (build/i686)"
                                                : "x86_64 stand-in (build/x86_64): this machine cannot run the "
                                                  "shipped 32-bit build, so no figure here is the shipped build's");
    std::printf("machine: %s\n\n", Utf8(options.machine).c_str());
    std::printf("%-46s %10s %21s %4s\n", "figure", "median", "p10 - p90", "n");
    for (const Metric& m : kMetrics) {
        const Stat s = Summarise(m.read(r));
        std::printf("%-46s %8.1f %-4s %8.1f - %-9.1f %4d\n", m.label, s.median, m.unit, s.p10, s.p90, s.n);
    }
    std::printf("\nStart-up stages, %s builds with stage marks (bench/stage_log.cpp), no product, medians in ms:\n",
                arch.c_str());
    std::printf("%-46s %9s %9s %12s %21s\n", "stage", "launcher", "bare", "difference", "(paired; p10 - p90)");
    for (const StageRow& row : kStages) {
        const StageStats s = Summarise(r, row);
        std::printf("%-46s %9s %9s %12s %9s - %-9s\n", row.label, Cell(s.launcher.median).c_str(),
                    Cell(s.bare.median).c_str(), Cell(s.difference.median, "%+.1f").c_str(),
                    Cell(s.difference.p10).c_str(), Cell(s.difference.p90).c_str());
    }
    std::printf("\nGoals for the %s build run here:\n%-46s %10s %12s  %s\n", arch.c_str(), "figure", "value", "goal",
                "met");
    for (const Metric& m : kMetrics) {
        if (!m.goal.text) continue;
        const double value = Median(m.read(r));
        std::printf("%-46s %10.2f %12s  %s\n", m.label, value, m.goal.text, Verdict(m.goal, value));
    }
}

// Writes JSON values with their separators and escapes; the report's shape is the tables'.
class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out) : out_(out) {}
    JsonWriter& Open(const char* key = nullptr) {
        Key(key);
        out_ << '{';
        first_ = true;
        return *this;
    }
    JsonWriter& Close() {
        out_ << '}';
        first_ = false;
        return *this;
    }
    JsonWriter& Field(const char* key, const std::string& text) {
        Key(key);
        String(text);
        return *this;
    }
    JsonWriter& Field(const char* key, double number) {
        Key(key);
        if (std::isnan(number)) {
            out_ << "null";
        } else {
            char text[32];
            std::snprintf(text, sizeof text, "%.3f", number);
            out_ << text;
        }
        return *this;
    }
    JsonWriter& Field(const char* key, int count) {
        Key(key);
        out_ << count;
        return *this;
    }
    JsonWriter& Flag(const char* key, const char* verdict) {
        Key(key);
        out_ << (verdict[0] == 'y' ? "true" : verdict[0] == 'N' ? "false" : "null");
        return *this;
    }
    JsonWriter& Stats(const char* key, const Stat& s) {
        return Open(key).Field("median", s.median).Field("p10", s.p10).Field("p90", s.p90).Field("n", s.n).Close();
    }

private:
    void Key(const char* key) {
        if (!first_) out_ << ", ";
        first_ = false;
        if (!key) return;
        String(key);
        out_ << ": ";
    }
    void String(const std::string& text) {
        out_ << '"';
        for (const char c : text) {
            if (c == '"' || c == '\\') {
                out_ << '\\' << c;
            } else if (static_cast<unsigned char>(c) < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                out_ << escape;
            } else {
                out_ << c;
            }
        }
        out_ << '"';
    }

    std::ostream& out_;
    bool first_ = true;
};

void WriteJson(const Results& r, const Options& options, int n) {
    std::ofstream out{std::filesystem::path(options.json)};
    JsonWriter json(out);
    json.Open().Field("n", n).Field("arch", Utf8(options.arch)).Field("machine", Utf8(options.machine));
    json.Open("metrics");
    for (const Metric& m : kMetrics) {
        const Stat s = Summarise(m.read(r));
        json.Open(m.key).Field("label", m.label).Field("unit", m.unit).Field("median", s.median);
        json.Field("p10", s.p10).Field("p90", s.p90).Field("n", s.n).Close();
    }
    json.Close().Open("stages");
    for (const StageRow& row : kStages) {
        const StageStats s = Summarise(r, row);
        json.Open(row.key).Field("label", row.label).Stats("launcher", s.launcher).Stats("bare", s.bare);
        json.Stats("difference", s.difference).Close();
    }
    json.Close().Open("goals");
    for (const Metric& m : kMetrics) {
        if (!m.goal.text) continue;
        const double value = Median(m.read(r));
        json.Open(m.key).Field("value", value).Field("goal", m.goal.text).Flag("met", Verdict(m.goal, value)).Close();
    }
    json.Close().Close();
    out << '\n';
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    if (!Parse(argc, argv, options) || _wtoi(options.n.c_str()) < 1) {
        Usage();
        return 2;
    }
    const int n = _wtoi(options.n.c_str());
    Results results{RunAll(options, n),       TimePictures(options, n),   Numbers(options.cpuLauncher),
                    Numbers(options.cpuBare), FileSize(options.launcher), FileSize(options.shipped),
                    FileSize(options.bare)};
    PrintReport(results, options, n);
    WriteJson(results, options, n);
    return 0;
}
