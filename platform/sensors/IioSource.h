// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The tablet's own accelerometer through the Linux Industrial I/O sysfs files:
// value = (in_accel_A_raw + offset) * scale in m/s^2, turned by the mount matrix, then in g.
// Such devices read about -9.8 m/s^2 on z when lying face up, which is our sign already.
#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sensors/AccelerometerSource.h"
#include "platform/sensors/IioScan.h"

namespace sensors {

class IioSource : public AccelerometerSource {
public:
    // The folder searched for devices: $QUIVRA_IIO_ROOT if set, else /sys/bus/iio/devices.
    static std::filesystem::path root();
    // Device folders under the root that offer x, y and z readings, by device number.
    static std::vector<std::filesystem::path> findAccelerometers();

    // The first accelerometer found; nullptr and a reason in `error` when there is none or it
    // cannot be read.
    static std::unique_ptr<IioSource> openFirst(std::string& error);
    // A device by name ("iio:device3", "device3", "3"), by driver name ("bmi160") or by folder
    // path; nullptr and a reason in `error` when it is missing, not an accelerometer or unreadable.
    static std::unique_ptr<IioSource> open(std::string_view device, std::string& error);

    bool read(Acceleration& out, std::string& error) override;
    // The device and ", polled".
    std::string description() const override;
    // "IIO accelerometer iio:device0 (bmi160)": the device alone, not how it is read.
    std::string deviceName() const;

    const std::filesystem::path& folder() const { return folder_; }
    const AxisCalibration& calibration() const { return calibration_; }
    // The device's own data-ready trigger, "<driver>-dev<N>", when it is among the triggers beside
    // the device; empty otherwise.
    std::string dataReadyTrigger() const;

private:
    explicit IioSource(std::filesystem::path folder);
    // Reads scale, offset and mount matrix, then one reading as a check.
    bool load(std::string& error);

    std::filesystem::path folder_;
    std::string driver_;
    AxisCalibration calibration_;
};

// Small sysfs attributes, read afresh each time: the whole of one (regular files only, of bounded
// size, so a FIFO in its place never hangs us), and one that holds a number.
bool readAttribute(const std::filesystem::path& file, std::string& text, std::string& error);
bool readNumberAttribute(const std::filesystem::path& file, double& value, std::string& error);
// The attribute's text without its line feed; empty when it cannot be read.
std::string attributeText(const std::filesystem::path& file);
// Whether a sysfs file is there (an error counts as not).
bool present(const std::filesystem::path& file);
// Writes one, as `echo value > file` does; false with the reason in `error` (and errno) when it
// refuses.
bool writeAttribute(const std::filesystem::path& file, const std::string& value, std::string& error);

} // namespace sensors
