// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The small entities of the store in memory: roots, settings objects, sessions and the named
// settings, each in an identity map with its row's state, so that the next save writes the
// changed rows whole. Relationships are kept on their to-one side; the to-many side is read from
// it, so it is always current.
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/store/ChangeSet.h"
#include "platform/store/Database.h"
#include "platform/store/Records.h"

namespace store {

class EntityStore {
public:
    // `changed` is told of every change.
    explicit EntityStore(std::function<void()> changed) : changed_(std::move(changed)) {}

    // Reads every small entity from the store; the database keeps a failure.
    void load(Database& db);

    std::vector<ObjectId> fetchBaseModels() const; // in the store's order
    ObjectId insertBaseModel();
    ObjectId insertOptions();
    ObjectId insertSession(Micros dateStamp);

    const BaseModelRecord* baseModel(ObjectId id) const { return live(baseModels_, id); }
    const OptionsRecord* options(ObjectId id) const { return live(options_, id); }
    const SessionRecord* session(ObjectId id) const { return live(sessions_, id); }
    // Attribute changes go through here so that the row is marked for the next save.
    OptionsRecord* editOptions(ObjectId id);
    SessionRecord* editSession(ObjectId id);

    void setOptionsBaseModel(ObjectId options, ObjectId baseModel);
    void setOptionsActiveSession(ObjectId options, ObjectId session);
    void setSessionBaseModel(ObjectId session, ObjectId baseModel);
    ObjectId optionsOfBaseModel(ObjectId baseModel) const;
    std::vector<ObjectId> sessionsOfBaseModel(ObjectId baseModel) const;
    ObjectId optionsWithActiveSession(ObjectId session) const;

    // Who and what a session is; nullptr for a session never described. Kept while a deleted
    // session can still be undone.
    const SessionIdentity* identity(ObjectId session) const;
    // Only a live session takes one; the same identity again changes nothing.
    void setIdentity(ObjectId session, const SessionIdentity& identity);
    // The session's delete is final: its identity goes from memory (the file's row goes with the
    // trash's purge).
    void dropIdentity(ObjectId session);

    const std::map<std::string, std::string>& settings() const { return settings_; }
    void setSetting(const std::string& name, const std::string& value);

    // ---- one save ----
    void takeChanges(ChangeSet& c);
    // The save was written, or not (its rows are marked again for the next one).
    void saved();
    void notSaved();

private:
    friend class SampleStore;
    friend class Trash;

    // Only one settings object may hold `value` in `field`: any other one lets go of it.
    void releaseFromOtherOptions(ObjectId options, ObjectId OptionsRecord::*field, ObjectId value);

    std::function<void()> changed_;
    std::map<ObjectId, BaseModelRecord> baseModels_;
    std::map<ObjectId, OptionsRecord> options_;
    std::map<ObjectId, SessionRecord> sessions_;
    ObjectId nextBaseModelId_ = 1, nextOptionsId_ = 1, nextSessionId_ = 1;
    std::map<std::string, std::string> settings_;
    std::set<std::string> dirtySettings_;
    std::map<ObjectId, SessionIdentity> identities_;
    std::set<ObjectId> dirtyIdentities_;

    // What the save under way took.
    struct InFlight {
        std::vector<ObjectId> baseModels, sessions, options;
        std::set<std::string> settings;
        std::set<ObjectId> identities;
    } inFlight_;
};

} // namespace store
