// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/Settings.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace analysis {

namespace {

constexpr std::array<std::pair<WindowKind, std::string_view>, 3> kWindows{{
    {WindowKind::Hann, "hann"},
    {WindowKind::FlatTop, "flattop"},
    {WindowKind::BlackmanHarris, "blackman-harris"},
}};
constexpr std::array<std::pair<Averaging, std::string_view>, 3> kAveragings{{
    {Averaging::Linear, "linear"},
    {Averaging::Exponential, "exponential"},
    {Averaging::PeakHold, "peak-hold"},
}};
constexpr std::array<std::pair<SpectrumUnit, std::string_view>, 4> kUnits{{
    {SpectrumUnit::Amplitude, "amplitude"},
    {SpectrumUnit::Psd, "psd"},
    {SpectrumUnit::Decibel, "db"},
    {SpectrumUnit::Velocity, "velocity"},
}};
constexpr std::array<std::pair<MachineGroup, std::string_view>, 2> kGroups{{
    {MachineGroup::Group1, "group1"},
    {MachineGroup::Group2, "group2"},
}};
constexpr std::array<std::pair<Foundation, std::string_view>, 2> kFoundations{{
    {Foundation::Rigid, "rigid"},
    {Foundation::Flexible, "flexible"},
}};

template <class E, std::size_t n>
std::string_view nameIn(const std::array<std::pair<E, std::string_view>, n>& table, E value)
{
    for (const auto& [e, name] : table)
        if (e == value) return name;
    return {};
}

bool sameIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

template <class E, std::size_t n>
E valueIn(const std::array<std::pair<E, std::string_view>, n>& table, std::string_view text, const char* what)
{
    for (const auto& [e, name] : table)
        if (sameIgnoringCase(name, text)) return e;
    std::string message = std::string("unknown ") + what + " \"" + std::string(text) + "\" (expected ";
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0) message += i + 1 == n ? " or " : ", ";
        message += table[i].second;
    }
    throw std::invalid_argument(message + ")");
}

std::string number(double v)
{
    std::ostringstream out;
    out << v;
    return out.str();
}

} // namespace

std::string settingsError(const Settings& s)
{
    const int n = s.fftSize;
    if (n < kMinFftSize || n > kMaxFftSize || (n & (n - 1)) != 0)
        return "FFT size " + std::to_string(n) + " is not a power of two from " + std::to_string(kMinFftSize) + " to "
               + std::to_string(kMaxFftSize);
    if (nameIn(kWindows, s.window).empty()) return "unknown window";
    if (nameIn(kAveragings, s.averaging).empty()) return "unknown averaging";
    if (nameIn(kUnits, s.unit).empty()) return "unknown spectrum unit";
    if (nameIn(kGroups, s.group).empty()) return "unknown machine group";
    if (nameIn(kFoundations, s.foundation).empty()) return "unknown foundation";
    if (!(s.exponentialWeight > 0.0 && s.exponentialWeight <= 1.0))
        return "exponential weight " + number(s.exponentialWeight)
               + " is outside (0, 1]: it is the newest block's share of the average";
    if (!std::isfinite(s.bandLowHz) || !std::isfinite(s.bandHighHz) || s.bandLowHz <= 0.0)
        return "band " + number(s.bandLowHz) + " to " + number(s.bandHighHz)
               + " Hz: both edges must be finite and the low edge above 0 Hz";
    if (s.bandLowHz >= s.bandHighHz)
        return "band " + number(s.bandLowHz) + " to " + number(s.bandHighHz)
               + " Hz: the low edge must be below the high edge";
    if (s.peakCount < 0 || s.peakCount > kMaxPeakCount)
        return "peak count " + std::to_string(s.peakCount) + " is outside 0 to " + std::to_string(kMaxPeakCount);
    return {};
}

void checkSettings(const Settings& settings)
{
    if (std::string error = settingsError(settings); !error.empty()) throw std::invalid_argument(error);
}

std::string_view toText(WindowKind v)
{
    return nameIn(kWindows, v);
}
std::string_view toText(Averaging v)
{
    return nameIn(kAveragings, v);
}
std::string_view toText(SpectrumUnit v)
{
    return nameIn(kUnits, v);
}
std::string_view toText(MachineGroup v)
{
    return nameIn(kGroups, v);
}
std::string_view toText(Foundation v)
{
    return nameIn(kFoundations, v);
}

WindowKind windowFromText(std::string_view t)
{
    return valueIn(kWindows, t, "window");
}
Averaging averagingFromText(std::string_view t)
{
    return valueIn(kAveragings, t, "averaging");
}
SpectrumUnit unitFromText(std::string_view t)
{
    return valueIn(kUnits, t, "spectrum unit");
}
MachineGroup groupFromText(std::string_view t)
{
    return valueIn(kGroups, t, "machine group");
}
Foundation foundationFromText(std::string_view t)
{
    return valueIn(kFoundations, t, "foundation");
}

std::string_view unitLabel(SpectrumUnit unit)
{
    switch (unit) {
    case SpectrumUnit::Amplitude: return "g peak";
    case SpectrumUnit::Psd: return "g\u00b2/Hz";
    case SpectrumUnit::Decibel: return "dB re 1 g peak";
    case SpectrumUnit::Velocity: return "mm/s peak";
    }
    return {};
}

} // namespace analysis
