// SPDX-License-Identifier: GPL-3.0-or-later
// The object context: relationships, counts, reading samples in time order, and saving.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QTemporaryDir>

#include <cmath>
#include <limits>
#include <tuple>

#include "platform/store/ObjectContext.h"

using namespace store;

namespace {

struct Store {
    QTemporaryDir dir;
    std::string path = (dir.path() + "/Quivra.sqlite").toStdString();
    std::unique_ptr<ObjectContext> context;

    ObjectContext& open()
    {
        context.reset();
        context = std::make_unique<ObjectContext>();
        StoreError error;
        EXPECT_TRUE(context->open(path, error)) << error.describe() << error.describeDetails();
        return *context;
    }
    void save()
    {
        StoreError error;
        ASSERT_TRUE(context->save(error)) << error.describe() << error.describeDetails();
    }
};

std::vector<SampleValues> walk(ObjectContext& c, ObjectId session)
{
    std::vector<SampleValues> out;
    EXPECT_TRUE(c.forEachSample(session, [&](const SampleValues& v) {
        out.push_back(v);
        return true;
    }));
    return out;
}

std::vector<Micros> times(const std::vector<SampleValues>& samples)
{
    std::vector<Micros> out;
    for (const auto& s : samples) out.push_back(s.dateStamp);
    return out;
}

} // namespace

TEST(ObjectContext, RelationshipsFollowTheirToOneSideAtOnce)
{
    Store s;
    ObjectContext& c = s.open();
    ObjectId root = c.insertBaseModel();
    ObjectId a = c.insertSession(100), b = c.insertSession(200);
    ObjectId opts = c.insertOptions();
    EXPECT_TRUE(c.sessionsOfBaseModel(root).empty());
    c.setSessionBaseModel(a, root);
    c.setSessionBaseModel(b, root);
    c.setOptionsBaseModel(opts, root);
    c.setOptionsActiveSession(opts, a);
    EXPECT_EQ(c.sessionsOfBaseModel(root), (std::vector<ObjectId>{a, b}));
    EXPECT_EQ(c.optionsOfBaseModel(root), opts);
    EXPECT_EQ(c.optionsWithActiveSession(a), opts);

    c.setOptionsActiveSession(opts, b);
    EXPECT_EQ(c.optionsWithActiveSession(a), 0);

    // Deleting a session that is not active leaves the active one alone.
    c.deleteSession(a);
    EXPECT_EQ(c.sessionsOfBaseModel(root), (std::vector<ObjectId>{b}));
    EXPECT_EQ(c.options(opts)->activeSession, b);
    // Deleting the active one empties it, and its samples are gone with it.
    c.insertSample(300, 1, 2, 3, b);
    c.deleteSession(b);
    EXPECT_TRUE(c.sessionsOfBaseModel(root).empty());
    EXPECT_EQ(c.options(opts)->activeSession, 0);
    EXPECT_EQ(c.sampleCount(b), 0);
    EXPECT_EQ(c.session(b), nullptr);
}

TEST(ObjectContext, SampleCountsFollowEveryChange)
{
    Store s;
    ObjectContext& c = s.open();
    ObjectId a = c.insertSession(1), b = c.insertSession(2);
    c.insertSample(10, 0, 0, 0, a);
    c.insertSample(11, 0, 0, 0, a);
    c.insertSample(12, 0, 0, 0, 0);  // in no session: counted nowhere
    c.insertSample(13, 0, 0, 0, 99); // a session that is not there: in none
    EXPECT_EQ(c.sampleCount(a), 2);
    EXPECT_EQ(c.sampleCount(b), 0);
    s.save();
    c.insertSample(14, 0, 0, 0, b);
    EXPECT_EQ(c.sampleCount(a), 2);
    EXPECT_EQ(c.sampleCount(b), 1);
    s.save();

    ObjectContext& again = s.open();
    EXPECT_EQ(again.sampleCount(a), 2);
    EXPECT_EQ(again.sampleCount(b), 1);
    EXPECT_EQ(again.newestSamples(b, 5).at(0).dateStamp, 14);
}

