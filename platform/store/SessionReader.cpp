// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/SessionReader.h"

#include <algorithm>

#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <limits>

#include "platform/store/ReadAhead.h"
#include "platform/store/Schema.h"

namespace store {

namespace {

// Whether the store's write-ahead log holds nothing: missing, or empty.
bool emptyLog(const std::string& path)
{
    struct stat st {};
    return ::stat((path + "-wal").c_str(), &st) != 0 ? errno == ENOENT : st.st_size == 0;
}

// The next rows of a query of (id, date_stamp, x, y, z) into `chunk`; false after the last one.
bool fillSamples(Statement& q, ObjectId session, ReadAhead::Chunk& chunk)
{
    while (chunk.size() < ReadAhead::chunkRows) {
        if (!q.step()) return false;
        chunk.push_back(SampleValues{q.int64(0), q.int64(1), float(q.real(2)), float(q.real(3)), float(q.real(4)), session});
    }
    return true;
}

} // namespace

bool SessionReader::open(const std::string& path, StoreError& error)
{
    if (!db_.openReadOnly(path, error)) return false;
    std::int64_t id = 0, v = 0;
    auto readMarks = [&] {
        Statement check(db_, "PRAGMA application_id");
        id = check.step() ? check.int64(0) : 0;
        Statement version(db_, "PRAGMA user_version");
        v = version.step() ? version.int64(0) : 0;
    };
    readMarks();
    const int code = db_.failure().code;
    if ((code == SQLITE_READONLY || code == SQLITE_CANTOPEN) && emptyLog(path)) {
        // A store left without its write-ahead files (closed by an older Quivra, or by another
        // program), in a folder this user may not write in: SQLite cannot make the index it reads
        // through. With nothing in the log, the file alone holds every saved change.
        db_.clearError();
        if (!db_.openReadOnly(path, error, true)) return false;
        readMarks();
    }
    if (db_.failed() || id != applicationId || v < 1 || v > schemaVersion) {
        error = db_.failed() ? db_.failure() : StoreError{};
        if (!db_.failed() && id != applicationId) {
            error.code = StoreError::notAQuivraStore;
            error.details["reason"] = "it is an SQLite database of another program";
        } else if (!db_.failed()) {
            error.code = StoreError::unknownSchemaVersion;
            error.details["reason"] = "unknown schema version " + std::to_string(v)
                                      + " (this Quivra reads versions 1 to " + std::to_string(schemaVersion) + ")";
        }
        error.message = "The store could not be read";
        error.details["path"] = path;
        db_.close();
        return false;
    }
    version_ = v;
    return true;
}

std::map<std::string, std::string> SessionReader::settings()
{
    std::map<std::string, std::string> out;
    Statement q(db_, "SELECT name, value FROM setting");
    while (q.step()) out[q.text(0)] = q.text(1);
    db_.clearError(); // a store of an older version has none
    return out;
}

bool SessionReader::readFailed(StoreError& error)
{
    if (!db_.failed()) return false;
    error = db_.failure();
    error.message = "The store could not be read";
    error.details["path"] = db_.path();
    db_.clearError();
    return true;
}

bool SessionReader::sessions(std::vector<SessionRow>& out, StoreError& error)
{
    out.clear();
    db_.clearError();
    // A store older than identities is read as it is: nothing is written to a store here.
    const bool identities = version_ >= 5;
    Statement q(db_, identities
                         ? "SELECT s.id, s.base_model_id, s.date_stamp, s.sample_count, i.name, i.machine, i.point,"
                           " i.direction, i.notes, i.source, coalesce(i.rate, 0) FROM session s"
                           " LEFT JOIN session_identity i ON i.session_id = s.id ORDER BY s.date_stamp, s.id"
                         : "SELECT id, base_model_id, date_stamp, sample_count FROM session ORDER BY date_stamp, id");
    while (q.step()) {
        SessionRow row{q.int64(0), q.int64(1), q.int64(2), q.int64(3), {}};
        if (identities)
            row.identity =
                SessionIdentity{q.text(4), q.text(5), q.text(6), q.text(7), q.text(8), q.text(9), q.real(10)};
        out.push_back(std::move(row));
    }
    return !readFailed(error);
}

bool SessionReader::activeSession(ObjectId& out, StoreError& error)
{
    out = 0;
    db_.clearError();
    // The program works on the newest root (see StoreKeeper::loadRoot).
    Statement q(db_, "SELECT o.active_session_id FROM options o JOIN session s ON s.id = o.active_session_id"
                     " WHERE o.base_model_id = (SELECT max(id) FROM base_model) ORDER BY o.id DESC LIMIT 1");
    if (q.step()) out = q.int64(0);
    return !readFailed(error);
}

bool SessionReader::markers(ObjectId session, std::vector<MarkerRecord>& out, StoreError& error)
{
    out.clear();
    db_.clearError();
    if (version_ < 5) return true;
    Statement q(db_, "SELECT id, date_stamp, kind, text FROM marker WHERE session_id = ?1 ORDER BY date_stamp, id");
    q.bind(1, session);
    while (q.step()) {
        MarkerRecord m;
        m.id = q.int64(0);
        m.session = session;
        m.dateStamp = q.int64(1);
        m.kind = markerKindFromName(q.text(2)).value_or(MarkerRecord::Kind::event);
        m.text = q.text(3);
        out.push_back(std::move(m));
    }
    return !readFailed(error);
}

bool SessionReader::timeSpan(ObjectId session, Micros& first, Micros& last, bool& any, StoreError& error)
{
    db_.clearError();
    // Two subqueries, so that each is one look-up in the (session_id, date_stamp) index.
    Statement q(db_, "SELECT (SELECT min(date_stamp) FROM gdata WHERE session_id = ?1),"
                     " (SELECT max(date_stamp) FROM gdata WHERE session_id = ?1)");
    q.bind(1, session);
    any = q.step() && !q.isNull(0);
    first = any ? q.int64(0) : 0;
    last = any ? q.int64(1) : 0;
    return !readFailed(error);
}

bool SessionReader::firstTimes(ObjectId session, std::size_t limit, std::vector<Micros>& out, StoreError& error)
{
    out.clear();
    db_.clearError();
    Statement q(db_, "SELECT date_stamp FROM gdata WHERE session_id = ?1 ORDER BY date_stamp, id LIMIT ?2");
    q.bind(1, session).bind(2, std::int64_t(limit));
    while (q.step()) out.push_back(q.int64(0));
    return !readFailed(error);
}

bool SessionReader::forEachBetween(ObjectId session, Micros from, Micros to,
                                   const std::function<bool(const SampleValues&)>& visit, StoreError& error)
{
    db_.clearError();
    Statement q(db_, "SELECT id, date_stamp, x_value, y_value, z_value FROM gdata"
                     " WHERE session_id = ?1 AND date_stamp BETWEEN ?2 AND ?3 ORDER BY date_stamp, id");
    q.bind(1, session).bind(2, from).bind(3, to);
    ReadAhead::walk([&](ReadAhead::Chunk& chunk) { return fillSamples(q, session, chunk); }, visit);
    return !readFailed(error);
}

bool SessionReader::forEach(ObjectId session, ObjectId afterId, ObjectId beforeId,
                            const std::function<bool(const SampleValues&)>& visit, StoreError& error)
{
    return forEach(session, afterId, beforeId, std::numeric_limits<Micros>::min(), std::numeric_limits<Micros>::max(),
                   visit, error);
}

bool SessionReader::forEach(ObjectId session, ObjectId afterId, ObjectId beforeId, Micros from, Micros to,
                            const std::function<bool(const SampleValues&)>& visit, StoreError& error)
{
    db_.clearError();
    Statement q(db_, "SELECT id, date_stamp, x_value, y_value, z_value FROM gdata"
                     " WHERE session_id = ?1 AND id > ?2 AND id < ?3 AND date_stamp BETWEEN ?4 AND ?5"
                     " ORDER BY date_stamp, id");
    q.bind(1, session).bind(2, afterId).bind(3, beforeId > 0 ? beforeId : std::numeric_limits<ObjectId>::max());
    q.bind(4, from).bind(5, to);
    ReadAhead::walk([&](ReadAhead::Chunk& chunk) { return fillSamples(q, session, chunk); }, visit);
    if (db_.failed()) {
        error = db_.failure();
        error.message = "The store could not be read";
        db_.clearError();
        return false;
    }
    return true;
}

bool SessionReader::forEach(const SessionSnapshot& snapshot, const std::function<bool(const SampleValues&)>& visit,
                            StoreError& error)
{
    return forEachBetween(snapshot, std::numeric_limits<Micros>::min(), std::numeric_limits<Micros>::max(), visit,
                          error);
}

bool SessionReader::forEachBetween(const SessionSnapshot& snapshot, Micros from, Micros to,
                                   const std::function<bool(const SampleValues&)>& visit, StoreError& error)
{
    auto earlier = [](const SampleValues& a, const SampleValues& b) {
        return a.dateStamp != b.dateStamp ? a.dateStamp < b.dateStamp : a.id < b.id;
    };
    // The unsaved rows are in time order too: those before `from` are passed over.
    auto next = std::partition_point(snapshot.unsaved.begin(), snapshot.unsaved.end(),
                                     [from](const SampleValues& v) { return v.dateStamp < from; });
    auto inRange = [&] { return next != snapshot.unsaved.end() && next->dateStamp <= to; };
    bool going = true;
    const bool read = forEach(
        snapshot.session, snapshot.afterId, snapshot.beforeId, from, to,
        [&](const SampleValues& v) {
            while (going && inRange() && earlier(*next, v)) going = visit(*next++);
            if (going) going = visit(v);
            return going;
        },
        error);
    if (!read) return false;
    while (going && inRange()) going = visit(*next++);
    return true;
}

} // namespace store
