// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up, the stored entities as the program sees them, and saving while the program runs.
#include <gtest/gtest.h>

#include <tuple>
#include <sqlite3.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTimer>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

#include "support/Program.h"
#include "recording/BaseModel.h"
#include "recording/Options.h"
#include "ui/QuivraAppDelegate.h"
#include "recording/Session.h"
#include "platform/Log.h"
#include "platform/TerminationSignals.h"
#include "support/TempHome.h"

namespace {
struct LogCapture {
    std::vector<std::string> lines;
    LogCapture()
    {
        platform::setLogSink([this](std::string_view m) { lines.emplace_back(m); });
    }
    ~LogCapture() { platform::setLogSink({}); }
    bool has(std::string_view text) const
    {
        for (const auto& l : lines)
            if (l.find(text) != std::string::npos) return true;
        return false;
    }
};
} // namespace

TEST(AppDelegate, FirstLaunchBuildsTheRootAndLaterLaunchesLoadIt)
{
    TempHome home;
    LogCapture log;
    store::ObjectId sessionId = 0;
    {
        Program delegateProgram;
        QuivraAppDelegate& delegate = delegateProgram.delegate;
        EXPECT_TRUE(delegate.applicationDidFinishLaunchingWithOptions());
        EXPECT_TRUE(QFile::exists(home.storePath()));
        EXPECT_EQ(log.lines, std::vector<std::string>{"build new base model"});
        BaseModel root = delegate.baseModel();
        Options options = root.options();
        ASSERT_TRUE(options);
        EXPECT_EQ(options.framerate(), 30);
        EXPECT_EQ(options.cutoffLimit(), 5.0f);
        EXPECT_EQ(options.tareX(), 0.0f);
        EXPECT_EQ(options.tareY(), 0.0f);
        EXPECT_EQ(options.tareZ(), 0.0f);
        ASSERT_EQ(root.sessions().size(), 1u);
        EXPECT_EQ(options.activeSession(), root.sessions()[0]);
        EXPECT_EQ(options.baseModel(), root);
        EXPECT_EQ(root.sessions()[0].activeInOptions(), options);
        sessionId = options.activeSession().objectId();
        options.setTareX(0.1f);
        delegate.applicationWillTerminate();
    }
    log.lines.clear();
    Program delegateProgram;
    QuivraAppDelegate& delegate = delegateProgram.delegate;
    delegate.applicationDidFinishLaunchingWithOptions();
    EXPECT_EQ(log.lines, std::vector<std::string>{"load model"});
    EXPECT_EQ(delegate.baseModel().options().activeSession().objectId(), sessionId);
    EXPECT_EQ(delegate.baseModel().options().tareX(), 0.1f);
    EXPECT_FALSE(delegate.managedObjectContext()->hasChanges());
}

TEST(AppDelegate, EntitiesKeepTheirInversesAndDeletionEffects)
{
    TempHome home;
    Program delegateProgram;
    QuivraAppDelegate& delegate = delegateProgram.delegate;
    delegate.applicationDidFinishLaunchingWithOptions();
    BaseModel root = delegate.baseModel();
    Session first = root.options().activeSession();

    store::ObjectContext* context = delegate.managedObjectContext();
    context->insertSample(platform::Clock::now(), 0, 0, 0, first.objectId());
    EXPECT_EQ(first.gData().count(), 1);

    Session second = Session::init(*context);
    EXPECT_GE(second.dateStamp(), first.dateStamp());
    EXPECT_EQ(root.sessions().size(), 1u);
    second.setBaseModel(root);
    EXPECT_EQ(root.sessions().size(), 2u);

    EXPECT_EQ(root.options().activeSession(), first);

    deleteObject(second);
    EXPECT_EQ(root.options().activeSession(), first);
    deleteObject(first);
    EXPECT_TRUE(root.sessions().empty());
    EXPECT_FALSE(root.options().activeSession());
    EXPECT_EQ(root.options().activeSession().gData().count(), 0);
}

TEST(AppDelegate, ChangesAreSavedSoonAndAFailedSaveIsShownAndRetried)
{
    TempHome home;
    LogCapture log;
    Program delegateProgram;
    QuivraAppDelegate& delegate = delegateProgram.delegate;
    delegate.applicationDidFinishLaunchingWithOptions();
    store::ObjectContext* context = delegate.managedObjectContext();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !context->hasChanges(); }, 3000)); // the new root

    QSignalSpy failed(&delegate, &QuivraAppDelegate::saveFailed);
    QSignalSpy recovered(&delegate, &QuivraAppDelegate::saveRecovered);
    sqlite3* db = context->database().handle();
    sqlite3_exec(db, "PRAGMA max_page_count = 1", nullptr, nullptr, nullptr);
    Session active = delegate.baseModel().options().activeSession();
    for (int i = 0; i < 5000; ++i) context->insertSample(platform::Clock::now(), 0, 0, 0, active.objectId());
    ASSERT_TRUE(QTest::qWaitFor([&] { return failed.count() > 0; }, 3000));
    EXPECT_TRUE(log.has("save failed"));
    EXPECT_TRUE(context->hasChanges());
    EXPECT_EQ(active.gData().count(), 5000);

    sqlite3_exec(db, "PRAGMA max_page_count = 1073741823", nullptr, nullptr, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return recovered.count() > 0; }, 5000));
    EXPECT_FALSE(context->hasChanges());
}

