// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/Integration.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace analysis {

BandRms integrateBand(const PowerSpectrum& s, double lowHz, double highHz)
{
    BandRms band;
    band.lowHz = lowHz;
    band.highHz = std::min(highHz, s.sampleRate / 2.0);
    if (s.empty() || !(band.lowHz < band.highHz)) return band;
    const double df = s.binWidth();
    const int first = std::max(1, static_cast<int>(std::ceil(band.lowHz / df - 1e-9)));
    const int last = std::min(s.bins() - 1, static_cast<int>(std::floor(band.highHz / df + 1e-9)));
    if (first > last) return band;
    // PSD in g²/Hz to (m/s²)²/Hz.
    const double toSi = kStandardGravity * kStandardGravity;
    double velocitySquare = 0.0, displacementSquare = 0.0;
    for (int k = first; k <= last; ++k) {
        const double w = 2.0 * std::numbers::pi * s.frequency(k);
        const double meanSquare = s.psd(k) * df * toSi / (w * w);
        velocitySquare += meanSquare;
        displacementSquare += meanSquare / (w * w);
    }
    band.valid = true;
    band.velocity = std::sqrt(velocitySquare) * 1e3;
    band.displacement = std::sqrt(displacementSquare) * 1e6;
    return band;
}

} // namespace analysis
