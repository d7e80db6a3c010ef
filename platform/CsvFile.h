// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Samples as UTF-8 CSV with microsecond times: one line per sample with its time (ISO 8601 in
// local time with the UTC offset of that moment and six digits of the second, or seconds from a
// start with six decimals, or both) and the three values in g (see CsvNumber.h), each ended by a
// line feed. A .asc file's times have milliseconds only, which three or four readings share at
// 3,200 a second.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Clock.h"
#include "platform/DateFormatter.h"
#include "platform/ExportFile.h"

namespace platform {

enum class CsvTimes {
    clock,   // time: "2024-05-01T12:00:05.250125+02:00"
    elapsed, // time: seconds from the start, "12.340000"
    both,    // local_time, then elapsed_s
};

// The column titles: "time,x_g,y_g,z_g\n", or "local_time,elapsed_s,x_g,y_g,z_g\n" for both.
std::string_view csvHeader(CsvTimes times);

class CsvLine {
public:
    // Elapsed times count from `start`.
    CsvLine(CsvTimes times, Micros start);
    // One line, valid until the next call; one buffer serves every line.
    std::string_view format(Micros t, float x, float y, float z);

private:
    CsvTimes times_;
    Micros start_;
    DateFormatter clock_;
    std::string text_;
};

// A CSV file put in place whole, as ExportFile does.
class CsvFile {
public:
    CsvFile(std::string folder, std::string fileName, CsvTimes times, Micros start);

    void keepExisting() { file_.keepExisting(); }
    // Creates the temporary file and writes `preamble` (comment lines, or nothing), then the header.
    bool open(std::string_view preamble = {});
    void addSample(Micros t, float x, float y, float z);
    bool commit() { return file_.commit(); }

    const std::string& path() const { return file_.path(); }
    const std::string& error() const { return file_.error(); }
    std::uint64_t linesWritten() const { return lines_; }

private:
    ExportFile file_;
    CsvTimes times_;
    CsvLine line_;
    std::uint64_t lines_ = 0;
};

} // namespace platform
