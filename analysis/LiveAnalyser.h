// SPDX-License-Identifier: GPL-3.0-or-later
// Analysis of the newest samples of a live stream, for a window refreshed several times a
// second.
#pragma once

#include <array>
#include <span>
#include <vector>

#include "analysis/Result.h"
#include "analysis/Samples.h"
#include "analysis/Settings.h"
#include "analysis/Spectrum.h"

namespace analysis {

// Keeps the newest N + (blocksPerFrame − 1)·N/2 samples in a ring; adding a sample is a copy
// into it. result() analyses them as one frame: the frame's Welch blocks (hop N/2, the newest
// ending at the newest sample) are averaged linearly, leaving out and counting any block that
// spans a gap, and successive frames are combined by the settings' averaging:
//   linear       each result is its own frame's Welch average
//   exponential  the newest frame weighted by exponentialWeight (a time constant of about
//                1/weight results)
//   peak-hold    the largest power per bin since the last reset
// A frame with every block skipped adds nothing and the previous average is shown; before any
// full gap-free block, the newest gap-free run gives a zero-padded spectrum as in
// StreamAnalyser. Levels cover the samples in the ring; blocksUsed and blocksSkipped count the
// newest frame's blocks; samples counts all samples fed.
//
// A result costs about 1 ms for three axes at N = 16,384 and three blocks a frame (see
// bench_analysis). result() with no sample added since the last call returns the same result
// without analysing again, so averages move only with new data.
//
// Typical use, refreshed 5 times a second:
//     LiveAnalyser live(settings, rate);
//     on each sample:  live.add(time, x, y, z);
//     on each refresh: const Result& r = live.result();  // draw r.frequencies, r.axes[i]...
//
// Not thread-safe; one analyser per thread.
class LiveAnalyser {
public:
    // Throws std::invalid_argument for bad settings, a bad sample rate, or blocksPerFrame
    // outside 1 to 16.
    LiveAnalyser(const Settings& settings, double sampleRate, int blocksPerFrame = 3);

    void reset(); // forget the samples and the averages
    void add(Micros time, float x, float y, float z)
    {
        ring_[head_] = Sample{time, x, y, z};
        head_ = head_ + 1 == ring_.size() ? 0 : head_ + 1;
        held_ = held_ < ring_.size() ? held_ + 1 : held_;
        ++fed_;
        fresh_ = true;
    }
    void add(const Sample& s) { add(s.time, s.x, s.y, s.z); }
    void add(std::span<const Sample> samples);

    // The analysis of the newest frame; valid until the next call or reset.
    const Result& result();

    const Settings& settings() const { return settings_; }
    double sampleRate() const { return sampleRate_; }
    int capacity() const { return static_cast<int>(ring_.size()); }

private:
    void unroll();
    void averageFrame(int n, long long& used, long long& skipped);
    void newestRun(int n, std::array<PowerSpectrum, 3>& power);
    void startResult();

    Settings settings_;
    double sampleRate_;
    GapRule gaps_;
    int size_;
    int hop_;
    int blocksPerFrame_;
    std::vector<Sample> ring_;
    std::size_t head_ = 0; // where the next sample goes
    std::size_t held_ = 0;
    long long fed_ = 0;
    bool fresh_ = false;

    BlockTransform transform_;
    std::array<PowerAverager, 3> frame_;     // linear, over one frame's blocks
    std::array<PowerAverager, 3> across_;    // the settings' averaging, over frames
    std::array<std::vector<float>, 3> axes_; // the ring unrolled, oldest first
    std::vector<int> gapsUpTo_;              // gapsUpTo_[i]: gaps between samples 0..i
    Result result_;
};

} // namespace analysis
