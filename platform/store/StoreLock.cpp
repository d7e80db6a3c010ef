// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/StoreLock.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <sqlite3.h>

namespace store {

namespace {
bool realPath(const std::string& path, std::string& out)
{
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved)) return false;
    out = resolved;
    return true;
}
} // namespace

StoreLock::~StoreLock()
{
    release();
}

std::string StoreLock::resolve(const std::string& storePath)
{
    std::string out;
    if (realPath(storePath, out)) return out;
    const auto slash = storePath.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : storePath.substr(0, slash == 0 ? 1 : slash);
    const std::string name = slash == std::string::npos ? storePath : storePath.substr(slash + 1);
    if (realPath(folder, out)) return (out == "/" ? out : out + "/") + name;
    return storePath;
}

bool StoreLock::acquire(const std::string& storePath, bool& busy, std::string& reason)
{
    busy = false;
    release();
    std::string path = resolve(storePath) + ".lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        reason = path + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        busy = errno == EWOULDBLOCK;
        reason = busy ? std::string("held by another process") : path + ": " + std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

bool StoreLock::acquire(const std::string& storePath, const std::string& busyMessage, StoreError& error)
{
    bool busy = false;
    std::string reason;
    if (acquire(storePath, busy, reason)) return true;
    error.code = busy ? StoreError::lockedByAnotherProcess : SQLITE_CANTOPEN;
    error.message = busy ? busyMessage : "The store could not be locked";
    error.details["path"] = storePath;
    error.details["reason"] = reason;
    return false;
}

void StoreLock::release()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

} // namespace store
