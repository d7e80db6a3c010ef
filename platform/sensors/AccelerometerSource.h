#pragma once
// Where readings come from: the tablet's sensor on Linux (IIO), a simulated vibration, or a
// recorded file played back. The accelerometer asks its source for one reading per tick.
#include <memory>
#include <string>
#include <string_view>

#include "platform/Clock.h"

namespace sensors {

// One reading in g. A device lying flat, face up, reads z = -1. Its time stamp is when it was
// taken, in microseconds since the Unix epoch (0: not stamped; it is then taken as "now").
struct Acceleration {
    double x = 0, y = 0, z = 0;
    platform::Micros timestamp = 0;
};

class AccelerometerSource {
public:
    virtual ~AccelerometerSource() = default;
    // One reading in g; false (with a reason in `error`) when the device failed.
    virtual bool read(Acceleration& out, std::string& error) = 0;
    // One short line for the window, e.g. "IIO accelerometer iio:device0 (bmi160)",
    // "simulated vibration", "replay of run.asc".
    virtual std::string description() const = 0;
};

// Parses the value of --accelerometer=auto|iio|iio:DEVICE|simulated|replay:FILE.
// Returns nullptr and one clear error line in `error` for a bad option, a missing device or an
// unreadable or invalid replay file.
std::unique_ptr<AccelerometerSource> makeAccelerometerSource(std::string_view option,
                                                             std::string& error);

} // namespace sensors
