// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Whether readings arrive at the rate asked. Readings are counted as they arrive; every look
// (about once a second) judges the last few seconds: under 90 % or over 110 % of the rate asked
// for that long is off rate, as a device that ignores the rate it was given, or a machine too
// busy to keep up, would be.
#include <cstdint>
#include <deque>
#include <string>

#include "platform/Clock.h"

class RateWatch {
public:
    explicit RateWatch(platform::Micros window = 5'000'000) : window_(window) {}

    // Recording began (or its rate changed): judging starts afresh a whole window later.
    void begin(double asked, platform::Micros now);
    void end();
    void count(std::int64_t readings = 1) { pending_ += readings; }
    // Looks at the last window; true when the verdict changed.
    bool update(platform::Micros now);

    bool isWatching() const { return asked_ > 0; }
    bool isOffRate() const { return off_; }
    double asked() const { return asked_; }
    // Readings a second over the last window.
    double achieved() const { return achieved_; }
    // "3,120 a second arrive, under 90 % of the 3,200 asked"; empty while on rate.
    std::string describe() const;

private:
    struct Slice {
        platform::Micros at = 0;
        std::int64_t readings = 0; // arrived since the slice before
    };

    platform::Micros window_;
    double asked_ = 0;
    platform::Micros since_ = 0;
    std::int64_t pending_ = 0;
    std::deque<Slice> slices_;
    double achieved_ = 0;
    bool off_ = false;
};
