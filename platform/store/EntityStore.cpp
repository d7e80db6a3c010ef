// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/EntityStore.h"

#include <algorithm>
#include <climits>

namespace store {

void EntityStore::load(Database& db)
{
    auto maxOf = [&db](const char* sql) {
        Statement s(db, sql);
        return s.step() ? s.int64(0) : 0;
    };
    Statement bases(db, "SELECT id FROM base_model ORDER BY id");
    while (bases.step()) {
        ObjectId id = bases.int64(0);
        baseModels_[id] = BaseModelRecord{id, RowState::clean};
    }
    // A rate that is not stored as a whole number reads as none, so that it is repaired.
    Statement opts(db, "SELECT id, base_model_id, CASE typeof(framerate) WHEN 'integer' THEN framerate ELSE 0 END,"
                       " cutoff_limit, tare_x, tare_y, tare_z, active_session_id FROM options");
    while (opts.step()) {
        OptionsRecord r;
        r.id = opts.int64(0);
        r.baseModel = opts.int64(1);
        // Saturated: a rate written by hand may not fit the 32 bits the program keeps.
        r.framerate = std::int32_t(std::clamp<std::int64_t>(opts.int64(2), INT32_MIN, INT32_MAX));
        r.cutoffLimit = static_cast<float>(opts.real(3));
        r.tareX = static_cast<float>(opts.real(4));
        r.tareY = static_cast<float>(opts.real(5));
        r.tareZ = static_cast<float>(opts.real(6));
        r.activeSession = opts.int64(7);
        options_[r.id] = r;
    }
    Statement named(db, "SELECT name, value FROM setting");
    while (named.step()) settings_[named.text(0)] = named.text(1);
    Statement who(db, "SELECT session_id, name, machine, point, direction, notes, source, coalesce(rate, 0)"
                      " FROM session_identity");
    while (who.step())
        identities_[who.int64(0)] =
            SessionIdentity{who.text(1), who.text(2), who.text(3), who.text(4), who.text(5), who.text(6), who.real(7)};
    Statement sess(db, "SELECT id, base_model_id, date_stamp, sample_count FROM session");
    while (sess.step()) {
        SessionRecord r;
        r.id = sess.int64(0);
        r.baseModel = sess.int64(1);
        r.dateStamp = sess.int64(2);
        r.storedCount = sess.int64(3);
        sessions_[r.id] = r;
    }
    // Ids in the trash stay taken, so that an undo puts rows back under their own ids.
    nextBaseModelId_ = maxOf("SELECT coalesce(max(id), 0) FROM base_model") + 1;
    nextOptionsId_ = maxOf("SELECT coalesce(max(id), 0) FROM options") + 1;
    nextSessionId_ = std::max(maxOf("SELECT coalesce(max(id), 0) FROM session"),
                              maxOf("SELECT coalesce(max(session_id), 0) FROM trash_action"))
                     + 1;
}

std::vector<ObjectId> EntityStore::fetchBaseModels() const
{
    std::vector<ObjectId> ids;
    for (const auto& [id, r] : baseModels_)
        if (r.state != RowState::deleted) ids.push_back(id);
    return ids;
}

ObjectId EntityStore::insertBaseModel()
{
    ObjectId id = nextBaseModelId_++;
    baseModels_[id] = BaseModelRecord{id, RowState::inserted};
    changed_();
    return id;
}

ObjectId EntityStore::insertOptions()
{
    OptionsRecord r;
    r.id = nextOptionsId_++;
    r.state = RowState::inserted;
    options_[r.id] = r;
    changed_();
    return r.id;
}

ObjectId EntityStore::insertSession(Micros dateStamp)
{
    SessionRecord r;
    r.id = nextSessionId_++;
    r.dateStamp = dateStamp;
    r.state = RowState::inserted;
    sessions_[r.id] = r;
    changed_();
    return r.id;
}

OptionsRecord* EntityStore::editOptions(ObjectId id)
{
    OptionsRecord* r = live(options_, id);
    if (r) {
        markUpdated(*r);
        changed_();
    }
    return r;
}

SessionRecord* EntityStore::editSession(ObjectId id)
{
    SessionRecord* r = live(sessions_, id);
    if (r) {
        markUpdated(*r);
        changed_();
    }
    return r;
}

void EntityStore::releaseFromOtherOptions(ObjectId options, ObjectId OptionsRecord::*field, ObjectId value)
{
    if (value == 0) return;
    for (auto& [id, other] : options_)
        if (id != options && other.state != RowState::deleted && other.*field == value) {
            other.*field = 0;
            markUpdated(other);
        }
}

void EntityStore::setOptionsBaseModel(ObjectId options, ObjectId baseModel)
{
    if (OptionsRecord* r = editOptions(options)) {
        releaseFromOtherOptions(options, &OptionsRecord::baseModel, baseModel); // a root has one
        r->baseModel = baseModel;
    }
}

void EntityStore::setOptionsActiveSession(ObjectId options, ObjectId session)
{
    if (OptionsRecord* r = editOptions(options)) {
        releaseFromOtherOptions(options, &OptionsRecord::activeSession, session);
        r->activeSession = live(sessions_, session) ? session : 0;
    }
}

void EntityStore::setSessionBaseModel(ObjectId session, ObjectId baseModel)
{
    if (SessionRecord* r = editSession(session)) r->baseModel = baseModel;
}

ObjectId EntityStore::optionsOfBaseModel(ObjectId baseModel) const
{
    for (const auto& [id, r] : options_)
        if (r.state != RowState::deleted && baseModel != 0 && r.baseModel == baseModel) return id;
    return 0;
}

std::vector<ObjectId> EntityStore::sessionsOfBaseModel(ObjectId baseModel) const
{
    std::vector<ObjectId> ids;
    for (const auto& [id, r] : sessions_)
        if (r.state != RowState::deleted && baseModel != 0 && r.baseModel == baseModel) ids.push_back(id);
    return ids;
}

ObjectId EntityStore::optionsWithActiveSession(ObjectId session) const
{
    for (const auto& [id, r] : options_)
        if (r.state != RowState::deleted && session != 0 && r.activeSession == session) return id;
    return 0;
}

void EntityStore::setSetting(const std::string& name, const std::string& value)
{
    auto it = settings_.find(name);
    if (it != settings_.end() && it->second == value) return;
    settings_[name] = value;
    dirtySettings_.insert(name);
    changed_();
}

const SessionIdentity* EntityStore::identity(ObjectId session) const
{
    auto it = identities_.find(session);
    return it == identities_.end() ? nullptr : &it->second;
}

void EntityStore::setIdentity(ObjectId session, const SessionIdentity& identity)
{
    if (!live(sessions_, session)) return;
    const SessionIdentity* now = this->identity(session);
    if (now ? *now == identity : identity.empty()) return;
    identities_[session] = identity;
    dirtyIdentities_.insert(session);
    changed_();
}

void EntityStore::dropIdentity(ObjectId session)
{
    identities_.erase(session);
    dirtyIdentities_.erase(session);
}

void EntityStore::takeChanges(ChangeSet& c)
{
    InFlight f;
    for (auto& [id, r] : baseModels_) {
        if (r.state != RowState::inserted) continue;
        c.baseModels.push_back(r);
        r.state = RowState::clean;
        f.baseModels.push_back(id);
    }
    for (auto& [id, r] : sessions_) {
        // A deleted session is written by its move to the trash.
        if (r.state == RowState::deleted) continue;
        if (r.state == RowState::clean && !r.countDirty && r.pendingCount == 0) continue;
        SessionRecord written = r;
        written.storedCount = r.storedCount + r.pendingCount;
        c.sessions.push_back(written);
        r.state = RowState::clean;
        r.countDirty = false;
        f.sessions.push_back(id);
    }
    for (auto& [id, r] : options_) {
        if (r.state == RowState::clean) continue;
        c.options.push_back(r);
        r.state = RowState::clean;
        f.options.push_back(id);
    }
    for (ObjectId session : dirtyIdentities_)
        if (const SessionIdentity* who = identity(session)) c.identities.emplace_back(session, *who);
    f.identities = std::move(dirtyIdentities_);
    dirtyIdentities_.clear();
    for (const std::string& name : dirtySettings_) c.settings.emplace_back(name, settings_[name]);
    f.settings = std::move(dirtySettings_);
    dirtySettings_.clear();
    inFlight_ = std::move(f);
}

void EntityStore::saved()
{
    inFlight_ = {};
}

void EntityStore::notSaved()
{
    for (ObjectId id : inFlight_.baseModels)
        if (auto it = baseModels_.find(id); it != baseModels_.end()) it->second.state = RowState::inserted;
    for (ObjectId id : inFlight_.sessions)
        if (SessionRecord* r = live(sessions_, id)) {
            markUpdated(*r);
            r->countDirty = true;
        }
    for (ObjectId id : inFlight_.options)
        if (OptionsRecord* r = live(options_, id)) markUpdated(*r);
    dirtySettings_.insert(inFlight_.settings.begin(), inFlight_.settings.end());
    for (ObjectId session : inFlight_.identities)
        if (identities_.count(session)) dirtyIdentities_.insert(session);
    inFlight_ = {};
}

} // namespace store
