// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/AnalysisOptions.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

#include "platform/NumberText.h"

namespace {

constexpr std::string_view prefix = "analysis.";

double number(std::string_view name, std::string_view text)
{
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        throw std::invalid_argument(std::string(name) + ": \"" + std::string(text) + "\" is not a number");
    return value;
}

int whole(std::string_view name, std::string_view text)
{
    const double value = number(name, text);
    if (value != std::floor(value) || std::fabs(value) > 1e9)
        throw std::invalid_argument(std::string(name) + ": \"" + std::string(text) + "\" is not a whole number");
    return int(value);
}

} // namespace

const std::vector<std::string_view>& AnalysisOptions::names()
{
    static const std::vector<std::string_view> all = {"fft_size",   "window",      "averaging",    "exponential_weight",
                                                      "unit",       "band_low_hz", "band_high_hz", "group",
                                                      "foundation", "peaks",       "span_s",       "frequency_scale"};
    return all;
}

void AnalysisOptions::set(std::string_view name, std::string_view value)
{
    AnalysisOptions next = *this;
    analysis::Settings& s = next.settings;
    if (name == "fft_size")
        s.fftSize = whole(name, value);
    else if (name == "window")
        s.window = analysis::windowFromText(value);
    else if (name == "averaging")
        s.averaging = analysis::averagingFromText(value);
    else if (name == "exponential_weight")
        s.exponentialWeight = number(name, value);
    else if (name == "unit")
        s.unit = analysis::unitFromText(value);
    else if (name == "band_low_hz")
        s.bandLowHz = number(name, value);
    else if (name == "band_high_hz")
        s.bandHighHz = number(name, value);
    else if (name == "group")
        s.group = analysis::groupFromText(value);
    else if (name == "foundation")
        s.foundation = analysis::foundationFromText(value);
    else if (name == "peaks")
        s.peakCount = whole(name, value);
    else if (name == "span_s") {
        next.spanSeconds = number(name, value);
        if (next.spanSeconds < 0) throw std::invalid_argument("span_s: a span cannot be negative");
    } else if (name == "frequency_scale") {
        if (value != "linear" && value != "log")
            throw std::invalid_argument("frequency_scale: \"" + std::string(value) + "\" (expected linear or log)");
        next.logFrequency = value == "log";
    } else {
        throw std::invalid_argument("unknown analysis setting \"" + std::string(name) + "\"");
    }
    if (const std::string fault = analysis::settingsError(s); !fault.empty()) throw std::invalid_argument(fault);
    *this = next;
}

std::string AnalysisOptions::get(std::string_view name) const
{
    const analysis::Settings& s = settings;
    if (name == "fft_size") return std::to_string(s.fftSize);
    if (name == "window") return std::string(analysis::toText(s.window));
    if (name == "averaging") return std::string(analysis::toText(s.averaging));
    if (name == "exponential_weight") return platform::shortestText(s.exponentialWeight);
    if (name == "unit") return std::string(analysis::toText(s.unit));
    if (name == "band_low_hz") return platform::shortestText(s.bandLowHz);
    if (name == "band_high_hz") return platform::shortestText(s.bandHighHz);
    if (name == "group") return std::string(analysis::toText(s.group));
    if (name == "foundation") return std::string(analysis::toText(s.foundation));
    if (name == "peaks") return std::to_string(s.peakCount);
    if (name == "span_s") return platform::shortestText(spanSeconds);
    if (name == "frequency_scale") return logFrequency ? "log" : "linear";
    throw std::invalid_argument("unknown analysis setting \"" + std::string(name) + "\"");
}

AnalysisOptions AnalysisOptions::fromStored(const std::map<std::string, std::string>& stored,
                                            std::vector<std::string>* problems)
{
    AnalysisOptions out;
    for (std::string_view name : names()) {
        auto it = stored.find(std::string(prefix) + std::string(name));
        if (it == stored.end()) continue;
        try {
            out.set(name, it->second);
        } catch (const std::invalid_argument& e) {
            if (problems) problems->push_back(e.what());
        }
    }
    return out;
}

std::map<std::string, std::string> AnalysisOptions::toStored() const
{
    std::map<std::string, std::string> out;
    for (std::string_view name : names()) out[std::string(prefix) + std::string(name)] = get(name);
    return out;
}
