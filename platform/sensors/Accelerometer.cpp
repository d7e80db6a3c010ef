#include "platform/sensors/Accelerometer.h"

#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/Log.h"
#include "platform/sensors/SimulatedSource.h"

namespace sensors {

namespace {
// Shorter intervals are run at this pace: 20,000 readings a second at most.
constexpr std::chrono::microseconds shortestTick{50};
// The window's thread is woken at most this often while readings flow fast; each wake takes
// everything captured since.
constexpr std::chrono::milliseconds wakeEvery{4};
// A capture thread this late catches up on the readings it missed; later than this (or than one
// interval, when that is longer), it starts its schedule afresh instead of reading in a burst.
constexpr std::chrono::milliseconds catchUpWithin{5};

std::chrono::steady_clock::duration tickLength(double interval)
{
    // Clamped before conversion: a finite but huge interval must not overflow the duration.
    constexpr double longest = 1e9; // about 32 years
    const auto length = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(std::min(interval, longest)));
    return std::max<std::chrono::steady_clock::duration>(length, shortestTick);
}
} // namespace

Accelerometer* Accelerometer::sharedAccelerometer()
{
    // Never destroyed: readers may hold the pointer until the very end of the process.
    static Accelerometer* const shared = new Accelerometer;
    return shared;
}

Accelerometer::Accelerometer() : queue_(std::size_t(fastestRate * queueSeconds))
{
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ >= 0) {
        notifier_ = new QSocketNotifier(wakeFd_, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] {
            std::uint64_t count = 0;
            [[maybe_unused]] ssize_t n = ::read(wakeFd_, &count, sizeof count);
            wakePending_.store(false, std::memory_order_release);
            drain();
        });
    }
    drainTimer_.setInterval(10);
    connect(&drainTimer_, &QTimer::timeout, this, &Accelerometer::drain);
}

void Accelerometer::shutdown()
{
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(lock_);
        shared_.stop = true;
    }
    changed_.notify_all();
    thread_.join();
}

// ---- the window's side ----

void Accelerometer::setSource(std::unique_ptr<AccelerometerSource> source)
{
    changeSettings([&] {
        {
            std::lock_guard lock(lock_);
            shared_.capture = false;
            shared_.failed = false;
        }
        changed_.notify_all();
        // Waits for a read in progress: the old source goes only when no read uses it.
        std::lock_guard inUse(sourceInUse_);
        readSource_ = nullptr;
        source_ = std::move(source);
        failed_ = false;
    });
}

AccelerometerSource* Accelerometer::source() const
{
    return source_.get();
}

void Accelerometer::setDelegate(AccelerometerDelegate* delegate)
{
    changeSettings([&] { delegate_ = delegate; });
}

AccelerometerDelegate* Accelerometer::delegate() const
{
    return delegate_;
}

void Accelerometer::setUpdateInterval(double seconds)
{
    changeSettings([&] { interval_ = seconds; });
}

double Accelerometer::updateInterval() const
{
    return interval_;
}

bool Accelerometer::isDelivering() const
{
    return capturing_.load(std::memory_order_acquire);
}

void Accelerometer::changeSettings(const std::function<void()>& change)
{
    // What was captured under the old settings is handled under them, unless the delegate is
    // changing them from inside its own call (see the header).
    drain();
    change();
    ++epoch_;
    publishSettings();
}

void Accelerometer::publishSettings()
{
    const bool capture = delegate_ && !failed_ && std::isfinite(interval_) && interval_ > 0;
    if (capture && !source_) source_ = std::make_unique<SimulatedSource>();
    // Only this thread writes readSource_; the lock is taken only to change it, since the capture
    // thread holds it through every read.
    if (readSource_ != source_.get()) {
        std::lock_guard inUse(sourceInUse_);
        readSource_ = source_.get();
    }
    if (capture) ensureThread();
    {
        std::lock_guard lock(lock_);
        shared_.capture = capture && !shared_.failed;
        shared_.interval = interval_;
        shared_.epoch = epoch_;
    }
    changed_.notify_all();
    if (capture) drainTimer_.start();
    else drainTimer_.stop();
    capturing_.store(capture, std::memory_order_release);
}

