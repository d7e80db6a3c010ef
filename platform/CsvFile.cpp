// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/CsvFile.h"

#include <charconv>

#include "platform/CsvNumber.h"

namespace platform {

namespace {

// Seconds with all six digits of the microseconds: "12.340000", "-0.000500".
void appendSeconds(std::string& line, Micros offset)
{
    if (offset < 0) line.push_back('-');
    const unsigned long long magnitude = offset < 0 ? 0ULL - (unsigned long long)offset : (unsigned long long)offset;
    char text[32];
    char* p = std::to_chars(text, text + 24, magnitude / 1000000).ptr;
    *p++ = '.';
    unsigned long long fraction = magnitude % 1000000;
    for (int i = 5; i >= 0; --i, fraction /= 10) p[i] = char('0' + fraction % 10);
    line.append(text, p + 6);
}

} // namespace

std::string_view csvHeader(CsvTimes times)
{
    return times == CsvTimes::both ? "local_time,elapsed_s,x_g,y_g,z_g\n" : "time,x_g,y_g,z_g\n";
}

CsvLine::CsvLine(CsvTimes times, Micros start)
    : times_(times), start_(start), clock_("yyyy-MM-dd'T'HH:mm:ss.SSSSSSZZZZZ")
{}

std::string_view CsvLine::format(Micros t, float x, float y, float z)
{
    text_.clear();
    if (times_ != CsvTimes::elapsed) clock_.appendDate(text_, t);
    if (times_ == CsvTimes::both) text_.push_back(',');
    if (times_ != CsvTimes::clock) appendSeconds(text_, t - start_);
    char values[3 * (kCsvNumberMax + 1) + 1];
    char* p = values;
    for (float v : {x, y, z}) {
        *p++ = ',';
        p = appendCsvNumber(p, v);
    }
    *p++ = '\n';
    text_.append(values, p);
    return text_;
}

CsvFile::CsvFile(std::string folder, std::string fileName, CsvTimes times, Micros start)
    : file_(std::move(folder), std::move(fileName)), times_(times), line_(times, start)
{}

bool CsvFile::open(std::string_view preamble)
{
    if (!file_.open()) return false;
    file_.append(preamble);
    file_.append(csvHeader(times_));
    return true;
}

void CsvFile::addSample(Micros t, float x, float y, float z)
{
    if (file_.failed()) return;
    file_.append(line_.format(t, x, y, z));
    if (!file_.failed()) ++lines_;
}

} // namespace platform
