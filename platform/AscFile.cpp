// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/AscFile.h"

#include "platform/NumberText.h"
#include "platform/TemporaryFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::size_t kBufferBytes = 256 * 1024;

} // namespace

std::string ascFileName(Micros sessionStart, int ordinal)
{
    std::string name = formatDate(sessionStart, "yyyy-MM-dd-HH-mm-ss");
    if (ordinal > 1) name += "-" + std::to_string(ordinal);
    return name + ".asc";
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

AscFile::AscFile(std::string folder, std::string fileName) : folder_(std::move(folder)), path_(folder_ + "/" + fileName)
{}

AscFile::~AscFile()
{
    if (state_ == State::Open) removeTemporary();
}

bool AscFile::open()
{
    if (state_ != State::Idle) {
        if (state_ != State::Failed) fail("already opened");
        return false;
    }
    int error = 0;
    const std::string name = path_.substr(folder_.size() + 1);
    removeAbandonedTemporaries(folder_, name);
    fd_ = createTemporaryFile(folder_, name, tempPath_, error);
    if (fd_ < 0) {
        fail(error);
        return false;
    }
    state_ = State::Open;
    buffer_.resize(kBufferBytes);
    used_ = 0;
    for (char c : kAscByteOrderMark) buffer_[used_++] = c;
    appendAscii(kAscHeader);
    return true;
}

void AscFile::addSample(Micros t, float x, float y, float z)
{
    if (state_ != State::Open) {
        if (state_ == State::Idle || state_ == State::Committed) fail("not open");
        return;
    }
    const std::string_view line = line_.format(t, x, y, z);
    if (buffer_.size() - used_ < 2 * line.size() && !flush()) return;
    appendAscii(line);
    ++lines_;
}

bool AscFile::commit()
{
    if (state_ != State::Open) {
        if (state_ != State::Failed) fail(state_ == State::Idle ? "not open" : "already committed");
        return false;
    }
    if (!flush()) return false;
    if (::fsync(fd_) != 0) {
        fail(errno);
        return false;
    }
    // Renamed while still open, and so still locked: a clean-up by another export never takes a
    // finished file for an abandoned one. Synced already, its closing can lose nothing.
    if (std::rename(tempPath_.c_str(), path_.c_str()) != 0) {
        fail(errno);
        return false;
    }
    ::close(fd_);
    fd_ = -1;
    state_ = State::Committed;
    // Makes the new name itself durable. The file is already in place, so a failure here changes
    // nothing the caller could act on.
    int dir = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    buffer_ = {};
    return true;
}

// The caller has made sure there is room.
void AscFile::appendAscii(std::string_view text)
{
    used_ = std::size_t(widenAscii(buffer_.data() + used_, text) - buffer_.data());
}

bool AscFile::flush()
{
    std::size_t done = 0;
    while (done < used_) {
        ssize_t n = ::write(fd_, buffer_.data() + done, used_ - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(errno);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    used_ = 0;
    return true;
}

void AscFile::fail(int errorNumber)
{
    fail(std::strerror(errorNumber));
}

void AscFile::fail(const char* reason)
{
    if (state_ == State::Open) removeTemporary();
    if (state_ != State::Committed) state_ = State::Failed;
    if (error_.empty()) error_ = "cannot write " + path_ + ": " + reason;
    buffer_ = {};
}

void AscFile::removeTemporary()
{
    ::unlink(tempPath_.c_str());
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

} // namespace platform
