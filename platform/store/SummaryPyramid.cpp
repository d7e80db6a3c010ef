// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/SummaryPyramid.h"

#include <string>

namespace store {

struct SummaryPyramid::Statements {
    explicit Statements(Database& db)
        // A session's rows are the keys summaryKey(session, 0, 0) to summaryKeyEnd(session); the
        // last of them is its top level's one row.
        : head(db, "SELECT samples, last_id FROM summary WHERE id BETWEEN ?1 << 40 AND ((?1 + 1) << 40) - 1"
                   " ORDER BY id DESC LIMIT 1"),
          chunk(db, "SELECT blocks, last_id FROM summary WHERE id = (?1 << 40) | (?2 << 32) | ?3"),
          writeChunk(db, "INSERT OR REPLACE INTO summary(id, session_id, level, chunk, samples, last_id, blocks)"
                         " VALUES((?1 << 40) | (?2 << 32) | ?3, ?1, ?2, ?3, ?4, ?5, ?6)"),
          drop(db, "DELETE FROM summary WHERE id BETWEEN ?1 << 40 AND ((?1 + 1) << 40) - 1"),
          toTrash(db, "INSERT OR REPLACE INTO trash_summary(action_id, level, chunk, samples, last_id, blocks)"
                      " SELECT ?2, level, chunk, samples, last_id, blocks FROM summary"
                      " WHERE id BETWEEN ?1 << 40 AND ((?1 + 1) << 40) - 1"),
          fromTrash(db, "INSERT OR REPLACE INTO summary(id, session_id, level, chunk, samples, last_id, blocks)"
                        " SELECT (?1 << 40) | (level << 32) | chunk, ?1, level, chunk, samples, last_id, blocks"
                        " FROM trash_summary WHERE action_id = ?2"),
          purge(db, "DELETE FROM trash_summary WHERE action_id = ?1"),
          trashHead(db, "SELECT samples FROM trash_summary WHERE action_id = ?1 ORDER BY level DESC LIMIT 1"),
          // By id, through the table's own order (the + keeps SQLite off the session index, which would
          // read every row of the session): the rows of one session that came after a clear.
          rowsBetween(db, "SELECT id, date_stamp, x_value, y_value, z_value FROM gdata"
                          " WHERE id > ?2 AND id <= ?3 AND +session_id = ?1 ORDER BY id"),
          rowsOf(db, "SELECT id, date_stamp, x_value, y_value, z_value FROM gdata WHERE session_id = ?1 ORDER BY id")
    {}
    Statement head, chunk, writeChunk, drop, toTrash, fromTrash, purge, trashHead, rowsBetween, rowsOf;
};

// Adds samples, each with a higher id than every sample the session's blocks hold, keeping in
// memory only the newest row of each level.
class SummaryPyramid::Appender {
public:
    Appender(SummaryPyramid& pyramid, ObjectId session) : p_(pyramid), session_(session)
    {
        Statement& head = p_.sql_->head;
        head.bind(1, session);
        if (head.step()) {
            count_ = head.int64(0);
            lastId_ = head.int64(1);
        }
        head.reset();
    }

    void add(ObjectId id, Micros time, float x, float y, float z)
    {
        const std::int64_t j = count_ >> kFinestLevel;
        SummaryBlock& block = blockRef(0, j, id);
        if ((count_ & (blockSize(kFinestLevel) - 1)) == 0) block = SummaryBlock{};
        block.add(id, time, x, y, z);
        ++count_;
        lastId_ = id;
    }

    // Writes every row changed, the parents of every block changed included.
    void finish()
    {
        for (std::size_t i = 0; i < levels_.size(); ++i) close(i);
    }

    ObjectId lastId() const { return lastId_; }

private:
    struct Level {
        std::int64_t chunk = -1;
        std::vector<SummaryBlock> blocks;
        ObjectId lastId = 0;
        bool dirty = false;
    };

