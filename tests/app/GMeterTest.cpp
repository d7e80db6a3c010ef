// SPDX-License-Identifier: GPL-3.0-or-later
// The trace view rendered offscreen and read back pixel by pixel.
#include <gtest/gtest.h>

#include <QImage>
#include <QTest>

#include <set>

#include "ui/GMeter.h"

namespace {

bool isWhite(QRgb p)
{
    return p == qRgb(255, 255, 255);
}
bool isBlack(QRgb p)
{
    return qRed(p) < 40 && qGreen(p) < 40 && qBlue(p) < 40;
}
bool isGreen(QRgb p)
{
    return qGreen(p) > 200 && qRed(p) < 60 && qBlue(p) < 60;
}
bool isBlue(QRgb p)
{
    return qBlue(p) > 200 && qRed(p) < 60 && qGreen(p) < 60;
}
bool isGridRed(QRgb p)
{
    return qRed(p) > 200 && qGreen(p) < 160 && qGreen(p) == qBlue(p);
}
// The grid's red blended with a trace below it rather than with white.
bool isGridOverTrace(QRgb p)
{
    return qRed(p) > 100 && qGreen(p) < 60;
}

SharedViewBuffer buffer(std::size_t count, float x, float y, float z)
{
    return std::make_shared<ViewBuffer>(count, ViewRow{x, y, z});
}

std::set<int> every50(int first, int end)
{
    std::set<int> out;
    for (int v = first; v < end; v += 50) out.insert(v);
    return out;
}

struct GMeterDraw : ::testing::Test {
    GMeter meter;

    void SetUp() override { meter.resize(1000, 600); }

    QImage render()
    {
        QImage image(meter.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent); // so that white can only come from the view
        meter.render(&image);
        return image;
    }

    // Every pixel white or grid red: nothing of a trace was drawn (the axis names and the 1 g bar
    // stand in the margin right of the needles).
    bool onlyGrid()
    {
        const QImage image = render();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width() - int(GMeter::kAidsInset); ++x)
                if (!isWhite(image.pixel(x, y)) && !isGridRed(image.pixel(x, y))) return false;
        return true;
    }
};

} // namespace

TEST_F(GMeterDraw, EmptyAbsentOrSingleRowBufferDrawsOnlyTheGrid)
{
    EXPECT_EQ(meter.gData(), nullptr);
    EXPECT_TRUE(onlyGrid());
    meter.setGData(std::make_shared<ViewBuffer>());
    EXPECT_TRUE(onlyGrid());
    meter.setGData(buffer(1, 0.3f, 0.5f, -0.5f));
    EXPECT_TRUE(onlyGrid());
}

TEST_F(GMeterDraw, TracesRunFromTheNewestPointLeftInTheirColours)
{
    auto rows = buffer(11, 0.3f, 0.5f, -0.5f);
    meter.setGData(rows, 3); // 3 samples: grid columns at 17, 67, ..., 867, 917, 967
    QImage image = render();
    // Lines 2 points wide around y = 165 (X), 325 (Y) and 425 (Z), ending at x = 882.
    for (int y : {164, 165}) {
        EXPECT_TRUE(isBlack(image.pixel(881, y)));
        EXPECT_TRUE(isGreen(image.pixel(881, y + 160)));
        EXPECT_TRUE(isBlue(image.pixel(881, y + 260)));
        EXPECT_TRUE(isWhite(image.pixel(882, y)));
    }
    EXPECT_TRUE(isWhite(image.pixel(860, 163)));
    EXPECT_TRUE(isWhite(image.pixel(860, 166)));

    // The view reads the shared buffer at each draw: a row appended since reaches 5 further left.
    rows->push_back(rows->back());
    image = render();
    EXPECT_TRUE(isBlack(image.pixel(828, 165)));
    EXPECT_TRUE(isWhite(image.pixel(826, 165)));

    meter.resize(800, 600); // the newest point follows the width
    image = render();
    EXPECT_TRUE(isBlack(image.pixel(681, 165)));
    EXPECT_TRUE(isWhite(image.pixel(682, 165)));
}

