// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/Peaks.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "analysis/Integration.h"
#include "analysis/Window.h"

namespace analysis {

namespace {

// Offset of the tone from bin k towards its larger neighbour, in bins, from 0 to 1/2.
// scale: window bins per transform bin (below 1 for a zero-padded block).
double offsetFromRatio(WindowKind window, double ratio, double scale)
{
    auto ratioAt = [&](double d) { return windowGain(window, (1.0 - d) * scale) / windowGain(window, d * scale); };
    if (!(ratio > ratioAt(0.0))) return 0.0;
    if (ratio >= 1.0) return 0.5;
    double low = 0.0, high = 0.5;
    for (int i = 0; i < 32; ++i) {
        const double middle = 0.5 * (low + high);
        (ratioAt(middle) < ratio ? low : high) = middle;
    }
    return 0.5 * (low + high);
}

} // namespace

std::vector<Peak> findPeaks(const PowerSpectrum& s, int count)
{
    std::vector<Peak> peaks;
    if (s.empty() || count <= 0 || s.bins() < 3) return peaks;
    const std::vector<double>& p = s.power;
    std::vector<int> maxima;
    for (int k = 1; k + 1 < s.bins(); ++k)
        if (p[k] > p[k - 1] && p[k] >= p[k + 1]) maxima.push_back(k);
    const double scale = static_cast<double>(s.windowLength) / s.size;
    const int lobe = static_cast<int>(std::ceil(mainLobeHalfWidth(s.window) / scale));
    // Maxima are at least two bins apart, so each peak taken hides at most `lobe` others: the
    // strongest count·(lobe + 1) are all that can be needed, and sorting only them is cheap.
    const auto needed = std::min(maxima.size(), static_cast<std::size_t>(count * (lobe + 1)));
    std::partial_sort(maxima.begin(), maxima.begin() + static_cast<std::ptrdiff_t>(needed), maxima.end(),
                      [&](int a, int b) { return p[a] > p[b]; });
    maxima.resize(needed);
    std::vector<int> taken;
    for (int k : maxima) {
        if (static_cast<int>(taken.size()) == count) break;
        if (std::any_of(taken.begin(), taken.end(), [&](int t) { return std::abs(t - k) < lobe; })) continue;
        taken.push_back(k);
    }

    for (int k : taken) {
        const bool upper = p[k + 1] >= p[k - 1];
        const double ratio = std::sqrt(p[upper ? k + 1 : k - 1] / p[k]);
        const double offset = offsetFromRatio(s.window, ratio, scale);
        Peak peak;
        peak.bin = k;
        peak.frequency = (k + (upper ? offset : -offset)) * s.binWidth();
        peak.amplitude = s.amplitude(k) / windowGain(s.window, offset * scale);
        peaks.push_back(peak);
    }
    std::sort(peaks.begin(), peaks.end(), [](const Peak& a, const Peak& b) { return a.amplitude > b.amplitude; });
    return peaks;
}

double peakLevel(const PowerSpectrum& s, const Peak& peak, SpectrumUnit unit)
{
    switch (unit) {
    case SpectrumUnit::Amplitude: return peak.amplitude;
    case SpectrumUnit::Decibel: return 20.0 * std::log10(std::max(peak.amplitude, 1e-10));
    case SpectrumUnit::Velocity:
        return peak.frequency > 0.0
                   ? peak.amplitude * kStandardGravity * 1000.0 / (2.0 * std::numbers::pi * peak.frequency)
                   : 0.0;
    case SpectrumUnit::Psd: {
        const double top = s.amplitude(peak.bin);
        const double gain = top > 0.0 ? peak.amplitude / top : 1.0;
        return s.psd(peak.bin) * gain * gain;
    }
    }
    return 0.0;
}

} // namespace analysis
