// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reads one session's saved samples in time order through a read-only connection of its own, so
// that a long walk (an export, an analysis) can run on any thread while the program records: in
// WAL mode it reads the store as it was when the walk began and never holds up a save.
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/store/Database.h"
#include "platform/store/Records.h"

namespace store {

// A session as a reader on another thread must see it, taken on the owner's thread at one moment:
// its saved rows between the bounds, and the rows not yet saved, in time order.
struct SessionSnapshot {
    ObjectId session = 0;
    ObjectId afterId = 0;  // rows up to this id were cleared
    ObjectId beforeId = 0; // rows from this id on were not yet saved
    std::vector<SampleValues> unsaved;
    std::int64_t count = 0; // rows in all
};

class SessionReader {
public:
    // Opens the store read-only; refuses a file that is not a Quivra store of a known version.
    bool open(const std::string& path, StoreError& error);

    // Rows of the session with afterId < id < beforeId (beforeId 0: no bound), in time order
    // (equal times by id); stops early when `visit` returns false. False, with `error` set, when
    // the store could not be read.
    bool forEach(ObjectId session, ObjectId afterId, ObjectId beforeId,
                 const std::function<bool(const SampleValues&)>& visit, StoreError& error);

    // The stored settings beyond the sample rate, by name.
    std::map<std::string, std::string> settings();

    // ---- what the command line lists and looks up ----
    struct SessionRow {
        ObjectId id = 0;
        ObjectId baseModel = 0;
        Micros start = 0;         // when the session was started
        std::int64_t samples = 0; // its saved rows, as the store counts them
        SessionIdentity identity; // empty in a store older than identities
    };
    // Every session, oldest first (equal starts by id).
    bool sessions(std::vector<SessionRow>& out, StoreError& error);
    // The active session of the newest root; 0 when it names none.
    bool activeSession(ObjectId& out, StoreError& error);
    // The times of the session's first and last saved rows; false in `any` when it has none.
    bool timeSpan(ObjectId session, Micros& first, Micros& last, bool& any, StoreError& error);
    // The time stamps of its first `limit` saved rows in time order, for the rate it was taken at.
    bool firstTimes(ObjectId session, std::size_t limit, std::vector<Micros>& out, StoreError& error);
    // Rows of the session with from <= time <= to, in time order (equal times by id); stops early
    // when `visit` returns false.
    bool forEachBetween(ObjectId session, Micros from, Micros to, const std::function<bool(const SampleValues&)>& visit,
                        StoreError& error);

    // The session's saved markers in time order (equal times by id); none in an older store.
    bool markers(ObjectId session, std::vector<MarkerRecord>& out, StoreError& error);

    // Every row of a snapshot, saved and unsaved merged, in time order (equal times by id).
    bool forEach(const SessionSnapshot& snapshot, const std::function<bool(const SampleValues&)>& visit,
                 StoreError& error);
    // Those with from <= time <= to.
    bool forEachBetween(const SessionSnapshot& snapshot, Micros from, Micros to,
                        const std::function<bool(const SampleValues&)>& visit, StoreError& error);

    Database& database() { return db_; }
    // The store's schema version (see Schema.h).
    std::int64_t version() const { return version_; }

private:
    bool forEach(ObjectId session, ObjectId afterId, ObjectId beforeId, Micros from, Micros to,
                 const std::function<bool(const SampleValues&)>& visit, StoreError& error);
    // Takes a failure the connection recorded into `error`; false when there was none.
    bool readFailed(StoreError& error);

    Database db_;
    std::int64_t version_ = 0; // the store's schema version
};

} // namespace store
