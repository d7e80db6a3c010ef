// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/AscFile.h"

#include "platform/NumberText.h"

#include <cstdlib>

namespace platform {

std::string ascFileName(Micros sessionStart, int ordinal)
{
    std::string name = formatDate(sessionStart, "yyyy-MM-dd-HH-mm-ss");
    if (ordinal > 1) name += "-" + std::to_string(ordinal);
    return name + ".asc";
}

std::string rangeFileName(const std::string& sessionFileName, Micros from, Micros to, std::string_view extension)
{
    const std::size_t dot = sessionFileName.rfind('.');
    return sessionFileName.substr(0, dot) + "_" + formatDate(from, "HH-mm-ss.SSS") + "-"
           + formatDate(to, "HH-mm-ss.SSS") + std::string(extension);
}

int ascFileOrdinal(AscFileSession session, std::span<const AscFileSession> siblings)
{
    const std::string plain = ascFileName(session.start);
    int ordinal = 1;
    for (const AscFileSession& other : siblings) {
        const bool earlier = other.start != session.start ? other.start < session.start : other.id < session.id;
        // Names can only match within a day or two of each other, whatever the time zones do.
        if (earlier && std::llabs(other.start - session.start) < 2 * 86400LL * 1000000
            && ascFileName(other.start) == plain)
            ++ordinal;
    }
    return ordinal;
}

char* widenAscii(char* out, std::string_view ascii)
{
    for (char c : ascii) {
        *out++ = c;
        *out++ = 0;
    }
    return out;
}

AscLine::AscLine() : dateCode_("yyyy-MM-dd HH:mm:ss.SSS") {}

std::string_view AscLine::format(Micros t, float x, float y, float z)
{
    text_.clear();
    dateCode_.appendDate(text_, t);
    char numbers[3 * (kNumberTextMax + 1) + 1];
    char* p = numbers;
    for (float v : {x, y, z}) {
        *p++ = '\t';
        p = appendNumberText(p, v);
    }
    *p++ = '\n';
    text_.append(numbers, p);
    return text_;
}

AscFile::AscFile(std::string folder, Micros sessionStart, int ordinal)
    : AscFile(std::move(folder), ascFileName(sessionStart, ordinal))
{}

AscFile::AscFile(std::string folder, std::string fileName) : file_(std::move(folder), std::move(fileName)) {}

bool AscFile::open()
{
    if (!file_.open()) return false;
    file_.append(kAscByteOrderMark);
    appendAscii(kAscHeader);
    return true;
}

void AscFile::addSample(Micros t, float x, float y, float z)
{
    if (file_.failed()) return;
    appendAscii(line_.format(t, x, y, z));
    if (!file_.failed()) ++lines_;
}

void AscFile::appendAscii(std::string_view text)
{
    if (char* at = file_.room(2 * text.size())) file_.advance(widenAscii(at, text));
}

} // namespace platform
