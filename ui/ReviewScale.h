// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The scales of review: round steps for the g axes and the time axis, and the labels of a time
// (local clock time with as many decimals as the step needs, and the time since the start).
#include <QString>

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

} // namespace review
