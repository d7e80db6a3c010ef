// SPDX-License-Identifier: GPL-3.0-or-later
// Recording that does not depend on the window: readings taken while the window's thread is busy
// (blocked, or exporting a long session) are all stored, at the times they were taken.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QSignalSpy>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "recording/Options.h"
#include "platform/sensors/SimulatedSource.h"
#include "support/MainScreen.h"
#include "support/Saved.h"

namespace {

void runFor(std::chrono::milliseconds duration)
{
    QEventLoop loop;
    QTimer::singleShot(duration, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

std::vector<store::SampleValues> samplesOf(const Session& session)
{
    std::vector<store::SampleValues> out;
    session.gData().forEach([&](const store::SampleValues& v) {
        out.push_back(v);
        return true;
    });
    return out;
}

} // namespace

// The simulated vibration, noting the moment of each read on the capture thread.
class NotedSource : public sensors::AccelerometerSource {
public:
    bool read(sensors::Acceleration& out, std::string& error) override
    {
        const bool ok = simulated_.read(out, error);
        std::lock_guard lock(mutex_);
        reads_.push_back(platform::Clock::now());
        return ok;
    }
    std::string description() const override { return "noted simulation"; }
    std::vector<platform::Micros> reads() const
    {
        std::lock_guard lock(mutex_);
        return reads_;
    }

private:
    sensors::SimulatedSource simulated_;
    mutable std::mutex mutex_;
    std::vector<platform::Micros> reads_;
};

TEST(Capture, AWindowBlockedForTwoSecondsLosesNoReadingNorItsTime)
{
    MainScreen s;
    auto source = std::make_unique<NotedSource>();
    NotedSource* noted = source.get();
    s.shared->setSource(std::move(source));
    s.options().setFramerate(200);
    s.controller->startStopButtonPressed();
    runFor(std::chrono::milliseconds(500));
    // The window's thread does nothing else for two seconds.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    runFor(std::chrono::milliseconds(500));
    s.controller->startStopButtonPressed();

    // Every reading taken is stored, stamped when it was taken (not when the window got to it).
    const auto all = samplesOf(s.active());
    const auto reads = noted->reads();
    ASSERT_EQ(all.size(), reads.size());
    for (std::size_t i = 0; i < all.size(); ++i)
        ASSERT_LE(std::abs(all[i].dateStamp - reads[i]), 20000) << "reading " << i;
    // On schedule: 200 a second throughout, the stall included (a machine that stalls the whole
    // process now and then may cost a few).
    EXPECT_NEAR(double(all.size()), 3.0 * 200, 30.0);
    std::vector<platform::Micros> steps;
    for (std::size_t i = 1; i < all.size(); ++i) steps.push_back(all[i].dateStamp - all[i - 1].dateStamp);
    std::nth_element(steps.begin(), steps.begin() + std::ptrdiff_t(steps.size() / 2), steps.end());
    EXPECT_NEAR(double(steps[steps.size() / 2]), 5000.0, 200.0);
}

TEST(Capture, ExportingAMillionSamplesWhileRecordingLeavesNoGap)
{
    MainScreen s;
    std::string error;
    s.shared->setSource(sensors::makeAccelerometerSource("simulated", error));
    Session active = s.active();
    store::ObjectContext* context = s.delegate.managedObjectContext();
    for (int i = 0; i < 1000000; ++i)
        context->insertSample(1700000000000000 + i * 5000LL, float(i % 97) / 7.0f, -0.015625f, -1.0f,
                              active.objectId());
    ASSERT_TRUE(s.delegate.saveNow());
    s.options().setFramerate(200);
    s.controller->startStopButtonPressed();
    runFor(std::chrono::milliseconds(300));
    const platform::Micros exportAt = platform::Clock::now();
    QSignalSpy exported(s.controller, &MainViewController::exported);
    s.controller->exportSession();
    ASSERT_TRUE(QTest::qWaitFor([&] { return exported.count() > 0; }, 60000));
    const platform::Micros exportDone = platform::Clock::now();
    runFor(std::chrono::milliseconds(300));
    s.controller->startStopButtonPressed();

    std::vector<platform::Micros> recorded;
    for (const auto& v : samplesOf(active))
        if (v.dateStamp > 1750000000000000) recorded.push_back(v.dateStamp);
    ASSERT_GT(recorded.size(), 100u);
    EXPECT_LT(recorded.front(), exportAt);
    // Readings keep their pace through the export. A capture that waited on the window would miss
    // the whole export's worth; a machine that stalls the process now and then costs a few.
    const auto during = std::count_if(recorded.begin(), recorded.end(),
                                      [&](platform::Micros t) { return t >= exportAt && t < exportDone; });
    EXPECT_GE(double(during), 0.9 * double(exportDone - exportAt) / 5000.0 - 2.0);
    platform::Micros longest = 0;
    for (std::size_t i = 1; i < recorded.size(); ++i) longest = std::max(longest, recorded[i] - recorded[i - 1]);
    EXPECT_LE(longest, 100000) << "export took " << (exportDone - exportAt) << " us";
}
