// SPDX-License-Identifier: GPL-3.0-or-later
// What review draws of a stretch at a width is what the rows hold, column by column, at every zoom.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <limits>
#include <random>
#include <stdexcept>

#include "platform/store/ObjectContext.h"
#include "platform/store/RangeReader.h"

using namespace store;

TEST(RangeReader, EachColumnHoldsTheExtremesOfItsRowsAtEveryZoom)
{
    QTemporaryDir dir;
    const std::string path = (dir.path() + "/Quivra.sqlite").toStdString();
    std::vector<SampleValues> rows;
    ObjectId session = 0;
    {
        ObjectContext c;
        StoreError error;
        ASSERT_TRUE(c.open(path, error));
        c.insertSession(1); // another session's rows must stay out
        c.insertSample(5, 9.0f, 9.0f, 9.0f, 1);
        session = c.insertSession(2);
        std::mt19937 random(11);
        std::normal_distribution<float> value(0.0f, 1.0f);
        Micros t = 1'000'000;
        for (int i = 0; i < 50000; ++i) {
            // 3,200 a second in whole microseconds, with a pause of two seconds and one of a few
            // readings, each across blocks of every size at some zoom.
            t += i == 20000 ? 2'000'000 : i == 35000 ? 1'600 : i % 2 ? 313 : 312;
            // Still around the short pause, so that nothing but its times tells it.
            const bool still = i >= 30000 && i < 40000;
            const float x = still ? 0.5f : value(random), y = still ? 0.0f : value(random),
                        z = still ? -1.0f : value(random);
            c.insertSample(t, x, y, z, session);
            rows.push_back({0, t, x, y, z, session});
        }
        ASSERT_TRUE(c.save(error));
    }
    RangeReader reader;
    StoreError error;
    ASSERT_TRUE(reader.open(path, error)) << error.describe();
    SessionExtent extent;
    ASSERT_TRUE(reader.extent(session, extent, error));
    EXPECT_EQ(extent.samples, 50000);
    EXPECT_EQ(extent.first, rows.front().dateStamp);
    EXPECT_EQ(extent.last, rows.back().dateStamp);
    EXPECT_EQ(extent.gap, 4 * 313);

    auto check = [&](const Micros from, const Micros to, const int columns) {
        const Micros span = to - from;
        Envelope e;
        ASSERT_TRUE(reader.envelope(session, from, to, columns, e, error));
        std::vector<Envelope::Column> want(static_cast<std::size_t>(columns));
        std::vector<SampleValues> inRange;
        for (const SampleValues& r : rows) {
            if (r.dateStamp < from || r.dateStamp > to) continue;
            inRange.push_back(r);
            Envelope::Column& c = want[std::size_t(Envelope::columnOf(r.dateStamp, from, to, columns))];
            const std::array<float, 3> v{r.x, r.y, r.z};
            for (int a = 0; a < 3; ++a) {
                c.min[a] = c.count ? std::min(c.min[a], v[a]) : v[a];
                c.max[a] = c.count ? std::max(c.max[a], v[a]) : v[a];
            }
            c.first = c.count ? c.first : r.dateStamp;
            c.last = r.dateStamp;
            ++c.count;
        }
        ASSERT_EQ(e.count, std::int64_t(inRange.size()));
        for (int i = 0; i < columns; ++i) {
            const Envelope::Column &got = e.columns[std::size_t(i)], &w = want[std::size_t(i)];
            ASSERT_EQ(got.count > 0, w.count > 0) << "column " << i << " of " << columns << " over " << span;
            if (!w.count) continue;
            EXPECT_GE(got.first, w.first);
            EXPECT_LE(got.last, w.last);
            EXPECT_EQ(got.min, w.min);
            EXPECT_EQ(got.max, w.max);
        }
        // A pause is drawn between neighbours where the readings pause, and nowhere else.
        for (int i = 1; i < columns; ++i) {
            const Envelope::Column &a = want[std::size_t(i - 1)], &b = want[std::size_t(i)];
            if (!a.count || !b.count) continue;
            const Envelope::Column &gotA = e.columns[std::size_t(i - 1)], &gotB = e.columns[std::size_t(i)];
            ASSERT_EQ(gotB.continues || gotB.first - gotA.last <= extent.gap, b.first - a.last <= extent.gap)
                << "between columns " << i - 1 << " and " << i << " of " << columns << " over " << span;
        }
        // Columns begin where the arithmetic puts them (narrower than a microsecond: none).
        for (int i = 1; i < columns; ++i) {
            const Micros s = Envelope::columnStart(i, from, to, columns);
            ASSERT_GE(Envelope::columnOf(s, from, to, columns), i);
            ASSERT_LT(Envelope::columnOf(s - 1, from, to, columns), i);
        }
        ASSERT_EQ(e.hasReadings, !inRange.empty() && std::int64_t(inRange.size()) <= columns);
        if (e.hasReadings) {
            ASSERT_EQ(e.readings.size(), inRange.size());
            for (std::size_t i = 0; i < inRange.size(); ++i) EXPECT_EQ(e.readings[i].dateStamp, inRange[i].dateStamp);
        }
    };
    std::mt19937 random(5);
    // From the whole session down to a few readings over many columns.
    for (Micros span : {Micros(20'000'000), Micros(3'000'000), Micros(100'000), Micros(2'000), Micros(300)})
        for (int k = 0; k < 6; ++k) {
            const Micros from = extent.first - 1000 + Micros(random() % 20'000'000);
            check(from, from + span, 1 + int(random() % 1500));
        }
    // The short pause exactly at a column's edge, from the widest zoom down.
    const Micros pause = rows[34999].dateStamp + 800;
    for (Micros span : {Micros(18'000'000), Micros(5'000'000), Micros(1'300'000), Micros(90'000)})
        for (int columns : {1196, 613, 24, 8}) {
            const Micros from = pause - (Micros(columns / 2) * (span + 1) + columns - 1) / columns;
            ASSERT_EQ(Envelope::columnStart(columns / 2, from, from + span, columns), pause);
            check(from, from + span, columns);
        }

    // The nearest reading to a time, either side of the pause.
    SampleValues near;
    bool found = false;
    ASSERT_TRUE(reader.nearest(session, rows[19999].dateStamp + 100, near, found, error));
    ASSERT_TRUE(found);
    EXPECT_EQ(near.dateStamp, rows[19999].dateStamp);
    EXPECT_EQ(near.x, rows[19999].x);
    ASSERT_TRUE(reader.nearest(session, rows[20000].dateStamp - 100, near, found, error));
    EXPECT_EQ(near.dateStamp, rows[20000].dateStamp);
}

// A long walk reads ahead on a thread of its own: every row still comes once and in order, and a
// walk its visitor stops or throws out of ends there, with the store free for the next read.
TEST(RangeReader, ALongWalkGivesEveryRowInOrderAndEndsWhereItsVisitorStops)
{
    QTemporaryDir dir;
    const std::string path = (dir.path() + "/Quivra.sqlite").toStdString();
    constexpr int count = 60000;
    ObjectId session = 0;
    {
        ObjectContext c;
        StoreError error;
        ASSERT_TRUE(c.open(path, error));
        session = c.insertSession(1);
        // Inserted newest first: time order is not the order of the rows.
        for (int i = count - 1; i >= 0; --i) c.insertSample(1000 + Micros(i) * 312, float(i), 0.0f, -1.0f, session);
        ASSERT_TRUE(c.save(error));
    }
    RangeReader range;
    StoreError error;
    ASSERT_TRUE(range.open(path, error)) << error.describe();
    SessionReader& reader = range.sessionReader();
    int seen = 0;
    ASSERT_TRUE(reader.forEachBetween(
        session, 0, std::numeric_limits<Micros>::max(),
        [&](const SampleValues& v) {
            EXPECT_EQ(v.x, float(seen)) << "row " << seen;
            return ++seen > 0;
        },
        error));
    EXPECT_EQ(seen, count);

    for (const int stopAt : {5, 8192, 8193, 40000}) {
        seen = 0;
        ASSERT_TRUE(reader.forEachBetween(
            session, 0, std::numeric_limits<Micros>::max(), [&](const SampleValues&) { return ++seen < stopAt; },
            error));
        EXPECT_EQ(seen, stopAt);
    }
    seen = 0;
    EXPECT_THROW(reader.forEachBetween(
                     session, 0, std::numeric_limits<Micros>::max(),
                     [&](const SampleValues&) {
                         if (++seen == 30000) throw std::runtime_error("enough");
                         return true;
                     },
                     error),
                 std::runtime_error);
    EXPECT_EQ(seen, 30000);
    SessionExtent extent;
    ASSERT_TRUE(range.extent(session, extent, error)) << error.describe();
    EXPECT_EQ(extent.samples, count);
}
