// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Clears and session deletes go to the trash first, so that the latest one can be undone, even
// after the program ended without warning: its rows wait in trash_gdata until it is forgotten.
// The moves themselves are written by the next save, after the samples it writes, so that a
// removal also takes samples not yet saved.
#include <functional>
#include <optional>
#include <vector>

#include "platform/store/ChangeSet.h"
#include "platform/store/Database.h"
#include "platform/store/EntityStore.h"
#include "platform/store/MarkerStore.h"
#include "platform/store/Records.h"
#include "platform/store/SampleStore.h"

namespace store {

class Trash {
public:
    Trash(EntityStore& entities, SampleStore& samples, MarkerStore& markers, std::function<void()> changed)
        : entities_(entities), samples_(samples), markers_(markers), changed_(std::move(changed))
    {}

    // The newest removal still in the store's trash is offered again; older ones go.
    void load(Database& db);
    // Something of the trash waits to be written.
    bool hasChanges() const { return !ops_.empty(); }

    // Every sample and marker the session holds now, saved or not, goes; the session stays.
    void clearSamples(ObjectId session);
    // The session goes with its samples and markers, and the settings whose active session it
    // was let go; its identity waits with it.
    void deleteSession(ObjectId id);

    // The latest removal while it can still be undone; it survives a restart until forgotten.
    const Removal* undoableRemoval() const { return removal_ ? &*removal_ : nullptr; }
    // Puts back every sample (same ids, times and values) and, for a delete, the session, active
    // again if it was; counts at once, rows that reached the trash with the next save. False when
    // there is nothing to undo or the session cleared is gone.
    bool undoRemoval();
    // Lets the trash go: the removal becomes final at the next save.
    void forgetRemoval();

    // ---- one save ----
    void takeChanges(ChangeSet& c);
    void saved();
    void notSaved() { inFlight_ = 0; }

private:
    void begin(Removal removal);

    EntityStore& entities_;
    SampleStore& samples_;
    MarkerStore& markers_;
    std::function<void()> changed_;
    std::optional<Removal> removal_;
    std::vector<TrashOp> ops_;
    ObjectId nextActionId_ = 1;
    std::size_t inFlight_ = 0; // ops_[0, inFlight_) are being saved
};

} // namespace store
