// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The scales of review: round steps for the value axes and the time axis, the unit values are
// shown in, and the labels of a time (local clock time with as many decimals as the step needs,
// and the time since the start).
#include <QString>

#include <map>
#include <string>
#include <vector>

#include "platform/Clock.h"

namespace review {

// A round step (1, 2 or 5 times a power of ten) that puts ticks at least `minGap` apart when
// `span` is `pixels` long, and the ticks in [lo, hi].
double roundStep(double span, double pixels, double minGap);
std::vector<double> ticks(double lo, double hi, double step);

// A step in microseconds from the clock's round steps (1 µs ... 1 ms, 1, 2, 5, 10, 15, 30 s,
// 1, 2, 5, 10, 15, 30 min, 1, 2, 3, 6, 12 h, 1 day) for ticks at least `minGap` pixels apart.
platform::Micros timeStep(platform::Micros span, double pixels, double minGap);
// Multiples of the step in local time within [from, to].
std::vector<platform::Micros> timeTicks(platform::Micros from, platform::Micros to, platform::Micros step);

// "14:03:07", with ".25" / ".250" / ".250125" when the step is below a second.
QString clockLabel(platform::Micros t, platform::Micros step);
// "+1:02:03.5", the time since `start`, as precise as the step.
QString elapsedLabel(platform::Micros t, platform::Micros start, platform::Micros step);
// "3.125 ms", "1.20 s", "250 µs".
QString durationLabel(platform::Micros d);

// The unit readings are shown in; the store keeps g whatever is shown.
enum class ValueUnit { g, metresPerSecondSquared };
inline constexpr double kStandardGravity = 9.80665; // m/s² in 1 g
inline constexpr const char* kUnitSetting = "display.unit";
// The stored setting ("g", "m/s2"); g when missing or unknown.
ValueUnit unitFromStored(const std::map<std::string, std::string>& settings);
std::string unitToStored(ValueUnit unit);
// What a value in g is multiplied by to show it in the unit; "g" or "m/s²".
double unitFactor(ValueUnit unit);
QString unitName(ValueUnit unit);

// The fixed full scales of a lane (± this much about its middle), finest first, in the unit:
// 0.01 g to 16 g, or 0.1 m/s² to 160 m/s². The same place in either list is about the same scale.
const std::vector<double>& fullScales(ValueUnit unit);
// "±0.05 g", "±160 m/s²".
QString fullScaleLabel(ValueUnit unit, int step);

} // namespace review
