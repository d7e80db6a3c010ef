// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where a subcommand writes: standard output, or a file that appears whole or not at all.
//
// Text goes through a fixed buffer, so memory stays bounded whatever is written. A file is
// written under a temporary name beside it (".NAME.XXXXXX") and renamed over NAME by finish(),
// so a failed or interrupted write never leaves half a file where a good one was. On standard
// output a reader that went away (`| head`) is not an error: writing stops quietly and
// readerGone() says so; SIGPIPE must be ignored for that (see ignoreBrokenPipes).
#include <string>
#include <string_view>

namespace cli {

// A write to a closed pipe then fails with EPIPE instead of ending the process.
void ignoreBrokenPipes();

class Output {
public:
    // "-" for standard output, else a file path.
    explicit Output(std::string path);
    ~Output(); // removes the temporary file unless finished
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // Creates the temporary file; false with error() set when it cannot.
    bool open();
    bool toStandardOutput() const { return path_ == "-"; }

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

    std::string path_;
    std::string temporary_;
    int fd_ = -1;
    bool finished_ = false;
    bool readerGone_ = false;
    std::string error_;
    std::string buffer_;
};

} // namespace cli
