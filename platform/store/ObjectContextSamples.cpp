// SPDX-License-Identifier: GPL-3.0-or-later
// The samples of the object context: unsaved ones as compact records, saved ones read from the
// store only when asked for, a few at a time.
#include <algorithm>

#include "platform/store/ContextStatements.h"

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

ObjectId ObjectContext::insertSample(Micros dateStamp, float x, float y, float z, ObjectId session)
{
    if (session != 0 && !live(sessions_, session)) session = 0;
    if (!pending_.empty() && dateStamp < pending_.back().dateStamp) pendingInTimeOrder_ = false;
    pending_.push_back(SampleRecord{dateStamp, x, y, z, session});
    if (session != 0) sessions_.find(session)->second.pendingCount += 1;
    changed();
    return pendingBase_ + static_cast<ObjectId>(pending_.size()) - 1;
}

void ObjectContext::adjustCount(ObjectId session, std::int64_t stored, std::int64_t pending)
{
    auto it = sessions_.find(session);
    if (session == 0 || it == sessions_.end()) return;
    it->second.storedCount += stored;
    it->second.pendingCount += pending;
    it->second.countDirty = true;
}

std::int64_t ObjectContext::sampleCount(ObjectId session) const
{
    const SessionRecord* r = live(sessions_, session);
    return r ? r->storedCount + r->pendingCount : 0;
}

std::int64_t ObjectContext::unsavedSampleCount() const
{
    return std::int64_t(std::count_if(pending_.begin(), pending_.end(), [](const SampleRecord& r) {
               return r.session != SampleRecord::deletedSample;
           }))
           + std::int64_t(rewrittenStored_.size());
}

bool ObjectContext::visible(ObjectId id, ObjectId session) const
{
    if (session == 0) return true;
    const SessionRecord* owner = live(sessions_, session);
    // A sample of a cleared or deleted session is gone, even before the next save.
    return owner && id > owner->clearedThrough;
}

std::optional<SampleValues> ObjectContext::storedSample(ObjectId id)
{
    if (deletedStored_.count(id)) return std::nullopt;
    if (auto it = rewrittenStored_.find(id); it != rewrittenStored_.end()) return valuesOf(id, it->second);
    Statement& s = sql_->selectSample;
    s.bind(1, id);
    std::optional<SampleValues> found;
    if (s.step()) {
        ObjectId session = s.isNull(0) ? 0 : s.int64(0);
        if (visible(id, session))
            found = SampleValues{id, s.int64(1), float(s.real(2)), float(s.real(3)), float(s.real(4)), session};
    }
    s.reset();
    if (db_.failed()) reportReadFailure();
    return found;
}

std::optional<SampleValues> ObjectContext::sample(ObjectId id)
{
    if (isPending(id)) {
        const SampleRecord& r = pendingRecord(id);
        if (r.session == SampleRecord::deletedSample || !visible(id, r.session)) return std::nullopt;
        return valuesOf(id, r);
    }
    return id > 0 && id < pendingBase_ ? storedSample(id) : std::nullopt;
}

void ObjectContext::setSampleValues(ObjectId id, Micros dateStamp, float x, float y, float z)
{
    if (isPending(id)) {
        SampleRecord& r = pendingRecord(id);
        if (r.session == SampleRecord::deletedSample || !visible(id, r.session)) return;
        if (dateStamp < r.dateStamp) pendingInTimeOrder_ = false;
        if (id + 1 < pendingBase_ + std::int64_t(pending_.size())
            && dateStamp > pending_[std::size_t(id - pendingBase_) + 1].dateStamp)
            pendingInTimeOrder_ = false;
        r.dateStamp = dateStamp;
        r.x = x;
        r.y = y;
        r.z = z;
        changed();
        return;
    }
    std::optional<SampleValues> v = sample(id);
    if (!v) return;
    // A saved sample that changes is written again whole at the next save.
    SampleRecord r{dateStamp, x, y, z, v->session};
    if (!rewrittenStored_.count(id)) adjustCount(v->session, -1, +1);
    rewrittenStored_[id] = r;
    changed();
}

void ObjectContext::setSampleSession(ObjectId id, ObjectId session)
{
    if (session != 0 && !live(sessions_, session)) session = 0;
    if (isPending(id)) {
        SampleRecord& r = pendingRecord(id);
        if (r.session == SampleRecord::deletedSample || !visible(id, r.session) || r.session == session) return;
        adjustCount(r.session, 0, -1);
        adjustCount(session, 0, +1);
        r.session = session;
        changed();
        return;
    }
    std::optional<SampleValues> v = sample(id);
    if (!v || v->session == session) return;
    if (rewrittenStored_.count(id)) adjustCount(v->session, 0, -1);
    else adjustCount(v->session, -1, 0);
    adjustCount(session, 0, +1);
    rewrittenStored_[id] = SampleRecord{v->dateStamp, v->x, v->y, v->z, session};
    changed();
}

