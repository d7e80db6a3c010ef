// SPDX-License-Identifier: GPL-3.0-or-later
// The session browser, driven the way a user drives it: taps, swipes and keys on its list.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QTest>
#include <QToolButton>

#include <cstdlib>
#include <ctime>
#include <memory>

#include "recording/BaseModel.h"
#include "ui/LoadSessionPopoverController.h"
#include "ui/MainViewController.h"
#include "recording/Options.h"
#include "ui/Popover.h"
#include "ui/QuivraAppDelegate.h"
#include "recording/Session.h"
#include "support/Program.h"
#include "support/QuietSource.h"
#include "support/TempHome.h"
#include "support/Saved.h"

namespace {

constexpr platform::Micros kMidnight = 1299283200LL * 1000000; // 2011-03-05 00:00 UTC
constexpr platform::Micros at(int hour)
{
    return kMidnight + hour * 3600LL * 1000000;
}

struct LoadSessionBrowser : ::testing::Test {
    TempHome home;
    std::string oldTz = std::getenv("TZ") ? std::getenv("TZ") : "";
    platform::Micros now = at(10); // the first session starts at 10:00
    std::unique_ptr<Program> program;
    QuivraAppDelegate* delegate = nullptr;
    MainViewController* main = nullptr;
    QPointer<Popover> popover;

    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
        platform::Clock::setSource([this] { return now; });
        launch();
    }
    void launch()
    {
        program = std::make_unique<Program>();
        delegate = &program->delegate;
        delegate->applicationDidFinishLaunchingWithOptions();
        main = delegate->mainViewController();
    }
    void TearDown() override
    {
        program.reset();
        platform::Clock::setSource({});
        if (oldTz.empty())
            unsetenv("TZ");
        else
            setenv("TZ", oldTz.c_str(), 1);
        tzset();
    }

    BaseModel root() { return delegate->baseModel(); }
    Session active() { return root().options().activeSession(); }
    // Samples x = first, first + 1, ... one microsecond apart.
    void addSamples(const Session& session, int count, float first)
    {
        for (int i = 0; i < count; ++i)
            delegate->managedObjectContext()->insertSample(session.dateStamp() + i, first + float(i), 0, 0,
                                                           session.objectId());
    }
    Session addSession(int hour, int samples = 0, float first = 0.0f)
    {
        now = at(hour);
        Session s = Session::init(*delegate->managedObjectContext());
        s.setBaseModel(root());
        addSamples(s, samples, first);
        return s;
    }

    // Presses the sessions button and returns the browser it opened.
    LoadSessionPopoverController* open()
    {
        main->view()->findChild<QToolButton*>("sessionsButton")->click();
        popover = qobject_cast<Popover*>(QApplication::activePopupWidget());
        EXPECT_TRUE(popover);
        return popover ? qobject_cast<LoadSessionPopoverController*>(popover->contentViewController()) : nullptr;
    }
    QStringList rows(LoadSessionPopoverController* b)
    {
        QStringList out;
        for (int r = 0; r < b->numberOfRowsInSection(0); ++r) out << b->cellTextForRow(r);
        return out;
    }
    QPoint textOf(LoadSessionPopoverController* b, int row)
    {
        return QPoint(30,
                      b->sessionTableView()->visualRect(b->sessionTableView()->model()->index(row, 0)).center().y());
    }
    void tap(LoadSessionPopoverController* b, QPoint where)
    {
        QTest::mouseClick(b->sessionTableView()->viewport(), Qt::LeftButton, {}, where);
    }
    void swipeLeft(LoadSessionPopoverController* b, int row)
    {
        QWidget* viewport = b->sessionTableView()->viewport();
        QPoint start = textOf(b, row) + QPoint(150, 0);
        QTest::mousePress(viewport, Qt::LeftButton, {}, start);
        QTest::mouseMove(viewport, start - QPoint(20, 2));
        QTest::mouseMove(viewport, start - QPoint(60, 3));
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, start - QPoint(60, 3));
    }
    void tapOutside() { QTest::mouseClick(delegate->window()->windowHandle(), Qt::LeftButton, {}, QPoint(900, 700)); }
    bool closed()
    {
        return QTest::qWaitFor([this] { return popover.isNull(); });
    }
    std::size_t shownRows() { return main->gDataViewArray() ? main->gDataViewArray()->size() : 0; }
};

} // namespace

