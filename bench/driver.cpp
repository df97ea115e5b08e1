// Benchmark driver, run under Wine: starts the launcher and a bare window
// itself (interleaved), watches them from outside with QueryPerformanceCounter,
// times the launcher's picture code in-process, and prints one table plus JSON.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "pictures/decode.h"
#include "pictures/image.h"

namespace {

double g_freq = 0;
double Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / g_freq;  // ms
}
double Ticks(long long t) { return static_cast<double>(t) * 1000.0 / g_freq; }

constexpr double kNaN = NAN;

struct Run {
    double ready = kNaN;    // process start -> WaitForInputIdle
    double window = kNaN;   // process start -> first seen by FindWindow
    double visible = kNaN;  // process start -> first seen visible
    double pos10 = kNaN;    // process start -> PBM_GETPOS first reads >= 10
    double pos30 = kNaN;    // ... first reads >= 30
    double pix10 = kNaN;    // process start -> bar fill seen on screen at 10 %
    double pix30 = kNaN;    // ... at 30 %
    double product = kNaN;  // process start -> stand-in product started
    double exit = kNaN;     // process start -> process handle signalled
    double cpu = kNaN;      // user+kernel ms
    double peakWs = kNaN, pagefileUp = kNaN, pagefileEnd = kNaN, peakPagefile = kNaN;  // MiB
    DWORD exitCode = 0;
    // Start-up stages from the staged build's log: name, begin and end, ms after process start.
    struct Stage {
        std::string name;
        double begin, end;
    };
    std::vector<Stage> stages;
};

