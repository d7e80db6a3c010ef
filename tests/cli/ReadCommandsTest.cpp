// SPDX-License-Identifier: GPL-3.0-or-later
// sessions, export and analyse on a store made by the window's classes, which hold the store (and
// its lock) throughout, as a window recording into it would.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <optional>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "CliRun.h"
#include "platform/AscFile.h"
#include "platform/store/Schema.h"
#include "recording/AnalysisOptions.h"
#include "recording/Session.h"
#include "recording/SessionExport.h"

namespace {

using platform::Micros;

constexpr double kPi = 3.14159265358979323846;
// 2024-03-31 00:59:58 UTC: local time springs from 01:59:59+01:00 to 03:00:00+02:00 during the session.
constexpr Micros kMixedStart = 1711846798000000;
constexpr Micros kSineStart = 1714557600000000; // 2024-05-01 10:00:00 UTC

Axes mixed(int i)
{
    // Values that test the number text: tiny, large, negative zero, long fractions.
    return {i == 3 ? -0.0f : float(0.8 * std::sin(i * 0.37)), float(i) * 1.25e-5f,
            i % 97 == 0 ? 12345.678f : -1.0f - float(i) * 3e-7f};
}

Axes sine(int i)
{
    const double t = i / 200.0;
    return {float(0.5 * std::sin(2 * kPi * 12.5 * t)), float(0.05 * std::sin(2 * kPi * 40 * t)), -1.0f};
}

Axes tiny(int i)
{
    return {float(i), 0.5f, -1.0f};
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

// "2024-03-31T01:59:58.000000+01:00" back to microseconds since 1970 UTC.
Micros parseIso(const QByteArray& text)
{
    std::tm fields{};
    int micros = 0, offsetHours = 0, offsetMinutes = 0;
    char sign = 0;
    EXPECT_EQ(std::sscanf(text.constData(), "%4d-%2d-%2dT%2d:%2d:%2d.%6d%c%2d:%2d", &fields.tm_year, &fields.tm_mon,
                          &fields.tm_mday, &fields.tm_hour, &fields.tm_min, &fields.tm_sec, &micros, &sign,
                          &offsetHours, &offsetMinutes),
              10)
        << text.toStdString();
    fields.tm_year -= 1900;
    fields.tm_mon -= 1;
    const long offset = (sign == '-' ? -1 : 1) * (offsetHours * 3600L + offsetMinutes * 60L);
    return (Micros(::timegm(&fields)) - offset) * 1000000 + micros;
}

class StoredSessions : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("TZ", kTestZone, 1);
        tzset();
        home = new TempHome;
        keeper = openWindowStore(*home).release();
        mixedId = addSession(*keeper, kMixedStart, 1000, 7000, mixed);
        // Started in the same local second: its file is "-2".
        twinId = addSession(*keeper, kMixedStart + 300000, 10, 10000, tiny);
        sineId = addSession(*keeper, kSineStart, 12000, 5000, sine, 30.0, 31.0);
        AnalysisOptions stored;
        stored.set("fft_size", "2048");
        stored.set("span_s", "10"); // the window's span, which the command line does not follow
        for (const auto& [name, value] : stored.toStored()) keeper->context()->setSetting(name, value);
        EXPECT_TRUE(keeper->saveNow());
    }
    static void TearDownTestSuite()
    {
        delete keeper;
        delete home;
    }

    // The window's own export of a session (or of a stretch of it), into `folder`.
    static QString windowExport(store::ObjectId id, const QString& folder,
                                std::optional<std::pair<Micros, Micros>> range = std::nullopt)
    {
        QDir().mkpath(folder);
        const Session session(keeper->context(), id);
        SessionExport::Request request;
        request.storePath = home->storePath().toStdString();
        request.folder = folder.toStdString();
        request.fileName = range ? platform::rangeFileName(session.exportFileName(), range->first, range->second, ".asc")
                                 : session.exportFileName();
        request.snapshot = keeper->context()->snapshot(id);
        request.range = range;
        SessionExport job(request);
        QSignalSpy finished(&job, &SessionExport::finished);
        job.start();
        EXPECT_TRUE(finished.wait(30000));
        return folder + "/" + QString::fromStdString(request.fileName);
    }

