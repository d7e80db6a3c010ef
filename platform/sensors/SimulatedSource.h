// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A believable machine vibration computed from the clock, for machines without a sensor. The
// signal is a function of time alone, so every sample rate samples the same signal and a fixed
// clock gives exact readings.
#include "platform/Clock.h"
#include "platform/sensors/AccelerometerSource.h"

namespace sensors {

class SimulatedSource : public AccelerometerSource {
public:
    bool read(Acceleration& out, std::string& error) override;
    std::string description() const override;

    // The signal at a moment (microseconds since the Unix epoch).
    static Acceleration at(platform::Micros when);
};

} // namespace sensors
