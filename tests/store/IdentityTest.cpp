// SPDX-License-Identifier: GPL-3.0-or-later
// Who and what a session is, and its markers: stores of every earlier version take them, and
// they go and come back with clears, deletes and undos as the samples do.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QFile>
#include <QTemporaryDir>

#include "platform/store/ObjectContext.h"
#include "platform/store/Schema.h"
#include "platform/store/SessionReader.h"

using namespace store;

namespace {

std::string query(const std::string& path, const char* sql)
{
    sqlite3* db = nullptr;
    std::string out;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK)
        while (sqlite3_step(st) == SQLITE_ROW) {
            if (!out.empty()) out += "|";
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                const unsigned char* t = sqlite3_column_text(st, c);
                out += (c ? "," : "") + std::string(t ? reinterpret_cast<const char*>(t) : "NULL");
            }
        }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
}

// A store file made by the SQL of tests/store/stores/versionN.sql.
std::string storeOfVersion(const QTemporaryDir& dir, int version)
{
    QFile script(QString(QUIVRA_SOURCE_DIR) + "/tests/store/stores/version" + QString::number(version) + ".sql");
    EXPECT_TRUE(script.open(QIODevice::ReadOnly));
    const std::string path = (dir.path() + "/v" + QString::number(version) + ".sqlite").toStdString();
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    EXPECT_EQ(sqlite3_exec(db, script.readAll().constData(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
    return path;
}

std::vector<std::string> texts(const std::vector<MarkerRecord>& markers)
{
    std::vector<std::string> out;
    for (const MarkerRecord& m : markers) out.push_back(m.text);
    return out;
}

} // namespace

TEST(Identity, StoresOfEveryEarlierVersionAreBroughtUpToDateAndKeepEverything)
{
    QTemporaryDir dir;
    for (int version : {1, 2, 3}) {
        SCOPED_TRACE("version " + std::to_string(version));
        const std::string path = storeOfVersion(dir, version);
        {
            // Read as it is first, as the read-only subcommands do: no identities, nothing written.
            SessionReader reader;
            StoreError error;
            ASSERT_TRUE(reader.open(path, error)) << error.describe();
            std::vector<SessionReader::SessionRow> rows;
            ASSERT_TRUE(reader.sessions(rows, error));
            ASSERT_EQ(rows.size(), 2u);
            EXPECT_TRUE(rows[1].identity.empty());
            std::vector<MarkerRecord> markers;
            EXPECT_TRUE(reader.markers(2, markers, error));
            EXPECT_TRUE(markers.empty());
            EXPECT_EQ(query(path, "PRAGMA user_version"), std::to_string(version));
        }
        {
            ObjectContext c;
            StoreError error;
            ASSERT_TRUE(c.open(path, error)) << error.describe() << error.describeDetails();
            EXPECT_EQ(c.sampleCount(1), 3);
            EXPECT_EQ(c.sampleCount(2), 2);
            EXPECT_EQ(c.options(1)->framerate, 100);
            EXPECT_EQ(c.options(1)->activeSession, 2);
            // The clear that waited in the trash of a version 2 or 3 store can still be undone.
            ASSERT_EQ(c.undoableRemoval() != nullptr, version >= 2);
            if (version >= 2) {
                ASSERT_TRUE(c.undoRemoval());
            }
            c.setIdentity(2, SessionIdentity{"Run-up", "Pump 3", "DE bearing", "radial, magnet", "", "simulated", 100});
            const ObjectId marker = c.insertMarker(2, 1714554000025000, MarkerRecord::Kind::runStart, "valve open");
            EXPECT_GT(marker, 0);
            ASSERT_TRUE(c.save(error)) << error.describe();
        }
        EXPECT_EQ(query(path, "PRAGMA user_version"), std::to_string(schemaVersion));
        EXPECT_EQ(query(path, "SELECT id, sample_count FROM session ORDER BY id"),
                  version >= 2 ? "1,3|2,3" : "1,3|2,2");
        EXPECT_EQ(query(path, "SELECT count(*) FROM gdata"), version >= 2 ? "6" : "5");
        EXPECT_EQ(query(path, "SELECT value FROM setting"), version >= 3 ? "flattop" : "");
        EXPECT_EQ(query(path, "SELECT machine, point, rate FROM session_identity"), "Pump 3,DE bearing,100.0");
        EXPECT_EQ(query(path, "SELECT session_id, kind, text FROM marker"), "2,start,valve open");

        // What the subcommands read from the store now.
        SessionReader reader;
        StoreError error;
        ASSERT_TRUE(reader.open(path, error));
        std::vector<SessionReader::SessionRow> rows;
        ASSERT_TRUE(reader.sessions(rows, error));
        EXPECT_EQ(rows[1].identity.name, "Run-up");
        EXPECT_EQ(rows[1].identity.direction, "radial, magnet");
        EXPECT_TRUE(rows[0].identity.empty());
        std::vector<MarkerRecord> markers;
        ASSERT_TRUE(reader.markers(2, markers, error));
        ASSERT_EQ(markers.size(), 1u);
        EXPECT_EQ(markers[0].kind, MarkerRecord::Kind::runStart);
        EXPECT_EQ(markers[0].dateStamp, 1714554000025000);
    }
}

TEST(Identity, MarkersGoAndComeBackWithClearsAndDeletesAsSamplesDo)
{
    QTemporaryDir dir;
    const std::string path = (dir.path() + "/Quivra.sqlite").toStdString();
    auto c = std::make_unique<ObjectContext>();
    StoreError error;
    auto reopen = [&] {
        c.reset();
        c = std::make_unique<ObjectContext>();
        ASSERT_TRUE(c->open(path, error)) << error.describe();
    };
    auto save = [&] { ASSERT_TRUE(c->save(error)) << error.describe(); };
    ASSERT_TRUE(c->open(path, error));
    const ObjectId opts = c->insertOptions();
    const ObjectId a = c->insertSession(10), b = c->insertSession(20);
    c->setOptionsActiveSession(opts, a);
    c->setIdentity(a, SessionIdentity{"", "Fan 1", "NDE", "", "bearing replaced", "", 0});
    c->insertSample(11, 1, 2, 3, a);
    c->insertMarker(a, 12, MarkerRecord::Kind::event, "saved one");
    save();
    const ObjectId unsaved = c->insertMarker(a, 13, MarkerRecord::Kind::event, "unsaved one");
    ASSERT_TRUE(c->editMarker(unsaved, MarkerRecord::Kind::runEnd, "edited"));
    c->insertMarker(b, 21, MarkerRecord::Kind::event, "other session");

    // Cleared and undone before a save: nothing reaches the trash.
    c->clearSamples(a);
    EXPECT_TRUE(c->markers(a).empty());
    EXPECT_EQ(c->markers(b).size(), 1u);
    const ObjectId later = c->insertMarker(a, 14, MarkerRecord::Kind::event, "after the clear");
    ASSERT_TRUE(c->undoRemoval());
    EXPECT_EQ(texts(c->markers(a)), (std::vector<std::string>{"saved one", "edited", "after the clear"}));
    save();
    EXPECT_EQ(query(path, "SELECT count(*) FROM marker WHERE session_id = 1"), "3");

    // Cleared and saved, the program ends, the next one undoes it: every marker as it was.
    c->clearSamples(a);
    save();
    EXPECT_EQ(query(path, "SELECT count(*) FROM marker WHERE session_id = 1"), "0");
    EXPECT_EQ(query(path, "SELECT count(*) FROM trash_marker"), "3");
    reopen();
    EXPECT_TRUE(c->markers(a).empty());
    EXPECT_GT(c->insertMarker(b, 22, MarkerRecord::Kind::event, "new"), later); // ids in the trash stay taken
    ASSERT_TRUE(c->undoRemoval());
    save();
    reopen();
    const std::vector<MarkerRecord> back = c->markers(a);
    ASSERT_EQ(texts(back), (std::vector<std::string>{"saved one", "edited", "after the clear"}));
    EXPECT_EQ(back[1].id, unsaved);
    EXPECT_EQ(back[1].kind, MarkerRecord::Kind::runEnd);
    EXPECT_EQ(query(path, "SELECT count(*) FROM trash_marker"), "0");

    // A deleted session keeps its identity and markers while the delete can be undone.
    c->deleteSession(a);
    save();
    reopen();
    EXPECT_EQ(c->session(a), nullptr);
    ASSERT_TRUE(c->undoRemoval());
    EXPECT_EQ(c->identity(a)->notes, "bearing replaced");
    EXPECT_EQ(c->markers(a).size(), 3u);
    save();
    // Made final, the delete takes both for good; the other session's stay.
    c->deleteSession(a);
    save();
    c->forgetRemoval();
    save();
    EXPECT_EQ(query(path, "SELECT count(*) FROM session_identity"), "0");
    EXPECT_EQ(query(path, "SELECT session_id, text FROM marker ORDER BY id"), "2,other session|2,new");
    reopen();
    EXPECT_EQ(c->identity(a), nullptr);
    ASSERT_TRUE(c->removeMarker(c->markers(b).front().id));
    save();
    EXPECT_EQ(query(path, "SELECT text FROM marker"), "new");
}
