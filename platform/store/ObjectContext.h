// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The object context over one SQLite store: an identity map of the small entities, a compact
// list of unsaved samples, and saves that write every change in one transaction on the store's
// writer thread, so that the window's thread never waits for the disk. Until a save is done its
// changes stay here and every reader sees them.
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/store/ChangeSet.h"
#include "platform/store/Database.h"
#include "platform/store/Records.h"
#include "platform/store/SessionReader.h"
#include "platform/store/StoreLock.h"
#include "platform/store/StoreWriter.h"

namespace store {

class ObjectContext {
public:
    ObjectContext();
    ~ObjectContext();
    ObjectContext(const ObjectContext&) = delete;
    ObjectContext& operator=(const ObjectContext&) = delete;

    // Locks, opens or creates, checks and loads the small entities (never the samples). A store
    // that cannot be used (not ours, unknown version, missing tables, read-only) is refused before
    // anything is written to it.
    bool open(const std::string& path, StoreError& error);
    const std::string& path() const { return db_.path(); }
    // What open() repaired after an end that was not clean (see repairSampleCounts), a line each.
    const std::vector<std::string>& repairs() const { return repairs_; }

    // ---- the small entities ----
    std::vector<ObjectId> fetchBaseModels() const; // in the store's order
    // The settings' rate as the file holds it, as text: for a log line about a rate that had to
    // be repaired ("abc", "7.5").
    std::string framerateAsStored(ObjectId options);

    ObjectId insertBaseModel();
    ObjectId insertOptions();
    ObjectId insertSession(Micros dateStamp);

    const BaseModelRecord* baseModel(ObjectId id) const;
    const OptionsRecord* options(ObjectId id) const;
    const SessionRecord* session(ObjectId id) const;

    // Attribute changes go through here so that the row is marked for the next save.
    OptionsRecord* editOptions(ObjectId id);
    SessionRecord* editSession(ObjectId id);

    // Relationships are kept on their to-one side; the to-many side is read from it, so it is
    // always current.
    void setOptionsBaseModel(ObjectId options, ObjectId baseModel);
    void setOptionsActiveSession(ObjectId options, ObjectId session);
    void setSessionBaseModel(ObjectId session, ObjectId baseModel);
    ObjectId optionsOfBaseModel(ObjectId baseModel) const;
    std::vector<ObjectId> sessionsOfBaseModel(ObjectId baseModel) const;
    ObjectId optionsWithActiveSession(ObjectId session) const;

    // Removes the session with its samples, and empties the active session that named it. The
    // removal goes to the trash, so it can be undone (see undoableRemoval).
    void deleteSession(ObjectId id);

    // ---- samples ----
    ObjectId insertSample(Micros dateStamp, float x, float y, float z, ObjectId session);
    std::optional<SampleValues> sample(ObjectId id);
    void setSampleValues(ObjectId id, Micros dateStamp, float x, float y, float z);
    void setSampleSession(ObjectId id, ObjectId session);
    void deleteSample(ObjectId id);
    // Removes every sample the session has now, saved or not; the session stays. The samples go
    // to the trash, so the clear can be undone (see undoableRemoval).
    void clearSamples(ObjectId session);

    std::int64_t sampleCount(ObjectId session) const; // O(1)
    // Samples recorded but not yet saved, in every session.
    std::int64_t unsavedSampleCount() const;
    // The newest k samples of the session, oldest first, without reading the others.
    std::vector<SampleValues> newestSamples(ObjectId session, std::size_t k);
    // Every sample of the session in time order (equal times in insertion order), streamed from
    // the store; stops early when `visit` returns false. False when the store could not be read.
    bool forEachSample(ObjectId session, const std::function<bool(const SampleValues&)>& visit,
                       StoreError* error = nullptr);
    // The session as a reader on another thread must see it now (see SessionReader).
    SessionSnapshot snapshot(ObjectId session) const;

    // ---- settings beyond the sample rate, by name ----
    const std::map<std::string, std::string>& settings() const { return settings_; }
    void setSetting(const std::string& name, const std::string& value);

    // ---- undo of the latest clear or delete ----
    // The latest removal while it can still be undone; it survives a restart until forgotten.
    const Removal* undoableRemoval() const { return removal_ ? &*removal_ : nullptr; }
    // Puts back every sample (same ids, times and values) and, for a delete, the session, active
    // again if it was; counts at once, rows that reached the trash with the next save. False when
    // there is nothing to undo or the session cleared is gone.
    bool undoRemoval();
    // Lets the trash go: the removal becomes final at the next save.
    void forgetRemoval();

