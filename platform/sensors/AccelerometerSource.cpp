// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sensors/AccelerometerSource.h"

#include <cmath>
#include <limits>

#include "platform/Log.h"
#include "platform/sensors/IioBufferSource.h"
#include "platform/sensors/IioSource.h"
#include "platform/sensors/ReplaySource.h"
#include "platform/sensors/SimulatedSource.h"

namespace sensors {

bool isUsable(const Acceleration& reading)
{
    constexpr double largest = std::numeric_limits<float>::max();
    for (double v : {reading.x, reading.y, reading.z})
        if (!(std::fabs(v) <= largest)) return false; // also false for NaN
    return true;
}

namespace {
constexpr std::string_view expected = "(expected auto, iio[:DEVICE], simulated or replay:FILE)";

// An IIO device through its buffer where it has one we may use, else by polling its sysfs files.
std::unique_ptr<AccelerometerSource> iio(std::unique_ptr<IioSource> source)
{
    return IioBufferSource::prefer(std::move(source));
}
} // namespace

std::unique_ptr<AccelerometerSource> makeAccelerometerSource(std::string_view option, std::string& error)
{
    constexpr std::string_view iioPrefix = "iio:";
    constexpr std::string_view replayPrefix = "replay:";

    if (option == "simulated") return std::make_unique<SimulatedSource>();
    if (option == "iio") return iio(IioSource::openFirst(error));
    if (option == "auto") {
        if (IioSource::findAccelerometers().empty()) return std::make_unique<SimulatedSource>();
        // A sensor that is present but unreadable is worth knowing about, not a reason to stop.
        std::string reason;
        if (auto source = IioSource::openFirst(reason)) return iio(std::move(source));
        platform::log("accelerometer unusable, using simulated vibration: " + reason);
        return std::make_unique<SimulatedSource>();
    }
    if (option.starts_with(iioPrefix)) {
        const std::string_view device = option.substr(iioPrefix.size());
        if (device.empty()) {
            error = "accelerometer 'iio:' needs a device name, as in iio:device0";
            return nullptr;
        }
        return iio(IioSource::open(device, error));
    }
    if (option.starts_with(replayPrefix)) {
        const std::string_view file = option.substr(replayPrefix.size());
        if (file.empty()) {
            error = "accelerometer 'replay:' needs a file name, as in replay:run.asc";
            return nullptr;
        }
        return ReplaySource::load(std::string(file), error);
    }
    error = "unknown accelerometer '" + std::string(option) + "' " + std::string(expected);
    return nullptr;
}

} // namespace sensors
