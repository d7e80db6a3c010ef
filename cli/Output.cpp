// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Output.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "platform/AscFile.h"
#include "platform/TemporaryFile.h"

namespace cli {

void ignoreBrokenPipes()
{
    std::signal(SIGPIPE, SIG_IGN);
}

Output::Output(std::string path) : path_(std::move(path))
{
    buffer_.reserve(kFlushAt + 4096);
}

Output::~Output()
{
    if (toStandardOutput() || finished_) return;
    if (fd_ >= 0) ::close(fd_);
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

bool Output::open()
{
    if (toStandardOutput()) {
        fd_ = STDOUT_FILENO;
        return true;
    }
    const std::size_t slash = path_.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path_.substr(0, slash);
    const std::string name = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    if (name.empty()) {
        error_ = "cannot write " + path_ + ": not a file name";
        return false;
    }
    int error = 0;
    fd_ = platform::createTemporaryFile(folder, name, temporary_, error);
    if (fd_ >= 0) return true;
    fail(error);
    return false;
}

void Output::appendUtf16(std::string_view ascii)
{
    if (buffer_.size() + 2 * ascii.size() > kFlushAt) flush();
    const std::size_t at = buffer_.size();
    buffer_.resize(at + 2 * ascii.size());
    platform::widenAscii(buffer_.data() + at, ascii);
}

void Output::flush()
{
    std::size_t done = 0;
    while (good() && fd_ >= 0 && done < buffer_.size()) {
        const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (n >= 0) done += std::size_t(n);
        else if (errno == EPIPE && toStandardOutput()) readerGone_ = true;
        else if (errno != EINTR) fail(errno);
    }
    buffer_.clear();
}

void Output::fail(int errorNumber)
{
    if (error_.empty()) error_ = "cannot write " + (toStandardOutput() ? std::string("to standard output") : path_) + ": " + std::strerror(errorNumber);
}

bool Output::finish()
{
    flush();
    if (toStandardOutput() || finished_) return error_.empty();
    if (fd_ < 0) return false; // never opened: open() said why
    if (error_.empty() && ::fsync(fd_) != 0) fail(errno);
    if (::close(fd_) != 0) fail(errno);
    fd_ = -1;
    if (error_.empty() && std::rename(temporary_.c_str(), path_.c_str()) != 0) fail(errno);
    if (!error_.empty()) {
        ::unlink(temporary_.c_str());
        return false;
    }
    finished_ = true;
    return true;
}

} // namespace cli
