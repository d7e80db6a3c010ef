// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The date and time of the system: microseconds since the Unix epoch, UTC.
// Tests replace the source so that time stamps are exact. Safe to read from any thread; a
// replaced source is called on whichever thread asks, so it must be safe to call there too.
#include <cstdint>
#include <functional>

namespace platform {

using Micros = std::int64_t;

class Clock {
public:
    static Micros now();
    // An empty source restores the system clock.
    static void setSource(std::function<Micros()> source);
    static Micros systemNow();
};

} // namespace platform
