// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/SampleStore.h"

#include <algorithm>

namespace store {

namespace {

bool earlier(const SampleValues& a, const SampleValues& b)
{
    return a.dateStamp != b.dateStamp ? a.dateStamp < b.dateStamp : a.id < b.id;
}

SampleValues valuesOf(ObjectId id, const SampleRecord& r)
{
    return SampleValues{id, r.dateStamp, r.x, r.y, r.z, r.session};
}

} // namespace

// Saved rows with an id from the first unsaved one on are left out: a save under way may have
// written them already, and they are read from the unsaved list until it is done.
struct SampleStore::Statements {
    explicit Statements(Database& db)
        : newestOfSession(db, "SELECT id, date_stamp, x_value, y_value, z_value FROM gdata"
                              " WHERE session_id = ?1 AND id > ?3 AND id < ?4"
                              " ORDER BY date_stamp DESC, id DESC LIMIT ?2")
    {}
    Statement newestOfSession;
};

SampleStore::SampleStore(EntityStore& entities, std::function<void()> changed, std::function<void()> readFailed)
    : entities_(entities), changed_(std::move(changed)), readFailed_(std::move(readFailed))
{}

SampleStore::~SampleStore() = default;

void SampleStore::attach(Database& db)
{
    detach();
    db_ = &db;
    sql_ = std::make_unique<Statements>(db);
}

void SampleStore::detach()
{
    sql_.reset(); // statements go before the connection they were made on
    db_ = nullptr;
}

void SampleStore::load(Database& db)
{
    Statement gdata(db, "SELECT max(coalesce((SELECT max(id) FROM gdata), 0), "
                        "coalesce((SELECT max(id) FROM trash_gdata), 0))");
    pendingBase_ = (gdata.step() ? gdata.int64(0) : 0) + 1;
}

ObjectId SampleStore::insertSample(Micros dateStamp, float x, float y, float z, ObjectId session)
{
    SessionRecord* owner = session != 0 ? live(entities_.sessions_, session) : nullptr;
    if (!owner) session = 0;
    if (!pending_.empty() && dateStamp < pending_.back().dateStamp) pendingInTimeOrder_ = false;
    pending_.push_back(SampleRecord{dateStamp, x, y, z, session});
    if (owner) owner->pendingCount += 1;
    changed_();
    return lastSampleId();
}

std::int64_t SampleStore::sampleCount(ObjectId session) const
{
    const SessionRecord* r = entities_.session(session);
    return r ? r->storedCount + r->pendingCount : 0;
}

bool SampleStore::visible(ObjectId id, ObjectId session) const
{
    if (session == 0) return true;
    const SessionRecord* owner = entities_.session(session);
    // A sample of a cleared or deleted session is gone, even before the next save.
    return owner && id > owner->clearedThrough;
}

std::vector<SampleValues> SampleStore::unsavedSamplesOf(ObjectId session) const
{
    std::vector<SampleValues> out;
    const SessionRecord* s = entities_.session(session);
    if (!s || s->pendingCount == 0) return out;
    out.reserve(std::size_t(s->pendingCount));
    ObjectId id = pendingBase_;
    for (const SampleRecord& r : pending_) {
        if (r.session == session && id > s->clearedThrough) out.push_back(valuesOf(id, r));
        ++id;
    }
    if (!pendingInTimeOrder_ && !std::is_sorted(out.begin(), out.end(), earlier))
        std::stable_sort(out.begin(), out.end(), earlier);
    return out;
}

std::vector<SampleValues> SampleStore::newestSamples(ObjectId session, std::size_t k)
{
    std::vector<SampleValues> out;
    const SessionRecord* s = entities_.session(session);
    if (!s || k == 0) return out;

    // The unsaved part: from the back of the pending list when it is in time order.
    std::vector<SampleValues> unsaved;
    if (pendingInTimeOrder_) {
        ObjectId id = pendingBase_ + ObjectId(pending_.size());
        for (auto r = pending_.rbegin();
             r != pending_.rend() && unsaved.size() < k && s->pendingCount > 0 && id - 1 > s->clearedThrough; ++r) {
            --id;
            if (r->session == session) unsaved.push_back(valuesOf(id, *r));
        }
        std::reverse(unsaved.begin(), unsaved.end());
    } else {
        unsaved = unsavedSamplesOf(session);
        if (unsaved.size() > k) unsaved.erase(unsaved.begin(), unsaved.end() - std::ptrdiff_t(k));
    }

    // The saved part: the newest rows through the index.
    std::vector<SampleValues> stored;
    if (s->state != RowState::inserted && s->storedCount > 0 && sql_) {
        Statement& q = sql_->newestOfSession;
        q.bind(1, session).bind(2, std::int64_t(k)).bind(3, s->clearedThrough).bind(4, pendingBase_);
        while (q.step() && stored.size() < k)
            stored.push_back(
                SampleValues{q.int64(0), q.int64(1), float(q.real(2)), float(q.real(3)), float(q.real(4)), session});
        q.reset();
        if (db_->failed()) readFailed_();
        std::reverse(stored.begin(), stored.end());
    }

    out.resize(stored.size() + unsaved.size());
    std::merge(stored.begin(), stored.end(), unsaved.begin(), unsaved.end(), out.begin(), earlier);
    if (out.size() > k) out.erase(out.begin(), out.end() - std::ptrdiff_t(k));
    return out;
}

SessionSnapshot SampleStore::snapshot(ObjectId session) const
{
    SessionSnapshot out;
    const SessionRecord* s = entities_.session(session);
    if (!s) return out;
    out.session = session;
    out.afterId = s->clearedThrough;
    out.beforeId = pendingBase_;
    out.unsaved = unsavedSamplesOf(session);
    out.count = s->storedCount + s->pendingCount;
    return out;
}

bool SampleStore::forEachSample(ObjectId session, const std::function<bool(const SampleValues&)>& visit,
                                StoreError* error)
{
    const SessionRecord* s = entities_.session(session);
    if (!s) return true;
    std::vector<SampleValues> unsaved = unsavedSamplesOf(session);
    auto next = unsaved.begin();
    bool going = true;
    if (s->state != RowState::inserted && s->storedCount > 0 && db_) {
        // A statement of its own: a visitor may read other samples while the walk is open.
        Statement q(*db_, "SELECT id, date_stamp, x_value, y_value, z_value FROM gdata"
                          " WHERE session_id = ?1 AND id > ?2 AND id < ?3 ORDER BY date_stamp, id");
        q.bind(1, session).bind(2, s->clearedThrough).bind(3, pendingBase_);
        while (going && q.step()) {
            SampleValues v{q.int64(0), q.int64(1), float(q.real(2)), float(q.real(3)), float(q.real(4)), session};
            while (going && next != unsaved.end() && earlier(*next, v)) going = visit(*next++);
            if (going) going = visit(v);
        }
        if (db_->failed()) {
            if (error) {
                *error = db_->failure();
                error->message = "The store could not be read";
            }
            db_->clearError();
            return false;
        }
    }
    while (going && next != unsaved.end()) going = visit(*next++);
    return true;
}

void SampleStore::takeChanges(ChangeSet& c)
{
    c.firstSampleId = pendingBase_;
    c.samples.assign(pending_.begin(), pending_.end());
    inFlight_ = pending_.size();
}

void SampleStore::saved()
{
    // What was written counts as saved now, as far as it is still there for readers.
    ObjectId id = pendingBase_;
    for (std::size_t i = 0; i < inFlight_; ++i, ++id) {
        const SampleRecord& r = pending_[i];
        if (r.session == 0 || !visible(id, r.session)) continue;
        SessionRecord& s = entities_.sessions_.at(r.session);
        ++s.storedCount;
        --s.pendingCount;
    }
    pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(inFlight_));
    pendingBase_ += ObjectId(inFlight_);
    inFlight_ = 0;
    if (pending_.empty()) {
        pending_.shrink_to_fit();
        pendingInTimeOrder_ = true;
    }
}

} // namespace store
