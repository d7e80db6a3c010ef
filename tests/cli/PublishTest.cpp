// SPDX-License-Identifier: GPL-3.0-or-later
// Publishing to a real mosquitto broker on a free local port, from `quivra record` and from the
// window: summaries with the right levels every second, raw batches, the retained status, and a
// broker outage that neither loses a queued summary nor disturbs the recording.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <chrono>
#include <cmath>
#include <map>

#include "CliRun.h"
#include "publish/MosquittoBroker.h"
#include "publish/Subscriber.h"

namespace {

using namespace std::chrono_literals;
using platform::Micros;

constexpr double kPi = 3.14159265358979323846;

// Played at 100 readings a second, one line each: 0.5 g at 12.5 Hz on x.
Axes sine(int i)
{
    return {float(0.5 * std::sin(2 * kPi * i / 8.0)), 0.0f, -1.0f};
}

Axes count(int i)
{
    return {float(i), 0.0f, -1.0f};
}

// The summaries received, once each (QoS 1 may deliver one twice), by time.
std::map<Micros, QJsonObject> summaries(const Subscriber& watcher, const std::string& topic)
{
    std::map<Micros, QJsonObject> out;
    for (const std::string& payload : watcher.payloads(topic)) {
        const QJsonObject summary = QJsonDocument::fromJson(QByteArray::fromStdString(payload)).object();
        out[summary["time_us"].toInteger()] = summary;
    }
    return out;
}

bool lastStatusIs(const Subscriber& watcher, const std::string& topic, const std::string& status)
{
    const auto received = watcher.messages(topic);
    return !received.empty() && received.back().payload == status;
}

class Publish : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!MosquittoBroker::installed()) GTEST_SKIP() << MosquittoBroker::kProgram << " is not installed";
    }
};

TEST_F(Publish, RecordSendsEverySummaryThroughABrokerOutageAndKeepsRecording)
{
    TempHome home;
    MosquittoBroker broker(/*persistent=*/true);
    ASSERT_TRUE(broker.running()) << broker.log();
    // A persistent session on a persistent broker keeps what comes while the watcher is away.
    Subscriber watcher(broker.port(), "test/pump/#", "pump-watcher", /*persistentSession=*/true);
    ASSERT_TRUE(watcher.ready());
    const QString replay = writeReplay(home, "sine.txt", 8, sine);
    auto recorder = startQuivra(home, {"record", "--accelerometer=replay:" + replay, "--rate", "100", "--publish",
                                       QString::fromStdString(broker.url("test/pump"))});
    ASSERT_TRUE(watcher.waitForCount("test/pump/summary", 3, 30s)) << recorder->readAllStandardError().toStdString();

    broker.stop();
    const Micros outageFrom = platform::Clock::systemNow();
    // Meanwhile the store can be read: no lock is needed for that.
    const Ran listed = runQuivra(home, {"sessions", "--json"});
    EXPECT_EQ(listed.status, 0) << listed.err.toStdString();
    EXPECT_GT(QJsonDocument::fromJson(listed.out).object()["samples"].toInt(), 100) << listed.out.toStdString();
    QTest::qWait(3000 - int((platform::Clock::systemNow() - outageFrom) / 1000));
    const Micros outageTo = platform::Clock::systemNow();
    ASSERT_TRUE(broker.start()) << broker.log();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto received = summaries(watcher, "test/pump/summary");
            return !received.empty() && received.rbegin()->first > outageTo + 2000000;
        },
        60000));
    recorder->terminate();
    ASSERT_TRUE(recorder->waitForFinished(60000));
    EXPECT_EQ(recorder->exitCode(), 0) << recorder->readAllStandardError().toStdString();
    EXPECT_TRUE(
        watcher.waitFor("test/pump/status", [](const auto& m) { return !m.empty() && m.back().payload == "offline"; }));

    const auto received = summaries(watcher, "test/pump/summary");
    int duringOutage = 0, withoutVelocity = 0;
    Micros previous = 0;
    for (auto it = received.begin(); it != received.end(); ++it) {
        const auto& [time, s] = *it;
        const bool last = std::next(it) == received.end();
        duringOutage += time > outageFrom && time < outageTo;
        // One a second, none missing (the last one covers what remained at the stop).
        if (previous != 0) {
            EXPECT_TRUE((last || time - previous > 500000) && time - previous < 1600000)
                << (time - previous) << " us between summaries";
        }
        previous = time;
        if (it == received.begin() || last) continue;
        EXPECT_NEAR(s["rate"].toDouble(), 100, 3);
        EXPECT_NEAR(s["x"]["rms"].toDouble(), 0.5 / std::sqrt(2.0), 0.3536 * 0.03) << time;
        EXPECT_NEAR(s["x"]["peak"].toDouble(), 0.5, 0.5 * 0.04); // about the mean of 12.5 periods
        // A second with a real pause in it (a machine too busy to read on time) has no spectrum,
        // so no velocity; every other one has the sine's.
        if (s["x"]["velocity_rms_mm_s"].isNull())
            ++withoutVelocity;
        else
            EXPECT_NEAR(s["x"]["velocity_rms_mm_s"].toDouble(), 44.14, 44.14 * 0.05);
        EXPECT_NEAR(s["z"]["rms"].toDouble(), 0, 1e-6);
        EXPECT_EQ(s["session"].toInt(), 1);
        EXPECT_EQ(s["dropped"].toInt(), 0);
        EXPECT_EQ(s["publish_dropped"].toInt(), 0);
        EXPECT_FALSE(s["device"].toString().isEmpty());
    }
    EXPECT_GE(duringOutage, 3);
    EXPECT_LE(withoutVelocity, int(received.size()) / 4);

    // The readings kept their pace while the broker was away.
    const std::vector<Micros> times = storedTimes(home, 1);
    ASSERT_GT(times.size(), 600u); // some eight seconds at 100 a second
    Micros longest = 0;
    for (std::size_t i = 1; i < times.size(); ++i) longest = std::max(longest, times[i] - times[i - 1]);
    EXPECT_LT(longest, 100000);
    EXPECT_LT(times.front(), outageFrom - 2000000);
    EXPECT_GT(times.back(), outageTo + 2000000);
}