    static inline TempHome* home = nullptr;
    static inline StoreKeeper* keeper = nullptr;
    static inline store::ObjectId mixedId = 0, twinId = 0, sineId = 0;
};

TEST_F(StoredSessions, SessionsListsEveryOneOldestFirstWhileTheStoreIsHeld)
{
    const Ran json = runQuivra(*home, {"sessions", "--json"});
    ASSERT_EQ(json.status, 0) << json.err.toStdString();
    const QList<QByteArray> lines = json.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 4) << json.out.toStdString();
    // The root's first session was started "now", after the others.
    const store::ObjectId order[] = {mixedId, twinId, sineId, 1};
    const int samples[] = {1000, 10, 11800, 0};
    const double rates[] = {1e6 / 7000, 100, 200, 0};
    for (int i = 0; i < 4; ++i) {
        const QJsonObject row = QJsonDocument::fromJson(lines[i]).object();
        EXPECT_EQ(row["id"].toInteger(), order[i]) << lines[i].toStdString();
        EXPECT_EQ(row["samples"].toInt(), samples[i]);
        EXPECT_NEAR(row["rate"].toDouble(), rates[i], 0.01);
        EXPECT_EQ(row["active"].toBool(), order[i] == sineId);
    }
    EXPECT_EQ(QJsonDocument::fromJson(lines[0]).object()["start"].toString(), "2024-03-31T01:59:58.000+01:00");
    EXPECT_DOUBLE_EQ(QJsonDocument::fromJson(lines[2]).object()["duration_s"].toDouble(), 59.995);

    const Ran table = runQuivra(*home, {"sessions"});
    ASSERT_EQ(table.status, 0);
    const QList<QByteArray> rows = table.out.trimmed().split('\n');
    ASSERT_EQ(rows.size(), 5);
    EXPECT_TRUE(rows[3].startsWith("*")) << rows[3].toStdString();
    EXPECT_TRUE(rows[1].contains("2024-03-31T01:59:58+01:00") && rows[1].contains("1,000")) << rows[1].toStdString();
}

TEST_F(StoredSessions, ExportAscIsTheWindowsFileByteForByte)
{
    for (store::ObjectId id : {mixedId, twinId}) {
        const QString window = windowExport(id, home->path() + "/window");
        const QString name = QFileInfo(window).fileName();
        const Ran ran = runQuivra(*home, {"export", QString::number(id)});
        ASSERT_EQ(ran.status, 0) << ran.err.toStdString();
        const QString ours = home->documentsDir() + "/" + name;
        EXPECT_TRUE(ran.out.contains(ours.toUtf8())) << ran.out.toStdString();
        EXPECT_EQ(fileBytes(ours), fileBytes(window)) << name.toStdString();

        const Ran piped = runQuivra(*home, {"export", QString::number(id), "-o", "-"});
        EXPECT_EQ(piped.status, 0);
        EXPECT_EQ(piped.out, fileBytes(window));
    }
    EXPECT_TRUE(QFile::exists(home->documentsDir() + "/2024-03-31-01-59-58-2.asc"));

    // A stretch (seconds from the start, or a time), named after it, as the window's range export.
    const QString window = windowExport(mixedId, home->path() + "/window", std::pair(kMixedStart + 1'001'000, kMixedStart + 2'002'000));
    const QString name = QFileInfo(window).fileName();
    EXPECT_EQ(name, "2024-03-31-01-59-58_01-59-59.001-03-00-00.002.asc");
    EXPECT_EQ(fileBytes(window).count('\n') - 1, 144); // readings 143 to 286, 7 ms apart
    for (const QString& from : {QString("1.001"), QString("2024-03-31T01:59:59.001+01:00")}) {
        const Ran ran = runQuivra(*home, {"export", QString::number(mixedId), "--from", from, "--to", "2.002"});
        ASSERT_EQ(ran.status, 0) << ran.err.toStdString();
        EXPECT_TRUE(ran.out.contains(name.chopped(4).toUtf8())) << ran.out.toStdString();
        EXPECT_EQ(fileBytes(home->documentsDir() + "/" + name), fileBytes(window));
    }
    // The second never replaced the first.
    EXPECT_EQ(fileBytes(home->documentsDir() + "/" + name.chopped(4) + "-2.asc"), fileBytes(window));
}

