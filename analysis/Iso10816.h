// SPDX-License-Identifier: GPL-3.0-or-later
// ISO 10816-3 evaluation zones of broadband velocity RMS (10 to 1000 Hz) measured on the
// bearings of industrial machines.
#pragma once

#include <cstdint>
#include <string_view>

#include "analysis/Settings.h"

namespace analysis {

// The band the zones are defined over, and the sample rate whose Nyquist frequency reaches it.
constexpr double kIsoBandLowHz = 10.0;
constexpr double kIsoBandHighHz = 1000.0;
constexpr double kIsoBandRate = 2.0 * kIsoBandHighHz;

// Whether a velocity band (as used, after clipping at Nyquist) covers the zones' band, so that
// its zone is an ISO 10816 verdict.
constexpr bool coversIsoBand(double lowHz, double highHz)
{
    return lowHz <= kIsoBandLowHz && highHz >= kIsoBandHighHz;
}

enum class Zone {
    A, // newly commissioned machines
    B, // acceptable for unrestricted long-term operation
    C, // unsatisfactory for long-term operation: restricted operation until put right
    D, // severe enough to cause damage
};

// Upper edges of zones A, B and C, in mm/s RMS.
struct ZoneBoundaries {
    double ab = 0.0;
    double bc = 0.0;
    double cd = 0.0;
};

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

//                     A/B   B/C   C/D
//   group 2 rigid     1.4   2.8   4.5
//   group 2 flexible  2.3   4.5   7.1
//   group 1 rigid     2.3   4.5   7.1
//   group 1 flexible  3.5   7.1   11
ZoneBoundaries zoneBoundaries(MachineGroup group, Foundation foundation);

// A velocity on a boundary belongs to the zone above it.
Zone zoneFor(double velocityRms, MachineGroup group, Foundation foundation);

std::string_view zoneName(Zone zone);    // "A" to "D"
std::string_view zoneMeaning(Zone zone); // one short phrase, as in the comments above

// The conventional colours: A green, B yellow-green, C amber, D red.
Rgb zoneColour(Zone zone);

} // namespace analysis
