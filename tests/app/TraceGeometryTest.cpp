// SPDX-License-Identifier: GPL-3.0-or-later
// Coordinates of traces, grid and needles, and the trims of the view buffer, against worked numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ui/TraceGeometry.h"

using trace::Axis;

namespace {

ViewBuffer rows(std::size_t count, float x = 0.0f, float y = 0.0f, float z = 0.0f)
{
    return ViewBuffer(count, ViewRow{x, y, z});
}

std::vector<double> firstCoordinates(const std::vector<QLineF>& lines, bool vertical)
{
    std::vector<double> out;
    for (const QLineF& line : lines) out.push_back(vertical ? line.x1() : line.y1());
    return out;
}

// Length of a buffer that starts at `start` rows and gets 1000 readings, trimmed after each.
std::size_t grownByReadings(float width, std::size_t start = 0)
{
    std::size_t n = start;
    for (int i = 0; i < 1000; ++i)
        if (trace::trimsOldestRow(++n, width)) --n;
    return n;
}

} // namespace

TEST(TraceGeometry, TracePointsNewestFirstFivePointsApartInSinglePrecision)
{
    ViewBuffer buffer = rows(11);
    buffer.back() = ViewRow{1.0f, 3.0f, -1.0f};
    buffer.front() = ViewRow{-1.0f, 0.1f, 0.0f};
    trace::TracePolylines points;
    trace::tracePoints(buffer, 1000.0f, points);
    for (Axis axis : trace::kAxes) {
        ASSERT_EQ(points[axis].size(), 11u);
        EXPECT_EQ(points[axis][0].x(), 882.0);
        EXPECT_EQ(points[axis][1].x(), 877.0);
        EXPECT_EQ(points[axis][10].x(), 832.0);
    }
    // +1 g on X is 50 below its base line, +3 g on Y reaches Z's base line, 0 g is on the base.
    EXPECT_EQ(points[Axis::X][0].y(), 200.0);
    EXPECT_EQ(points[Axis::Y][0].y(), 450.0);
    EXPECT_EQ(points[Axis::Z][0].y(), 400.0);
    EXPECT_EQ(points[Axis::X][10].y(), 100.0);
    EXPECT_EQ(points[Axis::Z][10].y(), 450.0);
    // 0.1f * 50 rounds to exactly 5 in float; in double the point would lie at 305.0000000745.
    EXPECT_EQ(points[Axis::Y][10].y(), 305.0);
    // Rounding the product before the sum: one float step above the sum done in double.
    EXPECT_EQ(trace::valueY(0x1.4e7e78p+1f, Axis::X), 0x1.18a968p+8f);

    // Output is refilled, not appended to; the newest point follows the width.
    trace::tracePoints(rows(100), 1000.0f, points);
    EXPECT_EQ(points[Axis::X].back().x(), 387.0);
    trace::tracePoints(rows(1), 700.0f, points);
    ASSERT_EQ(points[Axis::Y].size(), 1u);
    EXPECT_EQ(points[Axis::Y][0], QPointF(582.0, 300.0));
    trace::tracePoints(ViewBuffer{}, 700.0f, points);
    EXPECT_TRUE(points[Axis::Z].empty());
}

TEST(TraceGeometry, GridOfThousandBySixHundredAtCountZero)
{
    const auto grid = trace::gridLines(1000.0f, 600.0f, 0);
    std::vector<double> expectedX;
    for (int x = -18; x <= 982; x += 50) // 982: the first beyond W - 50 closes the lattice
        expectedX.push_back(x);
    EXPECT_EQ(firstCoordinates(grid.vertical, true), expectedX);
    EXPECT_EQ(grid.vertical.size(), 21u);
    EXPECT_EQ(grid.vertical[3], QLineF(132, 0, 132, 600));

    std::vector<double> expectedY;
    for (int y = 0; y <= 650; y += 50) // 650: the first below the view
        expectedY.push_back(y);
    EXPECT_EQ(firstCoordinates(grid.horizontal, false), expectedY);
    EXPECT_EQ(grid.horizontal.size(), 14u);
    EXPECT_EQ(grid.horizontal[3], QLineF(0, 150, 1000, 150));
}

