// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <thread>
#include <vector>

#include "platform/Log.h"
#include "platform/sensors/Accelerometer.h"

using namespace std::chrono_literals;
using sensors::Acceleration;
using sensors::Accelerometer;
using SteadyClock = std::chrono::steady_clock;

namespace {

// Counts its reads in x; fails from a chosen read on.
class CountingSource : public sensors::AccelerometerSource {
public:
    explicit CountingSource(int failFrom = 0) : failFrom_(failFrom) {}
    bool read(Acceleration& out, std::string& error) override
    {
        if (++reads_ == failFrom_ || (failFrom_ && reads_ > failFrom_)) {
            error = "device gone";
            return false;
        }
        out = {double(reads_), 0, -1};
        return true;
    }
    std::string description() const override { return "counting source"; }

private:
    int failFrom_, reads_ = 0;
};

struct Recorder : sensors::AccelerometerListener {
    void accelerometerDidAccelerate(Accelerometer*, const Acceleration& a) override
    {
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        readings.push_back(a);
        times.push_back(SteadyClock::now());
        if (onReading) onReading(count());
    }
    int count() const { return int(readings.size()); }

    std::vector<Acceleration> readings;
    std::vector<SteadyClock::time_point> times;
    std::function<void(int)> onReading;
};

// Runs the event loop as the program does; QTest::qWait sleeps between its passes, which would
// hide readings that arrive in a burst.
void runEventLoop(std::chrono::milliseconds duration)
{
    QEventLoop loop;
    QTimer::singleShot(duration, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

class AccelerometerDelivery : public ::testing::Test {
protected:
    void SetUp() override
    {
        accelerometer->setListener(&recorder);
        accelerometer->setSource(std::make_unique<CountingSource>());
        accelerometer->setUpdateInterval(0.02);
    }
    void TearDown() override { platform::setLogSink({}); }
    // What the window's side does with a button: the readings captured before it first.
    void capture(bool on)
    {
        if (!on) accelerometer->deliverThrough(platform::Clock::now());
        accelerometer->setCapturing(on);
    }

    std::unique_ptr<Accelerometer> owned = std::make_unique<Accelerometer>();
    Accelerometer* accelerometer = owned.get();
    Recorder recorder;
};

} // namespace

TEST(Accelerometer, startsAtATenthOfASecondWithASimulation)
{
    Accelerometer fresh;
    Recorder recorder;
    fresh.setListener(&recorder);
    fresh.setCapturing(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.count() >= 1; }, 2000));
    EXPECT_EQ(fresh.updateInterval(), 0.1);
    EXPECT_EQ(fresh.source()->description(), "simulated vibration");
    EXPECT_LT(std::abs(recorder.readings[0].z + 1), 0.6);
}

TEST_F(AccelerometerDelivery, deliversAtAboutTheSetRateInSourceOrder)
{
    for (const double interval : {0.02, 1.0 / 30}) {
        recorder.readings.clear();
        accelerometer->setUpdateInterval(interval);
        capture(true);
        runEventLoop(600ms);
        capture(false);
        EXPECT_GE(recorder.count(), 0.6 / interval * 0.6) << interval;
        EXPECT_LE(recorder.count(), 0.6 / interval * 1.2 + 1) << interval;
    }
    for (int i = 1; i < recorder.count(); ++i) EXPECT_EQ(recorder.readings[i].x, recorder.readings[i - 1].x + 1);
}

TEST_F(AccelerometerDelivery, aStalledWindowLosesNoReadingNorTheirTimes)
{
    // The window's thread is blocked for 300 ms: capture goes on, and the readings taken meanwhile
    // all arrive afterwards, in order, stamped when they were taken.
    recorder.onReading = [](int n) {
        if (n == 2) std::this_thread::sleep_for(300ms);
    };
    capture(true);
    runEventLoop(500ms);
    capture(false);
    ASSERT_GE(recorder.count(), 20);
    std::vector<platform::Micros> steps;
    for (int i = 1; i < recorder.count(); ++i) {
        EXPECT_EQ(recorder.readings[i].x, recorder.readings[i - 1].x + 1);
        steps.push_back(recorder.readings[i].timestamp - recorder.readings[i - 1].timestamp);
    }
    std::nth_element(steps.begin(), steps.begin() + std::ptrdiff_t(steps.size() / 2), steps.end());
    EXPECT_NEAR(double(steps[steps.size() / 2]), 20000.0, 1500.0);
    // Readings taken during the stall arrived in a burst after it, yet carry the times they were
    // taken: spread across the stall, not bunched at its end.
    int last = 2;
    for (int i = 2; i < recorder.count(); ++i)
        if (recorder.times[i] - recorder.times[1] < 330ms) last = i;
    EXPECT_GE(last - 2, 10);
    EXPECT_GE(recorder.readings[last].timestamp - recorder.readings[2].timestamp, (last - 2) * 14000);
}

