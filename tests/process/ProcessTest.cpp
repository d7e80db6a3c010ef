// SPDX-License-Identifier: GPL-3.0-or-later
// The program as a whole process: killed, signalled, started twice, or given a bad store.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <unistd.h>
#include <set>

#include "recording/BaseModel.h"
#include "recording/Options.h"
#include "ui/SingleWindow.h"
#include "recording/StoreKeeper.h"
#include "platform/Log.h"
#include "platform/Clock.h"
#include "platform/store/ObjectContext.h"
#include "support/TempHome.h"

namespace {

QProcess* start(const TempHome& home, const QString& program, const QStringList& args = {},
                const QString& dataHome = {})
{
    auto* p = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_DATA_HOME", dataHome.isEmpty() ? home.path() + "/data" : dataHome);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p->setProcessEnvironment(env);
    p->start(QString(QUIVRA_BINARY_DIR) + "/" + program, args);
    EXPECT_TRUE(p->waitForStarted(5000));
    return p;
}

// Every "sample <us>" line the writer printed so far.
void collect(QProcess& p, std::vector<platform::Micros>& out, QByteArray& partial)
{
    partial += p.readAllStandardOutput();
    int nl;
    while ((nl = partial.indexOf('\n')) >= 0) {
        QByteArray line = partial.left(nl);
        partial.remove(0, nl + 1);
        if (line.startsWith("sample ")) out.push_back(line.mid(7).toLongLong());
    }
}

struct StoreReader {
    sqlite3* db = nullptr;
    explicit StoreReader(const QString& path)
    {
        sqlite3_open_v2(path.toLocal8Bit(), &db, SQLITE_OPEN_READONLY, nullptr);
    }
    ~StoreReader() { sqlite3_close(db); }
    std::vector<std::string> column(const char* sql)
    {
        std::vector<std::string> out;
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
        while (st && sqlite3_step(st) == SQLITE_ROW) {
            auto t = sqlite3_column_text(st, 0);
            out.emplace_back(t ? reinterpret_cast<const char*>(t) : "");
        }
        sqlite3_finalize(st);
        return out;
    }
};

std::set<platform::Micros> storedTimes(const QString& storePath)
{
    StoreReader r(storePath);
    std::set<platform::Micros> out;
    for (const auto& t : r.column("SELECT date_stamp FROM gdata")) out.insert(std::stoll(t));
    return out;
}

} // namespace

