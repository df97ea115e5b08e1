#pragma once
// Everything the benchmark reports, as three tables: the figures, the start-up stages and the
// goals. Each row names its key in build/bench.json; add a figure, a stage or a goal as a row.

#include <optional>
#include <span>
#include <string>

#include "run_values.h"
#include "runs.h"
#include "statistics.h"
#include "timings.h"

namespace bench {

struct Results {
    Runs runs;
    InProcessTimes inProcess;
    Samples cpuLauncher, cpuBare;        // ms, from Linux's rusage of separate runs
    double exeRun, exeShipped, exeBare;  // bytes
};

// Readings the tables share.
template <Kind kind, RunValue value>
Samples PerRun(const Results& r) {
    return Each(r.runs[kind], value);
}

// Run by run against the bare window's run of the same round.
template <Kind kind, RunValue value>
Samples OverBare(const Results& r) {
    return Differences(Each(r.runs[kind], value), Each(r.runs[kBare], value));
}

template <Kind kind, RunValue value>
Samples OverBareRatio(const Results& r) {
    return Ratios(Each(r.runs[kind], value), Each(r.runs[kBare], value));
}

template <Samples InProcessTimes::*samples>
Samples InProcess(const Results& r) {
    return r.inProcess.*samples;
}

// The second hold less what starting the product alone takes, round by round.
Samples SecondHoldLessStart(const Results& r);
Samples PictureFloors(const Results& r);  // both pictures' floors, round by round

struct Metric {
    const char* key;
    const char* label;
    const char* unit;
    Samples (*read)(const Results&);
};

std::span<const Metric> Metrics();

struct StageRow {
    const char* key;
    const char* label;
    RunValue value;  // ms, of a run of the staged launcher or of the bare window
};

struct StageStats {
    Stat launcher, bare, difference;  // difference: paired runs, launcher - bare
};

std::span<const StageRow> StageRows();
StageStats Summarise(const Results& r, const StageRow& row);

// A goal is a ratio, judged on its median: the launcher's figure over a floor measured in the
// same run, so that it holds on a slower machine or at a busier hour as well.
struct Goal {
    const char* key;
    const char* label;
    Samples (*ratios)(const Results&);
    const char* floorLabel;
    const char* floorUnit;
    Samples (*floor)(const Results&);  // the floor's own figure in this run
    double least, most;                // the bounds the ratio's median must keep
};

std::span<const Goal> Goals();
// Unknown (no verdict) when the run did not see the figure.
std::optional<bool> Met(const Goal& goal, double ratio);
std::string Bounds(const Goal& goal);  // "<= 1.25", or "0.98 - 1.02"

}  // namespace bench