TEST_F(AccelerometerDelivery, aSourceThatStallsResynchronisesInsteadOfBursting)
{
    class Slow : public CountingSource {
    public:
        bool read(Acceleration& out, std::string& error) override
        {
            if (++reads_ == 3) std::this_thread::sleep_for(300ms);
            return CountingSource::read(out, error);
        }

    private:
        int reads_ = 0;
    };
    accelerometer->setSource(std::make_unique<Slow>());
    capture(true);
    runEventLoop(500ms);
    ASSERT_GE(recorder.count(), 5);
    // Fifteen ticks were missed during the stall; at most one is caught up.
    int soonAfterStall = 0;
    for (int i = 3; i < recorder.count(); ++i)
        soonAfterStall += recorder.readings[i].timestamp - recorder.readings[2].timestamp < 30000;
    EXPECT_LE(soonAfterStall, 2);
}

TEST_F(AccelerometerDelivery, noReadingTakenIsLeftOutWhateverChangesMeanwhile)
{
    // Reads take 2 ms, so that changes often come while one is in flight: every reading read is
    // delivered, in order, whether the rate changes 60 times, or capture is turned off (what was
    // taken before that is handed over at once, and nothing after).
    class Slow : public CountingSource {
    public:
        bool read(Acceleration& out, std::string& error) override
        {
            std::this_thread::sleep_for(2ms);
            ++reads;
            return CountingSource::read(out, error);
        }
        std::atomic<int> reads{0};
    };
    auto owned = std::make_unique<Slow>();
    Slow* source = owned.get();
    accelerometer->setSource(std::move(owned));
    accelerometer->setUpdateInterval(0.01);
    capture(true);
    for (int change = 0; change < 60; ++change) {
        runEventLoop(std::chrono::milliseconds(5 + change % 7));
        accelerometer->setUpdateInterval(change % 2 ? 0.01 : 0.0099);
    }
    const platform::Micros stoppedAt = platform::Clock::now();
    capture(false);
    // Everything stamped before the stop is delivered at once; a read in flight then is stamped
    // after it and comes with the next drain.
    for (const Acceleration& a : recorder.readings) EXPECT_LT(a.timestamp, stoppedAt);
    EXPECT_GE(recorder.count(), source->reads.load() - 1);
    runEventLoop(100ms);
    const int delivered = recorder.count();
    EXPECT_EQ(delivered, source->reads.load());
    EXPECT_GE(delivered, 25);
    for (int i = 1; i < recorder.count(); ++i) EXPECT_EQ(recorder.readings[i].x, recorder.readings[i - 1].x + 1);
    runEventLoop(100ms);
    EXPECT_EQ(recorder.count(), delivered);
    EXPECT_EQ(source->reads.load(), delivered);
}

TEST_F(AccelerometerDelivery, aChangeOfSettingsHeldUpHalfWayNeverHoldsUpCapture)
{
    // The owner's thread preempted in the middle of a change (here: asleep in it for 300 ms)
    // leaves capture on its schedule, under the settings from before.
    accelerometer->setUpdateInterval(0.005);
    capture(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.count() >= 3; }, 2000));
    accelerometer->setPublishHook([] { std::this_thread::sleep_for(300ms); });
    const int before = recorder.count();
    accelerometer->setUpdateInterval(0.005);
    accelerometer->setPublishHook({});
    accelerometer->deliverPending();
    EXPECT_GE(recorder.count() - before, 45); // 60 were due
    std::vector<platform::Micros> gaps;
    for (int i = before + 1; i < recorder.count(); ++i)
        gaps.push_back(recorder.readings[i].timestamp - recorder.readings[i - 1].timestamp);
    ASSERT_FALSE(gaps.empty());
    std::sort(gaps.begin(), gaps.end());
    EXPECT_LT(gaps[gaps.size() / 2], 7000);
}

TEST_F(AccelerometerDelivery, intervalThatIsNotFiniteAndPositiveDeliversNothing)
{
    capture(true);
    for (const double interval :
         {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN(), 0.0, -0.02}) {
        accelerometer->setUpdateInterval(interval);
        EXPECT_FALSE(accelerometer->isCapturing()) << interval;
        QTest::qWait(100);
        EXPECT_EQ(recorder.count(), 0) << interval;
    }
    accelerometer->setUpdateInterval(0.02);
    EXPECT_TRUE(QTest::qWaitFor([&] { return recorder.count() >= 2; }, 1000));
}

TEST_F(AccelerometerDelivery, newIntervalTakesEffectAtOnceEvenFromTheCallback)
{
    accelerometer->setUpdateInterval(10);
    capture(true);
    QTest::qWait(100);
    EXPECT_EQ(recorder.count(), 0);
    accelerometer->setUpdateInterval(0.01);
    EXPECT_TRUE(QTest::qWaitFor([&] { return recorder.count() >= 5; }, 300));

    capture(false);
    recorder.readings.clear();
    recorder.onReading = [&](int) { accelerometer->setUpdateInterval(10); };
    accelerometer->setUpdateInterval(0.01);
    capture(true);
    QTest::qWait(200);
    // The reading in flight when the callback changed the pace is still delivered.
    EXPECT_GE(recorder.count(), 1);
    EXPECT_LE(recorder.count(), 2);
    recorder.onReading = [&](int) { accelerometer->setUpdateInterval(0.01); };
    accelerometer->setUpdateInterval(0.01);
    EXPECT_TRUE(QTest::qWaitFor([&] { return recorder.count() >= 6; }, 300));
}

