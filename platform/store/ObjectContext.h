// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The object context over one SQLite store: the small entities (EntityStore), the samples
// (SampleStore) and the trash of the latest clear or delete (Trash), and saves that write every
// change in one transaction on the store's writer thread, so that the owner's thread never waits
// for the disk. Until a save is done its changes stay here and every reader sees them.
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
#include "platform/store/EntityStore.h"
#include "platform/store/MarkerStore.h"
#include "platform/store/Records.h"
#include "platform/store/SampleStore.h"
#include "platform/store/Schema.h"
#include "platform/store/SessionReader.h"
#include "platform/store/StoreLock.h"
#include "platform/store/StoreWriter.h"
#include "platform/store/Trash.h"

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
    // Told how far a long step of bringing an older store up to date has got (see prepareSchema).
    void setMigrationProgress(MigrationProgress progress) { migrationProgress_ = std::move(progress); }
    const std::string& path() const { return db_.path(); }
    // What open() repaired after an end that was not clean (see repairSampleCounts), a line each.
    const std::vector<std::string>& repairs() const { return repairs_; }

    // ---- the small entities ----
    std::vector<ObjectId> fetchBaseModels() const { return entities_.fetchBaseModels(); }
    // The settings' rate as the file holds it, as text: for a log line about a rate that had to
    // be repaired ("abc", "7.5").
    std::string framerateAsStored(ObjectId options);

    ObjectId insertBaseModel() { return entities_.insertBaseModel(); }
    ObjectId insertOptions() { return entities_.insertOptions(); }
    ObjectId insertSession(Micros dateStamp) { return entities_.insertSession(dateStamp); }
    const BaseModelRecord* baseModel(ObjectId id) const { return entities_.baseModel(id); }
    const OptionsRecord* options(ObjectId id) const { return entities_.options(id); }
    const SessionRecord* session(ObjectId id) const { return entities_.session(id); }
    // Attribute changes go through here so that the row is marked for the next save.
    OptionsRecord* editOptions(ObjectId id) { return entities_.editOptions(id); }
    SessionRecord* editSession(ObjectId id) { return entities_.editSession(id); }
    // Relationships are kept on their to-one side; the to-many side is read from it.
    void setOptionsBaseModel(ObjectId options, ObjectId root) { entities_.setOptionsBaseModel(options, root); }
    void setOptionsActiveSession(ObjectId options, ObjectId session)
    {
        entities_.setOptionsActiveSession(options, session);
    }
    void setSessionBaseModel(ObjectId session, ObjectId root) { entities_.setSessionBaseModel(session, root); }
    ObjectId optionsOfBaseModel(ObjectId root) const { return entities_.optionsOfBaseModel(root); }
    std::vector<ObjectId> sessionsOfBaseModel(ObjectId root) const { return entities_.sessionsOfBaseModel(root); }
    ObjectId optionsWithActiveSession(ObjectId session) const { return entities_.optionsWithActiveSession(session); }
    // Settings beyond the sample rate, by name.
    const std::map<std::string, std::string>& settings() const { return entities_.settings(); }
    void setSetting(const std::string& name, const std::string& value) { entities_.setSetting(name, value); }

    // Who and what a session is (nullptr: never described); kept while a deleted session can be undone.
    const SessionIdentity* identity(ObjectId session) const { return entities_.identity(session); }
    void setIdentity(ObjectId session, const SessionIdentity& identity) { entities_.setIdentity(session, identity); }

    // A session's summary (see Summaries.h), written with the next save.
    void keepSummary(const SessionSummary& summary);

    // ---- markers ----
    ObjectId insertMarker(ObjectId session, Micros at, MarkerRecord::Kind kind, std::string text)
    {
        return markers_.insert(session, at, kind, std::move(text));
    }
    // The session's markers in time order, without those in the trash.
    std::vector<MarkerRecord> markers(ObjectId session) const { return markers_.markersOf(session); }
    const MarkerRecord* marker(ObjectId id) const { return markers_.marker(id); }
    bool editMarker(ObjectId id, MarkerRecord::Kind kind, const std::string& text)
    {
        return markers_.edit(id, kind, text);
    }
    bool removeMarker(ObjectId id) { return markers_.remove(id); }

    // ---- samples ----
    ObjectId insertSample(Micros dateStamp, float x, float y, float z, ObjectId session)
    {
        return samples_.insertSample(dateStamp, x, y, z, session);
    }
    std::int64_t sampleCount(ObjectId session) const { return samples_.sampleCount(session); } // O(1)
    // Samples recorded but not yet saved, in every session.
    std::int64_t unsavedSampleCount() const { return samples_.unsavedSampleCount(); }
    // The newest k samples of the session, oldest first, without reading the others.
    std::vector<SampleValues> newestSamples(ObjectId session, std::size_t k)
    {
        return samples_.newestSamples(session, k);
    }
    // Every sample of the session in time order (equal times in insertion order), streamed from
    // the store; stops early when `visit` returns false. False when the store could not be read.
    bool forEachSample(ObjectId session, const std::function<bool(const SampleValues&)>& visit,
                       StoreError* error = nullptr)
    {
        return samples_.forEachSample(session, visit, error);
    }
    // The session as a reader on another thread must see it now (see SessionReader).
    SessionSnapshot snapshot(ObjectId session) const { return samples_.snapshot(session); }

    // ---- the trash: the latest clear or delete can be undone ----
    // Removes every sample and marker the session has now, saved or not; the session stays.
    void clearSamples(ObjectId session) { trash_.clearSamples(session); }
    // Removes the session with its samples, and empties the active session that named it.
    void deleteSession(ObjectId id) { trash_.deleteSession(id); }
    const Removal* undoableRemoval() const { return trash_.undoableRemoval(); }
    bool undoRemoval() { return trash_.undoRemoval(); }
    void forgetRemoval() { trash_.forgetRemoval(); }

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
    void changed();
    bool load(StoreError& error);
    ChangeSet takeChanges();
    void reportReadFailure();
    bool openReader(const std::string& path, StoreError& error);

    StoreLock lock_;
    Database db_; // for reading, on the owner's thread
    std::unique_ptr<StoreWriter> writer_;
    EntityStore entities_{[this] { changed(); }};
    SampleStore samples_{entities_, [this] { changed(); }, [this] { reportReadFailure(); }};
    MarkerStore markers_{[this] { changed(); }};
    Trash trash_{entities_, samples_, markers_, [this] { changed(); }};
    std::vector<std::string> repairs_;
    // Summaries waiting for a save, and those the save under way writes.
    std::map<ObjectId, SessionSummary> summaries_, summariesInFlight_;
    MigrationProgress migrationProgress_;
    bool saving_ = false;

    bool changed_ = false;
    std::function<void()> observer_;
    std::function<void(const StoreError&)> readFailureObserver_;
    std::function<void(const std::string&)> fileObserver_;
};

} // namespace store