TEST_F(Publish, TheWindowPublishesSummariesAndEveryRawReading)
{
    if (!QUIVRA_GUI) GTEST_SKIP() << "a build without the window";
    TempHome home;
    MosquittoBroker broker;
    ASSERT_TRUE(broker.running()) << broker.log();
    Subscriber watcher(broker.port(), "lab/bench/#");
    ASSERT_TRUE(watcher.ready());
    const QString replay = writeReplay(home, "count.txt", 100000, count);
    auto window = startQuivra(home, {"--accelerometer=replay:" + replay, "--record", "--publish",
                                     QString::fromStdString(broker.url("lab/bench")), "--publish-raw"});
    ASSERT_TRUE(watcher.waitForCount("lab/bench/summary", 2, 30s)) << window->readAllStandardError().toStdString();
    EXPECT_TRUE(lastStatusIs(watcher, "lab/bench/status", "online"));
    window->terminate();
    ASSERT_TRUE(window->waitForFinished(30000));
    EXPECT_EQ(window->exitCode(), 0) << window->readAllStandardError().toStdString();
    EXPECT_TRUE(
        watcher.waitFor("lab/bench/status", [](const auto& m) { return !m.empty() && m.back().payload == "offline"; }));
    EXPECT_NEAR(summaries(watcher, "lab/bench/summary").begin()->second["rate"].toDouble(), 30, 2); // the window's rate

    // Batches of about 100 ms whose readings follow each other without one missing.
    float expected = 0;
    int batches = 0;
    for (const std::string& payload : watcher.payloads("lab/bench/raw")) {
        const QJsonObject batch = QJsonDocument::fromJson(QByteArray::fromStdString(payload)).object();
        const QJsonArray x = batch["x"].toArray(), dt = batch["dt"].toArray();
        ASSERT_EQ(x.size(), dt.size());
        EXPECT_LE(x.size(), 12);
        for (qsizetype i = 0; i < x.size(); ++i) ASSERT_EQ(float(x[i].toDouble()), expected++) << payload;
        ++batches;
    }
    EXPECT_GE(batches, 10);
}

} // namespace

TEST_F(Publish, TopicsAndSummariesNameTheMachineAndPointAndMarkersGoOutAsEvents)
{
    TempHome home;
    MosquittoBroker broker;
    ASSERT_TRUE(broker.running()) << broker.log();
    Subscriber watcher(broker.port(), "plant/#", "plant-watcher");
    ASSERT_TRUE(watcher.ready());
    auto recorder = startQuivra(home, {"record", "--accelerometer=simulated", "--machine", "Pump 3", "--point", "DE/1",
                                       "--publish", QString::fromStdString(broker.url("plant/{machine}/{point}"))});
    ASSERT_TRUE(watcher.waitForCount("plant/Pump 3/DE_1/summary", 1, 30s))
        << recorder->readAllStandardError().toStdString();
    recorder->write("valve closed\n");
    ASSERT_TRUE(recorder->waitForBytesWritten(5000));
    ASSERT_TRUE(watcher.waitForCount("plant/Pump 3/DE_1/event", 1, 30s))
        << recorder->readAllStandardError().toStdString();
    recorder->terminate();
    ASSERT_TRUE(recorder->waitForFinished(30000));

    const QJsonObject summary = summaries(watcher, "plant/Pump 3/DE_1/summary").begin()->second;
    EXPECT_EQ(summary["tags"].toObject()["machine"].toString(), "Pump 3");
    EXPECT_EQ(summary["tags"].toObject()["point"].toString(), "DE/1");
    const QJsonObject event =
        QJsonDocument::fromJson(QByteArray::fromStdString(watcher.payloads("plant/Pump 3/DE_1/event").front()))
            .object();
    EXPECT_EQ(event["type"].toString(), "marker");
    EXPECT_EQ(event["text"].toString(), "valve closed");
    EXPECT_EQ(event["kind"].toString(), "event");
    EXPECT_EQ(event["session"].toInteger(), 1);
}
