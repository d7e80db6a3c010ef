// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/MarkersExport.h"

#include <charconv>

#include "platform/DateFormatter.h"
#include "recording/SessionText.h"

std::string markersFileName(const std::string& exportFileName)
{
    std::string stem = exportFileName;
    if (stem.size() > 4 && stem.compare(stem.size() - 4, 4, ".asc") == 0) stem.resize(stem.size() - 4);
    return stem + "-markers.csv";
}

std::string markersCsv(platform::Micros sessionStart, const std::vector<store::MarkerRecord>& markers)
{
    std::string out = "time,offset_s,kind,text\n";
    platform::DateFormatter iso("yyyy-MM-dd'T'HH:mm:ss.SSSSSSZZZZZ");
    for (const store::MarkerRecord& m : markers) {
        iso.appendDate(out, m.dateStamp);
        char seconds[32];
        const auto end = std::to_chars(seconds, seconds + sizeof seconds, double(m.dateStamp - sessionStart) / 1e6,
                                       std::chars_format::fixed, 6)
                             .ptr;
        out += ',';
        out.append(seconds, end);
        out += ',';
        out += store::markerKindName(m.kind);
        out += ",\"";
        for (char c : m.text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
        out += "\"\n";
    }
    return out;
}

std::string identityCommentLines(const store::SessionIdentity& identity)
{
    std::string out;
    for (auto [key, value] : identityFields(identity)) {
        for (std::size_t at = 0; (at = value.find('\n', at)) != std::string::npos; at += 2) value.replace(at, 1, "\\n");
        out += "# " + key + ": " + value + "\n";
    }
    return out;
}
