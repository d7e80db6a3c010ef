#include "platform/store/ObjectContext.h"

#include <sqlite3.h>

#include <filesystem>

#include "platform/store/ContextStatements.h"
#include "platform/store/Schema.h"

namespace store {

ObjectContext::ObjectContext() = default;

ObjectContext::~ObjectContext()
{
    sql_.reset(); // statements go before the connection
}

bool ObjectContext::open(const std::string& path, StoreError& error)
{
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) {
        error.code = SQLITE_CANTOPEN;
        error.message = "The store could not be opened: its folder is missing";
        error.details["path"] = path;
        return false;
    }
    bool busy = false;
    std::string reason;
    if (!lock_.acquire(path, busy, reason)) {
        error.code = busy ? StoreError::lockedByAnotherProcess : SQLITE_CANTOPEN;
        error.message = busy ? "Quivra is already running on this store" : "The store could not be locked";
        error.details["path"] = path;
        error.details["reason"] = reason;
        return false;
    }
    if (!db_.open(path, error) || !prepareSchema(db_, error)) {
        db_.close();
        lock_.release();
        return false;
    }
    sql_ = std::make_unique<Statements>(db_);
    if (!load(error)) {
        sql_.reset();
        db_.close();
        lock_.release();
        return false;
    }
    return true;
}

bool ObjectContext::load(StoreError& error)
{
    auto maxId = [this](const char* table) {
        Statement s(db_, std::string("SELECT coalesce(max(id), 0) FROM ") + table);
        return s.step() ? s.int64(0) : 0;
    };
    Statement bases(db_, "SELECT id FROM base_model ORDER BY id");
    while (bases.step()) {
        ObjectId id = bases.int64(0);
        baseModels_[id] = BaseModelRecord{id, RowState::clean};
    }
    Statement opts(db_, "SELECT id, base_model_id, framerate, cutoff_limit, tare_x, tare_y, tare_z,"
                        " active_session_id FROM options");
    while (opts.step()) {
        OptionsRecord r;
        r.id = opts.int64(0);
        r.baseModel = opts.int64(1);
        r.framerate = static_cast<std::int32_t>(opts.int64(2));
        r.cutoffLimit = static_cast<float>(opts.real(3));
        r.tareX = static_cast<float>(opts.real(4));
        r.tareY = static_cast<float>(opts.real(5));
        r.tareZ = static_cast<float>(opts.real(6));
        r.activeSession = opts.int64(7);
        options_[r.id] = r;
    }
    Statement sess(db_, "SELECT id, base_model_id, date_stamp, sample_count FROM session");
    while (sess.step()) {
        SessionRecord r;
        r.id = sess.int64(0);
        r.baseModel = sess.int64(1);
        r.dateStamp = sess.int64(2);
        r.storedCount = sess.int64(3);
        sessions_[r.id] = r;
    }
    nextBaseModelId_ = maxId("base_model") + 1;
    nextOptionsId_ = maxId("options") + 1;
    nextSessionId_ = maxId("session") + 1;
    pendingBase_ = maxId("gdata") + 1;
    if (db_.failed()) {
        error = db_.failure();
        error.message = "The store could not be read";
        db_.clearError();
        return false;
    }
    return true;
}

void ObjectContext::changed()
{
    if (changed_) return;
    changed_ = true;
    if (observer_) observer_();
}

// ---- small entities ----

std::vector<ObjectId> ObjectContext::fetchBaseModels() const
{
    std::vector<ObjectId> ids;
    for (const auto& [id, r] : baseModels_)
        if (r.state != RowState::deleted) ids.push_back(id);
    return ids;
}

ObjectId ObjectContext::insertBaseModel()
{
    ObjectId id = nextBaseModelId_++;
    baseModels_[id] = BaseModelRecord{id, RowState::inserted};
    changed();
    return id;
}

ObjectId ObjectContext::insertOptions()
{
    OptionsRecord r;
    r.id = nextOptionsId_++;
    r.state = RowState::inserted;
    options_[r.id] = r;
    changed();
    return r.id;
}

ObjectId ObjectContext::insertSession(Micros dateStamp)
{
    SessionRecord r;
    r.id = nextSessionId_++;
    r.dateStamp = dateStamp;
    r.state = RowState::inserted;
    sessions_[r.id] = r;
    changed();
    return r.id;
}

