// SPDX-License-Identifier: GPL-3.0-or-later
// What an analysis of three axes gives: levels, spectra, peaks, velocity, zones and the count
// of what went in.
#pragma once

#include <array>
#include <string_view>
#include <vector>

#include "analysis/Iso10816.h"
#include "analysis/Levels.h"
#include "analysis/Peaks.h"
#include "analysis/Settings.h"
#include "analysis/Spectrum.h"

namespace analysis {

constexpr std::array<std::string_view, 3> kAxisNames{"x", "y", "z"};

struct AxisResult {
    Levels levels;
    PowerSpectrum power;          // the averaged power, to scale into any other unit (convert)
    std::vector<float> spectrum;  // in Result::settings.unit, one value per frequency
    std::vector<Peak> peaks;      // strongest first, at most settings.peakCount, none below the
                                  // floor (kPeakFloorDb under the result's strongest)
    double velocityRms = 0.0;     // mm/s over the band; valid when Result::hasVelocity
    double displacementRms = 0.0; // µm over the band; likewise
    Zone zone = Zone::A;          // ISO 10816-3 zone of velocityRms; likewise
};

struct Result {
    Settings settings;
    double sampleRate = 0.0; // samples a second
    int fftSize = 0;         // N
    double binWidth = 0.0;   // Δf = sampleRate / N, Hz

    // A spectrum exists once a full gap-free block was averaged, or, before that, from the
    // newest gap-free run of at least kMinPartialLength samples, windowed over its own length
    // and zero-padded to N (partialLength then says how many samples: the bins are still Δf
    // apart, but the resolution is sampleRate / partialLength). Without one, the frequencies,
    // spectra and peaks are empty and hasVelocity is false.
    bool hasSpectrum = false;
    int partialLength = 0;
    std::vector<double> frequencies; // Hz of each bin, 0 to sampleRate/2

    std::array<AxisResult, 3> axes; // x, y, z
    Levels magnitude;               // of sqrt(x² + y² + z²)

    // Velocity band actually used: the settings' band with its high edge clipped at Nyquist.
    // hasVelocity is false when there is no spectrum or the band holds no bin.
    bool hasVelocity = false;
    double bandLowHz = 0.0;
    double bandHighHz = 0.0;
    int largestAxis = 0; // the axis of the largest velocity RMS
    Zone zone = Zone::A; // that axis's zone
    // The zones are an ISO 10816 verdict only when the band used covers 10 Hz to 1 kHz
    // (coversIsoBand); otherwise they only say where the velocity of a narrower band would fall.
    bool isoVerdict = false;

    double nyquist() const { return sampleRate / 2.0; } // Hz; faster vibration folds below it

    long long blocksUsed = 0;    // Welch blocks in the average
    long long blocksSkipped = 0; // blocks left out because they span a gap in the time stamps
    long long samples = 0;       // samples fed since the start or the last reset
};

constexpr int kMinPartialLength = 64;

// Fills the spectral fields of a result (frequencies, spectra, peaks, velocities, zones, band,
// hasSpectrum) from the three axes' power spectra, which are moved into it. Empty power
// spectra mean no spectrum. The analysers use it; vectors already in the result are reused.
void fillSpectra(Result& result, std::array<PowerSpectrum, 3>&& power);

} // namespace analysis
