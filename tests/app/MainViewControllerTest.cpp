// SPDX-License-Identifier: GPL-3.0-or-later
// The main screen: recording, the tare, the view buffer's bounds, the needles, and a run that
// presses the real buttons.
#include <gtest/gtest.h>

#include <QFile>
#include <QTimer>
#include <QSignalSpy>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QLabel>
#include <QTest>
#include <QToolButton>

#include "ui/GMeter.h"
#include "ui/MainViewController.h"
#include "recording/Options.h"
#include "ui/QuivraAppDelegate.h"
#include "recording/Session.h"
#include "platform/Log.h"
#include "platform/sensors/Accelerometer.h"
#include "support/MainScreen.h"
#include "support/Saved.h"

namespace {

struct Screen : MainScreen {
    void setTraceWidth(int width)
    {
        controller->gMeterView()->setFixedWidth(width);
        QApplication::processEvents();
        ASSERT_EQ(controller->gMeterView()->width(), width);
    }
    bool iconIs(const char* image)
    {
        QImage shown =
            controller->startStopButton()->icon().pixmap(64, 64).toImage().convertToFormat(QImage::Format_ARGB32);
        QImage expected = QIcon(image).pixmap(64, 64).toImage().convertToFormat(QImage::Format_ARGB32);
        return !expected.isNull() && shown == expected;
    }
};

} // namespace

TEST(MainViewController, IntervalsAreTheSinglePrecisionValuesWidened)
{
    EXPECT_EQ(MainViewController::updateIntervalForFramerate(30), 0.03333333507180214);
    EXPECT_EQ(MainViewController::updateIntervalForFramerate(5), 0.20000000298023224);
    EXPECT_EQ(MainViewController::updateIntervalForFramerate(60), 0.01666666753590107);
    EXPECT_EQ(MainViewController::updateIntervalForFramerate(45), 0.02222222276031971);
    EXPECT_EQ(MainViewController::tareUpdateInterval, 0.009999999776482582);
    EXPECT_EQ(MainViewController::refreshInterval, 0.05000000074505806);
}

TEST(MainViewController, StartAndStopSwitchTheAccelerometerTimerAndImage)
{
    Screen s;
    EXPECT_TRUE(s.iconIs(":/images/recButtonIcon.png"));
    QTest::mouseClick(s.controller->startStopButton(), Qt::LeftButton);
    EXPECT_EQ(s.controller->gAccelerometer(), s.shared);
    EXPECT_TRUE(s.shared->isCapturing());
    EXPECT_EQ(s.shared->updateInterval(), 0.03333333507180214);
    ASSERT_NE(s.controller->viewRefreshTimer(), nullptr);
    EXPECT_TRUE(s.controller->viewRefreshTimer()->isActive());
    EXPECT_EQ(s.controller->viewRefreshTimer()->interval(), 50);
    EXPECT_TRUE(s.iconIs(":/images/pauseButtonIcon.png"));

    s.reading(0.5, 0.25, -1.0);
    auto buffer = s.controller->gDataViewArray();
    QTest::mouseClick(s.controller->startStopButton(), Qt::LeftButton);
    EXPECT_EQ(s.controller->gAccelerometer(), nullptr);
    EXPECT_FALSE(s.shared->isCapturing());
    EXPECT_EQ(s.controller->viewRefreshTimer(), nullptr);
    EXPECT_TRUE(s.iconIs(":/images/recButtonIcon.png"));
    // Stopping saves, and keeps the buffer and the session.
    EXPECT_TRUE(savedSoon(s.delegate.managedObjectContext()));
    EXPECT_EQ(s.controller->gDataViewArray(), buffer);
    EXPECT_EQ(s.active().gData().count(), 1);

    // Starting again keeps adding to the same buffer.
    QTest::mouseClick(s.controller->startStopButton(), Qt::LeftButton);
    s.reading(0.0, 0.0, 0.0);
    EXPECT_EQ(s.controller->gDataViewArray(), buffer);
    EXPECT_EQ(buffer->size(), 2u);
    QTest::mouseClick(s.controller->startStopButton(), Qt::LeftButton);
}

