// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/AnalysisReport.h"

#include <charconv>
#include <cmath>

#include "cli/Json.h"
#include "cli/Times.h"

namespace cli {

namespace {

using analysis::Levels;
using analysis::Result;

// Fixed decimals without printf, whose decimal mark follows the user's locale; right-aligned.
std::string fixed(double value, int decimals, std::size_t width = 0)
{
    char text[64];
    std::string out(text, std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr);
    return out.size() < width ? std::string(width - out.size(), ' ') + out : out;
}

std::string padded(std::string text, std::size_t width)
{
    text.resize(std::max(width, text.size()), ' ');
    return text;
}

std::string levelsRow(const std::string& name, const Levels& l)
{
    return "  " + padded(name, 11) + fixed(l.mean, 5, 10) + fixed(l.rms, 5, 10) + fixed(l.peak, 5, 10)
           + fixed(l.peakToPeak, 5, 11) + fixed(l.crest, 2, 8) + "\n";
}

void levelsJson(std::string& out, std::string_view name, const Levels& l)
{
    json::key(out, name);
    out += "{";
    json::number(out, "mean", l.mean);
    json::number(out, "rms", l.rms);
    json::number(out, "peak", l.peak);
    json::number(out, "peak_to_peak", l.peakToPeak);
    json::number(out, "crest", l.crest);
    out += "}";
}

std::string headline(const AnalysedSpan& span, const Result& r)
{
    std::string out = "Session " + std::to_string(span.session);
    if (!span.name.empty()) out += " \"" + span.name + "\"";
    if (!span.machine.empty()) out += ", " + span.machine;
    if (!span.point.empty()) out += (span.machine.empty() ? ", " : " \u00b7 ") + span.point;
    out += ", started " + isoLocal(span.sessionStart) + "\n";
    out += "Analysed " + isoLocal(span.first, 3) + " to " + isoLocal(span.last, 3) + " ("
           + durationText(span.last - span.first) + "): " + grouped(r.samples) + " samples at " + fixed(r.sampleRate, 2)
           + " a second\n";
    out += "FFT " + std::to_string(r.fftSize) + " (" + fixed(r.binWidth, 4) + " Hz bins up to the Nyquist frequency, "
           + fixed(r.nyquist(), 1) + " Hz; faster vibration folds below it), "
           + std::string(analysis::toText(r.settings.window)) + " window, "
           + std::string(analysis::toText(r.settings.averaging)) + " averaging; " + grouped(r.blocksUsed)
           + (r.blocksUsed == 1 ? " block" : " blocks") + " used, " + grouped(r.blocksSkipped) + " left out for gaps\n";
    if (r.partialLength > 0)
        out += "Fewer samples than one block without a gap: the spectrum is of the newest " + grouped(r.partialLength)
               + ", zero-padded\n";
    return out;
}

// The band and the machine the zones are for; when the band used falls short of the zones' own,
// that they are no ISO verdict, and what rate would make them one.
std::string velocityHeading(const Result& r)
{
    const std::string machine = std::string(analysis::toText(r.settings.group)) + ", "
                                + std::string(analysis::toText(r.settings.foundation)) + " foundation";
    std::string out = "Velocity RMS over " + fixed(r.bandLowHz, 1) + "-" + fixed(r.bandHighHz, 1) + " Hz";
    if (r.isoVerdict) return out + ", ISO 10816-3 " + machine + "\n";
    const bool cut = r.bandHighHz < r.settings.bandHighHz;
    out += std::string(cut ? " (the band cut at the Nyquist frequency)" : " (the band set)") + ", zones of " + machine
           + "\n  NOT an ISO 10816 verdict, which is for " + fixed(analysis::kIsoBandLowHz, 0) + "-"
           + fixed(analysis::kIsoBandHighHz, 0) + " Hz";
    if (r.bandHighHz < analysis::kIsoBandHighHz)
        out += " and needs at least " + grouped(std::llround(analysis::kIsoBandRate)) + " samples a second";
    return out + ": the zones below are a guide only\n";
}

} // namespace

std::string reportText(const AnalysedSpan& span, const Result& r)
{
    std::string out = headline(span, r);
    out += "\nLevels in g        mean       RMS      peak  peak-peak   crest\n";
    for (std::size_t a = 0; a < 3; ++a) out += levelsRow(std::string(analysis::kAxisNames[a]), r.axes[a].levels);
    out += levelsRow("magnitude", r.magnitude);

    out += "\n";
    if (!r.hasVelocity) {
        out += r.hasSpectrum
                   ? "Velocity: the band " + fixed(r.settings.bandLowHz, 1) + "-" + fixed(r.settings.bandHighHz, 1)
                         + " Hz holds no frequency below half the sample rate\n"
                   : "No spectrum: fewer than " + std::to_string(analysis::kMinPartialLength)
                         + " samples without a gap, so no velocity, zone or peaks\n";
    } else {
        out += velocityHeading(r);
        for (std::size_t a = 0; a < 3; ++a) {
            const auto& axis = r.axes[a];
            out += "  " + padded(std::string(analysis::kAxisNames[a]), 9) + fixed(axis.velocityRms, 2, 9)
                   + " mm/s RMS  zone " + std::string(analysis::zoneName(axis.zone)) + "  "
                   + (r.isoVerdict ? std::string(analysis::zoneMeaning(axis.zone)) : "(a guide only)") + "\n";
        }
        out += "  overall zone " + std::string(analysis::zoneName(r.zone)) + " ("
               + std::string(analysis::kAxisNames[std::size_t(r.largestAxis)]) + ")"
               + (r.isoVerdict ? "" : ", not an ISO 10816 verdict") + "\n";
    }
    if (r.hasSpectrum && r.settings.peakCount > 0) {
        const bool otherUnit = r.settings.unit != analysis::SpectrumUnit::Amplitude;
        const std::string label(analysis::unitLabel(r.settings.unit));
        out +=
            "\nStrongest peaks, amplitude in g peak" + (otherUnit ? " (level in " + label + ")" : std::string()) + "\n";
        for (std::size_t a = 0; a < 3; ++a) {
            out += "  " + std::string(analysis::kAxisNames[a]) + " ";
            if (r.axes[a].peaks.empty()) out += " none";
            for (const auto& peak : r.axes[a].peaks) {
                out += (&peak == &r.axes[a].peaks.front() ? " " : ", ") + fixed(peak.frequency, 2) + " Hz "
                       + fixed(peak.amplitude, 5);
                if (otherUnit) out += " (" + fixed(peak.level, 5) + ")";
            }
            out += "\n";
        }
    }
    return out;
}

std::string reportJson(const AnalysedSpan& span, const Result& r)
{
    const analysis::Settings& s = r.settings;
    std::string out = "{";
    json::integer(out, "session", span.session);
    json::string(out, "session_start", isoLocal(span.sessionStart, 3));
    json::string(out, "name", span.name);
    json::string(out, "machine", span.machine);
    json::string(out, "point", span.point);
    json::string(out, "from", isoLocal(span.first, 6));
    json::string(out, "to", isoLocal(span.last, 6));
    json::integer(out, "from_us", span.first);
    json::integer(out, "to_us", span.last);
    json::integer(out, "samples", r.samples);
    json::number(out, "sample_rate", r.sampleRate);
    json::number(out, "nyquist_hz", r.nyquist());
    json::key(out, "settings");
    out += "{";
    json::integer(out, "fft_size", s.fftSize);
    for (auto [name, value] : {std::pair{"window", analysis::toText(s.window)},
                               {"averaging", analysis::toText(s.averaging)},
                               {"unit", analysis::toText(s.unit)},
                               {"group", analysis::toText(s.group)},
                               {"foundation", analysis::toText(s.foundation)}})
        json::string(out, name, value);
    json::number(out, "band_low_hz", s.bandLowHz);
    json::number(out, "band_high_hz", s.bandHighHz);
    json::integer(out, "peaks", s.peakCount);
    out += "}";
    json::key(out, "levels");
    out += "{";
    for (std::size_t a = 0; a < 3; ++a) levelsJson(out, analysis::kAxisNames[a], r.axes[a].levels);
    levelsJson(out, "magnitude", r.magnitude);
    out += "}";
    json::key(out, "velocity");
    if (r.hasVelocity) {
        out += "{";
        json::number(out, "band_low_hz", r.bandLowHz);
        json::number(out, "band_high_hz", r.bandHighHz);
        for (std::size_t a = 0; a < 3; ++a) {
            json::key(out, analysis::kAxisNames[a]);
            out += "{";
            json::number(out, "rms_mm_s", r.axes[a].velocityRms);
            json::string(out, "zone", analysis::zoneName(r.axes[a].zone));
            out += "}";
        }
        json::string(out, "zone", analysis::zoneName(r.zone));
        json::string(out, "zone_axis", analysis::kAxisNames[std::size_t(r.largestAxis)]);
        // The zones judge 10 Hz to 1 kHz; over a narrower band they are no ISO verdict.
        json::key(out, "iso_verdict");
        out += r.isoVerdict ? "true" : "false";
        json::number(out, "iso_band_rate", analysis::kIsoBandRate);
        out += "}";
    } else {
        out += "null";
    }
    json::key(out, "peaks");
    out += "{";
    for (std::size_t a = 0; a < 3; ++a) {
        json::key(out, analysis::kAxisNames[a]);
        out += "[";
        for (const auto& peak : r.axes[a].peaks) {
            if (out.back() != '[') out += ",";
            out += "{";
            json::number(out, "hz", peak.frequency);
            json::number(out, "amplitude_g", peak.amplitude);
            json::number(out, "amplitude_g_peak", peak.amplitude);
            json::number(out, "level", peak.level);
            json::string(out, "level_unit", analysis::unitLabel(s.unit));
            out += "}";
        }
        out += "]";
    }
    out += "}";
    json::integer(out, "spectrum_samples", r.hasSpectrum ? (r.partialLength > 0 ? r.partialLength : r.fftSize) : 0);
    json::integer(out, "blocks_used", r.blocksUsed);
    json::integer(out, "blocks_skipped", r.blocksSkipped);
    out += "}\n";
    return out;
}

} // namespace cli
