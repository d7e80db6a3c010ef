#include "platform/store/SessionReader.h"

#include <sqlite3.h>

#include <limits>

#include "platform/store/Schema.h"

namespace store {

bool SessionReader::open(const std::string& path, StoreError& error)
{
    if (!db_.openReadOnly(path, error)) return false;
    Statement check(db_, "PRAGMA application_id");
    const std::int64_t id = check.step() ? check.int64(0) : 0;
    Statement version(db_, "PRAGMA user_version");
    const std::int64_t v = version.step() ? version.int64(0) : 0;
    if (db_.failed() || id != applicationId || v < 1 || v > schemaVersion) {
        error = db_.failed() ? db_.failure() : StoreError{};
        if (!db_.failed()) error.code = id != applicationId ? StoreError::notAQuivraStore : StoreError::unknownSchemaVersion;
        error.message = "The store could not be read";
        error.details["path"] = path;
        db_.close();
        return false;
    }
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

bool SessionReader::forEach(ObjectId session, ObjectId afterId, ObjectId beforeId, const std::set<ObjectId>& skip,
                            const std::function<bool(const SampleValues&)>& visit, StoreError& error)
{
    db_.clearError();
    Statement q(db_, "SELECT id, date_stamp, x_value, y_value, z_value FROM gdata"
                     " WHERE session_id = ?1 AND id > ?2 AND id < ?3 ORDER BY date_stamp, id");
    q.bind(1, session).bind(2, afterId).bind(3, beforeId > 0 ? beforeId : std::numeric_limits<ObjectId>::max());
    while (q.step()) {
        SampleValues v{q.int64(0), q.int64(1), float(q.real(2)), float(q.real(3)), float(q.real(4)), session};
        if (!skip.empty() && skip.count(v.id)) continue;
        if (!visit(v)) break;
    }
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
    auto earlier = [](const SampleValues& a, const SampleValues& b) {
        return a.dateStamp != b.dateStamp ? a.dateStamp < b.dateStamp : a.id < b.id;
    };
    auto next = snapshot.unsaved.begin();
    bool going = true;
    const bool read = forEach(snapshot.session, snapshot.afterId, snapshot.beforeId, snapshot.skip,
                              [&](const SampleValues& v) {
                                  while (going && next != snapshot.unsaved.end() && earlier(*next, v)) going = visit(*next++);
                                  if (going) going = visit(v);
                                  return going;
                              },
                              error);
    if (!read) return false;
    while (going && next != snapshot.unsaved.end()) going = visit(*next++);
    return true;
}

} // namespace store
