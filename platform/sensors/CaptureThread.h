// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The capture thread of one accelerometer. It reads a polled source once per interval at
// steady-clock deadlines, or a streaming source batch by batch at the device's own pace, stamps
// each reading (the device's stamp when it has one, else the wall clock right after the read) and
// pushes it into a bounded queue that never blocks; then it wakes the window's thread through an
// eventfd.
//
// It never waits for another thread. Its settings arrive as one snapshot under a sequence count:
// a snapshot caught half written is simply taken at the next look, so a window thread preempted
// in the middle of a change cannot hold capture up. The window's thread waits for the capture
// thread where it must (to swap the source, to collect what was captured before a moment), never
// the other way round.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/sensors/AccelerometerSource.h"
#include "platform/sensors/ReadingQueue.h"

namespace sensors {

class CaptureThread {
public:
    explicit CaptureThread(ReadingQueue& queue);
    ~CaptureThread();
    CaptureThread(const CaptureThread&) = delete;
    CaptureThread& operator=(const CaptureThread&) = delete;

    // ---- the window's side (one thread) ----

    // What to capture from the next reading on: whether at all, and the seconds between readings
    // (for a streaming source, the rate it is started at). A capture that failed stays off until
    // the next publish with `capture` set.
    void publish(bool capture, double interval);
    // Stops capture and waits until the thread has let go of the source (a streaming device is
    // read empty and stopped first), so that the source can be replaced.
    void pause();
    // The source to read; only while paused (or before the first publish).
    void setSource(AccelerometerSource* source);
    // Waits at most `patience` until every reading stamped before `until` is in the queue: the
    // read in flight is finished, and a streaming device has been read up to that moment. False
    // when readings stamped before it may still come.
    bool waitForReadingsBefore(platform::Micros until, std::chrono::milliseconds patience);
    // Readable when the window should drain the queue; the window reads it empty first.
    int windowFd() const { return windowFd_; }
    // Why the source failed, once a failure item was taken from the queue.
    const std::string& failure() const { return failure_; }
    // Readings that were not numbers or beyond float range, and readings the full queue refused.
    std::uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }
    std::uint64_t overflowed() const { return overflowed_.load(std::memory_order_relaxed); }
    // Ends the thread (after pausing it) and joins it.
    void stop();

    // Tests: runs inside the settings' write section, as a window thread preempted there would.
    void setPublishHook(std::function<void()> hook) { publishHook_ = std::move(hook); }

    // Shorter intervals are run at this pace: 20,000 readings a second at most.
    static constexpr std::chrono::microseconds shortestTick{50};
    // The window's thread is woken at most this often while readings flow fast.
    static constexpr std::chrono::milliseconds wakeEvery{4};
    // A capture this late catches up on the readings it missed; later than this (or than one
    // interval, when that is longer), it starts its schedule afresh instead of reading in a burst.
    static constexpr std::chrono::milliseconds catchUpWithin{5};

private:
    using SteadyClock = std::chrono::steady_clock;
    struct Settings {
        bool capture = false;
        double interval = 0.1;
        std::uint64_t sequence = 0;
    };

    bool snapshot(Settings& out) const;
    void run(std::stop_token stop);
    void runPolled(const Settings& settings, SteadyClock::time_point& anchor, bool& onSchedule);
    void runStreaming(const Settings& settings);
    void endStreaming();
    // One read of a streaming device; false when it failed.
    bool readStream(int timeoutMs);
    void sleep(SteadyClock::duration longest);
    void wakeCapture();
    void push(const CapturedReading& item, bool wakeNow);
    void fail(const std::string& source, const std::string& error);

    ReadingQueue& queue_;
    int captureFd_ = -1; // wakes the capture thread: settings changed
    int windowFd_ = -1;  // wakes the window's thread: readings to take

    // The settings under a sequence count: odd while being written.
    std::atomic<std::uint64_t> sequence_{0};
    std::atomic<bool> capture_{false};
    std::atomic<double> interval_{0.1};
    std::atomic<bool> ending_{false};
    std::function<void()> publishHook_;

    std::atomic<AccelerometerSource*> source_{nullptr};
    // The sequence count of the settings under which the thread went idle (0: it is capturing).
    std::atomic<std::uint64_t> idleAt_{0};
    // The wall-clock moment the read in flight began (0: none in flight), for a polled source.
    std::atomic<platform::Micros> readingSince_{0};
    // The newest stamp pushed from a streaming device, and what the window waits for.
    std::atomic<platform::Micros> newestStreamed_{0};
    std::atomic<platform::Micros> wantedThrough_{0};
    std::atomic<bool> streaming_{false};

    std::atomic<std::uint64_t> dropped_{0};
    std::atomic<std::uint64_t> overflowed_{0};
    std::string failure_; // written before the failure item is pushed, read after it is taken
    std::uint64_t failedAt_ = 0;
    bool streamOn_ = false;
    double streamInterval_ = 0;
    std::vector<Acceleration> batch_;
    SteadyClock::time_point lastWake_{};
    std::jthread thread_;
};

} // namespace sensors
