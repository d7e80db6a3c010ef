// The analysis panel as a user meets it: live while recording, the stored session when stopped,
// settings that survive a restart, and the analysis written out.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>

#include <cmath>
#include <numbers>

#include "AnalysisPanel.h"
#include "SpectrumPlot.h"
#include "support/MainScreen.h"
#include "support/Saved.h"

namespace {

// Readings of a 37.3 Hz sine of 0.5 g on x, 200 a second, stamped as if captured.
void feedSine(MainScreen& s, int count, platform::Micros start)
{
    for (int i = 0; i < count; ++i) {
        const double t = double(i) / 200.0;
        s.controller->recorder()->accelerometerDidAccelerate(
            s.shared, {0.5 * std::sin(2 * std::numbers::pi * 37.3 * t), 0.01, -1.0, start + i * 5000LL});
    }
}

} // namespace

TEST(AnalysisPanel, AnalysesLiveThenTheStoredSessionAndKeepsItsSettings)
{
    auto s = std::make_unique<MainScreen>();
    s->options().setFramerate(200);
    QToolButton* spectrum = s->controller->view()->findChild<QToolButton*>("spectrumButton");
    ASSERT_TRUE(spectrum);
    EXPECT_EQ(spectrum->shortcut(), QKeySequence("F"));
    const int narrow = s->delegate.window()->width();
    spectrum->click();
    AnalysisPanel* panel = s->controller->analysisPanel();
    ASSERT_TRUE(panel && panel->isVisibleTo(s->controller->view()));
    // The window grows by the panel as far as the screen allows, so the traces keep their width.
    EXPECT_GE(s->delegate.window()->width(), narrow);

    // Live: the sine read at its frequency, the zone of its velocity shown in colour.
    // Only the readings below: the sensor's own are never usable.
    class Silent : public sensors::AccelerometerSource {
        bool read(sensors::Acceleration& out, std::string&) override
        {
            out.x = std::nan("");
            return true;
        }
        std::string description() const override { return "silent"; }
    };
    s->shared->setSource(std::make_unique<Silent>());
    s->controller->startStopButtonPressed();
    const platform::Micros start = platform::Clock::now();
    feedSine(*s, 9000, start);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s->controller->shownAnalysis().blocksUsed > 0; }, 3000));
    const analysis::Result& live = s->controller->shownAnalysis();
    ASSERT_FALSE(live.axes[0].peaks.empty());
    EXPECT_NEAR(live.axes[0].peaks[0].frequency, 37.3, 0.02);
    EXPECT_NEAR(live.axes[0].levels.rms, 0.5 / std::sqrt(2.0), 0.01);
    // 0.5 g at 37.3 Hz is 14.8 mm/s RMS: zone D for a medium machine on a rigid foundation.
    QTableWidgetItem* zone = panel->levelsTable()->item(0, 4);
    ASSERT_TRUE(zone);
    EXPECT_EQ(zone->text(), "D");
    EXPECT_NE(zone->background().color(), QColor(Qt::white));
    EXPECT_TRUE(panel->plot()->readoutAt(37.3).startsWith("37.3")) << panel->plot()->readoutAt(37.3).toStdString();

    // Stopped: the stored session, analysed on a thread of its own.
    s->controller->startStopButtonPressed();
    ASSERT_TRUE(savedSoon(s->delegate.managedObjectContext()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return s->controller->shownAnalysis().samples == 9000; }, 10000));
    EXPECT_NEAR(s->controller->shownAnalysis().axes[0].peaks[0].frequency, 37.3, 0.02);
    EXPECT_EQ(s->controller->shownAnalysis().blocksSkipped, 0);

    // A new setting is stored and read back after a restart.
    auto* windowBox = panel->findChild<QComboBox*>("windowBox");
    windowBox->setCurrentIndex(windowBox->findText("flattop"));
    EXPECT_EQ(panel->options().settings.window, analysis::WindowKind::FlatTop);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return s->controller->shownAnalysis().settings.window == analysis::WindowKind::FlatTop; }, 10000));

    // The analysis on show, written out with its settings.
    s->controller->exportAnalysis();
    QFile csv(s->home.documentsDir() + "/" + QString::fromStdString(s->active().exportFileName()).replace(".asc", "-analysis.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    EXPECT_TRUE(lines[0].contains("window=flattop")) << lines[0].constData();
    EXPECT_TRUE(lines[2].startsWith("x,")) << lines[2].constData();
    EXPECT_EQ(lines.size(), 1 + 5 + 2 + 4096 / 2 + 1 + 1);

    // In the file, for the next start.
    ASSERT_TRUE(savedSoon(s->delegate.managedObjectContext()));
    std::string error;
    s->shared->setSource(sensors::makeAccelerometerSource("simulated", error));
    store::SessionReader reader;
    store::StoreError storeError;
    ASSERT_TRUE(reader.open(s->home.storePath().toStdString(), storeError));
    EXPECT_EQ(AnalysisOptions::fromStored(reader.settings()).settings.window, analysis::WindowKind::FlatTop);
}
