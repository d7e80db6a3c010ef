// SPDX-License-Identifier: GPL-3.0-or-later
// Velocity and displacement over the band, and the ISO 10816-3 zones they fall in.
#include <gtest/gtest.h>

#include "analysis/Integration.h"
#include "analysis/StreamAnalyser.h"
#include "tests/analysis/Signals.h"

using namespace analysis;

TEST(Velocity, OneGAtFiftyHertzIsZoneD)
{
    const double rate = 1000.0;
    // x: 1 g at 50 Hz; y: 1 g at 5 Hz, below the band; z: 0.02 g at 120 Hz on gravity.
    const auto samples = signals::stream(60'000, rate, [](double t) {
        return std::array<double, 3>{signals::sine(1.0, 50.0, t), signals::sine(1.0, 5.0, t),
                                     -1.0 + signals::sine(0.02, 120.0, t)};
    });
    StreamAnalyser analyser(Settings{}, rate);
    analyser.add(samples);
    const Result r = analyser.result();
    ASSERT_TRUE(r.hasVelocity);
    EXPECT_EQ(r.bandLowHz, 10.0);
    EXPECT_EQ(r.bandHighHz, 500.0);

    const double w = 2.0 * std::numbers::pi * 50.0;
    const double velocity = kStandardGravity / w / std::sqrt(2.0) * 1e3; // 22.07 mm/s
    EXPECT_NEAR(r.axes[0].velocityRms, velocity, 0.01 * velocity);
    EXPECT_NEAR(r.axes[0].displacementRms, velocity / w * 1e3, 0.01 * velocity / w * 1e3);
    EXPECT_EQ(r.axes[0].zone, Zone::D);
    EXPECT_LT(r.axes[1].velocityRms, 0.1); // 221 mm/s at 5 Hz, outside the band
    const double z = 0.02 * kStandardGravity / (2.0 * std::numbers::pi * 120.0) / std::sqrt(2.0) * 1e3;
    EXPECT_NEAR(r.axes[2].velocityRms, z, 0.01 * z);
    EXPECT_EQ(r.axes[2].zone, Zone::A);
    EXPECT_EQ(r.largestAxis, 0);
    EXPECT_EQ(r.zone, Zone::D);
    EXPECT_FALSE(r.isoVerdict); // 10-500 Hz is not the zones' 10-1000 Hz

    StreamAnalyser fast(Settings{}, 2000.0);
    fast.add(signals::stream(8'192, 2000.0, [](double t) {
        return std::array<double, 3>{signals::sine(1.0, 50.0, t), 0.0, 0.0};
    }));
    const Result f = fast.result();
    EXPECT_EQ(f.bandHighHz, 1000.0);
    EXPECT_TRUE(f.isoVerdict);
}

TEST(Velocity, BandIsClippedAtNyquist)
{
    const auto samples = signals::stream(5'000, 20.0, [](double t) {
        return std::array<double, 3>{signals::sine(0.1, 7.0, t), 0.0, 0.0};
    });
    StreamAnalyser slow(Settings{}, 20.0); // Nyquist 10 Hz: the band holds no bin
    slow.add(samples);
    const Result r = slow.result();
    EXPECT_TRUE(r.hasSpectrum);
    EXPECT_FALSE(r.hasVelocity);
    EXPECT_EQ(r.axes[0].velocityRms, 0.0);

    Settings low;
    low.bandLowHz = 2.0;
    StreamAnalyser clipped(low, 20.0);
    clipped.add(samples);
    const Result c = clipped.result();
    EXPECT_TRUE(c.hasVelocity);
    EXPECT_EQ(c.bandHighHz, 10.0);
    EXPECT_EQ(c.nyquist(), 10.0);
    EXPECT_GT(c.axes[0].velocityRms, 1.0);
    EXPECT_FALSE(c.isoVerdict);
}

TEST(Zones, BoundariesAndColours)
{
    struct Row {
        MachineGroup group;
        Foundation foundation;
        double ab, bc, cd;
    };
    const Row rows[] = {{MachineGroup::Group2, Foundation::Rigid, 1.4, 2.8, 4.5},
                        {MachineGroup::Group2, Foundation::Flexible, 2.3, 4.5, 7.1},
                        {MachineGroup::Group1, Foundation::Rigid, 2.3, 4.5, 7.1},
                        {MachineGroup::Group1, Foundation::Flexible, 3.5, 7.1, 11.0}};
    for (const Row& row : rows) {
        const ZoneBoundaries b = zoneBoundaries(row.group, row.foundation);
        EXPECT_EQ(b.ab, row.ab);
        EXPECT_EQ(b.bc, row.bc);
        EXPECT_EQ(b.cd, row.cd);
        EXPECT_EQ(zoneFor(0.0, row.group, row.foundation), Zone::A);
        EXPECT_EQ(zoneFor(row.ab - 0.01, row.group, row.foundation), Zone::A);
        EXPECT_EQ(zoneFor(row.ab, row.group, row.foundation), Zone::B);
        EXPECT_EQ(zoneFor(row.bc, row.group, row.foundation), Zone::C);
        EXPECT_EQ(zoneFor(row.cd, row.group, row.foundation), Zone::D);
    }
    // Green, then yellower, then amber, then red: red rises and green falls from A to D.
    const Rgb a = zoneColour(Zone::A), b = zoneColour(Zone::B), c = zoneColour(Zone::C), d = zoneColour(Zone::D);
    EXPECT_TRUE(a.g > a.r && a.g > a.b);
    EXPECT_TRUE(a.r < b.r && b.r < c.r && d.r > d.g);
    EXPECT_TRUE(c.g > d.g && c.r > c.b);
    EXPECT_EQ(zoneName(Zone::C), "C");
}
