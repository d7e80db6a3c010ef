// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/Result.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "analysis/Integration.h"

namespace analysis {

namespace {

void dropPeaksBelowTheFloor(Result& r)
{
    double strongest = 0.0;
    for (const AxisResult& axis : r.axes)
        if (!axis.peaks.empty()) strongest = std::max(strongest, axis.peaks.front().amplitude);
    const double floor = strongest * std::pow(10.0, -kPeakFloorDb / 20.0);
    for (AxisResult& axis : r.axes) std::erase_if(axis.peaks, [&](const Peak& p) { return p.amplitude < floor; });
}

} // namespace

void fillSpectra(Result& r, std::array<PowerSpectrum, 3>&& power)
{
    const Settings& s = r.settings;
    r.hasSpectrum = !power[0].empty();
    r.hasVelocity = false;
    r.largestAxis = 0;
    r.zone = Zone::A;
    r.bandLowHz = s.bandLowHz;
    r.bandHighHz = std::min(s.bandHighHz, r.sampleRate / 2.0);
    for (std::size_t i = 0; i < 3; ++i) {
        AxisResult& axis = r.axes[i];
        axis.power = std::move(power[i]);
        axis.velocityRms = axis.displacementRms = 0.0;
        axis.zone = Zone::A;
        convert(axis.power, s.unit, axis.spectrum);
        axis.peaks = findPeaks(axis.power, s.peakCount);
        for (Peak& peak : axis.peaks) peak.level = static_cast<float>(peakLevel(axis.power, peak, s.unit));
        const BandRms band = integrateBand(axis.power, s.bandLowHz, s.bandHighHz);
        if (!band.valid) continue;
        r.hasVelocity = true;
        axis.velocityRms = band.velocity;
        axis.displacementRms = band.displacement;
        axis.zone = zoneFor(band.velocity, s.group, s.foundation);
        if (axis.velocityRms > r.axes[static_cast<std::size_t>(r.largestAxis)].velocityRms)
            r.largestAxis = static_cast<int>(i);
    }
    r.zone = r.axes[static_cast<std::size_t>(r.largestAxis)].zone;
    r.isoVerdict = r.hasVelocity && coversIsoBand(r.bandLowHz, r.bandHighHz);
    dropPeaksBelowTheFloor(r);
    const int bins = r.hasSpectrum ? r.axes[0].power.bins() : 0;
    r.frequencies.resize(static_cast<std::size_t>(bins));
    for (int k = 0; k < bins; ++k) r.frequencies[static_cast<std::size_t>(k)] = k * r.binWidth;
}

} // namespace analysis
