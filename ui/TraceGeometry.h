// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the trace view and the needles put things: trace points, grid lines, needle frames and
// the trims that keep the view buffer within the trace view's width. Pure functions in single
// precision, so that every coordinate comes out the same on every run and every machine.
#include <QLineF>
#include <QPointF>
#include <QRectF>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "ui/ViewRow.h"

namespace trace {

enum class Axis { X = 0, Y = 1, Z = 2 };
inline constexpr std::array<Axis, 3> kAxes{Axis::X, Axis::Y, Axis::Z};

inline constexpr float kPointsPerG = 50.0f;
inline constexpr float kNewestInset = 118.0f; // the newest row sits this far left of the right edge
inline constexpr std::uint32_t kRowStep = 5;  // points between consecutive rows
inline constexpr float kGridSpacing = 50.0f;
inline constexpr int kGridFirstLine = -18; // x of the first vertical grid line before scrolling

float baseLine(Axis axis);   // y of 0 g: 150, 300, 450
float restCentre(Axis axis); // y of a needle's centre at 0 g: 238, 388, 538
float valueOf(const ViewRow& row, Axis axis);

// Trace points

float rowX(float width, std::size_t olderThanNewest); // (W - 118) - 5 i
float valueY(float value, Axis axis);                 // 50 v + base

// One polyline per axis (indexed by Axis), newest row first.
struct TracePolylines {
    std::array<std::vector<QPointF>, 3> axes;
    const std::vector<QPointF>& operator[](Axis axis) const { return axes[static_cast<int>(axis)]; }
};

// Refills `out`, keeping its capacity, so that a redraw allocates nothing once warm.
void tracePoints(const ViewBuffer& rows, float width, TracePolylines& out);
TracePolylines tracePoints(const ViewBuffer& rows, float width);

// The part of the segment a-b between the heights top and bottom; false when none of it is.
// Strokes far outside the view cost the painter time that grows with their length, so points
// of large values are clipped before they are stroked.
bool clipToBand(QPointF& a, QPointF& b, double top, double bottom);

// Grid

// Horizontal offset of the vertical lines for a session of `sampleCount` samples: 0, 5, ..., 45.
std::uint32_t gridPhase(std::uint64_t sampleCount);
int gridStart(std::uint64_t sampleCount); // x of the first vertical line: -18 - phase

struct GridLines {
    std::vector<QLineF> vertical;   // left to right, each from (x, 0) to (x, H)
    std::vector<QLineF> horizontal; // top to bottom, each from (0, y) to (W, y)
};

// Refills `out`, keeping its capacity. The last vertical line is the first one beyond W - 50 and the
// last horizontal one the first beyond H, so the lattice always reaches past the view's edges.
void gridLines(float width, float height, std::uint64_t sampleCount, GridLines& out);
GridLines gridLines(float width, float height, std::uint64_t sampleCount);

// Needles

// The needle's frame moved so that its centre shows `value` (or 0 g when there is no row);
// x, width and height stay as they are.
QRectF needleFrame(const QRectF& current, Axis axis, std::optional<float> value);

// Trims

// Whether a reading that made the buffer `rowCount` rows long pushes the oldest row out.
bool trimsOldestRow(std::size_t rowCount, float width);

// How many of the oldest rows a rebuild of `rowCount` rows removes at once.
std::uint32_t bulkTrimCount(std::size_t rowCount, float width);

// How many rows, the newest ones, stay after a rebuild of a session holding `rowCount` samples:
// all the store needs to deliver for the rebuilt buffer to equal the trimmed full one.
std::size_t rowsKeptByRebuild(std::size_t rowCount, float width);

} // namespace trace