void Accelerometer::ensureThread()
{
    if (!thread_.joinable()) thread_ = std::jthread([this] { captureLoop(); });
}

void Accelerometer::deliverPending()
{
    drain();
}

void Accelerometer::drain()
{
    if (delivering_) return; // the outer drain goes on when the delegate returns
    delivering_ = true;
    CapturedReading item;
    while (queue_.pop(item)) {
        if (item.failure) {
            std::string message;
            {
                std::lock_guard lock(lock_);
                message = shared_.failure;
            }
            failed_ = true;
            ++epoch_;
            publishSettings();
            platform::log("accelerometer failed: " + message);
            // Last, since a receiver may replace the source.
            delivering_ = false;
            emit sourceFailed(QString::fromStdString(message));
            delivering_ = true;
            continue;
        }
        if (item.epoch != epoch_ || !delegate_) continue;
        delegate_->accelerometerDidAccelerate(this, item.reading);
    }
    delivering_ = false;
    const std::uint64_t dropped = droppedReadings(), overflowed = overflowedReadings();
    if (dropped > 0 && droppedLogged_ == 0)
        platform::log("accelerometer gave a reading that is not a number or out of range: dropped ("
                      + (source_ ? source_->description() : std::string("no source"))
                      + "), further ones are counted");
    if (overflowed > 0 && overflowLogged_ == 0)
        platform::log("readings were lost: the window did not take them for " + std::to_string(int(queueSeconds))
                      + " s and their queue overflowed; further losses are counted");
    droppedLogged_ = dropped;
    overflowLogged_ = overflowed;
}

bool Accelerometer::isUsable(const Acceleration& reading)
{
    constexpr double largest = std::numeric_limits<float>::max();
    for (double v : {reading.x, reading.y, reading.z})
        if (!(std::fabs(v) <= largest)) return false; // also false for NaN
    return true;
}

// ---- the capture thread ----

void Accelerometer::wakeWindow()
{
    if (wakeFd_ < 0 || wakePending_.exchange(true, std::memory_order_acq_rel)) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void Accelerometer::captureLoop()
{
    // Readings are due at exact moments: no timer slack, and real-time priority where the system
    // grants it (the thread sleeps nearly all the time, so it takes little from anyone).
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    sched_param priority{};
    priority.sched_priority = 10;
    ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &priority);
    std::unique_lock lock(lock_);
    bool running = false;
    SteadyClock::time_point anchor{}; // the start of the current period
    while (!shared_.stop) {
        if (!shared_.capture) {
            running = false;
            changed_.wait(lock, [this] { return shared_.capture || shared_.stop; });
            continue;
        }
        bool streaming = false;
        {
            std::lock_guard inUse(sourceInUse_);
            streaming = readSource_ && readSource_->isStreaming();
        }
        if (streaming) {
            captureStream(lock);
            running = false;
            continue;
        }
        const auto length = tickLength(shared_.interval);
        if (!running) {
            anchor = SteadyClock::now();
            running = true;
        }
        const auto deadline = anchor + length;
        const std::uint64_t epoch = shared_.epoch;
        // A change of settings before the deadline is taken in at once: the next reading is due
        // one new interval after the start of this period.
        if (changed_.wait_until(lock, deadline,
                                [&] { return shared_.epoch != epoch || !shared_.capture || shared_.stop; }))
            continue;
        const auto now = SteadyClock::now();
        // A late tick is caught up by the next deadlines; after a longer stall (a source that
        // blocked) the schedule starts afresh rather than reading in a burst.
        anchor = (now - deadline > std::max<SteadyClock::duration>(length, catchUpWithin)) ? now : deadline;
        lock.unlock();

        CapturedReading item;
        item.epoch = epoch;
        std::string error, name;
        bool ok = false, present = false;
        {
            std::lock_guard inUse(sourceInUse_);
            if ((present = readSource_ != nullptr)) {
                ok = readSource_->read(item.reading, error);
                if (!ok) name = readSource_->description();
            }
        }
        item.reading.timestamp = platform::Clock::now();
        // A source being replaced reads nothing: the new settings follow at once.
        if (present && !ok) fail(name, error);
        else if (present) push(item, anchor + length);
        lock.lock();
    }
}