TEST_F(LoadSessionBrowser, ListsEverySessionByStartTimeOldestFirstBesideTheButton)
{
    addSession(11);
    addSession(9);
    LoadSessionPopoverController* b = open();
    ASSERT_TRUE(b);
    EXPECT_EQ(b->numberOfSectionsInTableView(), 1);
    EXPECT_EQ(rows(b), QStringList({"2011-03-05-09:00:00", "2011-03-05-10:00:00", "2011-03-05-11:00:00"}));
    QListView* list = b->sessionTableView();
    ASSERT_EQ(list->model()->rowCount(), 3);
    EXPECT_EQ(list->model()->index(2, 0).data().toString(), "2011-03-05-11:00:00");
    EXPECT_EQ(list->visualRect(list->model()->index(0, 0)).height(), 56);
    EXPECT_EQ(b->popoverController(), popover.data());

    EXPECT_EQ(b->view()->size(), QSize(400, 380));
    QToolButton* button = main->view()->findChild<QToolButton*>("sessionsButton");
    QRect control(button->mapToGlobal(QPoint(0, 0)), button->size());
    EXPECT_EQ(popover->geometry().top(), control.bottom() + 1 + Popover::kGap);
    EXPECT_TRUE(popover->geometry().intersects(control.adjusted(0, 0, 0, 20)));
    EXPECT_TRUE(button->screen()->availableGeometry().contains(popover->geometry()));

    // A new session started on the main screen is the last row next time.
    popover->dismissPopoverAnimated(true);
    ASSERT_TRUE(closed());
    now = at(12);
    main->startNewSessionPressed();
    b = open();
    EXPECT_EQ(rows(b).size(), 4);
    EXPECT_EQ(rows(b).last(), "2011-03-05-12:00:00");
}

TEST_F(LoadSessionBrowser, ALongListOpensWithTheActiveRowInView)
{
    for (int hour = 11; hour < 21; ++hour) addSession(hour);
    for (bool newestActive : {false, true}) {
        if (newestActive) main->startNewSessionPressed();
        LoadSessionPopoverController* b = open();
        QListView* list = b->sessionTableView();
        auto inView = [list](int r) {
            QRect rect = list->visualRect(list->model()->index(r, 0));
            return rect.top() >= 0 && rect.bottom() < list->viewport()->height();
        };
        int row = list->currentIndex().row();
        EXPECT_EQ(row, newestActive ? 11 : 0);
        EXPECT_TRUE(inView(row));
        EXPECT_NE(inView(0), newestActive);
        // The delete control stays clear of the scroll bar.
        EXPECT_LE(b->deleteControlRect(row).right(), list->viewport()->width() - 1);
        popover->dismissPopoverAnimated(true);
        ASSERT_TRUE(closed());
    }
}

TEST_F(LoadSessionBrowser, ATapOnARowMakesItActiveReloadsTheScreenSavesAndCloses)
{
    Session early = addSession(9, 3, 1.0f);
    addSamples(active(), 2, 7.0f);
    main->viewDidLoad();
    ASSERT_EQ(shownRows(), 2u);

    LoadSessionPopoverController* b = open();
    QPointer<LoadSessionPopoverController> browser = b;
    tap(b, textOf(b, 0));
    EXPECT_EQ(active(), early);
    ASSERT_EQ(shownRows(), 3u);
    EXPECT_EQ(main->gDataViewArray()->back().x, 3.0f);
    EXPECT_TRUE(savedSoon(delegate->managedObjectContext()));
    EXPECT_TRUE(closed());
    EXPECT_TRUE(QTest::qWaitFor([&] { return browser.isNull(); }));
}