TEST(Process, AKilledRecorderLosesNothingOlderThanTwoSeconds)
{
    TempHome home;
    std::unique_ptr<QProcess> writer(start(home, "quivra_sample_writer"));
    std::vector<platform::Micros> written;
    QByteArray partial;
    // Counted from the first sample, however long the start took.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            collect(*writer, written, partial);
            return !written.empty();
        },
        10000));
    QTest::qWait(4500);
    collect(*writer, written, partial);
    platform::Micros killedAt = platform::Clock::systemNow();
    ::kill(static_cast<pid_t>(writer->processId()), SIGKILL);
    writer->waitForFinished(5000);
    collect(*writer, written, partial);
    ASSERT_GT(written.size(), 200u);

    std::set<platform::Micros> stored = storedTimes(home.storePath());
    std::size_t old = 0;
    for (platform::Micros t : written) {
        if (t >= killedAt - 2000000) continue;
        ++old;
        EXPECT_TRUE(stored.count(t)) << "sample at " << t << " lost, " << (killedAt - t) / 1000
                                     << " ms before the kill";
    }
    EXPECT_GT(old, 150u);
    StoreReader r(home.storePath());
    EXPECT_EQ(r.column("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
    // The session's kept count matches its rows.
    EXPECT_EQ(r.column("SELECT sample_count = (SELECT count(*) FROM gdata WHERE session_id = session.id) FROM session"),
              std::vector<std::string>{"1"});
}

TEST(Process, TheRealProgramKilledWhileRecordingKeepsEverythingOlderThanTwoSeconds)
{
    TempHome home;
    {
        // A store whose rate is 100 readings a second.
        QDir().mkpath(home.dataDir());
        store::ObjectContext context;
        store::StoreError error;
        ASSERT_TRUE(context.open(home.storePath().toStdString(), error));
        BaseModel root = BaseModel::init(context);
        root.options().setFramerate(100);
        ASSERT_TRUE(context.save(error));
    }
    platform::Micros startedAt = platform::Clock::systemNow();
    std::unique_ptr<QProcess> quivra(start(home, "quivra", {"--accelerometer=simulated", "--record"}));
    QTest::qWait(4500);
    platform::Micros killedAt = platform::Clock::systemNow();
    ::kill(static_cast<pid_t>(quivra->processId()), SIGKILL);
    quivra->waitForFinished(5000);

    StoreReader r(home.storePath());
    EXPECT_EQ(r.column("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
    std::vector<platform::Micros> times;
    for (const auto& t : r.column("SELECT date_stamp FROM gdata ORDER BY date_stamp")) times.push_back(std::stoll(t));
    ASSERT_GT(times.size(), 150u);
    // Saved up to less than two seconds before the kill, with no stretch missing on the way.
    EXPECT_GT(times.back(), killedAt - 2000000) << (killedAt - times.back()) / 1000 << " ms unsaved";
    EXPECT_GT(times.front(), startedAt);
    for (std::size_t i = 1; i < times.size(); ++i)
        EXPECT_LT(times[i] - times[i - 1], 100000) << "gap after sample " << i;
    double rate = double(times.size() - 1) / (double(times.back() - times.front()) / 1e6);
    EXPECT_NEAR(rate, 100.0, 5.0);
}

TEST(Process, TerminationSignalsEndNormallyAndSaveEverything)
{
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        TempHome home;
        std::unique_ptr<QProcess> writer(start(home, "quivra_sample_writer"));
        std::vector<platform::Micros> written;
        QByteArray partial;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                collect(*writer, written, partial);
                return !written.empty();
            },
            10000));
        QTest::qWait(700);
        ::kill(static_cast<pid_t>(writer->processId()), sig);
        ASSERT_TRUE(writer->waitForFinished(10000));
        EXPECT_EQ(writer->exitStatus(), QProcess::NormalExit) << "signal " << sig;
        EXPECT_EQ(writer->exitCode(), 0);
        collect(*writer, written, partial);
        ASSERT_FALSE(written.empty());
        std::set<platform::Micros> stored = storedTimes(home.storePath());
        EXPECT_EQ(stored.size(), written.size()) << "signal " << sig;
    }
}

TEST(Process, ASecondStartOnTheSameStoreBringsTheFirstWindowToTheFrontAndLeaves)
{
    TempHome home;
    std::unique_ptr<QProcess> first(start(home, "quivra"));
    // Through a symlink to the store's folder, the same store and so the same window.
    ASSERT_TRUE(QFile::link(home.path() + "/data", home.path() + "/data-link"));
    const QString socket = SingleWindow(home.storePath().toStdString()).serverName();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(socket); }, 10000)) << socket.toStdString();
    std::unique_ptr<QProcess> second(start(home, "quivra", {}, home.path() + "/data-link"));
    ASSERT_TRUE(second->waitForFinished(10000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    QByteArray said = second->readAllStandardError();
    EXPECT_TRUE(said.contains("its window was brought to the front")) << said.constData();
    EXPECT_EQ(said.count('\n'), 1) << said.constData();
    EXPECT_TRUE(QTest::qWaitFor([&] { return first->readAllStandardError().contains("brought to the front"); }, 5000));

    first->terminate();
    ASSERT_TRUE(first->waitForFinished(10000));
    EXPECT_EQ(first->exitCode(), 0);
    StoreReader r(home.storePath());
    EXPECT_EQ(r.column("SELECT count(*) FROM base_model"), std::vector<std::string>{"1"});
    EXPECT_EQ(r.column("SELECT count(*) FROM session"), std::vector<std::string>{"1"});
}

TEST(Process, AStoreThatDoesNotFitAbortsWithOneLineAndStaysUntouched)
{
    TempHome home;
    QDir().mkpath(home.dataDir());
    QByteArray garbage = QByteArray("not a database; ").repeated(500);
    {
        QFile f(home.storePath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(garbage);
    }
    std::unique_ptr<QProcess> p(start(home, "quivra"));
    ASSERT_TRUE(p->waitForFinished(10000));
    EXPECT_EQ(p->exitStatus(), QProcess::CrashExit);
    QByteArray said = p->readAllStandardError();
    EXPECT_TRUE(said.contains("Unresolved error ")) << said.constData();
    EXPECT_TRUE(said.contains(home.storePath().toLocal8Bit())) << said.constData();
    QFile f(home.storePath());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), garbage);
}

