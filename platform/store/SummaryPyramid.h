// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The summary pyramid: for each session, blocks of 16, 256, 4,096, ... samples in recording order
// (levels 4, 8, 12, ...), each with the lowest and highest value and the sum of squares per axis
// (see SummaryBlock.h), so that any stretch of a session of any length can be drawn from a few
// thousand blocks. It is written on the writer's connection in the same transaction as the rows
// it summarises: by each save, by the moves to and from the trash, and by the repairs at
// start-up; a removal's blocks wait in trash_summary with its rows. Levels go up until one block
// holds the whole session; a session without samples has none.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "platform/store/ChangeSet.h"
#include "platform/store/Database.h"
#include "platform/store/SummaryBlock.h"

namespace store {

class SummaryPyramid {
public:
    // Statements on the connection that writes; the database keeps any failure.
    explicit SummaryPyramid(Database& db);
    ~SummaryPyramid();
    SummaryPyramid(const SummaryPyramid&) = delete;
    SummaryPyramid& operator=(const SummaryPyramid&) = delete;

    // ---- one save, in its transaction: after the samples are written, around each trash op's
    // moves of rows, and at the end ----
    void beginSave(const ChangeSet& changes);
    void beforeTrashOp(const TrashOp& op);
    void afterTrashOp(const TrashOp& op);
    void endSave();

    // A session's blocks made afresh from its rows.
    void rebuild(ObjectId session);
    // Every session's blocks made afresh from the rows, telling how many rows are done of how many.
    void rebuildAll(const std::function<void(std::int64_t done, std::int64_t total)>& progress);

    class Appender;

private:
    friend class Appender;
    struct Statements;
    // Appends the save's samples of the session up to this id (all: 0) that are not in yet.
    void appendSaved(ObjectId session, ObjectId throughId);

    Database& db_;
    std::unique_ptr<Statements> sql_;
    const ChangeSet* changes_ = nullptr;
    // Per session: the indices of the save's samples, and how many of them are in its blocks.
    struct Pending {
        std::vector<std::size_t> samples;
        std::size_t appended = 0;
    };
    std::map<ObjectId, Pending> pending_;
};

} // namespace store
