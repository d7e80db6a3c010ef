// SPDX-License-Identifier: GPL-3.0-or-later
// A device faster than the slider: its rates above 200 offered as stops, the trace scrolling no
// faster than 200 rows a second with each row the envelope of its readings, and the analysis at
// the true rate.
#include <gtest/gtest.h>

#include <QApplication>
#include <QThread>
#include <QLabel>
#include <QTest>
#include <QToolButton>

#include <cmath>
#include <numbers>

#include "ui/AnalysisPanel.h"
#include "ui/GMeter.h"
#include "ui/Popover.h"
#include "ui/SettingsViewController.h"
#include "support/MainScreen.h"

namespace {

// A buffered device that offers rates up to 3,200 and delivers nothing by itself.
class FastDevice : public sensors::AccelerometerSource {
public:
    bool read(sensors::Acceleration&, std::string& error) override
    {
        error = "polled";
        return false;
    }
    std::string description() const override { return "fast device"; }
    bool isStreaming() const override { return true; }
    bool startStreaming(double, std::string&) override { return true; }
    bool readStream(std::vector<sensors::Acceleration>&, int timeoutMs, std::string&) override
    {
        QThread::msleep(unsigned(timeoutMs));
        return true;
    }
    std::vector<double> availableRates() const override { return {12.5, 25, 50, 100, 200, 400, 800, 1600, 3200}; }
};

} // namespace

TEST(FastRates, TheDevicesFasterRatesAreStopsAndTheTraceKeepsItsPace)
{
    MainScreen s;
    s.shared->setSource(std::make_unique<FastDevice>());
    s.controller->view()->findChild<QToolButton*>("settingsButton")->click();
    auto* popover = qobject_cast<Popover*>(QApplication::activePopupWidget());
    ASSERT_TRUE(popover);
    auto* settings = qobject_cast<SettingsViewController*>(popover->contentViewController());
    QStringList stops;
    QToolButton* fastest = nullptr;
    for (QToolButton* stop : settings->view()->findChild<QWidget*>("fasterRates")->findChildren<QToolButton*>()) {
        stops << stop->text();
        fastest = stop;
    }
    EXPECT_EQ(stops, QStringList({"400", "800", "1600", "3200"}));
    EXPECT_EQ(settings->sampleRateSlider()->maximumValue(), 200.0f); // the slider is as it was
    fastest->click();
    EXPECT_EQ(s.options().framerate(), 3200);
    EXPECT_EQ(settings->sampleRateLabel()->text(), "3200");
    popover->dismissPopoverAnimated(false);

    s.controller->spectrumButtonPressed();
    s.controller->startStopButtonPressed();
    EXPECT_EQ(s.shared->updateInterval(), double(1.0f / 3200.0f));
    // One second of readings: a 1,000 Hz tone on x with a spike in the middle.
    const platform::Micros start = platform::Clock::now();
    for (int i = 0; i < 3200; ++i) {
        const double x = (i == 1600 ? 3.0 : 0.2 * std::sin(2 * std::numbers::pi * 1000.0 * i / 3200.0));
        s.controller->recorder()->accelerometerDidAccelerate(s.shared, {x, 0, -1, start + i * 1000000LL / 3200});
    }
    // 200 rows a second, 16 readings each, every one with its envelope: the spike is in one.
    const SharedViewBuffer& rows = s.controller->gDataViewArray();
    EXPECT_EQ(s.controller->readingsPerRow(), 16);
    EXPECT_EQ(rows->size(), std::min<std::size_t>(200, std::size_t(s.controller->gMeterView()->width() - 118) / 5));
    EXPECT_TRUE(rows->back().envelope);
    int spikes = 0;
    for (const ViewRow& row : *rows) spikes += row.high[0] == 3.0f;
    EXPECT_EQ(spikes, 1);
    EXPECT_EQ(s.controller->gMeterView()->sampleCount(), 3200u / 16);

    // The analysis at the device's rate reaches its Nyquist frequency: the tone reads 1,000 Hz.
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.controller->shownAnalysis().hasSpectrum; }, 3000));
    const analysis::Result& result = s.controller->shownAnalysis();
    EXPECT_EQ(result.sampleRate, 3200.0);
    EXPECT_NEAR(result.frequencies.back(), 1600.0, 1e-6);
    ASSERT_FALSE(result.axes[0].peaks.empty());
    EXPECT_NEAR(result.axes[0].peaks[0].frequency, 1000.0, 1.0);
    s.controller->startStopButtonPressed();
    std::string error;
    s.shared->setSource(sensors::makeAccelerometerSource("simulated", error));
}
