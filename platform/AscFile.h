// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Writes one export file (.asc): UTF-16 little-endian text with the byte-order mark FF FE, a header
// line and one line per sample, "yyyy-MM-dd HH:mm:ss.SSS<tab>x<tab>y<tab>z<line feed>" in local
// time and number text (see NumberText.h).
//
// Samples are streamed into a temporary file that takes the target's place only when complete
// (see ExportFile.h), so memory stays bounded whatever the length of the session.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/Clock.h"
#include "platform/DateFormatter.h"
#include "platform/ExportFile.h"

namespace platform {

// "yyyy-MM-dd-HH-mm-ss.asc" of the session's start, in local time. Sessions whose starts give
// the same name are told apart by their place among them (1 for the first, which keeps the plain
// name): the second is "yyyy-MM-dd-HH-mm-ss-2.asc", and so on.
std::string ascFileName(Micros sessionStart, int ordinal = 1);

// The name of the file of a stretch of a session: its session's file name (see above) with the
// stretch's first and last moments in local time before the extension, and the extension given:
// "2011-03-05-14-07-09_14-10-00.250-14-10-05.500.csv".
std::string rangeFileName(const std::string& sessionFileName, Micros from, Micros to, std::string_view extension);

// A session as its file name sees it: its start, and its id to order equal starts.
struct AscFileSession {
    Micros start = 0;
    std::int64_t id = 0;
};

// The ordinal for ascFileName: 1 plus the siblings (the sessions of the same root, the session
// itself among them or not) that come before it by start, then by id, and whose starts give the
// same plain name.
int ascFileOrdinal(AscFileSession session, std::span<const AscFileSession> siblings);

// Every file starts with the byte-order mark of UTF-16 little-endian and then the header line,
// given here as ASCII to be widened like the data lines.
inline constexpr std::string_view kAscByteOrderMark = "\xFF\xFE";
inline constexpr std::string_view kAscHeader = "Date Code\tG-Force X [g]\tG-Force Y [g]\tG-Force Z [g]\n";

// ASCII in, UTF-16 little-endian out: each character, then a zero byte. Writes 2 * ascii.size()
// bytes at out, which has room for them, and returns their end.
char* widenAscii(char* out, std::string_view ascii);

// The data lines as ASCII, for whoever writes them out.
class AscLine {
public:
    AscLine();
    // "yyyy-MM-dd HH:mm:ss.SSS<tab>x<tab>y<tab>z<line feed>", valid until the next call. One
    // buffer serves every line, so a long export allocates nothing per line.
    std::string_view format(Micros t, float x, float y, float z);

private:
    DateFormatter dateCode_;
    std::string text_;
};

class AscFile {
public:
    // The target is folder + "/" + fileName.
    AscFile(std::string folder, std::string fileName);
    // The target is folder + "/" + ascFileName(sessionStart, ordinal).
    AscFile(std::string folder, Micros sessionStart, int ordinal = 1);

    // commit() never replaces a file: it takes the first free numbered name (see ExportFile.h).
    void keepExisting() { file_.keepExisting(); }

    // Creates the temporary file and writes the byte-order mark and the header line. Temporary
    // files of the same target left behind by an export that never finished are removed first.
    // False, with error() set, when the file cannot be created.
    bool open();

    // Appends one data line. Does nothing once a failure has happened.
    void addSample(Micros t, float x, float y, float z);

    // Writes out the rest, syncs, and puts the file in place of the target.
    // False, with error() set, when anything failed since open(); the target is then untouched.
    bool commit() { return file_.commit(); }

    // The target; after commit(), the name the file was given.
    const std::string& path() const { return file_.path(); }
    // "cannot write <path>: <reason>", empty while all is well.
    const std::string& error() const { return file_.error(); }
    // Data lines added so far, the header not counted.
    std::uint64_t linesWritten() const { return lines_; }

private:
    void appendAscii(std::string_view text);

    ExportFile file_;
    std::uint64_t lines_ = 0;
    AscLine line_;
};

} // namespace platform
