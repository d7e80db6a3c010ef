// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/SummaryReader.h"

#include <utility>

namespace store {

SummaryReader::SummaryReader(Database& db)
    : db_(db),
      head_(db, "SELECT level, samples, last_id FROM summary WHERE id BETWEEN ?1 << 40 AND ((?1 + 1) << 40) - 1"
                " ORDER BY id DESC LIMIT 1"),
      blocks_(db, "SELECT chunk, blocks FROM summary WHERE id BETWEEN (?1 << 40) | (?2 << 32) | ?3"
                  " AND (?1 << 40) | (?2 << 32) | ?4 ORDER BY id"),
      // Through the table's own order by id (the + keeps SQLite off the session index, which would
      // read every row of the session): a block's samples are the session's next ones.
      samples_(db, "SELECT id, date_stamp, x_value, y_value, z_value FROM gdata WHERE id >= ?2 AND +session_id = ?1"
                   " ORDER BY id LIMIT ?3")
{}

bool SummaryReader::head(ObjectId session, Head& out)
{
    out = Head{};
    head_.bind(1, session);
    if (head_.step()) {
        out.topLevel = int(head_.int64(0));
        out.samples = head_.int64(1);
        out.lastId = head_.int64(2);
    }
    head_.reset();
    return !db_.failed();
}

bool SummaryReader::blocks(ObjectId session, int level, std::int64_t first, std::int64_t last,
                           std::vector<SummaryBlock>& out)
{
    blocks_.bind(1, session)
        .bind(2, std::int64_t(level))
        .bind(3, first / kBlocksPerChunk)
        .bind(4, last / kBlocksPerChunk);
    while (blocks_.step()) {
        const std::int64_t base = blocks_.int64(0) * kBlocksPerChunk;
        const std::string_view bytes = blocks_.blob(1);
        const std::int64_t n = std::int64_t(bytes.size() / kBlockBytes);
        for (std::int64_t k = std::max<std::int64_t>(0, first - base); k < n && base + k <= last; ++k)
            out.push_back(blockAt(bytes, std::size_t(k)));
    }
    blocks_.reset();
    return !db_.failed();
}

bool SummaryReader::walk(ObjectId session, const Head& head, const Visitor& visitor)
{
    if (head.samples == 0) return true;
    return descend(session, head, head.topLevel, {0}, true, visitor);
}

bool SummaryReader::walkBelow(ObjectId session, const Head& head, int level, std::int64_t index,
                              const Visitor& visitor)
{
    return level > kFinestLevel ? descend(session, head, level - kLevelStep, {index}, false, visitor) : true;
}

bool SummaryReader::descend(ObjectId session, const Head& head, int level, std::vector<std::int64_t> split, bool top,
                            const Visitor& visitor)
{
    // The blocks to split at the level, in order; contiguous ones are read in one go.
    std::vector<SummaryBlock> loaded;
    for (; level >= kFinestLevel && !split.empty(); level -= kLevelStep, top = false) {
        std::vector<std::int64_t> next;
        for (std::size_t i = 0; i < split.size();) {
            std::size_t end = i + 1;
            while (end < split.size() && split[end] == split[end - 1] + 1) ++end;
            const std::int64_t first = top ? split[i] : split[i] << kLevelStep;
            const std::int64_t last = std::min(top ? split[end - 1] : ((split[end - 1] + 1) << kLevelStep) - 1,
                                               ((head.samples - 1) >> level));
            loaded.clear();
            if (!blocks(session, level, first, last, loaded)) return false;
            for (std::size_t k = 0; k < loaded.size(); ++k) {
                const std::int64_t index = first + std::int64_t(k);
                const std::int64_t count = blockCount(level, index, head.samples);
                switch (visitor.decide(loaded[k], level, count)) {
                case Take::out: break;
                case Take::whole: visitor.whole(loaded[k], count); break;
                case Take::later: visitor.later(loaded[k], level, index, count); break;
                case Take::split:
                    if (level > kFinestLevel)
                        next.push_back(index);
                    else
                        readSamples(session, loaded[k].firstId, count, visitor.sample);
                    break;
                }
            }
            i = end;
        }
        split = std::move(next);
    }
    return !db_.failed();
}

void SummaryReader::readSamples(ObjectId session, ObjectId firstId, std::int64_t count,
                                const std::function<void(const SampleValues&)>& visit)
{
    samples_.bind(1, session).bind(2, firstId).bind(3, count);
    while (samples_.step())
        visit(SampleValues{samples_.int64(0), samples_.int64(1), float(samples_.real(2)), float(samples_.real(3)),
                           float(samples_.real(4)), session});
    samples_.reset();
}

bool SummaryReader::summarize(ObjectId session, Micros from, Micros to, SampleSummary& out)
{
    out = SampleSummary{};
    Head h;
    if (!head(session, h)) return false;
    Visitor v;
    v.decide = [&](const SummaryBlock& b, int, std::int64_t) {
        if (b.maxTime < from || b.minTime > to) return Take::out;
        return b.minTime >= from && b.maxTime <= to ? Take::whole : Take::split;
    };
    v.whole = [&](const SummaryBlock& b, std::int64_t count) {
        out.block.add(b);
        out.count += count;
    };
    v.sample = [&](const SampleValues& s) {
        if (s.dateStamp >= from && s.dateStamp <= to) out.add(s);
    };
    return walk(session, h, v);
}

} // namespace store