namespace {
// The environment of a started program, without any display unless one is given.
QProcess* startBare(const TempHome& home, const QString& program, const QStringList& args, const QString& display = {})
{
    auto* p = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR"}) env.remove(name);
    env.insert("HOME", home.path());
    env.insert("XDG_DATA_HOME", home.path() + "/data");
    if (!display.isEmpty()) env.insert("DISPLAY", display);
    p->setProcessEnvironment(env);
    p->start(program, args);
    EXPECT_TRUE(p->waitForStarted(5000));
    return p;
}
QString quivraBinary()
{
    return QString(QUIVRA_BINARY_DIR) + "/quivra";
}
} // namespace

TEST(Process, QtsOwnOptionsAreLeftToQt)
{
    TempHome home;
    std::unique_ptr<QProcess> p(startBare(
        home, quivraBinary(), {"-platform", "offscreen", "-style=Fusion", "--accelerometer=simulated", "-reverse"}));
    QByteArray said;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            said += p->readAllStandardError();
            return said.contains("base model");
        },
        10000))
        << said.constData();
    p->terminate();
    ASSERT_TRUE(p->waitForFinished(10000));
    EXPECT_EQ(p->exitCode(), 0);
    EXPECT_FALSE(said.contains("Unknown option")) << said.constData();
}

TEST(Process, ALostDisplayStillSavesWhatWasRecorded)
{
    TempHome home;
    // A display of our own, which dies while Quivra records on it.
    QProcess xvfb;
    int number = 0;
    for (number = 90 + (::getpid() % 50); number < 200; ++number) {
        if (QFile::exists(QString("/tmp/.X11-unix/X%1").arg(number))
            || QFile::exists(QString("/tmp/.X%1-lock").arg(number)))
            continue;
        xvfb.start("Xvfb", {QString(":%1").arg(number), "-nolisten", "tcp", "-screen", "0", "1280x800x24"});
        if (xvfb.waitForStarted(5000)
            && QTest::qWaitFor([&] { return QFile::exists(QString("/tmp/.X11-unix/X%1").arg(number)); }, 5000))
            break;
    }
    ASSERT_EQ(xvfb.state(), QProcess::Running);
    std::unique_ptr<QProcess> quivra(
        startBare(home, quivraBinary(), {"--accelerometer=simulated", "--record"}, QString(":%1").arg(number)));
    QByteArray said;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            said += quivra->readAllStandardError();
            return said.contains("base model");
        },
        10000))
        << said.constData();
    QTest::qWait(2500);
    platform::Micros killedAt = platform::Clock::systemNow();
    xvfb.kill();
    xvfb.waitForFinished(5000);
    ASSERT_TRUE(quivra->waitForFinished(10000));
    said += quivra->readAllStandardError();
    std::set<platform::Micros> stored = storedTimes(home.storePath());
    ASSERT_FALSE(stored.empty()) << said.constData();
    // Saved on the way out, not a second or more before.
    EXPECT_GT(*stored.rbegin(), killedAt - 300000) << said.constData();
}

