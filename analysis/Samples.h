// SPDX-License-Identifier: GPL-3.0-or-later
// Time-stamped three-axis samples, the rule that finds gaps between them, and the sample rate
// they were really taken at.
#pragma once

#include <cstdint>
#include <span>

namespace analysis {

using Micros = std::int64_t; // microseconds since the Unix epoch, as the store keeps them

struct Sample {
    Micros time = 0;
    float x = 0.0f, y = 0.0f, z = 0.0f; // g
};

// A step between consecutive time stamps of more than 1.5 nominal intervals is a gap: samples
// were lost or recording paused. A step backwards (a clock set back) breaks the stream too;
// equal time stamps do not.
class GapRule {
public:
    explicit GapRule(double sampleRate) : limit_(1.5e6 / sampleRate), pairLimit_(2.5e6 / sampleRate) {}
    bool isGap(Micros previous, Micros next) const
    {
        const Micros step = next - previous;
        return step < 0 || static_cast<double>(step) > limit_;
    }
    // The same, knowing the sample after `next`: a sample taken late and the next one back on
    // time (the jitter of a busy machine) are no gap, since over both steps the time is still
    // about two intervals; only a sample that is really missing is.
    bool isGap(Micros previous, Micros next, Micros after) const
    {
        if (!isGap(previous, next)) return false;
        if (next < previous) return true;
        const Micros over = after - previous;
        return over < 0 || static_cast<double>(over) > pairLimit_;
    }

private:
    double limit_;
    double pairLimit_;
};

// The rate, in samples a second, that time stamps in recording order were taken at: the median
// step finds the nominal interval, the gaps by that interval (GapRule, knowing the next stamp)
// cut the stamps into stretches, and the least-squares slope of time against sample number over
// the stretches gives the interval. Pauses and lost samples do not lower it, a late stamp with
// the early one after it hardly moves it, and equal stamps (samples delivered in batches) count
// as the samples they are. 0 when there are fewer than two samples or no positive step.
// For a long stored session the first few thousand time stamps are enough.
double estimateSampleRate(std::span<const Micros> times);
double estimateSampleRate(std::span<const Sample> samples);

} // namespace analysis
