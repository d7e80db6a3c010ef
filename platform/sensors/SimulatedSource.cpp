// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sensors/SimulatedSource.h"

#include <cmath>
#include <cstdint>
#include <numbers>

namespace sensors {

namespace {

// Every frequency below makes a whole number of cycles in this period, so time can be taken
// modulo the period without a jump, and the sines keep full precision for any date.
constexpr platform::Micros period = 3600LL * 1000000LL;

struct Wave {
    double amplitude; // g
    double frequency; // Hz, a multiple of 1/3600
    double phase;     // radians
};

double sumOf(const Wave (&waves)[3], double seconds)
{
    double sum = 0;
    for (const Wave& w : waves) sum += w.amplitude * std::sin(2 * std::numbers::pi * w.frequency * seconds + w.phase);
    return sum;
}

// A small, repeatable pseudo-noise in [-1, 1) for a moment and an axis (splitmix64).
double noise(platform::Micros when, std::uint64_t axis)
{
    std::uint64_t z = static_cast<std::uint64_t>(when) * 3 + axis + 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) / 4503599627370496.0 - 1.0; // 2^52
}

// A hum of a running machine, a second harmonic and a slow sway of its mounting.
constexpr Wave xWaves[3] = {{0.14, 23.5, 0.0}, {0.05, 47.0, 1.1}, {0.09, 0.37, 0.4}};
constexpr Wave yWaves[3] = {{0.10, 23.5, 2.0}, {0.04, 11.25, 0.3}, {0.07, 0.29, 2.6}};
constexpr Wave zWaves[3] = {{0.16, 23.5, 4.1}, {0.05, 7.75, 1.7}, {0.04, 0.41, 5.0}};
constexpr double noiseAmplitude = 0.015; // g
// The machine's load rises and falls slowly; the hum follows it.
constexpr Wave swell{0.35, 0.05, 0.0};

} // namespace

Acceleration SimulatedSource::at(platform::Micros when)
{
    const platform::Micros inPeriod = ((when % period) + period) % period;
    const double t = static_cast<double>(inPeriod) / 1e6;
    const double load = 1.0 + swell.amplitude * std::sin(2 * std::numbers::pi * swell.frequency * t);

    Acceleration a;
    a.x = load * sumOf(xWaves, t) + noiseAmplitude * noise(when, 0);
    a.y = load * sumOf(yWaves, t) + noiseAmplitude * noise(when, 1);
    a.z = -1.0 + load * sumOf(zWaves, t) + noiseAmplitude * noise(when, 2);
    return a;
}

bool SimulatedSource::read(Acceleration& out, std::string&)
{
    out = at(platform::Clock::now());
    return true;
}

std::string SimulatedSource::description() const
{
    return "simulated vibration";
}

} // namespace sensors
