// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The analysis on show as UTF-8 CSV: a header line with what was analysed and the settings, the
// levels per axis with the strongest peaks, then the spectrum, one line per frequency.
#include <string>

#include "recording/AnalysisOptions.h"
#include "analysis/Result.h"

// Writes through a temporary file, synced and renamed into place, like the session's export. False with
// one line in `error` when it cannot.
bool writeAnalysisCsv(const std::string& path, const std::string& what, const AnalysisOptions& options,
                      const analysis::Result& result, std::string& error);

// Writes `text` as the whole of the file at `path`: beside it, synced, then renamed over it. False
// with one line in `error` when it cannot.
bool replaceFileWith(const std::string& path, const std::string& text, std::string& error);

// "<session's export name without .asc>-analysis.csv".
std::string analysisFileName(const std::string& exportFileName);
