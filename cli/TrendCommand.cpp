// SPDX-License-Identifier: GPL-3.0-or-later
// quivra trend: the velocity RMS (per axis and overall) and RMS of every session of one machine
// and point, oldest first, from the summaries the store keeps (made here when missing or stale).
#include <charconv>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Json.h"
#include "cli/Output.h"
#include "cli/Times.h"
#include "cli/StoreWrites.h"
#include "platform/Folders.h"
#include "recording/Trend.h"

namespace cli {

namespace {

std::string fixed(double value, int decimals)
{
    char text[64];
    return std::string(text, std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr);
}

// A field for CSV: quoted when it holds a comma, a quote or a line break.
std::string csvText(const std::string& text)
{
    if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string trendCsv(const std::vector<TrendPoint>& points, store::ObjectId baseline)
{
    std::string out = "session,start,start_us,name,samples,rate,rms_x_g,rms_y_g,rms_z_g,rms_g,velocity_x_mm_s,"
                      "velocity_y_mm_s,velocity_z_mm_s,velocity_mm_s,zone,iso_verdict,baseline\n";
    for (const auto& [row, s] : points) {
        out += std::to_string(row.id) + "," + isoLocal(row.start) + "," + std::to_string(row.start) + ","
               + csvText(row.identity.name) + "," + std::to_string(s.from.samples) + "," + fixed(s.rate, 3);
        for (double rms : s.rms) out += "," + fixed(rms, 6);
        out += "," + fixed(s.rmsMagnitude, 6);
        for (double v : s.velocity) out += "," + (s.hasVelocity ? fixed(v, 4) : std::string());
        out += "," + (s.hasVelocity ? fixed(s.overallVelocity(), 4) : std::string()) + "," + s.zone + ","
               + (s.isoVerdict ? "1" : "0") + "," + (row.id == baseline ? "1" : "0") + "\n";
    }
    return out;
}

std::string trendJson(const std::string& machine, const std::string& point, const std::vector<TrendPoint>& points,
                      store::ObjectId baseline)
{
    std::string out = "{";
    json::string(out, "machine", machine);
    json::string(out, "point", point);
    json::key(out, "baseline");
    out += baseline ? std::to_string(baseline) : "null";
    json::key(out, "sessions");
    out += "[";
    for (const auto& [row, s] : points) {
        if (out.back() != '[') out += ",";
        out += "{";
        json::integer(out, "session", row.id);
        json::string(out, "start", isoLocal(row.start, 3));
        json::integer(out, "start_us", row.start);
        json::string(out, "name", row.identity.name);
        json::integer(out, "samples", s.from.samples);
        json::number(out, "sample_rate", s.rate);
        for (std::size_t a = 0; a < 3; ++a) json::number(out, std::string("rms_") + "xyz"[a], s.rms[a]);
        json::number(out, "rms", s.rmsMagnitude);
        json::key(out, "velocity");
        if (s.hasVelocity) {
            out += "{";
            for (std::size_t a = 0; a < 3; ++a) json::number(out, std::string(1, "xyz"[a]), s.velocity[a]);
            json::number(out, "overall", s.overallVelocity());
            json::string(out, "zone", s.zone);
            json::key(out, "iso_verdict");
            out += s.isoVerdict ? "true" : "false";
            out += "}";
        } else {
            out += "null";
        }
        out += "}";
    }
    return out + "]}\n";
}

std::string trendText(const std::string& machine, const std::string& point, const std::vector<TrendPoint>& points,
                      store::ObjectId baseline)
{
    auto right = [](std::string text, std::size_t width) {
        return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
    };
    std::string out = "Machine " + machine + ", point " + point + ": " + std::to_string(points.size()) + " sessions"
                      + (baseline ? ", baseline session " + std::to_string(baseline) + " (*)" : std::string()) + "\n";
    out += "session  start                 RMS x g  RMS y g  RMS z g    RMS g   vel x   vel y   vel z  overall mm/s  "
           "zone\n";
    for (const auto& [row, s] : points) {
        std::string line = (row.id == baseline ? "*" : " ") + std::to_string(row.id);
        line.resize(9, ' ');
        line += isoLocal(row.start);
        line.resize(29, ' ');
        for (double rms : s.rms) line += right(fixed(rms, 5), 9);
        line += right(fixed(s.rmsMagnitude, 5), 9);
        for (double v : s.velocity) line += right(s.hasVelocity ? fixed(v, 2) : "-", 8);
        line += right(s.hasVelocity ? fixed(s.overallVelocity(), 2) : "-", 14);
        line += "  " + (s.hasVelocity ? s.zone : "-");
        out += line + "\n";
    }
    return out;
}

} // namespace

int runTrend(const QStringList& arguments)
{
    CommandLine line("trend", "trend --machine M --point P [--json | --csv]",
                     "Lists every session of one machine and measurement point, oldest first, with its RMS per\n"
                     "axis and of the magnitude, and its velocity RMS per axis and overall (the largest axis) with\n"
                     "its ISO 10816-3 zone, as quivra analyse gives them for the whole session with the settings\n"
                     "the window keeps. The figures come from a summary the store keeps for each session, made\n"
                     "here when a session has none or its samples or the settings changed since (kept when no\n"
                     "other Quivra holds the store). The baseline of the point is marked with a star.");
    QCommandLineOption machine("machine", "The machine, as the sessions name it.", "M");
    QCommandLineOption point("point", "The measurement point on it.", "P");
    QCommandLineOption asJson("json", "The trend as one JSON object.");
    QCommandLineOption asCsv("csv", "The trend as CSV, one session a line.");
    for (const auto* option : {&machine, &point, &asJson, &asCsv}) line.add(*option);
    if (!line.parse(arguments)) return done;
    if (!line.positional().empty()) line.usageError("unexpected argument '" + line.positional().front() + "'");
    if (!line.isSet(machine) || !line.isSet(point)) line.usageError("which point? Give --machine and --point");
    if (line.isSet(asJson) && line.isSet(asCsv)) line.usageError("--json or --csv, not both");

    StoreWrites writes;
    std::string busy;
    const bool canKeep = writes.open(platform::storePath(), busy);
    store::SessionReader reader;
    openStore(reader, platform::storePath());
    const AnalysisOptions options = AnalysisOptions::fromStored(reader.settings());
    const std::string m = line.value(machine), p = line.value(point);
    std::vector<TrendPoint> points;
    store::StoreError error;
    // A summary that cannot be kept is made again next time; the trend is shown all the same.
    const auto keep = [&](const store::SessionSummary& made) {
        store::StoreError ignored;
        if (canKeep) store::writeSummary(writes.database(), made, ignored);
    };
    if (!trendOf(reader, m, p, options, keep, points, error)) storeError(error);
    store::ObjectId baseline = 0;
    if (!store::readBaseline(reader.database(), reader.version(), m, p, baseline, error)) storeError(error);

    Output out("-");
    out.open();
    out.append(line.isSet(asJson)  ? trendJson(m, p, points, baseline)
               : line.isSet(asCsv) ? trendCsv(points, baseline)
                                   : trendText(m, p, points, baseline));
    if (!out.finish()) throw Failure(storeFailed, out.error());
    return done;
}

} // namespace cli
