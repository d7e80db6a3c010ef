// The trace view rendered offscreen and read back pixel by pixel.
#include <gtest/gtest.h>

#include <QImage>
#include <QTest>

#include <set>

#include "Classes/GMeter.h"

namespace {

constexpr int kWidth = 1000;
constexpr int kHeight = 600;

bool isWhite(QRgb p) { return qRed(p) == 255 && qGreen(p) == 255 && qBlue(p) == 255; }
bool isBlack(QRgb p) { return qRed(p) < 40 && qGreen(p) < 40 && qBlue(p) < 40; }
bool isGreen(QRgb p) { return qGreen(p) > 200 && qRed(p) < 60 && qBlue(p) < 60; }
bool isBlue(QRgb p) { return qBlue(p) > 200 && qRed(p) < 60 && qGreen(p) < 60; }
// The grid's red, over white or over a trace.
bool isGridRed(QRgb p) { return qRed(p) > 100 && qRed(p) > qGreen(p) + 80 && qGreen(p) == qBlue(p); }

SharedViewBuffer buffer(std::size_t count, float x, float y, float z)
{
    return std::make_shared<ViewBuffer>(count, ViewRow{0, x, y, z});
}

QImage render(GMeter& meter)
{
    QImage image(meter.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent); // so that white can only come from the view
    meter.render(&image);
    return image;
}

// Columns of row `y` (or rows of column `x`) painted in the grid's red.
std::set<int> redColumns(const QImage& image, int y)
{
    std::set<int> out;
    for (int x = 0; x < image.width(); ++x)
        if (isGridRed(image.pixel(x, y)))
            out.insert(x);
    return out;
}

std::set<int> redRows(const QImage& image, int x)
{
    std::set<int> out;
    for (int y = 0; y < image.height(); ++y)
        if (isGridRed(image.pixel(x, y)))
            out.insert(y);
    return out;
}

std::set<int> every50(int first, int end)
{
    std::set<int> out;
    for (int v = first; v < end; v += 50)
        out.insert(v);
    return out;
}

// Every pixel is white or grid red: nothing of a trace was drawn.
bool onlyGrid(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (!isWhite(image.pixel(x, y)) && !isGridRed(image.pixel(x, y)))
                return false;
    return true;
}

class CountingMeter : public GMeter {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        ++paints;
        GMeter::paintEvent(event);
    }
};

struct GMeterDraw : ::testing::Test {
    GMeter meter;
    std::uint64_t samples = 0;
    void SetUp() override
    {
        meter.resize(kWidth, kHeight);
        meter.setSampleCountSource([this] { return samples; });
    }
};

} // namespace

TEST_F(GMeterDraw, EmptyOrAbsentBufferDrawsOnlyTheGridOnWhite)
{
    EXPECT_EQ(meter.gData(), nullptr);
    const QImage absent = render(meter);
    EXPECT_TRUE(onlyGrid(absent));
    EXPECT_TRUE(isWhite(absent.pixel(10, 10)));
    EXPECT_FALSE(redColumns(absent, 10).empty());

    meter.setGData(std::make_shared<ViewBuffer>());
    EXPECT_EQ(render(meter), absent);
}

TEST_F(GMeterDraw, OneRowDrawsNoTraceLine)
{
    meter.setGData(buffer(1, 0.3f, 0.5f, -0.5f));
    EXPECT_TRUE(onlyGrid(render(meter)));
}

