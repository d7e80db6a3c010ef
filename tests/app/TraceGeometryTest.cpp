// Coordinates of traces, grid and needles, and the trims of the view buffer, against worked numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "Classes/TraceGeometry.h"

using trace::Axis;

namespace {

ViewBuffer rows(std::size_t count, float x = 0.0f, float y = 0.0f, float z = 0.0f)
{
    return ViewBuffer(count, ViewRow{0, x, y, z});
}

std::vector<double> xs(const std::vector<QLineF>& lines)
{
    std::vector<double> out;
    for (const QLineF& line : lines)
        out.push_back(line.x1());
    return out;
}

std::vector<double> ys(const std::vector<QLineF>& lines)
{
    std::vector<double> out;
    for (const QLineF& line : lines)
        out.push_back(line.y1());
    return out;
}

// Length of a buffer that starts empty and gets `readings` rows, trimmed after each one.
std::size_t grownByReadings(float width, std::size_t start = 0, int readings = 1000)
{
    std::size_t n = start;
    for (int i = 0; i < readings; ++i) {
        ++n;
        if (trace::trimsOldestRow(n, width))
            --n;
    }
    return n;
}

} // namespace

TEST(TraceGeometryPoints, NewestRowRightmostOlderRowsFivePointsApart)
{
    ViewBuffer buffer = rows(11);
    buffer.back() = ViewRow{0, 1.0f, 3.0f, -1.0f};
    buffer.front() = ViewRow{0, -1.0f, 0.0f, 0.0f};
    const auto points = trace::tracePoints(buffer, 1000.0f);

    for (Axis axis : trace::kAxes) {
        const auto& line = points[axis];
        ASSERT_EQ(line.size(), 11u);
        EXPECT_EQ(line[0].x(), 882.0);
        EXPECT_EQ(line[1].x(), 877.0);
        EXPECT_EQ(line[10].x(), 832.0);
    }
    // Newest first: +1 g on X is 50 below its base line, +3 g on Y reaches Z's base line.
    EXPECT_EQ(points[Axis::X][0].y(), 200.0);
    EXPECT_EQ(points[Axis::Y][0].y(), 450.0);
    EXPECT_EQ(points[Axis::Z][0].y(), 400.0);
    // Oldest last; 0 g lies on the base line.
    EXPECT_EQ(points[Axis::X][10].y(), 100.0);
    EXPECT_EQ(points[Axis::Y][10].y(), 300.0);
    EXPECT_EQ(points[Axis::Z][10].y(), 450.0);
    EXPECT_EQ(points[Axis::X][5].y(), 150.0);
}

TEST(TraceGeometryPoints, ComputedInSinglePrecision)
{
    // 0.1f * 50 rounds to exactly 5 in float; in double the point would be 155.0000000745.
    const auto points = trace::tracePoints(rows(1, 0.1f, 0.1f, 0.1f), 1000.0f);
    EXPECT_EQ(points[Axis::X][0].y(), 155.0);
    EXPECT_EQ(points[Axis::Y][0].y(), 305.0);
    EXPECT_EQ(points[Axis::Z][0].y(), 455.0);
    EXPECT_EQ(trace::valueY(0.1f, Axis::X), 155.0f);
    // Values are not clamped.
    EXPECT_EQ(trace::valueY(-10.0f, Axis::X), -350.0f);
}

TEST(TraceGeometryPoints, FollowTheWidthAndRefillReusedOutput)
{
    trace::TracePolylines points;
    trace::tracePoints(rows(100), 1000.0f, points);
    EXPECT_EQ(points[Axis::X].back().x(), 387.0); // oldest of 100 rows

    trace::tracePoints(rows(1), 700.0f, points);
    ASSERT_EQ(points[Axis::Y].size(), 1u);
    EXPECT_EQ(points[Axis::Y][0], QPointF(582.0, 300.0));

    trace::tracePoints(ViewBuffer{}, 700.0f, points);
    for (Axis axis : trace::kAxes)
        EXPECT_TRUE(points[axis].empty());
}

