// SPDX-License-Identifier: GPL-3.0-or-later
// The images compiled into the program: each one loads, at its size, with a transparent surround.
#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>
#include <QString>

namespace {

struct Expected {
    const char* name;
    int width;
    int height;
};

constexpr Expected kImages[] = {
    {"recButtonIcon", 64, 64},    {"pauseButtonIcon", 64, 64}, {"tareIcon", 64, 64},   {"newSessionIcon", 64, 64},
    {"clearSessionIcon", 64, 64}, {"sessionsIcon", 64, 64},    {"exportIcon", 64, 64}, {"settingsIcon", 64, 64},
    {"trendIcon", 64, 64},        {"needleX", 40, 24},         {"needleY", 40, 24},  {"needleZ", 40, 24},
};

QImage load(const char* name)
{
    const QPixmap pixmap(QStringLiteral(":/images/%1.png").arg(QLatin1String(name)));
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

TEST(Images, EachLoadsFromTheResourcesAtItsSize)
{
    for (const Expected& e : kImages) {
        const QImage image = load(e.name);
        ASSERT_FALSE(image.isNull()) << e.name;
        EXPECT_EQ(image.size(), QSize(e.width, e.height)) << e.name;
        EXPECT_TRUE(image.hasAlphaChannel()) << e.name;
        // Drawn inside a transparent margin, and not empty.
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << e.name;
        EXPECT_EQ(qAlpha(image.pixel(e.width - 1, e.height - 1)), 0) << e.name;
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) opaque += qAlpha(image.pixel(x, y)) == 255;
        EXPECT_GT(opaque, image.width() * image.height() / 10) << e.name;
    }
}

TEST(Images, NeedlesInTheirTraceColoursRecordRedTheRestWhite)
{
    EXPECT_EQ(load("needleX").pixel(28, 12), qRgb(0, 0, 0));
    EXPECT_EQ(load("needleY").pixel(28, 12), qRgb(0, 255, 0));
    EXPECT_EQ(load("needleZ").pixel(28, 12), qRgb(0, 0, 255));
    EXPECT_GT(qAlpha(load("needleX").pixel(2, 12)), 0); // the tip, at the left
    EXPECT_EQ(load("recButtonIcon").pixel(32, 32), qRgb(0xe5, 0x39, 0x35));
    EXPECT_EQ(load("pauseButtonIcon").pixel(22, 32), qRgb(255, 255, 255));
}
