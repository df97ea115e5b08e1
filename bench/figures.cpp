// The figures, one row each, printed and written in this order.
#include "figures.h"

namespace bench {

namespace {

Samples BadExits(const Results& r) {
    double bad = 0;
    for (const auto& runs : r.runs)
        for (const Run& x : runs) bad += x.exitCode != 0;
    return {bad};
}

Samples KiB(double bytes) { return {bytes / 1024}; }

constexpr Metric kMetrics[] = {
    {"ready_launcher", "ready (start->input idle), launcher", "ms", PerRun<kLauncher, Ready>},
    {"ready_bare", "ready (start->input idle), bare", "ms", PerRun<kBare, Ready>},
    {"ready_over_bare", "ready, launcher - bare (paired runs)", "ms", OverBare<kLauncher, Ready>},
    {"ready_ratio", "ready, launcher / bare (paired runs)", "", OverBareRatio<kLauncher, Ready>},
    {"window_launcher", "window seen, launcher", "ms", PerRun<kLauncher, Window>},
    {"window_bare", "window seen, bare", "ms", PerRun<kBare, Window>},
    {"first_tick_armed", "first step drawn, after the timer was armed", "ms", PerRun<kStaged, FirstStepAfterArming>},
    {"first_tick_window", "first step drawn, after the window was seen", "ms", PerRun<kLauncher, FirstStepAfterWindow>},
    {"timer_bare", "bare window's 1-s timer, armed -> fired", "ms", PerRun<kBare, BareTimer>},
    {"hold_10_30", "first step -> second step drawn", "ms", PerRun<kLauncher, FirstHold>},
    {"hold_30_product", "second step drawn -> product started", "ms", PerRun<kLauncher, SecondHold>},
    {"process_start_cost", "CreateProcess -> first line, product alone", "ms", PerRun<kProductAlone, Stamp>},
    {"hold_30_product_less_start", "second step -> product, less its start cost", "ms", SecondHoldLessStart},
    {"sleep_100", "Sleep(100) in the driver's process", "ms", InProcess<&InProcessTimes::sleep100>},
    {"product_start", "start -> product started", "ms", PerRun<kLauncher, Stamp>},
    {"exit_launcher", "start -> exit, product present", "ms", PerRun<kLauncher, Exit>},
    {"exit_noproduct", "start -> exit, no product", "ms", PerRun<kNoProduct, Exit>},
    {"exit_bare", "start -> exit, bare", "ms", PerRun<kBare, Exit>},
    {"exit_noproduct_over_bare", "exit no product, launcher - bare (paired)", "ms", OverBare<kNoProduct, Exit>},
    {"exit_noproduct_ratio", "exit no product, launcher / bare (paired)", "", OverBareRatio<kNoProduct, Exit>},
    {"teardown_bare", "wWinMain returned -> exit seen, bare", "ms", PerRun<kBare, Teardown>},
    {"committed_launcher", "committed memory, window up, launcher", "MiB", PerRun<kNoProduct, Committed>},
    {"committed_bare", "committed memory, window up, bare", "MiB", PerRun<kBare, Committed>},
    {"committed_over_bare", "committed memory, launcher - bare (paired)", "MiB", OverBare<kNoProduct, Committed>},
    {"cpu_launcher", "CPU user+sys, launcher, no product (rusage)", "ms",
     [](const Results& r) { return r.cpuLauncher; }},
    {"cpu_bare", "CPU user+sys, bare (rusage)", "ms", [](const Results& r) { return r.cpuBare; }},
    {"cpu_over_bare", "CPU, launcher - bare (medians)", "ms",
     [](const Results& r) { return Samples{Median(r.cpuLauncher) - Median(r.cpuBare)}; }},
    {"pictures_banner_decode", "banner decode alone (its floor)", "ms", InProcess<&InProcessTimes::bannerFloor>},
    {"pictures_banner", "banner 960x209 -> 729x105, decode + scale", "ms", InProcess<&InProcessTimes::banner>},
    {"pictures_logo_inflate", "logo's stream inflated alone", "ms", InProcess<&InProcessTimes::logoInflate>},
    {"pictures_logo_checksum", "logo's rows checksummed alone", "ms", InProcess<&InProcessTimes::logoChecksum>},
    {"pictures_logo_decode", "logo decode alone", "ms", InProcess<&InProcessTimes::logoDecode>},
    {"pictures_logo", "logo 989x989 -> 202x170, decode + scale", "ms", InProcess<&InProcessTimes::logo>},
    {"pictures_floors", "both floors: banner decode, logo inflate + sum", "ms", PictureFloors},
    {"pictures_both", "both pictures, decode + scale", "ms", InProcess<&InProcessTimes::both>},
    {"pictures_first_call", "both pictures, first (cold) call", "ms",
     [](const Results& r) { return Samples{r.inProcess.firstBoth}; }},
    {"exe_run_kib", "VELQUOR.exe, the build run", "KiB", [](const Results& r) { return KiB(r.exeRun); }},
    {"exe_shipped_kib", "VELQUOR.exe, shipped i686", "KiB", [](const Results& r) { return KiB(r.exeShipped); }},
    {"exe_bare_kib", "bare.exe", "KiB", [](const Results& r) { return KiB(r.exeBare); }},
    {"nonzero_exits", "runs with a nonzero exit code", "runs", BadExits},
};

}  // namespace

std::span<const Metric> Metrics() { return kMetrics; }

Samples SecondHoldLessStart(const Results& r) {
    return Differences(PerRun<kLauncher, SecondHold>(r), PerRun<kProductAlone, Stamp>(r));
}

Samples PictureFloors(const Results& r) {
    const InProcessTimes& t = r.inProcess;
    return Sums(t.bannerFloor, Sums(t.logoInflate, t.logoChecksum));
}

}  // namespace bench