const BaseModelRecord* ObjectContext::baseModel(ObjectId id) const { return live(baseModels_, id); }
const OptionsRecord* ObjectContext::options(ObjectId id) const { return live(options_, id); }
const SessionRecord* ObjectContext::session(ObjectId id) const { return live(sessions_, id); }

OptionsRecord* ObjectContext::editOptions(ObjectId id)
{
    OptionsRecord* r = live(options_, id);
    if (r) {
        markUpdated(*r);
        changed();
    }
    return r;
}

SessionRecord* ObjectContext::editSession(ObjectId id)
{
    SessionRecord* r = live(sessions_, id);
    if (r) {
        markUpdated(*r);
        changed();
    }
    return r;
}

void ObjectContext::releaseFromOtherOptions(ObjectId options, ObjectId OptionsRecord::*field, ObjectId value)
{
    if (value == 0) return;
    for (auto& [id, other] : options_)
        if (id != options && other.state != RowState::deleted && other.*field == value) {
            other.*field = 0;
            markUpdated(other);
        }
}

void ObjectContext::setOptionsBaseModel(ObjectId options, ObjectId baseModel)
{
    if (OptionsRecord* r = editOptions(options)) {
        releaseFromOtherOptions(options, &OptionsRecord::baseModel, baseModel); // a root has one
        r->baseModel = baseModel;
    }
}

void ObjectContext::setOptionsActiveSession(ObjectId options, ObjectId session)
{
    if (OptionsRecord* r = editOptions(options)) {
        releaseFromOtherOptions(options, &OptionsRecord::activeSession, session);
        r->activeSession = live(sessions_, session) ? session : 0;
    }
}

void ObjectContext::setSessionBaseModel(ObjectId session, ObjectId baseModel)
{
    if (SessionRecord* r = editSession(session)) r->baseModel = baseModel;
}

ObjectId ObjectContext::optionsOfBaseModel(ObjectId baseModel) const
{
    for (const auto& [id, r] : options_)
        if (r.state != RowState::deleted && baseModel != 0 && r.baseModel == baseModel) return id;
    return 0;
}

std::vector<ObjectId> ObjectContext::sessionsOfBaseModel(ObjectId baseModel) const
{
    std::vector<ObjectId> ids;
    for (const auto& [id, r] : sessions_)
        if (r.state != RowState::deleted && baseModel != 0 && r.baseModel == baseModel) ids.push_back(id);
    return ids;
}

ObjectId ObjectContext::optionsWithActiveSession(ObjectId session) const
{
    for (const auto& [id, r] : options_)
        if (r.state != RowState::deleted && session != 0 && r.activeSession == session) return id;
    return 0;
}

void ObjectContext::deleteBaseModel(ObjectId id)
{
    auto it = baseModels_.find(id);
    if (it == baseModels_.end() || it->second.state == RowState::deleted) return;
    if (it->second.state == RowState::inserted) baseModels_.erase(it);
    else it->second.state = RowState::deleted;
    for (auto& [sid, s] : sessions_)
        if (s.baseModel == id) { s.baseModel = 0; markUpdated(s); }
    for (auto& [oid, o] : options_)
        if (o.baseModel == id) { o.baseModel = 0; markUpdated(o); }
    changed();
}

void ObjectContext::deleteOptions(ObjectId id)
{
    auto it = options_.find(id);
    if (it == options_.end() || it->second.state == RowState::deleted) return;
    if (it->second.state == RowState::inserted) options_.erase(it);
    else it->second.state = RowState::deleted;
    changed();
}

void ObjectContext::deleteSession(ObjectId id)
{
    auto it = sessions_.find(id);
    if (it == sessions_.end() || it->second.state == RowState::deleted) return;
    clearSamples(id);
    if (ObjectId opts = optionsWithActiveSession(id)) {
        OptionsRecord* o = editOptions(opts);
        o->activeSession = 0;
    }
    it = sessions_.find(id);
    if (it->second.state == RowState::inserted) sessions_.erase(it);
    else it->second.state = RowState::deleted;
    changed();
}

// ---- saving ----

