// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TraceGeometry.h"

#include <algorithm>
#include <cmath>

// Every product and sum below is its own statement: a compiler may fuse a product and a sum of one
// expression into a single rounding, which would move points by a fraction of an ulp.

namespace trace {

namespace {

constexpr std::array<float, 3> kBaseLines{150.0f, 300.0f, 450.0f};
constexpr std::array<float, 3> kRestCentres{238.0f, 388.0f, 538.0f};
constexpr float kNeedleDrop = 100.0f; // needles stand this much lower than the traces...
constexpr float kNeedleLift = 12.0f;  // ...less this

int index(Axis axis)
{
    return static_cast<int>(axis);
}

float newestX(float width)
{
    return width - kNewestInset;
}

float olderX(float newest, std::size_t olderThanNewest)
{
    const float offset = static_cast<float>(kRowStep * olderThanNewest);
    return newest - offset;
}

std::uint32_t fiveTimes(std::uint64_t count)
{
    // Wraps like the unsigned 32-bit arithmetic the rules are stated in.
    return static_cast<std::uint32_t>(count) * kRowStep;
}

// Toward zero, as an integer, back to float.
float truncated(float value)
{
    return static_cast<float>(static_cast<std::int64_t>(value));
}

} // namespace

float baseLine(Axis axis)
{
    return kBaseLines[index(axis)];
}

float restCentre(Axis axis)
{
    return kRestCentres[index(axis)];
}

float valueOf(const ViewRow& row, Axis axis)
{
    switch (axis) {
    case Axis::X: return row.x;
    case Axis::Y: return row.y;
    case Axis::Z: return row.z;
    }
    return 0.0f;
}

float rowX(float width, std::size_t olderThanNewest)
{
    return olderX(newestX(width), olderThanNewest);
}

float valueY(float value, Axis axis)
{
    const float scaled = value * kPointsPerG;
    return scaled + baseLine(axis);
}

void tracePoints(const ViewBuffer& rows, float width, TracePolylines& out)
{
    for (auto& line : out.axes) {
        line.clear();
        line.reserve(rows.size());
    }
    const float newest = newestX(width);
    std::size_t i = 0;
    for (auto row = rows.rbegin(); row != rows.rend(); ++row, ++i) {
        const float x = olderX(newest, i);
        out.axes[0].emplace_back(x, valueY(row->x, Axis::X));
        out.axes[1].emplace_back(x, valueY(row->y, Axis::Y));
        out.axes[2].emplace_back(x, valueY(row->z, Axis::Z));
    }
}

TracePolylines tracePoints(const ViewBuffer& rows, float width)
{
    TracePolylines out;
    tracePoints(rows, width, out);
    return out;
}

bool clipToBand(QPointF& a, QPointF& b, double top, double bottom)
{
    if ((a.y() < top && b.y() < top) || (a.y() > bottom && b.y() > bottom)) return false;
    auto onEdge = [](const QPointF& from, const QPointF& to, double y) {
        const double t = (y - from.y()) / (to.y() - from.y());
        return QPointF(from.x() + t * (to.x() - from.x()), y);
    };
    const QPointF a0 = a, b0 = b;
    if (a0.y() < top)
        a = onEdge(a0, b0, top);
    else if (a0.y() > bottom)
        a = onEdge(a0, b0, bottom);
    if (b0.y() < top)
        b = onEdge(a0, b0, top);
    else if (b0.y() > bottom)
        b = onEdge(a0, b0, bottom);
    return true;
}

std::uint32_t gridPhase(std::uint64_t sampleCount)
{
    return fiveTimes(sampleCount) % 50u;
}

int gridStart(std::uint64_t sampleCount)
{
    return kGridFirstLine - static_cast<int>(gridPhase(sampleCount));
}

void gridLines(float width, float height, std::uint64_t sampleCount, GridLines& out)
{
    out.vertical.clear();
    out.horizontal.clear();
    // A size that is not finite would never end a series: it gets the first line of each only.
    const bool finite = std::isfinite(width) && std::isfinite(height);

    const float start = static_cast<float>(gridStart(sampleCount));
    const float lastBefore = width - kGridSpacing;
    for (int t = 0;; ++t) {
        const float product = static_cast<float>(t) * kGridSpacing;
        const float x = truncated(product + start);
        out.vertical.emplace_back(x, 0.0f, x, height);
        // The test follows the line, so the lattice always reaches past the right edge.
        if (!finite || !(x <= lastBefore)) break;
    }

    for (int k = 0;; ++k) {
        const float y = truncated(static_cast<float>(k) * kGridSpacing);
        out.horizontal.emplace_back(0.0f, y, width, y);
        if (!finite || !(y <= height)) break;
    }
}

GridLines gridLines(float width, float height, std::uint64_t sampleCount)
{
    GridLines out;
    gridLines(width, height, sampleCount, out);
    return out;
}

QRectF needleFrame(const QRectF& current, Axis axis, std::optional<float> value)
{
    float centre = restCentre(axis);
    if (value) {
        const float scaled = *value * kPointsPerG;
        const float onTrace = scaled + baseLine(axis);
        const float dropped = onTrace + kNeedleDrop;
        centre = dropped - kNeedleLift;
    }
    const float halfUp = static_cast<float>(current.height()) * -0.5f;
    const float y = halfUp + centre;
    return {current.x(), y, current.width(), current.height()};
}

bool trimsOldestRow(std::size_t rowCount, float width)
{
    return static_cast<float>(fiveTimes(rowCount)) > newestX(width);
}

std::uint32_t bulkTrimCount(std::size_t rowCount, float width)
{
    if (!trimsOldestRow(rowCount, width)) return 0;
    // Clamped only so that a width outside the design cannot make the conversion undefined.
    const double whole = std::clamp(std::trunc(static_cast<double>(width)), 0.0, 4294967295.0);
    const std::uint32_t truncatedWidth = static_cast<std::uint32_t>(whole);
    return (fiveTimes(rowCount) + 118u - truncatedWidth) / kRowStep;
}

std::size_t rowsKeptByRebuild(std::size_t rowCount, float width)
{
    const std::size_t removed = bulkTrimCount(rowCount, width);
    return rowCount - std::min(removed, rowCount);
}

} // namespace trace
