// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An accelerometer that never gives a reading, so that a test feeds the recorder its own readings
// while recording runs as it would.
#include <chrono>
#include <thread>

#include "platform/sensors/AccelerometerSource.h"

class QuietSource : public sensors::AccelerometerSource {
public:
    bool read(sensors::Acceleration&, std::string& error) override
    {
        error = "a quiet source is read in its stream";
        return false;
    }
    std::string description() const override { return "quiet source"; }
    bool isStreaming() const override { return true; }
    bool startStreaming(double, std::string&) override { return true; }
    bool readStream(std::vector<sensors::Acceleration>&, int timeoutMs, std::string&) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 5)));
        return true;
    }
};
