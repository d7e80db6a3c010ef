// Start-up, the stored entities as the program sees them, and saving while the program runs.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include "BaseModel.h"
#include "GData.h"
#include "Options.h"
#include "QuivraAppDelegate.h"
#include "Session.h"
#include "platform/Log.h"
#include "support/TempHome.h"

namespace {
struct LogCapture {
    std::vector<std::string> lines;
    LogCapture() { platform::setLogSink([this](std::string_view m) { lines.emplace_back(m); }); }
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
        QuivraAppDelegate delegate;
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
    QuivraAppDelegate delegate;
    delegate.applicationDidFinishLaunchingWithOptions();
    EXPECT_EQ(log.lines, std::vector<std::string>{"load model"});
    EXPECT_EQ(delegate.baseModel().options().activeSession().objectId(), sessionId);
    EXPECT_EQ(delegate.baseModel().options().tareX(), 0.1f);
    EXPECT_FALSE(delegate.managedObjectContext()->hasChanges());
}

TEST(AppDelegate, EntitiesKeepTheirInversesAndDeletionEffects)
{
    TempHome home;
    QuivraAppDelegate delegate;
    delegate.applicationDidFinishLaunchingWithOptions();
    BaseModel root = delegate.baseModel();
    Session first = root.options().activeSession();

    GData fresh = GData::init();
    EXPECT_EQ(fresh.xValue(), 0.0f);
    EXPECT_FALSE(fresh.currentSession());
    fresh.setCurrentSession(first);
    EXPECT_EQ(first.gData().count(), 1);
    EXPECT_EQ(fresh.currentSession(), first);

    Session second = Session::init();
    EXPECT_GE(second.dateStamp(), first.dateStamp());
    EXPECT_EQ(root.sessions().size(), 1u);
    second.setBaseModel(root);
    EXPECT_EQ(root.sessions().size(), 2u);

    deleteObject(fresh);
    EXPECT_EQ(first.gData().count(), 0);
    EXPECT_EQ(root.options().activeSession(), first);

    deleteObject(second);
    EXPECT_EQ(root.options().activeSession(), first);
    deleteObject(first);
    EXPECT_TRUE(root.sessions().empty());
    EXPECT_FALSE(root.options().activeSession());
    EXPECT_EQ(root.options().activeSession().gData().count(), 0);
    // With no active session a new sample belongs to none.
    GData loose = GData::init();
    loose.setCurrentSession(root.options().activeSession());
    EXPECT_FALSE(loose.currentSession());
}

TEST(AppDelegate, ChangesAreSavedSoonAndAFailedSaveIsShownAndRetried)
{
    TempHome home;
    LogCapture log;
    QuivraAppDelegate delegate;
    delegate.applicationDidFinishLaunchingWithOptions();
    store::ObjectContext* context = delegate.managedObjectContext();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !context->hasChanges(); }, 3000)); // the new root

    QSignalSpy failed(&delegate, &QuivraAppDelegate::saveFailed);
    QSignalSpy recovered(&delegate, &QuivraAppDelegate::saveRecovered);
    sqlite3* db = context->database().handle();
    sqlite3_exec(db, "PRAGMA max_page_count = 1", nullptr, nullptr, nullptr);
    Session active = delegate.baseModel().options().activeSession();
    for (int i = 0; i < 5000; ++i) {
        GData g = GData::init();
        g.setCurrentSession(active);
    }
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
        QuivraAppDelegate delegate;
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
        QuivraAppDelegate delegate;
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
            QuivraAppDelegate delegate;
            delegate.applicationDidFinishLaunchingWithOptions();
        },
        "Unresolved error The store could not be opened.*path = ");
}