bool ObjectContext::save(StoreError& error)
{
    if (!changed_) return true;
    db_.clearError();
    if (!sql_ || !db_.isOpen()) {
        error.code = SQLITE_MISUSE;
        error.message = "The store is not open";
        return false;
    }
    bool ok = false;
    {
        Transaction transaction(db_);
        ok = !db_.failed() && writeChanges() && transaction.commit();
    }
    if (!ok) {
        error = db_.failure();
        if (error.code == 0) error.code = SQLITE_ERROR;
        error.message = "The store could not be saved";
        db_.clearError();
        return false;
    }
    afterSave();
    return true;
}

bool ObjectContext::writeChanges()
{
    Statements& s = *sql_;
    for (const auto& [id, r] : baseModels_) {
        if (r.state == RowState::inserted) s.insertBaseModel.bind(1, id).run();
        else if (r.state == RowState::deleted) s.deleteBaseModel.bind(1, id).run();
    }
    for (const auto& [id, r] : sessions_) {
        if (r.state == RowState::deleted) continue;
        if (r.state != RowState::clean || r.countDirty || r.pendingCount != 0 || r.clearStored) {
            s.writeSession.bind(1, id).bind(3, r.dateStamp).bind(4, r.storedCount + r.pendingCount);
            if (r.baseModel) s.writeSession.bind(2, r.baseModel); else s.writeSession.bindNull(2);
            s.writeSession.run();
        }
        if (r.clearStored) s.deleteSamplesOfSession.bind(1, id).run();
    }
    for (const auto& [id, r] : options_) {
        if (r.state == RowState::deleted) {
            s.deleteOptions.bind(1, id).run();
        } else if (r.state != RowState::clean) {
            s.writeOptions.bind(1, id).bind(3, std::int64_t(r.framerate)).bind(4, double(r.cutoffLimit))
                .bind(5, double(r.tareX)).bind(6, double(r.tareY)).bind(7, double(r.tareZ));
            if (r.baseModel) s.writeOptions.bind(2, r.baseModel); else s.writeOptions.bindNull(2);
            if (r.activeSession) s.writeOptions.bind(8, r.activeSession); else s.writeOptions.bindNull(8);
            s.writeOptions.run();
        }
    }
    for (ObjectId id : deletedStored_) s.deleteSample.bind(1, id).run();
    auto writeSample = [](Statement& st, ObjectId id, const SampleRecord& r) {
        st.bind(1, id).bind(3, r.dateStamp).bind(4, double(r.x)).bind(5, double(r.y)).bind(6, double(r.z));
        if (r.session) st.bind(2, std::int64_t(r.session)); else st.bindNull(2);
        st.run();
    };
    for (const auto& [id, r] : rewrittenStored_) writeSample(s.replaceSample, id, r);
    if (db_.failed()) return false;
    ObjectId id = pendingBase_;
    for (const SampleRecord& r : pending_) {
        if (r.session != SampleRecord::deletedSample) writeSample(s.insertSample, id, r);
        ++id;
        if (db_.failed()) return false;
    }
    for (const auto& [sid, r] : sessions_) {
        if (r.state != RowState::deleted) continue;
        s.deleteSamplesOfSession.bind(1, sid).run();
        s.deleteSession.bind(1, sid).run();
    }
    return !db_.failed();
}

void ObjectContext::afterSave()
{
    std::erase_if(baseModels_, [](const auto& e) { return e.second.state == RowState::deleted; });
    std::erase_if(options_, [](const auto& e) { return e.second.state == RowState::deleted; });
    std::erase_if(sessions_, [](const auto& e) { return e.second.state == RowState::deleted; });
    for (auto& [id, r] : baseModels_) r.state = RowState::clean;
    for (auto& [id, r] : options_) r.state = RowState::clean;
    for (auto& [id, r] : sessions_) {
        r.state = RowState::clean;
        r.storedCount += r.pendingCount;
        r.pendingCount = 0;
        r.clearStored = false;
        r.countDirty = false;
    }
    pendingBase_ += static_cast<ObjectId>(pending_.size());
    pending_.clear();
    pending_.shrink_to_fit();
    pendingInTimeOrder_ = true;
    deletedStored_.clear();
    rewrittenStored_.clear();
    changed_ = false;
}

} // namespace store
