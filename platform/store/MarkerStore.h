// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The markers of every session in memory: a few per session, loaded whole when the store opens
// and written back row by row when they change. A clear or a session's delete hides the
// session's markers with its samples; an undo shows them again, a forgotten removal lets them go.
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/store/ChangeSet.h"
#include "platform/store/Database.h"
#include "platform/store/Records.h"

namespace store {

class MarkerStore {
public:
    // `changed` is told of every change.
    explicit MarkerStore(std::function<void()> changed) : changed_(std::move(changed)) {}

    // The live markers, and the first id a new one may take.
    void load(Database& db);
    // The markers that wait in the trash with this clear or delete (the one an undo may still
    // bring back).
    void loadRemoved(Database& db, ObjectId action);

    ObjectId insert(ObjectId session, Micros at, MarkerRecord::Kind kind, std::string text);
    // The session's markers in time order (equal times by id), without those in the trash.
    std::vector<MarkerRecord> markersOf(ObjectId session) const;
    const MarkerRecord* marker(ObjectId id) const;
    // A new text and kind for a marker not in the trash; false when there is no such marker.
    bool edit(ObjectId id, MarkerRecord::Kind kind, const std::string& text);
    bool remove(ObjectId id);
    // Every marker there is has an id up to this one.
    ObjectId lastId() const { return nextId_ - 1; }

    // ---- the trash ----
    // The session's markers up to `throughId` go with the removal `action`.
    void hide(ObjectId session, ObjectId throughId, ObjectId action);
    void unhide(ObjectId action);
    void drop(ObjectId action);

    // ---- one save ----
    void takeChanges(ChangeSet& c);
    void saved();
    void notSaved();

private:
    MarkerRecord* liveMarker(ObjectId id);

    std::function<void()> changed_;
    std::map<ObjectId, MarkerRecord> markers_;
    ObjectId nextId_ = 1;
    std::vector<ObjectId> inFlight_, inFlightDeleted_;
};

} // namespace store
