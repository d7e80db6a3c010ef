// SPDX-License-Identifier: GPL-3.0-or-later
// The sample-rate popover: snapping, storing and applying the rate, and the float slider under it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "support/Program.h"
#include "ui/MainViewController.h"
#include "recording/Options.h"
#include "ui/Popover.h"
#include "ui/QuivraAppDelegate.h"
#include "ui/SettingsViewController.h"
#include "platform/Log.h"
#include "platform/sensors/Accelerometer.h"
#include "support/TempHome.h"
#include "support/Saved.h"

namespace {

struct SettingsPopover : ::testing::Test {
    TempHome home;
    std::vector<std::string> log;
    Program delegateProgram;
    QuivraAppDelegate& delegate = delegateProgram.delegate;
    MainViewController* main = nullptr;
    sensors::Accelerometer* shared = &delegate.accelerometer();
    QPointer<Popover> popover;

    void SetUp() override
    {
        platform::setLogSink([this](std::string_view m) { log.emplace_back(m); });
        delegate.applicationDidFinishLaunchingWithOptions();
        main = delegate.mainViewController();
        delegate.saveContext();
    }
    void TearDown() override
    {
        if (main->gAccelerometer()) main->startStopButtonPressed();
        platform::setLogSink({});
    }

    Options options() { return delegate.baseModel().options(); }
    SettingsViewController* open()
    {
        main->view()->findChild<QToolButton*>("settingsButton")->click();
        popover = qobject_cast<Popover*>(QApplication::activePopupWidget());
        EXPECT_TRUE(popover);
        return popover ? qobject_cast<SettingsViewController*>(popover->contentViewController()) : nullptr;
    }
    void close()
    {
        QTest::mouseClick(delegate.window()->windowHandle(), Qt::LeftButton, {}, QPoint(900, 700));
        EXPECT_TRUE(QTest::qWaitFor([this] { return popover.isNull(); }));
    }
    // What the user's move to v leaves behind.
    struct After {
        float slider;
        QString label;
        int stored;
    };
    After move(SettingsViewController* s, float v)
    {
        s->sampleRateSlider()->setValue(v);
        s->sliderMoved();
        return {s->sampleRateSlider()->value(), s->sampleRateLabel()->text(), options().framerate()};
    }
};

} // namespace

TEST_F(SettingsPopover, OpensOnTheStoredRateBesideTheRateButton)
{
    SettingsViewController* s = open();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->sampleRateSlider()->value(), 30.0f);
    EXPECT_EQ(s->sampleRateLabel()->text(), "30");
    EXPECT_EQ(s->view()->size(), QSize(250, 125));
    QToolButton* button = main->view()->findChild<QToolButton*>("settingsButton");
    QRect control(button->mapToGlobal(QPoint(0, 0)), button->size());
    EXPECT_EQ(popover->geometry().top(), control.bottom() + 1 + Popover::kGap);
    EXPECT_TRUE(button->screen()->availableGeometry().contains(popover->geometry()));
}

TEST_F(SettingsPopover, AMoveSnapsDownToAMultipleOfFiveKeepingTheFractionOnTheSlider)
{
    SettingsViewController* s = open();
    struct Row {
        float movedTo, after;
        const char* label;
        int stored;
    };
    const Row table[] = {{30.0f, 30.0f, "30", 30},     {32.7f, 30.7f, "30", 30}, {34.99f, 30.99f, "30", 30},
                         {35.0f, 35.0f, "35", 35},     {47.3f, 45.3f, "45", 45}, {7.5f, 5.5f, "5", 5},
                         {200.0f, 200.0f, "200", 200}, {5.0f, 5.0f, "5", 5}};
    for (const Row& row : table) {
        SCOPED_TRACE(row.movedTo);
        After a = move(s, row.movedTo);
        EXPECT_EQ(a.slider, row.movedTo - float(int(row.movedTo) % 5));
        EXPECT_FLOAT_EQ(a.slider, row.after);
        EXPECT_EQ(a.label, row.label);
        EXPECT_EQ(a.stored, row.stored);
    }
}

