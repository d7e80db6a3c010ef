// SPDX-License-Identifier: GPL-3.0-or-later
// Synthetic accelerometer streams for the analysis tests.
#pragma once

#include <array>
#include <cmath>
#include <functional>
#include <numbers>
#include <vector>

#include "analysis/Samples.h"

namespace signals {

constexpr analysis::Micros kStart = 1'700'000'000'000'000; // 2023-11-14

inline double sine(double amplitude, double frequency, double t, double phase = 0.0)
{
    return amplitude * std::sin(2.0 * std::numbers::pi * frequency * t + phase);
}

// `count` samples at `rate`, time stamps rounded to the microsecond; axes(t) gives x, y, z.
using Axes = std::function<std::array<double, 3>(double)>;

inline std::vector<analysis::Sample> stream(int count, double rate, const Axes& axes, analysis::Micros start = kStart)
{
    std::vector<analysis::Sample> out(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const double t = i / rate;
        const auto v = axes(t);
        out[static_cast<std::size_t>(i)] = {start + std::llround(t * 1e6), static_cast<float>(v[0]),
                                            static_cast<float>(v[1]), static_cast<float>(v[2])};
    }
    return out;
}

// Shifts the time stamps of every sample from `index` on, opening a gap before it.
inline void openGap(std::vector<analysis::Sample>& samples, std::size_t index, analysis::Micros length)
{
    for (std::size_t i = index; i < samples.size(); ++i) samples[i].time += length;
}

} // namespace signals