TEST(TraceGeometry, GridScrollsFivePointsPerSampleInThirtyTwoBits)
{
    auto firstThree = [](std::uint64_t count) {
        const auto x = firstCoordinates(trace::gridLines(1000.0f, 600.0f, count).vertical, true);
        return std::vector<double>(x.begin(), x.begin() + 3);
    };
    EXPECT_EQ(firstThree(1), (std::vector<double>{-23, 27, 77}));
    EXPECT_EQ(firstThree(9), (std::vector<double>{-63, -13, 37}));
    EXPECT_EQ(firstThree(10), (std::vector<double>{-18, 32, 82}));
    EXPECT_EQ(firstThree(13), (std::vector<double>{-33, 17, 67}));
    EXPECT_EQ(trace::gridPhase(858'993'459), 45u); // 5 N = 2^32 - 1
    EXPECT_EQ(trace::gridStart(858'993'460), -22); // 5 N wraps to 4

    // Too narrow for a second vertical line: one still comes; a flat view gets 0 and the next.
    const auto tiny = trace::gridLines(10.0f, 0.0f, 0);
    EXPECT_EQ(firstCoordinates(tiny.vertical, true), (std::vector<double>{-18}));
    EXPECT_EQ(firstCoordinates(tiny.horizontal, false), (std::vector<double>{0, 50}));
    const auto endless = trace::gridLines(INFINITY, NAN, 0);
    EXPECT_EQ(endless.vertical.size() + endless.horizontal.size(), 2u);
}

TEST(TraceGeometry, NeedleFramesAtRestAndAtAValue)
{
    const QRectF tall24(930.0, 10.0, 40.0, 24.0);
    EXPECT_EQ(trace::needleFrame(tall24, Axis::X, std::nullopt), QRectF(930.0, 226.0, 40.0, 24.0));
    EXPECT_EQ(trace::needleFrame(tall24, Axis::Y, std::nullopt).y(), 376.0);
    EXPECT_EQ(trace::needleFrame(tall24, Axis::Z, std::nullopt).y(), 526.0);
    EXPECT_EQ(trace::needleFrame(tall24, Axis::X, 1.0f).y(), 276.0);
    EXPECT_EQ(trace::needleFrame(QRectF(5.0, 700.0, 44.0, 30.0), Axis::Z, -2.0f), QRectF(5.0, 423.0, 44.0, 30.0));
    EXPECT_EQ(trace::needleFrame(tall24, Axis::Y, 0.0f), trace::needleFrame(tall24, Axis::Y, {}));
    EXPECT_EQ(trace::needleFrame(QRectF(0, 0, 40, 25), Axis::X, std::nullopt).y(), 225.5);
    EXPECT_EQ(trace::needleFrame(tall24, Axis::X, 0.1f).y(), 231.0); // single precision
    EXPECT_EQ(trace::needleFrame(tall24, Axis::X, 0x1.4e7e78p+1f).y(), 0x1.64a968p+8);
}

TEST(TraceGeometry, ReadingsTrimTheBufferToTheWidth)
{
    EXPECT_EQ(grownByReadings(1024.0f), 181u);
    EXPECT_EQ(grownByReadings(768.0f), 130u);
    EXPECT_EQ(grownByReadings(1000.0f), 176u);
    EXPECT_EQ(grownByReadings(123.0f), 1u);
    EXPECT_EQ(grownByReadings(122.9f), 0u);
    // A longer buffer (a narrower view, or a rebuild that kept one more) keeps its length.
    EXPECT_EQ(grownByReadings(768.0f, 181), 181u);
    EXPECT_EQ(grownByReadings(1000.0f, 177), 177u);
}

TEST(TraceGeometry, RebuildKeepsTheNewestRowsThatFitTheWidth)
{
    EXPECT_EQ(trace::bulkTrimCount(177, 1000.0f), 0u); // above the bound, but 3 / 5 rounds to 0
    EXPECT_EQ(trace::bulkTrimCount(178, 1000.0f), 1u);
    EXPECT_EQ(trace::bulkTrimCount(1000, 1000.0f), 823u);
    EXPECT_EQ(trace::rowsKeptByRebuild(176, 1000.0f), 176u);
    EXPECT_EQ(trace::rowsKeptByRebuild(1000, 1003.0f), 177u);
    EXPECT_EQ(trace::rowsKeptByRebuild(5000, 1000.9f), 177u); // the width is truncated

    // In general: all rows, up to ceil((trunc(W) - 118) / 5) of them.
    for (int width : {119, 123, 124, 768, 1000, 1001, 1002, 1003, 1004, 1024}) {
        const auto bound = static_cast<std::size_t>(std::ceil((width - 118) / 5.0));
        for (std::size_t n = 0; n < 400; ++n)
            ASSERT_EQ(trace::rowsKeptByRebuild(n, static_cast<float>(width)), std::min(n, bound))
                << "width " << width << ", " << n << " rows";
    }
}
