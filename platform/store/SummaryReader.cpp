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

bool SummaryReader::blocks(ObjectId session, int level, const std::vector<std::int64_t>& wanted,
                           const std::function<void(std::int64_t index, const SummaryBlock&)>& visit)
{
    for (std::size_t i = 0; i < wanted.size();) {
        // A run of wanted blocks in the same or neighbouring chunks: one query, read in order.
        std::size_t end = i + 1;
        while (end < wanted.size() && wanted[end] / kBlocksPerChunk <= wanted[end - 1] / kBlocksPerChunk + 1) ++end;
        blocks_.bind(1, session)
            .bind(2, std::int64_t(level))
            .bind(3, wanted[i] / kBlocksPerChunk)
            .bind(4, wanted[end - 1] / kBlocksPerChunk);
        std::size_t k = i;
        while (k < end && blocks_.step()) {
            const std::int64_t base = blocks_.int64(0) * kBlocksPerChunk;
            const std::string_view bytes = blocks_.blob(1);
            const std::int64_t n = std::int64_t(bytes.size() / kBlockBytes);
            for (; k < end && wanted[k] < base + n; ++k)
                if (wanted[k] >= base) visit(wanted[k], blockAt(bytes, std::size_t(wanted[k] - base)));
        }
        blocks_.reset();
        if (db_.failed()) return false;
        i = end;
    }
    return true;
}

bool SummaryReader::walk(ObjectId session, const Head& head, const Visitor& visitor)
{
    if (head.samples == 0) return true;
    return descend(session, head, head.topLevel, {0}, true, visitor);
}

bool SummaryReader::walkBelow(ObjectId session, const Head& head, int level, std::vector<std::int64_t> indexes,
                              const Visitor& visitor)
{
    return level > kFinestLevel ? descend(session, head, level - kLevelStep, std::move(indexes), false, visitor) : true;
}

bool SummaryReader::descend(ObjectId session, const Head& head, int level, std::vector<std::int64_t> split, bool top,
                            const Visitor& visitor)
{
    std::vector<std::int64_t> wanted;
    for (; level >= kFinestLevel && !split.empty(); level -= kLevelStep, top = false) {
        // The blocks at the level under those to split one level up, in order.
        const std::int64_t blocksAtLevel = blocksAt(level, head.samples);
        wanted.clear();
        if (top) {
            wanted = split;
        } else {
            for (std::int64_t parent : split)
                for (std::int64_t index = parent << kLevelStep;
                     index < std::min((parent + 1) << kLevelStep, blocksAtLevel); ++index)
                    wanted.push_back(index);
        }
        std::vector<std::int64_t> next;
        const bool read = blocks(session, level, wanted, [&](std::int64_t index, const SummaryBlock& block) {
            const std::int64_t count = blockCount(level, index, head.samples);
            switch (visitor.decide(block, level, count)) {
            case Take::out: break;
            case Take::whole: visitor.whole(block, count); break;
            case Take::later: visitor.later(block, level, index, count); break;
            case Take::split:
                if (level > kFinestLevel)
                    next.push_back(index);
                else
                    readSamples(session, block.firstId, count, visitor.sample);
                break;
            }
        });
        if (!read) return false;
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

void SummaryReader::touch(ObjectId session, const Head& head, std::int64_t pages,
                          const std::function<bool()>& keepGoing)
{
    if (head.samples == 0) return;
    // A row takes about a page. The coarsest, which every wide frame reads, come last, so that
    // the cache keeps them; the others stay at hand in the system's file cache.
    std::int64_t room = pages;
    for (int level = kFinestLevel + kLevelStep; level <= head.topLevel; level += kLevelStep)
        room -= (blocksAt(level, head.samples) + kBlocksPerChunk - 1) / kBlocksPerChunk;
    const std::int64_t coarse = (session << 40) | (std::int64_t(kFinestLevel + kLevelStep) << 32);
    Statement rows(db_, "SELECT length(blocks) FROM summary WHERE id BETWEEN ?1 AND ?2 ORDER BY id LIMIT ?3");
    auto read = [&](std::int64_t from, std::int64_t to, std::int64_t limit) {
        rows.bind(1, from).bind(2, to).bind(3, limit);
        bool going = true;
        for (int n = 0; going && rows.step(); ++n)
            if (n % 64 == 0) going = keepGoing();
        rows.reset();
        return going;
    };
    if (room <= 0 || read(session << 40, coarse - 1, room)) read(coarse, ((session + 1) << 40) - 1, -1);
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