TEST(ObjectContext, ClearingDropsSavedAndUnsavedSamplesButKeepsTheSession)
{
    Store s;
    ObjectContext& c = s.open();
    ObjectId a = c.insertSession(5), other = c.insertSession(6);
    for (int i = 0; i < 50; ++i) c.insertSample(100 + i, float(i), 0, 0, a);
    c.insertSample(1000, 9, 9, 9, other);
    s.save();
    for (int i = 0; i < 5; ++i) c.insertSample(200 + i, 0, 0, 0, a);
    c.clearSamples(a);
    EXPECT_EQ(c.sampleCount(a), 0);
    EXPECT_TRUE(walk(c, a).empty());
    EXPECT_TRUE(c.newestSamples(a, 10).empty());
    // Recording goes on into the cleared session.
    c.insertSample(300, 1, 1, 1, a);
    EXPECT_EQ(times(walk(c, a)), (std::vector<Micros>{300}));
    s.save();

    ObjectContext& again = s.open();
    EXPECT_NE(again.session(a), nullptr);
    EXPECT_EQ(again.session(a)->dateStamp, 5);
    EXPECT_EQ(again.sampleCount(a), 1);
    EXPECT_EQ(again.sampleCount(other), 1);
    EXPECT_EQ(times(walk(again, a)), (std::vector<Micros>{300}));
}

TEST(ObjectContext, SamplesComeInTimeOrderAcrossSavedAndUnsavedWithEqualTimesInInsertionOrder)
{
    Store s;
    ObjectContext& c = s.open();
    ObjectId a = c.insertSession(1);
    ObjectId first = c.insertSample(20, 1, 0, 0, a);
    ObjectId second = c.insertSample(20, 2, 0, 0, a);
    c.insertSample(40, 3, 0, 0, a);
    s.save();
    // The clock went back: unsaved samples older than saved ones still sort by time.
    ObjectId third = c.insertSample(20, 4, 0, 0, a);
    c.insertSample(10, 5, 0, 0, a);
    c.insertSample(50, 6, 0, 0, a);
    auto all = walk(c, a);
    EXPECT_EQ(times(all), (std::vector<Micros>{10, 20, 20, 20, 40, 50}));
    EXPECT_EQ(all[1].id, first);
    EXPECT_EQ(all[2].id, second);
    EXPECT_EQ(all[3].id, third);

    auto newest = c.newestSamples(a, 4);
    EXPECT_EQ(times(newest), (std::vector<Micros>{20, 20, 40, 50}));
    EXPECT_EQ(newest[0].id, second);
    EXPECT_EQ(c.newestSamples(a, 100).size(), 6u);

    // A walk can be stopped.
    int visited = 0;
    c.forEachSample(a, [&](const SampleValues&) { return ++visited < 2; });
    EXPECT_EQ(visited, 2);
}

TEST(ObjectContext, ValuesAndTimesReadBackExactly)
{
    Store s;
    ObjectContext& c = s.open();
    ObjectId root = c.insertBaseModel();
    ObjectId opts = c.insertOptions();
    c.setOptionsBaseModel(opts, root);
    OptionsRecord* o = c.editOptions(opts);
    o->framerate = 45;
    o->cutoffLimit = 5.0f;
    o->tareX = 0.1f;
    o->tareY = -1.4901161e-09f;
    o->tareZ = std::numeric_limits<float>::denorm_min();
    ObjectId a = c.insertSession(-1234567); // before 1970 too
    const float values[] = {0.1f, -0.015625f, 1e-05f, std::numeric_limits<float>::max(), -0.0f, 1.0f / 3.0f};
    for (int i = 0; i < 6; ++i) c.insertSample(1796685648309833 + i, values[i], -values[i], values[5 - i], a);
    s.save();

    ObjectContext& again = s.open();
    const OptionsRecord* r = again.options(opts);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->framerate, 45);
    EXPECT_EQ(r->tareX, 0.1f);
    EXPECT_EQ(r->tareY, -1.4901161e-09f);
    EXPECT_EQ(r->tareZ, std::numeric_limits<float>::denorm_min());
    EXPECT_EQ(again.session(a)->dateStamp, -1234567);
    auto all = walk(again, a);
    ASSERT_EQ(all.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(all[i].dateStamp, 1796685648309833 + i);
        EXPECT_EQ(all[i].x, values[i]);
        EXPECT_EQ(all[i].y, -values[i]);
        EXPECT_EQ(all[i].z, values[5 - i]);
    }
}

