// SPDX-License-Identifier: GPL-3.0-or-later
// quivra sessions: every stored session, oldest first, as a table or as JSON lines, with who and
// what each is; filtered by words, machine or point.
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "analysis/SessionWalk.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Json.h"
#include "cli/Output.h"
#include "cli/Times.h"
#include "platform/Folders.h"
#include "recording/SessionText.h"

namespace cli {

namespace {

struct Listed {
    store::SessionReader::SessionRow row;
    bool active = false;
    bool any = false;
    Micros first = 0, last = 0;
    double rate = 0; // 0: too few samples to tell
};

Listed describe(store::SessionReader& reader, const store::SessionReader::SessionRow& row, store::ObjectId active)
{
    Listed out{row, row.id == active};
    store::StoreError error;
    std::vector<Micros> times;
    if (!reader.timeSpan(row.id, out.first, out.last, out.any, error)
        || !reader.firstTimes(row.id, analysis::kRateSamples, times, error))
        storeError(error);
    out.rate = analysis::estimateSampleRate(times);
    return out;
}

void appendJson(std::string& line, const Listed& s)
{
    line = "{";
    json::integer(line, "id", s.row.id);
    json::string(line, "start", isoLocal(s.row.start, 3));
    json::integer(line, "start_us", s.row.start);
    json::integer(line, "samples", s.row.samples);
    json::key(line, "first_us");
    s.any ? json::integer(line, s.first) : void(line += "null");
    json::key(line, "last_us");
    s.any ? json::integer(line, s.last) : void(line += "null");
    json::number(line, "duration_s", double(s.last - s.first) / 1e6);
    json::number(line, "rate", s.rate > 0 ? s.rate : std::nan(""));
    json::key(line, "active");
    line += s.active ? "true" : "false";
    const store::SessionIdentity& who = s.row.identity;
    json::string(line, "name", who.name);
    json::string(line, "machine", who.machine);
    json::string(line, "point", who.point);
    json::string(line, "direction", who.direction);
    json::string(line, "notes", who.notes);
    json::string(line, "source", who.source);
    json::number(line, "recorded_rate", who.rate > 0 ? who.rate : std::nan(""));
    line += "}\n";
}

// The identity follows the figures, so that the columns before it stay where they were.
constexpr const char* kRowFormat = "%c%5s  %-25s %12s %12s %8s  %s\n";

void appendText(std::string& line, const Listed& s)
{
    char rate[32] = "-";
    if (s.rate > 0) {
        // Whole numbers and tenths, without printf's locale.
        const long long tenths = std::llround(s.rate * 10);
        std::snprintf(rate, sizeof rate, "%lld.%lld", tenths / 10, tenths % 10);
    }
    // "Run 1: Pump 3 · DE bearing", one line however the fields were given.
    std::string who = s.row.identity.name;
    const std::string place = placeText(s.row.identity);
    if (!place.empty()) who += (who.empty() ? "" : ": ") + place;
    line.assign(160 + who.size(), '\0');
    const int length =
        std::snprintf(line.data(), line.size(), kRowFormat, s.active ? '*' : ' ', std::to_string(s.row.id).c_str(),
                      isoLocal(s.row.start).c_str(), grouped(s.row.samples).c_str(),
                      s.any ? durationText(s.last - s.first).c_str() : "-", rate, who.c_str());
    line.resize(std::size_t(std::max(length, 0)));
    if (who.empty()) line.erase(line.size() - 3, 2); // no blank columns at the end
}

} // namespace

int runSessions(const QStringList& arguments)
{
    CommandLine line("sessions", "sessions [--json] [--filter WORDS] [--machine M] [--point P]",
                     "Lists every session of the store, oldest first: its number, when it was started (local\n"
                     "time), its saved samples, the time from its first sample to its last, the rate it\n"
                     "was recorded at (samples a second), and its name, machine and point. The active session\n"
                     "is marked with a star. Reads the store without changing it, also while Quivra records\n"
                     "into it.");
    QCommandLineOption asJson("json",
                              "One JSON object per session and line (times also in microseconds since 1970 UTC).");
    QCommandLineOption filter("filter",
                              "Only sessions with every word in their name, machine, point, direction, "
                              "notes, source or start (ignoring case).",
                              "WORDS");
    QCommandLineOption machine("machine", "Only sessions of this machine (ignoring case).", "M");
    QCommandLineOption point("point", "Only sessions at this measurement point (ignoring case).", "P");
    for (const auto* option : {&asJson, &filter, &machine, &point}) line.add(*option);
    if (!line.parse(arguments)) return done;
    if (!line.positional().empty()) line.usageError("unexpected argument '" + line.positional().front() + "'");

    store::SessionReader reader;
    openStore(reader, platform::storePath());
    store::ObjectId active = 0;
    store::StoreError error;
    if (!reader.activeSession(active, error)) storeError(error);

    Output out("-");
    out.open();
    if (!line.isSet(asJson)) {
        char header[160];
        std::snprintf(header, sizeof header, kRowFormat, ' ', "id", "start", "samples", "duration", "rate",
                      "name: machine \u00b7 point");
        out.append(header);
    }
    std::string text;
    const auto same = [](const std::string& a, const std::string& b) {
        return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
    };
    for (const auto& row : allSessions(reader)) {
        if (line.isSet(machine) && !same(row.identity.machine, line.value(machine))) continue;
        if (line.isSet(point) && !same(row.identity.point, line.value(point))) continue;
        if (!matchesFilter(row.identity, isoLocal(row.start), line.value(filter))) continue;
        const Listed listed = describe(reader, row, active);
        line.isSet(asJson) ? appendJson(text, listed) : appendText(text, listed);
        out.append(text);
        if (!out.good()) break;
    }
    if (!out.finish()) throw Failure(storeFailed, out.error());
    return done;
}

} // namespace cli
