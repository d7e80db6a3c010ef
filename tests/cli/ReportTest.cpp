// SPDX-License-Identifier: GPL-3.0-or-later
// report, baseline and trend on a store made by the window's classes: a baseline and later
// sessions of one point whose vibration grows.
#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include <cmath>

#include "CliRun.h"
#include "platform/store/ObjectContext.h"

namespace {

using platform::Micros;

constexpr double kPi = 3.14159265358979323846;
constexpr Micros kStart = 1714557600000000; // 2024-05-01 10:00:00 UTC
constexpr Micros kDay = 86400000000;
double gain = 1.0; // the amplitude the next session is made with

// 1,000 a second: a 25 Hz tone on x, 80 Hz on y, gravity on z.
Axes tones(int i)
{
    const double t = i / 1000.0;
    return {float(gain * 0.2 * std::sin(2 * kPi * 25 * t)), float(gain * 0.05 * std::sin(2 * kPi * 80 * t)),
            float(-1.0 + 0.01 * std::sin(2 * kPi * 160 * t))};
}

store::ObjectId addPointSession(StoreKeeper& keeper, int day, double amplitude, const char* name,
                                const char* point = "NDE bearing")
{
    gain = amplitude;
    const store::ObjectId id = addSession(keeper, kStart + day * kDay, 20000, 1000, tones);
    keeper.context()->setIdentity(id, {name, "Fan 7", point, "radial", "after the repair", "replay", 1000});
    EXPECT_TRUE(keeper.saveNow());
    return id;
}

QJsonObject json(const Ran& ran)
{
    EXPECT_EQ(ran.status, 0) << ran.err.toStdString();
    return QJsonDocument::fromJson(ran.out).object();
}

QString tool(const QStringList& command)
{
    QProcess p;
    p.start(command.front(), command.mid(1));
    EXPECT_TRUE(p.waitForFinished(60000)) << command.join(' ').toStdString();
    EXPECT_EQ(p.exitCode(), 0) << command.join(' ').toStdString() << ": " << p.readAllStandardError().toStdString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

} // namespace

TEST(Reports, ThePdfHoldsTheFiguresOfAnalyseAndEveryPageRenders)
{
    if (!QUIVRA_GUI) GTEST_SKIP() << "reports are drawn with the window's libraries";
    TempHome home;
    store::ObjectId base = 0, now = 0;
    {
        auto keeper = openWindowStore(home);
        base = addPointSession(*keeper, 0, 1.0, "Commissioning");
        now = addPointSession(*keeper, 30, 2.0, "After the repair");
        keeper->context()->insertMarker(now, kStart + 30 * kDay + 5000000, store::MarkerRecord::Kind::event,
                                        "valve opened");
        keeper->context()->insertMarker(now, kStart + 30 * kDay + 19500000, store::MarkerRecord::Kind::event,
                                        "outside the span");
        ASSERT_TRUE(keeper->saveNow());
    } // the window closes: the baseline may be written
    ASSERT_EQ(runQuivra(home, {"baseline", QString::number(base)}).status, 0);

    const QString pdf = home.path() + "/out/report.pdf";
    QDir().mkpath(home.path() + "/out");
    const QStringList span{"--from", "2", "--to", "18"};
    const Ran report = runQuivra(home, QStringList{"report", QString::number(now), "-o", pdf, "--png"} + span);
    ASSERT_EQ(report.status, 0) << report.err.toStdString();
    const QJsonObject r = json(runQuivra(home, QStringList{"analyse", QString::number(now), "--json"} + span));
    const QJsonObject b = json(runQuivra(home, {"analyse", QString::number(base), "--json"}));
    const QString text = tool({"pdftotext", "-layout", pdf, "-"});

    for (const QString& expected :
         {QString("Fan 7"), QString("NDE bearing"), QString("After the repair"), QString("valve opened"),
          QString("Against the baseline"), QString("Quivra " QUIVRA_VERSION)})
        EXPECT_TRUE(text.contains(expected)) << expected.toStdString();
    EXPECT_FALSE(text.contains("outside the span"));
    for (const char* axis : {"x", "y", "z", "magnitude"}) {
        const QJsonObject levels = r["levels"][axis].toObject();
        for (const QString& figure : {fixed(levels["rms"].toDouble(), 5), fixed(levels["peak"].toDouble(), 5),
                                      fixed(levels["crest"].toDouble(), 2)})
            EXPECT_TRUE(text.contains(figure)) << axis << " " << figure.toStdString();
    }
    for (const char* axis : {"x", "y", "z"}) {
        EXPECT_TRUE(text.contains(fixed(r["velocity"][axis]["rms_mm_s"].toDouble(), 2))) << axis;
        EXPECT_TRUE(text.contains(fixed(r["peaks"][axis][0]["hz"].toDouble(), 2) + " Hz")) << axis;
    }
    // Twice the amplitude: 6.0 dB and 100.0 % on the baseline's page.
    const double was = b["levels"]["x"]["rms"].toDouble(), is = r["levels"]["x"]["rms"].toDouble();
    EXPECT_TRUE(text.contains("+" + fixed(20 * std::log10(is / was), 1))) << is << " " << was;
    EXPECT_TRUE(text.contains("+" + fixed((is / was - 1) * 100, 1)));

    // Page one, the markers, the baseline: each one rendered by poppler and by the report's own PNGs.
    const QString info = tool({"pdfinfo", pdf});
    EXPECT_TRUE(info.contains(QRegularExpression("Pages:\\s+3\\n"))) << info.toStdString();
    tool({"pdftoppm", "-r", "20", "-png", pdf, home.path() + "/out/poppler"});
    const QStringList rendered = QDir(home.path() + "/out").entryList({"poppler-*.png"});
    EXPECT_EQ(rendered.size(), 3);
    EXPECT_EQ(QDir(home.path() + "/out").entryList({"report-*.png"}).size(), 3);
    for (const QString& font : tool({"pdffonts", pdf}).split('\n').mid(2))
        if (!font.trimmed().isEmpty()) {
            EXPECT_TRUE(font.contains(" yes ")) << "not embedded: " << font.toStdString();
        }
}

TEST(Trends, EachSessionOfThePointOnceWithTheFiguresOfAnalyseKeptAndMadeAgainWhenItsSamplesChange)
{
    TempHome home;
    auto keeper = openWindowStore(home);
    const store::ObjectId base = addPointSession(*keeper, 0, 1.0, "Commissioning");
    addPointSession(*keeper, 10, 9.0, "Elsewhere", "DE bearing");
    const store::ObjectId later[] = {addPointSession(*keeper, 20, 1.5, "One"), addPointSession(*keeper, 40, 2.0, "Two"),
                                     addPointSession(*keeper, 60, 3.0, "Three")};
    const QStringList trend{"trend", "--machine", "Fan 7", "--point", "NDE bearing", "--json"};
    auto velocities = [&] {
        std::vector<double> out;
        for (const auto& s : json(runQuivra(home, trend))["sessions"].toArray())
            out.push_back(s.toObject().value("velocity")["x"].toDouble());
        return out;
    };
    auto analysed = [&](store::ObjectId id) {
        const QJsonObject r = json(runQuivra(home, {"analyse", QString::number(id), "--json"}));
        return r["velocity"]["x"]["rms_mm_s"].toDouble();
    };
    // While the window holds the store, the summaries are made but cannot be kept.
    const std::vector<double> held = velocities();
    ASSERT_EQ(held.size(), 4u);
    keeper.reset();

    const QJsonObject t = json(runQuivra(home, trend));
    const QJsonArray sessions = t["sessions"].toArray();
    ASSERT_EQ(sessions.size(), 4);
    const store::ObjectId order[] = {base, later[0], later[1], later[2]};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(sessions[i]["session"].toInteger(), order[i]);
        EXPECT_NEAR(sessions[i]["velocity"]["x"].toDouble(), analysed(order[i]), 1e-4);
        EXPECT_DOUBLE_EQ(sessions[i]["velocity"]["x"].toDouble(), held[std::size_t(i)]);
        EXPECT_GE(sessions[i]["velocity"]["overall"].toDouble(), sessions[i]["velocity"]["y"].toDouble());
    }
    EXPECT_NEAR(sessions[3]["velocity"]["x"].toDouble() / sessions[0]["velocity"]["x"].toDouble(), 3.0, 0.01);
    EXPECT_TRUE(t["baseline"].isNull());
    ASSERT_EQ(runQuivra(home, {"baseline", QString::number(base)}).status, 0);
    EXPECT_EQ(json(runQuivra(home, trend))["baseline"].toInteger(), base);
    const QString csv =
        QString::fromUtf8(runQuivra(home, {"trend", "--machine", "Fan 7", "--point", "NDE bearing", "--csv"}).out);
    EXPECT_EQ(csv.count('\n'), 5) << csv.toStdString();

