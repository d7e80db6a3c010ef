// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a stretch of a stored session looks like at a given width, for review: through a read-only
// connection of its own (any thread, never holding up a save), each pixel column's lowest and
// highest value per axis from the summary pyramid, so that a frame costs about the same few
// thousand blocks whether the stretch holds a hundred readings or a hundred million. When the
// stretch holds no more readings than columns, the readings themselves come too.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/store/Records.h"
#include "platform/store/SessionReader.h"
#include "platform/store/SummaryReader.h"

namespace store {

// The readings of [from, to] in `columns` equal columns of time.
struct Envelope {
    ObjectId session = 0;
    Micros from = 0, to = 0;
    struct Column {
        // Readings in it; 0: nothing was recorded then (a gap). A block of readings across a
        // column's edge that changes neither column's extremes is counted in the first column
        // only, and its times in neither: the sum over all columns is exact, and each column's
        // times lie within those of its readings.
        std::int64_t count = 0;
        Micros first = 0, last = 0;
        std::array<float, 3> min{}, max{};
        // Its readings follow the previous column's without a pause (known where a block across
        // the edge between them was counted whole); else that is told by their times.
        bool continues = false;
    };
    std::vector<Column> columns;
    std::int64_t count = 0;
    // The readings in time order, when there are no more of them than columns; else empty.
    std::vector<SampleValues> readings;
    bool hasReadings = false;

    // The column a time in [from, to] falls in; the same arithmetic for every caller.
    static int columnOf(Micros t, Micros from, Micros to, int columns)
    {
        return int((t - from) * columns / (to - from + 1));
    }
    // The first time of a column (the end of the last is to + 1).
    static Micros columnStart(int i, Micros from, Micros to, int columns)
    {
        // The smallest t with columnOf(t) >= i.
        const Micros span = to - from + 1;
        return from + (Micros(i) * span + columns - 1) / columns;
    }
};

// A session's extent for review.
struct SessionExtent {
    std::int64_t samples = 0; // saved readings
    Micros first = 0, last = 0;
    Micros gap = 0; // readings further apart than this are not joined
};

class RangeReader {
public:
    RangeReader();
    ~RangeReader();
    // Opens the store read-only; refuses one without summaries (older than version 4).
    bool open(const std::string& path, StoreError& error);

    // What is read between begin() and end() is of one moment of the store, and costs one lock.
    bool begin(StoreError& error);
    void end();

    bool extent(ObjectId session, SessionExtent& out, StoreError& error);
    // [from, to] in `columns` columns (from <= to, columns >= 1).
    bool envelope(ObjectId session, Micros from, Micros to, int columns, Envelope& out, StoreError& error);
    // Reads as many of the session's summary rows as the connection's cache holds, coarsest last
    // (see SummaryReader::touch), so that the first steps after opening do not pay for filling
    // it; stops as soon as `keepGoing` says so. Only speeds later reads up: nothing is kept or
    // reported.
    void warm(ObjectId session, const std::function<bool()>& keepGoing);
    // The saved reading nearest to a time; false in `found` when the session has none.
    bool nearest(ObjectId session, Micros at, SampleValues& out, bool& found, StoreError& error);

    SessionReader& sessionReader() { return reader_; }

private:
    bool failed(StoreError& error);
    // The usual time between the session's readings in µs, as its extent found it.
    bool usualStep(ObjectId session, double& out, StoreError& error);

    SessionReader reader_;
    ObjectId usualOf_ = 0;
    double usual_ = 0;
    std::unique_ptr<SummaryReader> summary_;
};

} // namespace store