TEST_F(StoredSessions, CsvRoundTripsEverySample)
{
    std::vector<store::SampleValues> stored;
    keeper->context()->forEachSample(mixedId, [&](const store::SampleValues& s) {
        stored.push_back(s);
        return true;
    });
    const QString relativeFile = home->path() + "/relative.csv";
    const Ran absolute = runQuivra(*home, {"export", QString::number(mixedId), "--format", "csv", "-o", "-"});
    const Ran relative =
        runQuivra(*home, {"export", QString::number(mixedId), "--format=csv", "--relative", "-o", relativeFile});
    ASSERT_EQ(absolute.status, 0) << absolute.err.toStdString();
    ASSERT_EQ(relative.status, 0) << relative.err.toStdString();
    const QByteArray texts[] = {absolute.out, fileBytes(relativeFile)};
    for (const bool isRelative : {false, true}) {
        QList<QByteArray> lines = texts[isRelative].split('\n');
        ASSERT_EQ(lines.takeFirst(), "time,x_g,y_g,z_g");
        ASSERT_EQ(lines.takeLast(), "");
        ASSERT_EQ(lines.size(), qsizetype(stored.size()));
        for (std::size_t i = 0; i < stored.size(); ++i) {
            const QList<QByteArray> cells = lines[qsizetype(i)].split(',');
            ASSERT_EQ(cells.size(), 4) << lines[qsizetype(i)].toStdString();
            const Micros time = isRelative ? kMixedStart + std::llround(cells[0].toDouble() * 1e6) : parseIso(cells[0]);
            ASSERT_EQ(time, stored[i].dateStamp) << cells[0].toStdString();
            EXPECT_EQ(std::strtof(cells[1].constData(), nullptr), stored[i].x);
            EXPECT_EQ(std::strtof(cells[2].constData(), nullptr), stored[i].y);
            EXPECT_EQ(std::strtof(cells[3].constData(), nullptr), stored[i].z);
        }
    }
    // Across the change to summer time the offset follows each sample's own moment.
    EXPECT_TRUE(absolute.out.contains("\n2024-03-31T01:59:59.995000+01:00,"));
    EXPECT_TRUE(absolute.out.contains("\n2024-03-31T03:00:00.002000+02:00,"));
    EXPECT_TRUE(texts[1].contains("\n6.993000,"));
}

TEST_F(StoredSessions, AClosedPipeEndsTheExportQuietly)
{
    QProcess shell;
    shell.setProcessEnvironment(quivraEnvironment(*home));
    shell.start("bash", {"-c", "\"$0\" export active --format csv -o - | head -n 3 >/dev/null; exit ${PIPESTATUS[0]}",
                         quivraPath()});
    ASSERT_TRUE(shell.waitForFinished(30000));
    EXPECT_EQ(shell.exitCode(), 0);
    EXPECT_EQ(shell.readAllStandardError(), "");
}

