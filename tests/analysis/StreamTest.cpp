// SPDX-License-Identifier: GPL-3.0-or-later
// The analysers over time-stamped streams: gaps, short streams, levels, live frames, and the
// true sample rate.
#include <gtest/gtest.h>

#include <random>

#include "analysis/LiveAnalyser.h"
#include "analysis/SessionWalk.h"
#include "analysis/StreamAnalyser.h"
#include "tests/analysis/Signals.h"

using namespace analysis;

namespace {

Settings small()
{
    Settings s;
    s.fftSize = 256;
    return s;
}

std::vector<Sample> hum(int count, double rate = 100.0)
{
    return signals::stream(count, rate, [](double t) {
        return std::array<double, 3>{signals::sine(0.2, 12.5, t), signals::sine(0.1, 30.0, t),
                                     -1.0 + signals::sine(0.05, 20.0, t)};
    });
}

} // namespace

// 2,560 samples hold 19 blocks of 256 (hop 128). A gap before sample 1000 lies inside blocks
// 6 and 7; one before sample 1024, on the hop grid, inside block 7 only.
TEST(Stream, BlocksSpanningAGapAreLeftOutAndCounted)
{
    for (auto [at, spanning] : {std::pair{1000, 2}, std::pair{1024, 1}, std::pair{0, 0}}) {
        auto samples = hum(2560);
        if (at > 0) signals::openGap(samples, static_cast<std::size_t>(at), 2'000'000);
        StreamAnalyser analyser(small(), 100.0);
        analyser.add(samples);
        const Result r = analyser.result();
        EXPECT_EQ(r.blocksSkipped, spanning) << at;
        EXPECT_EQ(r.blocksUsed, 19 - spanning) << at;
        EXPECT_EQ(r.samples, 2560);
        EXPECT_NEAR(r.axes[0].peaks.at(0).frequency, 12.5, 0.05);
    }
    // Samples one and a half intervals apart are not a gap, nor one sample taken almost an
    // interval late with the next back on time (a busy machine); a step backwards is.
    auto jitter = hum(600);
    signals::openGap(jitter, 300, 5'000);
    jitter[400].time += 9'000;
    StreamAnalyser tolerant(small(), 100.0);
    tolerant.add(jitter);
    EXPECT_EQ(tolerant.result().blocksSkipped, 0);
    LiveAnalyser live(small(), 100.0);
    live.add(std::span<const Sample>(jitter).first(420));
    EXPECT_EQ(live.result().blocksSkipped, 0);
    signals::openGap(jitter, 450, -40'000);
    StreamAnalyser backwards(small(), 100.0);
    backwards.add(jitter);
    EXPECT_EQ(backwards.result().blocksSkipped, 1);
}

TEST(Stream, ShortStreamGivesAZeroPaddedSpectrum)
{
    StreamAnalyser analyser(Settings{}, 100.0);
    const auto samples = hum(1000);
    analyser.add(std::span(samples).first(40));
    Result r = analyser.result();
    EXPECT_FALSE(r.hasSpectrum);
    EXPECT_FALSE(r.hasVelocity);
    EXPECT_TRUE(r.frequencies.empty());
    EXPECT_EQ(r.axes[0].levels.count, 40);

    analyser.add(std::span(samples).subspan(40));
    r = analyser.result();
    ASSERT_TRUE(r.hasSpectrum);
    EXPECT_EQ(r.partialLength, 1000);
    EXPECT_EQ(r.blocksUsed, 0);
    EXPECT_EQ(r.frequencies.size(), 2049u);
    EXPECT_EQ(r.frequencies.back(), 50.0);
    const Peak& x = r.axes[0].peaks.at(0);
    EXPECT_NEAR(x.frequency, 12.5, 0.02);
    EXPECT_NEAR(x.amplitude, 0.2, 0.2 * 0.01);
    EXPECT_NEAR(r.axes[1].peaks.at(0).amplitude, 0.1, 0.1 * 0.01);
}

TEST(Stream, LevelsOfEverythingFed)
{
    // A small vibration on gravity: its RMS must survive the -1 g offset.
    const auto samples = signals::stream(100'000, 1000.0, [](double t) {
        return std::array<double, 3>{0.5 + signals::sine(2.0, 10.0, t), 0.0, -1.0 + signals::sine(1e-4, 50.0, t)};
    });
    StreamAnalyser analyser(small(), 1000.0);
    analyser.add(samples);
    const Result r = analyser.result();
    const Levels& x = r.axes[0].levels;
    EXPECT_NEAR(x.mean, 0.5, 1e-6);
    EXPECT_NEAR(x.rms, 2.0 / std::sqrt(2.0), 1e-6);
    EXPECT_NEAR(x.peak, 2.0, 1e-6);
    EXPECT_NEAR(x.peakToPeak, 4.0, 1e-6);
    EXPECT_NEAR(x.crest, std::sqrt(2.0), 1e-5);
    const Levels& y = r.axes[1].levels;
    EXPECT_EQ(y.rms, 0.0);
    EXPECT_EQ(y.crest, 0.0);
    EXPECT_NEAR(r.axes[2].levels.rms, 1e-4 / std::sqrt(2.0), 1e-8);
    EXPECT_EQ(r.magnitude.count, 100'000);
    EXPECT_NEAR(r.magnitude.max, std::hypot(2.5, 1.0), 1e-4);

    std::vector<float> x32;
    for (const Sample& s : samples) x32.push_back(s.x);
    const Levels direct = levelsOf(x32);
    EXPECT_DOUBLE_EQ(direct.rms, x.rms);
    EXPECT_DOUBLE_EQ(direct.mean, x.mean);
}

// Fed exactly its ring, the live analyser averages the same three blocks the stream analyser
// does.
TEST(Live, FrameMatchesTheStreamAnalysis)
{
    Settings settings;
    settings.fftSize = 1024;
    LiveAnalyser live(settings, 100.0);
    ASSERT_EQ(live.capacity(), 2048);
    StreamAnalyser stream(settings, 100.0);
    const auto samples = hum(5000);
    live.add(std::span(samples).first(3000)); // the ring keeps the newest 2048
    stream.add(std::span(samples).subspan(952, 2048));
    const Result& l = live.result();
    const Result s = stream.result();
    EXPECT_EQ(l.blocksUsed, 3);
    EXPECT_EQ(s.blocksUsed, 3);
    EXPECT_EQ(l.samples, 3000);
    for (std::size_t a = 0; a < 3; ++a) {
        ASSERT_EQ(l.axes[a].spectrum.size(), s.axes[a].spectrum.size());
        for (std::size_t k = 0; k < s.axes[a].spectrum.size(); ++k)
            ASSERT_FLOAT_EQ(l.axes[a].spectrum[k], s.axes[a].spectrum[k]) << a << " " << k;
        EXPECT_NEAR(l.axes[a].levels.rms, s.axes[a].levels.rms, 1e-9);
        EXPECT_DOUBLE_EQ(l.axes[a].velocityRms, s.axes[a].velocityRms);
    }
}

TEST(Live, PeakHoldAndGapsAcrossFrames)
{
    Settings settings = small();
    settings.averaging = Averaging::PeakHold;
    LiveAnalyser live(settings, 100.0, 2);
    auto loud = hum(384);
    live.add(loud);
    const double held = live.result().axes[0].peaks.at(0).amplitude;
    EXPECT_NEAR(held, 0.2, 0.002);

    // Quieter samples, then a gap inside the newest frame's older block.
    auto quiet = signals::stream(
        400, 100.0,
        [](double t) {
            return std::array<double, 3>{signals::sine(0.05, 12.5, t), 0.0, 0.0};
        },
        loud.back().time + 10'000);
    signals::openGap(quiet, 200, 1'000'000);
    live.add(std::span(quiet).first(300));
    const Result& r = live.result();
    EXPECT_EQ(r.blocksUsed, 1);
    EXPECT_EQ(r.blocksSkipped, 1);
    EXPECT_NEAR(r.axes[0].peaks.at(0).amplitude, held, 1e-9);
    EXPECT_EQ(&live.result(), &r); // nothing new: the same result, averages untouched

    live.reset();
    live.add(std::span(quiet).subspan(200));
    const Result& after = live.result();
    EXPECT_EQ(after.samples, 200);
    EXPECT_EQ(after.partialLength, 200);
    EXPECT_NEAR(after.axes[0].peaks.at(0).amplitude, 0.05, 0.005);
}

TEST(SampleRate, MedianStepIgnoresGapsAndJitter)
{
    std::vector<Micros> times;
    Micros t = signals::kStart;
    for (int i = 0; i < 3000; ++i) {
        times.push_back(t + (i % 7 == 0 ? 900 : 0)); // capture jitter
        t += 33'333;
        if (i == 1000) t += 5'000'000; // a pause
    }
    times.push_back(times.back()); // two samples stamped alike
    EXPECT_NEAR(estimateSampleRate(times), 30.0, 0.03);
    EXPECT_EQ(estimateSampleRate(std::span(times).first(1)), 0.0);
}

// A busy machine stamps most samples a little late and now and then one much later, the next
// back on time. Stored so and walked as a stored session, 200 a second must read as 200 and a
// 37.4 Hz tone as 37.4 Hz.
TEST(SampleRate, LateTimeStampsDoNotRaiseTheRateOfAWalkedSession)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> small(0, 400), late(2'600, 4'600), which(0, 399);
    auto samples = signals::stream(12'000, 200.0, [](double t) {
        return std::array<double, 3>{signals::sine(0.1, 37.4, t), 0.0, -1.0};
    });
    for (Sample& s : samples) s.time += which(random) == 0 ? late(random) : small(random);
    SessionWalk walk(Settings{}, [](std::size_t) -> double { throw std::logic_error("no rate"); });
    for (const Sample& s : samples) walk.add(s.time, s.x, s.y, s.z);
    const Result r = walk.result();
    EXPECT_NEAR(r.sampleRate, 200.0, 0.01);
    EXPECT_EQ(r.blocksSkipped, 0);
    EXPECT_NEAR(r.axes[0].peaks.at(0).frequency, 37.40, 0.01);
    EXPECT_NEAR(estimateSampleRate(samples), 200.0, 0.01);
}

TEST(Settings, BadValuesAreRefusedClearly)
{
    auto refused = [](Settings s) {
        try {
            StreamAnalyser analyser(s, 100.0);
        } catch (const std::invalid_argument& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    Settings s;
    s.fftSize = 1000;
    EXPECT_EQ(refused(s), "FFT size 1000 is not a power of two from 256 to 65536");
    s.fftSize = 128;
    EXPECT_EQ(refused(s), "FFT size 128 is not a power of two from 256 to 65536");
    s.fftSize = 131072;
    EXPECT_NE(refused(s).find("not a power of two from 256 to 65536"), std::string::npos);
    s = Settings{};
    s.bandLowHz = 1000.0;
    EXPECT_EQ(refused(s), "band 1000 to 1000 Hz: the low edge must be below the high edge");
    s.bandLowHz = 0.0;
    EXPECT_NE(refused(s).find("low edge above 0 Hz"), std::string::npos);
    s = Settings{};
    s.exponentialWeight = 0.0;
    EXPECT_NE(refused(s).find("exponential weight 0 is outside (0, 1]"), std::string::npos);
    s = Settings{};
    s.peakCount = 65;
    EXPECT_EQ(refused(s), "peak count 65 is outside 0 to 64");
    EXPECT_EQ(refused(Settings{}), "accepted");
    EXPECT_THROW(StreamAnalyser(Settings{}, 0.0), std::invalid_argument);
    EXPECT_THROW(LiveAnalyser(Settings{}, 100.0, 0), std::invalid_argument);
}

TEST(Settings, TextRoundTripsAndRejectsUnknownNames)
{
    for (auto v : {WindowKind::Hann, WindowKind::FlatTop, WindowKind::BlackmanHarris})
        EXPECT_EQ(windowFromText(toText(v)), v);
    for (auto v : {Averaging::Linear, Averaging::Exponential, Averaging::PeakHold})
        EXPECT_EQ(averagingFromText(toText(v)), v);
    for (auto v : {SpectrumUnit::Amplitude, SpectrumUnit::Psd, SpectrumUnit::Decibel, SpectrumUnit::Velocity})
        EXPECT_EQ(unitFromText(toText(v)), v);
    for (auto v : {MachineGroup::Group1, MachineGroup::Group2}) EXPECT_EQ(groupFromText(toText(v)), v);
    for (auto v : {Foundation::Rigid, Foundation::Flexible}) EXPECT_EQ(foundationFromText(toText(v)), v);
    EXPECT_EQ(windowFromText("FlatTop"), WindowKind::FlatTop);
    EXPECT_EQ(toText(Averaging::PeakHold), "peak-hold");

    try {
        windowFromText("hamming");
        FAIL() << "accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "unknown window \"hamming\" (expected hann, flattop or blackman-harris)");
    }
    EXPECT_THROW(unitFromText(""), std::invalid_argument);
    EXPECT_THROW(groupFromText("group3"), std::invalid_argument);
}
