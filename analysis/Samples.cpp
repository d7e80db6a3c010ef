#include "analysis/Samples.h"

#include <algorithm>
#include <vector>

namespace analysis {

namespace {

template <class TimeOf>
double estimate(std::size_t count, TimeOf timeOf)
{
    std::vector<Micros> steps;
    steps.reserve(count);
    std::size_t equal = 0;
    for (std::size_t i = 1; i < count; ++i) {
        const Micros step = timeOf(i) - timeOf(i - 1);
        if (step > 0)
            steps.push_back(step);
        equal += step == 0;
    }
    if (steps.empty())
        return 0.0;
    const auto middle = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
    std::nth_element(steps.begin(), middle, steps.end());
    const GapRule rule(1e6 / static_cast<double>(*middle));
    double total = 0.0;
    std::size_t used = 0;
    for (Micros step : steps)
        if (!rule.isGap(0, step)) {
            total += static_cast<double>(step);
            ++used;
        }
    // Equal time stamps (samples delivered in batches) were left out of the median; they are
    // samples all the same.
    return static_cast<double>(used + equal) * 1e6 / total;
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