TEST_F(StoredSessions, AnalyseReportsLevelsVelocityZonesPeaksAndGaps)
{
    // The whole session, though the window keeps a span of 10 s.
    const Ran whole = runQuivra(*home, {"analyse", "active", "--json"});
    ASSERT_EQ(whole.status, 0) << whole.err.toStdString();
    const QJsonObject r = QJsonDocument::fromJson(whole.out).object();
    ASSERT_FALSE(r.isEmpty()) << whole.out.toStdString();
    EXPECT_EQ(r["samples"].toInt(), 11800);
    EXPECT_NEAR(r["sample_rate"].toDouble(), 200, 0.01);
    EXPECT_EQ(r["settings"]["fft_size"].toInt(), 2048); // as stored
    EXPECT_NEAR(r["levels"]["x"]["rms"].toDouble(), 0.5 / std::sqrt(2.0), 0.002);
    EXPECT_NEAR(r["levels"]["x"]["peak"].toDouble(), 0.5, 0.005);
    EXPECT_NEAR(r["levels"]["y"]["rms"].toDouble(), 0.05 / std::sqrt(2.0), 0.001);
    // 0.5 g at 12.5 Hz: 0.5 * 9806.65 / (2 pi 12.5) / sqrt 2 mm/s.
    EXPECT_NEAR(r["velocity"]["x"]["rms_mm_s"].toDouble(), 44.14, 44.14 * 0.03);
    EXPECT_EQ(r["velocity"]["x"]["zone"].toString(), "D");
    EXPECT_EQ(r["velocity"]["zone_axis"].toString(), "x");
    EXPECT_NEAR(r["velocity"]["band_high_hz"].toDouble(), 100, 1e-9);
    EXPECT_NEAR(r["peaks"]["x"][0]["hz"].toDouble(), 12.5, 0.05);
    EXPECT_NEAR(r["peaks"]["y"][0]["hz"].toDouble(), 40, 0.05);
    EXPECT_GE(r["blocks_skipped"].toInt(), 1); // the second left out at 30 s
    EXPECT_GE(r["blocks_used"].toInt(), 8);

    const Ran span = runQuivra(*home, {"analyse", QString::number(sineId), "--json", "--from", "10", "--to",
                                       "2024-05-01T12:00:20+02:00", "--fft-size", "1024", "--window", "flattop",
                                       "--peaks", "2", "--band", "20-90"});
    ASSERT_EQ(span.status, 0) << span.err.toStdString();
    const QJsonObject s = QJsonDocument::fromJson(span.out).object();
    EXPECT_EQ(s["samples"].toInt(), 2001);
    EXPECT_EQ(s["from_us"].toInteger(), kSineStart + 10000000);
    EXPECT_EQ(s["blocks_skipped"].toInt(), 0);
    EXPECT_EQ(s["settings"]["window"].toString(), "flattop");
    EXPECT_EQ(s["settings"]["peaks"].toInt(), 2);
    EXPECT_EQ(s["peaks"]["x"].toArray().size(), 1); // nothing else within 60 dB of the tone
    EXPECT_NEAR(s["peaks"]["x"][0]["amplitude_g"].toDouble(), 0.5, 0.005);
    // The tone lies below the band now: only y's 40 Hz counts.
    EXPECT_LT(s["velocity"]["x"]["rms_mm_s"].toDouble(), 2.0);

    const Ran text = runQuivra(*home, {"analyse", "active"});
    ASSERT_EQ(text.status, 0);
    EXPECT_TRUE(text.out.contains("overall zone D (x)")) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains("left out for gaps"));
    EXPECT_TRUE(text.out.contains("samples at 200.00 a second"));

    const Ran last = runQuivra(*home, {"analyse", "active", "--json", "--last", "10"});
    ASSERT_EQ(last.status, 0) << last.err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(last.out).object()["samples"].toInt(), 2001);
}