TEST(AppDelegate, TerminationWithoutChangesWritesNothing)
{
    TempHome home;
    {
        Program delegateProgram;
        QuivraAppDelegate& delegate = delegateProgram.delegate;
        delegate.applicationDidFinishLaunchingWithOptions();
        delegate.applicationWillTerminate();
    }
    auto bytes = [&] {
        QByteArray all;
        for (const char* suffix : {"", "-wal"}) {
            QFile f(home.storePath() + suffix);
            if (f.open(QIODevice::ReadOnly)) all += f.readAll();
        }
        return all;
    };
    QByteArray before = bytes();
    {
        Program delegateProgram;
        QuivraAppDelegate& delegate = delegateProgram.delegate;
        delegate.applicationDidFinishLaunchingWithOptions();
        delegate.applicationWillTerminate();
    }
    EXPECT_EQ(bytes(), before);
}

TEST(AppDelegateDeathTest, AStoreThatCannotBeOpenedAbortsAfterOneLogLine)
{
    TempHome home;
    QDir().mkpath(home.dataDir());
    QFile f(home.storePath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'x'));
    f.close();
    EXPECT_DEATH(
        {
            Program delegateProgram;
            QuivraAppDelegate& delegate = delegateProgram.delegate;
            delegate.applicationDidFinishLaunchingWithOptions();
        },
        "Unresolved error The store could not be opened.*path = ");
}

TEST(AppDelegate, AStoreDamagedByHandIsRepairedAtStart)
{
    // The rate as written by hand, what it becomes, and what the log says it was. A rate above
    // 200 is one a device offered: it stays, whatever the source of this run.
    const std::vector<std::tuple<const char*, int, const char*>> cases = {
        {"0", 5, "'0'"},
        {"-5", 5, "'-5'"},
        {"'fast'", 30, "'fast'"},
        {"7.5", 8, "'7.5'"},
        {"9223372036854775807", 200, "'9223372036854775807'"},
        {"3200", 3200, nullptr}};
    for (const auto& [rate, expected, said] : cases) {
        TempHome home;
        {
            Program delegateProgram;
            QuivraAppDelegate& delegate = delegateProgram.delegate;
            delegate.applicationDidFinishLaunchingWithOptions();
            delegate.applicationWillTerminate();
        }
        sqlite3* db = nullptr;
        sqlite3_open(home.storePath().toLocal8Bit(), &db);
        std::string sql = std::string("UPDATE options SET framerate = ") + rate + ", active_session_id = 77";
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);

        LogCapture log;
        Program delegateProgram;
        QuivraAppDelegate& delegate = delegateProgram.delegate;
        delegate.applicationDidFinishLaunchingWithOptions();
        EXPECT_EQ(delegate.baseModel().options().framerate(), expected) << rate;
        if (said)
            EXPECT_TRUE(log.has(std::string("stored sample rate ") + said
                                + " is not a whole number of readings a second "
                                  "from 5 to 100000, using "
                                + std::to_string(expected)))
                << rate;
        else
            EXPECT_FALSE(log.has("stored sample rate")) << rate;
        // The active session named a session that is not there: the latest one is active again.
        EXPECT_EQ(delegate.baseModel().options().activeSession(), delegate.baseModel().sessions().at(0));
        EXPECT_TRUE(log.has("no active session in the store: made the latest session active"));
    }
}

