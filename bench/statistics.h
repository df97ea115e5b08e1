#pragma once
// Medians and spreads of a figure's samples. A sample not seen in its run is NaN and left out.

#include <cmath>
#include <vector>

namespace bench {

using Samples = std::vector<double>;
constexpr double kNotSeen = NAN;

struct Stat {
    double median = kNotSeen, p10 = kNotSeen, p90 = kNotSeen;
    int n = 0;
};

Stat Summarise(Samples samples);
double Median(const Samples& samples);
// The least sample: a shared machine's load only ever adds to a time, so this run is the one
// nearest the code's own cost.
double Fastest(const Samples& samples);

// Sample by sample, for samples paired by their round: a[i] + b[i], a[i] - b[i] and a[i] / b[i].
Samples Sums(const Samples& a, const Samples& b);
Samples Differences(const Samples& a, const Samples& b);
Samples Ratios(const Samples& a, const Samples& b);

}  // namespace bench
