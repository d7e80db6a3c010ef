// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The analysis settings as the program keeps them: stored beside the sample rate as readable
// name-value pairs ("analysis.window" = "hann"), and given on the command line by the same names
// ("--window hann"). A stored value that cannot be used falls back to its default.
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/Settings.h"

struct AnalysisOptions {
    analysis::Settings settings;
    double spanSeconds = 0.0;  // a stored session: all of it (0), or its last so many seconds
    bool logFrequency = false; // the spectrum's frequency axis

    // The names, without the "analysis." the store puts before them: fft_size, window, averaging,
    // exponential_weight, unit, band_low_hz, band_high_hz, group, foundation, peaks, span_s,
    // frequency_scale.
    static const std::vector<std::string_view>& names();
    // Sets one by name from its text; throws std::invalid_argument with one clear sentence for an
    // unknown name or a value that cannot be used.
    void set(std::string_view name, std::string_view value);
    std::string get(std::string_view name) const;

    // From the store's settings (unknown or bad values are left at their defaults, each noted in
    // `problems`), and back.
    static AnalysisOptions fromStored(const std::map<std::string, std::string>& stored,
                                      std::vector<std::string>* problems = nullptr);
    std::map<std::string, std::string> toStored() const;
};
