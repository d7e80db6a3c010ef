// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/SpanAnalysis.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include "cli/Times.h"
#include "recording/SavedAnalysis.h"

namespace cli {

namespace {

std::optional<double> seconds(std::string_view text)
{
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

} // namespace

SpanBounds spanBounds(const CommandLine& line, store::SessionReader& reader,
                      const store::SessionReader::SessionRow& session, const QCommandLineOption& from,
                      const QCommandLineOption& to, const QCommandLineOption* last)
{
    SpanBounds bounds;
    for (auto [option, bound] : {std::pair{&from, &bounds.lower}, {&to, &bounds.upper}}) {
        if (!line.isSet(*option)) continue;
        const auto moment = parseMoment(line.value(*option), session.start);
        if (!moment)
            line.usageError("--" + option->names().front().toStdString() + " '" + line.value(*option)
                            + "' is neither an ISO 8601 time nor seconds from the start");
        *bound = *moment;
        bounds.named = true;
    }
    if (bounds.lower > bounds.upper) line.usageError("--from comes after --to");
    if (last && line.isSet(*last)) {
        const auto span = seconds(line.value(*last));
        if (bounds.named) line.usageError("--last names a span of its own: give it or --from/--to, not both");
        if (!span || !(*span > 0) || !std::isfinite(*span) || *span > 1e9)
            line.usageError("--last wants a number of seconds above 0, not '" + line.value(*last) + "'");
        platform::Micros first = 0, final = 0;
        bool any = false;
        store::StoreError error;
        if (!reader.timeSpan(session.id, first, final, any, error)) storeError(error);
        if (any) bounds.lower = final - platform::Micros(std::llround(*span * 1e6));
        bounds.named = true;
    }
    return bounds;
}

analysis::Result analyseSpan(store::SessionReader& reader, const store::SessionReader::SessionRow& session,
                             const analysis::Settings& settings, const SpanBounds& bounds, AnalysedSpan& span,
                             const std::function<void(const store::SampleValues&)>& also)
{
    SavedAnalysis walked = analyseSaved(reader, session.id, settings, bounds.lower, bounds.upper, also);
    if (walked.outcome == SavedAnalysis::Outcome::unreadable) storeError(walked.error);
    if (walked.outcome == SavedAnalysis::Outcome::tooLittle)
        throw Failure(badUsage, "session " + std::to_string(session.id) + " has "
                                    + (walked.waiting < 2 ? "too few samples" : "no time between its samples")
                                    + (bounds.named ? " in that span" : "") + " to analyse ("
                                    + std::to_string(walked.waiting) + ")");
    span = AnalysedSpan{session.id,
                        session.start,
                        walked.first,
                        walked.last,
                        session.identity.name,
                        session.identity.machine,
                        session.identity.point};
    return std::move(walked.result);
}

} // namespace cli
