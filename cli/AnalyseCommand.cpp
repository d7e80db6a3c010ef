// SPDX-License-Identifier: GPL-3.0-or-later
// quivra analyse: levels, velocity, ISO zones and peaks of a stored session (or a span of it),
// with the analysis settings the window keeps in the store unless the command line says otherwise.
// What to analyse is the command line's alone: the whole session unless it names a span.
#include <charconv>
#include <memory>
#include <stdexcept>

#include "recording/AnalysisOptions.h"
#include "cli/AnalysisReport.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/SpanAnalysis.h"
#include "platform/Folders.h"

namespace cli {

namespace {

struct SettingOption {
    const char* option;
    const char* name; // in AnalysisOptions
    const char* value;
    const char* help;
};

const SettingOption settingOptions[] = {
    {"fft-size", "fft_size", "N", "FFT block length: a power of two from 256 to 65536."},
    {"window", "window", "W", "hann, flattop or blackman-harris."},
    {"averaging", "averaging", "A", "linear, exponential or peak-hold."},
    {"exponential-weight", "exponential_weight", "X", "The newest block's share in exponential averaging, (0, 1]."},
    {"unit", "unit", "U",
     "The peaks' level: amplitude (g peak), psd (g²/Hz), db (re 1 g peak) or velocity (mm/s peak)."},
    {"group", "group", "G", "ISO 10816-3 machine group: group1 (large) or group2 (medium)."},
    {"foundation", "foundation", "F", "rigid or flexible."},
    {"peaks", "peaks", "K", "How many of the strongest peaks to list per axis, 0 to 64."},
};

std::optional<double> number(std::string_view text)
{
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

void applyBand(const CommandLine& line, AnalysisOptions& options, const std::string& text)
{
    const std::size_t dash = text.find('-', 1);
    const auto low = number(std::string_view(text).substr(0, dash));
    const auto high = dash == std::string::npos ? std::nullopt : number(std::string_view(text).substr(dash + 1));
    if (!low || !high) line.usageError("--band wants LOW-HIGH in Hz, as in 10-1000, not '" + text + "'");
    analysis::Settings settings = options.settings;
    settings.bandLowHz = *low;
    settings.bandHighHz = *high;
    if (const std::string fault = analysis::settingsError(settings); !fault.empty()) throw Failure(badUsage, fault);
    options.settings = settings;
}

} // namespace

int runAnalyse(const QStringList& arguments)
{
    CommandLine line("analyse", "analyse SESSION|active [--json] [--from T] [--to T | --last S] [analysis settings]",
                     "Analyses a stored session (its number, see quivra sessions, or the active one): RMS, peak\n"
                     "and crest factor per axis and of the magnitude, velocity RMS over the band with its ISO\n"
                     "10816-3 zone per axis and overall, the strongest peaks, and how many FFT blocks were used\n"
                     "or left out because they span a gap in the recording. The settings default to those the\n"
                     "window keeps in the store; the span does not: without --from, --to or --last the whole\n"
                     "session is analysed, whatever span the window shows. T is a local time in ISO 8601\n"
                     "(2024-05-01T12:00:05, with an optional fraction and offset) or seconds from the session's\n"
                     "start (90, 12.5). Only saved samples are read; the store is never changed.");
    QCommandLineOption asJson("json", "The result as one JSON object.");
    QCommandLineOption from("from", "Analyse from this moment on.", "T");
    QCommandLineOption to("to", "Analyse up to this moment.", "T");
    QCommandLineOption band("band", "The velocity band in Hz, as in 10-1000 (clipped at half the sample rate).",
                            "LO-HI");
    QCommandLineOption lastSeconds("last", "Analyse the last S seconds of the session (as the window's span does).",
                                   "S");
    line.add(asJson);
    line.add(from);
    line.add(to);
    line.add(lastSeconds);
    std::vector<std::unique_ptr<QCommandLineOption>> settings;
    for (const SettingOption& s : settingOptions) {
        settings.push_back(std::make_unique<QCommandLineOption>(s.option, s.help, s.value));
        line.add(*settings.back());
    }
    line.add(band);
    if (!line.parse(arguments)) return done;
    const auto positional = line.positional();
    if (positional.size() != 1)
        line.usageError(positional.empty() ? "which session? Give its number or active"
                                           : "unexpected argument '" + positional[1] + "'");

    store::SessionReader reader;
    openStore(reader, platform::storePath());
    const auto session = findSession(reader, positional.front());
    // Stored values that cannot be used fall back to their defaults, as in the window.
    AnalysisOptions options = AnalysisOptions::fromStored(reader.settings());
    for (std::size_t i = 0; i < settings.size(); ++i) {
        if (!line.isSet(*settings[i])) continue;
        try {
            options.set(settingOptions[i].name, line.value(*settings[i]));
        } catch (const std::invalid_argument& e) {
            throw Failure(badUsage, std::string("--") + settingOptions[i].option + ": " + e.what());
        }
    }
    if (line.isSet(band)) applyBand(line, options, line.value(band));

    AnalysedSpan span;
    const analysis::Result result =
        analyseSpan(reader, session, options.settings, spanBounds(line, reader, session, from, to, &lastSeconds), span);
    Output out("-");
    out.open();
    out.append(line.isSet(asJson) ? reportJson(span, result) : reportText(span, result));
    if (!out.finish()) throw Failure(storeFailed, out.error());
    return done;
}

} // namespace cli
