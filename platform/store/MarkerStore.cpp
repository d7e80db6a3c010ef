// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/MarkerStore.h"

#include <algorithm>

namespace store {

namespace {

MarkerRecord readMarker(Statement& q, ObjectId removedBy)
{
    MarkerRecord r;
    r.id = q.int64(0);
    r.session = q.int64(1);
    r.dateStamp = q.int64(2);
    r.kind = markerKindFromName(q.text(3)).value_or(MarkerRecord::Kind::event);
    r.text = q.text(4);
    r.removedBy = removedBy;
    return r;
}

} // namespace

void MarkerStore::load(Database& db)
{
    Statement q(db, "SELECT id, session_id, date_stamp, kind, text FROM marker");
    while (q.step()) {
        MarkerRecord r = readMarker(q, 0);
        markers_[r.id] = r;
    }
    // Ids in the trash stay taken, so that an undo puts markers back under their own ids.
    Statement next(
        db, "SELECT max(coalesce((SELECT max(id) FROM marker), 0), coalesce((SELECT max(id) FROM trash_marker), 0))");
    nextId_ = (next.step() ? next.int64(0) : 0) + 1;
}

void MarkerStore::loadRemoved(Database& db, ObjectId action)
{
    Statement q(db, "SELECT id, session_id, date_stamp, kind, text FROM trash_marker WHERE action_id = ?1");
    q.bind(1, action);
    while (q.step()) {
        MarkerRecord r = readMarker(q, action);
        markers_[r.id] = r;
    }
}

ObjectId MarkerStore::insert(ObjectId session, Micros at, MarkerRecord::Kind kind, std::string text)
{
    MarkerRecord r;
    r.id = nextId_++;
    r.session = session;
    r.dateStamp = at;
    r.kind = kind;
    r.text = std::move(text);
    r.state = RowState::inserted;
    markers_[r.id] = r;
    changed_();
    return r.id;
}

std::vector<MarkerRecord> MarkerStore::markersOf(ObjectId session) const
{
    std::vector<MarkerRecord> out;
    for (const auto& [id, r] : markers_)
        if (r.session == session && r.removedBy == 0 && r.state != RowState::deleted) out.push_back(r);
    std::stable_sort(out.begin(), out.end(),
                     [](const MarkerRecord& a, const MarkerRecord& b) { return a.dateStamp < b.dateStamp; });
    return out;
}

MarkerRecord* MarkerStore::liveMarker(ObjectId id)
{
    auto it = markers_.find(id);
    if (it == markers_.end() || it->second.removedBy != 0 || it->second.state == RowState::deleted) return nullptr;
    return &it->second;
}

const MarkerRecord* MarkerStore::marker(ObjectId id) const
{
    return const_cast<MarkerStore*>(this)->liveMarker(id);
}

bool MarkerStore::edit(ObjectId id, MarkerRecord::Kind kind, const std::string& text)
{
    MarkerRecord* r = liveMarker(id);
    if (!r) return false;
    if (r->kind == kind && r->text == text) return true;
    r->kind = kind;
    r->text = text;
    markUpdated(*r);
    changed_();
    return true;
}

bool MarkerStore::remove(ObjectId id)
{
    MarkerRecord* r = liveMarker(id);
    if (!r) return false;
    if (r->state == RowState::inserted)
        markers_.erase(id);
    else
        r->state = RowState::deleted;
    changed_();
    return true;
}

void MarkerStore::hide(ObjectId session, ObjectId throughId, ObjectId action)
{
    for (auto& [id, r] : markers_)
        if (r.session == session && id <= throughId && r.removedBy == 0 && r.state != RowState::deleted)
            r.removedBy = action;
}

void MarkerStore::unhide(ObjectId action)
{
    for (auto& [id, r] : markers_)
        if (r.removedBy == action) r.removedBy = 0;
    changed_();
}

void MarkerStore::drop(ObjectId action)
{
    std::erase_if(markers_, [action](const auto& entry) { return entry.second.removedBy == action; });
}

void MarkerStore::takeChanges(ChangeSet& c)
{
    // Markers in the trash are written too while they have changes: the move to the trash in the
    // same save comes after them and takes them along.
    inFlight_.clear();
    inFlightDeleted_.clear();
    for (auto& [id, r] : markers_) {
        if (r.state == RowState::deleted) {
            c.deletedMarkers.push_back(id);
            inFlightDeleted_.push_back(id);
        } else if (r.state != RowState::clean) {
            c.markers.push_back(r);
            r.state = RowState::clean;
            inFlight_.push_back(id);
        }
    }
}

void MarkerStore::saved()
{
    for (ObjectId id : inFlightDeleted_)
        if (auto it = markers_.find(id); it != markers_.end() && it->second.state == RowState::deleted)
            markers_.erase(it);
    inFlight_.clear();
    inFlightDeleted_.clear();
}

void MarkerStore::notSaved()
{
    for (ObjectId id : inFlight_)
        if (auto it = markers_.find(id); it != markers_.end()) markUpdated(it->second);
    inFlight_.clear();
    inFlightDeleted_.clear();
}

} // namespace store
