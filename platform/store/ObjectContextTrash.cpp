// SPDX-License-Identifier: GPL-3.0-or-later
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

bool ObjectContext::undoRemoval()
{
    if (!removal_) return false;
    const Removal r = *removal_;
    if (r.kind == Removal::Kind::clear && !live(sessions_, r.session.id)) return false;
    // Not yet taken by a save: the move to the trash is simply not made.
    const std::size_t taken = saving_ ? inFlight_.trashOps : 0;
    const bool cancelled = !r.written && trashOps_.size() > taken && trashOps_.back().kind == TrashOp::Kind::trash
                           && trashOps_.back().removal.action == r.action;
    if (cancelled) trashOps_.pop_back();
    // Else the rows come back from the trash with the next save, after the move.
    else trashOps_.push_back(TrashOp{TrashOp::Kind::restore, r});
    removal_.reset();
    // Once written (or being written), every moved sample comes back as a saved one.
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
        // Its row is written again at the next save.
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
    const std::size_t taken = saving_ ? inFlight_.trashOps : 0;
    if (!r.written && trashOps_.size() > taken && trashOps_.back().removal.action == r.action) {
        trashOps_.back().keep = false; // removed for good, without a stay in the trash
    } else {
        trashOps_.push_back(TrashOp{TrashOp::Kind::purge, r});
    }
    changed();
}

} // namespace store
