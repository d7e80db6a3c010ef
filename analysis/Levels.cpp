// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/Levels.h"

#include <algorithm>
#include <cmath>

namespace analysis {

void LevelAccumulator::add(std::span<const float> values)
{
    for (float v : values) add(static_cast<double>(v));
}

Levels LevelAccumulator::levels() const
{
    Levels l;
    if (count_ == 0) return l;
    const double n = static_cast<double>(count_);
    const double meanShift = sum_ / n;
    l.count = count_;
    l.mean = shift_ + meanShift;
    l.rms = std::sqrt(std::max(0.0, squareSum_ / n - meanShift * meanShift));
    l.min = min_;
    l.max = max_;
    l.peak = std::max(max_ - l.mean, l.mean - min_);
    l.peakToPeak = max_ - min_;
    l.crest = l.rms > 0.0 ? l.peak / l.rms : 0.0;
    return l;
}

Levels levelsOf(std::span<const float> values)
{
    LevelAccumulator a;
    a.add(values);
    return a.levels();
}

void TriaxialLevels::add(float x, float y, float z)
{
    const double dx = x, dy = y, dz = z;
    axes_[0].add(dx);
    axes_[1].add(dy);
    axes_[2].add(dz);
    magnitude_.add(std::sqrt(dx * dx + dy * dy + dz * dz));
}

void TriaxialLevels::reset()
{
    for (auto& a : axes_) a.reset();
    magnitude_.reset();
}

LevelChange levelChange(double baseline, double current)
{
    LevelChange change;
    if (!(baseline > 0) || !(current > 0) || !std::isfinite(baseline) || !std::isfinite(current)) return change;
    change.db = 20.0 * std::log10(current / baseline);
    change.percent = (current / baseline - 1.0) * 100.0;
    change.valid = true;
    return change;
}

} // namespace analysis
