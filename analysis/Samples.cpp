// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/Samples.h"

#include <algorithm>
#include <vector>

namespace analysis {

namespace {

// Least-squares sums of time against sample number over one gap-free stretch, about its means.
struct StretchFit {
    double sxx = 0.0; // Σ (i − ī)²
    double sxy = 0.0; // Σ (i − ī)(t − t̄)
};

template <class TimeOf>
StretchFit fitStretch(std::size_t first, std::size_t last, TimeOf timeOf)
{
    StretchFit fit;
    const std::size_t n = last - first + 1;
    if (n < 2) return fit;
    const Micros origin = timeOf(first);
    double meanTime = 0.0;
    for (std::size_t i = first; i <= last; ++i) meanTime += static_cast<double>(timeOf(i) - origin);
    meanTime /= static_cast<double>(n);
    const double meanIndex = static_cast<double>(n - 1) / 2.0;
    for (std::size_t i = first; i <= last; ++i) {
        const double di = static_cast<double>(i - first) - meanIndex;
        fit.sxx += di * di;
        fit.sxy += di * (static_cast<double>(timeOf(i) - origin) - meanTime);
    }
    return fit;
}

template <class TimeOf>
double estimate(std::size_t count, TimeOf timeOf)
{
    std::vector<Micros> steps;
    steps.reserve(count);
    for (std::size_t i = 1; i < count; ++i)
        if (const Micros step = timeOf(i) - timeOf(i - 1); step > 0) steps.push_back(step);
    if (steps.empty()) return 0.0;
    const auto middle = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
    std::nth_element(steps.begin(), middle, steps.end());
    const GapRule rule(1e6 / static_cast<double>(*middle));

    // The stream is cut at its gaps by the analysers' own rule, which keeps a late sample and
    // the early one after it together; within each stretch the interval is the slope of time
    // against sample number. A late time stamp then moves the slope by next to nothing, where
    // dropping its step but keeping the short one after it would read the rate high.
    double sxx = 0.0, sxy = 0.0;
    std::size_t first = 0;
    for (std::size_t i = 1; i <= count; ++i) {
        const bool end = i == count
                         || (i + 1 < count ? rule.isGap(timeOf(i - 1), timeOf(i), timeOf(i + 1))
                                           : rule.isGap(timeOf(i - 1), timeOf(i)));
        if (!end) continue;
        const StretchFit fit = fitStretch(first, i - 1, timeOf);
        sxx += fit.sxx;
        sxy += fit.sxy;
        first = i;
    }
    return sxx > 0.0 && sxy > 0.0 ? 1e6 * sxx / sxy : 0.0;
}

} // namespace

double estimateSampleRate(std::span<const Micros> times)
{
    return estimate(times.size(), [&](std::size_t i) { return times[i]; });
}

double estimateSampleRate(std::span<const Sample> samples)
{
    return estimate(samples.size(), [&](std::size_t i) { return samples[i].time; });
}

} // namespace analysis
