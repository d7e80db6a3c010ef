// SPDX-License-Identifier: GPL-3.0-or-later
// quivra record as a process: the store's lock, the saving rules, the rate and the session.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <unistd.h>

#include <sqlite3.h>

#include "CliRun.h"
#include "recording/BaseModel.h"
#include "recording/Options.h"
#include "recording/Session.h"
#include "analysis/Samples.h"
#include "platform/store/SessionReader.h"

namespace {

using platform::Micros;

Axes ramp(int i)
{
    return {float(i % 10) * 0.125f, -0.5f, -1.0f};
}

// The largest step between consecutive times.
Micros longestStep(const std::vector<Micros>& times)
{
    Micros longest = 0;
    for (std::size_t i = 1; i < times.size(); ++i) longest = std::max(longest, times[i] - times[i - 1]);
    return longest;
}

TEST(Record, RefusesAStoreAnotherQuivraHoldsHoweverItIsReached)
{
    TempHome home;
    auto window = openWindowStore(home);
    addSession(*window, platform::Clock::systemNow(), 100, 10000, ramp);
    // The same file through a hard link in another home, where the lock file beside it is another.
    TempHome other;
    QDir().mkpath(other.dataDir());
    ASSERT_EQ(::link(home.storePath().toLocal8Bit().constData(), other.storePath().toLocal8Bit().constData()), 0);
    auto refused = [](const TempHome& where, const char* how) {
        const Ran ran = runQuivra(where, {"record", "--accelerometer=simulated", "--duration", "5"});
        EXPECT_EQ(ran.status, 1) << how;
        ASSERT_EQ(ran.errorLines().size(), 1) << how << ": " << ran.err.toStdString();
        EXPECT_TRUE(ran.errorLines().front().contains("already running on the store")) << ran.err.toStdString();
        EXPECT_TRUE(ran.out.isEmpty()) << how;
    };
    refused(home, "beside it");
    refused(other, "through a hard link");
    ASSERT_TRUE(QFile::remove(home.storePath() + ".lock"));
    refused(home, "with its lock file deleted");

    addSession(*window, platform::Clock::systemNow(), 50, 10000, ramp);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(home.storePath().toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT (SELECT integrity_check FROM pragma_integrity_check) || ' ' || count(*) FROM gdata",
                       -1, &st, nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok 150");
    sqlite3_finalize(st);
    sqlite3_close(db);
}

namespace {
// The first column of the first row, as text; empty when the store cannot be read.
std::string queryOne(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    std::string out;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW
            && sqlite3_column_text(st, 0))
            out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return out;
}

// "ok" and whether every session's kept count matches its rows.
constexpr const char* kSound = "SELECT (SELECT integrity_check FROM pragma_integrity_check) || ' ' ||"
                               " (SELECT count(*) FROM session WHERE sample_count !="
                               " (SELECT count(*) FROM gdata WHERE session_id = session.id))";
} // namespace

TEST(Record, AStoreWrittenBackLeavesThePathToTheRecorderThatStartedThere)
{
    TempHome home;
    auto window = openWindowStore(home);
    const Micros start = platform::Clock::systemNow();
    const store::ObjectId session = addSession(*window, start, 300, 10000, ramp);
    QSignalSpy notices(window.get(), &StoreKeeper::storeNotice);
    // The data folder goes, and another recorder starts there before the window saves again.
    ASSERT_TRUE(QDir(home.path() + "/data").removeRecursively());
    auto recorder = startQuivra(home, {"record", "--accelerometer=simulated", "--rate", "100"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return queryOne(home.storePath(), "SELECT count(*) FROM gdata") > "0"; }, 10000));
    for (int i = 300; i < 400; ++i) window->context()->insertSample(start + i * 10000, 0.5f, 0, -1, session);
    ASSERT_TRUE(window->saveNow());

    ASSERT_EQ(notices.size(), 1);
    const QString notice = notices[0][0].toString();
    EXPECT_TRUE(notice.startsWith("Another Quivra now records into " + home.storePath())) << notice.toStdString();
    const QStringList kept = QDir(home.dataDir()).entryList({"Quivra.sqlite.kept-*[0-9]"});
    ASSERT_EQ(kept.size(), 1) << QDir(home.dataDir()).entryList().join(' ').toStdString();
    const QString keptPath = home.dataDir() + "/" + kept[0];
    EXPECT_TRUE(notice.contains(keptPath)) << notice.toStdString();
    // Everything the window recorded is there, and saving goes on there.
    EXPECT_EQ(queryOne(keptPath, kSound), "ok 0");
    EXPECT_EQ(queryOne(keptPath, "SELECT count(*) FROM gdata"), "400");
    window->context()->insertSample(start + 400 * 10000, 0.5f, 0, -1, session);
    ASSERT_TRUE(window->saveNow());
    EXPECT_EQ(queryOne(keptPath, "SELECT sample_count FROM session WHERE id = 2"), "401");
    EXPECT_EQ(notices.size(), 1);

