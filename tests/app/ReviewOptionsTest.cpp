// SPDX-License-Identifier: GPL-3.0-or-later
// What review does beyond zoom and pan: a stretch exported as .asc and as CSV holds exactly the
// readings the store has there; values shown in m/s² after the unit was chosen in the settings
// and the store reopened; fixed scales and overlaid axes; a pinch zooms about its centre.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <cmath>

#include "platform/DateFormatter.h"
#include "platform/NumberText.h"
#include "support/MainScreen.h"
#include "ui/Popover.h"
#include "ui/ReviewView.h"

namespace {

constexpr platform::Micros kStart = 1'796'685'648'000'000;

bool settled(ReviewView& view)
{
    return QTest::qWaitFor([&] { return view.upToDate(); }, 10000);
}

// Readings 312 µs apart, so that three or four share a millisecond; saved.
std::vector<store::SampleValues> storeReadings(StoreKeeper& keeper, store::ObjectId session, int count)
{
    std::vector<store::SampleValues> rows;
    for (int i = 0; i < count; ++i) {
        const platform::Micros t = kStart + 7 + platform::Micros(i) * 312;
        const float x = 0.25f * float(std::sin(i * 0.01)), y = float(i) * 1e-5f, z = -1.0f + float(i % 13) * 1e-3f;
        keeper.context()->insertSample(t, x, y, z, session);
        rows.push_back({0, t, x, y, z, session});
    }
    EXPECT_TRUE(keeper.saveNow());
    return rows;
}

QString exportFrom(MainScreen& s, ReviewView& view, bool csv)
{
    QSignalSpy done(s.controller, &MainViewController::exported);
    QSignalSpy failed(s.controller, &MainViewController::exportFailed);
    view.exportRange(csv);
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.count() + failed.count() > 0; }, 30000));
    return done.isEmpty() ? QString() : done.front().front().toString();
}

QList<QByteArray> linesOf(const QString& path, bool utf16)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    QByteArray bytes = file.readAll();
    if (utf16) {
        EXPECT_TRUE(bytes.startsWith("\xFF\xFE"));
        bytes = QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData() + 2), (bytes.size() - 2) / 2)
                    .toUtf8();
    }
    QList<QByteArray> lines = bytes.split('\n');
    EXPECT_EQ(lines.takeLast(), "");
    return lines;
}

} // namespace

TEST(ReviewExport, AStretchIsWrittenAsAscAndCsvWithExactlyItsReadings)
{
    MainScreen s;
    s.delegate.window()->resize(1100, 760);
    const store::ObjectId session = s.active().objectId();
    const std::vector<store::SampleValues> rows = storeReadings(s.program.keeper, session, 20000);
    s.controller->reviewButtonPressed();
    ReviewView* view = s.controller->reviewView();
    ASSERT_TRUE(view && settled(*view));
    EXPECT_FALSE(view->exportButton()->isEnabled());

    // Between the readings the two cursors read, both taken.
    view->setCursor(0, rows[1500].dateStamp - 100);
    view->setCursor(1, rows[1000].dateStamp + 120);
    ASSERT_TRUE(settled(*view));
    EXPECT_TRUE(view->exportButton()->isEnabled());
    const std::vector<store::SampleValues> want(rows.begin() + 1000, rows.begin() + 1501);

    const QString asc = exportFrom(s, *view, false);
    const QString csv = exportFrom(s, *view, true);
    const QString stem = s.home.documentsDir() + "/" + QString::fromStdString(s.active().exportFileName()).chopped(4)
                         + "_" + QString::fromStdString(platform::formatDate(want.front().dateStamp, "HH-mm-ss.SSS"))
                         + "-" + QString::fromStdString(platform::formatDate(want.back().dateStamp, "HH-mm-ss.SSS"));
    EXPECT_EQ(asc, stem + ".asc");
    EXPECT_EQ(csv, stem + ".csv");

    QList<QByteArray> lines = linesOf(asc, true);
    ASSERT_EQ(lines.takeFirst(), "Date Code\tG-Force X [g]\tG-Force Y [g]\tG-Force Z [g]");
    ASSERT_EQ(lines.size(), qsizetype(want.size()));
    for (std::size_t i = 0; i < want.size(); ++i) {
        const store::SampleValues& r = want[i];
        const std::string line = platform::formatDate(r.dateStamp, "yyyy-MM-dd HH:mm:ss.SSS") + "\t"
                                 + platform::numberText(r.x) + "\t" + platform::numberText(r.y) + "\t"
                                 + platform::numberText(r.z);
        ASSERT_EQ(lines[qsizetype(i)].toStdString(), line);
    }

    lines = linesOf(csv, false);
    ASSERT_EQ(lines.takeFirst(), "local_time,elapsed_s,x_g,y_g,z_g");
    ASSERT_EQ(lines.size(), qsizetype(want.size()));
    const platform::Micros sessionStart = s.active().dateStamp();
    for (std::size_t i = 0; i < want.size(); ++i) {
        const QList<QByteArray> cells = lines[qsizetype(i)].split(',');
        ASSERT_EQ(cells.size(), 5);
        const store::SampleValues& r = want[i];
        ASSERT_EQ(cells[0].toStdString(), platform::formatDate(r.dateStamp, "yyyy-MM-dd'T'HH:mm:ss.SSSSSSZZZZZ"));
        ASSERT_EQ(std::llround(cells[1].toDouble() * 1e6), r.dateStamp - sessionStart) << cells[1].toStdString();
        ASSERT_EQ(cells[1].split('.').back().size(), 6);
        ASSERT_EQ(std::strtof(cells[2].constData(), nullptr), r.x);
        ASSERT_EQ(std::strtof(cells[3].constData(), nullptr), r.y);
        ASSERT_EQ(std::strtof(cells[4].constData(), nullptr), r.z);
    }

    // The same stretch again never replaces the first file; a shift-drag's stretch is taken first.
    const QByteArray first = [&] {
        QFile f(asc);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    EXPECT_EQ(exportFrom(s, *view, false), stem + "-2.asc");
    QFile again(asc);
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), first);
    const int y = int(view->plotArea().center().y());
    QTest::mousePress(view, Qt::LeftButton, Qt::ShiftModifier, QPoint(200, y));
    QTest::mouseMove(view, QPoint(300, y));
    QTest::mouseRelease(view, Qt::LeftButton, Qt::ShiftModifier, QPoint(300, y));
    ASSERT_TRUE(view->selection());
    EXPECT_EQ(view->exportableRange(), view->selection());
}

