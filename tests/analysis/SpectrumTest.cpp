// SPDX-License-Identifier: GPL-3.0-or-later
// Spectra: scaling in each unit and window, peaks placed between bins, and averaging.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "analysis/Integration.h"
#include "analysis/StreamAnalyser.h"
#include "analysis/Window.h"
#include "tests/analysis/Signals.h"

using namespace analysis;

namespace {

constexpr WindowKind kWindows[] = {WindowKind::Hann, WindowKind::FlatTop, WindowKind::BlackmanHarris};

Result analyse(const Settings& settings, double rate, const std::vector<Sample>& samples)
{
    StreamAnalyser analyser(settings, rate);
    analyser.add(samples);
    return analyser.result();
}

} // namespace

// Σ PSD·Δf must give back the mean square of the signal, whatever the window.
TEST(Spectrum, PsdSumsToTheTimeDomainRms)
{
    std::mt19937 random(11);
    std::normal_distribution<double> noise(0.0, 0.05);
    const double rate = 1000.0;
    const auto samples = signals::stream(120'000, rate, [&](double t) {
        const double x = signals::sine(0.3, 47.0, t) + signals::sine(0.1, 123.4, t, 1.0)
                         + signals::sine(0.02, 310.7, t, 2.0) + noise(random);
        return std::array<double, 3>{x, noise(random), -1.0 + noise(random)};
    });
    for (WindowKind window : kWindows) {
        Settings settings;
        settings.window = window;
        settings.unit = SpectrumUnit::Psd;
        const Result r = analyse(settings, rate, samples);
        ASSERT_TRUE(r.hasSpectrum);
        for (const AxisResult& axis : r.axes) {
            double meanSquare = 0.0;
            for (float psd : axis.spectrum) meanSquare += psd * r.binWidth;
            EXPECT_NEAR(std::sqrt(meanSquare) / axis.levels.rms, 1.0, 0.01) << toText(window);
        }
    }
}

// A sine between bins is placed within 0.02 Hz and read at its amplitude by every window, even
// half-way between two bins, where the top bin of a Hann spectrum reads 15 % low.
TEST(Spectrum, PeaksAreRefinedBetweenBins)
{
    const double rate = 200.0;
    const double halfway = 1662.5 * rate / 4096; // 81.18 Hz
    const auto samples = signals::stream(40'000, rate, [&](double t) {
        return std::array<double, 3>{signals::sine(0.8, 37.3, t), signals::sine(0.2, 12.0, t),
                                     signals::sine(0.05, halfway, t) + signals::sine(0.01, 5.5, t)};
    });
    for (WindowKind window : kWindows) {
        Settings settings;
        settings.window = window;
        const Result r = analyse(settings, rate, samples);
        ASSERT_EQ(r.fftSize, 4096);
        const Peak& x = r.axes[0].peaks.at(0);
        EXPECT_NEAR(x.frequency, 37.30, 0.02) << toText(window);
        EXPECT_NEAR(x.amplitude, 0.8, 0.8 * 0.005) << toText(window);
        EXPECT_FLOAT_EQ(x.level, x.amplitude); // one peak, one level
        EXPECT_NEAR(r.axes[1].peaks.at(0).frequency, 12.0, 0.02);
        const auto& z = r.axes[2].peaks;
        ASSERT_GE(z.size(), 2u);
        EXPECT_NEAR(z[0].frequency, halfway, 0.002) << toText(window);
        EXPECT_NEAR(z[0].amplitude, 0.05, 0.05 * 0.005) << toText(window);
        EXPECT_NEAR(z[1].frequency, 5.5, 0.02) << toText(window);
        EXPECT_NEAR(z[1].amplitude, 0.01, 0.01 * 0.01) << toText(window);
    }
}

// A peak's level in any unit is its refined amplitude in that unit, the velocity of a lone tone
// matching the band's RMS as peak to RMS; tones more than 60 dB under the strongest of all three
// axes, and the rounding noise of the float samples, are neither listed nor marked.
TEST(Spectrum, OnePeakOneLevelInEveryUnitAndNothingBelowTheFloor)
{
    const double rate = 200.0;
    const double halfway = 1662.5 * rate / 4096; // 81.18 Hz, where the top bin reads 15 % low
    const auto samples = signals::stream(40'000, rate, [&](double t) {
        return std::array<double, 3>{signals::sine(0.05, halfway, t) + signals::sine(2e-5, 40.0, t),
                                     signals::sine(1e-6, 17.0, t), -1.0 + signals::sine(0.001, 30.0, t)};
    });
    for (SpectrumUnit unit :
         {SpectrumUnit::Amplitude, SpectrumUnit::Decibel, SpectrumUnit::Velocity, SpectrumUnit::Psd}) {
        Settings settings;
        settings.unit = unit;
        const Result r = analyse(settings, rate, samples);
        const auto& x = r.axes[0].peaks;
        ASSERT_EQ(x.size(), 1u) << toText(unit); // 40 Hz lies 68 dB under
        const Peak& p = x.front();
        EXPECT_NEAR(p.amplitude, 0.05, 0.05 * 0.005);
        EXPECT_TRUE(r.axes[1].peaks.empty()) << toText(unit);
        ASSERT_EQ(r.axes[2].peaks.size(), 1u) << toText(unit); // 34 dB under: a tone
        const double velocity = 0.05 * kStandardGravity * 1000.0 / (2.0 * std::numbers::pi * halfway);
        switch (unit) {
        case SpectrumUnit::Amplitude: EXPECT_FLOAT_EQ(p.level, p.amplitude); break;
        case SpectrumUnit::Decibel: EXPECT_NEAR(p.level, 20.0 * std::log10(0.05), 0.05); break;
        case SpectrumUnit::Velocity:
            EXPECT_NEAR(p.level, velocity, velocity * 0.005);
            EXPECT_NEAR(p.level / std::sqrt(2.0), r.axes[0].velocityRms, velocity * 0.01);
            break;
        case SpectrumUnit::Psd: {
            // What the top bin would read with the tone centred on it: above what it reads.
            const float top = r.axes[0].spectrum[static_cast<std::size_t>(p.bin)];
            EXPECT_NEAR(p.level / top, std::pow(p.amplitude / r.axes[0].power.amplitude(p.bin), 2), 1e-3);
            EXPECT_GT(p.level, top * 1.3);
            break;
        }
        }
    }
}