TEST(TraceGeometryGrid, ThousandBySixHundredAtCountZero)
{
    const auto grid = trace::gridLines(1000.0f, 600.0f, 0);

    std::vector<double> expectedX;
    for (int x = -18; x <= 932; x += 50)
        expectedX.push_back(x);
    expectedX.push_back(982.0); // the first beyond W - 50 closes the lattice
    EXPECT_EQ(xs(grid.vertical), expectedX);
    EXPECT_EQ(grid.vertical.size(), 21u);
    for (const QLineF& line : grid.vertical) {
        EXPECT_EQ(line.x2(), line.x1());
        EXPECT_EQ(line.y1(), 0.0);
        EXPECT_EQ(line.y2(), 600.0);
    }

    std::vector<double> expectedY;
    for (int y = 0; y <= 650; y += 50)
        expectedY.push_back(y);
    EXPECT_EQ(ys(grid.horizontal), expectedY);
    EXPECT_EQ(grid.horizontal.size(), 14u);
    for (const QLineF& line : grid.horizontal) {
        EXPECT_EQ(line.y2(), line.y1());
        EXPECT_EQ(line.x1(), 0.0);
        EXPECT_EQ(line.x2(), 1000.0);
    }
}

TEST(TraceGeometryGrid, VerticalLinesScrollFivePointsPerSample)
{
    auto firstThree = [](std::uint64_t count) {
        const auto v = xs(trace::gridLines(1000.0f, 600.0f, count).vertical);
        return std::vector<double>(v.begin(), v.begin() + 3);
    };
    EXPECT_EQ(firstThree(0), (std::vector<double>{-18, 32, 82}));
    EXPECT_EQ(firstThree(1), (std::vector<double>{-23, 27, 77}));
    EXPECT_EQ(firstThree(9), (std::vector<double>{-63, -13, 37}));
    EXPECT_EQ(firstThree(10), firstThree(0));
    EXPECT_EQ(firstThree(13), (std::vector<double>{-33, 17, 67}));

    // Horizontal lines stand still.
    EXPECT_EQ(ys(trace::gridLines(1000.0f, 600.0f, 13).horizontal),
              ys(trace::gridLines(1000.0f, 600.0f, 0).horizontal));
}

TEST(TraceGeometryGrid, PhaseWrapsInThirtyTwoBits)
{
    EXPECT_EQ(trace::gridPhase(858'993'459), 45u); // 5 N = 2^32 - 1
    EXPECT_EQ(trace::gridPhase(858'993'460), 4u);  // 5 N wraps to 4
    EXPECT_EQ(trace::gridStart(858'993'460), -22);
    EXPECT_EQ(trace::gridPhase(std::uint64_t{1} << 32), 0u);
}

TEST(TraceGeometryGrid, LastLinesReachJustPastEveryEdge)
{
    for (float width : {120.0f, 123.0f, 768.0f, 1000.5f, 1024.0f}) {
        for (float height : {1.0f, 599.0f, 600.0f, 768.0f}) {
            for (std::uint64_t count = 0; count < 10; ++count) {
                const auto grid = trace::gridLines(width, height, count);
                const double lastX = grid.vertical.back().x1();
                EXPECT_GT(lastX, width - 50.0) << width << " " << count;
                EXPECT_LE(lastX, width) << width << " " << count;
                for (std::size_t i = 0; i + 1 < grid.vertical.size(); ++i)
                    EXPECT_LE(grid.vertical[i].x1(), width - 50.0);
                EXPECT_GT(grid.horizontal.back().y1(), height);
                EXPECT_LE(grid.horizontal.back().y1(), height + 50.0);
            }
        }
    }
    // Too narrow for a second vertical line: one still comes; a flat view gets 0 and the next.
    const auto tiny = trace::gridLines(10.0f, 0.0f, 0);
    EXPECT_EQ(xs(tiny.vertical), (std::vector<double>{-18}));
    EXPECT_EQ(ys(tiny.horizontal), (std::vector<double>{0, 50}));
    const auto endless = trace::gridLines(INFINITY, NAN, 0);
    EXPECT_EQ(endless.vertical.size(), 1u);
    EXPECT_EQ(endless.horizontal.size(), 1u);
}