TEST(MainViewController, ReadingsLessTheTareBecomeStoredSamplesAndViewRows)
{
    Screen s;
    platform::Clock::setSource([] { return platform::Micros(1700000000123456); });
    s.controller->startStopButtonPressed();
    s.reading(0.1, -1.0, 0.3);
    ASSERT_EQ(s.active().gData().count(), 1);
    auto first = s.active().gData().newest(1).at(0);
    EXPECT_EQ(first.x, 0.1f);
    EXPECT_EQ(first.y, -1.0f);
    EXPECT_EQ(first.z, 0.3f);
    EXPECT_EQ(first.dateStamp, 1700000000123456);
    s.controller->startStopButtonPressed();

    // A tare taken while stopped, from 0.1, leaves 0.1 - float(0.1) for the same reading.
    s.controller->tareButtonPressed();
    EXPECT_EQ(s.controller->tareAccelerometer(), s.shared);
    EXPECT_TRUE(s.shared->isCapturing());
    EXPECT_EQ(s.shared->updateInterval(), 0.009999999776482582);
    s.reading(0.1, -1.0, 0.3);
    EXPECT_EQ(s.log, std::vector<std::string>{"tare"});
    EXPECT_EQ(s.options().tareX(), 0.1f);
    EXPECT_EQ(s.options().tareY(), -1.0f);
    EXPECT_EQ(s.controller->tareAccelerometer(), nullptr);
    EXPECT_FALSE(s.shared->isCapturing());
    // Neither the tare reading nor one that comes after it while stopped is a sample.
    s.reading(0.2, -1.0, 0.3);
    EXPECT_EQ(s.active().gData().count(), 1);
    EXPECT_EQ(s.controller->gDataViewArray()->size(), 1u);

    s.controller->startStopButtonPressed();
    s.reading(0.1, -1.0, 0.3);
    auto row = s.controller->gDataViewArray()->back();
    EXPECT_EQ(row.x, -1.4901161e-09f);
    EXPECT_EQ(row.y, 0.0f);
    auto stored = s.active().gData().newest(1).at(0);
    EXPECT_EQ(stored.x, row.x);
    EXPECT_EQ(stored.z, row.z);
    // The older row keeps the values of the tare in force when it was taken.
    EXPECT_EQ(s.controller->gDataViewArray()->front().x, 0.1f);
    EXPECT_EQ(s.controller->gMeterView()->gData(), s.controller->gDataViewArray());
    s.controller->startStopButtonPressed();
}

TEST(MainViewController, TheBufferGrowsToTheTraceWidthAndNoFurther)
{
    for (auto [width, rows] : {std::pair{1024, 181u}, {768, 130u}, {123, 1u}}) {
        Screen s;
        s.setTraceWidth(width);
        s.controller->startStopButtonPressed();
        for (int i = 0; i < 300; ++i) s.reading(0.01 * i, 0, 0);
        EXPECT_EQ(s.controller->gDataViewArray()->size(), rows) << "width " << width;
        EXPECT_EQ(s.controller->gDataViewArray()->back().x, float(0.01 * 299));
        EXPECT_EQ(s.active().gData().count(), 300);
    }
}

