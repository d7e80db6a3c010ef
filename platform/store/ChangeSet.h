// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What one save writes: a copy of every change the object context held when the save began,
// handed to the store's writer thread, and what came of it.
#include <string>
#include <utility>
#include <vector>

#include "platform/store/Database.h"
#include "platform/store/Records.h"
#include "platform/store/Summaries.h"

namespace store {

// A move to the trash, a restore from it, or a purge, in the order they were asked for.
struct TrashOp {
    enum class Kind { trash, restore, purge } kind = Kind::trash;
    Removal removal;
    bool keep = true; // false: the removal was forgotten before it was written
};

struct ChangeSet {
    std::vector<BaseModelRecord> baseModels;                      // new roots
    std::vector<SessionRecord> sessions;                          // written whole, storedCount = the count to write
    std::vector<OptionsRecord> options;                           // written whole
    ObjectId firstSampleId = 0;                                   // the id of samples[0]; ids follow in order
    std::vector<SampleRecord> samples;                            // unsaved samples
    std::vector<std::pair<ObjectId, SessionIdentity>> identities; // by session, written whole
    std::vector<MarkerRecord> markers;                            // written whole
    std::vector<ObjectId> deletedMarkers;
    std::vector<TrashOp> trashOps;
    std::vector<std::pair<std::string, std::string>> settings; // written whole
    std::vector<SessionSummary> summaries;                     // written whole
};

struct SaveResult {
    bool ok = false;
    StoreError error;
    // When the file had gone and was written back: one sentence about it, and the connections
    // reading the old file must be opened again.
    std::string fileNotice;
    bool fileReplaced = false;
    // Where the store is now: its path, or the name of its own it went on under when another
    // Quivra had taken the path meanwhile.
    std::string path;
};

} // namespace store
