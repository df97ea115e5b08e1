#include "statistics.h"

#include <algorithm>
#include <cstddef>
#include <functional>

namespace bench {

namespace {

template <typename Operation>
Samples Pairwise(const Samples& a, const Samples& b, Operation operation) {
    Samples out;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) out.push_back(operation(a[i], b[i]));
    return out;
}

}  // namespace

Stat Summarise(Samples samples) {
    std::erase_if(samples, [](double x) { return std::isnan(x); });
    Stat s;
    s.n = static_cast<int>(samples.size());
    if (samples.empty()) return s;
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) {  // linear interpolation between closest ranks
        const double pos = q * static_cast<double>(samples.size() - 1);
        const std::size_t lo = static_cast<std::size_t>(pos), hi = std::min(lo + 1, samples.size() - 1);
        return samples[lo] + (samples[hi] - samples[lo]) * (pos - static_cast<double>(lo));
    };
    s.median = at(0.5), s.p10 = at(0.1), s.p90 = at(0.9);
    return s;
}

double Median(const Samples& samples) { return Summarise(samples).median; }

double Fastest(const Samples& samples) {
    double fastest = kNotSeen;
    for (const double s : samples)
        if (!std::isnan(s) && (std::isnan(fastest) || s < fastest)) fastest = s;
    return fastest;
}

Samples Sums(const Samples& a, const Samples& b) { return Pairwise(a, b, std::plus<>()); }

Samples Differences(const Samples& a, const Samples& b) { return Pairwise(a, b, std::minus<>()); }

Samples Ratios(const Samples& a, const Samples& b) { return Pairwise(a, b, std::divides<>()); }

}  // namespace bench