void ObjectContext::deleteSample(ObjectId id)
{
    if (isPending(id)) {
        SampleRecord& r = pendingRecord(id);
        if (r.session == SampleRecord::deletedSample || !visible(id, r.session)) return;
        adjustCount(r.session, 0, -1);
        r.session = SampleRecord::deletedSample;
        changed();
        return;
    }
    std::optional<SampleValues> v = sample(id);
    if (!v) return;
    if (rewrittenStored_.erase(id)) adjustCount(v->session, 0, -1);
    else adjustCount(v->session, -1, 0);
    deletedStored_.insert(id);
    changed();
}

std::vector<SampleValues> ObjectContext::unsavedSamplesOf(ObjectId session) const
{
    std::vector<SampleValues> out;
    const SessionRecord* s = live(sessions_, session);
    if (!s) return out;
    out.reserve(std::size_t(s->pendingCount));
    if (s->pendingCount > 0) {
        ObjectId id = pendingBase_;
        for (const SampleRecord& r : pending_) {
            if (r.session == session && id > s->clearedThrough) out.push_back(valuesOf(id, r));
            ++id;
        }
    }
    for (const auto& [id, r] : rewrittenStored_)
        if (r.session == session && id > s->clearedThrough) out.push_back(valuesOf(id, r));
    if (!std::is_sorted(out.begin(), out.end(), earlier)) std::stable_sort(out.begin(), out.end(), earlier);
    return out;
}

std::vector<SampleValues> ObjectContext::newestSamples(ObjectId session, std::size_t k)
{
    std::vector<SampleValues> out;
    const SessionRecord* s = live(sessions_, session);
    if (!s || k == 0) return out;

    // The unsaved part: from the back of the pending list when it is in time order.
    std::vector<SampleValues> unsaved;
    if (pendingInTimeOrder_ && rewrittenStored_.empty()) {
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

    // The saved part: the newest rows through the index, skipping those changed since.
    std::vector<SampleValues> stored;
    if (s->state != RowState::inserted && s->storedCount > 0) {
        Statement& q = sql_->newestOfSession;
        q.bind(1, session).bind(2, std::int64_t(k + deletedStored_.size() + rewrittenStored_.size()))
            .bind(3, s->clearedThrough).bind(4, pendingBase_);
        while (q.step() && stored.size() < k) {
            ObjectId id = q.int64(0);
            if (deletedStored_.count(id) || rewrittenStored_.count(id)) continue;
            stored.push_back(SampleValues{id, q.int64(1), float(q.real(2)), float(q.real(3)), float(q.real(4)), session});
        }
        q.reset();
        if (db_.failed()) reportReadFailure();
        std::reverse(stored.begin(), stored.end());
    }

    out.resize(stored.size() + unsaved.size());
    std::merge(stored.begin(), stored.end(), unsaved.begin(), unsaved.end(), out.begin(), earlier);
    if (out.size() > k) out.erase(out.begin(), out.end() - std::ptrdiff_t(k));
    return out;
}

SessionSnapshot ObjectContext::snapshot(ObjectId session) const
{
    SessionSnapshot out;
    const SessionRecord* s = live(sessions_, session);
    if (!s) return out;
    out.session = session;
    out.afterId = s->clearedThrough;
    out.beforeId = pendingBase_;
    out.skip = deletedStored_;
    for (const auto& [id, r] : rewrittenStored_) out.skip.insert(id);
    out.unsaved = unsavedSamplesOf(session);
    out.count = s->storedCount + s->pendingCount;
    return out;
}

bool ObjectContext::forEachSample(ObjectId session, const std::function<bool(const SampleValues&)>& visit,
                                  StoreError* error)
{
    const SessionRecord* s = live(sessions_, session);
    if (!s) return true;
    std::vector<SampleValues> unsaved = unsavedSamplesOf(session);
    auto next = unsaved.begin();
    bool going = true;
    if (s->state != RowState::inserted && s->storedCount > 0) {
        // A statement of its own: a visitor may read other samples while the walk is open.
        Statement q(db_, "SELECT id, date_stamp, x_value, y_value, z_value FROM gdata"
                         " WHERE session_id = ?1 AND id > ?2 AND id < ?3 ORDER BY date_stamp, id");
        q.bind(1, session).bind(2, s->clearedThrough).bind(3, pendingBase_);
        while (going && q.step()) {
            SampleValues v{q.int64(0), q.int64(1), float(q.real(2)), float(q.real(3)), float(q.real(4)), session};
            if (deletedStored_.count(v.id) || rewrittenStored_.count(v.id)) continue;
            while (going && next != unsaved.end() && earlier(*next, v)) going = visit(*next++);
            if (going) going = visit(v);
        }
        if (db_.failed()) {
            if (error) {
                *error = db_.failure();
                error->message = "The store could not be read";
            }
            db_.clearError();
            return false;
        }
    }
    while (going && next != unsaved.end()) going = visit(*next++);
    return true;
}

} // namespace store
