// SPDX-License-Identifier: GPL-3.0-or-later
// Analysis of a whole stream of samples, fed in time order: a live recording, or a stored
// session read by a walk. Memory stays bounded (a few blocks of N) however long the stream.
#pragma once

#include <array>
#include <span>
#include <vector>

#include "analysis/Levels.h"
#include "analysis/Result.h"
#include "analysis/Samples.h"
#include "analysis/Settings.h"
#include "analysis/Spectrum.h"

namespace analysis {

// Whether a StreamAnalyser looks for gaps in the time stamps (see below).
enum class GapChecks { On, Off };

// Blocks of N samples are cut every N/2 samples (Welch, 50 % overlap) on one grid for all three
// axes, and averaged by the settings' averaging. A block that spans a gap in the time stamps
// (GapRule) is left out of the average and counted in blocksSkipped, so a pause is never
// smoothed over; blocksUsed + blocksSkipped is every block the grid holds. Levels cover every
// sample fed, gaps or not.
//
// GapChecks::Off takes the samples as one unbroken run whatever their time stamps say, for a
// caller that knows better than the stamps (readings that fill the time they cover, only
// jittered by a busy capture).
//
// Before the first full gap-free block, result() gives a zero-padded spectrum of the newest
// gap-free run (see Result::hasSpectrum).
//
// Typical use for a stored session:
//     StreamAnalyser a(settings, estimateSampleRate(firstTimes));
//     for each stored row: a.add(time, x, y, z);
//     Result r = a.result();
//
// Not thread-safe; one analyser per thread (FFT plans are shared safely).
class StreamAnalyser {
public:
    // Throws std::invalid_argument for bad settings or a sample rate that is not a positive,
    // finite number.
    StreamAnalyser(const Settings& settings, double sampleRate, GapChecks gapChecks = GapChecks::On);

    void add(Micros time, float x, float y, float z);
    void add(std::span<const Sample> samples);

    // The analysis of everything fed so far; the stream may go on afterwards. Costs a conversion
    // of the three averaged spectra, not a pass over the samples.
    Result result();

    const Settings& settings() const { return settings_; }
    double sampleRate() const { return sampleRate_; }

private:
    // Each sample waits for the next one, which tells whether the step into it is a gap or only
    // the jitter of a late sample (GapRule); the newest is taken in as it is by result().
    void take(const Sample& s, bool gapBefore);
    void takeWaiting();
    void finishBlock();

    Settings settings_;
    double sampleRate_;
    GapRule gaps_;
    bool checkGaps_;
    int size_;
    int hop_;
    BlockTransform transform_; // scratch, also for the zero-padded spectrum
    std::array<PowerAverager, 3> averages_;
    std::array<std::vector<float>, 3> block_; // the block being filled, per axis
    int fill_ = 0;
    int runStart_ = 0; // where in block_ the newest gap-free run starts
    bool started_ = false;
    Micros last_ = 0;
    Sample waiting_sample_{};
    bool waiting_ = false;
    TriaxialLevels levels_;
    long long samples_ = 0;
    long long used_ = 0;
    long long skipped_ = 0;
};

// Checks a sample rate as the analysers need it; throws std::invalid_argument.
void checkSampleRate(double sampleRate);

} // namespace analysis