double MiB(SIZE_T bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

struct Finder {
    DWORD pid;
    const wchar_t* cls;
    HWND found;
};
BOOL CALLBACK FindTop(HWND window, LPARAM param) {
    auto* f = reinterpret_cast<Finder*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t name[64];
    if (pid == f->pid && GetClassNameW(window, name, 64) && lstrcmpW(name, f->cls) == 0) {
        f->found = window;
        return FALSE;
    }
    return TRUE;
}

std::wstring g_stamp, g_stageLog;

std::vector<Run::Stage> ReadStages(double start) {
    std::vector<Run::Stage> stages;
    std::ifstream in{std::filesystem::path(g_stageLog)};
    std::string name;
    long long begin = 0, end = 0;
    while (in >> name >> begin >> end) {
        stages.push_back({name, Ticks(begin) - start, end ? Ticks(end) - start : kNaN});
    }
    return stages;
}

Run RunOnce(const std::wstring& exe, const wchar_t* windowClass, bool watchBar) {
    Run r;
    DeleteFileW(g_stamp.c_str());
    DeleteFileW(g_stageLog.c_str());
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring cmd = L"\"" + exe + L"\"";
    const double start = Now();
    if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        fwprintf(stderr, L"driver: cannot start %ls (%lu)\n", exe.c_str(), GetLastError());
        return r;
    }
    HDC screen = GetDC(nullptr);
    HWND window = nullptr, bar = nullptr;
    POINT at10{}, at30{};
    COLORREF empty10 = CLR_INVALID, empty30 = CLR_INVALID;
    double upSampleAt = kNaN;
    for (;;) {
        const double t = Now() - start;
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) {
            r.exit = t;
            break;
        }
        if (t > 15000) {
            TerminateProcess(pi.hProcess, 99);
            break;
        }
        // Polled rather than waited on, so the window is seen from its creation on.
        if (std::isnan(r.ready) && WaitForInputIdle(pi.hProcess, 0) == 0) r.ready = Now() - start;
        if (!window) {
            Finder f{pi.dwProcessId, windowClass, nullptr};
            EnumWindows(FindTop, reinterpret_cast<LPARAM>(&f));
            if (f.found) {
                window = f.found;
                r.window = t;
                upSampleAt = t + 500;
            }
        }
        if (window && std::isnan(r.visible) && IsWindowVisible(window)) r.visible = t;
        if (window && !bar) {
            bar = FindWindowExW(window, nullptr, PROGRESS_CLASSW, nullptr);
        }
        // The form may still move into place after its bar exists.
        if (bar && t - r.window < 700) {
            {
                RECT rc;
                GetWindowRect(bar, &rc);
                const int inner = rc.right - rc.left - 4;  // sunken edge
                at10 = {rc.left + 2 + inner * 5 / 100, (rc.top + rc.bottom) / 2};
                at30 = {rc.left + 2 + inner * 20 / 100, (rc.top + rc.bottom) / 2};
            }
        }
        if (watchBar && bar) {
            DWORD_PTR pos = 0;
            if (SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5, &pos)) {
                const double seen = Now() - start;
                if (pos >= 10 && std::isnan(r.pos10)) r.pos10 = seen;
                if (pos >= 30 && std::isnan(r.pos30)) r.pos30 = seen;
            }
            const COLORREF c10 = GetPixel(screen, at10.x, at10.y), c30 = GetPixel(screen, at30.x, at30.y);
            // The empty bar's colour, once it is surely painted and surely not yet stepped.
            if (t - r.window < 700) {
                empty10 = c10, empty30 = c30;
            } else {
                if (c10 != empty10 && std::isnan(r.pix10)) r.pix10 = t;
                if (c30 != empty30 && std::isnan(r.pix30)) r.pix30 = t;
            }
        }
        PROCESS_MEMORY_COUNTERS pmc{};
        pmc.cb = sizeof pmc;
        // A process on its way out reads as all zeros under Wine; keep the last real sample.
        if (GetProcessMemoryInfo(pi.hProcess, &pmc, sizeof pmc) && pmc.PagefileUsage) {
            r.peakWs = MiB(pmc.PeakWorkingSetSize);
            r.peakPagefile = MiB(pmc.PeakPagefileUsage);
            r.pagefileEnd = MiB(pmc.PagefileUsage);
            if (std::isnan(r.pagefileUp) && !std::isnan(upSampleAt) && t >= upSampleAt)
                r.pagefileUp = MiB(pmc.PagefileUsage);
        }
        Sleep(1);
    }
    ReleaseDC(nullptr, screen);
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &r.exitCode);
    FILETIME created, exited, kernel, user;
    if (GetProcessTimes(pi.hProcess, &created, &exited, &kernel, &user)) {
        auto ms = [](FILETIME f) {
            return static_cast<double>((static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime) /
                   1e4;
        };
        r.cpu = ms(kernel) + ms(user);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    r.stages = ReadStages(start);
    // The product may still be writing its stamp.
    for (int i = 0; i < 200; ++i) {
        std::ifstream in(std::filesystem::path(g_stamp), std::ios::binary);
        long long stamp = 0;
        if (in.read(reinterpret_cast<char*>(&stamp), sizeof stamp)) {
            r.product = Ticks(stamp) - start;
            break;
        }
        if (!watchBar) break;
        Sleep(10);
    }
    return r;
}

struct Stat {
    double median = kNaN, p10 = kNaN, p90 = kNaN;
    int n = 0;
};
Stat Summarise(std::vector<double> v) {
    v.erase(std::remove_if(v.begin(), v.end(), [](double x) { return std::isnan(x); }), v.end());
    Stat s;
    s.n = static_cast<int>(v.size());
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    auto at = [&](double q) {  // linear interpolation between closest ranks
        const double pos = q * static_cast<double>(v.size() - 1);
        const size_t lo = static_cast<size_t>(pos);
        const size_t hi = std::min(lo + 1, v.size() - 1);
        return v[lo] + (v[hi] - v[lo]) * (pos - static_cast<double>(lo));
    };
    s.median = at(0.5), s.p10 = at(0.1), s.p90 = at(0.9);
    return s;
}

std::vector<unsigned char> ReadAll(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

double FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA d{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &d)) return kNaN;
    return static_cast<double>((static_cast<unsigned long long>(d.nFileSizeHigh) << 32) | d.nFileSizeLow);
}

