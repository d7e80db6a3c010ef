// SPDX-License-Identifier: GPL-3.0-or-later
// Publishing to a real InfluxDB (Debian's influxd) on a free local port: `quivra record` writes a
// point a second with the summary's levels, and keeps every one of them while the database is
// not made yet and through an outage of it, read back with a query of its own.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <cmath>
#include <map>

#include "CliRun.h"
#include "publish/InfluxServer.h"

namespace {

using platform::Micros;

constexpr double kPi = 3.14159265358979323846;

// Played at 100 readings a second, one line each: 0.5 g at 12.5 Hz on x.
Axes sine(int i)
{
    return {float(0.5 * std::sin(2 * kPi * i / 8.0)), 0.0f, -1.0f};
}

// Every point of the measurement by its time, each a column name -> value object.
std::map<Micros, QJsonObject> points(const InfluxServer& influx)
{
    const QJsonObject answer =
        QJsonDocument::fromJson(QByteArray::fromStdString(influx.query("SELECT * FROM vibration", "plant"))).object();
    const QJsonObject series = answer["results"][0]["series"][0].toObject();
    const QJsonArray columns = series["columns"].toArray();
    std::map<Micros, QJsonObject> out;
    for (const QJsonValue& row : series["values"].toArray()) {
        QJsonObject point;
        for (qsizetype i = 0; i < columns.size(); ++i) point[columns[i].toString()] = row[i];
        out[point["time"].toInteger()] = point;
    }
    return out;
}

} // namespace

TEST(Influx, RecordWritesEverySummaryThroughAnOutageOfTheDatabase)
{
    if (!InfluxServer::installed()) GTEST_SKIP() << InfluxServer::kProgram << " or curl is not installed";
    TempHome home;
    InfluxServer influx;
    ASSERT_TRUE(influx.running()) << influx.log();
    const QString replay = writeReplay(home, "sine.txt", 8, sine);
    auto recorder = startQuivra(home, {"record", "--accelerometer=replay:" + replay, "--rate", "100", "--publish",
                                       QString::fromStdString(influx.url("plant"))});
    // A database made after the recorder started (404 until then) gets its first seconds too.
    QTest::qWait(1200);
    influx.query("CREATE DATABASE plant");
    ASSERT_TRUE(QTest::qWaitFor([&] { return points(influx).size() >= 3; }, 30000))
        << recorder->readAllStandardError().toStdString();

    // Three seconds are enough to show it: the summaries wait in the queue, however long the outage.
    influx.stop();
    const Micros outageFrom = platform::Clock::systemNow();
    QTest::qWait(3000);
    const Micros outageTo = platform::Clock::systemNow();
    ASSERT_TRUE(influx.start()) << influx.log();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto written = points(influx);
            return !written.empty() && written.rbegin()->first > outageTo + 2000000;
        },
        60000))
        << recorder->readAllStandardError().toStdString();
    recorder->terminate();
    ASSERT_TRUE(recorder->waitForFinished(30000));
    EXPECT_EQ(recorder->exitCode(), 0) << recorder->readAllStandardError().toStdString();

    const auto written = points(influx);
    int duringOutage = 0, withoutVelocity = 0;
    Micros previous = 0;
    for (auto it = written.begin(); it != written.end(); ++it) {
        const auto& [time, p] = *it;
        const bool last = std::next(it) == written.end();
        duringOutage += time > outageFrom && time < outageTo;
        // One a second, none missing (the last one covers what remained at the stop).
        if (previous != 0) {
            EXPECT_TRUE((last || time - previous > 500000) && time - previous < 1600000) << (time - previous) << " us";
        }
        previous = time;
        if (it == written.begin() || last) continue;
        EXPECT_NEAR(p["rate"].toDouble(), 100, 3);
        EXPECT_NEAR(p["x_rms"].toDouble(), 0.5 / std::sqrt(2.0), 0.3536 * 0.03) << time;
        EXPECT_NEAR(p["x_peak"].toDouble(), 0.5, 0.5 * 0.04);
        if (p["x_velocity_rms_mm_s"].isNull())
            ++withoutVelocity;
        else
            EXPECT_NEAR(p["x_velocity_rms_mm_s"].toDouble(), 44.14, 44.14 * 0.05);
        EXPECT_EQ(p["session"].toInt(), 1);
        EXPECT_EQ(p["dropped"].toInt(), 0);
        EXPECT_EQ(p["publish_dropped"].toInt(), 0);
        EXPECT_FALSE(p["device"].toString().isEmpty());
    }
    EXPECT_GE(duringOutage, 2);
    EXPECT_LE(withoutVelocity, int(written.size()) / 4);
    // The first point covers the first second stored, the last one the very last sample.
    const std::vector<Micros> stored = storedTimes(home, 1);
    ASSERT_FALSE(stored.empty());
    EXPECT_LT(written.begin()->first - stored.front(), 1500000);
    EXPECT_EQ(written.rbegin()->first, stored.back());
}
