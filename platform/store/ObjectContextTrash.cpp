// Clears and session deletes go to the trash first, so that the latest one can be undone, even
// after the program ended without warning: its rows wait in trash_gdata until it is forgotten.
#include "platform/Clock.h"
#include "platform/store/ContextStatements.h"

namespace store {

void ObjectContext::beginRemoval(Removal removal)
{
    forgetRemoval();
    removal.action = nextActionId_++;
    removal.removedAt = platform::Clock::now();
    removal_ = removal;
    trashOps_.push_back(TrashOp{TrashOp::Kind::trash, removal});
    changed();
}

void ObjectContext::clearSamples(ObjectId session)
{
    SessionRecord* s = live(sessions_, session);
    // Nothing to clear: an earlier removal stays undoable.
    if (!s || s->storedCount + s->pendingCount == 0) return;
    Removal r;
    r.kind = Removal::Kind::clear;
    r.session = *s;
    // Ids grow with recording, so every sample the session holds now has an id up to this one.
    r.throughId = lastSampleId();
    r.storedMoved = s->storedCount;
    r.pendingMoved = s->pendingCount;
    s->clearedThrough = r.throughId;
    s->storedCount = 0;
    s->pendingCount = 0;
    s->countDirty = true;
    markUpdated(*s);
    beginRemoval(r);
}

void ObjectContext::deleteSession(ObjectId id)
{
    auto it = sessions_.find(id);
    if (it == sessions_.end() || it->second.state == RowState::deleted) return;
    Removal r;
    r.kind = Removal::Kind::deleteSession;
    r.session = it->second;
    r.throughId = lastSampleId();
    r.storedMoved = it->second.storedCount;
    r.pendingMoved = it->second.pendingCount;
    if ((r.activeIn = optionsWithActiveSession(id))) editOptions(r.activeIn)->activeSession = 0;
    if (it->second.state == RowState::inserted) sessions_.erase(it);
    else it->second.state = RowState::deleted;
    beginRemoval(r);
}

bool ObjectContext::undoRemoval(StoreError* error)
{
    if (!removal_) return false;
    const Removal r = *removal_;
    if (r.kind == Removal::Kind::clear && !live(sessions_, r.session.id)) return false;
    // Not yet written: the move to the trash is simply not made.
    const bool cancelled = !r.written && !trashOps_.empty() && trashOps_.back().kind == TrashOp::Kind::trash
                           && trashOps_.back().removal.action == r.action;
    if (cancelled) {
        trashOps_.pop_back();
    } else {
        // Written: the rows come back from the trash now, so every reader sees them at once.
        db_.clearError();
        bool ok = false;
        {
            Transaction transaction(db_);
            if (!db_.failed()) writeTrashOp(TrashOp{TrashOp::Kind::restore, r});
            ok = !db_.failed() && transaction.commit();
        }
        if (!ok) {
            if (error) {
                *error = db_.failure();
                error->message = "The removed samples could not be put back";
            }
            db_.clearError();
            return false;
        }
    }
    removal_.reset();
    // Once written, every moved sample comes back as a saved one.
    const std::int64_t stored = cancelled ? r.storedMoved : r.sampleCount();
    const std::int64_t pending = cancelled ? r.pendingMoved : 0;

    if (r.kind == Removal::Kind::clear) {
        SessionRecord& s = sessions_.at(r.session.id);
        s.clearedThrough = r.session.clearedThrough;
        s.storedCount += stored;
        s.pendingCount += pending;
        s.countDirty = true;
        markUpdated(s);
    } else {
        SessionRecord s = r.session;
        // Its row is written again at the next save; its samples are already back.
        if (!cancelled) s.state = RowState::updated;
        s.storedCount = stored;
        s.pendingCount = pending;
        s.countDirty = true;
        sessions_[s.id] = s;
        if (r.activeIn && live(options_, r.activeIn)) setOptionsActiveSession(r.activeIn, s.id);
    }
    changed();
    return true;
}

void ObjectContext::forgetRemoval()
{
    if (!removal_) return;
    const Removal r = *removal_;
    removal_.reset();
    if (!r.written && !trashOps_.empty() && trashOps_.back().removal.action == r.action) {
        trashOps_.back().keep = false; // removed for good, without a stay in the trash
    } else {
        trashOps_.push_back(TrashOp{TrashOp::Kind::purge, r});
    }
    changed();
}

void ObjectContext::writeTrashOp(const TrashOp& op)
{
    Statements& s = *sql_;
    const Removal& r = op.removal;
    const bool isDelete = r.kind == Removal::Kind::deleteSession;
    switch (op.kind) {
    case TrashOp::Kind::trash:
        if (op.keep) {
            Statement& a = s.insertTrashAction;
            a.bind(1, r.action).bind(3, r.session.id).bind(5, r.session.dateStamp)
                .bind(6, r.sampleCount()).bind(7, r.throughId).bind(9, r.removedAt);
            a.bind(2, std::string_view(isDelete ? "delete" : "clear"));
            if (r.session.baseModel) a.bind(4, r.session.baseModel); else a.bindNull(4);
            if (r.activeIn) a.bind(8, r.activeIn); else a.bindNull(8);
            a.run();
            s.copyToTrash.bind(1, r.action).bind(2, r.session.id).bind(3, r.throughId).run();
        }
        s.deleteThrough.bind(1, r.session.id).bind(2, r.throughId).run();
        if (isDelete) s.deleteSession.bind(1, r.session.id).run();
        break;
    case TrashOp::Kind::restore:
        s.restoreFromTrash.bind(1, r.action).run();
        [[fallthrough]];
    case TrashOp::Kind::purge:
        s.purgeTrashRows.bind(1, r.action).run();
        s.purgeTrashAction.bind(1, r.action).run();
        break;
    }
}

} // namespace store
