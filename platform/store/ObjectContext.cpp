// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/ObjectContext.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cstddef>
#include <filesystem>
#include <unistd.h>

#include "platform/store/ContextStatements.h"
#include "platform/store/Schema.h"

namespace store {

namespace {
bool refuseReadOnly(const std::string& path, StoreError& error)
{
    error.code = StoreError::readOnly;
    error.message = "The store is read-only: Quivra cannot save what it records there";
    error.details["path"] = path;
    return false;
}
} // namespace

ObjectContext::ObjectContext() = default;

ObjectContext::~ObjectContext()
{
    if (saving_) writer_->wait();
    writer_.reset();
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
        if (ec) error.details["reason"] = ec.message();
        return false;
    }
    // Every save would fail, and the exit would lose everything: refuse it now.
    if (::access(folder.empty() ? "." : folder.c_str(), W_OK) != 0
        || (::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) != 0))
        return refuseReadOnly(path, error);
    if (!lock_.acquire(path, "Quivra is already running on the store " + path, error)) return false;
    auto fail = [this] {
        writer_.reset();
        sql_.reset();
        db_.close();
        lock_.release();
        return false;
    };
    if (!db_.open(path, error)) return fail();
    if (sqlite3_db_readonly(db_.handle(), "main") == 1) {
        refuseReadOnly(path, error);
        return fail();
    }
    if (!prepareSchema(db_, error)) return fail();
    // Counting every row takes a while in a large store: only after an end that was not clean.
    if (lock_.endedUncleanly()) {
        if (!repairSampleCounts(db_, repairs_, error)) return fail();
        lock_.settled();
    }
    if (!db_.keepWriteAheadFiles(error)) return fail();
    sql_ = std::make_unique<Statements>(db_);
    if (!load(error)) return fail();
    writer_ = std::make_unique<StoreWriter>(lock_);
    if (!writer_->open(path, error)) return fail();
    return true;
}

bool ObjectContext::openReader(const std::string& path, StoreError& error)
{
    sql_.reset();
    if (!db_.open(path, error) || !db_.keepWriteAheadFiles(error)) return false;
    sql_ = std::make_unique<Statements>(db_);
    return true;
}

bool ObjectContext::load(StoreError& error)
{
    auto maxOf = [this](const char* sql) {
        Statement s(db_, sql);
        return s.step() ? s.int64(0) : 0;
    };
    Statement bases(db_, "SELECT id FROM base_model ORDER BY id");
    while (bases.step()) {
        ObjectId id = bases.int64(0);
        baseModels_[id] = BaseModelRecord{id, RowState::clean};
    }
    // A rate that is not stored as a whole number reads as none, so that it is repaired.
    Statement opts(db_, "SELECT id, base_model_id, CASE typeof(framerate) WHEN 'integer' THEN framerate ELSE 0 END,"
                        " cutoff_limit, tare_x, tare_y, tare_z,"
                        " active_session_id FROM options");
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
    Statement named(db_, "SELECT name, value FROM setting");
    while (named.step()) settings_[named.text(0)] = named.text(1);
    Statement sess(db_, "SELECT id, base_model_id, date_stamp, sample_count FROM session");
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
                              maxOf("SELECT coalesce(max(session_id), 0) FROM trash_action")) + 1;
    nextActionId_ = maxOf("SELECT coalesce(max(id), 0) FROM trash_action") + 1;
    pendingBase_ = std::max(maxOf("SELECT coalesce(max(id), 0) FROM gdata"),
                            maxOf("SELECT coalesce(max(id), 0) FROM trash_gdata")) + 1;

    // A removal still in the trash was open for undo when the program last ended: the newest one
    // is offered again, older ones go.
    Statement trash(db_, "SELECT id, kind, session_id, session_base_model_id, session_date_stamp, sample_count,"
                         " through_id, active_in_options_id, removed_at FROM trash_action ORDER BY id");
    while (trash.step()) {
        if (removal_) trashOps_.push_back(TrashOp{TrashOp::Kind::purge, *removal_});
        Removal r;
        r.action = trash.int64(0);
        r.kind = trash.text(1) == "delete" ? Removal::Kind::deleteSession : Removal::Kind::clear;
        r.session.id = trash.int64(2);
        r.session.baseModel = trash.int64(3);
        r.session.dateStamp = trash.int64(4);
        r.storedMoved = trash.int64(5);
        r.throughId = trash.int64(6);
        r.activeIn = trash.int64(7);
        r.removedAt = trash.int64(8);
        r.written = true;
        if (r.kind == Removal::Kind::clear) {
            if (auto s = sessions_.find(r.session.id); s != sessions_.end()) r.session = s->second;
        }
        removal_ = r;
    }
    if (db_.failed()) {
        error = db_.failure();
        error.message = "The store could not be read";
        db_.clearError();
        return false;
    }
    if (!trashOps_.empty()) changed();
    return true;
}

void ObjectContext::changed()
{
    if (changed_) return;
    changed_ = true;
    if (observer_) observer_();
}

