// SPDX-License-Identifier: GPL-3.0-or-later
// The summary pyramid always says what the rows say: after saves, clears, undos, deletes, the
// start-up repair and the migration of a store that predates it.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QTemporaryDir>

#include <random>

#include "platform/store/ObjectContext.h"
#include "platform/store/Schema.h"
#include "platform/store/SessionReader.h"
#include "platform/store/SummaryPyramid.h"
#include "platform/store/SummaryReader.h"

using namespace store;

namespace {

// A session's rows, straight from SQL, in id order.
std::vector<SampleValues> rowsOf(Database& db, ObjectId session)
{
    std::vector<SampleValues> out;
    Statement q(db, "SELECT id, date_stamp, x_value, y_value, z_value FROM gdata WHERE session_id = ?1 ORDER BY id");
    q.bind(1, session);
    while (q.step())
        out.push_back({q.int64(0), q.int64(1), float(q.real(2)), float(q.real(3)), float(q.real(4)), session});
    return out;
}

// What the rows say of a stretch of a session.
SampleSummary fromRows(const std::vector<SampleValues>& rows, Micros from, Micros to)
{
    SampleSummary out;
    for (const SampleValues& v : rows)
        if (v.dateStamp >= from && v.dateStamp <= to) out.add(v);
    return out;
}

// Every block as stored, as text, for comparing one store's summaries with another's.
std::string storedBlocks(Database& db)
{
    std::string out;
    Statement q(db, "SELECT session_id, level, chunk, samples, last_id, hex(blocks) FROM summary"
                    " ORDER BY session_id, level, chunk");
    while (q.step())
        for (int c = 0; c < 6; ++c) out += q.text(c) + (c == 5 ? "\n" : " ");
    return out;
}

struct Checker {
    std::string path;
    std::mt19937 random{7};
    int ranges = 0;

    // Random stretches of each session (whole, empty, single instants, across gaps) summarised
    // by the pyramid and by the rows; then the stored blocks against blocks made afresh.
    void check(const std::vector<ObjectId>& sessions, const char* when)
    {
        SCOPED_TRACE(when);
        SessionReader reader;
        StoreError error;
        ASSERT_TRUE(reader.open(path, error)) << error.describe();
        SummaryReader summary(reader.database());
        for (ObjectId s : sessions) {
            const std::vector<SampleValues> rows = rowsOf(reader.database(), s);
            SampleSummary all = fromRows(rows, INT64_MIN, INT64_MAX);
            SummaryReader::Head head;
            ASSERT_TRUE(summary.head(s, head));
            EXPECT_EQ(head.samples, all.count);
            const Micros lo = all.count ? all.block.minTime - 5 : 0, hi = all.count ? all.block.maxTime + 5 : 100;
            std::uniform_int_distribution<Micros> at(lo, hi);
            for (int i = 0; i < 180; ++i, ++ranges) {
                Micros from = at(random), to = at(random);
                if (from > to) std::swap(from, to);
                if (i == 0) from = INT64_MIN, to = INT64_MAX;
                if (i == 1) to = from;
                SampleSummary want = fromRows(rows, from, to), got;
                ASSERT_TRUE(summary.summarize(s, from, to, got));
                ASSERT_EQ(got.count, want.count) << "session " << s << " " << from << ".." << to;
                for (int a = 0; a < 3; ++a) {
                    ASSERT_EQ(got.block.min[a], want.block.min[a]) << s << " " << from << ".." << to;
                    ASSERT_EQ(got.block.max[a], want.block.max[a]) << s << " " << from << ".." << to;
                    ASSERT_NEAR(got.block.sumSquares[a], want.block.sumSquares[a],
                                1e-9 * (1 + want.block.sumSquares[a]));
                }
            }
        }
        // Made afresh on a connection of its own, in a transaction that is rolled back.
        Database db;
        ASSERT_TRUE(db.open(path, error));
        const std::string kept = storedBlocks(db);
        ASSERT_TRUE(db.exec("BEGIN", error));
        {
            SummaryPyramid pyramid(db);
            for (ObjectId s : sessions) pyramid.rebuild(s);
        }
        EXPECT_EQ(storedBlocks(db), kept);
        db.exec("ROLLBACK", error);
    }
};

} // namespace