    // The recorder's store was never touched: whole, and counted right.
    recorder->terminate();
    ASSERT_TRUE(recorder->waitForFinished(10000));
    EXPECT_EQ(recorder->exitCode(), 0) << recorder->readAllStandardError().toStdString();
    EXPECT_EQ(queryOne(home.storePath(), kSound), "ok 0");
    EXPECT_EQ(queryOne(home.storePath(), "SELECT count(*) FROM session"), "1");
    EXPECT_TRUE(QDir(home.dataDir()).entryList({"*displaced*"}).isEmpty());
}

TEST(Record, RecordsForADurationIntoANewSessionAtTheGivenRate)
{
    TempHome home;
    openWindowStore(home)->saveNow(); // the window made the store and its first session, and quit
    const QString replay = writeReplay(home, "ramp.txt", 10, ramp);
    const Ran ran = runQuivra(
        home, {"record", "--accelerometer=replay:" + replay, "--rate", "50", "--duration", "3s", "--new-session"});
    ASSERT_EQ(ran.status, 0) << ran.err.toStdString();
    const QRegularExpressionMatch summary =
        QRegularExpression(R"(^Recorded (\d+) samples into session 2 in [0-9.]+s \(([0-9.]+) a second\), 0 dropped\n$)")
            .match(QString::fromUtf8(ran.out));
    ASSERT_TRUE(summary.hasMatch()) << ran.out.toStdString();

    auto keeper = openWindowStore(home);
    const Options options = keeper->root().options();
    EXPECT_EQ(options.framerate(), 50);
    EXPECT_EQ(options.activeSession().objectId(), 2);
    std::vector<store::SampleValues> samples;
    keeper->context()->forEachSample(2, [&](const store::SampleValues& s) {
        samples.push_back(s);
        return true;
    });
    ASSERT_EQ(qsizetype(samples.size()), summary.captured(1).toLongLong());
    // Three seconds by the readings' own stamps: 150 of them, the last within one interval of
    // the end.
    ASSERT_GE(samples.size(), 2u);
    const Micros span = samples.back().dateStamp - samples.front().dateStamp;
    EXPECT_LT(span, 3000000);
    EXPECT_GE(span, 3000000 - 20000 - 5000);
    EXPECT_NEAR(double(samples.size()), 150, 1);
    // Every reading of the file, in order, with the tare (none) subtracted.
    for (std::size_t i = 0; i < samples.size(); ++i) ASSERT_EQ(samples[i].x, ramp(int(i)).x) << i;
    std::vector<Micros> times;
    for (const auto& s : samples) times.push_back(s.dateStamp);
    EXPECT_NEAR(analysis::estimateSampleRate(times), 50, 0.5);
    EXPECT_EQ(keeper->context()->sampleCount(1), 0);
}

TEST(Record, AKilledRecorderKeepsEverythingOlderThanTwoSeconds)
{
    TempHome home;
    auto recorder = startQuivra(home, {"record", "--accelerometer=simulated", "--rate", "100"});
    const Micros started = platform::Clock::systemNow();
    QTest::qWait(5000);
    const Micros killed = platform::Clock::systemNow();
    ::kill(pid_t(recorder->processId()), SIGKILL);
    ASSERT_TRUE(recorder->waitForFinished(10000));
    ASSERT_EQ(recorder->exitStatus(), QProcess::CrashExit);

    const std::vector<Micros> times = storedTimes(home, 1);
    ASSERT_FALSE(times.empty()) << recorder->readAllStandardError().toStdString();
    // From shortly after the start up to two seconds before the kill, without a hole.
    EXPECT_LT(times.front() - started, 4000000);
    EXPECT_GE(times.back(), killed - 2000000) << (killed - times.back()) / 1000 << " ms lost";
    EXPECT_LT(longestStep(times), 100000);
    EXPECT_NEAR(double(times.size()), double(times.back() - times.front()) / 10000 + 1, double(times.size()) * 0.02);
}

} // namespace
