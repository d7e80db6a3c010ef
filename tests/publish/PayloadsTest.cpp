// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "platform/publish/InfluxLine.h"
#include "platform/publish/Payloads.h"

using namespace publish;

namespace {

QJsonObject parsed(const std::string& json)
{
    QJsonParseError error;
    QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << "\n" << json;
    return document.object();
}

} // namespace

TEST(Payloads, SummaryHasStableFieldsAndStaysValidJson)
{
    Summary s;
    s.time = 1'714'564'800'123'999;
    s.device = "box-7";
    s.session = 12;
    s.rate = 999.5f;
    s.x = {0.0123f, 0.051f, 1.31f};
    s.y = {1e-5f, -0.0f, 123456.7f};
    s.z = {1.0f, 1.25f, 0.0f};
    s.dropped = 2;
    s.publishDropped = 5;
    // Telegraf reads this layout; it changes only with the README.
    EXPECT_EQ(summaryJson(s), R"({"time":"2024-05-01T12:00:00.123Z","time_us":1714564800123999,"device":"box-7",)"
                              R"("session":12,"rate":999.5,"x":{"rms":0.0123,"peak":0.051,"velocity_rms_mm_s":1.31},)"
                              R"("y":{"rms":1e-05,"peak":-0,"velocity_rms_mm_s":123456.7},)"
                              R"("z":{"rms":1,"peak":1.25,"velocity_rms_mm_s":0},"dropped":2,"publish_dropped":5})");

    // Whatever the host is called and whatever the analysis produced.
    s.device = "quote\" back\\ tab\t\x01";
    s.x.rms = std::numeric_limits<float>::quiet_NaN();
    s.y.peak = -std::numeric_limits<float>::infinity();
    QJsonObject o = parsed(summaryJson(s));
    EXPECT_EQ(o["device"].toString().toStdString(), s.device);
    EXPECT_TRUE(o["x"].toObject()["rms"].isNull());
    EXPECT_TRUE(o["y"].toObject()["peak"].isNull());
    EXPECT_EQ(o["z"].toObject()["peak"].toDouble(), 1.25);

    EXPECT_EQ(isoTimeUtc(0), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(isoTimeUtc(-1), "1969-12-31T23:59:59.999Z");
    EXPECT_EQ(isoTimeUtc(951'782'400'999'999), "2000-02-29T00:00:00.999Z");
}

TEST(Payloads, RawBatchCarriesEveryReadingAgainstItsFirstTime)
{
    const Reading three[] = {
        {1'000'000, 0.5f, -1.0f, 0.25f}, {1'001'000, 0.1f, 0.2f, -0.3f}, {1'003'500, 1e-7f, 2.5e7f, 0}};
    EXPECT_EQ(rawBatchJson(7, three), R"({"session":7,"t0":1000000,"dt":[0,1000,3500],"x":[0.5,0.1,1e-07],)"
                                      R"("y":[-1,0.2,2.5e+07],"z":[0.25,-0.3,0]})");
    EXPECT_EQ(rawBatchJson(7, {}), R"({"session":7,"t0":0,"dt":[],"x":[],"y":[],"z":[]})");

    // A full batch as the recorder sends it: 100 readings of 100 ms at 1,000 a second.
    std::mt19937 random(3);
    std::normal_distribution<float> g(0, 0.7f);
    std::vector<Reading> batch;
    for (int i = 0; i < 100; ++i)
        batch.push_back({1'714'564'800'000'000 + 1000 * i + (i % 3), g(random), g(random), g(random) - 1});
    QJsonObject o = parsed(rawBatchJson(42, batch));
    const auto t0 = static_cast<platform::Micros>(o["t0"].toDouble());
    EXPECT_EQ(t0, batch[0].time);
    for (const char* axis : {"dt", "x", "y", "z"}) ASSERT_EQ(o[axis].toArray().size(), 100) << axis;
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(t0 + o["dt"].toArray()[i].toInteger(), batch[i].time);
        EXPECT_NEAR(o["x"].toArray()[i].toDouble(), batch[i].x, 1e-6 * std::fabs(batch[i].x));
        EXPECT_NEAR(o["z"].toArray()[i].toDouble(), batch[i].z, 1e-6 * std::fabs(batch[i].z));
    }
}

TEST(Payloads, SummaryLineHasTelegrafsNamesAndEscapesItsTags)
{
    Summary s;
    s.time = 1'714'564'800'123'999;
    s.device = "box 7,hall=2";
    s.session = 12;
    s.rate = 999.5f;
    s.x = {0.0123f, 0.051f, 1.31f};
    s.y = {1e-5f, 0.5f, std::numeric_limits<float>::quiet_NaN()};
    s.z = {1.0f, 1.25f, 0.0f};
    s.dropped = 2;
    s.publishDropped = 5;
    s.tags = {{"machine", "pump 3"}, {"point", ""}};
    // The measurement Telegraf's mqtt_consumer fills from the JSON summary, field for field; a
    // velocity not measured is left out, an empty tag too.
    EXPECT_EQ(summaryLine(s), "vibration,device=box\\ 7\\,hall\\=2,machine=pump\\ 3 session=12,rate=999.5,"
                              "x_rms=0.0123,x_peak=0.051,x_velocity_rms_mm_s=1.31,y_rms=1e-05,y_peak=0.5,"
                              "z_rms=1,z_peak=1.25,z_velocity_rms_mm_s=0,dropped=2,publish_dropped=5 "
                              "1714564800123999");
}
