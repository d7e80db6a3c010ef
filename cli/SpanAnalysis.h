// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A span of a stored session as the command line names it (--from, --to, --last), and the one
// pass over it that analyses it: what `quivra analyse`, `report` and `trend` all print.
#include <QCommandLineOption>

#include <functional>
#include <limits>

#include "analysis/Result.h"
#include "analysis/Settings.h"
#include "cli/AnalysisReport.h"
#include "cli/CommandLine.h"
#include "platform/store/SessionReader.h"

namespace cli {

struct SpanBounds {
    platform::Micros lower = std::numeric_limits<platform::Micros>::min();
    platform::Micros upper = std::numeric_limits<platform::Micros>::max(); // both included
    bool named = false; // the command line named a span (else the whole session)
};

// The bounds --from and --to (and --last, when the command has it) give, as times of the session;
// Failure(badUsage) for a time that cannot be read or a span that ends before it starts.
SpanBounds spanBounds(const CommandLine& line, store::SessionReader& reader,
                      const store::SessionReader::SessionRow& session, const QCommandLineOption& from,
                      const QCommandLineOption& to, const QCommandLineOption* last = nullptr);

// Analyses the session's saved samples within the bounds, handing each also to `also` when given;
// `span` receives what was covered. Failure(badUsage) when there is too little to analyse,
// Failure(storeFailed) when the store cannot be read.
analysis::Result analyseSpan(store::SessionReader& reader, const store::SessionReader::SessionRow& session,
                             const analysis::Settings& settings, const SpanBounds& bounds, AnalysedSpan& span,
                             const std::function<void(const store::SampleValues&)>& also = {});

} // namespace cli
