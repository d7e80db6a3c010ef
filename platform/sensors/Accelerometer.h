// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An accelerometer as the program sees it, on the thread that owns it (the window's, or the
// event loop of `quivra record`): a source, the settings of capture, and one listener that gets
// every reading in order. The reading itself is taken on a capture thread of its own (see
// CaptureThread) and travels through a bounded queue; this side drains the queue when the capture
// thread signals (and at least every 10 ms while capturing), so a stalled owner delays readings
// but never loses them or skews their time stamps.
//
// Settings (source, interval, capture on or off) take effect from the next reading. No reading
// that was captured is left out: each reaches the listener, stamped with the moment it was
// taken, and the listener decides by that stamp what it belongs to.
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/sensors/AccelerometerSource.h"
#include "platform/sensors/CaptureThread.h"
#include "platform/sensors/ReadingQueue.h"

namespace sensors {

class Accelerometer;

class AccelerometerListener {
public:
    virtual ~AccelerometerListener() = default;
    virtual void accelerometerDidAccelerate(Accelerometer* accelerometer, const Acceleration& acceleration) = 0;
};

class Accelerometer : public QObject {
    Q_OBJECT
public:
    explicit Accelerometer(QObject* parent = nullptr);
    ~Accelerometer() override;

    // A new source also clears an earlier failure, so capture can resume. What the old source
    // captured is delivered first. Without one, a simulated source is used.
    void setSource(std::unique_ptr<AccelerometerSource> source);
    AccelerometerSource* source() const { return source_.get(); }
    // A device with a buffer of its own, read at its own pace.
    bool isStreaming() const { return source_ && source_->isStreaming(); }
    // The rates the source offers (empty: any rate the timer can keep).
    std::vector<double> availableRates() const { return source_ ? source_->availableRates() : std::vector<double>{}; }

    // The one receiver of readings, not owned; nullptr lets them go unheard.
    void setListener(AccelerometerListener* listener) { listener_ = listener; }

    // Seconds between readings (for a streaming source, the rate it is started at); applies from
    // the next reading, measured from the start of the current period. An interval that is not
    // finite or not positive captures nothing. 0.1 s until first set.
    void setUpdateInterval(double seconds);
    double updateInterval() const { return interval_; }
    // Capture on or off. Turning it on also retries a source that failed.
    void setCapturing(bool on);
    // True while readings are being taken.
    bool isCapturing() const { return capturing_ && !failed_ && usableInterval(); }

    // Hands every reading captured so far to the listener now.
    void deliverPending();
    // Hands every reading stamped before `until` to the listener now, waiting briefly for a read
    // in flight or for what a device's buffer holds; those stamped at or after it stay queued for
    // the next drain. False when, after that wait, readings stamped before it may still be on
    // their way.
    bool deliverThrough(platform::Micros until);
    static constexpr std::chrono::milliseconds handOverPatience{100};

    // Readings that were not numbers, or too large for a single-precision value, are never
    // delivered: they are counted here (and logged once).
    std::uint64_t droppedReadings() const { return capture_.dropped(); }
    // Readings lost because the queue was full: the owner's thread did not drain it for the
    // queue's whole length (over 10 s). Logged once; never silent.
    std::uint64_t overflowedReadings() const { return capture_.overflowed(); }
    // Whether a reading can be delivered: every axis a finite number within float range.
    static bool isUsable(const Acceleration& reading) { return sensors::isUsable(reading); }

    // The queue holds this many seconds at the fastest rate the capture is designed for.
    static constexpr double fastestRate = 10000.0;
    static constexpr double queueSeconds = 12.0;

    // Stops capture for good and joins its thread, then delivers what it had captured.
    void shutdown();

    // Tests: runs inside the write section of every change of settings.
    void setPublishHook(std::function<void()> hook) { capture_.setPublishHook(std::move(hook)); }

signals:
    // Emitted once when the device fails; capture stays off until it is turned on again or a new
    // source is set.
    void sourceFailed(const QString& message);

private:
    bool usableInterval() const;
    void apply();
    // Hands over what the queue holds, up to the first reading stamped at or after `until`.
    void drain(platform::Micros until = std::numeric_limits<platform::Micros>::max());
    void reportLosses();

    std::unique_ptr<AccelerometerSource> source_;
    AccelerometerListener* listener_ = nullptr;
    double interval_ = 0.1;
    bool capturing_ = false;
    bool failed_ = false;
    bool draining_ = false;
    bool shutDown_ = false;

    ReadingQueue queue_;
    CaptureThread capture_; // after the queue it fills
    std::uint64_t droppedLogged_ = 0, overflowLogged_ = 0;
    QSocketNotifier* notifier_ = nullptr;
    QTimer drainTimer_;
};

} // namespace sensors
