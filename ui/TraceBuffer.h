// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The view buffer behind the live traces: the newest rows that fit the trace view's width, one
// row per reading, or above 200 readings a second one row per few readings holding their
// envelope, so that the trace scrolls no faster than 200 rows a second.
#include <array>
#include <cstdint>
#include <vector>

#include "ui/ViewRow.h"
#include "platform/store/Records.h"

class TraceBuffer {
public:
    // The trace scrolls at most this many rows a second; faster readings share rows.
    static constexpr int fastestRowRate = 200;

    const SharedViewBuffer& rows() const { return rows_; }
    void setRows(SharedViewBuffer rows) { rows_ = std::move(rows); }
    // The trace view's width bounds the buffer.
    void setWidth(float width) { width_ = width; }
    float width() const { return width_; }
    // Readings per row at a rate: 1 up to 200 a second, more above. A new pace starts a new row.
    void setRate(double rate);
    int readingsPerRow() const { return readingsPerRow_; }

    // One reading, less the tare; the oldest row leaves when the buffer is wider than the view.
    void append(float x, float y, float z);
    // A fresh, empty buffer (a new or cleared session).
    void clear();
    // Rebuilt from the newest stored samples (oldest first), keeping only the rows that survive
    // the trim; `count` is how many samples the session holds. Returns how many it wants: call
    // again with that many newest samples.
    std::size_t rowsWanted(std::int64_t count) const;
    void rebuild(const std::vector<store::SampleValues>& newest);

private:
    void appendRow(const ViewRow& row);

    SharedViewBuffer rows_ = std::make_shared<ViewBuffer>();
    float width_ = 0.0f;
    int readingsPerRow_ = 1;
    ViewRow column_; // the row being filled, above 200 readings a second
    int columnCount_ = 0;
};
