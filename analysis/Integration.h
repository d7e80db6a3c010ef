// SPDX-License-Identifier: GPL-3.0-or-later
// Velocity and displacement from an acceleration spectrum, by integrating in the frequency
// domain: dividing each bin by (2πf) once for velocity, twice for displacement.
#pragma once

#include "analysis/Spectrum.h"

namespace analysis {

constexpr double kStandardGravity = 9.80665; // m/s² in 1 g

struct BandRms {
    bool valid = false; // false when the band holds no bin (low edge at or past Nyquist)
    double lowHz = 0.0; // the band used: the high edge clipped at the Nyquist frequency
    double highHz = 0.0;
    double velocity = 0.0;     // mm/s RMS:  v² = Σ PSD(f)·Δf / (2πf)²  over the band
    double displacement = 0.0; // µm RMS:    d² = Σ PSD(f)·Δf / (2πf)⁴  over the band
};

// Integrates the bins whose centre frequency lies in [lowHz, highHz] (bin 0 never counts).
// lowHz > 0 and lowHz < highHz, as the settings demand.
BandRms integrateBand(const PowerSpectrum& spectrum, double lowHz, double highHz);

} // namespace analysis