    static int levelOf(std::size_t i) { return kFinestLevel + kLevelStep * int(i); }

    SummaryBlock& blockRef(std::size_t i, std::int64_t j, ObjectId lastId)
    {
        if (levels_.size() <= i) levels_.resize(i + 1);
        const std::int64_t c = j / kBlocksPerChunk;
        if (levels_[i].chunk != c) {
            close(i);
            load(i, c);
        }
        Level& level = levels_[i];
        const std::size_t k = std::size_t(j % kBlocksPerChunk);
        if (level.blocks.size() <= k) level.blocks.resize(k + 1);
        level.dirty = true;
        level.lastId = lastId;
        return level.blocks[k];
    }

    void load(std::size_t i, std::int64_t c)
    {
        Level& level = levels_[i];
        level = Level{};
        level.chunk = c;
        Statement& q = p_.sql_->chunk;
        q.bind(1, session_).bind(2, std::int64_t(levelOf(i))).bind(3, c);
        if (q.step()) {
            const std::string_view bytes = q.blob(0);
            for (std::size_t k = 0; k < bytes.size() / kBlockBytes; ++k) level.blocks.push_back(blockAt(bytes, k));
            level.lastId = q.int64(1);
        }
        q.reset();
    }

    // The level's row is done with: its blocks' parents are brought up to date, and it is written.
    void close(std::size_t i)
    {
        if (i >= levels_.size() || !levels_[i].dirty) return;
        const int level = levelOf(i);
        const Level current = levels_[i]; // a copy: the parents' level may grow the vector
        levels_[i].dirty = false;
        const std::int64_t first = current.chunk * kBlocksPerChunk;
        // A parent level only once this one has more than one block.
        if (count_ > blockSize(level)) {
            const std::int64_t last = first + std::int64_t(current.blocks.size()) - 1;
            for (std::int64_t parent = first >> kLevelStep; parent <= last >> kLevelStep; ++parent) {
                SummaryBlock merged;
                for (std::int64_t child = std::max(first, parent << kLevelStep);
                     child <= std::min(last, ((parent + 1) << kLevelStep) - 1); ++child)
                    merged.add(current.blocks[std::size_t(child - first)]);
                blockRef(i + 1, parent, current.lastId) = merged;
            }
        }
        std::string bytes;
        bytes.reserve(current.blocks.size() * kBlockBytes);
        for (const SummaryBlock& b : current.blocks) appendBlock(bytes, b);
        const std::int64_t start = first << level;
        const std::int64_t end = std::min(count_, (first + std::int64_t(current.blocks.size())) << level);
        Statement& w = p_.sql_->writeChunk;
        w.bind(1, session_)
            .bind(2, std::int64_t(level))
            .bind(3, current.chunk)
            .bind(4, end - start)
            .bind(5, current.lastId)
            .bindBlob(6, bytes.data(), bytes.size());
        w.run();
    }