// The flat-top window reads a sine's amplitude straight off the spectrum, even half-way
// between two bins; decibels and velocity follow from the amplitude.
TEST(Spectrum, FlatTopReadsAmplitudeBetweenBins)
{
    const double rate = 1000.0;
    Settings settings;
    settings.window = WindowKind::FlatTop;
    const double df = rate / settings.fftSize;
    const double frequency = 205.5 * df;
    const auto samples = signals::stream(50'000, rate, [&](double t) {
        const double v = signals::sine(0.5, frequency, t);
        return std::array<double, 3>{v, v, v};
    });
    Result r = analyse(settings, rate, samples);
    for (std::size_t bin : {205u, 206u}) EXPECT_NEAR(r.axes[0].spectrum[bin], 0.5, 0.5 * 0.005);

    std::vector<float> db, velocity;
    convert(r.axes[1].power, SpectrumUnit::Decibel, db);
    convert(r.axes[2].power, SpectrumUnit::Velocity, velocity);
    EXPECT_NEAR(db[205], 20.0 * std::log10(0.5), 0.05);
    const double expected = 0.5 * kStandardGravity * 1000.0 / (2.0 * std::numbers::pi * 205 * df);
    EXPECT_NEAR(velocity[205], expected, 0.005 * expected);
}

TEST(Spectrum, WindowResponseMatchesTheWindowItself)
{
    // The closed form used to refine peaks against a direct sum over a 4096-point window.
    for (WindowKind window : kWindows) {
        std::vector<float> w(4096);
        fillWindow(window, w);
        auto direct = [&](double offset) {
            double re = 0.0, im = 0.0;
            for (std::size_t n = 0; n < w.size(); ++n) {
                const double phase = 2.0 * std::numbers::pi * offset * double(n) / double(w.size());
                re += w[n] * std::cos(phase);
                im += w[n] * std::sin(phase);
            }
            return std::hypot(re, im);
        };
        for (double offset : {0.25, 0.5, 1.0, 1.7})
            EXPECT_NEAR(windowGain(window, offset), direct(offset) / direct(0.0), 1e-5)
                << toText(window) << " at " << offset;
    }
}

TEST(Spectrum, AveragingModesCombineBlocks)
{
    const std::vector<std::vector<double>> blocks{{1, 2}, {1, 0}, {1, 2}, {1, 0}, {5, 1}};
    auto average = [&](Averaging mode) {
        PowerAverager a(2, mode, 0.25);
        for (const auto& b : blocks) a.add(b);
        EXPECT_EQ(a.count(), 5);
        return std::vector<double>(a.power().begin(), a.power().end());
    };
    using testing::DoubleNear;
    using testing::Pointwise;
    EXPECT_THAT(average(Averaging::Linear), Pointwise(DoubleNear(1e-12), {1.8, 1.0}));
    // The first four (1 / weight) blocks are a plain mean; the fifth has a quarter share.
    EXPECT_THAT(average(Averaging::Exponential), Pointwise(DoubleNear(1e-12), {2.0, 1.0}));
    EXPECT_THAT(average(Averaging::PeakHold), Pointwise(DoubleNear(1e-12), {5.0, 2.0}));
}

// Plans are made on first use of a size; analysers starting together on worker threads must
// neither race in FFTW's planner nor disagree with one thread.
TEST(Spectrum, AnalysersOnSeveralThreadsAgree)
{
    const auto samples = signals::stream(70'000, 1000.0, [](double t) {
        return std::array<double, 3>{signals::sine(0.3, 33.0, t), 0.0, 0.0};
    });
    const int sizes[] = {512, 2048, 8192, 32768};
    std::vector<double> threaded(4), alone(4);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < 4; ++i)
        threads.emplace_back([&, i] {
            Settings settings;
            settings.fftSize = sizes[i];
            threaded[i] = analyse(settings, 1000.0, samples).axes[0].peaks.at(0).frequency;
        });
    for (auto& t : threads) t.join();
    for (std::size_t i = 0; i < 4; ++i) {
        Settings settings;
        settings.fftSize = sizes[i];
        alone[i] = analyse(settings, 1000.0, samples).axes[0].peaks.at(0).frequency;
        EXPECT_EQ(threaded[i], alone[i]) << sizes[i];
        EXPECT_NEAR(alone[i], 33.0, 0.02) << sizes[i];
    }
}
