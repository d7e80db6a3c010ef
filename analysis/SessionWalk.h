// SPDX-License-Identifier: GPL-3.0-or-later
// The analysis of a stored session walked once, in time order, when the rate it was recorded at
// must come from its own time stamps: the first samples wait while they give the rate, then a
// StreamAnalyser takes them and every later sample straight through.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

#include "analysis/Result.h"
#include "analysis/Samples.h"
#include "analysis/Settings.h"
#include "analysis/StreamAnalyser.h"

namespace analysis {

// The first time stamps that give a session's rate (estimateSampleRate); more add nothing.
inline constexpr std::size_t kRateSamples = 4096;

class SessionWalk {
public:
    // Asked for the rate to analyse at when the waiting samples give none (fewer than two, or no
    // time between them), with how many there are; it may throw instead, to end the walk.
    using NoRate = std::function<double(std::size_t waiting)>;

    SessionWalk(const Settings& settings, NoRate noRate);

    void add(Micros time, float x, float y, float z)
    {
        if (analyser_) {
            analyser_->add(time, x, y, z);
            return;
        }
        waiting_.push_back(Sample{time, x, y, z});
        if (waiting_.size() == kRateSamples) begin();
    }

    // The analysis of every sample added; a walk too short to fill the wait starts here.
    Result result();

private:
    void begin();

    Settings settings_;
    NoRate noRate_;
    std::vector<Sample> waiting_;
    std::optional<StreamAnalyser> analyser_;
};

} // namespace analysis
