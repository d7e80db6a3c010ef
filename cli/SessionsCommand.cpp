// SPDX-License-Identifier: GPL-3.0-or-later
// quivra sessions: every stored session, oldest first, as a table or as JSON lines.
#include <cmath>
#include <cstdio>

#include "analysis/SessionWalk.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Json.h"
#include "cli/Output.h"
#include "cli/Times.h"
#include "platform/Folders.h"

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
    if (!reader.timeSpan(row.id, out.first, out.last, out.any, error) || !reader.firstTimes(row.id, analysis::kRateSamples, times, error))
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
    line += "}\n";
}

constexpr const char* kRowFormat = "%c%5s  %-25s %12s %12s %8s\n";

void appendText(std::string& line, const Listed& s)
{
    char rate[32] = "-";
    if (s.rate > 0) {
        // Whole numbers and tenths, without printf's locale.
        const long long tenths = std::llround(s.rate * 10);
        std::snprintf(rate, sizeof rate, "%lld.%lld", tenths / 10, tenths % 10);
    }
    char text[160];
    std::snprintf(text, sizeof text, kRowFormat, s.active ? '*' : ' ', std::to_string(s.row.id).c_str(),
                  isoLocal(s.row.start).c_str(), grouped(s.row.samples).c_str(),
                  s.any ? durationText(s.last - s.first).c_str() : "-", rate);
    line = text;
}

} // namespace

int runSessions(const QStringList& arguments)
{
    CommandLine line("sessions", "sessions [--json]",
                     "Lists every session of the store, oldest first: its number, when it was started (local\n"
                     "time), its saved samples, the time from its first sample to its last, and the rate it\n"
                     "was recorded at (samples a second). The active session is marked with a star. Reads the\n"
                     "store without changing it, also while Quivra records into it.");
    QCommandLineOption asJson("json", "One JSON object per session and line (times also in microseconds since 1970 UTC).");
    line.add(asJson);
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
        std::snprintf(header, sizeof header, kRowFormat, ' ', "id", "start", "samples", "duration", "rate");
        out.append(header);
    }
    std::string text;
    for (const auto& row : allSessions(reader)) {
        const Listed listed = describe(reader, row, active);
        line.isSet(asJson) ? appendJson(text, listed) : appendText(text, listed);
        out.append(text);
        if (!out.good()) break;
    }
    if (!out.finish()) throw Failure(storeFailed, out.error());
    return done;
}

} // namespace cli