TEST_F(SettingsPopover, KeysAndDragsMoveInFivesAndStoreEveryStep)
{
    SettingsViewController* s = open();
    FloatSlider* slider = s->sampleRateSlider();
    QTest::keyClick(slider, Qt::Key_Right);
    EXPECT_EQ(options().framerate(), 35);
    QTest::keyClick(slider, Qt::Key_PageUp);
    EXPECT_EQ(options().framerate(), 60);
    QTest::keyClick(slider, Qt::Key_Left);
    EXPECT_EQ(s->sampleRateLabel()->text(), "55");
    EXPECT_EQ(options().framerate(), 55);

    // A drag reports every step on the way, each snapped.
    slider->setSliderDown(true);
    for (int position : {5730, 6120, 6499, 6500}) slider->setSliderPosition(position);
    EXPECT_EQ(options().framerate(), 65);
    slider->setSliderPosition(4730);
    EXPECT_EQ(slider->value(), 45.3f);
    EXPECT_EQ(s->sampleRateLabel()->text(), "45");
    slider->setSliderDown(false);
    EXPECT_EQ(options().framerate(), 45);
}

TEST_F(SettingsPopover, WhileRecordingAMoveChangesTheIntervalAtOnceAndWhileStoppedNothing)
{
    SettingsViewController* s = open();
    main->startStopButtonPressed();
    ASSERT_TRUE(main->gAccelerometer());
    move(s, 45.0f);
    EXPECT_EQ(main->gAccelerometer()->updateInterval(), 0.02222222276031971);
    move(s, 47.3f); // the rate, not the slider's fraction, decides
    EXPECT_EQ(main->gAccelerometer()->updateInterval(), 0.02222222276031971);

    main->startStopButtonPressed();
    ASSERT_FALSE(main->gAccelerometer());
    shared->setUpdateInterval(0.5);
    move(s, 100.0f);
    EXPECT_EQ(shared->updateInterval(), 0.5);
    EXPECT_EQ(options().framerate(), 100);
}

TEST_F(SettingsPopover, ARateOutsideTheRangeShowsClampedAndStaysStoredUntilAMove)
{
    options().setFramerate(1000);
    delegate.saveContext();
    SettingsViewController* s = open();
    EXPECT_EQ(s->sampleRateSlider()->value(), 200.0f);
    EXPECT_EQ(s->sampleRateLabel()->text(), "200");
    close();
    EXPECT_EQ(options().framerate(), 1000);
    EXPECT_TRUE(savedSoon(delegate.managedObjectContext()));

    options().setFramerate(2);
    s = open();
    EXPECT_EQ(s->sampleRateLabel()->text(), "5");
    QTest::keyClick(s->sampleRateSlider(), Qt::Key_Right);
    EXPECT_EQ(options().framerate(), 10);
}

TEST_F(SettingsPopover, ClosingSavesAMovedRateAndAnUntouchedOpeningChangesNothing)
{
    SettingsViewController* s = open();
    close();
    EXPECT_EQ(options().framerate(), 30);
    EXPECT_TRUE(savedSoon(delegate.managedObjectContext()));

    s = open();
    move(s, 52.0f);
    EXPECT_TRUE(delegate.managedObjectContext()->hasChanges());
    close();
    EXPECT_TRUE(savedSoon(delegate.managedObjectContext()));
    s = open();
    EXPECT_EQ(s->sampleRateLabel()->text(), "50");
}

TEST(SettingsFloatSlider, KeepsTheExactFloatWithinItsRangeAndReportsOnlyUserMoves)
{
    FloatSlider slider;
    slider.setMinimumValue(5.0f);
    slider.setMaximumValue(200.0f);
    QSignalSpy moved(&slider, &FloatSlider::moved);
    const float odd = 30.700000762939453f;
    slider.setValue(odd);
    EXPECT_EQ(slider.value(), odd);
    slider.setValue(1000.0f);
    EXPECT_EQ(slider.value(), 200.0f);
    slider.setValue(-3.0f);
    EXPECT_EQ(slider.value(), 5.0f);
    slider.setValue(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(slider.value(), 5.0f);
    slider.setMinimumValue(10.0f);
    EXPECT_EQ(slider.value(), 10.0f);
    EXPECT_EQ(moved.count(), 0);

    QTest::keyClick(&slider, Qt::Key_Right);
    EXPECT_EQ(moved.count(), 1);
    EXPECT_EQ(slider.value(), 15.0f);
}