TEST(SummaryPyramid, AnswersWhatTheRowsSayThroughSavesClearsUndosAndDeletes)
{
    QTemporaryDir dir;
    Checker checker{(dir.path() + "/Quivra.sqlite").toStdString()};
    ObjectContext c;
    StoreError error;
    ASSERT_TRUE(c.open(checker.path, error));
    auto save = [&] { ASSERT_TRUE(c.save(error)) << error.describe(); };
    std::vector<ObjectId> sessions{c.insertSession(1), c.insertSession(2), c.insertSession(3)};
    std::mt19937 random(3);
    std::normal_distribution<float> value(0.0f, 1.5f);
    Micros clock = 1'700'000'000'000'000;
    // Readings 312 us apart, now and then a gap, a repeated stamp or the clock going back.
    auto record = [&](ObjectId s, int n) {
        for (int i = 0; i < n; ++i) {
            const int r = int(random() % 1000);
            clock += r < 3 ? 5'000'000 : r < 10 ? 0 : r < 13 ? -40'000 : 312;
            c.insertSample(clock, value(random), value(random), -1.0f + value(random), s);
        }
    };
    // Sizes across block and row boundaries of several levels.
    for (int n : {1, 15, 16, 17, 500, 12, 4096, 4000, 30000}) {
        record(sessions[0], n);
        record(sessions[1], n / 3);
        save();
    }
    checker.check(sessions, "after saves");

    // A clear with readings after it in the same save, undone after more were saved.
    record(sessions[0], 300);
    c.clearSamples(sessions[0]);
    record(sessions[0], 40);
    save();
    checker.check(sessions, "after a clear");
    record(sessions[0], 1000);
    save();
    ASSERT_TRUE(c.undoRemoval());
    record(sessions[0], 33);
    save();
    checker.check(sessions, "after its undo");

    // A delete undone, a delete and a clear made final, all with unsaved readings among them.
    record(sessions[1], 77);
    c.deleteSession(sessions[1]);
    save();
    checker.check({sessions[0], sessions[2]}, "after a delete");
    ASSERT_TRUE(c.undoRemoval());
    save();
    checker.check(sessions, "after its undo");
    record(sessions[2], 5000);
    c.deleteSession(sessions[2]);
    record(sessions[1], 20);
    c.clearSamples(sessions[1]);
    c.forgetRemoval();
    record(sessions[1], 3000);
    save();
    checker.check(sessions, "after a delete and a clear made final");
    EXPECT_GE(checker.ranges, 3000);

    // The start-up repair makes summaries that do not fit afresh, and drops those of no session.
    Database& db = c.database();
    ASSERT_TRUE(db.exec("DELETE FROM summary WHERE session_id = 1;"
                        "INSERT INTO summary VALUES(99 << 40, 99, 4, 0, 1, 1, x'00')",
                        error));
    std::vector<std::string> repaired;
    ASSERT_TRUE(repairSampleCounts(db, repaired, error));
    EXPECT_EQ(repaired.size(), 1u);
    checker.check(sessions, "after the repair");
}

TEST(SummaryPyramid, AStoreThatPredatesItGetsItOnceWithProgress)
{
    QTemporaryDir dir;
    Checker checker{(dir.path() + "/Quivra.sqlite").toStdString()};
    std::vector<ObjectId> sessions;
    {
        ObjectContext c;
        StoreError error;
        ASSERT_TRUE(c.open(checker.path, error));
        for (int s = 0; s < 3; ++s) {
            sessions.push_back(c.insertSession(s));
            for (int i = 0; i < 20000 * s + 7; ++i)
                c.insertSample(1000 + 100 * i, float(i % 91), -float(i % 13), 0.5f, sessions.back());
        }
        ASSERT_TRUE(c.save(error));
        // What a store of version 3 holds: none of the tables of the versions after it.
        ASSERT_TRUE(c.database().exec("DROP TABLE summary; DROP TABLE trash_summary; DROP TABLE session_identity;"
                                      " DROP TABLE marker; DROP TABLE trash_marker; DROP TABLE baseline;"
                                      " DROP TABLE session_summary; PRAGMA user_version = 3",
                                      error));
    }
    std::vector<std::int64_t> told;
    ObjectContext c;
    c.setMigrationProgress([&](std::int64_t done, std::int64_t total) {
        EXPECT_EQ(total, 60021);
        told.push_back(done);
    });
    StoreError error;
    ASSERT_TRUE(c.open(checker.path, error)) << error.describe();
    EXPECT_EQ(told.front(), 0);
    EXPECT_EQ(told.back(), 60021);
    checker.check(sessions, "after the migration");
}
