// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/AscFile.h"
#include "platform/TemporaryFile.h"

namespace cli {

namespace {

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where a symlink that leads nowhere would have its file made: its links followed to the end.
std::string linkTarget(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        char link[PATH_MAX];
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        const ssize_t n = ::readlink(path.c_str(), link, sizeof link);
        if (n <= 0 || std::size_t(n) == sizeof link) return path;
        const std::string target(link, std::size_t(n));
        path = target.front() == '/' ? target : folderOf(path) + "/" + target;
    }
    return path;
}

// The path with its folder resolved, so that two names of one file compare equal.
std::string canonical(const std::string& path)
{
    char resolved[PATH_MAX];
    if (!::realpath(folderOf(path).c_str(), resolved)) return path;
    const std::string folder = resolved;
    return (folder == "/" ? folder : folder + "/") + nameOf(path);
}

bool sameFile(const std::string& a, const std::string& b)
{
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev
           && sa.st_ino == sb.st_ino;
}

} // namespace

void ignoreBrokenPipes()
{
    std::signal(SIGPIPE, SIG_IGN);
}

std::optional<Destination> destination(const std::string& path, const ProtectedFiles& protectedFiles,
                                       std::string& error)
{
    if (path == "-") return Destination{Destination::Kind::standardOutput, path};
    std::string target = path;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        // Written to as a shell's redirection would; a file in its place would be lost on them.
        if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) return Destination{Destination::Kind::device, path};
        const char* what = S_ISDIR(st.st_mode)    ? "a folder"
                           : S_ISSOCK(st.st_mode) ? "a socket"
                           : S_ISBLK(st.st_mode)  ? "a block device (a disk)"
                           : !S_ISREG(st.st_mode) ? "not a file"
                                                  : nullptr;
        if (what) {
            error = path + " is " + what + ": give a file name, or - for standard output";
            return std::nullopt;
        }
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved)) target = resolved;
    } else if (errno == ENOENT) {
        target = canonical(linkTarget(path));
    } // else: opening it says why it cannot be written
    for (const auto& [file, what] : protectedFiles) {
        if (canonical(file) == target || sameFile(file, target)) {
            error = path + " is " + what + ": Quivra never writes over it";
            return std::nullopt;
        }
    }
    return Destination{Destination::Kind::file, target};
}

Output::Output(std::string path)
    : Output(Destination{path == "-" ? Destination::Kind::standardOutput : Destination::Kind::file, path})
{}

Output::Output(Destination destination) : kind_(destination.kind), path_(std::move(destination.path))
{
    buffer_.reserve(kFlushAt + 4096);
}

Output::~Output()
{
    if (toStandardOutput() || finished_) return;
    if (kind_ == Destination::Kind::device && fd_ >= 0) ::close(fd_);
    if (kind_ == Destination::Kind::file) removeTemporary();
}

bool Output::open()
{
    if (toStandardOutput()) {
        fd_ = STDOUT_FILENO;
        return true;
    }
    if (kind_ == Destination::Kind::device) {
        fd_ = ::open(path_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        struct stat st {};
        if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && !S_ISCHR(st.st_mode) && !S_ISFIFO(st.st_mode)) {
            error_ = "cannot write " + path_ + ": it is no longer a device or FIFO";
            return false;
        }
        if (fd_ >= 0) return true;
        fail(errno);
        return false;
    }
    const std::string name = nameOf(path_);
    if (name.empty()) {
        error_ = "cannot write " + path_ + ": not a file name";
        return false;
    }
    platform::removeAbandonedTemporaries(folderOf(path_), name);
    int error = 0;
    fd_ = platform::createTemporaryFile(folderOf(path_), name, temporary_, error);
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
        if (n >= 0)
            done += std::size_t(n);
        else if (errno == EPIPE && kind_ != Destination::Kind::file)
            readerGone_ = true;
        else if (errno != EINTR)
            fail(errno);
    }
    buffer_.clear();
}

void Output::fail(int errorNumber)
{
    if (error_.empty())
        error_ = "cannot write " + (toStandardOutput() ? std::string("to standard output") : path_) + ": "
                 + std::strerror(errorNumber);
}

void Output::removeTemporary()
{
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool Output::finish()
{
    flush();
    if (toStandardOutput() || finished_) return error_.empty();
    if (fd_ < 0) return false; // never opened: open() said why
    if (kind_ == Destination::Kind::device) {
        if (::close(fd_) != 0) fail(errno);
        fd_ = -1;
        finished_ = true;
        return error_.empty();
    }
    if (error_.empty() && ::fsync(fd_) != 0) fail(errno);
    // Renamed while still open, and so still locked (see removeAbandonedTemporaries).
    if (error_.empty() && std::rename(temporary_.c_str(), path_.c_str()) != 0) fail(errno);
    if (!error_.empty()) {
        removeTemporary();
        return false;
    }
    ::close(fd_);
    fd_ = -1;
    finished_ = true;
    return true;
}

} // namespace cli
