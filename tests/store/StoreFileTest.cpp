// SPDX-License-Identifier: GPL-3.0-or-later
// The store file: what a new one holds, which files are refused untouched, and the lock.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/store/ObjectContext.h"
#include "platform/store/Schema.h"

using namespace store;

namespace {
QByteArray readAll(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}
void writeAll(const std::string& path, const QByteArray& bytes)
{
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}
void runSql(const std::string& path, const char* sql)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}
} // namespace

TEST(StoreFile, ANewStoreIsAPlainDocumentedSqliteDatabase)
{
    QTemporaryDir dir;
    std::string path = (dir.path() + "/Quivra.sqlite").toStdString();
    {
        ObjectContext c;
        StoreError error;
        ASSERT_TRUE(c.open(path, error));
        ObjectId a = c.insertSession(1796685648309833);
        c.insertSample(1796685648319833, 0.5f, -0.25f, -1.0f, a);
        ASSERT_TRUE(c.save(error));
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    auto one = [&](const char* sql) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
        std::string out;
        if (st && sqlite3_step(st) == SQLITE_ROW) out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
        return out;
    };
    EXPECT_EQ(one("PRAGMA user_version"), std::to_string(schemaVersion));
    EXPECT_EQ(one("PRAGMA journal_mode"), "wal");
    EXPECT_EQ(one("SELECT x_value || ' ' || y_value || ' ' || z_value || ' ' || date_stamp FROM gdata"),
              "0.5 -0.25 -1.0 1796685648319833");
    EXPECT_EQ(one("SELECT sample_count FROM session"), "1");
    // The index serves one session's samples in time order.
    EXPECT_NE(one("EXPLAIN QUERY PLAN SELECT * FROM gdata WHERE session_id = 1 ORDER BY date_stamp").size(), 0u);
    std::string plan;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "EXPLAIN QUERY PLAN SELECT * FROM gdata WHERE session_id = 1 ORDER BY date_stamp, id", -1,
                       &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) plan += reinterpret_cast<const char*>(sqlite3_column_text(st, 3));
    sqlite3_finalize(st);
    EXPECT_NE(plan.find("gdata_session_time"), std::string::npos) << plan;
    EXPECT_EQ(plan.find("TEMP B-TREE"), std::string::npos) << plan;
    EXPECT_EQ(one("SELECT x FROM sample"), "0.5");
    sqlite3_close(db);
}

TEST(StoreFile, FilesThatDoNotFitAreRefusedAndLeftUntouched)
{
    QTemporaryDir dir;
    std::string garbage = (dir.path() + "/garbage.sqlite").toStdString();
    writeAll(garbage, QByteArray("this is not a database at all, just some text that fills a page").repeated(80));
    std::string foreign = (dir.path() + "/foreign.sqlite").toStdString();
    runSql(foreign, "CREATE TABLE contacts(name TEXT); INSERT INTO contacts VALUES('Ada');");
    std::string future = (dir.path() + "/future.sqlite").toStdString();
    {
        ObjectContext c;
        StoreError error;
        ASSERT_TRUE(c.open(future, error));
    }
    runSql(future, "PRAGMA user_version = 99");
    // Our marks, but none of our tables.
    std::string hollow = (dir.path() + "/hollow.sqlite").toStdString();
    runSql(hollow, "PRAGMA application_id = 1364609362; PRAGMA user_version = 3; CREATE TABLE t(x);");

    struct Case {
        std::string path;
        int code;
    };
    for (const Case& k : {Case{garbage, SQLITE_NOTADB}, Case{foreign, StoreError::notAQuivraStore},
                          Case{future, StoreError::unknownSchemaVersion}, Case{hollow, StoreError::missingTables}}) {
        QByteArray before = readAll(k.path);
        ObjectContext c;
        StoreError error;
        EXPECT_FALSE(c.open(k.path, error)) << k.path;
        EXPECT_EQ(error.code, k.code) << k.path;
        EXPECT_FALSE(error.message.empty());
        EXPECT_EQ(error.details.at("path"), k.path);
        EXPECT_EQ(readAll(k.path), before) << k.path;
    }

    // A folder that does not exist is an error, not a crash.
    ObjectContext c;
    StoreError error;
    EXPECT_FALSE(c.open((dir.path() + "/missing/Quivra.sqlite").toStdString(), error));
}

