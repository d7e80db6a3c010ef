// SPDX-License-Identifier: GPL-3.0-or-later
// Every action takes effect at the moment of the tap: a reading stamped before it belongs to the
// state before it (the old session, the cleared samples, stored before a stop, never the tare),
// one stamped after it to the state after, however late either reaches the window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "ui/LoadSessionPopoverController.h"
#include "ui/Popover.h"
#include "platform/sensors/SimulatedSource.h"
#include "sensors/FakeIio.h"
#include "support/MainScreen.h"

using namespace std::chrono_literals;
using platform::Micros;

namespace {

void runFor(std::chrono::milliseconds duration)
{
    QEventLoop loop;
    QTimer::singleShot(duration, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

std::vector<Micros> stampsOf(const Session& session)
{
    std::vector<Micros> out;
    session.gData().forEach([&](const store::SampleValues& v) {
        out.push_back(v.dateStamp);
        return true;
    });
    return out;
}

long countIn(const std::vector<Micros>& stamps, Micros from, Micros to)
{
    return long(std::count_if(stamps.begin(), stamps.end(), [&](Micros t) { return t >= from && t < to; }));
}

// The window's thread busy for 100 ms, then a tap: returns the moment just before the tap.
Micros busyThenTap()
{
    std::this_thread::sleep_for(100ms);
    return platform::Clock::now();
}

// Forwards to a real source, noting each rate it is started at.
class NotedStarts : public sensors::AccelerometerSource {
public:
    explicit NotedStarts(std::unique_ptr<AccelerometerSource> inner) : inner_(std::move(inner)) {}
    bool read(sensors::Acceleration& out, std::string& error) override { return inner_->read(out, error); }
    std::string description() const override { return inner_->description(); }
    bool isStreaming() const override { return inner_->isStreaming(); }
    bool startStreaming(double rate, std::string& error) override
    {
        rates.push_back(rate);
        return inner_->startStreaming(rate, error);
    }
    bool readStream(std::vector<sensors::Acceleration>& out, int timeoutMs, std::string& error) override
    {
        return inner_->readStream(out, timeoutMs, error);
    }
    void stopStreaming() override { inner_->stopStreaming(); }
    void setWakeFd(int fd) override { inner_->setWakeFd(fd); }
    std::vector<double> availableRates() const override { return inner_->availableRates(); }

    std::vector<double> rates; // read once the capture has stopped

private:
    std::unique_ptr<AccelerometerSource> inner_;
};

} // namespace

TEST(TapMoment, EverySessionActionHandsOverWhatWasCapturedBeforeIt)
{
    // At 200 a second with the window busy for 100 ms before each tap: the 20 readings taken
    // meanwhile stay with the session they were captured for, whichever action comes.
    MainScreen s;
    s.shared->setSource(std::make_unique<sensors::SimulatedSource>());
    s.options().setFramerate(200);
    Session older = s.active();
    s.controller->startNewSessionPressed();
    s.controller->startStopButtonPressed();

    // A session chosen in the browser takes nothing captured before the tap.
    runFor(200ms);
    Session before = s.active();
    s.controller->loadSessionButtonPressed();
    auto* browser = qobject_cast<LoadSessionPopoverController*>(
        qobject_cast<Popover*>(QApplication::activePopupWidget())->contentViewController());
    Micros tap = busyThenTap();
    browser->didSelectRow(0);
    ASSERT_EQ(s.active(), older);
    runFor(100ms);
    EXPECT_GE(countIn(stampsOf(before), tap - 100000, tap), 15);
    EXPECT_EQ(countIn(stampsOf(older), 0, tap), 0);

    // Deleting the active session takes what was captured before the tap with it, and Undo
    // brings that back too.
    s.controller->loadSessionButtonPressed();
    browser = qobject_cast<LoadSessionPopoverController*>(
        qobject_cast<Popover*>(QApplication::activePopupWidget())->contentViewController());
    tap = busyThenTap();
    browser->commitEditingStyle(0);
    runFor(300ms); // the deletion's follow-up has chosen the next active session
    ASSERT_TRUE(s.active());
    EXPECT_NE(s.active(), older);
    EXPECT_EQ(countIn(stampsOf(s.active()), tap - 100000, tap), 0);
    s.controller->undoButtonPressed();
    ASSERT_TRUE(s.delegate.saveNow()); // rows in the trash come back with a save
    ASSERT_TRUE(older);
    EXPECT_GE(countIn(stampsOf(older), tap - 100000, tap), 15);

    // New and Clear alike.
    Session current = s.active();
    tap = busyThenTap();
    s.controller->startNewSessionPressed();
    EXPECT_GE(countIn(stampsOf(current), tap - 100000, tap), 15);
    runFor(200ms);
    tap = busyThenTap();
    s.controller->deleteSessionPressed();
    runFor(100ms);
    EXPECT_EQ(countIn(stampsOf(s.active()), 0, tap), 0);
    s.controller->startStopButtonPressed();
}

TEST(TapMoment, ABufferedDeviceAt3200ASecondFollowsTheTapsByTimeStamp)
{
    fake::Tree tree;
    tree.addBuffered(0, "fake");
    MainScreen s;
    std::string error;
    auto noted = std::make_unique<NotedStarts>(sensors::makeAccelerometerSource("iio:device0", error));
    NotedStarts* device = noted.get();
    ASSERT_TRUE(error.empty()) << error;
    s.shared->setSource(std::move(noted));
    s.options().setFramerate(3200);

    // The device's side: every 5 ms the scans that came due, stamped on the wall clock, as a
    // kernel with a watermark hands them out; x counts the scans.
    const std::int64_t t0 = std::int64_t(platform::Clock::systemNow()) * 1000;
    const auto stampOf = [&](long i) { return Micros((t0 + i * 312'500) / 1000); };
    std::atomic<long> written{0};
    std::jthread writer([&](std::stop_token stop) {
        fake::Feeder feeder(tree.node(0), tree.path("sys/iio:device0/buffer/enable"));
        if (!feeder.connect()) return;
        feeder.reconnect = 0ms; // the device goes with the stop
        std::string batch;
        long i = 0;
        while (!stop.stop_requested()) {
            std::this_thread::sleep_for(5ms);
            const std::int64_t now = std::int64_t(platform::Clock::systemNow()) * 1000;
            batch.clear();
            for (; t0 + i * 312'500 <= now; ++i) batch += fake::scan16(int(i % 20000), 0, -2048, t0 + i * 312'500);
            if (!feeder.write(batch)) return;
            written = i;
        }
    });

    s.controller->startStopButtonPressed();
    runFor(200ms);
    // Five new sessions: each holds exactly the scans stamped from its start to the next one's.
    std::vector<Session> sessions{s.active()};
    for (int k = 0; k < 5; ++k) {
        runFor(60ms);
        s.controller->startNewSessionPressed();
        sessions.push_back(s.active());
    }
    runFor(60ms);
    // Clear: what was stamped before the tap goes, what comes after stays.
    const Micros clearFrom = platform::Clock::now();
    s.controller->deleteSessionPressed();
    const Micros clearTo = platform::Clock::now();
    runFor(60ms);
    // Stop: everything stamped before the tap is stored, what the device still held included.
    const Micros stopFrom = platform::Clock::now();
    s.controller->startStopButtonPressed();
    const Micros stopTo = platform::Clock::now();
    const std::vector<Micros> afterClear = stampsOf(sessions.back());
    s.controller->undoButtonPressed();
    writer.request_stop();
    ASSERT_TRUE(s.delegate.saveNow());

    for (std::size_t k = 1; k < sessions.size(); ++k) {
        const std::vector<Micros> stamps = stampsOf(sessions[k - 1]);
        ASSERT_FALSE(stamps.empty());
        EXPECT_LT(stamps.back(), sessions[k].dateStamp()) << "session " << k - 1;
        if (k > 1) {
            EXPECT_GE(stamps.front(), sessions[k - 1].dateStamp()) << "session " << k - 1;
        }
    }
    EXPECT_TRUE(std::all_of(afterClear.begin(), afterClear.end(), [&](Micros t) { return t >= clearFrom; }));
    EXPECT_FALSE(afterClear.empty());
    // Every scan from the first one stored to the stop, exactly once, in its session.
    std::vector<Micros> all;
    for (const Session& session : sessions) {
        const std::vector<Micros> stamps = stampsOf(session);
        all.insert(all.end(), stamps.begin(), stamps.end());
    }
    ASSERT_FALSE(all.empty());
    std::sort(all.begin(), all.end());
    EXPECT_LT(all.back(), stopTo);
    long first = 0;
    while (stampOf(first) < all.front()) ++first;
    std::vector<Micros> expected;
    for (long i = first; stampOf(i) < stopFrom; ++i) expected.push_back(stampOf(i));
    ASSERT_GE(all.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), all.begin()))
        << all.size() << " stored, " << expected.size() << " expected";
    EXPECT_LE(clearTo - clearFrom, 120000); // the hand-over waits for the device, briefly

    // The device was started once, at the rate asked for.
    ASSERT_EQ(device->rates.size(), 1u);
    EXPECT_NEAR(device->rates[0], 3200.0, 0.01);
}

TEST(TapMoment, ATareIsNeverAReadingTakenBeforeItWasAsked)
{
    fake::Tree tree;
    tree.addBuffered(0, "fake");
    MainScreen s;
    std::string error;
    s.shared->setSource(sensors::makeAccelerometerSource("iio:device0", error));
    ASSERT_TRUE(error.empty()) << error;
    s.options().setFramerate(3200);
    // The device hands out a scan stamped 40 ms back with every batch: the kernel's buffer still
    // holds it when the tare is asked for.
    const std::int64_t t0 = std::int64_t(platform::Clock::systemNow()) * 1000;
    std::jthread writer([&](std::stop_token stop) {
        fake::Feeder feeder(tree.node(0), tree.path("sys/iio:device0/buffer/enable"));
        if (!feeder.connect()) return;
        feeder.reconnect = 0ms; // the device goes with the stop
        for (long i = 0; !stop.stop_requested();) {
            std::this_thread::sleep_for(5ms);
            const std::int64_t due = std::int64_t(platform::Clock::systemNow()) * 1000 - 40'000'000;
            std::string batch;
            for (; t0 + i * 312'500 <= due; ++i) batch += fake::scan16(int(i % 20000), 0, -2048, t0 + i * 312'500);
            if (!feeder.write(batch)) return;
        }
    });
    s.controller->startStopButtonPressed();
    runFor(200ms);
    const Micros asked = platform::Clock::now();
    s.controller->tareButtonPressed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !s.controller->tareAccelerometer(); }, 3000));
    s.controller->startStopButtonPressed();
    writer.request_stop();
    // The tare is the first scan stamped at or after the request: its x counts the scans.
    const float tareX = s.options().tareX();
    const long index = std::lround(double(tareX) * 9.80665 / 0.5);
    const Micros stamp = Micros((t0 + index * 312'500) / 1000);
    EXPECT_GE(stamp, asked);
    EXPECT_LT(stamp, asked + 5000);
    const std::vector<Micros> stored = stampsOf(s.active());
    EXPECT_EQ(std::count(stored.begin(), stored.end(), stamp), 0); // the tare is no sample
    EXPECT_GT(countIn(stored, asked, asked + 1'000'000), 0);       // and recording went on
}
