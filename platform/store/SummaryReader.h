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

    enum class Take { out, whole, split };
    struct Visitor {
        // A block of the level with `count` samples: out, whole, or split.
        std::function<Take(const SummaryBlock&, int level, std::int64_t count)> decide;
        std::function<void(const SummaryBlock&, std::int64_t count)> whole;
        // A sample of a 16-sample block that was split; in id order within the block.
        std::function<void(const SampleValues&)> sample;
        // When set, a 16-sample block that was split comes here instead (with its index at its
        // level), for the caller to read its samples or not.
        std::function<void(const SummaryBlock&, std::int64_t index, std::int64_t count)> finest;
    };
    // Walks the blocks level by level from the top. False when the store could not be read.
    bool walk(ObjectId session, const Head& head, const Visitor& visitor);

    // `count` samples of the session from the one with this id on, in id order.
    void readSamples(ObjectId session, ObjectId firstId, std::int64_t count,
                     const std::function<void(const SampleValues&)>& visit);

    // Exactly what the session's saved samples with from <= time <= to hold.
    bool summarize(ObjectId session, Micros from, Micros to, SampleSummary& out);

    // Samples a block of the level holds when the session has `samples`.
    static std::int64_t blockCount(int level, std::int64_t index, std::int64_t samples)
    {
        return std::min(blockSize(level), samples - (index << level));
    }

private:
    bool blocks(ObjectId session, int level, std::int64_t first, std::int64_t last, std::vector<SummaryBlock>& out);

    Database& db_;
    Statement head_, blocks_, samples_;
};

} // namespace store
