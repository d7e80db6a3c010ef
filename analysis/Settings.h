// SPDX-License-Identifier: GPL-3.0-or-later
// What an analysis is asked to do, with the text forms the store and the command line use.
#pragma once

#include <string>
#include <string_view>

namespace analysis {

// Weighting applied to each block before its transform.
enum class WindowKind {
    Hann,           // the default: good frequency resolution, -31 dB side lobes
    FlatTop,        // for amplitudes: reads a sine's level within 0.1 % wherever it falls
    BlackmanHarris, // 4-term, -92 dB side lobes: weak tones beside strong ones
};

// How successive block spectra (or successive live frames) are combined.
enum class Averaging {
    Linear,      // mean of every block's power
    Exponential, // newest block weighted by Settings::exponentialWeight
    PeakHold,    // largest power per bin
};

// What the spectrum vectors of a result hold.
enum class SpectrumUnit {
    Amplitude, // g, peak: a sine of amplitude A reads A at its bin
    Psd,       // g²/Hz, one-sided: Σ PSD·Δf is the mean square
    Decibel,   // dB re 1 g of the amplitude
    Velocity,  // mm/s, peak: the amplitude divided by 2πf
};

// ISO 10816-3 machine classes.
enum class MachineGroup {
    Group1, // large machines, 300 kW to 50 MW
    Group2, // medium machines, 15 kW to 300 kW
};

enum class Foundation { Rigid, Flexible };

constexpr int kMinFftSize = 256;
constexpr int kMaxFftSize = 65536;
constexpr int kMaxPeakCount = 64;

struct Settings {
    int fftSize = 4096; // N: a power of two from kMinFftSize to kMaxFftSize
    WindowKind window = WindowKind::Hann;
    Averaging averaging = Averaging::Linear;
    // Weight of the newest block in exponential averaging, in (0, 1]; the time constant is
    // about 1 / weight blocks. The first blocks are averaged linearly until their count reaches
    // 1 / weight, so the average does not start from zero.
    double exponentialWeight = 0.25;
    SpectrumUnit unit = SpectrumUnit::Amplitude;
    double bandLowHz = 10.0;    // velocity and displacement band; the high edge is clipped
    double bandHighHz = 1000.0; // at the Nyquist frequency when the analysis runs
    MachineGroup group = MachineGroup::Group2;
    Foundation foundation = Foundation::Rigid;
    int peakCount = 5; // strongest peaks reported per axis, 0 to kMaxPeakCount
};

// Empty when the settings can be used, else one sentence naming the first fault.
std::string settingsError(const Settings& settings);

// Throws std::invalid_argument carrying settingsError() when the settings cannot be used.
void checkSettings(const Settings& settings);

// Short, stable, lower-case names, for the store and the command line.
std::string_view toText(WindowKind);   // hann, flattop, blackman-harris
std::string_view toText(Averaging);    // linear, exponential, peak-hold
std::string_view toText(SpectrumUnit); // amplitude, psd, db, velocity
std::string_view toText(MachineGroup); // group1, group2
std::string_view toText(Foundation);   // rigid, flexible

// The reverse, ignoring case. Unknown text throws std::invalid_argument whose message quotes
// the text and lists the accepted names, e.g. `unknown window "hamming" (expected hann,
// flattop or blackman-harris)`.
WindowKind windowFromText(std::string_view text);
Averaging averagingFromText(std::string_view text);
SpectrumUnit unitFromText(std::string_view text);
MachineGroup groupFromText(std::string_view text);
Foundation foundationFromText(std::string_view text);

// Axis label of a unit, in UTF-8, saying which amplitudes are peak values (the velocity table
// and band are RMS): "g peak", "g²/Hz", "dB re 1 g peak", "mm/s peak".
std::string_view unitLabel(SpectrumUnit);

} // namespace analysis
