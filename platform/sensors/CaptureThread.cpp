// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sensors/CaptureThread.h"

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace sensors {

namespace {

std::chrono::steady_clock::duration tickLength(double interval)
{
    // Clamped before conversion: a finite but huge interval must not overflow the duration.
    constexpr double longest = 1e9; // about 32 years
    const auto length = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(std::min(interval, longest)));
    return std::max<std::chrono::steady_clock::duration>(length, CaptureThread::shortestTick);
}

void signal(int fd)
{
    const std::uint64_t one = 1;
    if (fd >= 0) [[maybe_unused]]
        ssize_t n = ::write(fd, &one, sizeof one);
}

void clear(int fd)
{
    std::uint64_t count = 0;
    if (fd >= 0) [[maybe_unused]]
        ssize_t n = ::read(fd, &count, sizeof count);
}

bool usableInterval(double interval)
{
    return std::isfinite(interval) && interval > 0;
}

} // namespace

CaptureThread::CaptureThread(ReadingQueue& queue) : queue_(queue)
{
    captureFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    windowFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
}

CaptureThread::~CaptureThread()
{
    stop();
    for (int fd : {captureFd_, windowFd_})
        if (fd >= 0) ::close(fd);
}

// ---- the window's side ----

void CaptureThread::publish(bool capture, double interval)
{
    // A sequence lock: odd while written. The capture thread never waits for it; a snapshot it
    // catches half written is taken at its next look.
    // Release stores (no fences, which ThreadSanitizer cannot follow): whoever reads a new value
    // also sees the odd count stored before it.
    const std::uint64_t sequence = sequence_.load(std::memory_order_relaxed);
    sequence_.store(sequence + 1, std::memory_order_relaxed);
    capture_.store(capture, std::memory_order_release);
    interval_.store(interval, std::memory_order_release);
    if (publishHook_) publishHook_();
    sequence_.store(sequence + 2, std::memory_order_release);
    wakeCapture();
}

bool CaptureThread::snapshot(Settings& out) const
{
    const std::uint64_t before = sequence_.load(std::memory_order_acquire);
    if (before & 1) return false;
    Settings read;
    // Acquire loads: the count read after them is at least as new as the values they saw.
    read.capture = capture_.load(std::memory_order_acquire);
    read.interval = interval_.load(std::memory_order_acquire);
    read.sequence = before;
    if (sequence_.load(std::memory_order_relaxed) != before) return false;
    out = read;
    return true;
}

void CaptureThread::pause()
{
    publish(false, interval_.load(std::memory_order_relaxed));
    const std::uint64_t asked = sequence_.load(std::memory_order_relaxed);
    while (thread_.joinable() && idleAt_.load(std::memory_order_acquire) < asked + 1)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
}

void CaptureThread::setSource(AccelerometerSource* source)
{
    if (source == source_.load(std::memory_order_relaxed)) return;
    if (source) source->setWakeFd(captureFd_);
    source_.store(source, std::memory_order_release);
}