    // Kept: one for each session of the point. A clear takes the last session out of the trend;
    // its undo and new samples bring it back with figures made again.
    const QString store = home.storePath();
    EXPECT_EQ(tool({"sqlite3", store, "SELECT count(*) FROM session_summary"}).trimmed(), "4");
    keeper = openWindowStore(home);
    keeper->context()->clearSamples(later[2]);
    ASSERT_TRUE(keeper->saveNow());
    keeper.reset();
    EXPECT_EQ(velocities().size(), 3u);
    keeper = openWindowStore(home);
    ASSERT_TRUE(keeper->context()->undoRemoval());
    gain = 6.0;
    for (int i = 20000; i < 40000; ++i) {
        const Axes a = tones(i);
        keeper->context()->insertSample(kStart + 60 * kDay + i * 1000, a.x, a.y, a.z, later[2]);
    }
    ASSERT_TRUE(keeper->saveNow());
    keeper.reset();
    const std::vector<double> after = velocities();
    ASSERT_EQ(after.size(), 4u);
    EXPECT_EQ(json(runQuivra(home, trend))["sessions"][3]["samples"].toInt(), 40000);
    EXPECT_NEAR(after[3], analysed(later[2]), 1e-4);
    EXPECT_GT(after[3], held[3] * 1.3); // not the kept one

    for (const QStringList& bad : {QStringList{"trend", "--machine", "Fan 7"}, QStringList{"baseline"},
                                   QStringList{"baseline", "1", "--machine", "Fan 7", "--point", "x"},
                                   QStringList{"trend", "--machine", "a", "--point", "b", "--json", "--csv"}}) {
        const Ran ran = runQuivra(home, bad);
        EXPECT_EQ(ran.status, 2) << bad.join(' ').toStdString();
        EXPECT_EQ(ran.errorLines().size(), 1) << ran.err.toStdString();
    }
}
