// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/Trash.h"

#include "platform/Clock.h"

namespace store {

void Trash::load(Database& db)
{
    Statement next(db, "SELECT coalesce(max(id), 0) FROM trash_action");
    nextActionId_ = (next.step() ? next.int64(0) : 0) + 1;
    // A removal still in the trash was open for undo when the program last ended: the newest one
    // is offered again, older ones go.
    Statement trash(db, "SELECT id, kind, session_id, session_base_model_id, session_date_stamp, sample_count,"
                        " through_id, active_in_options_id, removed_at FROM trash_action ORDER BY id");
    while (trash.step()) {
        if (removal_) ops_.push_back(TrashOp{TrashOp::Kind::purge, *removal_});
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
            if (const SessionRecord* s = entities_.session(r.session.id)) r.session = *s;
        }
        removal_ = r;
    }
    if (removal_) markers_.loadRemoved(db, removal_->action);
}

void Trash::begin(Removal removal)
{
    forgetRemoval();
    removal.action = nextActionId_++;
    removal.removedAt = platform::Clock::now();
    removal_ = removal;
    ops_.push_back(TrashOp{TrashOp::Kind::trash, removal});
    markers_.hide(removal.session.id, removal.markerThroughId, removal.action);
    changed_();
}

void Trash::clearSamples(ObjectId session)
{
    SessionRecord* s = live(entities_.sessions_, session);
    // Nothing to clear: an earlier removal stays undoable.
    if (!s || (s->storedCount + s->pendingCount == 0 && markers_.markersOf(session).empty())) return;
    Removal r;
    r.kind = Removal::Kind::clear;
    r.session = *s;
    // Ids grow with recording, so every sample the session holds now has an id up to this one.
    r.throughId = samples_.lastSampleId();
    r.markerThroughId = markers_.lastId();
    r.storedMoved = s->storedCount;
    r.pendingMoved = s->pendingCount;
    s->clearedThrough = r.throughId;
    s->storedCount = 0;
    s->pendingCount = 0;
    s->countDirty = true;
    markUpdated(*s);
    begin(r);
}

void Trash::deleteSession(ObjectId id)
{
    auto& sessions = entities_.sessions_;
    auto it = sessions.find(id);
    if (it == sessions.end() || it->second.state == RowState::deleted) return;
    Removal r;
    r.kind = Removal::Kind::deleteSession;
    r.session = it->second;
    r.throughId = samples_.lastSampleId();
    r.markerThroughId = markers_.lastId();
    r.storedMoved = it->second.storedCount;
    r.pendingMoved = it->second.pendingCount;
    if ((r.activeIn = entities_.optionsWithActiveSession(id))) entities_.editOptions(r.activeIn)->activeSession = 0;
    if (it->second.state == RowState::inserted)
        sessions.erase(it);
    else
        it->second.state = RowState::deleted;
    begin(r);
}

bool Trash::undoRemoval()
{
    if (!removal_) return false;
    const Removal r = *removal_;
    if (r.kind == Removal::Kind::clear && !entities_.session(r.session.id)) return false;
    // Not yet taken by a save: the move to the trash is simply not made.
    const bool cancelled = !r.written && ops_.size() > inFlight_ && ops_.back().kind == TrashOp::Kind::trash
                           && ops_.back().removal.action == r.action;
    if (cancelled) ops_.pop_back();
    // Else the rows come back from the trash with the next save, after the move.
    else
        ops_.push_back(TrashOp{TrashOp::Kind::restore, r});
    removal_.reset();
    markers_.unhide(r.action);
    // Once written (or being written), every moved sample comes back as a saved one.
    const std::int64_t stored = cancelled ? r.storedMoved : r.sampleCount();
    const std::int64_t pending = cancelled ? r.pendingMoved : 0;

    if (r.kind == Removal::Kind::clear) {
        SessionRecord& s = entities_.sessions_.at(r.session.id);
        s.clearedThrough = r.session.clearedThrough;
        s.storedCount += stored;
        s.pendingCount += pending;
        s.countDirty = true;
        markUpdated(s);
    } else {
        SessionRecord s = r.session;
        // Its row is written again at the next save.
        if (!cancelled) s.state = RowState::updated;
        s.storedCount = stored;
        s.pendingCount = pending;
        s.countDirty = true;
        entities_.sessions_[s.id] = s;
        if (r.activeIn && entities_.options(r.activeIn)) entities_.setOptionsActiveSession(r.activeIn, s.id);
    }
    changed_();
    return true;
}

void Trash::forgetRemoval()
{
    if (!removal_) return;
    const Removal r = *removal_;
    removal_.reset();
    markers_.drop(r.action);
    if (r.kind == Removal::Kind::deleteSession) entities_.dropIdentity(r.session.id);
    if (!r.written && ops_.size() > inFlight_ && ops_.back().removal.action == r.action) {
        ops_.back().keep = false; // removed for good, without a stay in the trash
    } else {
        ops_.push_back(TrashOp{TrashOp::Kind::purge, r});
    }
    changed_();
}

void Trash::takeChanges(ChangeSet& c)
{
    c.trashOps = ops_;
    inFlight_ = ops_.size();
}

void Trash::saved()
{
    for (std::size_t i = 0; i < inFlight_; ++i) {
        const TrashOp& op = ops_[i];
        if (op.kind == TrashOp::Kind::trash && op.removal.kind == Removal::Kind::deleteSession) {
            auto it = entities_.sessions_.find(op.removal.session.id);
            if (it != entities_.sessions_.end() && it->second.state == RowState::deleted) entities_.sessions_.erase(it);
        }
        if (op.kind == TrashOp::Kind::trash && removal_ && removal_->action == op.removal.action
            && !removal_->written) {
            removal_->written = true;
            removal_->storedMoved += removal_->pendingMoved;
            removal_->pendingMoved = 0;
        }
    }
    ops_.erase(ops_.begin(), ops_.begin() + std::ptrdiff_t(inFlight_));
    inFlight_ = 0;
}

} // namespace store