bool CaptureThread::waitForReadingsBefore(platform::Micros until, std::chrono::milliseconds patience)
{
    wantedThrough_.store(until, std::memory_order_release);
    wakeCapture();
    const auto deadline = SteadyClock::now() + patience;
    for (;;) {
        if (idleAt_.load(std::memory_order_acquire) != 0) return true; // nothing in flight
        if (streaming_.load(std::memory_order_acquire)) {
            if (newestStreamed_.load(std::memory_order_acquire) >= until) return true;
        } else {
            // A read that began at or after the moment is stamped after it.
            const platform::Micros since = readingSince_.load(std::memory_order_acquire);
            if (since == 0 || since >= until) return true;
        }
        if (SteadyClock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

void CaptureThread::stop()
{
    if (!thread_.joinable()) return;
    ending_.store(true, std::memory_order_release);
    wakeCapture();
    thread_.join();
}

void CaptureThread::wakeCapture()
{
    signal(captureFd_);
}

// ---- the capture thread ----

void CaptureThread::run(std::stop_token)
{
    // Readings are due at exact moments: no timer slack, and real-time priority where the system
    // grants it (the thread sleeps nearly all the time, so it takes little from anyone).
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    sched_param priority{};
    priority.sched_priority = 10;
    ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &priority);
    Settings settings;
    SteadyClock::time_point anchor{}; // the start of the current period
    bool onSchedule = false;
    while (!ending_.load(std::memory_order_acquire)) {
        snapshot(settings); // half written: the settings of the last look stay
        AccelerometerSource* source = source_.load(std::memory_order_acquire);
        const bool wanted =
            settings.capture && settings.sequence != failedAt_ && source && usableInterval(settings.interval);
        if (!wanted) {
            endStreaming();
            onSchedule = false;
            idleAt_.store(settings.sequence + 1, std::memory_order_release);
            sleep(SteadyClock::duration::max());
            continue;
        }
        idleAt_.store(0, std::memory_order_release);
        if (source->isStreaming()) {
            onSchedule = false;
            runStreaming(settings);
        } else {
            endStreaming();
            runPolled(settings, anchor, onSchedule);
        }
    }
    endStreaming();
    idleAt_.store(sequence_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

void CaptureThread::runPolled(const Settings& settings, SteadyClock::time_point& anchor, bool& onSchedule)
{
    const auto length = tickLength(settings.interval);
    if (!onSchedule) {
        anchor = SteadyClock::now();
        onSchedule = true;
    }
    const auto deadline = anchor + length;
    // A change of settings before the deadline is taken in at once: the next reading is then due
    // one new interval after the start of this period.
    for (auto now = SteadyClock::now(); now < deadline; now = SteadyClock::now()) {
        sleep(deadline - now);
        Settings fresh;
        if (ending_.load(std::memory_order_acquire) || (snapshot(fresh) && fresh.sequence != settings.sequence)) return;
    }
    const auto now = SteadyClock::now();
    // A late tick is caught up by the next deadlines; after a longer stall (a source that
    // blocked) the schedule starts afresh rather than reading in a burst.
    anchor = (now - deadline > std::max<SteadyClock::duration>(length, catchUpWithin)) ? now : deadline;

    AccelerometerSource* source = source_.load(std::memory_order_acquire);
    readingSince_.store(platform::Clock::now(), std::memory_order_seq_cst);
    CapturedReading item;
    std::string error;
    const bool ok = source->read(item.reading, error);
    item.reading.timestamp = platform::Clock::now();
    if (ok) push(item, anchor + length - SteadyClock::now() >= wakeEvery);
    readingSince_.store(0, std::memory_order_release);
    if (!ok) {
        failedAt_ = settings.sequence;
        fail(source->description(), error);
    }
}

void CaptureThread::runStreaming(const Settings& settings)
{
    AccelerometerSource* source = source_.load(std::memory_order_acquire);
    if (!streamOn_ || streamInterval_ != settings.interval) {
        // A new rate needs the device set anew; what it holds was captured before and is read
        // first.
        endStreaming();
        std::string error;
        // Nothing the device gives from now on is older than now.
        newestStreamed_.store(platform::Clock::now(), std::memory_order_release);
        if (!source->startStreaming(1.0 / settings.interval, error)) {
            source->stopStreaming();
            failedAt_ = settings.sequence;
            fail(source->description(), error);
            return;
        }
        streamOn_ = true;
        streamInterval_ = settings.interval;
        streaming_.store(true, std::memory_order_release);
    }
    // The window waits for readings up to a moment: look at the device often until they are in.
    const bool hurry = wantedThrough_.load(std::memory_order_acquire) > newestStreamed_.load(std::memory_order_relaxed);
    if (!readStream(hurry ? 1 : 50)) failedAt_ = settings.sequence;
}

bool CaptureThread::readStream(int timeoutMs)
{
    AccelerometerSource* source = source_.load(std::memory_order_acquire);
    batch_.clear();
    std::string error;
    const bool ok = source->readStream(batch_, timeoutMs, error);
    clear(captureFd_);
    const platform::Micros now = platform::Clock::now();
    platform::Micros newest = newestStreamed_.load(std::memory_order_relaxed);
    for (Acceleration& reading : batch_) {
        CapturedReading item;
        item.reading = reading;
        if (item.reading.timestamp == 0) item.reading.timestamp = now;
        newest = std::max(newest, item.reading.timestamp);
        push(item, false);
    }
    newestStreamed_.store(newest, std::memory_order_release);
    // One batch, one wake: the window takes it in whole.
    if (!batch_.empty()) {
        lastWake_ = SteadyClock::now();
        signal(windowFd_);
    }
    if (ok) return true;
    source->stopStreaming();
    streamOn_ = false;
    streaming_.store(false, std::memory_order_release);
    fail(source->description(), error);
    return false;
}

void CaptureThread::endStreaming()
{
    if (!streamOn_) return;
    // What the device holds was captured before this moment: a stop or a new rate loses none
    // of it. A read that does not wait hands over what the device's own queue holds too.
    for (int reads = 0; reads < 64; ++reads)
        if (!readStream(0) || batch_.empty()) break;
    if (!streamOn_) return; // it failed on the way
    source_.load(std::memory_order_acquire)->stopStreaming();
    streamOn_ = false;
    streaming_.store(false, std::memory_order_release);
}

void CaptureThread::sleep(SteadyClock::duration longest)
{
    pollfd wake{captureFd_, POLLIN, 0};
    if (longest == SteadyClock::duration::max()) {
        ::ppoll(&wake, 1, nullptr, nullptr);
    } else {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::clamp<SteadyClock::duration>(longest, SteadyClock::duration::zero(), std::chrono::hours(1)));
        const timespec length{time_t(ns.count() / 1000000000), long(ns.count() % 1000000000)};
        ::ppoll(&wake, 1, &length, nullptr);
    }
    clear(captureFd_);
}

void CaptureThread::push(const CapturedReading& item, bool wakeNow)
{
    if (!isUsable(item.reading)) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    if (!queue_.push(item)) {
        overflowed_.fetch_add(1, std::memory_order_relaxed);
        signal(windowFd_);
        return;
    }
    // Readings far apart wake the window at once; fast ones in batches. The eventfd is written
    // after the push and read before the drain, so a wake-up is never lost between them.
    const auto now = SteadyClock::now();
    if (wakeNow || now - lastWake_ >= wakeEvery) {
        lastWake_ = now;
        signal(windowFd_);
    }
}

void CaptureThread::fail(const std::string& source, const std::string& error)
{
    failure_ = source + ": " + (error.empty() ? "read failed" : error);
    CapturedReading item;
    item.failure = true;
    // Readings already taken go first; the news of the failure must not be lost behind them.
    for (int tries = 0; !queue_.push(item) && tries < 5000; ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    signal(windowFd_);
}

} // namespace sensors