    SummaryPyramid& p_;
    ObjectId session_;
    std::int64_t count_ = 0;
    ObjectId lastId_ = 0;
    std::vector<Level> levels_;
};

SummaryPyramid::SummaryPyramid(Database& db) : db_(db), sql_(std::make_unique<Statements>(db)) {}

SummaryPyramid::~SummaryPyramid() = default;

void SummaryPyramid::beginSave(const ChangeSet& changes)
{
    changes_ = &changes;
    pending_.clear();
    for (std::size_t i = 0; i < changes.samples.size(); ++i)
        if (changes.samples[i].session != 0) pending_[changes.samples[i].session].samples.push_back(i);
}

void SummaryPyramid::appendSaved(ObjectId session, ObjectId throughId)
{
    auto it = pending_.find(session);
    if (it == pending_.end() || it->second.appended == it->second.samples.size()) return;
    Pending& p = it->second;
    Appender appender(*this, session);
    for (; p.appended < p.samples.size(); ++p.appended) {
        const std::size_t i = p.samples[p.appended];
        const ObjectId id = changes_->firstSampleId + ObjectId(i);
        if (throughId != 0 && id > throughId) break;
        const SampleRecord& r = changes_->samples[i];
        appender.add(id, r.dateStamp, r.x, r.y, r.z);
    }
    appender.finish();
}

void SummaryPyramid::beforeTrashOp(const TrashOp& op)
{
    if (op.kind != TrashOp::Kind::trash) return;
    const Removal& r = op.removal;
    // The session's samples up to the removal's last id go, and its blocks hold exactly those.
    appendSaved(r.session.id, r.throughId);
    if (op.keep) sql_->toTrash.bind(1, r.session.id).bind(2, r.action).run();
    sql_->drop.bind(1, r.session.id).run();
}

void SummaryPyramid::afterTrashOp(const TrashOp& op)
{
    const Removal& r = op.removal;
    if (op.kind == TrashOp::Kind::restore) {
        const ObjectId session = r.session.id;
        // The samples come back before those recorded since, which follow them again.
        const ObjectId newest = Appender(*this, session).lastId();
        std::int64_t kept = 0;
        Statement& trashed = sql_->trashHead;
        trashed.bind(1, r.action);
        if (trashed.step()) kept = trashed.int64(0);
        trashed.reset();
        if (kept != r.sampleCount()) {
            // Moved to the trash before there were summaries: made afresh from every row, the
            // save's own among them.
            rebuild(session);
            if (auto it = pending_.find(session); it != pending_.end()) it->second.appended = it->second.samples.size();
        } else {
            sql_->drop.bind(1, session).run();
            sql_->fromTrash.bind(1, session).bind(2, r.action).run();
            Appender appender(*this, session);
            Statement& q = sql_->rowsBetween;
            q.bind(1, session).bind(2, r.throughId).bind(3, newest);
            while (q.step()) appender.add(q.int64(0), q.int64(1), float(q.real(2)), float(q.real(3)), float(q.real(4)));
            q.reset();
            appender.finish();
        }
    }
    if (op.kind != TrashOp::Kind::trash) sql_->purge.bind(1, r.action).run();
}

void SummaryPyramid::endSave()
{
    for (auto& [session, p] : pending_) appendSaved(session, 0);
    pending_.clear();
    changes_ = nullptr;
}

void SummaryPyramid::rebuild(ObjectId session)
{
    sql_->drop.bind(1, session).run();
    Appender appender(*this, session);
    Statement& q = sql_->rowsOf;
    q.bind(1, session);
    while (q.step()) appender.add(q.int64(0), q.int64(1), float(q.real(2)), float(q.real(3)), float(q.real(4)));
    q.reset();
    appender.finish();
}

void SummaryPyramid::rebuildAll(const std::function<void(std::int64_t, std::int64_t)>& progress)
{
    Statement(db_, "DELETE FROM summary").run();
    std::int64_t total = 0, done = 0;
    {
        Statement count(db_, "SELECT count(*) FROM gdata");
        if (count.step()) total = count.int64(0);
    }
    if (progress) progress(0, total);
    // One pass in id order over every session at once; each keeps one row a level in memory.
    std::map<ObjectId, std::unique_ptr<Appender>> appenders;
    Statement q(db_, "SELECT id, session_id, date_stamp, x_value, y_value, z_value FROM gdata ORDER BY id");
    while (q.step()) {
        if (progress && ++done % 1000000 == 0) progress(done, total);
        if (q.isNull(1)) continue;
        std::unique_ptr<Appender>& a = appenders[q.int64(1)];
        if (!a) a = std::make_unique<Appender>(*this, q.int64(1));
        a->add(q.int64(0), q.int64(2), float(q.real(3)), float(q.real(4)), float(q.real(5)));
    }
    for (auto& [session, a] : appenders) a->finish();
    if (progress) progress(total, total);
}

} // namespace store
