// SPDX-License-Identifier: GPL-3.0-or-later
// One axis's spectrum: a block's power through a window and the FFT, Welch averaging of blocks,
// and scaling into g, g²/Hz, dB or mm/s.
#pragma once

#include <span>
#include <vector>

#include "analysis/Fft.h"
#include "analysis/Settings.h"

namespace analysis {

// Averaged one-sided |X_k|² of windowed blocks, with the window sums that scale it into units.
// Bin k is at k · sampleRate / size, from DC (k = 0) to Nyquist (k = size/2).
struct PowerSpectrum {
    int size = 0;         // N, the transform length
    int windowLength = 0; // samples under the window: N, or fewer for a zero-padded block
    WindowKind window = WindowKind::Hann;
    double sampleRate = 0.0;      // samples a second
    double windowSum = 0.0;       // Σw: a sine of amplitude A gives |X| = A·Σw/2 at its bin
    double windowSquareSum = 0.0; // Σw²: noise of variance σ² gives E|X|² = σ²·Σw²
    std::vector<double> power;    // size/2 + 1 bins; empty when there is no spectrum

    bool empty() const { return power.empty(); }
    int bins() const { return static_cast<int>(power.size()); }
    double binWidth() const { return sampleRate / size; } // Δf, Hz
    double frequency(int k) const { return k * binWidth(); }
    double amplitude(int k) const; // g, peak, as a sine centred on bin k would read
    double psd(int k) const;       // g²/Hz, one-sided
};

// The spectrum in a unit, one value per bin (see SpectrumUnit). Decibels are floored at -200 dB;
// the velocity of the DC bin is 0.
void convert(const PowerSpectrum& spectrum, SpectrumUnit unit, std::vector<float>& out);

// Turns a block of samples into its |X_k|²: removes the block's mean, applies the window, and
// transforms. One object serves any number of axes in turn; it is not thread-safe.
class BlockTransform {
public:
    BlockTransform(int size, WindowKind window); // size as RealFft accepts

    int size() const { return fft_.size(); }

    // block.size() samples, at most size(). A shorter block is windowed over its own length and
    // zero-padded. The span returned (size()/2 + 1 bins) is valid until the next call.
    std::span<const double> power(std::span<const float> block);

    // A PowerSpectrum with this transform's scaling for blocks of `length` samples and no power.
    // Shares the window of a shorter length with power(), so that it is made once for both.
    PowerSpectrum describe(double sampleRate, int length);

private:
    const std::vector<float>& windowFor(int length);

    RealFft fft_;
    WindowKind window_;
    std::vector<float> full_; // the window over size() samples
    double fullSum_ = 0.0;
    double fullSquareSum_ = 0.0;
    std::vector<float> short_; // the last shorter window asked for
    double shortSum_ = 0.0;
    double shortSquareSum_ = 0.0;
    std::vector<double> power_;
};

// Combines successive power arrays, bin by bin, by one of the averaging modes.
class PowerAverager {
public:
    // weight: the newest block's share in exponential averaging, in (0, 1].
    PowerAverager(int bins, Averaging mode, double weight);

    void add(std::span<const double> power);
    void reset();
    long long count() const { return count_; }
    std::span<const double> power() const { return average_; } // zeros before the first add

private:
    Averaging mode_;
    double weight_;
    long long count_ = 0;
    std::vector<double> average_;
};

} // namespace analysis