TEST(ReviewDisplay, MetresPerSecondSquaredAreKeptAndShownAndScalesStepAndOverlay)
{
    TempHome home;
    std::vector<store::SampleValues> rows;
    {
        Program program;
        program.delegate.accelerometer().setSource(std::make_unique<QuietSource>());
        program.delegate.applicationDidFinishLaunchingWithOptions();
        MainViewController* main = program.delegate.mainViewController();
        rows = storeReadings(program.keeper, program.delegate.baseModel().options().activeSession().objectId(), 4000);
        main->view()->findChild<QToolButton*>("settingsButton")->click();
        QPointer<Popover> popover = qobject_cast<Popover*>(QApplication::activePopupWidget());
        ASSERT_TRUE(popover);
        QToolButton* metric = popover->findChild<QToolButton*>("unitMetricButton");
        ASSERT_TRUE(metric && popover->findChild<QToolButton*>("unitGButton")->isChecked());
        metric->click();
        popover->close();
        ASSERT_TRUE(QTest::qWaitFor([&] { return popover.isNull(); }));
        program.delegate.applicationWillTerminate();
    }
    Program program;
    program.delegate.accelerometer().setSource(std::make_unique<QuietSource>());
    program.delegate.applicationDidFinishLaunchingWithOptions();
    EXPECT_EQ(program.keeper.context()->settings().at("display.unit"), "m/s2");
    MainViewController* main = program.delegate.mainViewController();
    program.delegate.window()->resize(1100, 760);
    main->reviewButtonPressed();
    ReviewView* view = main->reviewView();
    ASSERT_TRUE(view && settled(*view));
    EXPECT_EQ(view->unit(), review::ValueUnit::metresPerSecondSquared);

    const store::SampleValues& r = rows[2000];
    view->setCursor(0, r.dateStamp);
    ASSERT_TRUE(settled(*view));
    const QString readout = view->readoutText();
    for (float v : {r.x, r.y, r.z})
        EXPECT_TRUE(readout.contains(QString::number(double(v) * 9.80665, 'f', 4))) << readout.toStdString();
    EXPECT_TRUE(readout.contains("m/s²"));
    // Scaled to what is visible: Z's lane about -9.8 m/s², not -1.
    EXPECT_LT(view->laneRange(2).first, -9.7);

    // ] from the automatic scale: the finest fixed one that holds every lane; [ one finer; A back.
    QTest::keyClick(view, Qt::Key_BracketRight);
    const int step = view->fixedScale();
    ASSERT_GE(step, 0);
    const double half = review::fullScales(review::ValueUnit::metresPerSecondSquared)[std::size_t(step)];
    EXPECT_DOUBLE_EQ(view->laneRange(0).second - view->laneRange(0).first, 2 * half);
    EXPECT_LE(view->laneRange(2).first, double(r.z) * 9.80665);
    QTest::keyClick(view, Qt::Key_BracketLeft);
    EXPECT_EQ(view->fixedScale(), step - 1);
    QTest::keyClick(view, Qt::Key_A);
    EXPECT_EQ(view->fixedScale(), -1);

    // Overlaid: one lane, one scale that holds all three axes.
    QTest::keyClick(view, Qt::Key_O);
    EXPECT_TRUE(view->overlaid());
    EXPECT_EQ(view->laneRange(0), view->laneRange(2));
    EXPECT_GT(view->laneRange(0).second, 0.0);
    EXPECT_LT(view->laneRange(0).first, -9.7);
}

TEST(ReviewDisplay, APinchZoomsTimeAboutItsCentre)
{
    MainScreen s;
    s.delegate.window()->resize(1100, 760);
    storeReadings(s.program.keeper, s.active().objectId(), 20000);
    s.controller->reviewButtonPressed();
    ReviewView* view = s.controller->reviewView();
    ASSERT_TRUE(view && settled(*view));
    const platform::Micros from = view->from(), to = view->to();
    const QRectF plot = view->plotArea();
    const QPointF at(plot.left() + plot.width() * 0.25, plot.center().y());
    const double fraction = (at.x() - plot.left()) / view->plotWidth();
    const double centre = double(from) + fraction * double(to - from + 1);

    // Fingers spread to twice their distance.
    QNativeGestureEvent pinch(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(), 2, at,
                              view->mapTo(view->window(), at), view->mapToGlobal(at), 1.0, {});
    QApplication::sendEvent(view, &pinch);
    ASSERT_TRUE(settled(*view));
    EXPECT_NEAR(double(view->to() - view->from()), double(to - from) / 2, double(to - from) * 0.01);
    const double after = double(view->from()) + fraction * double(view->to() - view->from() + 1);
    EXPECT_NEAR(after, centre, double(to - from) * 0.005);
    EXPECT_GT(view->from(), from);
    EXPECT_LT(view->to(), to);
}
