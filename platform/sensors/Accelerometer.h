#pragma once
// The one accelerometer of the process. While it has a delegate and a finite, positive update
// interval, a capture thread of its own reads the source once per interval, paced by steady-clock
// deadlines (so intervals that are not whole milliseconds, 1/30 s, keep their exact average rate),
// and stamps each reading with the wall clock right after the read. Readings travel through a
// bounded queue that never blocks the capture thread; the window's thread drains it (woken by an
// eventfd, and at least every 10 ms) and hands each reading, in order, to the delegate. So a
// stalled window delays readings but never loses them or skews their time stamps.
//
// Settings (delegate, interval, source) belong to the window's thread. A change takes effect for
// the next reading: readings captured before it are delivered first (under the old settings),
// except when the change is made by the delegate while it handles a reading; then the readings
// captured after that one under the old settings are left out, as a delegate that lets go of the
// accelerometer expects no more of them.
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sensors/AccelerometerSource.h"
#include "platform/sensors/ReadingQueue.h"

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

    // The one receiver, not owned; nullptr stops delivery: nothing captured after this call is
    // delivered.
    void setDelegate(AccelerometerDelegate* delegate);
    AccelerometerDelegate* delegate() const;

    // Seconds between readings; the latest call wins and applies from the next reading, measured
    // from the start of the current period. An interval that is not finite or not positive
    // delivers nothing. 0.1 s until first set.
    void setUpdateInterval(double seconds);
    double updateInterval() const;

    // Hands every reading captured so far to the delegate now (the window's thread does this by
    // itself; actions call it first, so that what was captured before them is handled before).
    void deliverPending();

    // True while the capture thread takes readings.
    bool isDelivering() const;

    // Readings that were not numbers, or too large for a single-precision value, are never
    // delivered: they are counted here (and logged once).
    std::uint64_t droppedReadings() const { return dropped_.load(std::memory_order_relaxed); }
    // Readings lost because the queue was full: the window's thread did not drain it for the
    // queue's whole length (over 10 s). Logged once; never silent.
    std::uint64_t overflowedReadings() const { return overflowed_.load(std::memory_order_relaxed); }
    // Whether a reading can be delivered: every axis a finite number within float range.
    static bool isUsable(const Acceleration& reading);
    // The rates the source offers (empty: any rate the timer can keep).
    std::vector<double> availableRates() const { return source_ ? source_->availableRates() : std::vector<double>{}; }

    // The queue holds this many seconds at the fastest rate the capture is designed for.
    static constexpr double fastestRate = 10000.0;
    static constexpr double queueSeconds = 12.0;

    // Stops the capture thread for good (at the very end of the process).
    void shutdown();

signals:
    // Emitted once when the device fails; delivery stops until a new source is set.
    void sourceFailed(const QString& message);

private:
    using SteadyClock = std::chrono::steady_clock;

    Accelerometer();
    // The window's side: a change of settings, made known to the capture thread.
    void changeSettings(const std::function<void()>& change);
    void publishSettings();
    void ensureThread();
    void captureLoop();
    void captureStream(std::unique_lock<std::mutex>& lock);
    // Queues a reading (false when it was dropped or found the queue full), then wakes the window
    // when it is due.
    void push(const CapturedReading& item, SteadyClock::time_point nextDue);
    bool enqueue(const CapturedReading& item);
    void wakeIfDue(SteadyClock::time_point nextDue);
    void fail(const std::string& source, const std::string& error);
    void wakeWindow();
    void drain();

    std::unique_ptr<AccelerometerSource> source_;
    AccelerometerDelegate* delegate_ = nullptr;
    double interval_ = 0.1;
    bool failed_ = false;       // seen on the window's thread
    bool delivering_ = false;   // inside a delegate call
    std::uint64_t epoch_ = 1;   // bumped by every change of settings

    // Shared with the capture thread, under lock_; the source is read under sourceInUse_, so it
    // is never replaced in the middle of a read.
    std::mutex lock_;
    std::mutex sourceInUse_;
    AccelerometerSource* readSource_ = nullptr; // under sourceInUse_
    std::condition_variable changed_;
    struct Shared {
        bool capture = false;   // delegate, source and interval allow it
        double interval = 0.1;
        std::uint64_t epoch = 1;
        std::string failure;    // why the source failed
        bool failed = false;
        bool stop = false;
    } shared_;
    std::atomic<bool> capturing_{false};

    ReadingQueue queue_;
    std::atomic<std::uint64_t> dropped_{0};
    std::atomic<std::uint64_t> overflowed_{0};
    std::uint64_t droppedLogged_ = 0, overflowLogged_ = 0;
    int wakeFd_ = -1;
    std::atomic<bool> wakePending_{false};
    SteadyClock::time_point lastWake_{};
    QSocketNotifier* notifier_ = nullptr;
    QTimer drainTimer_;
    std::jthread thread_; // the capture thread; shutdown() ends it
};

} // namespace sensors
