// The goals, each a ratio to a floor measured in the same run. docs/performance.md gives the
// reasoning behind every bound: what the floor leaves over, and what the launcher must do that
// its floor does not.
#include <cmath>
#include <cstdio>

#include "figures.h"

namespace bench {

namespace {

// Each sample over the median of a floor timed apart from it, in the same run.
Samples Over(const Samples& samples, double floor) {
    Samples ratios;
    for (const double s : samples) ratios.push_back(s / floor);
    return ratios;
}

Samples Sleep100(const Results& r) { return r.inProcess.sleep100; }

// The pictures are timed in this process, many times over: each and its floor are judged on
// their fastest rounds.
Samples BannerFloor(const Results& r) { return {Fastest(r.inProcess.bannerFloor)}; }
Samples LogoFloor(const Results& r) { return {Fastest(Sums(r.inProcess.logoInflate, r.inProcess.logoChecksum))}; }

// What the second hold cannot take less than: the launcher's Sleep(100), then starting the
// product, round by round.
Samples SleepAndProductStart(const Results& r) {
    Samples floor;
    for (const double start : PerRun<kProductAlone, Stamp>(r)) floor.push_back(Median(Sleep100(r)) + start);
    return floor;
}

constexpr double kNoLimit = 0;
constexpr double kExeBudgetKiB = 1024;

constexpr Goal kGoals[] = {
    {"ready_ratio", "ready for input, launcher / bare (paired)", OverBareRatio<kLauncher, Ready>,
     "bare window, ready for input", "ms", PerRun<kBare, Ready>, kNoLimit, 1.25},
    {"exit_noproduct_ratio", "exit, no product, launcher / bare (paired)", OverBareRatio<kNoProduct, Exit>,
     "bare window, exit", "ms", PerRun<kBare, Exit>, kNoLimit, 1.25},
    {"pictures_banner_ratio", "banner decode + scale / its floor (fastest)",
     [](const Results& r) { return Ratios({Fastest(r.inProcess.banner)}, BannerFloor(r)); },
     "libjpeg decoding it, rows dropped", "ms", BannerFloor, kNoLimit, 2.0},
    {"pictures_logo_ratio", "logo decode + scale / its floor (fastest)",
     [](const Results& r) { return Ratios({Fastest(r.inProcess.logo)}, LogoFloor(r)); }, "zlib inflating it + checksum",
     "ms", LogoFloor, kNoLimit, 1.5},
    {"first_tick_ratio", "timer armed -> first step drawn / bare's timer",
     [](const Results& r) { return Ratios(PerRun<kStaged, FirstStepAfterArming>(r), PerRun<kBare, BareTimer>(r)); },
     "bare window's 1-s timer", "ms", PerRun<kBare, BareTimer>, 0.98, 1.02},
    {"hold_10_30_ratio", "first step -> second step / Sleep(100)",
     [](const Results& r) { return Over(PerRun<kLauncher, FirstHold>(r), Median(Sleep100(r))); },
     "Sleep(100) in the driver", "ms", Sleep100, 0.95, 1.2},
    {"hold_30_product_ratio", "second step -> product / Sleep(100) + its start",
     [](const Results& r) { return Ratios(PerRun<kLauncher, SecondHold>(r), SleepAndProductStart(r)); },
     "Sleep(100) + product alone's start", "ms", SleepAndProductStart, 0.8, 1.2},
    {"committed_ratio", "committed memory, launcher / bare (paired)", OverBareRatio<kNoProduct, Committed>,
     "bare window, committed", "MiB", PerRun<kBare, Committed>, kNoLimit, 1.35},
    {"cpu_ratio", "CPU, launcher / bare (medians)",
     [](const Results& r) { return Samples{Median(r.cpuLauncher) / Median(r.cpuBare)}; }, "bare window, CPU", "ms",
     [](const Results& r) { return r.cpuBare; }, kNoLimit, 1.5},
    {"exe_shipped_ratio", "VELQUOR.exe, shipped i686 / its budget",
     [](const Results& r) { return Samples{r.exeShipped / 1024 / kExeBudgetKiB}; }, "the budget, 1 MiB", "KiB",
     [](const Results&) { return Samples{kExeBudgetKiB}; }, kNoLimit, 1.0},
};

}  // namespace

std::span<const Goal> Goals() { return kGoals; }

std::optional<bool> Met(const Goal& goal, double ratio) {
    if (std::isnan(ratio)) return std::nullopt;
    return ratio >= goal.least && ratio <= goal.most;
}

std::string Bounds(const Goal& goal) {
    char text[32];
    if (goal.least == kNoLimit)
        std::snprintf(text, sizeof text, "<= %.2f", goal.most);
    else
        std::snprintf(text, sizeof text, "%.2f - %.2f", goal.least, goal.most);
    return text;
}

}  // namespace bench
