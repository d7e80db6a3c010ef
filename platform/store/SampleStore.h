// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The samples of the store in memory: unsaved ones as compact records in recording order, saved
// ones read from the store only when asked for, a few at a time. Samples are only ever added;
// they leave with a clear or a session's delete (see Trash). A session's count is kept with the
// session, so it is read in O(1).
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "platform/store/ChangeSet.h"
#include "platform/store/Database.h"
#include "platform/store/EntityStore.h"
#include "platform/store/Records.h"
#include "platform/store/SessionReader.h"

namespace store {

class SampleStore {
public:
    // `changed` is told of every change; `readFailed` of a failed read, which then saw fewer rows.
    SampleStore(EntityStore& entities, std::function<void()> changed, std::function<void()> readFailed);
    ~SampleStore();

    // The connection saved rows are read through, on the owner's thread (again after the store
    // file was written back elsewhere); and the first id a new sample may take.
    void attach(Database& db);
    void detach();
    void load(Database& db);

    ObjectId insertSample(Micros dateStamp, float x, float y, float z, ObjectId session);
    std::int64_t sampleCount(ObjectId session) const; // O(1)
    // Samples recorded but not yet saved, in every session.
    std::int64_t unsavedSampleCount() const { return std::int64_t(pending_.size()); }
    // The newest k samples of the session, oldest first, without reading the others.
    std::vector<SampleValues> newestSamples(ObjectId session, std::size_t k);
    // Every sample of the session in time order (equal times in insertion order); stops early
    // when `visit` returns false. False when the store could not be read.
    bool forEachSample(ObjectId session, const std::function<bool(const SampleValues&)>& visit, StoreError* error);
    // The session as a reader on another thread must see it now.
    SessionSnapshot snapshot(ObjectId session) const;
    // The id of the newest sample: every sample a session holds now has an id up to it.
    ObjectId lastSampleId() const { return pendingBase_ + ObjectId(pending_.size()) - 1; }

    // ---- one save ----
    void takeChanges(ChangeSet& c);
    // What the save wrote counts as saved (a failed one leaves everything as it was).
    void saved();

private:
    struct Statements;

    // Whether a sample of `session` with this id is still there for readers.
    bool visible(ObjectId id, ObjectId session) const;
    std::vector<SampleValues> unsavedSamplesOf(ObjectId session) const;

    EntityStore& entities_;
    std::function<void()> changed_, readFailed_;
    Database* db_ = nullptr;
    std::unique_ptr<Statements> sql_;
    std::deque<SampleRecord> pending_;
    ObjectId pendingBase_ = 1;       // id of pending_[0]; ids follow in order
    bool pendingInTimeOrder_ = true; // every pending sample is no older than the one before
    std::size_t inFlight_ = 0;       // pending_[0, inFlight_) are being saved
};

} // namespace store
