#pragma once
// The one accelerometer of the process. While it has a delegate and a finite, positive update
// interval it reads its source once per interval on the main thread and hands each reading to the
// delegate. Ticks follow steady-clock deadlines, so intervals that are not whole milliseconds
// (1/30 s) keep their exact average rate.
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <memory>

#include "platform/sensors/AccelerometerSource.h"

namespace sensors {

class Accelerometer;

class AccelerometerDelegate {
public:
    virtual ~AccelerometerDelegate() = default;
    virtual void accelerometerDidAccelerate(Accelerometer* accelerometer,
                                            const Acceleration& acceleration) = 0;
};

class Accelerometer : public QObject {
    Q_OBJECT
public:
    // The one accelerometer of the process; every call returns the same object. It lives until
    // the process ends.
    static Accelerometer* sharedAccelerometer();

    // Set at start-up; if never set, a simulated source is used. A new source also clears an
    // earlier failure, so delivery can resume.
    void setSource(std::unique_ptr<AccelerometerSource> source);
    AccelerometerSource* source() const;

    // The one receiver, not owned; nullptr stops delivery at once.
    void setDelegate(AccelerometerDelegate* delegate);
    AccelerometerDelegate* delegate() const;

    // Seconds between readings; the latest call wins and takes effect at once. An interval that
    // is not finite or not positive delivers nothing. 0.1 s until first set.
    void setUpdateInterval(double seconds);
    double updateInterval() const;

    // Reads the source once and hands the reading to the delegate (the timer's work).
    void deliverReading();

    // True while the timer is armed for a next reading.
    bool isDelivering() const;

    // Readings that were not numbers, or too large for a single-precision value, are never
    // delivered: they are counted here (and logged once).
    std::uint64_t droppedReadings() const { return dropped_; }
    // Whether a reading can be delivered: every axis a finite number within float range.
    static bool isUsable(const Acceleration& reading);

signals:
    // Emitted once when the device fails; delivery stops until a new source is set.
    void sourceFailed(const QString& message);

private:
    using SteadyClock = std::chrono::steady_clock;

    Accelerometer();
    bool canDeliver() const;
    SteadyClock::duration tickLength() const;
    void reschedule();
    void arm(SteadyClock::time_point deadline);
    void tick();

    std::unique_ptr<AccelerometerSource> source_;
    AccelerometerDelegate* delegate_ = nullptr;
    double interval_ = 0.1;
    bool failed_ = false;
    std::uint64_t dropped_ = 0;

    QTimer timer_;
    bool running_ = false;
    // The moment the current period began: the deadline of the last tick, or when delivery
    // started. The next tick is due one interval later.
    SteadyClock::time_point anchor_{};
    SteadyClock::time_point deadline_{};
};

} // namespace sensors
