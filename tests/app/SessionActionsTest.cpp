// SPDX-License-Identifier: GPL-3.0-or-later
// New and cleared sessions, and the export of the active session.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <cstdlib>
#include <ctime>

#include "recording/BaseModel.h"
#include "ui/GMeter.h"
#include "ui/MainViewController.h"
#include "recording/Options.h"
#include "ui/QuivraAppDelegate.h"
#include "recording/Session.h"
#include "platform/Log.h"
#include "platform/sensors/Accelerometer.h"
#include "support/MainScreen.h"
#include "support/OpenedUrls.h"
#include "support/Saved.h"

namespace {

// Local time is UTC here, so that dates in files and names are exact.
struct UtcZone {
    std::string old = std::getenv("TZ") ? std::getenv("TZ") : "";
    UtcZone()
    {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    ~UtcZone()
    {
        if (old.empty())
            unsetenv("TZ");
        else
            setenv("TZ", old.c_str(), 1);
        tzset();
    }
};

struct Clocked {
    platform::Micros now = 1299334029250000; // 2011-03-05 14:07:09.250 UTC
    Clocked()
    {
        platform::Clock::setSource([this] { return now; });
    }
};

struct Screen : UtcZone, Clocked, MainScreen {
    QString exportPath() { return home.documentsDir() + "/2011-03-05-14-07-09.asc"; }
};

// The file's text, after checking that it is UTF-16LE with a byte-order mark and ASCII only.
std::string exportedText(const QString& path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    QByteArray bytes = f.readAll();
    EXPECT_GE(bytes.size(), 2);
    EXPECT_EQ(bytes.left(2), QByteArray("\xff\xfe", 2));
    std::string text;
    for (int i = 2; i + 1 < bytes.size(); i += 2) {
        EXPECT_EQ(bytes[i + 1], 0);
        text.push_back(bytes[i]);
    }
    return text;
}

const std::string header = "Date Code\tG-Force X [g]\tG-Force Y [g]\tG-Force Z [g]\n";

} // namespace

TEST(SessionActions, ANewSessionTakesTheFollowingSamplesAndEmptiesTheTrace)
{
    Screen s;
    Session first = s.active();
    s.controller->startStopButtonPressed();
    s.reading(0.5, 0, 0);
    s.reading(0.5, 0, 0);
    s.now += 1000000;
    s.controller->startNewSessionPressed();
    EXPECT_EQ(s.log, std::vector<std::string>{"new session"});
    Session second = s.active();
    EXPECT_NE(second, first);
    EXPECT_EQ(second.dateStamp(), s.now);
    EXPECT_TRUE(s.controller->gDataViewArray()->empty());
    EXPECT_EQ(s.controller->gMeterView()->gData(), s.controller->gDataViewArray());
    EXPECT_EQ(s.controller->needleX()->y(), 226);
    EXPECT_NE(s.controller->gAccelerometer(), nullptr); // recording goes on
    s.reading(0.25, 0, 0);
    EXPECT_EQ(first.gData().count(), 2);
    EXPECT_EQ(second.gData().count(), 1);
    EXPECT_EQ(s.delegate.baseModel().sessions().size(), 2u);
    EXPECT_EQ(s.controller->gDataViewArray()->size(), 1u);
    s.controller->startStopButtonPressed();
}

TEST(SessionActions, ClearingDeletesTheSamplesButKeepsTheActiveSession)
{
    Screen s;
    s.controller->startStopButtonPressed();
    Session active = s.active();
    platform::Micros started = active.dateStamp();
    for (int i = 0; i < 5; ++i) s.reading(0.1 * i, 0, 0);
    s.delegate.saveContext();
    s.reading(9, 9, 9); // unsaved
    s.controller->deleteSessionPressed();
    EXPECT_EQ(active.gData().count(), 0);
    EXPECT_EQ(s.active(), active);
    EXPECT_EQ(active.dateStamp(), started);
    EXPECT_TRUE(s.controller->gDataViewArray()->empty());
    EXPECT_TRUE(s.log.empty());
    EXPECT_TRUE(savedSoon(s.delegate.managedObjectContext()));
    s.reading(1, 2, 3);
    EXPECT_EQ(active.gData().count(), 1);
}

TEST(SessionActions, ExportWritesEverySampleInTimeOrder)
{
    Screen s;
    Session active = s.active();
    auto add = [&](platform::Micros t, float x, float y, float z) {
        s.delegate.managedObjectContext()->insertSample(t, x, y, z, active.objectId());
    };
    // Stored out of time order, one of them saved already.
    add(1299334029750000, 0.5f, -0.015625f, 1e-05f);
    s.delegate.saveContext();
    add(1299334029250000, 0.0f, 1.0f / 3.0f, -1.0f);
    add(1299334030000999, 1e7f, -0.0f, 1.17549435e-38f);

    QSignalSpy exported(s.controller, &MainViewController::exported);
    s.exportAndWait();
    ASSERT_EQ(exported.count(), 1);
    EXPECT_EQ(exported.at(0).at(0).toString(), s.exportPath());
    EXPECT_EQ(exportedText(s.exportPath()), header
                                                + "2011-03-05 14:07:09.250\t0\t0.3333333\t-1\n"
                                                  "2011-03-05 14:07:09.750\t0.5\t-0.015625\t1e-05\n"
                                                  "2011-03-05 14:07:10.000\t1e+07\t-0\t1.175494e-38\n");
    // Exporting neither stops recording nor touches the buffer.
    EXPECT_TRUE(s.controller->gDataViewArray()->empty());

    // An empty session gives the header alone; the same name is replaced.
    s.controller->deleteSessionPressed();
    s.exportAndWait();
    EXPECT_EQ(exportedText(s.exportPath()), header);
    EXPECT_EQ(QFile(s.exportPath()).size(), 106);
    EXPECT_EQ(QDir(s.home.documentsDir()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(SessionActions, AFailedExportIsLoggedAndShown)
{
    Screen s;
    s.controller->startStopButtonPressed();
    s.reading(0.5, 0.5, 0.5);
    QSignalSpy failed(s.controller, &MainViewController::exportFailed);
    QLabel* warning = s.controller->view()->findChild<QLabel*>("warningLabel");
    ASSERT_NE(warning, nullptr);
    // A plain file where the documents folder should be, then a symlink loop there: each is one
    // clear line, never a crash.
    {
        QFile blocker(s.home.documentsDir());
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    s.log.clear();
    s.exportAndWait();
    QFile::remove(s.home.documentsDir());
    ASSERT_TRUE(QFile::link(s.home.documentsDir(), s.home.documentsDir()));
    s.exportAndWait();
    ASSERT_EQ(failed.count(), 2);
    ASSERT_EQ(s.log.size(), 2u);
    for (const std::string& line : s.log) {
        EXPECT_NE(line.find("export failed"), std::string::npos);
        EXPECT_NE(line.find(s.home.documentsDir().toStdString()), std::string::npos) << line;
    }
    EXPECT_TRUE(warning->text().startsWith("Export failed")) << warning->text().toStdString();

    // With the folder back, the next export succeeds and clears the warning.
    QFile::remove(s.home.documentsDir());
    s.exportAndWait();
    EXPECT_EQ(exportedText(s.exportPath()).substr(0, header.size()), header);
    EXPECT_FALSE(warning->text().startsWith("Export failed"));
}

TEST(SessionActions, EverySessionExportsToAFileOfItsOwn)
{
    Screen s;
    s.controller->startStopButtonPressed();
    Session first = s.active();
    s.reading(0.5, 0, 0);
    // A second session 0.4 s later: the same second.
    s.now += 400000;
    s.controller->startNewSessionPressed();
    s.reading(0.25, 0, 0);
    s.exportAndWait();
    const QString second = s.home.documentsDir() + "/2011-03-05-14-07-09-2.asc";
    ASSERT_TRUE(QFile::exists(second));
    EXPECT_FALSE(QFile::exists(s.exportPath()));
    // A killed export left its temporary behind; the next export of that target removes it.
    {
        QFile leftover(s.home.documentsDir() + "/.2011-03-05-14-07-09.asc.Ab3xYz");
        ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
        leftover.write("half an export");
    }
    s.delegate.baseModel().options().setActiveSession(first);
    s.controller->viewDidLoad();
    s.exportAndWait();
    EXPECT_NE(exportedText(s.exportPath()).find("\t0.5\t"), std::string::npos);
    EXPECT_NE(exportedText(second).find("\t0.25\t"), std::string::npos);
    // Exporting a session again replaces its own file only.
    s.exportAndWait();
    EXPECT_EQ(QDir(s.home.documentsDir()).entryList(QDir::Files | QDir::Hidden).size(), 2);

    // The hour repeated when daylight saving ends: 02:30 CEST and 02:30 CET share a name.
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    s.now = 1667089800000000; // 2022-10-30 00:30 UTC, 02:30 summer time
    s.controller->startNewSessionPressed();
    Session summer = s.active();
    s.now += 3600000000; // 01:30 UTC, 02:30 winter time
    s.controller->startNewSessionPressed();
    EXPECT_EQ(summer.exportFileName(), "2022-10-30-02-30-00.asc");
    EXPECT_EQ(s.active().exportFileName(), "2022-10-30-02-30-00-2.asc");
}

TEST(SessionActions, AClearCanBeUndoneUntilItsNoticeEnds)
{
    Screen s;
    s.controller->startStopButtonPressed();
    Session active = s.active();
    for (int i = 0; i < 5; ++i) {
        s.now += 1000;
        s.reading(0.1 * i, -0.5, 1);
    }
    s.delegate.saveContext();
    s.reading(9, 9, 9); // unsaved
    auto before = active.gData().newest(10);
    auto* undo = s.controller->view()->findChild<QToolButton*>("undoButton");
    auto* notice = s.controller->view()->findChild<QLabel*>("warningLabel");
    ASSERT_TRUE(undo && notice);

    s.controller->deleteSessionPressed();
    EXPECT_EQ(active.gData().count(), 0);
    EXPECT_TRUE(!undo->isHidden());
    EXPECT_EQ(notice->toolTip(), "Cleared 6 samples");
    s.reading(1, 2, 3); // recording goes on meanwhile
    undo->click();
    EXPECT_EQ(active.gData().count(), 7);
    ASSERT_TRUE(savedSoon(s.delegate.managedObjectContext()));
    auto after = active.gData().newest(10);
    ASSERT_EQ(after.size(), 7u);
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(after[i].id, before[i].id);
        EXPECT_EQ(after[i].dateStamp, before[i].dateStamp);
        EXPECT_EQ(after[i].x, before[i].x);
        EXPECT_EQ(after[i].z, before[i].z);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.controller->gDataViewArray()->size() == 7u; }, 5000));
    EXPECT_EQ(notice->toolTip(), "Put back 6 samples");

    // Once the notice has ended the clear is final, and the trash is empty.
    s.controller->sessionActions().undoWindowMs = 300;
    s.controller->deleteSessionPressed();
    EXPECT_TRUE(!undo->isHidden());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !!undo->isHidden(); }, 3000));
    EXPECT_EQ(s.delegate.managedObjectContext()->undoableRemoval(), nullptr);
    EXPECT_TRUE(savedSoon(s.delegate.managedObjectContext()));
    EXPECT_EQ(active.gData().count(), 0);
}