TEST_F(AccelerometerDelivery, sourceFailureIsLoggedAndSignalledOnceAndStopsDelivery)
{
    std::vector<std::string> log;
    platform::setLogSink([&](std::string_view line) { log.emplace_back(line); });
    std::vector<QString> signalled;
    const auto connection = QObject::connect(accelerometer, &Accelerometer::sourceFailed,
                                             [&](const QString& message) { signalled.push_back(message); });

    accelerometer->setSource(std::make_unique<CountingSource>(3));
    capture(true);
    QTest::qWait(300);
    EXPECT_FALSE(accelerometer->isCapturing());
    // A failed device is not retried by a new interval; only by capture turned on again, or a
    // new source.
    accelerometer->setUpdateInterval(0.01);
    accelerometer->deliverPending();
    QTest::qWait(100);
    QObject::disconnect(connection);

    EXPECT_EQ(recorder.count(), 2);
    EXPECT_EQ(log, std::vector<std::string>{"accelerometer failed: counting source: device gone"});
    EXPECT_EQ(signalled, std::vector<QString>{"counting source: device gone"});

    accelerometer->setSource(std::make_unique<CountingSource>());
    EXPECT_TRUE(QTest::qWaitFor([&] { return recorder.count() >= 4; }, 1000));
}

TEST_F(AccelerometerDelivery, readingsThatAreNotNumbersOrBeyondFloatRangeAreCountedNeverDelivered)
{
    // An IIO scale of 1e300, or a replayed 1e308, gives such readings; one of them must not spoil
    // what is stored.
    class Wild : public sensors::AccelerometerSource {
    public:
        bool read(Acceleration& out, std::string&) override
        {
            static const double inf = std::numeric_limits<double>::infinity();
            static const Acceleration readings[] = {{1, 2, 3},        {inf, 0, 0},    {0, std::nan(""), 0},
                                                    {0, 0, 1e308},    {3.5e38, 0, 0}, {-inf, -inf, -inf},
                                                    {0.5, -2, 3.4e38}};
            out = readings[next_++ % 7];
            return true;
        }
        std::string description() const override { return "wild source"; }

    private:
        int next_ = 0;
    };
    std::vector<std::string> log;
    platform::setLogSink([&](std::string_view line) { log.emplace_back(line); });
    accelerometer->setSource(std::make_unique<Wild>());
    accelerometer->setUpdateInterval(0.005);
    const std::uint64_t droppedBefore = accelerometer->droppedReadings();
    capture(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.count() >= 4; }, 3000));
    capture(false);
    platform::setLogSink({});
    for (const Acceleration& a : recorder.readings) EXPECT_TRUE(Accelerometer::isUsable(a));
    EXPECT_GE(accelerometer->droppedReadings() - droppedBefore, 2 * std::uint64_t(recorder.count() - 2) + 2);
    EXPECT_EQ(log.size(), 1u);
}

TEST_F(AccelerometerDelivery, aStreamingSourceKeepsItsOwnPaceAndTimeStamps)
{
    // A device with its own buffer: batches of readings stamped by the device, started at the rate
    // asked for, set anew when the rate changes, gone after 300 readings.
    class Device : public sensors::AccelerometerSource {
    public:
        bool read(Acceleration&, std::string& error) override
        {
            error = "polled";
            return false;
        }
        std::string description() const override { return "buffered device"; }
        bool isStreaming() const override { return true; }
        bool startStreaming(double rate, std::string&) override
        {
            rates.push_back(rate);
            return true;
        }
        bool readStream(std::vector<Acceleration>& out, int timeoutMs, std::string& error) override
        {
            if (timeoutMs == 0) return true; // what it holds comes in its batches
            std::this_thread::sleep_for(5ms);
            for (int i = 0; i < 10 && next < 300; ++i, ++next)
                out.push_back({double(next), 0, -1, 1000000 + next * 312});
            if (next < 300) return true;
            error = "device gone";
            return false;
        }
        void stopStreaming() override { ++stops; }
        std::vector<double> rates;
        int next = 0, stops = 0;
    };
    auto owned = std::make_unique<Device>();
    Device* device = owned.get();
    accelerometer->setSource(std::move(owned));
    accelerometer->setUpdateInterval(1.0 / 3200);
    capture(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.count() >= 50; }, 2000));
    accelerometer->setUpdateInterval(1.0 / 1600);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !accelerometer->isCapturing(); }, 3000));
    EXPECT_EQ(recorder.count(), 300); // everything read before the device went
    for (int i = 0; i < recorder.count(); ++i) {
        EXPECT_EQ(recorder.readings[i].x, double(i));
        EXPECT_EQ(recorder.readings[i].timestamp, 1000000 + i * 312);
    }
    ASSERT_EQ(device->rates.size(), 2u);
    EXPECT_NEAR(device->rates[0], 3200, 1e-6);
    EXPECT_NEAR(device->rates[1], 1600, 1e-6);
    EXPECT_EQ(device->stops, 2);
}
