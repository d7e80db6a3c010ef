// SPDX-License-Identifier: GPL-3.0-or-later
// The strongest tones of a spectrum, each placed between bins and given its true amplitude.
#pragma once

#include <vector>

#include "analysis/Spectrum.h"

namespace analysis {

struct Peak {
    double frequency = 0.0; // Hz, refined between bins
    double amplitude = 0.0; // g, peak, corrected for where the tone falls between bins
    int bin = 0;            // the bin it tops
    float level = 0.0f;     // the same tone in the result's unit, refined as amplitude is
};

// Peaks this far below the strongest of a result (all three axes) are neither marked nor listed:
// there they are the window's side lobes, the noise floor or rounding, not tones.
constexpr double kPeakFloorDb = 60.0;

// Up to `count` local maxima (DC and Nyquist excluded), strongest first. A maximum inside the
// main lobe of a stronger one is the same tone and is skipped.
//
// Refinement: for one tone, the ratio of the larger neighbour to the top bin is a known,
// monotonic function of the tone's offset δ from the top bin, given by the window's response
// (windowGain). Solving it for δ places the tone exactly for any of the windows (a parabola on
// the log magnitude is biased by a few hundredths of a bin for Hann), and dividing the top
// bin's amplitude by the response at δ undoes the scalloping loss.
std::vector<Peak> findPeaks(const PowerSpectrum& spectrum, int count);

// A peak's refined amplitude in a unit: g peak, dB re 1 g peak, mm/s peak at its refined
// frequency, or the g²/Hz its top bin would read were the tone centred on it.
double peakLevel(const PowerSpectrum& spectrum, const Peak& peak, SpectrumUnit unit);

} // namespace analysis