TEST_F(LoadSessionBrowser, KeysMoveTheSelectionChooseAndClose)
{
    Session early = addSession(9);
    Session late = addSession(11, 4, 0.0f);
    Session first = active();
    delegate->saveContext();

    // Escape, or a tap outside, closes it with nothing changed.
    LoadSessionPopoverController* b = open();
    QTest::keyClick(b->sessionTableView(), Qt::Key_Escape);
    EXPECT_TRUE(closed());
    open();
    tapOutside();
    EXPECT_TRUE(closed());
    EXPECT_EQ(active(), first);
    EXPECT_EQ(root().sessions().size(), 3u);
    EXPECT_TRUE(savedSoon(delegate->managedObjectContext()));

    // The keyboard starts on the active row, with no Tab needed to reach the list.
    b = open();
    QListView* list = b->sessionTableView();
    EXPECT_EQ(list->currentIndex().row(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == list; }, 2000));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(active(), early);
    EXPECT_TRUE(closed());

    b = open();
    QTest::keyClick(b->sessionTableView(), Qt::Key_End);
    QTest::keyClick(b->sessionTableView(), Qt::Key_Enter);
    EXPECT_EQ(active(), late);
    EXPECT_EQ(shownRows(), 4u);
    EXPECT_TRUE(closed());
}

TEST_F(LoadSessionBrowser, TheDeleteControlAsksBeforeItDeletes)
{
    addSession(9);
    Session first = active();
    LoadSessionPopoverController* b = open();
    QListView* list = b->sessionTableView();

    // Even a double tap on the bin only asks.
    QWidget* viewport = list->viewport();
    const QPoint bin = b->deleteControlRect(0).center();
    QTest::mousePress(viewport, Qt::LeftButton, {}, bin);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, bin);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, bin);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, bin);
    EXPECT_EQ(b->confirmingDeleteRow(), 0);
    QImage shown = list->viewport()->grab().toImage();
    QColor button(shown.pixel(b->deleteControlRect(0).topLeft() + QPoint(12, 4)));
    EXPECT_GT(button.red(), 180);
    EXPECT_LT(button.green(), 80);
    // A tap elsewhere takes the question back, and chooses nothing.
    tap(b, textOf(b, 1));
    EXPECT_EQ(b->confirmingDeleteRow(), -1);
    EXPECT_TRUE(popover->isPopoverVisible());

    swipeLeft(b, 1);
    EXPECT_EQ(b->confirmingDeleteRow(), 1);
    tap(b, b->deleteControlRect(0).center()); // the other row's bin only asks about that row
    EXPECT_EQ(b->confirmingDeleteRow(), 0);

    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(b->confirmingDeleteRow(), -1);
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(b->confirmingDeleteRow(), 1);
    QTest::keyClick(list, Qt::Key_Escape);
    EXPECT_EQ(b->confirmingDeleteRow(), -1);

    EXPECT_TRUE(popover->isPopoverVisible());
    EXPECT_EQ(root().sessions().size(), 2u);
    EXPECT_EQ(active(), first);
    EXPECT_FALSE(b->isDeletionPending());
}

TEST_F(LoadSessionBrowser, DeletingTheOnlySessionLeavesOneNewEmptyActiveSession)
{
    addSamples(active(), 3, 1.0f);
    main->viewDidLoad();
    LoadSessionPopoverController* b = open();
    tap(b, b->deleteControlRect(0).center());
    tap(b, b->deleteControlRect(0).center());

    // The first half removes the session at once; the rest follows a tenth of a second later.
    EXPECT_TRUE(root().sessions().empty());
    EXPECT_FALSE(active());
    EXPECT_TRUE(b->isDeletionPending());
    EXPECT_TRUE(popover->isPopoverVisible());
    EXPECT_EQ(b->sessionTableView()->model()->rowCount(), 0);
    now = at(12);
    ASSERT_TRUE(closed());

    ASSERT_EQ(root().sessions().size(), 1u);
    Session fresh = root().sessions()[0];
    EXPECT_EQ(active(), fresh);
    EXPECT_EQ(fresh.dateStamp(), at(12));
    EXPECT_EQ(fresh.gData().count(), 0);
    EXPECT_EQ(shownRows(), 0u);
    EXPECT_TRUE(savedSoon(delegate->managedObjectContext()));
}

