// SPDX-License-Identifier: GPL-3.0-or-later
// quivra record as a process: the store's lock, the saving rules, the rate and the session.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTest>

#include <csignal>

#include "CliRun.h"
#include "Classes/BaseModel.h"
#include "Classes/Options.h"
#include "Classes/Session.h"
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

TEST(Record, RefusesAStoreAnotherQuivraHolds)
{
    TempHome home;
    auto window = openWindowStore(home);
    const Ran ran = runQuivra(home, {"record", "--accelerometer=simulated", "--duration", "5"});
    EXPECT_EQ(ran.status, 1);
    ASSERT_EQ(ran.errorLines().size(), 1) << ran.err.toStdString();
    EXPECT_TRUE(ran.errorLines().front().contains("already running on the store")) << ran.err.toStdString();
    EXPECT_TRUE(ran.out.isEmpty());
}

TEST(Record, RecordsForADurationIntoANewSessionAtTheGivenRate)
{
    TempHome home;
    openWindowStore(home)->saveNow(); // the window made the store and its first session, and quit
    const QString replay = writeReplay(home, "ramp.txt", 10, ramp);
    const Ran ran = runQuivra(home, {"record", "--accelerometer=replay:" + replay, "--rate", "50", "--duration", "3s",
                                     "--new-session"});
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