TEST(TraceGeometryNeedles, RestAndValuePositions)
{
    const QRectF tall24(930.0, 10.0, 40.0, 24.0);
    EXPECT_EQ(trace::needleFrame(tall24, Axis::X, std::nullopt), QRectF(930.0, 226.0, 40.0, 24.0));
    EXPECT_EQ(trace::needleFrame(tall24, Axis::Y, std::nullopt), QRectF(930.0, 376.0, 40.0, 24.0));
    EXPECT_EQ(trace::needleFrame(tall24, Axis::Z, std::nullopt), QRectF(930.0, 526.0, 40.0, 24.0));

    EXPECT_EQ(trace::needleFrame(tall24, Axis::X, 1.0f).y(), 276.0);
    EXPECT_EQ(trace::needleFrame(QRectF(5.0, 700.0, 44.0, 30.0), Axis::Z, -2.0f),
              QRectF(5.0, 423.0, 44.0, 30.0));
    for (Axis axis : trace::kAxes)
        EXPECT_EQ(trace::needleFrame(tall24, axis, 0.0f),
                  trace::needleFrame(tall24, axis, std::nullopt));

    // An odd height centres on a half point; single precision keeps 0.1 g at exactly 5 points.
    EXPECT_EQ(trace::needleFrame(QRectF(0, 0, 40, 25), Axis::X, std::nullopt).y(), 225.5);
    EXPECT_EQ(trace::needleFrame(tall24, Axis::X, 0.1f).y(), 231.0);
    // Not clamped.
    EXPECT_EQ(trace::needleFrame(tall24, Axis::Y, 20.0f).y(), 1376.0);
}

TEST(TraceGeometryTrim, BufferGrownByReadingsSettlesWithinTheWidth)
{
    EXPECT_EQ(grownByReadings(1024.0f), 181u);
    EXPECT_EQ(grownByReadings(768.0f), 130u);
    EXPECT_EQ(grownByReadings(1000.0f), 176u);
    EXPECT_EQ(grownByReadings(123.0f), 1u);
    EXPECT_EQ(grownByReadings(122.9f), 0u);

    // Exactly at the bound nothing leaves; one more pushes the oldest out.
    EXPECT_FALSE(trace::trimsOldestRow(181, 1024.0f));
    EXPECT_TRUE(trace::trimsOldestRow(182, 1024.0f));

    // A longer buffer (the view became narrower, or a rebuild kept one more) keeps its length.
    EXPECT_EQ(grownByReadings(768.0f, 181), 181u);
    EXPECT_EQ(grownByReadings(1000.0f, 177), 177u);
}

TEST(TraceGeometryTrim, BulkTrimAfterRebuild)
{
    EXPECT_EQ(trace::bulkTrimCount(100, 1000.0f), 0u);
    EXPECT_EQ(trace::bulkTrimCount(176, 1000.0f), 0u);
    EXPECT_EQ(trace::bulkTrimCount(177, 1000.0f), 0u); // above the bound, but 3 / 5 rounds to 0
    EXPECT_EQ(trace::bulkTrimCount(178, 1000.0f), 1u);
    EXPECT_EQ(trace::bulkTrimCount(1000, 1000.0f), 823u);

    EXPECT_EQ(trace::rowsKeptByRebuild(0, 1000.0f), 0u);
    EXPECT_EQ(trace::rowsKeptByRebuild(100, 1000.0f), 100u);
    EXPECT_EQ(trace::rowsKeptByRebuild(176, 1000.0f), 176u);
    EXPECT_EQ(trace::rowsKeptByRebuild(177, 1000.0f), 177u);
    EXPECT_EQ(trace::rowsKeptByRebuild(178, 1000.0f), 177u);
    EXPECT_EQ(trace::rowsKeptByRebuild(1000, 1000.0f), 177u);
    EXPECT_EQ(trace::rowsKeptByRebuild(177, 1003.0f), 177u);
    EXPECT_EQ(trace::rowsKeptByRebuild(178, 1003.0f), 177u);
    EXPECT_EQ(trace::rowsKeptByRebuild(100000, 1003.0f), 177u);
    EXPECT_EQ(trace::rowsKeptByRebuild(5000, 1024.0f), 182u);
    EXPECT_EQ(trace::rowsKeptByRebuild(5000, 1000.9f), 177u); // the width is truncated
}

TEST(TraceGeometryTrim, RebuildKeepsTheNewestCeilingOfTheWidthInRows)
{
    for (int width : {119, 120, 123, 124, 768, 1000, 1001, 1002, 1003, 1004, 1024}) {
        const std::size_t bound = static_cast<std::size_t>(std::ceil((width - 118) / 5.0));
        for (std::size_t n = 0; n < 400; ++n)
            ASSERT_EQ(trace::rowsKeptByRebuild(n, static_cast<float>(width)), std::min(n, bound))
                << "width " << width << ", " << n << " rows";
    }
}
