// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TraceBuffer.h"

#include <algorithm>
#include <cmath>

#include "ui/TraceGeometry.h"

namespace {

// An envelope row takes in one more reading.
void widen(ViewRow& row, const std::array<float, 3>& v)
{
    for (std::size_t a = 0; a < 3; ++a) {
        row.low[a] = std::min(row.low[a], v[a]);
        row.high[a] = std::max(row.high[a], v[a]);
    }
}

} // namespace

void TraceBuffer::setRate(double rate)
{
    const int whole = std::max(1, int(std::lround(rate)));
    const int perRow = (whole + fastestRowRate - 1) / fastestRowRate;
    if (perRow != readingsPerRow_) columnCount_ = 0; // a row is never made of two paces
    readingsPerRow_ = perRow;
}

void TraceBuffer::append(float x, float y, float z)
{
    if (readingsPerRow_ == 1) {
        appendRow(ViewRow{x, y, z});
        return;
    }
    const std::array<float, 3> v{x, y, z};
    if (columnCount_ == 0) {
        column_ = ViewRow{};
        column_.envelope = true;
        column_.low = column_.high = v;
    }
    widen(column_, v);
    column_.x = x;
    column_.y = y;
    column_.z = z;
    if (++columnCount_ == readingsPerRow_) {
        appendRow(column_);
        columnCount_ = 0;
    }
}

void TraceBuffer::appendRow(const ViewRow& row)
{
    rows_->push_back(row);
    if (trace::trimsOldestRow(rows_->size(), width_)) rows_->pop_front();
}

void TraceBuffer::clear()
{
    // Replaced whole: whoever holds the old buffer keeps what it had.
    rows_ = std::make_shared<ViewBuffer>();
    columnCount_ = 0;
}

std::size_t TraceBuffer::rowsWanted(std::int64_t count) const
{
    const std::size_t perRow = std::size_t(readingsPerRow_);
    return trace::rowsKeptByRebuild(std::size_t(std::max<std::int64_t>(count, 0)) / perRow, width_) * perRow;
}

void TraceBuffer::rebuild(const std::vector<store::SampleValues>& samples)
{
    columnCount_ = 0;
    const std::size_t perRow = std::size_t(readingsPerRow_);
    auto rows = std::make_shared<ViewBuffer>();
    for (std::size_t first = 0; first + perRow <= samples.size(); first += perRow) {
        const store::SampleValues& last = samples[first + perRow - 1];
        ViewRow row{last.x, last.y, last.z};
        if (perRow > 1) {
            row.envelope = true;
            row.low = row.high = {last.x, last.y, last.z};
            for (std::size_t i = first; i < first + perRow; ++i) widen(row, {samples[i].x, samples[i].y, samples[i].z});
        }
        rows->push_back(row);
    }
    rows_ = rows;
}