TEST_F(GMeterDraw, TracesRunFromTheNewestPointLeftInTheirColours)
{
    samples = 3; // grid columns 17, 67, ..., 967: clear of the points below
    auto rows = buffer(11, 0.3f, 0.5f, -0.5f);
    meter.setGData(rows);
    QImage image = render(meter);

    // A 2-point line around y = 165 (X), 325 (Y), 425 (Z), ending at the newest point x = 882.
    for (int y : {164, 165}) {
        EXPECT_TRUE(isBlack(image.pixel(881, y)));
        EXPECT_TRUE(isBlack(image.pixel(833, y)));
        EXPECT_TRUE(isWhite(image.pixel(882, y)));  // nothing right of the newest point
        EXPECT_TRUE(isWhite(image.pixel(831, y)));  // nor left of the oldest, at 832
    }
    EXPECT_TRUE(isWhite(image.pixel(860, 163)));
    EXPECT_TRUE(isWhite(image.pixel(860, 166)));
    EXPECT_TRUE(isGreen(image.pixel(881, 324)));
    EXPECT_TRUE(isGreen(image.pixel(881, 325)));
    EXPECT_TRUE(isBlue(image.pixel(881, 424)));
    EXPECT_TRUE(isBlue(image.pixel(881, 425)));

    // The view reads the shared buffer at each draw: a row appended since is drawn, 5 further on.
    rows->push_back(ViewRow{0, 0.3f, 0.5f, -0.5f});
    image = render(meter);
    EXPECT_TRUE(isBlack(image.pixel(828, 165)));
    EXPECT_TRUE(isWhite(image.pixel(826, 165)));

    // The newest point follows the width.
    meter.resize(800, kHeight);
    image = render(meter);
    EXPECT_TRUE(isBlack(image.pixel(681, 165)));
    EXPECT_TRUE(isWhite(image.pixel(682, 165)));
}

TEST_F(GMeterDraw, EveryLengthOfBufferDrawsOneUnbrokenLine)
{
    samples = 3;
    for (std::size_t n = 2; n <= 12; ++n) {
        meter.setGData(buffer(n, 0.3f, 0.5f, -0.5f));
        const QImage image = render(meter);
        const int oldest = 882 - 5 * static_cast<int>(n - 1);
        for (int x = oldest - 2; x <= 884; ++x) {
            if (x == 867)
                continue; // a grid column
            const bool drawn = x >= oldest && x < 882;
            EXPECT_EQ(isBlack(image.pixel(x, 165)), drawn) << n << " rows, x " << x;
            EXPECT_EQ(isWhite(image.pixel(x, 165)), !drawn) << n << " rows, x " << x;
        }
    }
}

TEST_F(GMeterDraw, GridColumnsFollowTheSampleCountReadAtEachDraw)
{
    struct Case { std::uint64_t samples; int firstVisible; };
    for (const Case c : {Case{0, 32}, Case{1, 27}, Case{13, 17}, Case{10, 32}}) {
        samples = c.samples;
        const QImage image = render(meter);
        EXPECT_EQ(redColumns(image, 10), every50(c.firstVisible, kWidth)) << c.samples;
        EXPECT_EQ(redRows(image, 10), every50(0, kHeight)) << c.samples;
    }

    GMeter withoutSource;
    withoutSource.resize(kWidth, kHeight);
    EXPECT_EQ(redColumns(render(withoutSource), 10), every50(32, kWidth));
}

TEST_F(GMeterDraw, LaterTracesAndThenTheGridLieOnTop)
{
    // All three traces on y = 300: X at +3 g, Y at 0 g, Z at -3 g; Z is stroked last.
    meter.setGData(buffer(20, 3.0f, 0.0f, -3.0f));
    QImage image = render(meter);
    EXPECT_TRUE(isBlue(image.pixel(860, 299)));
    // The grid line at 300 over the blue: its red shows, blended with the blue, not with white.
    const QRgb crossing = image.pixel(860, 300);
    EXPECT_GT(qRed(crossing), 100);
    EXPECT_GT(qBlue(crossing), 100);
    EXPECT_LT(qGreen(crossing), 60);

    meter.setGData(buffer(20, 3.0f, 0.0f, 1.0f));
    image = render(meter);
    EXPECT_TRUE(isGreen(image.pixel(860, 299)));

    // The X line at +1 g lies on the grid line at 200.
    meter.setGData(buffer(20, 1.0f, 0.0f, 0.0f));
    image = render(meter);
    EXPECT_TRUE(isBlack(image.pixel(860, 199)));
    const QRgb overBlack = image.pixel(860, 200);
    EXPECT_GT(qRed(overBlack), 100);
    EXPECT_LT(qGreen(overBlack), 60);
    EXPECT_LT(qBlue(overBlack), 60);
}

TEST(GMeterRepaint, HandingOverTheBufferDoesNotRepaint)
{
    CountingMeter meter;
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