TEST(StoreFile, OneStoreIsOpenedByOneContextAtATime)
{
    QTemporaryDir dir;
    std::string path = (dir.path() + "/Quivra.sqlite").toStdString();
    StoreError error;
    auto first = std::make_unique<ObjectContext>();
    ASSERT_TRUE(first->open(path, error));
    ObjectContext second;
    EXPECT_FALSE(second.open(path, error));
    EXPECT_EQ(error.code, StoreError::lockedByAnotherProcess);
    // Reached through a symlink from another home, it is still the same store.
    QDir().mkpath(dir.path() + "/other");
    std::string link = (dir.path() + "/other/Quivra.sqlite").toStdString();
    ASSERT_TRUE(QFile::link(QString::fromStdString(path), QString::fromStdString(link)));
    ObjectContext linked;
    EXPECT_FALSE(linked.open(link, error));
    EXPECT_EQ(error.code, StoreError::lockedByAnotherProcess);
    first.reset();
    ObjectContext third;
    EXPECT_TRUE(third.open(path, error));
}

TEST(StoreFile, ARemovedOrReplacedFileIsWrittenBackWithEverythingRecorded)
{
    QTemporaryDir dir;
    std::string folder = (dir.path() + "/data/Quivra").toStdString();
    std::string path = folder + "/Quivra.sqlite";
    QDir().mkpath(QString::fromStdString(folder));
    ObjectContext c;
    StoreError error;
    ASSERT_TRUE(c.open(path, error));
    std::vector<std::string> told;
    c.setFileObserver([&](const std::string& m) { told.push_back(m); });
    ObjectId a = c.insertSession(1);
    for (int i = 0; i < 100; ++i) c.insertSample(10 + i, float(i), 0, 0, a);
    ASSERT_TRUE(c.save(error));

    // The whole data folder goes while recording goes on.
    ASSERT_TRUE(QDir(dir.path() + "/data").removeRecursively());
    for (int i = 0; i < 50; ++i) c.insertSample(200 + i, float(i), 1, 0, a);
    ASSERT_TRUE(c.save(error)) << error.describe() << error.describeDetails();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find("removed"), std::string::npos);
    auto count = [&] {
        sqlite3* db = nullptr;
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db,
                           "SELECT count(*) || ' ' || (SELECT integrity_check FROM pragma_integrity_check) FROM gdata",
                           -1, &st, nullptr);
        std::string out =
            st && sqlite3_step(st) == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(st, 0)) : "";
        sqlite3_finalize(st);
        sqlite3_close(db);
        return out;
    };
    EXPECT_EQ(count(), "150 ok");

    // Another file put in its place is kept aside, and the store written back once more.
    ASSERT_TRUE(QFile::remove(QString::fromStdString(path)));
    writeAll(path, "someone else's file");
    c.insertSample(300, 0, 0, 0, a);
    ASSERT_TRUE(c.save(error)) << error.describe() << error.describeDetails();
    ASSERT_EQ(told.size(), 2u);
    EXPECT_NE(told[1].find("replaced"), std::string::npos);
    EXPECT_EQ(count(), "151 ok");
    QStringList aside = QDir(QString::fromStdString(folder)).entryList({"Quivra.sqlite.displaced-*"});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(readAll(folder + "/" + aside[0].toStdString()), "someone else's file");
    // And saving simply goes on there.
    c.insertSample(400, 0, 0, 0, a);
    ASSERT_TRUE(c.save(error));
    EXPECT_EQ(count(), "152 ok");
    EXPECT_EQ(told.size(), 2u);
}
