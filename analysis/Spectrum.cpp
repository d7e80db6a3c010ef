// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/Spectrum.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "analysis/Integration.h"
#include "analysis/Window.h"

namespace analysis {

namespace {

// One-sided spectra fold the negative frequencies onto the positive ones; DC and Nyquist have
// no mirror image.
double foldFactor(int k, int size)
{
    return k == 0 || 2 * k == size ? 1.0 : 2.0;
}

double sumOf(const std::vector<float>& w, bool squared)
{
    double sum = 0.0;
    for (float v : w) sum += squared ? double(v) * v : double(v);
    return sum;
}

} // namespace

double PowerSpectrum::amplitude(int k) const
{
    return foldFactor(k, size) * std::sqrt(power[static_cast<std::size_t>(k)]) / windowSum;
}

double PowerSpectrum::psd(int k) const
{
    return foldFactor(k, size) * power[static_cast<std::size_t>(k)] / (sampleRate * windowSquareSum);
}

void convert(const PowerSpectrum& s, SpectrumUnit unit, std::vector<float>& out)
{
    const int bins = s.bins();
    out.resize(static_cast<std::size_t>(bins));
    for (int k = 0; k < bins; ++k) {
        double v = 0.0;
        switch (unit) {
        case SpectrumUnit::Amplitude: v = s.amplitude(k); break;
        case SpectrumUnit::Psd: v = s.psd(k); break;
        case SpectrumUnit::Decibel: v = 20.0 * std::log10(std::max(s.amplitude(k), 1e-10)); break;
        case SpectrumUnit::Velocity:
            v = k == 0 ? 0.0 : s.amplitude(k) * kStandardGravity * 1000.0 / (2.0 * std::numbers::pi * s.frequency(k));
            break;
        }
        out[static_cast<std::size_t>(k)] = static_cast<float>(v);
    }
}

BlockTransform::BlockTransform(int size, WindowKind window)
    : fft_(size), window_(window), full_(static_cast<std::size_t>(size)), power_(static_cast<std::size_t>(size / 2 + 1))
{
    fillWindow(window, full_);
    fullSum_ = sumOf(full_, false);
    fullSquareSum_ = sumOf(full_, true);
}

const std::vector<float>& BlockTransform::windowFor(int length)
{
    if (length == size()) return full_;
    if (static_cast<int>(short_.size()) != length) {
        short_.resize(static_cast<std::size_t>(length));
        fillWindow(window_, short_);
        shortSum_ = sumOf(short_, false);
        shortSquareSum_ = sumOf(short_, true);
    }
    return short_;
}

std::span<const double> BlockTransform::power(std::span<const float> block)
{
    const std::size_t n = block.size();
    if (n == 0 || n > static_cast<std::size_t>(size()))
        throw std::invalid_argument("block of " + std::to_string(n) + " samples for an FFT of "
                                    + std::to_string(size()));
    const std::vector<float>& w = windowFor(static_cast<int>(n));
    double sum = 0.0;
    for (float v : block) sum += v;
    const float mean = static_cast<float>(sum / static_cast<double>(n));
    const std::span<float> in = fft_.input();
    for (std::size_t i = 0; i < n; ++i) in[i] = (block[i] - mean) * w[i];
    std::fill(in.begin() + static_cast<std::ptrdiff_t>(n), in.end(), 0.0f);
    fft_.execute();
    const auto out = fft_.output();
    for (std::size_t k = 0; k < out.size(); ++k) {
        const double re = out[k].real(), im = out[k].imag();
        power_[k] = re * re + im * im;
    }
    return power_;
}

PowerSpectrum BlockTransform::describe(double sampleRate, int length)
{
    PowerSpectrum s;
    s.size = size();
    s.windowLength = length;
    s.window = window_;
    s.sampleRate = sampleRate;
    windowFor(length);
    const bool full = length == size();
    s.windowSum = full ? fullSum_ : shortSum_;
    s.windowSquareSum = full ? fullSquareSum_ : shortSquareSum_;
    return s;
}

PowerAverager::PowerAverager(int bins, Averaging mode, double weight)
    : mode_(mode), weight_(weight), average_(static_cast<std::size_t>(bins), 0.0)
{}

void PowerAverager::add(std::span<const double> power)
{
    if (power.size() != average_.size())
        throw std::invalid_argument("power of " + std::to_string(power.size()) + " bins added to an average of "
                                    + std::to_string(average_.size()));
    ++count_;
    const std::size_t n = average_.size();
    switch (mode_) {
    case Averaging::PeakHold:
        if (count_ == 1)
            std::copy(power.begin(), power.end(), average_.begin());
        else
            for (std::size_t k = 0; k < n; ++k) average_[k] = std::max(average_[k], power[k]);
        break;
    case Averaging::Linear:
    case Averaging::Exponential: {
        // A running mean; exponential keeps the newest block's share from falling below its
        // weight.
        double share = 1.0 / static_cast<double>(count_);
        if (mode_ == Averaging::Exponential) share = std::max(share, weight_);
        for (std::size_t k = 0; k < n; ++k) average_[k] += share * (power[k] - average_[k]);
        break;
    }
    }
}

void PowerAverager::reset()
{
    count_ = 0;
    std::fill(average_.begin(), average_.end(), 0.0);
}

} // namespace analysis
