// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/RangeReader.h"

#include <algorithm>
#include <map>

namespace store {

namespace {

// The read-only connection's cache: a frame's blocks and the rows at its column edges stay in it
// from one frame to the next.
constexpr int cacheKiB = 16384;

void addToColumn(Envelope& e, int c, std::int64_t count, Micros first, Micros last, const std::array<float, 3>& lo,
                 const std::array<float, 3>& hi)
{
    Envelope::Column& col = e.columns[std::size_t(c)];
    if (col.count == 0) {
        col.first = first, col.last = last, col.min = lo, col.max = hi;
    } else {
        col.first = std::min(col.first, first), col.last = std::max(col.last, last);
        for (int a = 0; a < 3; ++a) col.min[a] = std::min(col.min[a], lo[a]), col.max[a] = std::max(col.max[a], hi[a]);
    }
    col.count += count;
    e.count += count;
}

// The first column of a block within the range whose readings lie within the extremes every
// column it spans already has; -1 when it is not one.
int changesNothing(const Envelope& e, const SummaryBlock& b)
{
    if (b.minTime < e.from || b.maxTime > e.to) return -1;
    const int n = int(e.columns.size());
    const int first = Envelope::columnOf(b.minTime, e.from, e.to, n),
              last = Envelope::columnOf(b.maxTime, e.from, e.to, n);
    for (int c = first; c <= last; ++c) {
        const Envelope::Column& col = e.columns[std::size_t(c)];
        if (col.count == 0) return -1;
        for (int a = 0; a < 3; ++a)
            if (b.min[a] < col.min[a] || b.max[a] > col.max[a]) return -1;
    }
    return first;
}

} // namespace

RangeReader::RangeReader() = default;
RangeReader::~RangeReader() = default;

bool RangeReader::open(const std::string& path, StoreError& error)
{
    if (!reader_.open(path, error)) return false;
    Statement version(reader_.database(), "PRAGMA user_version");
    if (!version.step() || version.int64(0) < 4) {
        error = StoreError{};
        error.code = StoreError::unknownSchemaVersion;
        error.message = "The store has no summaries to review yet";
        error.details["path"] = path;
        return false;
    }
    summary_ = std::make_unique<SummaryReader>(reader_.database());
    StoreError ignored;
    reader_.database().exec("PRAGMA cache_size = -" + std::to_string(cacheKiB), ignored);
    return !failed(error);
}

bool RangeReader::failed(StoreError& error)
{
    Database& db = reader_.database();
    if (!db.failed()) return false;
    error = db.failure();
    error.message = "The store could not be read";
    error.details["path"] = db.path();
    db.clearError();
    return true;
}

bool RangeReader::begin(StoreError& error)
{
    return reader_.database().exec("BEGIN", error);
}

void RangeReader::end()
{
    StoreError ignored;
    reader_.database().exec("COMMIT", ignored);
}

bool RangeReader::extent(ObjectId session, SessionExtent& out, StoreError& error)
{
    out = SessionExtent{};
    bool any = false;
    if (!reader_.timeSpan(session, out.first, out.last, any, error)) return false;
    SummaryReader::Head head;
    if (!summary_->head(session, head)) return !failed(error);
    out.samples = head.samples;
    // Readings further apart than four of the usual intervals are not joined: a pause, a stop.
    std::vector<Micros> times;
    if (!reader_.firstTimes(session, 257, times, error)) return false;
    std::vector<Micros> steps;
    for (std::size_t i = 1; i < times.size(); ++i) steps.push_back(times[i] - times[i - 1]);
    Micros usual = 1000;
    // Whether a block's readings can hold a pause is told from its span against this step, so it
    // is the mean of the steps near the median, to a fraction of a microsecond: stamps in whole
    // microseconds step 312 and 313 µs at 3,200 a second, and a median of 313 lets a block of
    // 4,096 readings hide a pause of six steps.
    double mean = double(usual);
    if (!steps.empty()) {
        std::nth_element(steps.begin(), steps.begin() + std::ptrdiff_t(steps.size() / 2), steps.end());
        usual = std::max<Micros>(steps[steps.size() / 2], 1);
        double sum = 0;
        int n = 0;
        for (Micros s : steps)
            if (2 * s >= usual && 2 * s <= 3 * usual) sum += double(s), ++n;
        // Stamps that repeat (a file's whole milliseconds) leave the median's neighbours empty.
        mean = n ? sum / n : double(usual);
    }
    out.gap = std::max<Micros>(4 * usual, 1000);
    usualOf_ = session, usual_ = mean;
    return true;
}

bool RangeReader::usualStep(ObjectId session, double& out, StoreError& error)
{
    if (usualOf_ != session) {
        SessionExtent ignored;
        if (!extent(session, ignored, error)) return false;
    }
    out = usual_;
    return true;
}

bool RangeReader::envelope(ObjectId session, Micros from, Micros to, int columns, Envelope& out, StoreError& error)
{
    out = Envelope{};
    out.session = session;
    out.from = from;
    out.to = std::max(from, to);
    to = out.to;
    columns = std::max(columns, 1);
    out.columns.assign(std::size_t(columns), Envelope::Column{});
    auto addTo = [&](int c, std::int64_t count, Micros first, Micros last, const std::array<float, 3>& lo,
                     const std::array<float, 3>& hi) { addToColumn(out, c, count, first, last, lo, hi); };
    SummaryReader::Head head;
    if (!summary_->head(session, head)) return !failed(error);
    double usual = 0;
    if (!usualStep(session, usual, error)) return false;
    using Take = SummaryReader::Take;
    SummaryReader::Visitor v;
    // A block goes whole into a column when its readings all fall in it. One across a column's
    // edge waits until the rest is in: most often it changes neither column, and is not read
    // further. So does one across two columns, when its readings cannot hold a pause (they span
    // no more than their usual steps and one more).
    v.decide = [&](const SummaryBlock& b, int level, std::int64_t count) {
        if (b.maxTime < from || b.minTime > to) return Take::out;
        const bool inside = b.minTime >= from && b.maxTime <= to;
        const int first = inside ? Envelope::columnOf(b.minTime, from, to, columns) : -1;
        const int last = inside ? Envelope::columnOf(b.maxTime, from, to, columns) : -1;
        if (inside && first == last) return Take::whole;
        if (level == kFinestLevel) return Take::later;
        const bool steady = double(b.maxTime - b.minTime) <= double(count + 1) * usual;
        return inside && last == first + 1 && steady ? Take::later : Take::split;
    };
    v.whole = [&](const SummaryBlock& b, std::int64_t count) {
        addTo(Envelope::columnOf(b.minTime, from, to, columns), count, b.minTime, b.maxTime, b.min, b.max);
    };
    v.sample = [&](const SampleValues& s) {
        if (s.dateStamp < from || s.dateStamp > to) return;
        const std::array<float, 3> value{s.x, s.y, s.z};
        addTo(Envelope::columnOf(s.dateStamp, from, to, columns), 1, s.dateStamp, s.dateStamp, value, value);
    };
    struct Later {
        SummaryBlock block;
        int level;
        std::int64_t index, count;
    };
    std::vector<Later> later, finest;
    later.reserve(std::size_t(columns) * 2);
    v.later = [&](const SummaryBlock& b, int level, std::int64_t index, std::int64_t count) {
        later.push_back({b, level, index, count});
    };
    if (!summary_->walk(session, head, v)) return !failed(error);
    // A block left for later whose readings hold no pause and lie within the extremes its columns
    // already have changes none of them, whichever column each reading falls in: it is counted in
    // the first one, and the columns after it continue it. The others are split, those of a level
    // together; at the finest level their readings are read, runs of neighbours in one go, when
    // every other block is in.
    while (!later.empty()) {
        std::vector<Later> round;
        round.swap(later);
        // Neighbours to split share the rows they read.
        std::map<int, std::vector<std::int64_t>> split;
        for (const Later& l : round) {
            const bool steady = double(l.block.maxTime - l.block.minTime) <= double(l.count + 1) * usual;
            const int first = steady ? changesNothing(out, l.block) : -1;
            if (first >= 0) {
                const int last = Envelope::columnOf(l.block.maxTime, from, to, columns);
                out.columns[std::size_t(first)].count += l.count;
                out.count += l.count;
                for (int c = first + 1; c <= last; ++c) out.columns[std::size_t(c)].continues = true;
            } else if (l.level == kFinestLevel) {
                finest.push_back(l);
            } else {
                split[l.level].push_back(l.index);
            }
        }
        for (auto& [level, indexes] : split) {
            std::sort(indexes.begin(), indexes.end());
            if (!summary_->walkBelow(session, head, level, std::move(indexes), v)) return !failed(error);
        }
    }
    std::sort(finest.begin(), finest.end(), [](const Later& a, const Later& b) { return a.index < b.index; });
    for (std::size_t i = 0; i < finest.size();) {
        std::size_t end = i + 1;
        std::int64_t count = finest[i].count;
        while (end < finest.size() && finest[end].index == finest[end - 1].index + 1) count += finest[end++].count;
        summary_->readSamples(session, finest[i].block.firstId, count, v.sample);
        i = end;
    }
    if (failed(error)) return false;
    if (out.count > 0 && out.count <= columns) {
        // Few enough to draw one by one: through the time index, at most `columns` rows.
        out.readings.reserve(std::size_t(out.count));
        if (!reader_.forEachBetween(
                session, from, to,
                [&](const SampleValues& s) {
                    out.readings.push_back(s);
                    return true;
                },
                error))
            return false;
        out.hasReadings = true;
    }
    return true;
}

void RangeReader::warm(ObjectId session, const std::function<bool()>& keepGoing)
{
    // As many rows as the cache holds: growing it is what costs, and every wide frame reads the
    // coarse levels.
    Statement pageSize(reader_.database(), "PRAGMA page_size");
    const std::int64_t pages =
        pageSize.step() ? std::int64_t(cacheKiB) * 1024 / std::max<std::int64_t>(pageSize.int64(0), 512) : 0;
    SummaryReader::Head head;
    if (summary_->head(session, head)) summary_->touch(session, head, pages, keepGoing);
    StoreError ignored;
    failed(ignored);
}

bool RangeReader::nearest(ObjectId session, Micros at, SampleValues& out, bool& found, StoreError& error)
{
    found = false;
    Database& db = reader_.database();
    // One look-up each side in the (session_id, date_stamp) index.
    Statement before(db, "SELECT id, date_stamp, x_value, y_value, z_value FROM gdata WHERE session_id = ?1"
                         " AND date_stamp <= ?2 ORDER BY date_stamp DESC, id DESC LIMIT 1");
    Statement after(db, "SELECT id, date_stamp, x_value, y_value, z_value FROM gdata WHERE session_id = ?1"
                        " AND date_stamp > ?2 ORDER BY date_stamp, id LIMIT 1");
    for (Statement* q : {&before, &after}) {
        q->bind(1, session).bind(2, at);
        if (!q->step()) continue;
        const SampleValues s{q->int64(0),       q->int64(1),       float(q->real(2)),
                             float(q->real(3)), float(q->real(4)), session};
        if (!found || std::abs(s.dateStamp - at) < std::abs(out.dateStamp - at)) out = s;
        found = true;
    }
    return !failed(error);
}

} // namespace store
