#pragma once
// Writes one export file (.asc): UTF-16 little-endian text with the byte-order mark FF FE, a header
// line and one line per sample, "yyyy-MM-dd HH:mm:ss.SSS<tab>x<tab>y<tab>z<line feed>" in local
// time and number text (see NumberText.h).
//
// Samples are streamed through a fixed buffer into a temporary file beside the target, so memory
// stays bounded whatever the length of the session. commit() syncs the file and renames it over
// the target; until then, and after any failure, an earlier file of that name is left as it was and
// the temporary file is removed. Writer errors are remembered and reported once, by commit().
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/DateFormatter.h"

namespace platform {

// "yyyy-MM-dd-HH-mm-ss.asc" of the session's start, in local time. Sessions whose starts give
// the same name are told apart by their place among them (1 for the first, which keeps the plain
// name): the second is "yyyy-MM-dd-HH-mm-ss-2.asc", and so on.
std::string ascFileName(Micros sessionStart, int ordinal = 1);

class AscFile {
public:
    // The target is folder + "/" + fileName.
    AscFile(std::string folder, std::string fileName);
    // The target is folder + "/" + ascFileName(sessionStart, ordinal).
    AscFile(std::string folder, Micros sessionStart, int ordinal = 1);
    ~AscFile();  // removes the temporary file unless committed
    AscFile(const AscFile&) = delete;
    AscFile& operator=(const AscFile&) = delete;

    // Creates the temporary file and writes the byte-order mark and the header line. Temporary
    // files of the same target left behind by an export that never finished are removed first.
    // False, with error() set, when the file cannot be created.
    bool open();

    // Appends one data line. Does nothing once a failure has happened.
    void addSample(Micros t, float x, float y, float z);

    // Writes out the rest, syncs, and puts the file in place of the target.
    // False, with error() set, when anything failed since open(); the target is then untouched.
    bool commit();

    const std::string& path() const { return path_; }
    // "cannot write <path>: <reason>", empty while all is well.
    const std::string& error() const { return error_; }
    // Data lines added so far, the header not counted.
    std::uint64_t linesWritten() const { return lines_; }

private:
    enum class State { Idle, Open, Committed, Failed };

    bool flush();
    void fail(const char* reason);
    void fail(int errorNumber);
    void removeTemporary();
    void appendAscii(const char* text, std::size_t length);

    std::string folder_;
    std::string path_;
    std::string tempPath_;
    int fd_ = -1;
    State state_ = State::Idle;
    std::string error_;
    std::uint64_t lines_ = 0;
    DateFormatter dateCode_;
    std::string line_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

} // namespace platform
