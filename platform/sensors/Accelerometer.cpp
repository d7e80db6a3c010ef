// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sensors/Accelerometer.h"

#include <unistd.h>

#include <cmath>

#include "platform/Log.h"
#include "platform/sensors/SimulatedSource.h"

namespace sensors {

Accelerometer::Accelerometer(QObject* parent)
    : QObject(parent), queue_(std::size_t(fastestRate * queueSeconds)), capture_(queue_)
{
    if (capture_.windowFd() >= 0) {
        notifier_ = new QSocketNotifier(capture_.windowFd(), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] {
            // Read before the drain: a push after this read signals again.
            std::uint64_t count = 0;
            [[maybe_unused]] ssize_t n = ::read(capture_.windowFd(), &count, sizeof count);
            drain();
        });
    }
    drainTimer_.setInterval(10);
    connect(&drainTimer_, &QTimer::timeout, this, [this] { drain(); });
}

Accelerometer::~Accelerometer()
{
    listener_ = nullptr;
    shutdown();
}

void Accelerometer::shutdown()
{
    if (shutDown_) return;
    shutDown_ = true;
    capturing_ = false;
    drainTimer_.stop();
    capture_.stop();
    drain();
}

void Accelerometer::setSource(std::unique_ptr<AccelerometerSource> source)
{
    // The old source goes only when no read uses it; what it captured is handled first.
    capture_.pause();
    drain();
    capture_.setSource(nullptr);
    source_ = std::move(source);
    failed_ = false;
    apply();
}

void Accelerometer::setUpdateInterval(double seconds)
{
    interval_ = seconds;
    apply();
}

void Accelerometer::setCapturing(bool on)
{
    if (on) failed_ = false;
    capturing_ = on;
    apply();
}

bool Accelerometer::usableInterval() const
{
    return std::isfinite(interval_) && interval_ > 0;
}

void Accelerometer::apply()
{
    if (shutDown_) return;
    const bool capture = isCapturing();
    if (capture && !source_) source_ = std::make_unique<SimulatedSource>();
    capture_.setSource(source_.get());
    capture_.publish(capture, interval_);
    if (capture)
        drainTimer_.start();
    else
        drainTimer_.stop();
}

void Accelerometer::deliverPending()
{
    drain();
}

bool Accelerometer::deliverThrough(platform::Micros until)
{
    const bool complete = capture_.waitForReadingsBefore(until, handOverPatience);
    drain(until);
    return complete;
}

void Accelerometer::drain(platform::Micros until)
{
    if (draining_) return; // the outer drain goes on when the listener returns
    draining_ = true;
    CapturedReading item;
    for (const CapturedReading* next = queue_.front(); next; next = queue_.front()) {
        if (!next->failure && next->reading.timestamp >= until) break;
        queue_.pop(item);
        if (!item.failure) {
            if (listener_) listener_->accelerometerDidAccelerate(this, item.reading);
            continue;
        }
        const std::string message = capture_.failure();
        failed_ = true;
        apply();
        platform::log("accelerometer failed: " + message);
        // Last, since a receiver may replace the source or start again.
        draining_ = false;
        emit sourceFailed(QString::fromStdString(message));
        draining_ = true;
    }
    draining_ = false;
    reportLosses();
}

void Accelerometer::reportLosses()
{
    const std::uint64_t dropped = droppedReadings(), overflowed = overflowedReadings();
    if (dropped > 0 && droppedLogged_ == 0)
        platform::log("accelerometer gave a reading that is not a number or out of range: dropped ("
                      + (source_ ? source_->description() : std::string("no source")) + "), further ones are counted");
    if (overflowed > 0 && overflowLogged_ == 0)
        platform::log("readings were lost: they were not taken for " + std::to_string(int(queueSeconds))
                      + " s and their queue overflowed; further losses are counted");
    droppedLogged_ = dropped;
    overflowLogged_ = overflowed;
}

} // namespace sensors