void ObjectContext::reportReadFailure()
{
    StoreError error = db_.failure();
    error.message = "The store could not be read";
    db_.clearError();
    if (readFailureObserver_) readFailureObserver_(error);
}

// ---- small entities ----

std::string ObjectContext::framerateAsStored(ObjectId options)
{
    Statement q(db_, "SELECT CAST(framerate AS TEXT) FROM options WHERE id = ?");
    q.bind(1, options);
    std::string text = q.step() ? q.text(0) : std::string();
    db_.clearError();
    return text;
}

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

// ---- settings ----

void ObjectContext::setSetting(const std::string& name, const std::string& value)
{
    auto it = settings_.find(name);
    if (it != settings_.end() && it->second == value) return;
    settings_[name] = value;
    dirtySettings_.insert(name);
    changed();
}

// ---- saving ----

bool ObjectContext::beginSave(std::function<void()> done)
{
    if (saving_ || !changed_ || !writer_) return false;
    writer_->submit(takeChanges(), std::move(done));
    changed_ = false;
    saving_ = true;
    return true;
}

bool ObjectContext::finishSave(StoreError& error)
{
    if (!saving_) return true;
    SaveResult result = writer_->wait();
    saving_ = false;
    if (result.fileReplaced) {
        StoreError ignored;
        openReader(result.path.empty() ? db_.path() : result.path, ignored);
    }
    if (!result.fileNotice.empty() && fileObserver_) fileObserver_(result.fileNotice);
    if (result.ok) {
        saved();
        return true;
    }
    notSaved();
    error = result.error;
    return false;
}

bool ObjectContext::save(StoreError& error)
{
    StoreError superseded;
    if (saving_) finishSave(superseded); // a failure there is tried again just below
    if (!changed_) return true;
    if (!writer_) {
        error.code = SQLITE_MISUSE;
        error.message = "The store is not open";
        return false;
    }
    beginSave(nullptr);
    return finishSave(error);
}

ChangeSet ObjectContext::takeChanges()
{
    ChangeSet c;
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
    c.deletedSamples.assign(deletedStored_.begin(), deletedStored_.end());
    c.rewrittenSamples.assign(rewrittenStored_.begin(), rewrittenStored_.end());
    f.deletedSamples = deletedStored_;
    f.rewrittenSamples = rewrittenStored_;
    c.firstSampleId = pendingBase_;
    c.samples.assign(pending_.begin(), pending_.end());
    f.samples = pending_.size();
    c.trashOps = trashOps_;
    f.trashOps = trashOps_.size();
    for (const std::string& name : dirtySettings_) c.settings.emplace_back(name, settings_[name]);
    f.settings = std::move(dirtySettings_);
    dirtySettings_.clear();
    inFlight_ = std::move(f);
    return c;
}

void ObjectContext::saved()
{
    InFlight& f = inFlight_;
    // What was written counts as saved now, as far as it is still there for readers.
    ObjectId id = pendingBase_;
    for (std::size_t i = 0; i < f.samples; ++i, ++id) {
        const SampleRecord& r = pending_[i];
        if (r.session == SampleRecord::deletedSample || r.session == 0 || !visible(id, r.session)) continue;
        SessionRecord& s = sessions_.at(r.session);
        ++s.storedCount;
        --s.pendingCount;
    }
    for (const auto& [sid, r] : f.rewrittenSamples) {
        auto now = rewrittenStored_.find(sid);
        const SampleRecord& n = now == rewrittenStored_.end() ? r : now->second;
        if (now == rewrittenStored_.end() || n.dateStamp != r.dateStamp || n.x != r.x || n.y != r.y || n.z != r.z
            || n.session != r.session)
            continue; // changed again since: written by the next save
        rewrittenStored_.erase(now);
        if (r.session != 0 && visible(sid, r.session)) {
            SessionRecord& s = sessions_.at(r.session);
            ++s.storedCount;
            --s.pendingCount;
        }
    }
    for (ObjectId sid : f.deletedSamples) deletedStored_.erase(sid);
    pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(f.samples));
    pendingBase_ += ObjectId(f.samples);
    if (pending_.empty()) {
        pending_.shrink_to_fit();
        pendingInTimeOrder_ = true;
    }
    for (std::size_t i = 0; i < f.trashOps; ++i) {
        const TrashOp& op = trashOps_[i];
        if (op.kind == TrashOp::Kind::trash && op.removal.kind == Removal::Kind::deleteSession) {
            auto it = sessions_.find(op.removal.session.id);
            if (it != sessions_.end() && it->second.state == RowState::deleted) sessions_.erase(it);
        }
        if (op.kind == TrashOp::Kind::trash && removal_ && removal_->action == op.removal.action && !removal_->written) {
            removal_->written = true;
            removal_->storedMoved += removal_->pendingMoved;
            removal_->pendingMoved = 0;
        }
    }
    trashOps_.erase(trashOps_.begin(), trashOps_.begin() + std::ptrdiff_t(f.trashOps));
    inFlight_ = {};
}

void ObjectContext::notSaved()
{
    // Nothing was written: the rows taken are marked again for the next save.
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
    inFlight_ = {};
    changed();
}

} // namespace store
