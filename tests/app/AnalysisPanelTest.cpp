// SPDX-License-Identifier: GPL-3.0-or-later
// The analysis panel as a user meets it: live while recording, the stored session when stopped,
// settings that survive a restart, and the analysis written out.
#include <gtest/gtest.h>

#include <algorithm>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>

#include <sqlite3.h>

#include <cmath>
#include <numbers>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "ui/AnalysisPanel.h"
#include "ui/SpectrumPlot.h"
#include "analysis/StreamAnalyser.h"
#include "support/MainScreen.h"
#include "support/OpenedUrls.h"
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

// A sensor whose own readings are never usable, so that only a test's readings count.
class Silent : public sensors::AccelerometerSource {
    bool read(sensors::Acceleration& out, std::string&) override
    {
        out.x = std::nan("");
        return true;
    }
    std::string description() const override { return "silent"; }
};

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
    AnalysisPanel* panel = s->delegate.window()->findChild<AnalysisPanel*>();
    ASSERT_TRUE(panel && panel->isVisibleTo(s->controller->view()));
    // The window grows by the panel as far as the screen allows, so the traces keep their width.
    EXPECT_GE(s->delegate.window()->width(), narrow);

    // Live: the sine read at its frequency, the zone of its velocity shown in colour.
    // Only the readings below: the sensor's own are never usable.
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

    // The analysis on show, written out with its settings. A temporary file left by an export
    // that was killed goes; one still being written (locked by its writer) stays.
    const QString name = QString::fromStdString(s->active().exportFileName()).replace(".asc", "-analysis.csv");
    const QString abandoned = s->home.documentsDir() + "/." + name + ".Ab12Cd";
    const QString busy = s->home.documentsDir() + "/." + name + ".Busy01";
    QDir().mkpath(s->home.documentsDir());
    for (const QString& file : {abandoned, busy}) {
        QFile left(file);
        ASSERT_TRUE(left.open(QIODevice::WriteOnly));
    }
    const int held = ::open(busy.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    s->controller->exportAnalysis();
    EXPECT_FALSE(QFile::exists(abandoned));
    EXPECT_TRUE(QFile::exists(busy));
    ::close(held);
    QFile csv(s->home.documentsDir() + "/" + name);
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

// The panel names what it analyses: how much of the live stream there is, the one zero-padded
// block before the first whole one, the Nyquist frequency, and a zone that is no ISO verdict
// because the rate cuts the band short (at the default 30 a second a 23.5 Hz hum reads 6.5 Hz).
TEST(AnalysisPanel, SaysWhatItAnalysesAndWhenAZoneIsNoVerdict)
{
    auto s = std::make_unique<MainScreen>();
    ASSERT_EQ(s->options().framerate(), 30);
    s->controller->view()->findChild<QToolButton*>("spectrumButton")->click();
    AnalysisPanel* panel = s->delegate.window()->findChild<AnalysisPanel*>();
    auto* source = panel->findChild<QLabel*>("sourceLabel");
    auto* status = panel->findChild<QLabel*>("statusLabel");
    ASSERT_TRUE(source && status);
    s->shared->setSource(std::make_unique<Silent>());
    s->controller->startStopButtonPressed();
    const platform::Micros start = platform::Clock::now();
    auto feedHum = [&](int from, int to) {
        for (int i = from; i < to; ++i)
            s->controller->recorder()->accelerometerDidAccelerate(
                s->shared, {0.2 * std::sin(2 * std::numbers::pi * 23.5 * i / 30.0), 0.0, -1.0, start + i * 33333LL});
    };
    feedHum(0, 540); // 18 s
    ASSERT_TRUE(QTest::qWaitFor([&] { return s->controller->shownAnalysis().samples == 540; }, 3000));
    EXPECT_EQ(source->text(), "Live, the newest 18 s");
    EXPECT_TRUE(status->text().contains("Nyquist 15 Hz")) << status->text().toStdString();
    EXPECT_TRUE(status->text().contains("one zero-padded partial block of 540 samples"))
        << status->text().toStdString();
    EXPECT_FALSE(status->text().contains("0 blocks"));
    EXPECT_TRUE(status->text().contains("over 10-15 Hz: zones not an ISO 10816 verdict"))
        << status->text().toStdString();
    EXPECT_TRUE(status->text().contains("2,000 samples a second")) << status->text().toStdString();
    EXPECT_NEAR(s->controller->shownAnalysis().axes[0].peaks.at(0).frequency, 6.5, 0.05);
    QTableWidgetItem* zone = panel->levelsTable()->item(0, 4);
    ASSERT_TRUE(zone);
    EXPECT_EQ(zone->background().color(), QColor(0xe5, 0xe7, 0xeb)); // greyed, not a zone's colour
    EXPECT_TRUE(zone->toolTip().contains("not an ISO 10816 verdict")) << zone->toolTip().toStdString();
    EXPECT_TRUE(panel->levelsTable()->horizontalHeaderItem(3)->text().contains("RMS"));

    // A block of 256 is one block, said so.
    auto* sizeBox = panel->findChild<QComboBox*>("sizeBox");
    sizeBox->setCurrentIndex(sizeBox->findText("256"));
    feedHum(540, 800);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s->controller->shownAnalysis().blocksUsed == 1; }, 3000));
    EXPECT_TRUE(status->text().contains("· 1 block ·")) << status->text().toStdString();
    s->controller->startStopButtonPressed();
}

