// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/StreamAnalyser.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

namespace analysis {

void checkSampleRate(double sampleRate)
{
    if (!(std::isfinite(sampleRate) && sampleRate > 0.0)) {
        std::ostringstream message;
        message << "sample rate " << sampleRate << " is not a positive number of samples a second";
        throw std::invalid_argument(message.str());
    }
}

namespace {

const Settings& checked(const Settings& settings)
{
    checkSettings(settings);
    return settings;
}

double checkedRate(double sampleRate)
{
    checkSampleRate(sampleRate);
    return sampleRate;
}

PowerAverager averagerFor(const Settings& s)
{
    return PowerAverager(s.fftSize / 2 + 1, s.averaging, s.exponentialWeight);
}

} // namespace

StreamAnalyser::StreamAnalyser(const Settings& settings, double sampleRate, GapChecks gapChecks)
    : settings_(checked(settings)), sampleRate_(checkedRate(sampleRate)), gaps_(sampleRate),
      checkGaps_(gapChecks == GapChecks::On), size_(settings.fftSize), hop_(settings.fftSize / 2),
      transform_(settings.fftSize, settings.window), averages_{averagerFor(settings), averagerFor(settings),
                                                               averagerFor(settings)}
{
    for (auto& b : block_) b.resize(static_cast<std::size_t>(size_));
}

void StreamAnalyser::add(Micros time, float x, float y, float z)
{
    if (waiting_) take(waiting_sample_, checkGaps_ && started_ && gaps_.isGap(last_, waiting_sample_.time, time));
    waiting_sample_ = Sample{time, x, y, z};
    waiting_ = true;
}

void StreamAnalyser::takeWaiting()
{
    if (!waiting_) return;
    waiting_ = false;
    take(waiting_sample_, checkGaps_ && started_ && gaps_.isGap(last_, waiting_sample_.time));
}

void StreamAnalyser::take(const Sample& s, bool gapBefore)
{
    if (gapBefore) runStart_ = fill_;
    started_ = true;
    last_ = s.time;
    const auto i = static_cast<std::size_t>(fill_++);
    block_[0][i] = s.x;
    block_[1][i] = s.y;
    block_[2][i] = s.z;
    levels_.add(s.x, s.y, s.z);
    ++samples_;
    if (fill_ == size_) finishBlock();
}

void StreamAnalyser::add(std::span<const Sample> samples)
{
    for (const Sample& s : samples) add(s.time, s.x, s.y, s.z);
}

void StreamAnalyser::finishBlock()
{
    // A gap before the block's first sample is outside it; runStart_ > 0 means one inside.
    if (runStart_ > 0) {
        ++skipped_;
    } else {
        for (std::size_t a = 0; a < 3; ++a) averages_[a].add(transform_.power(block_[a]));
        ++used_;
    }
    for (auto& b : block_) std::copy(b.begin() + hop_, b.end(), b.begin());
    fill_ = size_ - hop_;
    runStart_ = std::max(0, runStart_ - hop_);
}

Result StreamAnalyser::result()
{
    takeWaiting();
    Result r;
    r.settings = settings_;
    r.sampleRate = sampleRate_;
    r.fftSize = size_;
    r.binWidth = sampleRate_ / size_;
    for (int a = 0; a < 3; ++a) r.axes[static_cast<std::size_t>(a)].levels = levels_.axis(a);
    r.magnitude = levels_.magnitude();
    r.blocksUsed = used_;
    r.blocksSkipped = skipped_;
    r.samples = samples_;

    std::array<PowerSpectrum, 3> power;
    const int run = fill_ - runStart_;
    if (used_ > 0) {
        for (std::size_t a = 0; a < 3; ++a) {
            power[a] = transform_.describe(sampleRate_, size_);
            const auto average = averages_[a].power();
            power[a].power.assign(average.begin(), average.end());
        }
    } else if (run >= kMinPartialLength) {
        r.partialLength = run;
        for (std::size_t a = 0; a < 3; ++a) {
            power[a] = transform_.describe(sampleRate_, run);
            const auto p = transform_.power(
                std::span(block_[a]).subspan(static_cast<std::size_t>(runStart_), static_cast<std::size_t>(run)));
            power[a].power.assign(p.begin(), p.end());
        }
    }
    fillSpectra(r, std::move(power));
    return r;
}

} // namespace analysis