std::string Num(double x) {
    if (std::isnan(x)) return "null";
    char b[32];
    snprintf(b, sizeof b, "%.3f", x);
    return b;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 12) {
        fwprintf(stderr,
                 L"usage: driver launcher.exe bare.exe product.exe banner.jpg logo.png shipped.exe N out.json arch"
                 L" staged.exe machine\n");
        return 2;
    }
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    g_freq = static_cast<double>(f.QuadPart);
    const std::wstring launcher = argv[1], bare = argv[2], product = argv[3], banner = argv[4], logo = argv[5],
                       shipped = argv[6];
    const int n = _wtoi(argv[7]);
    const std::wstring json = argv[8];
    char arch[32];
    WideCharToMultiByte(CP_UTF8, 0, argv[9], -1, arch, sizeof arch, nullptr, nullptr);
    const std::wstring staged = argv[10];
    char machine[512];
    WideCharToMultiByte(CP_UTF8, 0, argv[11], -1, machine, sizeof machine, nullptr, nullptr);

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    g_stamp = std::wstring(temp) + L"velquor-bench-stamp.bin";
    SetEnvironmentVariableW(L"VELQUOR_BENCH_STAMP", g_stamp.c_str());
    g_stageLog = std::wstring(temp) + L"velquor-bench-stages.txt";
    SetEnvironmentVariableW(L"VELQUOR_STAGE_LOG", g_stageLog.c_str());

    // The launcher's product path; keep whatever the tests left there.
    const std::wstring productDir = L"C:\\VELQUOR", productPath = productDir + L"\\NORVASK.exe",
                       saved = productPath + L".bench-saved";
    CreateDirectoryW(productDir.c_str(), nullptr);
    const bool hadProduct = MoveFileExW(productPath.c_str(), saved.c_str(), MOVEFILE_REPLACE_EXISTING);

    std::map<std::string, std::vector<Run>> runs;
    for (int i = 0; i < n; ++i) {
        CopyFileW(product.c_str(), productPath.c_str(), FALSE);
        runs["launcher"].push_back(RunOnce(launcher, L"Tfrm_abertura", true));
        DeleteFileW(productPath.c_str());
        runs["launcher_noproduct"].push_back(RunOnce(launcher, L"Tfrm_abertura", true));
        runs["bare"].push_back(RunOnce(bare, L"VelquorBenchBare", false));
        // What Wine alone costs from CreateProcess to a program's first line.
        runs["product_direct"].push_back(RunOnce(product, L"-", false));
        runs["staged"].push_back(RunOnce(staged, L"Tfrm_abertura", true));
        fwprintf(stderr, L"\rdriver: run %d/%d", i + 1, n);
    }
    fwprintf(stderr, L"\n");
    DeleteFileW(productPath.c_str());
    if (hadProduct) MoveFileExW(saved.c_str(), productPath.c_str(), MOVEFILE_REPLACE_EXISTING);
    DeleteFileW(g_stamp.c_str());
    DeleteFileW(g_stageLog.c_str());

    // The picture code, exactly as the launcher calls it.
    const auto bannerBytes = ReadAll(banner), logoBytes = ReadAll(logo);
    std::vector<double> tBanner, tLogo, tBoth, tBannerDecode, tLogoDecode, tBannerScale, tLogoScale;
    double firstBoth = kNaN;
    struct NoSink final : pictures::RowSink {
        void Begin(int, int) override {}
        void Row(std::span<const std::uint8_t>) override {}
    };
    for (int i = 0; i < std::max(n, 5); ++i) {
        const double a = Now();
        auto b = pictures::LoadPicture(bannerBytes, 729, 105, 0xFFFFFF);
        const double m = Now();
        auto l = pictures::LoadPicture(logoBytes, 202, 170, 0xFFFFFF);
        const double e = Now();
        if (i == 0) firstBoth = e - a;
        tBanner.push_back(m - a), tLogo.push_back(e - m), tBoth.push_back(e - a);
        // The decoders alone, rows dropped: what the scaler adds is the difference.
        NoSink none;
        const double d0 = Now();
        pictures::Decode(bannerBytes, none);
        const double d1 = Now();
        pictures::Decode(logoBytes, none);
        const double d2 = Now();
        tBannerDecode.push_back(d1 - d0), tLogoDecode.push_back(d2 - d1);
        tBannerScale.push_back(tBanner.back() - tBannerDecode.back());
        tLogoScale.push_back(tLogo.back() - tLogoDecode.back());
    }

    struct Metric {
        std::string key, label, unit;
        Stat stat;
    };
    std::vector<Metric> metrics;
    auto add = [&](std::string key, std::string label, std::string unit, std::vector<double> v) {
        metrics.push_back({std::move(key), std::move(label), std::move(unit), Summarise(std::move(v))});
    };
    auto col = [&](const char* which, auto field) {
        std::vector<double> v;
        for (const Run& r : runs[which]) v.push_back(field(r));
        return v;
    };
    auto diff = [&](const char* which, auto a, auto b) {
        std::vector<double> v;
        for (const Run& r : runs[which]) v.push_back(a(r) - b(r));
        return v;
    };
    add("ready_launcher", "ready (start->input idle), launcher", "ms",
        col("launcher", [](const Run& r) { return r.ready; }));
    add("ready_bare", "ready (start->input idle), bare", "ms", col("bare", [](const Run& r) { return r.ready; }));
    add("window_launcher", "window seen, launcher", "ms", col("launcher", [](const Run& r) { return r.window; }));
    add("window_bare", "window seen, bare", "ms", col("bare", [](const Run& r) { return r.window; }));
    add("visible_launcher", "window seen visible, launcher", "ms",
        col("launcher", [](const Run& r) { return r.visible; }));
    add("visible_bare", "window seen visible, bare", "ms", col("bare", [](const Run& r) { return r.visible; }));
    add("first_tick_getpos", "first tick: window->PBM_GETPOS 10", "ms",
        diff(
            "launcher", [](const Run& r) { return r.pos10; }, [](const Run& r) { return r.window; }));
    add("first_tick_screen", "first tick: window->10 % on screen", "ms",
        diff(
            "launcher", [](const Run& r) { return r.pix10; }, [](const Run& r) { return r.window; }));
    add("hold_10_30_getpos", "hold 10->30 (PBM_GETPOS)", "ms",
        diff(
            "launcher", [](const Run& r) { return r.pos30; }, [](const Run& r) { return r.pos10; }));
    add("hold_10_30_screen", "hold 10->30 (screen)", "ms",
        diff(
            "launcher", [](const Run& r) { return r.pix30; }, [](const Run& r) { return r.pix10; }));
    add("hold_30_product_screen", "hold 30->product start (screen)", "ms",
        diff(
            "launcher", [](const Run& r) { return r.product; }, [](const Run& r) { return r.pix30; }));
    add("hold_30_product_getpos", "hold 30->product start (PBM_GETPOS)", "ms",
        diff(
            "launcher", [](const Run& r) { return r.product; }, [](const Run& r) { return r.pos30; }));
    add("product_start", "start->product start", "ms", col("launcher", [](const Run& r) { return r.product; }));
    add("process_start_cost", "CreateProcess->first line, product alone", "ms",
        col("product_direct", [](const Run& r) { return r.product; }));
    add("exit_launcher", "start->exit, product present", "ms", col("launcher", [](const Run& r) { return r.exit; }));
    add("exit_noproduct", "start->exit, no product", "ms",
        col("launcher_noproduct", [](const Run& r) { return r.exit; }));
    add("exit_bare", "start->exit, bare", "ms", col("bare", [](const Run& r) { return r.exit; }));
    add("main_done_bare", "start->wWinMain returned, bare", "ms", col("bare", [](const Run& r) { return r.product; }));
    add("teardown_bare", "wWinMain returned->exit seen, bare", "ms",
        diff(
            "bare", [](const Run& r) { return r.exit; }, [](const Run& r) { return r.product; }));
    add("cpu_launcher", "GetProcessTimes CPU, launcher (bogus)", "ms",
        col("launcher_noproduct", [](const Run& r) { return r.cpu; }));
    add("cpu_bare", "GetProcessTimes CPU, bare (bogus)", "ms", col("bare", [](const Run& r) { return r.cpu; }));
    add("peak_ws_launcher", "peak working set, launcher", "MiB",
        col("launcher_noproduct", [](const Run& r) { return r.peakWs; }));
    add("peak_ws_bare", "peak working set, bare", "MiB", col("bare", [](const Run& r) { return r.peakWs; }));
    add("pagefile_up_launcher", "PagefileUsage window up, launcher", "MiB",
        col("launcher_noproduct", [](const Run& r) { return r.pagefileUp; }));
    add("pagefile_up_bare", "PagefileUsage window up, bare", "MiB",
        col("bare", [](const Run& r) { return r.pagefileUp; }));
    add("pagefile_end_launcher", "PagefileUsage last sample, launcher", "MiB",
        col("launcher_noproduct", [](const Run& r) { return r.pagefileEnd; }));
    add("pagefile_end_bare", "PagefileUsage last sample, bare", "MiB",
        col("bare", [](const Run& r) { return r.pagefileEnd; }));
    add("peak_pagefile_launcher", "peak PagefileUsage, launcher", "MiB",
        col("launcher_noproduct", [](const Run& r) { return r.peakPagefile; }));
    add("peak_pagefile_bare", "peak PagefileUsage, bare", "MiB",
        col("bare", [](const Run& r) { return r.peakPagefile; }));
    add("pictures_banner", "LoadPicture banner 960x209->729x105", "ms", tBanner);
    add("pictures_logo", "LoadPicture logo 989x989->202x170", "ms", tLogo);
    add("pictures_both", "LoadPicture both", "ms", tBoth);
    add("pictures_banner_decode", "banner decode alone", "ms", tBannerDecode);
    add("pictures_banner_scale", "banner scale (LoadPicture - decode)", "ms", tBannerScale);
    add("pictures_logo_decode", "logo decode alone", "ms", tLogoDecode);
    add("pictures_logo_scale", "logo scale (LoadPicture - decode)", "ms", tLogoScale);

    // Over the bare window, run by run (the runs are interleaved, so each pair shares the moment's load).
    auto overBare = [&](const char* which, auto field) {
        std::vector<double> v;
        for (size_t i = 0; i < runs[which].size() && i < runs["bare"].size(); ++i)
            v.push_back(field(runs[which][i]) - field(runs["bare"][i]));
        return v;
    };
    add("ready_over_bare", "ready, launcher - bare (paired runs)", "ms",
        overBare("launcher", [](const Run& r) { return r.ready; }));
    add("exit_noproduct_over_bare", "exit no product, launcher - bare (paired)", "ms",
        overBare("launcher_noproduct", [](const Run& r) { return r.exit; }));

    // Start-up stage by stage, from the marks of the staged build and of the bare window (ms; a
    // stage's own time, or the gap between two marks).
    auto stageOf = [](const Run& r, const char* name, int nth) -> const Run::Stage* {
        for (const Run::Stage& st : r.stages)
            if (st.name == name && nth-- == 0) return &st;
        return nullptr;
    };
    auto length = [=](const char* name, int nth) {
        return [=](const Run& r) {
            const Run::Stage* st = stageOf(r, name, nth);
            return st ? st->end - st->begin : kNaN;
        };
    };
    auto sumOf = [=](const char* name) {  // made while the form is built
        return [=](const Run& r) {
            const Run::Stage* form = stageOf(r, "form", 0);
            if (!form) return kNaN;
            double sum = 0;
            for (const Run::Stage& st : r.stages)
                if (st.name == name && st.begin >= form->begin && st.end <= form->end) sum += st.end - st.begin;
            return sum;
        };
    };
    auto gap = [=](const char* from, const char* to) {
        return [=](const Run& r) {
            const Run::Stage *a = stageOf(r, from, 0), *b = stageOf(r, to, 0);
            return a && b ? b->begin - a->end : kNaN;
        };
    };
    struct StageRow {
        std::string key, label;
        Stat launcher, bare, difference;  // difference: paired runs, launcher - bare
    };
    std::vector<StageRow> stages;
    auto stage = [&](std::string key, std::string label, auto value) {
        std::vector<double> l, b, d;
        for (const Run& r : runs["staged"]) l.push_back(value(r));
        for (const Run& r : runs["bare"]) b.push_back(value(r));
        for (size_t i = 0; i < l.size() && i < b.size(); ++i) d.push_back(l[i] - b[i]);
        stages.push_back({std::move(key), std::move(label), Summarise(l), Summarise(b), Summarise(d)});
    };
    const auto fonts = sumOf("font"), pictures = sumOf("picture");
    stage("stage_entry", "process start -> wWinMain", [&](const Run& r) {
        const Run::Stage* st = stageOf(r, "start-up", 0);
        return st ? st->begin : kNaN;
    });
    stage("stage_startup", "toolkit start-up (comctl32)", length("start-up", 0));
    stage("stage_picture_banner", "picture: banner, decode + scale", length("picture", 0));
    stage("stage_picture_logo", "picture: logo, decode + scale", length("picture", 1));
    stage("stage_fonts", "fonts (all labels and the form)", fonts);
    stage("stage_window_controls", "window and controls (form less the above)", [&](const Run& r) {
        const Run::Stage* form = stageOf(r, "form", 0);
        return form ? form->end - form->begin - fonts(r) - pictures(r) : kNaN;
    });
    stage("stage_show", "form built -> first paint (centre, show)", gap("form", "paint"));
    stage("stage_first_paint", "first paint", length("paint", 0));
    stage("stage_paint_to_ready", "first paint -> ready for input", [&](const Run& r) {
        const Run::Stage* st = stageOf(r, "paint", 0);
        return st ? r.ready - st->end : kNaN;
    });
    stage("stage_ready", "= ready for input", [](const Run& r) { return r.ready; });
    // The timer is the form's last control: armed as the form is finished.
    std::vector<double> afterArming;
    for (const Run& r : runs["staged"]) {
        const Run::Stage* form = stageOf(r, "form", 0);
        afterArming.push_back(form ? r.pix10 - form->end : kNaN);
    }
    add("first_tick_armed_screen", "first tick: timer armed->10 % on screen", "ms", afterArming);

    std::map<std::string, double> med;
    for (const Metric& m : metrics) med[m.key] = m.stat.median;
    const double readyRatio = med["ready_launcher"] / med["ready_bare"];
    const double memDelta = med["pagefile_up_launcher"] - med["pagefile_up_bare"];
    const double sizeRun = FileSize(launcher), sizeShipped = FileSize(shipped);
    const double sizeBare = FileSize(bare);
    int badExit = 0;
    for (auto& [k, v] : runs)
        for (const Run& r : v) badExit += (r.exitCode != 0);

    const bool shipped32 = std::string(arch) == "i686";
    printf("VELQUOR benchmark: N=%d, Wine, %s build run (medians; spread p10-p90)\n", n, arch);
    printf("build:   %s\n", shipped32 ? "i686, the shipped 32-bit build (build/i686)"
                                      : "x86_64 stand-in (build/x86_64): this machine cannot run the shipped "
                                        "32-bit build, so no figure here is the shipped build's");
    printf("machine: %s\n\n", machine);
    printf("%-42s %10s %21s %4s\n", "metric", "median", "p10 - p90", "n");
    for (const Metric& m : metrics)
        printf("%-42s %7.1f %-3s %9.1f - %-9.1f %4d\n", m.label.c_str(), m.stat.median, m.unit.c_str(), m.stat.p10,
               m.stat.p90, m.stat.n);
    printf("%-42s %7.1f ms\n", "LoadPicture both, first (cold) call", firstBoth);
    printf("%-42s %7.0f KiB\n", "VELQUOR.exe size, run build", sizeRun / 1024);
    printf("%-42s %7.0f KiB\n", "VELQUOR.exe size, shipped i686", sizeShipped / 1024);
    printf("%-42s %7.0f KiB\n", "bare.exe size", sizeBare / 1024);
    printf("%-42s %7d\n", "runs with a nonzero exit code", badExit);

    printf("\nStart-up stages, %s builds with stage marks (bench/stage_log.cpp), no product, medians in ms:\n", arch);
    printf("%-42s %9s %9s %12s %21s\n", "stage", "launcher", "bare", "difference", "(paired; p10 - p90)");
    for (const StageRow& row : stages)
        printf("%-42s %9.1f %9.1f %+12.1f %9.1f - %-9.1f\n", row.label.c_str(), row.launcher.median, row.bare.median,
               row.difference.median, row.difference.p10, row.difference.p90);
    printf("pictures apart, in the driver's own process (%s):\n", arch);
    for (const char* key : {"pictures_banner_decode", "pictures_banner_scale", "pictures_logo_decode",
                            "pictures_logo_scale", "pictures_both"}) {
        for (const Metric& m : metrics)
            if (m.key == key) printf("  %-40s %7.1f ms\n", m.label.c_str(), m.stat.median);
    }

    struct Target {
        const char* name;
        double value;
        bool met;
        const char* goal;
    };
    const double tick = std::isnan(med["first_tick_screen"]) ? med["first_tick_getpos"] : med["first_tick_screen"];
    const double hold1 = std::isnan(med["hold_10_30_screen"]) ? med["hold_10_30_getpos"] : med["hold_10_30_screen"];
    const double hold2 =
        std::isnan(med["hold_30_product_screen"]) ? med["hold_30_product_getpos"] : med["hold_30_product_screen"];
    const double tickArmed = med["first_tick_armed_screen"];
    const double readyOver = med["ready_over_bare"], exitOver = med["exit_noproduct_over_bare"];
    const Target targets[] = {
        {"ready over bare (ms)", readyOver, readyOver <= 30, "<= +30"},
        {"  ready ratio launcher/bare", readyRatio, readyRatio <= 1.25, "<= 1.25"},
        {"pictures both (ms)", med["pictures_both"], med["pictures_both"] <= 16, "<= 16"},
        {"exit no product over bare (ms)", exitOver, exitOver <= 250, "<= +250"},
        {"first tick after arming (ms)", tickArmed, std::fabs(tickArmed - 1000) <= 20, "1000 +- 20"},
        {"  first tick after window seen", tick, std::fabs(tick - 1000) <= 20, "1000 +- 20"},
        {"hold 10->30 (ms)", hold1, std::fabs(hold1 - 100) <= 10, "100 +- 10"},
        {"hold 30->product (ms)", hold2, std::fabs(hold2 - 100) <= 10, "100 +- 10"},
        {"hold 30->product less start cost", hold2 - med["process_start_cost"],
         std::fabs(hold2 - med["process_start_cost"] - 100) <= 10, "100 +- 10"},
        {"committed launcher-bare (MiB)", memDelta, memDelta <= 2, "<= 2"},
        {"exe run build (KiB)", sizeRun / 1024, sizeRun <= 1048576, "<= 1024"},
        {"exe shipped i686 (KiB)", sizeShipped / 1024, sizeShipped <= 1048576, "<= 1024"},
    };
    printf("\nGoals for the %s build run here:\n%-32s %10s %12s  %s\n", arch, "target", "value", "goal", "met");
    for (const Target& t : targets)
        printf("%-32s %10.2f %12s  %s\n", t.name, t.value, t.goal, std::isnan(t.value) ? "n/a" : t.met ? "yes" : "NO");

    std::ofstream out{std::filesystem::path(json)};
    out << "{\n  \"n\": " << n << ",\n  \"arch\": \"" << arch << "\",\n  \"machine\": \"" << machine
        << "\",\n  \"metrics\": {\n";
    for (const StageRow& row : stages) {
        metrics.push_back({row.key + "_launcher", row.label, "ms", row.launcher});
        metrics.push_back({row.key + "_bare", row.label, "ms", row.bare});
    }
    for (size_t i = 0; i < metrics.size(); ++i) {
        const Metric& m = metrics[i];
        out << "    \"" << m.key << "\": {\"unit\": \"" << m.unit << "\", \"median\": " << Num(m.stat.median)
            << ", \"p10\": " << Num(m.stat.p10) << ", \"p90\": " << Num(m.stat.p90) << ", \"n\": " << m.stat.n << "}"
            << (i + 1 < metrics.size() ? ",\n" : "\n");
    }
    out << "  },\n  \"pictures_first_call_ms\": " << Num(firstBoth) << ",\n  \"exe_bytes\": {\"" << arch
        << "\": " << Num(sizeRun) << ", \"i686\": " << Num(sizeShipped) << ", \"bare\": " << Num(sizeBare)
        << "},\n  \"nonzero_exits\": " << badExit << ",\n  \"raw\": {\n";
    const char* kinds[] = {"launcher", "launcher_noproduct", "bare"};
    for (size_t k = 0; k < std::size(kinds); ++k) {
        std::string cpu, exit;
        for (const Run& r : runs[kinds[k]])
            cpu += (cpu.empty() ? "" : ", ") + Num(r.cpu), exit += (exit.empty() ? "" : ", ") + Num(r.exit);
        out << "    \"" << kinds[k] << "\": {\"cpu_ms\": [" << cpu << "], \"exit_ms\": [" << exit << "]}"
            << (k + 1 < std::size(kinds) ? ",\n" : "\n");
    }
    out << "  },\n  \"targets\": {\n";
    for (size_t i = 0; i < std::size(targets); ++i) {
        const Target& t = targets[i];
        out << "    \"" << t.name << "\": {\"value\": " << Num(t.value) << ", \"goal\": \"" << t.goal << "\", \"met\": "
            << (std::isnan(t.value) ? "null"
                : t.met             ? "true"
                                    : "false")
            << "}" << (i + 1 < std::size(targets) ? ",\n" : "\n");
    }
    out << "  }\n}\n";
    return 0;
}
