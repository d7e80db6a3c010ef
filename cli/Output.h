// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where a subcommand writes: standard output, a device written straight through, or a file that
// appears whole or not at all.
//
// Text goes through a fixed buffer, so memory stays bounded whatever is written. A file is
// written under a temporary name beside it (".NAME.XXXXXX") and renamed over NAME by finish(),
// so a failed or interrupted write never leaves half a file where a good one was; temporary files
// of NAME left by a writer that was killed are removed first. On standard output (and a FIFO) a
// reader that went away (`| head`) is not an error: writing stops quietly and readerGone() says
// so; SIGPIPE must be ignored for that (see ignoreBrokenPipes).
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cli {

// A write to a closed pipe then fails with EPIPE instead of ending the process.
void ignoreBrokenPipes();

// What a path given for output leads to.
struct Destination {
    enum class Kind {
        standardOutput, // "-"
        file,           // a regular file, or nothing yet: replaced whole
        device,         // a character device or a FIFO: written straight through
    };
    Kind kind = Kind::standardOutput;
    // For a file, where it is with every symlink followed: a link is never replaced by a file,
    // its target is. For a device, the path as given.
    std::string path;
};

// Files nobody may write over, each with what it is ("the store"), as paths of their own.
using ProtectedFiles = std::vector<std::pair<std::string, std::string>>;

// Where `path` leads; nothing, with one line in `error`, for a folder, a socket, a block device,
// or one of `protectedFiles` (by name or, through a hard link, by the file itself).
std::optional<Destination> destination(const std::string& path, const ProtectedFiles& protectedFiles,
                                       std::string& error);

class Output {
public:
    // "-" for standard output, else a file path.
    explicit Output(std::string path);
    explicit Output(Destination destination);
    ~Output(); // removes the temporary file unless finished
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // Creates the temporary file (or opens the device); false with error() set when it cannot.
    bool open();
    bool toStandardOutput() const { return kind_ == Destination::Kind::standardOutput; }

    void append(std::string_view text)
    {
        if (buffer_.size() + text.size() > kFlushAt) flush();
        buffer_.append(text);
    }
    // ASCII text as UTF-16 little-endian: each character, then a zero byte.
    void appendUtf16(std::string_view ascii);

    // Still worth writing to: no failure, and the reader is still there.
    bool good() const { return error_.empty() && !readerGone_; }
    bool readerGone() const { return readerGone_; }

    // Writes out the rest; a file is synced and put in place. False with error() set when any
    // write failed (a reader that went away is not a failure).
    bool finish();

    const std::string& path() const { return path_; }
    // "cannot write PATH: REASON", empty while all is well.
    const std::string& error() const { return error_; }

private:
    static constexpr std::size_t kFlushAt = 256 * 1024;
    void flush();
    void fail(int errorNumber);
    void removeTemporary();

    Destination::Kind kind_;
    std::string path_;
    std::string temporary_;
    int fd_ = -1;
    bool finished_ = false;
    bool readerGone_ = false;
    std::string error_;
    std::string buffer_;
};

} // namespace cli
