// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ExportFile.h"

#include "platform/TemporaryFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::size_t kBufferBytes = 256 * 1024;

} // namespace

std::string numberedFileName(const std::string& fileName, int number)
{
    if (number <= 1) return fileName;
    const std::size_t dot = fileName.rfind('.');
    const std::size_t stem = dot == std::string::npos || dot == 0 ? fileName.size() : dot;
    return fileName.substr(0, stem) + "-" + std::to_string(number) + fileName.substr(stem);
}

ExportFile::ExportFile(std::string folder, std::string fileName)
    : folder_(std::move(folder)), fileName_(std::move(fileName)), path_(folder_ + "/" + fileName_)
{}

ExportFile::~ExportFile()
{
    if (state_ == State::Open) removeTemporary();
}

bool ExportFile::open()
{
    if (state_ != State::Idle) {
        if (state_ != State::Failed) fail("already opened");
        return false;
    }
    int error = 0;
    removeAbandonedTemporaries(folder_, fileName_);
    fd_ = createTemporaryFile(folder_, fileName_, tempPath_, error);
    if (fd_ < 0) {
        fail(error);
        return false;
    }
    state_ = State::Open;
    buffer_.resize(kBufferBytes);
    used_ = 0;
    return true;
}

char* ExportFile::room(std::size_t bytes)
{
    if (state_ != State::Open) {
        if (state_ == State::Idle || state_ == State::Committed) fail("not open");
        return nullptr;
    }
    if (buffer_.size() - used_ < bytes) {
        if (!flush()) return nullptr;
        if (buffer_.size() < bytes) buffer_.resize(bytes);
    }
    return buffer_.data() + used_;
}

void ExportFile::append(std::string_view text)
{
    if (char* at = room(text.size())) advance(std::copy(text.begin(), text.end(), at));
}

bool ExportFile::commit()
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
    // Put in place while still open, and so still locked: a clean-up by another export never takes
    // a finished file for an abandoned one. Synced already, its closing can lose nothing.
    if (keepExisting_) {
        if (!placeBesideExisting()) return false;
    } else if (std::rename(tempPath_.c_str(), path_.c_str()) != 0) {
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

// A hard link (or, where the file system has none, a rename that may not replace) fails rather
// than replace: the first name free at that moment is taken.
bool ExportFile::placeBesideExisting()
{
    for (int number = 1; number < 10000; ++number) {
        const std::string candidate = folder_ + "/" + numberedFileName(fileName_, number);
        if (::link(tempPath_.c_str(), candidate.c_str()) == 0) {
            ::unlink(tempPath_.c_str());
            path_ = candidate;
            return true;
        }
        if (errno == EPERM || errno == EOPNOTSUPP) {
            if (::renameat2(AT_FDCWD, tempPath_.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE) == 0) {
                path_ = candidate;
                return true;
            }
        }
        if (errno != EEXIST) {
            fail(errno);
            return false;
        }
    }
    fail("every numbered name is taken");
    return false;
}

bool ExportFile::flush()
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

void ExportFile::fail(int errorNumber)
{
    fail(std::strerror(errorNumber));
}

void ExportFile::fail(const char* reason)
{
    if (state_ == State::Open) removeTemporary();
    if (state_ != State::Committed) state_ = State::Failed;
    if (error_.empty()) error_ = "cannot write " + path_ + ": " + reason;
    buffer_ = {};
}

void ExportFile::removeTemporary()
{
    ::unlink(tempPath_.c_str());
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

} // namespace platform
