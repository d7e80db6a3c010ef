// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/Database.h"

#include <sqlite3.h>

#include <cctype>
#include <utility>

namespace store {

std::string StoreError::describe() const
{
    return message + " (code " + std::to_string(code) + ")";
}

std::string StoreError::describeDetails() const
{
    std::string out = "{";
    bool first = true;
    for (const auto& [key, value] : details) {
        if (!first) out += "; ";
        first = false;
        out += key + " = \"" + value + "\"";
    }
    out += "}";
    return out;
}

// ---- Statement ----

Statement::Statement(Database& db, std::string_view sql) : db_(&db)
{
    int rc = sqlite3_prepare_v3(db.handle(), sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                                &stmt_, nullptr);
    if (rc != SQLITE_OK) {
        db.recordFailure(rc, "prepare");
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }
}

Statement::~Statement()
{
    sqlite3_finalize(stmt_);
}

Statement::Statement(Statement&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)), stmt_(std::exchange(other.stmt_, nullptr))
{}

Statement& Statement::operator=(Statement&& other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(stmt_);
        db_ = std::exchange(other.db_, nullptr);
        stmt_ = std::exchange(other.stmt_, nullptr);
    }
    return *this;
}

Statement& Statement::bind(int index, std::int64_t value)
{
    if (stmt_) sqlite3_bind_int64(stmt_, index, value);
    return *this;
}

Statement& Statement::bind(int index, double value)
{
    if (stmt_) sqlite3_bind_double(stmt_, index, value);
    return *this;
}

Statement& Statement::bind(int index, std::string_view value)
{
    if (stmt_) sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::bindBlob(int index, const void* data, std::size_t size)
{
    if (stmt_) sqlite3_bind_blob64(stmt_, index, data, sqlite3_uint64(size), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::bindNull(int index)
{
    if (stmt_) sqlite3_bind_null(stmt_, index);
    return *this;
}

bool Statement::step()
{
    if (!stmt_) return false;
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) db_->recordFailure(rc, "step");
    return false;
}

void Statement::run()
{
    while (step()) {}
    reset();
}

void Statement::reset()
{
    if (stmt_) {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
}

std::int64_t Statement::int64(int column) const
{
    return sqlite3_column_int64(stmt_, column);
}

double Statement::real(int column) const
{
    return sqlite3_column_double(stmt_, column);
}

bool Statement::isNull(int column) const
{
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

std::string Statement::text(int column) const
{
    const unsigned char* t = sqlite3_column_text(stmt_, column);
    return t ? std::string(reinterpret_cast<const char*>(t)) : std::string();
}

std::string_view Statement::blob(int column) const
{
    const void* data = sqlite3_column_blob(stmt_, column);
    const int size = sqlite3_column_bytes(stmt_, column);
    return data ? std::string_view(static_cast<const char*>(data), std::size_t(size)) : std::string_view();
}

// ---- Database ----

Database::~Database()
{
    close();
}

bool Database::open(const std::string& path, StoreError& error)
{
    return openWith(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, error);
}

bool Database::openReadOnly(const std::string& path, StoreError& error, bool asItIs)
{
    // A reader's connection is one thread's at a time (a walk hands it to its read-ahead thread
    // and takes it back): SQLite's lock around every call, six a row, is not needed.
    const int reading = SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX;
    if (!asItIs) return openWith(path, reading, error);
    // A URI, with every character that means something there escaped.
    std::string uri = "file:";
    for (unsigned char c : path) {
        static constexpr char hex[] = "0123456789ABCDEF";
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~')
            uri += char(c);
        else
            uri += {'%', hex[c >> 4], hex[c & 15]};
    }
    return openWith(path, reading | SQLITE_OPEN_URI, error, uri + "?immutable=1");
}

bool Database::openWith(const std::string& path, int flags, StoreError& error, const std::string& name)
{
    close();
    path_ = path;
    int rc = sqlite3_open_v2(name.empty() ? path.c_str() : name.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        error.code = rc;
        error.message = "The store could not be opened";
        error.details["path"] = path;
        error.details["reason"] = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        close();
        return false;
    }
    sqlite3_extended_result_codes(db_, 0);
    sqlite3_busy_timeout(db_, 2000);
    return true;
}

void Database::close()
{
    if (db_) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

bool Database::exec(std::string_view sql, StoreError& error)
{
    std::string text(sql);
    char* message = nullptr;
    int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        error.code = rc;
        error.message = "The store could not be read or written";
        error.details["path"] = path_;
        error.details["reason"] = message ? message : sqlite3_errstr(rc);
        sqlite3_free(message);
        return false;
    }
    return true;
}

bool Database::keepWriteAheadFiles(StoreError& error)
{
    int keep = 1;
    sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &keep);
    // A limit of any size makes the last connection empty the log as it closes.
    return exec("PRAGMA journal_size_limit = 67108864", error);
}

void Database::recordFailure(int code, std::string_view what)
{
    if (failure_.code != 0) return;
    failure_.code = code;
    failure_.message = "The store could not be written";
    failure_.details["path"] = path_;
    failure_.details["operation"] = std::string(what);
    failure_.details["reason"] = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
}

// ---- Transaction ----

Transaction::Transaction(Database& db) : db_(db)
{
    StoreError error;
    open_ = db_.exec("BEGIN IMMEDIATE", error);
    if (!open_) db_.recordFailure(error.code, "begin");
}

Transaction::~Transaction()
{
    if (open_) {
        StoreError ignored;
        db_.exec("ROLLBACK", ignored);
    }
}

bool Transaction::commit()
{
    if (!open_ || db_.failed()) return false;
    StoreError error;
    if (!db_.exec("COMMIT", error)) {
        db_.recordFailure(error.code, "commit");
        return false;
    }
    open_ = false;
    return true;
}

} // namespace store
