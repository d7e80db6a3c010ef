// SPDX-License-Identifier: GPL-3.0-or-later
// Time-domain levels of a signal: its DC component and the size of what rides on it.
#pragma once

#include <array>
#include <span>

namespace analysis {

struct Levels {
    long long count = 0; // samples measured; every other field is 0 when this is
    double mean = 0.0;   // the DC component
    double rms = 0.0;    // AC RMS: the standard deviation about the mean (divided by count)
    double peak = 0.0;   // largest |x − mean|
    double peakToPeak = 0.0;
    double crest = 0.0; // peak / rms; 0 when rms is 0
    double min = 0.0;
    double max = 0.0;
};

// Levels of a stream, sample by sample, in double. Sums are taken about the first sample, so
// a small vibration on a large offset (1 g of gravity) keeps its digits.
class LevelAccumulator {
public:
    void add(double v)
    {
        if (count_ == 0) shift_ = min_ = max_ = v;
        const double d = v - shift_;
        sum_ += d;
        squareSum_ += d * d;
        min_ = v < min_ ? v : min_;
        max_ = v > max_ ? v : max_;
        ++count_;
    }
    void add(std::span<const float> values);
    void reset() { *this = LevelAccumulator(); }
    long long count() const { return count_; }
    Levels levels() const;

private:
    long long count_ = 0;
    double shift_ = 0.0, sum_ = 0.0, squareSum_ = 0.0, min_ = 0.0, max_ = 0.0;
};

Levels levelsOf(std::span<const float> values);

// The three axes and the vector magnitude sqrt(x² + y² + z²), fed together.
class TriaxialLevels {
public:
    void add(float x, float y, float z);
    void reset();
    long long count() const { return axes_[0].count(); }
    // i: 0 x, 1 y, 2 z
    Levels axis(int i) const { return axes_[static_cast<std::size_t>(i)].levels(); }
    Levels magnitude() const { return magnitude_.levels(); }

private:
    std::array<LevelAccumulator, 3> axes_;
    LevelAccumulator magnitude_;
};

// The change from a baseline level to the current one.
struct LevelChange {
    double db = 0;      // 20 log10(current / baseline)
    double percent = 0; // (current / baseline - 1) * 100
    bool valid = false; // false when either is 0 or not finite
};
LevelChange levelChange(double baseline, double current);

} // namespace analysis