TEST(MainViewController, LoadingTheScreenKeepsTheNewestRowsTheTraceCanShow)
{
    for (auto [samples, rows] : {std::pair{100, 100u}, {176, 176u}, {177, 177u}, {178, 177u}, {1000, 177u}}) {
        Screen s;
        s.setTraceWidth(1000);
        Session active = s.active();
        for (int i = 0; i < samples; ++i)
            s.delegate.managedObjectContext()->insertSample(1000000 + i, float(i), 0, 0, active.objectId());
        s.controller->viewDidLoad();
        auto buffer = s.controller->gDataViewArray();
        ASSERT_EQ(buffer->size(), rows) << samples << " samples";
        EXPECT_EQ(buffer->back().x, float(samples - 1));
        EXPECT_EQ(buffer->front().x, float(samples - int(rows)));
        EXPECT_EQ(s.controller->gMeterView()->gData(), buffer);
        // Recording on from a loaded buffer keeps its length.
        s.controller->startStopButtonPressed();
        s.reading(0, 0, 0);
        EXPECT_EQ(buffer->size(), rows + (rows < 176 ? 1 : 0)) << samples << " samples";
    }
}

TEST(MainViewController, NeedlesRestAtZeroAndFollowTheNewestRow)
{
    Screen s;
    QLabel* needles[] = {s.controller->needleX(), s.controller->needleY(), s.controller->needleZ()};
    for (QLabel* n : needles) ASSERT_EQ(n->height(), 24);
    int x = needles[0]->x();
    s.controller->moveNeedles();
    EXPECT_EQ(needles[0]->y(), 226);
    EXPECT_EQ(needles[1]->y(), 376);
    EXPECT_EQ(needles[2]->y(), 526);
    s.controller->startStopButtonPressed();
    s.reading(1.0, 0.0, -2.0);
    s.controller->refreshView();
    EXPECT_EQ(needles[0]->y(), 276);
    EXPECT_EQ(needles[1]->y(), 376);
    EXPECT_EQ(needles[2]->y(), 426);
    EXPECT_EQ(needles[0]->x(), x);
    EXPECT_EQ(needles[0]->height(), 24);
    // The needles line up with the traces: trace view 88 below the top of the screen.
    EXPECT_EQ(s.controller->gMeterView()->mapTo(s.controller->view(), QPoint(0, 0)).y(), 88);
    // A tare puts them back to rest at once.
    s.controller->tareButtonPressed();
    s.reading(0.3, 0.3, 0.3);
    EXPECT_EQ(needles[0]->y(), 226);
    EXPECT_EQ(needles[2]->y(), 526);
}

TEST(MainViewController, ARecordingRunWithTheRealButtonsAndATareWhileRecording)
{
    QTemporaryDir dir;
    QString replay = dir.path() + "/readings.txt";
    {
        QFile f(replay);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("0.5\t0.25\t-1.0\n0.5,0.25,-1.0\n0.5 0.25 -1.0\n");
    }
    std::string error;
    Screen s;
    s.shared->setSource(sensors::makeAccelerometerSource(("replay:" + replay).toStdString(), error));
    ASSERT_TRUE(error.empty()) << error;

    QWidget* view = s.controller->view();
    auto* record = view->findChild<QToolButton*>("startStopButton");
    auto* tare = view->findChild<QToolButton*>("tareButton");
    QTest::mouseClick(record, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.active().gData().count() >= 6; }, 5000));
    QTest::mouseClick(tare, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.log.size() >= 2; }, 5000));
    EXPECT_EQ(s.log, (std::vector<std::string>{"tare", "tare during sampling"}));
    EXPECT_EQ(s.shared->updateInterval(), 0.03333333507180214);
    std::int64_t before = s.active().gData().count();
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.active().gData().count() >= before + 4; }, 5000));
    // A second tare is taken from the raw readings again, not from what the first one left.
    QTest::mouseClick(tare, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.log.size() >= 3; }, 5000));
    before = s.active().gData().count();
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.active().gData().count() >= before + 4; }, 5000));
    QTest::mouseClick(record, Qt::LeftButton);

    std::vector<store::SampleValues> all;
    s.active().gData().forEach([&](const store::SampleValues& v) {
        all.push_back(v);
        return true;
    });
    EXPECT_EQ(s.log.back(), "tare during sampling");
    ASSERT_GE(all.size(), 14u);
    EXPECT_EQ(all.front().x, 0.5f);
    EXPECT_EQ(all.front().z, -1.0f);
    EXPECT_EQ(all.back().x, 0.0f);
    EXPECT_EQ(all.back().z, 0.0f);
    for (std::size_t i = 1; i < all.size(); ++i) EXPECT_GE(all[i].dateStamp, all[i - 1].dateStamp);
    auto buffer = s.controller->gDataViewArray();
    ASSERT_EQ(buffer->size(), all.size());
    EXPECT_EQ(buffer->back().x, all.back().x);
    EXPECT_EQ(s.options().tareX(), 0.5f);
    EXPECT_TRUE(savedSoon(s.delegate.managedObjectContext()));
    s.shared->setSource(sensors::makeAccelerometerSource("simulated", error));
}