// One peak has one level, refined as its amplitude, in a unit that says peak beside velocity
// that says RMS; at 200 a second the band stops at 100 Hz, so the zones are no ISO verdict.
TEST_F(StoredSessions, AnalyseSaysPeakOrRmsAndWhenZonesAreNoVerdict)
{
    const Ran ran = runQuivra(*home, {"analyse", "active", "--json", "--unit", "velocity", "--fft-size", "4096"});
    ASSERT_EQ(ran.status, 0) << ran.err.toStdString();
    const QJsonObject r = QJsonDocument::fromJson(ran.out).object();
    const QJsonObject peak = r["peaks"]["x"][0].toObject();
    const double amplitude = peak["amplitude_g"].toDouble();
    EXPECT_NEAR(amplitude, 0.5, 0.0025);
    EXPECT_EQ(peak["amplitude_g_peak"].toDouble(), amplitude);
    EXPECT_EQ(peak["level_unit"].toString(), "mm/s peak");
    const double velocityPeak = amplitude * 9806.65 / (2 * kPi * peak["hz"].toDouble());
    EXPECT_NEAR(peak["level"].toDouble(), velocityPeak, velocityPeak * 1e-4);
    EXPECT_NEAR(peak["level"].toDouble() / std::sqrt(2.0), r["velocity"]["x"]["rms_mm_s"].toDouble(),
                velocityPeak * 0.01);
    EXPECT_EQ(r["nyquist_hz"].toDouble(), r["sample_rate"].toDouble() / 2);
    EXPECT_FALSE(r["velocity"]["iso_verdict"].toBool(true));
    EXPECT_EQ(r["velocity"]["iso_band_rate"].toDouble(), 2000);
    EXPECT_EQ(r["velocity"]["zone"].toString(), "D"); // kept for callers, with the verdict beside it

    const Ran text = runQuivra(*home, {"analyse", "active", "--unit", "velocity"});
    ASSERT_EQ(text.status, 0);
    const std::string out = text.out.toStdString();
    EXPECT_NE(out.find("Nyquist frequency, 100.0 Hz"), std::string::npos) << out;
    EXPECT_NE(out.find("NOT an ISO 10816 verdict"), std::string::npos) << out;
    EXPECT_NE(out.find("at least 2,000 samples a second"), std::string::npos) << out;
    EXPECT_NE(out.find("mm/s RMS"), std::string::npos) << out;
    EXPECT_NE(out.find("amplitude in g peak (level in mm/s peak)"), std::string::npos) << out;
}

TEST_F(StoredSessions, BadUsageIsOneLineAndStatusTwo)
{
    const QString replay = home->path() + "/missing.txt";
    const QStringList cases[] = {
        {"export"},
        {"export", "999"},
        {"export", "first"},
        {"export", "active", "--format", "xml"},
        {"export", "active", "--relative"},
        {"export", "active", "--bogus"},
        {"sessions", "extra"},
        {"analyse", "active", "--fft-size", "1000"},
        {"analyse", "active", "--window", "hamming"},
        {"analyse", "active", "--band", "90-20"},
        {"analyse", "active", "--from", "yesterday"},
        {"analyse", "active", "--last", "0"},
        {"analyse", "active", "--last", "10", "--from", "5"},
        {"analyse", "1"}, // no samples
        {"record", "--accelerometer=simulated", "--rate", "7000"},
        {"record", "--accelerometer=simulated", "--duration", "0"},
        {"record", "--accelerometer=simulated", "--publish", "http://broker/x"},
        {"record", "--accelerometer=simulated", "--publish-raw"},
        {"record", "--accelerometer=replay:" + replay},
        {"--publish", "mqtt://broker"},
        {"record", "--accelerometer=simulated", "--publish", "mqtt://broker/plant/\x01pump"},
        {"record", "--accelerometer=simulated", "--publish", "mqtt://broker/" + QString(80000, 'p')},
        {"--publish", "mqtt://broker/plant\x1b[2J"},
        {"frobnicate"},
    };
    for (const QStringList& arguments : cases) {
        const Ran ran = runQuivra(*home, arguments);
        EXPECT_EQ(ran.status, 2) << arguments.join(' ').toStdString() << "\n" << ran.err.toStdString();
        EXPECT_EQ(ran.err.count('\n'), 1) << arguments.join(' ').toStdString() << "\n" << ran.err.toStdString();
        EXPECT_TRUE(ran.out.isEmpty()) << arguments.join(' ').toStdString();
    }
}

} // namespace

