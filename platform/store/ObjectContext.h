#pragma once
// The object context over one SQLite store: an identity map of the small entities, a compact
// list of unsaved samples, and a save that writes every change in one transaction.
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/store/Database.h"
#include "platform/store/Records.h"
#include "platform/store/StoreLock.h"

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

    // ---- the small entities ----
    std::vector<ObjectId> fetchBaseModels() const; // in the store's order

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

    // ---- undo of the latest clear or delete ----
    // The latest removal while it can still be undone; it survives a restart until forgotten.
    const Removal* undoableRemoval() const { return removal_ ? &*removal_ : nullptr; }
    // Puts back every sample (same ids, times and values) and, for a delete, the session, active
    // again if it was. False when there is nothing to undo, the session cleared is gone, or the
    // store could not give the rows back (`error` then says why; the removal can be tried again).
    bool undoRemoval(StoreError* error = nullptr);
    // Lets the trash go: the removal becomes final at the next save.
    void forgetRemoval();

    // ---- unit of work ----
    bool hasChanges() const { return changed_; }
    // Writes every change in one transaction. On failure nothing is lost: the changes stay
    // here and a later save can succeed. When the file at the store's path is no longer the one
    // open (removed, or replaced by another file), the whole open store is written back there
    // first, and the file observer hears of it.
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

    // The connection itself, for checks and tests.
    Database& database() { return db_; }

private:
    struct Statements;
    // A move to the trash, a restore from it, or a purge, in the order they were asked for.
    struct TrashOp {
        enum class Kind { trash, restore, purge } kind;
        Removal removal;
        bool keep = true; // false: the removal was forgotten before it was written
    };

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
    bool writeChanges();
    void writeTrashOp(const TrashOp& op);
    void afterSave();
    void reportReadFailure();

    // The file at the path is the one open, or made so again.
    void rememberFile();
    bool ensureFileInPlace(StoreError& error);
    bool writeBackTo(const std::string& path, bool replaced, StoreError& error);
    bool reopen(StoreError& error);

    StoreLock lock_;
    Database db_;
    std::unique_ptr<Statements> sql_;
    unsigned long long fileDevice_ = 0, fileInode_ = 0;

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

    bool changed_ = false;
    std::function<void()> observer_;
    std::function<void(const StoreError&)> readFailureObserver_;
    std::function<void(const std::string&)> fileObserver_;
};

} // namespace store