TEST(MainViewController, KeyboardShortcutsReachTheActions)
{
    Screen s;
    QWidget* window = s.delegate.window();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    // A shortcut clicks its button, which answers a moment later (the click is animated).
    QTest::keyClick(window, Qt::Key_Space);
    EXPECT_TRUE(QTest::qWaitFor([&] { return s.controller->gAccelerometer() != nullptr; }, 2000));
    QTest::keyClick(window, Qt::Key_T);
    EXPECT_TRUE(QTest::qWaitFor([&] { return s.controller->tareAccelerometer() != nullptr; }, 2000));
    QTest::keyClick(window, Qt::Key_Space);
    EXPECT_TRUE(QTest::qWaitFor([&] { return s.controller->gAccelerometer() == nullptr; }, 2000));
    Session first = s.active();
    QTest::keyClick(window, Qt::Key_N);
    EXPECT_TRUE(QTest::qWaitFor([&] { return s.active() != first; }, 2000));
    for (const char* name : {"startStopButton", "tareButton", "newSessionButton", "clearSessionButton",
                             "sessionsButton", "exportButton", "settingsButton"}) {
        auto* button = s.controller->view()->findChild<QToolButton*>(name);
        ASSERT_NE(button, nullptr) << name;
        EXPECT_FALSE(button->shortcut().isEmpty()) << name;
        EXPECT_TRUE(button->toolTip().contains(button->shortcut().toString(QKeySequence::NativeText).left(1),
                                               Qt::CaseInsensitive))
            << name;
        EXPECT_FALSE(button->icon().pixmap(40, 40).isNull()) << name;
    }
}

TEST(MainViewController, HugeReadingsCostTheWindowNoMoreThanSmallOnes)
{
    // One axis at 123456.7 g lies six million pixels below the view; the window must keep its
    // pace all the same, and every reading is stored and exported.
    QTemporaryDir dir;
    QString replay = dir.path() + "/readings.txt";
    {
        QFile f(replay);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("0.5 -0.015625 0.00001\n0.3333333333 -2 7.25\n-1e-7 123456.7 -0.1\n");
    }
    std::string error;
    Screen s;
    s.shared->setSource(sensors::makeAccelerometerSource(("replay:" + replay).toStdString(), error));
    ASSERT_TRUE(error.empty()) << error;
    QWidget* window = s.delegate.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    s.controller->startStopButtonPressed();
    QEventLoop loop;
    QTimer::singleShot(2000, &loop, &QEventLoop::quit);
    loop.exec();
    s.controller->startStopButtonPressed();
    const std::int64_t stored = s.active().gData().count();
    EXPECT_NEAR(double(stored), 60.0, 6.0);
    // The needles stay just beyond the view's edge, not millions of pixels away.
    EXPECT_LE(s.controller->needleY()->y(), s.controller->view()->height() + 8);

    QSignalSpy exported(s.controller, &MainViewController::exported);
    s.exportAndWait();
    ASSERT_EQ(exported.count(), 1);
    QFile f(exported.at(0).at(0).toString());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_EQ(bytes.count('\n'), stored + 1);
    s.shared->setSource(sensors::makeAccelerometerSource("simulated", error));
}
