// SPDX-License-Identifier: GPL-3.0-or-later
// What recording says about its device: a failure stops it and says what to do, readings that do
// not arrive at the rate asked are said, and a rate the source does not offer is not forgotten.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <chrono>
#include <thread>

#include "support/MainScreen.h"

namespace {

// x counts the reads; from the n-th one on the device is gone.
class FailingSource : public sensors::AccelerometerSource {
public:
    explicit FailingSource(int failFrom) : failFrom_(failFrom) {}
    bool read(sensors::Acceleration& out, std::string& error) override
    {
        if (++reads_ >= failFrom_) {
            error = "the device is gone";
            return false;
        }
        out = {double(reads_), 0, -1};
        return true;
    }
    std::string description() const override { return "IIO accelerometer iio:device3 (test)"; }

private:
    int failFrom_, reads_ = 0;
};

// A device that ignores the rate it is asked for and gives 100 readings a second.
class HalfRateDevice : public sensors::AccelerometerSource {
public:
    bool read(sensors::Acceleration&, std::string& error) override
    {
        error = "streaming only";
        return false;
    }
    std::string description() const override { return "stubborn device"; }
    bool isStreaming() const override { return true; }
    bool startStreaming(double, std::string&) override
    {
        next_ = platform::Clock::now();
        return true;
    }
    bool readStream(std::vector<sensors::Acceleration>& out, int timeoutMs, std::string&) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 10)));
        for (const platform::Micros now = platform::Clock::now(); next_ <= now; next_ += 10000)
            out.push_back({0, 0, -1, next_});
        return true;
    }
    std::vector<double> availableRates() const override { return {100, 200}; }

private:
    platform::Micros next_ = 0;
};

} // namespace

TEST(RecordingWatch, AFailedDeviceStopsRecordingSaysWhatToDoAndKeepsWhatItGave)
{
    MainScreen s;
    s.shared->setSource(std::make_unique<FailingSource>(21));
    s.options().setFramerate(200);
    s.controller->startStopButtonPressed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !s.controller->recorder()->isRecording(); }, 3000));
    EXPECT_EQ(s.controller->startStopButton()->text(), "Record");
    EXPECT_EQ(s.controller->viewRefreshTimer(), nullptr);
    EXPECT_TRUE(s.controller->view()->findChild<QLabel*>("statusLabel")->toolTip().startsWith("Stopped"));
    const QString said = s.controller->view()->findChild<QLabel*>("warningLabel")->text().remove(QChar(0x200b));
    EXPECT_TRUE(said.contains("Recording stopped")) << said.toStdString();
    EXPECT_TRUE(said.contains("iio:device3 (test): the device is gone")) << said.toStdString();
    EXPECT_TRUE(said.contains("press Record")) << said.toStdString();
    // Every reading the device gave before it went is stored.
    EXPECT_EQ(s.active().gData().count(), 20);
}

TEST(RecordingWatch, ReadingsOffTheRateAskedAreSaidOnceInTheStatusLineAndTheLog)
{
    MainScreen s;
    s.shared->setSource(std::make_unique<HalfRateDevice>());
    s.options().setFramerate(200);
    Recorder* recorder = s.controller->recorder();
    recorder->setRateWatchWindow(300000); // judged over 0.3 s here, 5 s in the program
    recorder->rateLookMs = 50;
    s.controller->startStopButtonPressed();
    QLabel* status = s.controller->view()->findChild<QLabel*>("statusLabel");
    ASSERT_TRUE(QTest::qWaitFor([&] { return status->toolTip().startsWith("Off rate"); }, 3000))
        << status->toolTip().toStdString();
    EXPECT_TRUE(status->toolTip().contains("under 90 % of the 200 asked")) << status->toolTip().toStdString();
    EXPECT_TRUE(status->styleSheet().contains("color")) << "in the warning colour";
    QTest::qWait(300);
    s.controller->startStopButtonPressed();
    EXPECT_EQ(
        std::count_if(s.log.begin(), s.log.end(),
                      [](const std::string& line) { return line.starts_with("readings arrive off the rate asked"); }),
        1);
    EXPECT_FALSE(status->toolTip().startsWith("Off rate")); // stopped: nothing to judge
}

TEST(RecordingWatch, ARateTheSourceDoesNotOfferIsKeptAndTheNearestOneUsed)
{
    // Stored by a run on a device at 3,200 a second; this run's source is timed at 200 at most.
    MainScreen s;
    s.options().setFramerate(3200);
    s.controller->startStopButtonPressed();
    EXPECT_EQ(s.shared->updateInterval(), double(1.0f / 200.0f));
    EXPECT_EQ(s.controller->readingsPerRow(), 1);
    s.controller->startStopButtonPressed();
    EXPECT_EQ(s.options().framerate(), 3200);
    EXPECT_NE(std::find(s.log.begin(), s.log.end(),
                        "the stored rate of 3200 a second is not one quiet source offers: recording at 200 a second"),
              s.log.end());
}
