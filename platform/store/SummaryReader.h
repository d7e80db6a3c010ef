// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reads a session's summary pyramid (see SummaryPyramid.h) through a read-only connection, from
// the top down: a caller says of each block whether it is out, wanted whole, or to be split into
// the blocks below it, down to the samples themselves. So a stretch of any length costs a few
// thousand blocks and, at its ends, a few samples.
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/store/Database.h"
#include "platform/store/SummaryBlock.h"

namespace store {

class SummaryReader {
public:
    explicit SummaryReader(Database& db);

    struct Head {
        std::int64_t samples = 0; // saved samples the session's blocks cover
        ObjectId lastId = 0;      // the id of the newest of them
        int topLevel = 0;         // the level whose one block covers them all (0: none)
    };
    // False, with the connection's failure kept, when it could not be read.
    bool head(ObjectId session, Head& out);

    // A block is out, wanted whole, split into the blocks below it (a 16-sample block into its
    // samples), or left for later: handed to `later`, for the caller to take whole or split once
    // it has seen the rest.
    enum class Take { out, whole, split, later };
    struct Visitor {
        // A block of the level with `count` samples: out, whole, split or later.
        std::function<Take(const SummaryBlock&, int level, std::int64_t count)> decide;
        std::function<void(const SummaryBlock&, std::int64_t count)> whole;
        // A sample of a 16-sample block that was split; in id order within the block.
        std::function<void(const SampleValues&)> sample;
        // A block left for later, with its level and its index there.
        std::function<void(const SummaryBlock&, int level, std::int64_t index, std::int64_t count)> later;
    };
    // Walks the blocks level by level from the top. False when the store could not be read.
    bool walk(ObjectId session, const Head& head, const Visitor& visitor);
    // Walks what lies below blocks of a level above the finest (their indexes there, in order), as
    // walk() would have.
    bool walkBelow(ObjectId session, const Head& head, int level, std::vector<std::int64_t> indexes,
                   const Visitor& visitor);

    // `count` samples of the session from the one with this id on, in id order.
    void readSamples(ObjectId session, ObjectId firstId, std::int64_t count,
                     const std::function<void(const SampleValues&)>& visit);

    // Reads up to `pages` of the session's rows so that the store's caches hold them: every row of
    // the levels above the finest, coarsest last, after as many rows of the finest as they leave
    // room for. Stops as soon as `keepGoing` says so.
    void touch(ObjectId session, const Head& head, std::int64_t pages, const std::function<bool()>& keepGoing);

    // Exactly what the session's saved samples with from <= time <= to hold.
    bool summarize(ObjectId session, Micros from, Micros to, SampleSummary& out);

    // Blocks of the level when the session has `samples` (at least one).
    static std::int64_t blocksAt(int level, std::int64_t samples) { return ((samples - 1) >> level) + 1; }
    // Samples a block of the level holds when the session has `samples`.
    static std::int64_t blockCount(int level, std::int64_t index, std::int64_t samples)
    {
        return std::min(blockSize(level), samples - (index << level));
    }

private:
    // Walks the blocks at `level` under those to split one level up (`top`: the top block itself).
    bool descend(ObjectId session, const Head& head, int level, std::vector<std::int64_t> split, bool top,
                 const Visitor& visitor);
    // The blocks of the level with these indexes (in order), each handed to `visit`: rows of
    // neighbouring chunks are read in one go, and only the blocks asked for are decoded.
    bool blocks(ObjectId session, int level, const std::vector<std::int64_t>& wanted,
                const std::function<void(std::int64_t index, const SummaryBlock&)>& visit);

    Database& db_;
    Statement head_, blocks_, samples_;
};

} // namespace store