TEST_F(LoadSessionBrowser, DeletingTheActiveSessionMakesTheLatestRemainingOneActive)
{
    addSession(9);
    Session eleven = addSession(11);
    Session twelve = addSession(12, 5, 0.0f);

    // The 10:00 session, in the middle, by a swipe and its red button.
    LoadSessionPopoverController* b = open();
    swipeLeft(b, 1);
    tap(b, b->deleteControlRect(1).center());
    ASSERT_TRUE(closed());
    EXPECT_EQ(active(), twelve);
    EXPECT_EQ(shownRows(), 5u);

    // The last one, by two presses of Delete on its row.
    b = open();
    EXPECT_EQ(b->sessionTableView()->currentIndex().row(), 2);
    QTest::keyClick(b->sessionTableView(), Qt::Key_Delete);
    QTest::keyClick(b->sessionTableView(), Qt::Key_Delete);
    ASSERT_TRUE(closed());
    EXPECT_EQ(active(), eleven);
    EXPECT_EQ(shownRows(), 0u);
    EXPECT_EQ(root().sessions().size(), 2u);
}

TEST_F(LoadSessionBrowser, DeletingAnInactiveSessionKeepsTheActiveOneAndRebuildsTheScreen)
{
    Session early = addSession(9, 2, 0.0f);
    Session first = active();
    addSamples(first, 4, 0.0f);
    main->setGDataViewArray(std::make_shared<ViewBuffer>()); // stale: the rebuild must refill it

    LoadSessionPopoverController* b = open();
    tap(b, b->deleteControlRect(0).center());
    QTest::keyClick(b->sessionTableView(), Qt::Key_Return);
    ASSERT_TRUE(closed());
    EXPECT_FALSE(early);
    EXPECT_EQ(active(), first);
    EXPECT_EQ(shownRows(), 4u);
}

TEST_F(LoadSessionBrowser, ClosingBeforeTheDeferredHalfStillRunsItInFull)
{
    LoadSessionPopoverController* b = open();
    QPointer<LoadSessionPopoverController> browser = b;
    QTest::keyClick(b->sessionTableView(), Qt::Key_Delete);
    QTest::keyClick(b->sessionTableView(), Qt::Key_Delete);
    tapOutside();
    ASSERT_FALSE(browser.isNull());
    EXPECT_TRUE(browser->isDeletionPending()); // closed within the tenth of a second
    EXPECT_TRUE(popover.isNull() || !popover->isPopoverVisible());
    EXPECT_TRUE(root().sessions().empty());

    EXPECT_TRUE(QTest::qWaitFor([&] { return browser.isNull(); }));
    ASSERT_EQ(root().sessions().size(), 1u);
    EXPECT_EQ(active(), root().sessions()[0]);
    EXPECT_EQ(shownRows(), 0u);
    EXPECT_TRUE(savedSoon(delegate->managedObjectContext()));
}

TEST_F(LoadSessionBrowser, QuittingBeforeTheDeferredHalfFreesTheBrowserAndCancelsIt)
{
    LoadSessionPopoverController* b = open();
    QPointer<LoadSessionPopoverController> browser = b;
    QTest::keyClick(b->sessionTableView(), Qt::Key_Delete);
    QTest::keyClick(b->sessionTableView(), Qt::Key_Delete);
    tapOutside();
    ASSERT_FALSE(browser.isNull());
    program.reset();
    EXPECT_TRUE(browser.isNull());
    QTest::qWait(2 * LoadSessionPopoverController::kDeferredDeleteMs); // nothing left to fire
}

TEST_F(LoadSessionBrowser, DeletingTheActiveSessionNeverLeavesSamplesInNoSession)
{
    Session early = addSession(9, 2, 0.0f);
    // Recording goes on while the active session is deleted: the readings taken before the
    // deferred half go to the session it will choose, the latest one left.
    program->accelerometer.setSource(std::make_unique<QuietSource>());
    main->startStopButtonPressed();
    LoadSessionPopoverController* b = open();
    QTest::keyClick(b->sessionTableView(), Qt::Key_Delete);
    QTest::keyClick(b->sessionTableView(), Qt::Key_Delete);
    ASSERT_FALSE(active());
    sensors::Accelerometer* shared = &program->accelerometer;
    main->recorder()->accelerometerDidAccelerate(shared, {0.5, 0, 0});
    main->recorder()->accelerometerDidAccelerate(shared, {0.25, 0, 0});
    EXPECT_EQ(active(), early);
    EXPECT_EQ(early.gData().count(), 4);
    ASSERT_TRUE(closed());
    EXPECT_EQ(active(), early);

    // Quitting 0.05 s after deleting the only session: the follow-up still runs before the end,
    // so the next start finds an active session to record into.
    b = open();
    QTest::keyClick(b->sessionTableView(), Qt::Key_Delete);
    QTest::keyClick(b->sessionTableView(), Qt::Key_Delete);
    QTest::qWait(50);
    delegate->applicationWillTerminate();
    program.reset();
    launch();
    ASSERT_EQ(root().sessions().size(), 1u);
    EXPECT_EQ(active(), root().sessions()[0]);
    EXPECT_EQ(active().gData().count(), 0);
}