    // ---- unit of work ----
    // Something is not yet in the file: changed since the last save began, or being saved.
    bool hasChanges() const { return changed_ || saving_; }
    bool isSaving() const { return saving_; }

    // Starts writing every change in one transaction on the writer thread, unless a save is
    // already under way (the changes made since wait for the next one). `done` runs on the
    // writer thread when it is over; the window's thread then calls finishSave(). False when
    // nothing was started.
    bool beginSave(std::function<void()> done);
    // Takes in a finished save: what it wrote counts as saved. On failure nothing is lost: the
    // changes stay here and a later save can succeed. When the file at the store's path was no
    // longer the one open (removed, or replaced by another file), the whole open store was
    // written back there first, and the file observer hears of it. Waits if the save is still
    // running. True when there was nothing to take in.
    bool finishSave(StoreError& error);
    // Saves everything now and waits for it: at exit, and where a caller must know it is done.
    bool save(StoreError& error);
    // Called when the context goes from no changes to some.
    void setChangeObserver(std::function<void()> observer) { observer_ = std::move(observer); }
    // Called when reading saved samples failed; the reader then saw fewer samples.
    void setReadFailureObserver(std::function<void(const StoreError&)> observer)
    {
        readFailureObserver_ = std::move(observer);
    }
    // Called with one sentence when the store file had gone and was written back.
    void setFileObserver(std::function<void(const std::string&)> observer) { fileObserver_ = std::move(observer); }

    // The writer's connection, for checks and tests; touch it only while no save runs.
    Database& database() { return writer_->database(); }

private:
    struct Statements;

    void changed();
    // Only one settings object may hold `value` in `field`: any other one lets go of it.
    void releaseFromOtherOptions(ObjectId options, ObjectId OptionsRecord::*field, ObjectId value);
    bool isPending(ObjectId id) const { return id >= pendingBase_ && id < pendingBase_ + std::int64_t(pending_.size()); }
    SampleRecord& pendingRecord(ObjectId id) { return pending_[std::size_t(id - pendingBase_)]; }
    ObjectId lastSampleId() const { return pendingBase_ + ObjectId(pending_.size()) - 1; }
    // Whether a sample of `session` with this id is still there for readers.
    bool visible(ObjectId id, ObjectId session) const;
    void adjustCount(ObjectId session, std::int64_t stored, std::int64_t pending);
    std::optional<SampleValues> storedSample(ObjectId id);
    std::vector<SampleValues> unsavedSamplesOf(ObjectId session) const;
    void beginRemoval(Removal removal);
    bool load(StoreError& error);
    ChangeSet takeChanges();
    void saved();
    void notSaved();
    void reportReadFailure();
    bool openReader(const std::string& path, StoreError& error);

    StoreLock lock_;
    Database db_; // for reading, on the window's thread
    std::unique_ptr<Statements> sql_;
    std::unique_ptr<StoreWriter> writer_;

    std::map<ObjectId, BaseModelRecord> baseModels_;
    std::map<ObjectId, OptionsRecord> options_;
    std::map<ObjectId, SessionRecord> sessions_;
    ObjectId nextBaseModelId_ = 1, nextOptionsId_ = 1, nextSessionId_ = 1, nextActionId_ = 1;

    std::deque<SampleRecord> pending_;
    ObjectId pendingBase_ = 1;       // id of pending_[0]; ids follow in order
    bool pendingInTimeOrder_ = true; // every pending sample is no older than the one before
    // Saved samples changed since the last save: deleted ones, and ones rewritten whole.
    std::set<ObjectId> deletedStored_;
    std::map<ObjectId, SampleRecord> rewrittenStored_;

    std::optional<Removal> removal_;
    std::vector<TrashOp> trashOps_;
    std::map<std::string, std::string> settings_;
    std::set<std::string> dirtySettings_;
    std::vector<std::string> repairs_;

    // The save under way: what it took, so that success can count it saved and failure can put
    // the marks back.
    struct InFlight {
        std::size_t samples = 0;                        // pending_[0, samples)
        std::vector<ObjectId> baseModels, sessions, options;
        std::set<ObjectId> deletedSamples;
        std::map<ObjectId, SampleRecord> rewrittenSamples;
        std::size_t trashOps = 0;                       // trashOps_[0, trashOps)
        std::set<std::string> settings;
    } inFlight_;
    bool saving_ = false;

    bool changed_ = false;
    std::function<void()> observer_;
    std::function<void(const StoreError&)> readFailureObserver_;
    std::function<void(const std::string&)> fileObserver_;
};

} // namespace store
