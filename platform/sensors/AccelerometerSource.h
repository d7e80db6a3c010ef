// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where readings come from: the tablet's sensor on Linux (IIO), a simulated vibration, or a
// recorded file played back. The accelerometer asks a polled source for one reading per tick; a
// streaming source (a device's buffer) delivers readings at its own pace, stamped by the device.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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

    // ---- streaming sources ----
    // Everything below runs on the capture thread, except availableRates(), which the window may
    // ask at any time (a source answers it from what it learnt when it was opened).
    virtual bool isStreaming() const { return false; }
    // Starts delivery at the rate nearest to `rate` readings a second that the device offers.
    // False, with one line in `error`, when it cannot.
    virtual bool startStreaming(double rate, std::string& error)
    {
        (void)rate;
        error = "not a streaming source";
        return false;
    }
    // Waits at most timeoutMs for readings and appends those that came, each with the device's
    // own time stamp (0 for none), to `out`. False, with the reason, when the device failed or
    // went away; what was appended before that is still good.
    virtual bool readStream(std::vector<Acceleration>& out, int timeoutMs, std::string& error)
    {
        (void)out;
        (void)timeoutMs;
        error = "not a streaming source";
        return false;
    }
    // Stops delivery and puts the device back as it was; also called after a failure.
    virtual void stopStreaming() {}
    // An eventfd that, when readable, ends a wait in readStream() early (the capture thread is
    // asked for what the device holds now). Sources that wait only briefly may ignore it.
    virtual void setWakeFd(int fd) { (void)fd; }
    // The rates the device offers, slowest first (empty: any rate the timer can keep).
    virtual std::vector<double> availableRates() const { return {}; }
};

// Whether a reading can be delivered: every axis a finite number within float range.
bool isUsable(const Acceleration& reading);

// Parses the value of --accelerometer=auto|iio|iio:DEVICE|simulated|replay:FILE.
// Returns nullptr and one clear error line in `error` for a bad option, a missing device or an
// unreadable or invalid replay file.
std::unique_ptr<AccelerometerSource> makeAccelerometerSource(std::string_view option, std::string& error);

} // namespace sensors