TEST(ObjectContext, AFailedSaveKeepsEveryChangeForTheNextSave)
{
    Store s;
    ObjectContext& c = s.open();
    ObjectId a = c.insertSession(1);
    c.insertSample(1, 0, 0, 0, a);
    s.save();
    // Make the store "full": no more pages may be added.
    sqlite3* db = c.database().handle();
    sqlite3_exec(db, "PRAGMA max_page_count = 1", nullptr, nullptr, nullptr);
    for (int i = 0; i < 20000; ++i) c.insertSample(10 + i, float(i), 0, 0, a);
    c.clearSamples(c.insertSession(2));
    StoreError error;
    EXPECT_FALSE(c.save(error));
    EXPECT_EQ(error.code, SQLITE_FULL);
    EXPECT_FALSE(error.details.at("reason").empty());
    EXPECT_TRUE(c.hasChanges());
    EXPECT_EQ(c.sampleCount(a), 20001);

    sqlite3_exec(db, "PRAGMA max_page_count = 1073741823", nullptr, nullptr, nullptr);
    s.save();
    EXPECT_FALSE(c.hasChanges());
    ObjectContext& again = s.open();
    EXPECT_EQ(again.sampleCount(a), 20001);
    EXPECT_EQ(walk(again, a).size(), 20001u);
}

TEST(ObjectContext, TellsItsObserverOnceWhenChangesBegin)
{
    Store s;
    ObjectContext& c = s.open();
    int told = 0;
    c.setChangeObserver([&] { ++told; });
    EXPECT_FALSE(c.hasChanges());
    ObjectId a = c.insertSession(1);
    c.insertSample(1, 0, 0, 0, a);
    EXPECT_EQ(told, 1);
    s.save();
    StoreError error;
    EXPECT_TRUE(c.save(error)); // nothing to do
    c.insertSample(2, 0, 0, 0, a);
    EXPECT_EQ(told, 2);
}

TEST(ObjectContext, UnsavedSamplesKeepSessionIdsBeyondThirtyTwoBits)
{
    for (ObjectId wanted : {ObjectId(1) << 31, (ObjectId(1) << 32) - 1}) {
        Store s;
        s.open();
        s.context.reset();
        {
            sqlite3* db = nullptr;
            sqlite3_open(s.path.c_str(), &db);
            std::string sql = "INSERT INTO session(id, date_stamp) VALUES(" + std::to_string(wanted - 1) + ", 0)";
            ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        }
        ObjectContext& c = s.open();
        ObjectId a = c.insertSession(1);
        ASSERT_EQ(a, wanted);
        for (int i = 0; i < 70; ++i) c.insertSample(10 + i, 0.5f, 0, 0, a);
        EXPECT_EQ(c.newestSamples(a, 100).size(), 70u);
        s.save();
        ObjectContext& again = s.open();
        EXPECT_EQ(again.sampleCount(a), 70);
        EXPECT_EQ(walk(again, a).size(), 70u) << wanted;
    }
}

// What a session holds, in the order readers see it: enough to tell that an undo put back every
// row exactly as it was.
std::vector<std::tuple<ObjectId, Micros, float, float, float>> rows(ObjectContext& c, ObjectId session)
{
    std::vector<std::tuple<ObjectId, Micros, float, float, float>> out;
    for (const SampleValues& v : walk(c, session)) out.emplace_back(v.id, v.dateStamp, v.x, v.y, v.z);
    return out;
}

std::string trashRows(const std::string& path)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT (SELECT count(*) FROM trash_action) || '/' || (SELECT count(*) FROM trash_gdata)",
                       -1, &st, nullptr);
    std::string out =
        st && sqlite3_step(st) == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(st, 0)) : "";
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
}

