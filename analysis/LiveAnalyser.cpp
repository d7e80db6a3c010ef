// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/LiveAnalyser.h"

#include <stdexcept>
#include <string>

#include "analysis/StreamAnalyser.h"

namespace analysis {

namespace {

int ringSize(const Settings& settings, double sampleRate, int blocksPerFrame)
{
    checkSettings(settings);
    checkSampleRate(sampleRate);
    if (blocksPerFrame < 1 || blocksPerFrame > 16)
        throw std::invalid_argument("blocks per frame " + std::to_string(blocksPerFrame) + " is outside 1 to 16");
    return settings.fftSize + (blocksPerFrame - 1) * (settings.fftSize / 2);
}

} // namespace

LiveAnalyser::LiveAnalyser(const Settings& settings, double sampleRate, int blocksPerFrame)
    : settings_(settings), sampleRate_(sampleRate), gaps_(sampleRate), size_(settings.fftSize),
      hop_(settings.fftSize / 2), blocksPerFrame_(blocksPerFrame),
      ring_(static_cast<std::size_t>(ringSize(settings, sampleRate, blocksPerFrame))),
      transform_(settings.fftSize, settings.window), frame_{PowerAverager(size_ / 2 + 1, Averaging::Linear, 1.0),
                                                            PowerAverager(size_ / 2 + 1, Averaging::Linear, 1.0),
                                                            PowerAverager(size_ / 2 + 1, Averaging::Linear, 1.0)},
      across_{PowerAverager(size_ / 2 + 1, settings.averaging, settings.exponentialWeight),
              PowerAverager(size_ / 2 + 1, settings.averaging, settings.exponentialWeight),
              PowerAverager(size_ / 2 + 1, settings.averaging, settings.exponentialWeight)}
{
    for (auto& a : axes_) a.resize(ring_.size());
    gapsUpTo_.resize(ring_.size());
    startResult();
}

void LiveAnalyser::reset()
{
    head_ = held_ = 0;
    fed_ = 0;
    fresh_ = false;
    for (auto& a : across_) a.reset();
    result_ = Result();
    startResult();
}

void LiveAnalyser::add(std::span<const Sample> samples)
{
    for (const Sample& s : samples) add(s.time, s.x, s.y, s.z);
}

void LiveAnalyser::startResult()
{
    result_.settings = settings_;
    result_.sampleRate = sampleRate_;
    result_.fftSize = size_;
    result_.binWidth = sampleRate_ / size_;
}

// Lays the ring out oldest first, one array per axis, counting gaps as it goes; the levels of
// the frame are taken on the way.
void LiveAnalyser::unroll()
{
    const std::size_t capacity = ring_.size();
    const std::size_t oldest = (head_ + capacity - held_) % capacity;
    TriaxialLevels levels;
    int gaps = 0;
    for (std::size_t i = 0, r = oldest; i < held_; ++i, r = r + 1 == capacity ? 0 : r + 1) {
        const Sample& s = ring_[r];
        if (i > 0) {
            const Micros previous = ring_[r == 0 ? capacity - 1 : r - 1].time;
            const bool gap = i + 1 < held_ ? gaps_.isGap(previous, s.time, ring_[r + 1 == capacity ? 0 : r + 1].time)
                                           : gaps_.isGap(previous, s.time);
            gaps += gap ? 1 : 0;
        }
        gapsUpTo_[i] = gaps;
        axes_[0][i] = s.x;
        axes_[1][i] = s.y;
        axes_[2][i] = s.z;
        levels.add(s.x, s.y, s.z);
    }
    for (int a = 0; a < 3; ++a) result_.axes[static_cast<std::size_t>(a)].levels = levels.axis(a);
    result_.magnitude = levels.magnitude();
}

// The frame's blocks, newest first, into frame_; a block with a gap in it is skipped.
void LiveAnalyser::averageFrame(int n, long long& used, long long& skipped)
{
    for (auto& f : frame_) f.reset();
    for (int j = 0; j < blocksPerFrame_; ++j) {
        const int end = n - j * hop_;
        const int start = end - size_;
        if (start < 0) break;
        const auto first = static_cast<std::size_t>(start);
        const auto last = static_cast<std::size_t>(end - 1);
        if (gapsUpTo_[last] > gapsUpTo_[first]) {
            ++skipped;
            continue;
        }
        for (std::size_t a = 0; a < 3; ++a)
            frame_[a].add(transform_.power(
                std::span(axes_[a]).subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(size_))));
        ++used;
    }
}

// Before a whole block is held: the spectrum of the newest gap-free run, back from the newest
// sample while the gap count holds, once it is long enough to say something.
void LiveAnalyser::newestRun(int n, std::array<PowerSpectrum, 3>& power)
{
    int runStart = n > 0 ? n - 1 : 0;
    while (runStart > 0
           && gapsUpTo_[static_cast<std::size_t>(runStart - 1)] == gapsUpTo_[static_cast<std::size_t>(n - 1)])
        --runStart;
    const int run = n - runStart;
    if (run < kMinPartialLength) return;
    result_.partialLength = run;
    for (std::size_t a = 0; a < 3; ++a) {
        power[a] = transform_.describe(sampleRate_, run);
        const auto p = transform_.power(
            std::span(axes_[a]).subspan(static_cast<std::size_t>(runStart), static_cast<std::size_t>(run)));
        power[a].power.assign(p.begin(), p.end());
    }
}

const Result& LiveAnalyser::result()
{
    if (!fresh_) return result_;
    fresh_ = false;
    unroll();
    const int n = static_cast<int>(held_);

    long long used = 0, skipped = 0;
    averageFrame(n, used, skipped);
    std::array<PowerSpectrum, 3> power;
    result_.partialLength = 0;
    if (used > 0 || across_[0].count() > 0) {
        for (std::size_t a = 0; a < 3; ++a) {
            if (used > 0) {
                if (settings_.averaging == Averaging::Linear) across_[a].reset();
                across_[a].add(frame_[a].power());
            }
            power[a] = transform_.describe(sampleRate_, size_);
            const auto average = across_[a].power();
            power[a].power.assign(average.begin(), average.end());
        }
    } else {
        newestRun(n, power);
    }
    result_.blocksUsed = used;
    result_.blocksSkipped = skipped;
    result_.samples = fed_;
    fillSpectra(result_, std::move(power));
    return result_;
}

} // namespace analysis