TEST_F(GMeterDraw, EveryLengthOfBufferDrawsOneUnbrokenLine)
{
    for (std::size_t n = 2; n <= 12; ++n) {
        meter.setGData(buffer(n, 0.3f, 0.5f, -0.5f), 3);
        const QImage image = render();
        const int oldest = 882 - 5 * static_cast<int>(n - 1);
        for (int x = oldest - 2; x <= 884; ++x) {
            if (x == 867) continue; // a grid column
            const bool drawn = x >= oldest && x < 882;
            EXPECT_EQ(isBlack(image.pixel(x, 165)), drawn) << n << " rows, x " << x;
            EXPECT_EQ(isWhite(image.pixel(x, 165)), !drawn) << n << " rows, x " << x;
        }
    }
}

TEST_F(GMeterDraw, GridLinesFollowTheSampleCountHandedOverWithTheBuffer)
{
    constexpr std::pair<int, int> kFirstColumnAtCount[] = {{0, 32}, {1, 27}, {13, 17}, {10, 32}};
    for (const auto& [count, firstColumn] : kFirstColumnAtCount) {
        meter.setGData(meter.gData(), static_cast<std::uint64_t>(count));
        const QImage image = render();
        std::set<int> columns, rows;
        for (int x = 0; x < image.width(); ++x)
            if (isGridRed(image.pixel(x, 10))) columns.insert(x);
        for (int y = 0; y < image.height(); ++y)
            if (isGridRed(image.pixel(10, y))) rows.insert(y);
        EXPECT_EQ(columns, every50(firstColumn, 1000)) << count;
        EXPECT_EQ(rows, every50(0, 600)) << count;
    }
}

TEST_F(GMeterDraw, LaterTracesAndThenTheGridLieOnTop)
{
    // All three on y = 300 (X at +3 g, Y at 0 g, Z at -3 g): Z, stroked last, shows.
    meter.setGData(buffer(20, 3.0f, 0.0f, -3.0f));
    QImage image = render();
    EXPECT_TRUE(isBlue(image.pixel(860, 299)));
    EXPECT_TRUE(isGridOverTrace(image.pixel(860, 300))); // the grid line at 300 over the blue

    meter.setGData(buffer(20, 3.0f, 0.0f, 1.0f));
    EXPECT_TRUE(isGreen(render().pixel(860, 299)));

    meter.setGData(buffer(20, 1.0f, 0.0f, 0.0f)); // X at +1 g, on the grid line at 200
    image = render();
    EXPECT_TRUE(isBlack(image.pixel(860, 199)));
    EXPECT_TRUE(isGridOverTrace(image.pixel(860, 200)));
}

// Positive g is drawn below a trace's base line: the 1 g bar says so, its lower end an arrowhead.
TEST_F(GMeterDraw, TheOneGBarPointsDownTheWayPositiveGIsDrawn)
{
    const QImage image = render();
    const int x = meter.width() - 14, bottom = meter.height() - 24;
    auto ink = [&](int px, int py) {
        const QRgb p = image.pixel(px, py);
        return qRed(p) < 150 && qGreen(p) < 150 && qBlue(p) < 150;
    };
    // The bar's 1.5-point pen at x covers the pixels x - 1 and x.
    EXPECT_TRUE(ink(x - 2, bottom - 3) && ink(x + 1, bottom - 3));   // the arrowhead's sides
    EXPECT_FALSE(ink(x - 3, bottom) || ink(x + 3, bottom));          // no flat end below
    EXPECT_TRUE(ink(x - 3, bottom - 50) && ink(x + 3, bottom - 50)); // the flat end at 0 g
}

TEST(GMeterRepaint, HandingOverTheBufferDoesNotRepaint)
{
    struct CountingMeter : GMeter {
        int paints = 0;
        void paintEvent(QPaintEvent* event) override
        {
            ++paints;
            GMeter::paintEvent(event);
        }
    } meter;
    meter.resize(400, 300);
    meter.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&meter));
    EXPECT_TRUE(QTest::qWaitFor([&] { return meter.paints > 0; }));
    QTest::qWait(50);
    const int before = meter.paints;

    auto rows = buffer(5, 0.0f, 0.0f, 0.0f);
    meter.setGData(rows);
    EXPECT_EQ(meter.gData(), rows); // the very buffer, not a copy
    QTest::qWait(100);
    EXPECT_EQ(meter.paints, before);

    meter.setNeedsDisplay();
    EXPECT_TRUE(QTest::qWaitFor([&] { return meter.paints > before; }));
}