// The legend never covers the curves, and the strongest peak's name is read whole even at the
// plot's edge (50 Hz at 3,200 a second sits at its very left).
TEST(AnalysisPanel, LegendAndPeakNamesStayClearOfTheEdges)
{
    analysis::Settings settings;
    analysis::StreamAnalyser analyser(settings, 3200.0);
    for (int i = 0; i < 16384; ++i) {
        const double t = i / 3200.0;
        analyser.add(1700000000000000 + i * 312, float(0.3 * std::sin(2 * std::numbers::pi * 50 * t)),
                     float(0.01 * std::sin(2 * std::numbers::pi * 1590 * t)), -1.0f);
    }
    SpectrumPlot plot;
    plot.resize(520, 320);
    plot.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&plot));
    plot.showResult(analyser.result());
    plot.replot();
    const QRect area = plot.axisRect()->rect();
    EXPECT_FALSE(plot.legend->outerRect().intersects(area));
    const QList<QCPItemText*> labels = plot.findChildren<QCPItemText*>("peakLabel");
    ASSERT_EQ(labels.size(), 2);
    for (QCPItemText* label : labels) {
        const QRectF box(label->topLeft->pixelPosition(), label->bottomRight->pixelPosition());
        EXPECT_TRUE(QRectF(area).contains(box)) << label->text().toStdString();
    }
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [](QCPItemText* l) { return l->text() == "50.00 Hz"; }));
}

