#include "platform/sensors/Accelerometer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "platform/Log.h"
#include "platform/sensors/SimulatedSource.h"

namespace sensors {

namespace {
// Shorter intervals are run at this pace, so a tiny interval cannot flood the event loop.
constexpr std::chrono::microseconds shortestTick{1000};
// A tick this much before its deadline is a timer waking early; it waits for the rest.
constexpr std::chrono::microseconds earlyTolerance{1000};
} // namespace

Accelerometer* Accelerometer::sharedAccelerometer()
{
    // Never destroyed: readers may hold the pointer until the very end of the process.
    static Accelerometer* const shared = new Accelerometer;
    return shared;
}

Accelerometer::Accelerometer() : timer_(this)
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &Accelerometer::tick);
}

void Accelerometer::setSource(std::unique_ptr<AccelerometerSource> source)
{
    source_ = std::move(source);
    failed_ = false;
    reschedule();
}

AccelerometerSource* Accelerometer::source() const
{
    return source_.get();
}

void Accelerometer::setDelegate(AccelerometerDelegate* delegate)
{
    delegate_ = delegate;
    reschedule();
}

AccelerometerDelegate* Accelerometer::delegate() const
{
    return delegate_;
}

void Accelerometer::setUpdateInterval(double seconds)
{
    interval_ = seconds;
    reschedule();
}

double Accelerometer::updateInterval() const
{
    return interval_;
}

bool Accelerometer::isDelivering() const
{
    return running_;
}

bool Accelerometer::canDeliver() const
{
    return delegate_ && !failed_ && std::isfinite(interval_) && interval_ > 0;
}

Accelerometer::SteadyClock::duration Accelerometer::tickLength() const
{
    // Clamped before conversion: a finite but huge interval must not overflow the duration.
    constexpr double longest = 1e9; // about 32 years
    const double seconds = std::min(interval_, longest);
    const auto length = std::chrono::duration_cast<SteadyClock::duration>(
        std::chrono::duration<double>(seconds));
    return std::max<SteadyClock::duration>(length, shortestTick);
}

void Accelerometer::reschedule()
{
    if (!canDeliver()) {
        timer_.stop();
        running_ = false;
        return;
    }
    if (!running_) {
        anchor_ = SteadyClock::now();
        running_ = true;
    }
    // Measured from the start of the current period, so a new interval applies to the very next
    // reading, and repeated changes cannot postpone delivery indefinitely.
    arm(anchor_ + tickLength());
}

void Accelerometer::arm(SteadyClock::time_point deadline)
{
    deadline_ = deadline;
    using namespace std::chrono;
    const auto left = deadline - SteadyClock::now();
    // Rounded to the nearest millisecond, the resolution of the Qt timer; the deadlines, not the
    // waits, carry the exact rate. Very long waits are re-armed in steps.
    const auto wait = std::clamp<milliseconds::rep>(
        duration_cast<milliseconds>(left + microseconds(500)).count(), 0,
        std::numeric_limits<int>::max());
    timer_.start(milliseconds(wait));
}

void Accelerometer::tick()
{
    if (!canDeliver()) {
        running_ = false;
        return;
    }
    const auto now = SteadyClock::now();
    if (now + earlyTolerance < deadline_) {
        arm(deadline_);
        return;
    }
    const auto length = tickLength();
    // One late tick is caught up by the next deadline; after a longer stall the schedule starts
    // afresh rather than delivering the missed readings in a burst.
    anchor_ = (now - deadline_ > length) ? now : deadline_;
    deliverReading();
    // The delegate may have cleared itself, changed the interval or the source; reschedule()
    // reads the state as it is now.
    if (running_)
        reschedule();
}

void Accelerometer::deliverReading()
{
    if (!delegate_ || failed_)
        return;
    if (!source_)
        source_ = std::make_unique<SimulatedSource>();

    Acceleration reading;
    std::string error;
    if (!source_->read(reading, error)) {
        failed_ = true;
        reschedule();
        const std::string message =
            source_->description() + ": " + (error.empty() ? "read failed" : error);
        platform::log("accelerometer failed: " + message);
        // Last, since a receiver may replace the source.
        emit sourceFailed(QString::fromStdString(message));
        return;
    }
    if (!isUsable(reading)) {
        if (dropped_++ == 0)
            platform::log("accelerometer gave a reading that is not a number or out of range: dropped ("
                          + source_->description() + "), further ones are counted");
        return;
    }
    delegate_->accelerometerDidAccelerate(this, reading);
}

bool Accelerometer::isUsable(const Acceleration& reading)
{
    constexpr double largest = std::numeric_limits<float>::max();
    for (double v : {reading.x, reading.y, reading.z})
        if (!(std::fabs(v) <= largest)) return false; // also false for NaN
    return true;
}

} // namespace sensors