TEST(ReadCommands, AStoreOfAnUnknownVersionIsRefusedWithItsReason)
{
    TempHome home;
    openWindowStore(home).reset();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(home.storePath().toUtf8().constData(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const Ran ran = runQuivra(home, {"sessions"});
    EXPECT_EQ(ran.status, 1);
    ASSERT_EQ(ran.errorLines().size(), 1) << ran.err.toStdString();
    EXPECT_TRUE(ran.errorLines()[0].contains(
        QString("unknown schema version 99 (this Quivra reads versions 1 to %1)").arg(store::schemaVersion)))
        << ran.err.toStdString();
}

TEST(ReadCommands, ExportReplacesOnlyRegularFilesAndNeverTheStore)
{
    setenv("TZ", kTestZone, 1);
    tzset();
    TempHome home;
    auto keeper = openWindowStore(home);
    const store::ObjectId id = addSession(*keeper, kSineStart, 500, 5000, sine);
    const QString session = QString::number(id);
    const Ran piped = runQuivra(home, {"export", session, "--format", "csv", "-o", "-"});
    ASSERT_EQ(piped.status, 0) << piped.err.toStdString();
    const QString dir = home.path();
    auto kind = [](const QString& path) {
        struct stat st {};
        return ::lstat(path.toLocal8Bit().constData(), &st) == 0 ? st.st_mode & S_IFMT : 0;
    };

    // A character device and a FIFO are written straight through, as a shell would.
    const QString device = ::geteuid() == 0 ? dir + "/null" : "/dev/null";
    if (::geteuid() == 0) {
        ASSERT_EQ(::mknod(device.toLocal8Bit().constData(), S_IFCHR | 0666, makedev(1, 3)), 0);
    }
    Ran ran = runQuivra(home, {"export", session, "-o", device});
    EXPECT_EQ(ran.status, 0) << ran.err.toStdString();
    EXPECT_EQ(kind(device), unsigned(S_IFCHR));
    const QString fifo = dir + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    QProcess reader;
    reader.start("cat", {fifo});
    ASSERT_TRUE(reader.waitForStarted());
    ran = runQuivra(home, {"export", session, "--format", "csv", "-o", fifo});
    EXPECT_EQ(ran.status, 0) << ran.err.toStdString();
    ASSERT_TRUE(reader.waitForFinished(10000));
    EXPECT_EQ(reader.readAllStandardOutput(), piped.out);
    EXPECT_EQ(kind(fifo), unsigned(S_IFIFO));

    // A symlink stays a symlink: the file it points to is written, there or made.
    ASSERT_TRUE(QFile::link(dir + "/target.csv", dir + "/link.csv"));
    ASSERT_TRUE(QFile::link("made.csv", dir + "/dangling.csv"));
    for (const QString name : {"link.csv", "dangling.csv"}) {
        ran = runQuivra(home, {"export", session, "--format", "csv", "-o", dir + "/" + name});
        EXPECT_EQ(ran.status, 0) << ran.err.toStdString();
        EXPECT_EQ(kind(dir + "/" + name), unsigned(S_IFLNK)) << name.toStdString();
    }
    EXPECT_EQ(fileBytes(dir + "/target.csv"), piped.out);
    EXPECT_EQ(fileBytes(dir + "/made.csv"), piped.out);

    // The store and the files beside it are refused, however they are named; so is a folder.
    ASSERT_TRUE(QFile::link(home.dataDir(), dir + "/data-link"));
    ASSERT_EQ(::link(home.storePath().toLocal8Bit().constData(), (dir + "/hard-link").toLocal8Bit().constData()), 0);
    const QString store = home.storePath();
    const QStringList refused[] = {
        {store, "the store itself"},
        {dir + "/data-link/Quivra.sqlite", "the store itself"},
        {dir + "/hard-link", "the store itself"},
        {store + "-wal", "write-ahead log"},
        {store + "-shm", "shared-memory"},
        {store + ".lock", "the store's lock"},
        {dir, "is a folder"},
    };
    for (const QStringList& c : refused) {
        for (const char* format : {"asc", "csv"}) {
            ran = runQuivra(home, {"export", session, "--format", format, "-o", c[0]});
            EXPECT_EQ(ran.status, 2) << c[0].toStdString() << ": " << ran.err.toStdString();
            EXPECT_EQ(ran.errorLines().size(), 1) << ran.err.toStdString();
            EXPECT_TRUE(ran.err.contains(c[1])) << ran.err.toStdString();
        }
    }
    EXPECT_EQ(kind(store), unsigned(S_IFREG));
    const Ran listed = runQuivra(home, {"sessions", "--json"});
    EXPECT_EQ(listed.status, 0) << listed.err.toStdString();
    EXPECT_EQ(listed.out.count('\n'), 2);

    // A killed export's temporary file goes with the next export to that file; one still being
    // written (locked by its writer) stays.
    const QString abandoned = dir + "/.target.csv.Ab12Cd", busy = dir + "/.target.csv.Busy01";
    for (const QString& name : {abandoned, busy}) {
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("half a file");
    }
    const int held = ::open(busy.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    ran = runQuivra(home, {"export", session, "--format", "csv", "-o", dir + "/target.csv"});
    EXPECT_EQ(ran.status, 0) << ran.err.toStdString();
    EXPECT_FALSE(QFile::exists(abandoned));
    EXPECT_TRUE(QFile::exists(busy));
    ::close(held);
}

namespace {
// Quivra run by a user who may read the store but not write in its folder: nobody for the
// superuser (who writes anywhere), anyone else with the folder made read-only meanwhile.
Ran runAsAnotherUser(const TempHome& home, const QStringList& arguments)
{
    QProcess process;
    QProcessEnvironment env = quivraEnvironment(home);
    env.remove("XDG_RUNTIME_DIR"); // the test's own, not for another user
    process.setProcessEnvironment(env);
    const auto writable = QFile::permissions(home.dataDir());
    if (::geteuid() == 0) {
        process.start("setpriv",
                      QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", quivraPath()} + arguments);
    } else {
        QFile::setPermissions(home.dataDir(), writable & ~(QFileDevice::WriteOwner | QFileDevice::WriteUser));
        process.start(quivraPath(), arguments);
    }
    EXPECT_TRUE(process.waitForFinished(30000));
    QFile::setPermissions(home.dataDir(), writable);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            QString::fromUtf8(process.readAllStandardError())};
}
} // namespace

TEST(ReadCommands, AnotherUserReadsTheStoreWhileItIsRecordedIntoAndAfter)
{
    setenv("TZ", kTestZone, 1);
    tzset();
    TempHome home;
    auto keeper = openWindowStore(home);
    const QString id = QString::number(addSession(*keeper, kSineStart, 4000, 5000, sine));
    // A service's store: others may enter its folders and read it.
    for (QString dir = home.dataDir(); dir.startsWith(home.path()); dir = QFileInfo(dir).path())
        QFile::setPermissions(dir, QFile::permissions(dir) | QFileDevice::ReadOther | QFileDevice::ExeOther);
    auto readsEverything = [&](const char* when) {
        SCOPED_TRACE(when);
        const Ran listed = runAsAnotherUser(home, {"sessions", "--json"});
        EXPECT_EQ(listed.status, 0) << listed.err.toStdString();
        EXPECT_TRUE(listed.out.contains("\"samples\":4000")) << listed.out.toStdString();
        const Ran exported = runAsAnotherUser(home, {"export", id, "--format", "csv", "-o", "-"});
        EXPECT_EQ(exported.status, 0) << exported.err.toStdString();
        EXPECT_EQ(exported.out.count('\n'), 4001);
        const Ran analysed = runAsAnotherUser(home, {"analyse", id, "--json"});
        EXPECT_EQ(analysed.status, 0) << analysed.err.toStdString();
    };
    readsEverything("while the store is held");
    keeper.reset();
    readsEverything("after a clean end");
    // As an older Quivra left it: the write-ahead files removed as it ended.
    ASSERT_TRUE(QFile::remove(home.storePath() + "-wal"));
    ASSERT_TRUE(QFile::remove(home.storePath() + "-shm"));
    readsEverything("without its write-ahead files");
}