// Report… writes the active session's saved samples as a PDF beside its export, with the
// program's own `quivra report`, and the notice opens the report itself.
TEST(AnalysisPanel, ReportWritesThePdfBesideTheExportAndItsNoticeOpensIt)
{
    if (!QUIVRA_GUI) GTEST_SKIP() << "the window";
    auto s = std::make_unique<MainScreen>();
    s->controller->setReportProgram(QUIVRA_BINARY_DIR "/quivra");
    store::ObjectContext& context = *s->delegate.managedObjectContext();
    const platform::Micros start = s->active().dateStamp();
    for (int i = 0; i < 4000; ++i)
        context.insertSample(start + i * 5000, float(0.5 * std::sin(2 * std::numbers::pi * 37.3 * i / 200.0)), 0.01f,
                             -1.0f, s->active().objectId());
    ASSERT_TRUE(savedSoon(s->delegate.managedObjectContext()));
    s->controller->view()->findChild<QToolButton*>("spectrumButton")->click();
    auto* report = s->delegate.window()->findChild<AnalysisPanel*>()->findChild<QPushButton*>("reportButton");
    ASSERT_TRUE(report);
    report->click();
    const QString pdf = s->home.documentsDir() + "/"
                        + QString::fromStdString(s->active().exportFileName()).replace(".asc", "-report.pdf");
    auto* notice = s->controller->view()->findChild<QLabel*>("warningLabel");
    ASSERT_TRUE(QTest::qWaitFor([&] { return notice->text().startsWith("Report written"); }, 60000))
        << notice->text().toStdString();
    QFile file(pdf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << pdf.toStdString();
    EXPECT_TRUE(file.read(5) == "%PDF-");
    OpenedUrls opened("file");
    s->controller->view()->findChild<QToolButton*>("openFolderButton")->click();
    ASSERT_EQ(opened.urls.size(), 1);
    EXPECT_EQ(opened.urls[0], QUrl::fromLocalFile(pdf));
}

// The baseline of the active session's machine and point lies dashed beneath its spectrum, and
// each level shows its change from the baseline's.
TEST(AnalysisPanel, TheBaselineOfThePointLiesBeneathTheSpectrum)
{
    auto s = std::make_unique<MainScreen>();
    store::ObjectContext& context = *s->delegate.managedObjectContext();
    auto fill = [&](store::ObjectId session, platform::Micros start, double amplitude) {
        for (int i = 0; i < 4000; ++i)
            context.insertSample(start + i * 5000, float(amplitude * std::sin(2 * std::numbers::pi * 37.3 * i / 200.0)),
                                 0.01f, -1.0f, session);
        context.setIdentity(session, {"", "Fan 7", "NDE bearing", "", "", "", 200});
    };
    const store::ObjectId now = s->active().objectId();
    const store::ObjectId base = context.insertSession(s->active().dateStamp() - 86400000000LL);
    fill(base, s->active().dateStamp() - 86400000000LL, 0.1);
    fill(now, s->active().dateStamp(), 0.5);
    ASSERT_TRUE(savedSoon(&context));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(s->home.storePath().toUtf8().constData(), &db), SQLITE_OK);
    const std::string sql = "INSERT INTO baseline VALUES ('Fan 7', 'NDE bearing', " + std::to_string(base) + ")";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    s->controller->view()->findChild<QToolButton*>("spectrumButton")->click();
    SpectrumPlot* plot = s->delegate.window()->findChild<AnalysisPanel*>()->plot();
    QCPGraph* baseline = plot->graph(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return baseline->visible() && !baseline->data()->isEmpty(); }, 20000));
    EXPECT_EQ(baseline->pen().style(), Qt::DashLine);
    // A fifth of the amplitude: the baseline's tone stands lower than the current one's.
    auto highest = [](QCPGraph* g) {
        double top = 0;
        for (auto it = g->data()->constBegin(); it != g->data()->constEnd(); ++it) top = std::max(top, it->value);
        return top;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return !plot->graph(3)->data()->isEmpty(); }, 20000));
    EXPECT_NEAR(highest(plot->graph(3)) / highest(baseline), 5.0, 0.5);
    // Each level beside its change from the baseline's: five times the amplitude is +14.0 dB.
    QTableWidget* table = s->delegate.window()->findChild<AnalysisPanel*>()->levelsTable();
    ASSERT_TRUE(QTest::qWaitFor([&] { return table->item(0, 0)->text().contains("dB"); }, 20000));
    for (int column : {0, 1, 3})
        EXPECT_TRUE(table->item(0, column)->text().endsWith("\n+14.0 dB · +400 %"))
            << table->item(0, column)->text().toStdString();
    EXPECT_NE(table->item(0, 0)->background().color(), QColor(Qt::white));
    // Y is steady in both: a level of 0 has no change to give.
    EXPECT_EQ(table->item(1, 0)->text(), "0.0000");
}
