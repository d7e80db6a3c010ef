// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A small RAII layer over SQLite's C API: one connection, prepared statements with bound values,
// and transactions that roll back unless committed.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace store {

// What went wrong with the store, in our own words, with the details behind it.
struct StoreError {
    int code = 0;        // SQLite's result code, or one of ours below
    std::string message; // one sentence: what could not be done
    std::map<std::string, std::string> details;

    static constexpr int notAQuivraStore = 1001;
    static constexpr int unknownSchemaVersion = 1002;
    static constexpr int lockedByAnotherProcess = 1003;
    static constexpr int missingTables = 1004;
    static constexpr int readOnly = 1005;

    // "The store could not be opened (code 26)" and "{path = ...; reason = ...}".
    std::string describe() const;
    std::string describeDetails() const;
};

class Database;

class Statement {
public:
    Statement() = default;
    Statement(Database& db, std::string_view sql);
    ~Statement();
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool valid() const { return stmt_ != nullptr; }

    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, double value);
    Statement& bind(int index, std::string_view value);
    // Bytes, copied by SQLite.
    Statement& bindBlob(int index, const void* data, std::size_t size);
    Statement& bindNull(int index);

    // Runs one step: true while a row is available, false when done. A failure is kept by the
    // database (failed(), failure()) until its owner clears it.
    bool step();
    // Steps to the end; for statements that return no rows.
    void run();
    void reset();

    std::int64_t int64(int column) const;
    double real(int column) const;
    bool isNull(int column) const;
    std::string text(int column) const;
    // A blob's bytes, valid until the next step or reset.
    std::string_view blob(int column) const;

private:
    Database* db_ = nullptr;
    sqlite3_stmt* stmt_ = nullptr;
};

class Database {
public:
    Database() = default;
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens, or creates when missing; false with `error` filled when it cannot.
    bool open(const std::string& path, StoreError& error);
    // Opens an existing store for reading only. `asItIs`: the file alone, without the write-ahead
    // files or any lock (SQLite's immutable), for a store no one writes and nothing is in the log of.
    // The connection must be used by one thread at a time.
    bool openReadOnly(const std::string& path, StoreError& error, bool asItIs = false);
    void close();
    bool isOpen() const { return db_ != nullptr; }
    sqlite3* handle() const { return db_; }
    const std::string& path() const { return path_; }

    // Runs SQL text without bound values (schema and pragmas only).
    bool exec(std::string_view sql, StoreError& error);

    // For a connection that writes: when the last connection closes, the write-ahead log and its
    // index stay beside the store (the log emptied), so that another user, who may not write in
    // the store's folder, can still read it.
    bool keepWriteAheadFiles(StoreError& error);

    // The first failure since the last clearError(), as reported by a statement.
    bool failed() const { return failure_.code != 0; }
    const StoreError& failure() const { return failure_; }
    void clearError() { failure_ = {}; }
    void recordFailure(int code, std::string_view what);

private:
    // `name`: what SQLite is given to open, when not the path itself (a URI).
    bool openWith(const std::string& path, int flags, StoreError& error, const std::string& name = {});

    sqlite3* db_ = nullptr;
    std::string path_;
    StoreError failure_;
};

// BEGIN IMMEDIATE on construction; ROLLBACK on destruction unless commit() succeeded.
class Transaction {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    bool commit();

private:
    Database& db_;
    bool open_ = false;
};

} // namespace store