TEST_F(LoadSessionBrowser, ADeleteCanBeUndoneFromTheMainScreenWhileItsNoticeShows)
{
    Session kept = active();
    Session doomed = addSession(11, 5, 2.0f);
    root().options().setActiveSession(doomed);
    main->viewDidLoad();
    LoadSessionPopoverController* b = open();
    QTest::keyClick(b->sessionTableView(), Qt::Key_Delete);
    QTest::keyClick(b->sessionTableView(), Qt::Key_Delete);
    ASSERT_TRUE(closed());
    EXPECT_EQ(active(), kept);
    auto* undo = main->view()->findChild<QToolButton*>("undoButton");
    auto* notice = main->view()->findChild<QLabel*>("warningLabel");
    ASSERT_TRUE(undo && notice);
    EXPECT_TRUE(undo->isVisible());
    EXPECT_EQ(notice->toolTip(), "Deleted session 2011-03-05 11:00:00 (5 samples)");

    QWidget* window = delegate->window();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !undo->isVisible(); }, 2000));
    EXPECT_EQ(active(), doomed);
    EXPECT_EQ(doomed.gData().count(), 5);
    // The rows come back with the save, and the screen with them.
    ASSERT_TRUE(QTest::qWaitFor([&] { return shownRows() == 5; }, 5000));
    EXPECT_EQ(main->gDataViewArray()->back().x, 6.0f);
    EXPECT_EQ(root().sessions().size(), 2u);
    EXPECT_TRUE(savedSoon(delegate->managedObjectContext()));
}

TEST_F(LoadSessionBrowser, TheFilterAndTheOrderChooseTheRowsAndATapStillChoosesTheSessionShown)
{
    Session fan = addSession(9, 3);
    fan.setIdentity({"", "Fan 1", "Inlet", "", "", "", 0});
    Session pumpDe = addSession(11, 2);
    pumpDe.setIdentity({"Run B", "Pump 3", "DE bearing", "", "after the bearing change", "", 100});
    Session pumpNde = addSession(12);
    pumpNde.setIdentity({"Run A", "Pump 3", "NDE bearing", "", "", "", 0});
    LoadSessionPopoverController* b = open();
    ASSERT_TRUE(b);
    EXPECT_EQ(rows(b), QStringList({"2011-03-05-09:00:00", "2011-03-05-10:00:00", "Run B", "Run A"}));
    EXPECT_EQ(b->cellDetailForRow(0), "Fan 1 \u00b7 Inlet \u00b7 0.0 s \u00b7 3 samples");
    EXPECT_EQ(b->cellDetailForRow(2), "Pump 3 \u00b7 DE bearing \u00b7 0.0 s \u00b7 2 samples \u00b7 100/s");

    // Words in any field, any case, all of them; notes count too.
    QTest::keyClicks(b->filterField(), "pump BEARING");
    EXPECT_EQ(rows(b), QStringList({"Run B", "Run A"}));
    b->filterField()->clear();
    QTest::keyClicks(b->filterField(), "change");
    EXPECT_EQ(rows(b), QStringList({"Run B"}));
    b->filterField()->clear();
    QTest::keyClicks(b->filterField(), "03-05-09");
    EXPECT_EQ(rows(b), QStringList({"2011-03-05-09:00:00"}));
    b->filterField()->clear();
    QTest::keyClicks(b->filterField(), "pump");
    b->setSortOrder(LoadSessionPopoverController::SortOrder::name);
    EXPECT_EQ(rows(b), QStringList({"Run A", "Run B"}));

    // The tap chooses the session its row shows, filtered and sorted as it is.
    tap(b, textOf(b, 1));
    EXPECT_EQ(active(), pumpDe);
    EXPECT_TRUE(closed());
}
