// SPDX-License-Identifier: GPL-3.0-or-later
// Naming and marking from the command line, round trip: a recorder named on its command line
// takes markers from its standard input and from quivra mark, is described while it holds the
// store and after, the next session walks the route, and sessions and markers read it all back.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include "CliRun.h"

namespace {

QList<QJsonObject> jsonLines(const Ran& ran)
{
    QList<QJsonObject> out;
    for (const QByteArray& line : ran.out.split('\n'))
        if (!line.isEmpty()) out << QJsonDocument::fromJson(line).object();
    return out;
}

} // namespace

TEST(IdentityCommands, NamedMarkedAndDescribedSessionsReadBack)
{
    TempHome home;
    openWindowStore(home)->saveNow();
    auto recorder = startQuivra(home, {"record", "--accelerometer=simulated", "--new-session", "--name", "Run 1",
                                       "--machine", "Pump 3", "--point", "DE bearing", "--duration", "60"});
    // quivra mark reaches the recorder once it listens; until then it says none records.
    Ran marked;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            marked = runQuivra(home, {"mark", "--kind", "start", "run", "up"});
            return marked.status == 0;
        },
        20000))
        << marked.err.toStdString();
    EXPECT_EQ(marked.out, "Marked session 2\n");
    recorder->write("valve closed at 10:42\n\n");
    const Ran described = runQuivra(home, {"describe", "active", "--direction", "radial", "--notes", "new\\nbearing"});
    EXPECT_EQ(described.status, 0) << described.err.toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return runQuivra(home, {"markers", "2"}).out.count('\n') == 2; }, 10000));
    // A marker edited through the recorder that holds the store.
    const QList<QJsonObject> saved = jsonLines(runQuivra(home, {"markers", "2", "--json"}));
    ASSERT_EQ(saved.size(), 2);
    const QString firstId = QString::number(saved[0]["id"].toInteger()),
                  secondId = QString::number(saved[1]["id"].toInteger());
    const Ran edited = runQuivra(home, {"mark", "--edit", secondId, "--kind", "end", "valve", "closed", "at", "10:43"});
    EXPECT_EQ(edited.status, 0) << edited.err.toStdString();
    recorder->terminate();
    ASSERT_TRUE(recorder->waitForFinished(30000));
    EXPECT_EQ(recorder->exitCode(), 0) << recorder->readAllStandardError().toStdString();

    const Ran next = runQuivra(home, {"record", "--accelerometer=simulated", "--new-session", "--duration", "1"});
    ASSERT_EQ(next.status, 0) << next.err.toStdString();
    EXPECT_EQ(runQuivra(home, {"describe", "3", "--name", "Run 2", "--point", "NDE bearing"}).status, 0);

    const QList<QJsonObject> pump = jsonLines(runQuivra(home, {"sessions", "--json", "--machine", "PUMP 3"}));
    ASSERT_EQ(pump.size(), 2);
    EXPECT_EQ(pump[0]["name"].toString(), "Run 1");
    EXPECT_EQ(pump[0]["point"].toString(), "DE bearing");
    EXPECT_EQ(pump[0]["direction"].toString(), "radial");
    EXPECT_EQ(pump[0]["notes"].toString(), "new\nbearing");
    EXPECT_EQ(pump[0]["source"].toString(), "simulated vibration");
    EXPECT_GT(pump[0]["recorded_rate"].toDouble(), 0);
    EXPECT_EQ(pump[1]["name"].toString(), "Run 2");
    EXPECT_EQ(pump[1]["machine"].toString(), "Pump 3"); // taken from the session before
    EXPECT_EQ(pump[1]["direction"].toString(), "");
    const Ran nde = runQuivra(home, {"sessions", "--filter", "nde pump"});
    EXPECT_EQ(nde.out.count('\n'), 2) << nde.out.toStdString(); // the header and session 3
    EXPECT_TRUE(nde.out.contains("Run 2: Pump 3 \xc2\xb7 NDE bearing")) << nde.out.toStdString();

    const QList<QJsonObject> markers = jsonLines(runQuivra(home, {"markers", "2", "--json"}));
    ASSERT_EQ(markers.size(), 2);
    EXPECT_EQ(markers[0]["kind"].toString(), "start");
    EXPECT_EQ(markers[0]["text"].toString(), "run up");
    EXPECT_EQ(markers[1]["kind"].toString(), "end");
    EXPECT_EQ(markers[1]["text"].toString(), "valve closed at 10:43");
    EXPECT_LT(markers[0]["time_us"].toInteger(), markers[1]["time_us"].toInteger());
    EXPECT_GT(markers[0]["offset_s"].toDouble(), 0);

    // The exports name the session: comment lines above the CSV, its markers beside the .asc.
    const Ran csv = runQuivra(home, {"export", "2", "--format", "csv", "-o", "-"});
    EXPECT_TRUE(csv.out.startsWith("# name: Run 1\n# machine: Pump 3\n# point: DE bearing\n# direction: radial\n"
                                   "# notes: new\\nbearing\n# source: simulated vibration\n# rate: "))
        << csv.out.left(300).toStdString();
    EXPECT_TRUE(csv.out.contains("\ntime,x_g,y_g,z_g\n"));
    const Ran asc = runQuivra(home, {"export", "2", "-o", home.path() + "/run1.asc"});
    ASSERT_EQ(asc.status, 0) << asc.err.toStdString();
    QFile markersFile(home.path() + "/run1-markers.csv");
    ASSERT_TRUE(markersFile.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = markersFile.readAll().split('\n');
    ASSERT_EQ(lines.size(), 4); // the header, two markers, the end
    EXPECT_EQ(lines[0], "time,offset_s,kind,text");
    EXPECT_TRUE(lines[1].endsWith(",start,\"run up\"")) << lines[1].toStdString();
    EXPECT_TRUE(
        runQuivra(home, {"analyse", "2"}).out.startsWith("Session 2 \"Run 1\", Pump 3 \xc2\xb7 DE bearing, started"));

    // Mistakes say so in one line: nothing records now, no field given, no such session.
    const Ran nobody = runQuivra(home, {"mark", "late"});
    EXPECT_EQ(nobody.status, 1);
    EXPECT_EQ(nobody.errorLines(),
              QStringList{"quivra mark: no Quivra records into the store (a marker is dropped while recording)"});
    EXPECT_EQ(runQuivra(home, {"describe", "2"}).status, 2);
    EXPECT_EQ(runQuivra(home, {"describe", "9", "--name", "x"}).status, 2);
    EXPECT_EQ(runQuivra(home, {"markers", "2", "--json"}).out.count('\n'), 2);

    // With nobody holding the store, a marker is edited in it; the kind not given stays.
    EXPECT_EQ(runQuivra(home, {"mark", "--edit", firstId, "run", "up", "again"}).status, 0);
    const QList<QJsonObject> after = jsonLines(runQuivra(home, {"markers", "2", "--json"}));
    ASSERT_EQ(after.size(), 2);
    EXPECT_EQ(after[0]["text"].toString(), "run up again");
    EXPECT_EQ(after[0]["kind"].toString(), "start");
    EXPECT_EQ(runQuivra(home, {"mark", "--edit", "abc", "x"}).status, 2);
    EXPECT_EQ(runQuivra(home, {"mark", "--edit", "999", "x"}).status, 2);
    EXPECT_EQ(runQuivra(home, {"mark", "--edit", firstId}).status, 2);
}