TEST(Process, AReadOnlyStoreIsRefusedAtStartInOneLine)
{
    TempHome home;
    {
        std::unique_ptr<QProcess> first(start(home, "quivra"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return first->readAllStandardError().contains("base model"); }, 10000));
        first->terminate();
        ASSERT_TRUE(first->waitForFinished(10000));
    }
    QFile::remove(home.storePath() + ".lock");
    QByteArray before;
    {
        QFile f(home.storePath());
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        before = f.readAll();
    }
    // Readable, not writable: the folder and the file. The superuser writes anywhere, so then
    // the program runs as nobody.
    QString program = quivraBinary();
    QStringList args;
    QFile::setPermissions(home.dataDir(), QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther
                                              | QFileDevice::ExeOther);
    QFile::setPermissions(home.storePath(), QFileDevice::ReadOwner | QFileDevice::ReadOther);
    if (::geteuid() == 0) {
        for (QString dir = home.dataDir(); dir != "/" && !dir.isEmpty(); dir = QFileInfo(dir).path())
            if (dir.startsWith(home.path()) || dir == home.path())
                QFile::setPermissions(dir, QFile::permissions(dir) | QFileDevice::ReadOther | QFileDevice::ExeOther);
        QFile::setPermissions(home.path(),
                              QFile::permissions(home.path()) | QFileDevice::ExeOther | QFileDevice::ReadOther);
        args = {"--reuid=65534", "--regid=65534", "--clear-groups", program};
        program = "setpriv";
    }
    std::unique_ptr<QProcess> p(startBare(home, program, args + QStringList{"-platform", "offscreen"}));
    ASSERT_TRUE(p->waitForFinished(10000));
    QByteArray said = p->readAllStandardError();
    EXPECT_EQ(p->exitStatus(), QProcess::CrashExit) << said.constData();
    EXPECT_TRUE(said.contains("Unresolved error The store is read-only")) << said.constData();
    EXPECT_EQ(said.count(" Quivra["), 1) << said.constData(); // one line of ours
    QFile f(home.storePath());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
    QFile::setPermissions(home.dataDir(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST(Process, AfterAnEndThatWasNotCleanTheSampleCountsAreCheckedAndRepaired)
{
    TempHome home;
    std::unique_ptr<QProcess> writer(start(home, "quivra_sample_writer"));
    std::vector<platform::Micros> written;
    QByteArray partial;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            collect(*writer, written, partial);
            return !written.empty();
        },
        10000));
    QTest::qWait(1500);
    ::kill(static_cast<pid_t>(writer->processId()), SIGKILL);
    writer->waitForFinished(5000);
    // A count that disagrees with the rows, as two recorders on one store could leave it.
    auto spoil = [&](int by) {
        sqlite3* db = nullptr;
        sqlite3_open(home.storePath().toLocal8Bit(), &db);
        sqlite3_exec(db, ("UPDATE session SET sample_count = sample_count + " + std::to_string(by)).c_str(), nullptr,
                     nullptr, nullptr);
        sqlite3_close(db);
    };
    auto rows = [&] { return StoreReader(home.storePath()).column("SELECT count(*) FROM gdata").at(0); };
    auto counted = [&] { return StoreReader(home.storePath()).column("SELECT sample_count FROM session").at(0); };
    spoil(205);
    std::vector<std::string> log;
    platform::setLogSink([&](std::string_view line) { log.emplace_back(line); });
    auto reopen = [&] {
        StoreKeeper keeper;
        store::StoreError error;
        EXPECT_TRUE(keeper.open(home.storePath().toStdString(), error)) << error.describe();
    };
    reopen();
    const std::string n = rows();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "the last run did not end cleanly: session 1 was said to hold "
                          + std::to_string(std::stoll(n) + 205) + " samples but holds " + n
                          + ": its count is repaired");
    EXPECT_EQ(counted(), n);

    // That run ended cleanly: a start then counts no rows (it would take long in a large store).
    spoil(7);
    reopen();
    platform::setLogSink({});
    EXPECT_EQ(log.size(), 1u);
    EXPECT_EQ(counted(), std::to_string(std::stoll(n) + 7));
}