// Notices are shown whole, wrapped rather than cut, with counts grouped as the subcommands write
// them; an export's names its file's whole path and offers to open its folder.
TEST(SessionActions, NoticesAreShownWholeAndAnExportOffersItsFolder)
{
    Screen s;
    QWidget* view = s.controller->view();
    auto* status = view->findChild<QLabel*>("statusLabel");
    auto* notice = view->findChild<QLabel*>("warningLabel");
    auto* panel = view->findChild<QWidget*>("noticePanel");
    auto* open = view->findChild<QToolButton*>("openFolderButton");
    ASSERT_TRUE(status && notice && panel && open);
    s.controller->startStopButtonPressed();
    for (int i = 0; i < 1234; ++i) s.reading(0.01 * (i % 7), 0, -1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return status->toolTip().contains("1,234 samples"); }, 3000))
        << status->toolTip().toStdString();

    // Whole: as tall as its text needs at its width, and inside the window.
    auto shownWhole = [&](const QString& text) {
        EXPECT_EQ(notice->text().remove(QChar(0x200b)), text);
        EXPECT_TRUE(notice->isVisible());
        EXPECT_GE(notice->height(), notice->heightForWidth(notice->width())) << text.toStdString();
        EXPECT_TRUE(view->rect().contains(panel->geometry()));
    };
    s.exportAndWait();
    shownWhole("Exported 1,234 samples to " + s.exportPath());
    EXPECT_TRUE(open->isVisible());
    OpenedUrls opened("file");
    open->click();
    ASSERT_EQ(opened.urls.size(), 1);
    EXPECT_EQ(opened.urls[0], QUrl::fromLocalFile(s.home.documentsDir()));

    const QString reason = "cannot write " + s.home.path()
                           + "/a/folder/with/a/long/name/quivra.sqlite: "
                             "No space left on device (the disk is full; free some space and it saves by itself)";
    emit s.program.keeper.saveFailed(reason);
    shownWhole("Not saved yet (retrying): " + reason);
    EXPECT_FALSE(open->isVisible());
    EXPECT_GT(notice->height(), 2 * notice->fontMetrics().height()); // three lines or more
    emit s.program.keeper.saveRecovered();
    EXPECT_TRUE(panel->isHidden());
}
