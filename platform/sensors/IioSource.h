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
    std::string description() const override;

private:
    explicit IioSource(std::filesystem::path folder);
    // Reads scale, offset and mount matrix, then one reading as a check.
    bool load(std::string& error);

    std::filesystem::path folder_;
    std::string driver_;
    std::array<double, 3> scale_{1, 1, 1};
    std::array<double, 3> offset_{0, 0, 0};
    std::array<double, 9> mount_{1, 0, 0, 0, 1, 0, 0, 0, 1};
};

} // namespace sensors
