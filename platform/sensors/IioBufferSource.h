// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The accelerometer read through its IIO buffer: the kernel fills /dev/iio:deviceN with whole
// scans at the device's own rate, each stamped by the kernel, and the capture thread reads them
// in batches. To start, the x, y and z channels and the time stamp are enabled (all else off),
// the time stamps are put on the wall clock, the device's own trigger is chosen, the rate nearest
// the one asked for is set, with a buffer of about a second and a watermark of about 10 ms, and
// the buffer is enabled. Stopping (also after a failure, when the source goes, and at exit)
// disables the buffer and puts back every attribute that was changed.
//
// The device node of sysfs folder "iio:deviceN" is $QUIVRA_IIO_DEV/iio:deviceN, /dev by default,
// so that a fake device (a folder tree and a FIFO) can stand in for a real one.
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sensors/IioScan.h"
#include "platform/sensors/IioSource.h"

namespace sensors {

class IioBufferSource : public AccelerometerSource {
public:
    // The folder holding the device nodes: $QUIVRA_IIO_DEV if set, else /dev.
    static std::filesystem::path deviceNodes();

    // The device's buffer when it has one that we may use, else `polled` itself. A buffer that is
    // there but cannot be used (no access to the node, in use by another program, no trigger) is
    // logged in one line, saying what would fix it; one left enabled by a Quivra that is gone is
    // taken over (see takeOverIfLeft).
    static std::unique_ptr<AccelerometerSource> prefer(std::unique_ptr<IioSource> polled);

    ~IioBufferSource() override;

    // Polls sysfs, as the polled source does.
    bool read(Acceleration& out, std::string& error) override;
    // The device and ", buffered".
    std::string description() const override;

    bool isStreaming() const override { return true; }
    bool startStreaming(double rate, std::string& error) override;
    bool readStream(std::vector<Acceleration>& out, int timeoutMs, std::string& error) override;
    void stopStreaming() override;
    void setWakeFd(int fd) override { wakeFd_ = fd; }
    std::vector<double> availableRates() const override { return rates_; }

    // Puts back every device that is streaming (at exit, where the capture thread is not joined).
    static void restoreAll();

private:
    struct Changed {
        std::filesystem::path file;
        std::string before;
    };

    IioBufferSource(std::unique_ptr<IioSource> polled, std::filesystem::path scanDir, std::filesystem::path bufferDir);
    // Whether the buffer can be used (taking over one a Quivra left enabled); the reason (one
    // line) when it cannot.
    bool usable(std::string& reason);
    // A buffer found enabled is disabled, with a log line, when nobody reads it (checked by the
    // caller, who could open the node) and it is set up as Quivra sets it up: a Quivra that was
    // killed left it so. Any other enabled buffer is refused, the reason in `reason`.
    bool takeOverIfLeft(std::string& reason) const;
    bool setUp(double rate, std::string& error);
    bool change(const std::filesystem::path& file, const std::string& value, std::string& error);
    bool layOut(std::string& error);
    bool chooseClock(std::string& error);
    void stopLocked();
    bool fail(const std::string& why, std::string& error);

    std::unique_ptr<IioSource> polled_;
    const std::string name_; // the device, for messages
    const std::filesystem::path scanDir_, bufferDir_, node_;
    std::filesystem::path frequency_, trigger_; // empty: the device has none
    std::string ownTrigger_;                    // its data-ready trigger, if it has one
    std::vector<double> rates_;

    // The streaming state, used on the capture thread (and at exit): under lock_.
    std::mutex lock_;
    int fd_ = -1;
    int wakeFd_ = -1;              // the capture thread's: ends a wait early
    bool characterDevice_ = false; // a real node hands out whole scans only
    bool failed_ = false;
    std::string failure_;
    double rate_ = 0; // scans a second
    std::int64_t clockOffsetNs_ = 0;
    ScanDecoder decoder_;
    std::vector<std::uint8_t> buffer_;
    std::size_t held_ = 0; // bytes of an incomplete scan at the start of buffer_
    std::vector<Changed> changed_;
};

} // namespace sensors