TEST(ObjectContext, ClearsAndDeletesWaitInTheTrashAndAnUndoPutsBackEveryRow)
{
    Store s;
    ObjectContext& c = s.open();
    ObjectId opts = c.insertOptions();
    ObjectId a = c.insertSession(5), b = c.insertSession(6);
    c.setOptionsActiveSession(opts, b);
    for (int i = 0; i < 30; ++i) c.insertSample(100 + i, float(i) / 3, -1, 0.25f, a);
    s.save();
    for (int i = 0; i < 5; ++i) c.insertSample(200 + i, float(i), 2, 3, a);
    auto before = rows(c, a);

    // Undone before anything was saved: nothing reaches the trash.
    c.clearSamples(a);
    ASSERT_NE(c.undoableRemoval(), nullptr);
    EXPECT_EQ(c.undoableRemoval()->sampleCount(), 35);
    ObjectId after = c.insertSample(300, 7, 7, 7, a); // recording goes on after the clear
    ASSERT_TRUE(c.undoRemoval());
    EXPECT_EQ(c.undoableRemoval(), nullptr);
    EXPECT_EQ(c.sampleCount(a), 36);
    auto withLater = before;
    withLater.emplace_back(after, 300, 7.f, 7.f, 7.f);
    EXPECT_EQ(rows(c, a), withLater);
    s.save();
    EXPECT_EQ(trashRows(s.path), "0/0");

    // Cleared and saved, then the program ends: the next one can still undo it.
    c.clearSamples(a);
    s.save();
    EXPECT_EQ(trashRows(s.path), "1/36");
    {
        ObjectContext& again = s.open();
        EXPECT_EQ(again.sampleCount(a), 0);
        ASSERT_NE(again.undoableRemoval(), nullptr);
        EXPECT_EQ(again.undoableRemoval()->kind, Removal::Kind::clear);
        EXPECT_EQ(again.undoableRemoval()->sampleCount(), 36);
        ObjectId later = again.insertSample(400, 1, 1, 1, a); // new ids never take trashed ones
        EXPECT_GT(later, std::get<0>(withLater.back()));
        ASSERT_TRUE(again.undoRemoval());
        EXPECT_EQ(again.sampleCount(a), 37);
        s.save();
        EXPECT_EQ(trashRows(s.path), "0/0");
    }
    ObjectContext& third = s.open();
    auto restored = rows(third, a);
    ASSERT_EQ(restored.size(), 37u);
    EXPECT_EQ(std::vector(restored.begin(), restored.end() - 1), withLater);
    EXPECT_EQ(third.sampleCount(a), 37);

    // The active session deleted, saved, reopened, and undone: it is back, active again.
    third.insertSample(500, 5, 5, 5, b);
    third.deleteSession(b);
    EXPECT_EQ(third.options(opts)->activeSession, 0);
    s.save();
    ObjectContext& fourth = s.open();
    EXPECT_EQ(fourth.session(b), nullptr);
    ASSERT_TRUE(fourth.undoRemoval());
    EXPECT_EQ(fourth.options(opts)->activeSession, b);
    EXPECT_EQ(fourth.session(b)->dateStamp, 6);
    EXPECT_EQ(fourth.sampleCount(b), 1);
    s.save(); // the rows come back from the trash
    EXPECT_EQ(times(walk(fourth, b)), (std::vector<Micros>{500}));

    // A removal that is forgotten, or replaced by the next one, leaves nothing behind.
    fourth.clearSamples(b);
    fourth.deleteSession(a);
    s.save();
    EXPECT_EQ(trashRows(s.path), "1/37");
    fourth.forgetRemoval();
    EXPECT_FALSE(fourth.undoRemoval());
    s.save();
    EXPECT_EQ(trashRows(s.path), "0/0");
    ObjectContext& fifth = s.open();
    EXPECT_EQ(fifth.session(a), nullptr);
    EXPECT_EQ(fifth.sampleCount(b), 0);
    EXPECT_EQ(fifth.undoableRemoval(), nullptr);
}

TEST(ObjectContext, AFailedReadIsReportedNotHidden)
{
    Store s;
    ObjectContext& c = s.open();
    ObjectId a = c.insertSession(1);
    for (int i = 0; i < 10; ++i) c.insertSample(10 + i, 0, 0, 0, a);
    s.save();
    std::vector<std::string> reported;
    c.setReadFailureObserver([&](const StoreError& e) { reported.push_back(e.message); });
    sqlite3* other = nullptr;
    sqlite3_open(s.path.c_str(), &other);
    ASSERT_EQ(sqlite3_exec(other, "DROP TABLE gdata", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    EXPECT_TRUE(c.newestSamples(a, 5).empty());
    EXPECT_EQ(reported.size(), 1u);
    StoreError error;
    EXPECT_FALSE(c.forEachSample(
        a, [](const SampleValues&) { return true; }, &error));
    EXPECT_EQ(error.message, "The store could not be read");
}