void Accelerometer::captureStream(std::unique_lock<std::mutex>& lock)
{
    // The device keeps its own pace; settings are looked at between its batches.
    const double interval = shared_.interval;
    lock.unlock();
    std::string error, name;
    bool ok = false;
    {
        std::lock_guard inUse(sourceInUse_);
        if (readSource_) {
            name = readSource_->description();
            ok = readSource_->startStreaming(1.0 / interval, error);
        }
    }
    if (!ok) {
        if (!name.empty()) fail(name, error);
        lock.lock();
        return;
    }
    std::vector<Acceleration> batch;
    for (;;) {
        {
            std::lock_guard relock(lock_);
            // A new rate needs the device set anew; a new delegate only a new epoch.
            if (shared_.stop || !shared_.capture || shared_.interval != interval) break;
        }
        batch.clear();
        {
            std::lock_guard inUse(sourceInUse_);
            ok = readSource_ && readSource_->readStream(batch, 50, error);
        }
        // The device held these readings before a change of settings made meanwhile took effect:
        // they go under the settings of now (a stop still delivers none of them).
        std::uint64_t epoch = 0;
        {
            std::lock_guard relock(lock_);
            epoch = shared_.epoch;
        }
        const platform::Micros now = platform::Clock::now();
        const auto soon = SteadyClock::now() + wakeEvery;
        // One batch, one wake: the window takes it in whole.
        bool queued = false;
        for (Acceleration& reading : batch) {
            CapturedReading item;
            item.epoch = epoch;
            item.reading = reading;
            if (item.reading.timestamp == 0) item.reading.timestamp = now;
            queued = enqueue(item) || queued;
        }
        if (queued) wakeIfDue(soon);
        if (!ok) {
            fail(name, error);
            break;
        }
    }
    {
        std::lock_guard inUse(sourceInUse_);
        if (readSource_) readSource_->stopStreaming();
    }
    lock.lock();
}

void Accelerometer::push(const CapturedReading& item, SteadyClock::time_point nextDue)
{
    if (enqueue(item)) wakeIfDue(nextDue);
}

bool Accelerometer::enqueue(const CapturedReading& item)
{
    if (!isUsable(item.reading)) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    if (!queue_.push(item)) {
        overflowed_.fetch_add(1, std::memory_order_relaxed);
        wakeWindow();
        return false;
    }
    return true;
}

void Accelerometer::wakeIfDue(SteadyClock::time_point nextDue)
{
    const auto pushed = SteadyClock::now();
    // Readings far apart wake the window at once; fast ones in batches.
    if (pushed - lastWake_ >= wakeEvery || nextDue - pushed >= wakeEvery) {
        lastWake_ = pushed;
        wakeWindow();
    }
}

void Accelerometer::fail(const std::string& source, const std::string& error)
{
    {
        std::lock_guard lock(lock_);
        shared_.failure = source + ": " + (error.empty() ? "read failed" : error);
        shared_.capture = false;
        shared_.failed = true;
    }
    CapturedReading item;
    item.failure = true;
    // Readings already taken go first; the news of the failure must not be lost behind them.
    for (int tries = 0; !queue_.push(item) && tries < 5000; ++tries) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    wakeWindow();
}

} // namespace sensors