namespace {
// A store that cannot grow: every save fails as on a full disk.
void fill(store::ObjectContext* context, bool full)
{
    sqlite3_exec(context->database().handle(),
                 full ? "PRAGMA max_page_count = 1" : "PRAGMA max_page_count = 1073741823", nullptr, nullptr, nullptr);
}
void addSamples(QuivraAppDelegate& delegate, int count)
{
    Session active = delegate.baseModel().options().activeSession();
    for (int i = 0; i < count; ++i)
        delegate.managedObjectContext()->insertSample(platform::Clock::now(), 0, 0, 0, active.objectId());
}
std::int64_t storedSamples(const TempHome& home)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(home.storePath().toLocal8Bit(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM gdata", -1, &st, nullptr);
    std::int64_t n = st && sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
    sqlite3_finalize(st);
    sqlite3_close(db);
    return n;
}
} // namespace

TEST(AppDelegate, ClosingTheWindowWithSamplesThatCannotBeSavedAsksFirst)
{
    for (const char* answer : {"Retry", "Quit without saving"}) {
        TempHome home;
        LogCapture log;
        Program delegateProgram;
        QuivraAppDelegate& delegate = delegateProgram.delegate;
        delegate.applicationDidFinishLaunchingWithOptions();
        delegate.saveContext();
        fill(delegate.managedObjectContext(), true);
        addSamples(delegate, 3000);
        QString asked;
        QTimer::singleShot(100, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_TRUE(box);
            asked = box->text();
            fill(delegate.managedObjectContext(), false); // space freed meanwhile
            for (QAbstractButton* b : box->buttons())
                if (b->text() == answer) b->click();
        });
        EXPECT_TRUE(delegate.window()->close() == (std::string(answer) != "Keep"));
        EXPECT_TRUE(asked.contains("3,000 samples")) << asked.toStdString();
        EXPECT_TRUE(asked.contains("full")) << asked.toStdString();
        delegate.applicationWillTerminate();
        if (std::string(answer) == "Retry") {
            EXPECT_EQ(storedSamples(home), 3000);
        } else {
            EXPECT_EQ(storedSamples(home), 0);
            EXPECT_TRUE(log.has("quit without saving: 3000 samples lost"));
        }
    }
}

TEST(AppDelegate, TheFinalSaveKeepsTryingBeforeItGivesUp)
{
    TempHome home;
    LogCapture log;
    {
        Program delegateProgram;
        QuivraAppDelegate& delegate = delegateProgram.delegate;
        delegate.applicationDidFinishLaunchingWithOptions();
        delegate.saveContext();
        fill(delegate.managedObjectContext(), true);
        addSamples(delegate, 3000);
        int tries = 0;
        delegate.betweenFinalSaveTries = [&] {
            if (++tries == 2) fill(delegate.managedObjectContext(), false);
        };
        delegate.applicationWillTerminate();
        EXPECT_EQ(tries, 2);
    }
    EXPECT_TRUE(log.has("final save failed (try 2), retrying"));
    EXPECT_TRUE(log.has("saved at exit on try 3"));
    EXPECT_EQ(storedSamples(home), 3000);
}

TEST(AppDelegateDeathTest, AFinalSaveThatNeverSucceedsSaysHowManySamplesAreLost)
{
    EXPECT_DEATH(
        {
            TempHome home;
            Program delegateProgram;
            QuivraAppDelegate& delegate = delegateProgram.delegate;
            delegate.applicationDidFinishLaunchingWithOptions();
            delegate.saveContext();
            fill(delegate.managedObjectContext(), true);
            addSamples(delegate, 3000);
            delegate.finalSaveRetryTime = std::chrono::milliseconds(50);
            delegate.betweenFinalSaveTries = [] { QTest::qSleep(20); };
            delegate.applicationWillTerminate();
        },
        "3000 samples lost(.|\n)*Unresolved error The store could not be saved");
}

TEST(AppDelegate, ASignalWhileSavingFailsEndsThroughTheFinalSaveRetriesWithoutAsking)
{
    // As the program wires them (a second wiring in this process only adds a second listener).
    platform::quitOnTerminationSignals(&QuivraAppDelegate::endOnSignal);
    for (const bool questionOpen : {false, true}) {
        SCOPED_TRACE(questionOpen ? "question open" : "no question");
        TempHome home;
        LogCapture log;
        Program delegateProgram;
        QuivraAppDelegate& delegate = delegateProgram.delegate;
        delegate.applicationDidFinishLaunchingWithOptions();
        delegate.saveContext();
        fill(delegate.managedObjectContext(), true);
        addSamples(delegate, 3000);
        bool askedFirst = false;
        if (questionOpen) QTimer::singleShot(0, [&] { delegate.window()->close(); }); // the desktop closes it
        QTimer::singleShot(200, [&] {
            askedFirst = QApplication::activeModalWidget() != nullptr;
            ::raise(SIGTERM); // a logout, or systemctl stop
        });
        // A question still waiting for an answer by then is left this way, and the test fails.
        QTimer giveUp;
        giveUp.setSingleShot(true);
        QObject::connect(&giveUp, &QTimer::timeout, [] {
            if (QWidget* box = QApplication::activeModalWidget()) box->close();
            QCoreApplication::exit(3);
        });
        giveUp.start(3000);
        EXPECT_EQ(QApplication::exec(), 0);
        giveUp.stop();
        EXPECT_EQ(askedFirst, questionOpen);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

        int tries = 0;
        delegate.betweenFinalSaveTries = [&] {
            if (++tries == 2) fill(delegate.managedObjectContext(), false);
        };
        delegate.applicationWillTerminate();
        EXPECT_TRUE(log.has("final save failed (try 1), retrying"));
        EXPECT_EQ(storedSamples(home), 3000);
    }
}
