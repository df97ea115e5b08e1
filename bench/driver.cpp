// Benchmark driver, run under Wine by scripts/bench.sh: runs the launcher, a bare window and the
// launcher's staged build, interleaved, and watches them from outside (runs.cpp); times the
// launcher's picture path and its floors in its own process (timings.cpp); prints the figures,
// the stage table and the goals (figures.cpp, stages.cpp, goals.cpp) and writes them as JSON
// (report.cpp).
#include <windows.h>

#include <string>

#include "figures.h"
#include "options.h"
#include "report.h"
#include "runs.h"
#include "timings.h"

namespace {

double FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA d{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &d)) return bench::kNotSeen;
    return static_cast<double>((static_cast<unsigned long long>(d.nFileSizeHigh) << 32) | d.nFileSizeLow);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bench::Options options;
    if (!bench::Parse(argc, argv, options)) return 2;
    const int rounds = std::stoi(options.n);
    const bench::Programs programs{options.launcher, options.bare, options.staged, options.product};
    const bench::Results results{bench::RunAll(programs, rounds),
                                 bench::TimeInProcess(options.banner, options.logo, rounds),
                                 bench::Numbers(options.cpuLauncher),
                                 bench::Numbers(options.cpuBare),
                                 FileSize(options.launcher),
                                 FileSize(options.shipped),
                                 FileSize(options.bare)};
    bench::PrintReport(results, options, rounds);
    bench::WriteJson(results, options, rounds);
    return 0;
}
