// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/StoreLock.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sqlite3.h>

namespace store {

namespace {

// Far past SQLite's lock bytes (from 1 GiB on) and any real file's end.
constexpr off_t kLockByte = off_t(1) << 62;

bool realPath(const std::string& path, std::string& out)
{
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved)) return false;
    out = resolved;
    return true;
}

bool sameFile(int fd, const std::string& path)
{
    struct stat open {
    }, named{};
    return fd >= 0 && ::fstat(fd, &open) == 0 && ::stat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev
           && open.st_ino == named.st_ino;
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

int StoreLock::lockStoreFile(const std::string& path, bool create, bool& busy, std::string& reason)
{
    busy = false;
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
    if (fd < 0) {
        reason = path + ": " + std::strerror(errno);
        return -1;
    }
    struct flock byte {};
    byte.l_type = F_WRLCK;
    byte.l_whence = SEEK_SET;
    byte.l_start = kLockByte;
    byte.l_len = 1;
    if (::fcntl(fd, F_OFD_SETLK, &byte) == 0) return fd;
    busy = errno == EAGAIN || errno == EACCES;
    // A file system without such locks (some network and FUSE ones) keeps to the lock file alone.
    if (!busy && (errno == EINVAL || errno == ENOLCK || errno == EOPNOTSUPP)) return fd;
    reason = busy ? std::string("held by another process") : path + ": " + std::strerror(errno);
    ::close(fd);
    return -1;
}

bool StoreLock::takeLockFile(const std::string& storePath, bool& busy, std::string& reason)
{
    busy = false;
    const std::string path = resolve(storePath) + ".lock";
    if (sameFile(lockFileFd_, path)) return true;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        reason = path + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        busy = errno == EWOULDBLOCK;
        reason = busy ? std::string("held by another process") : path + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    if (lockFileFd_ >= 0) {
        // Left for another path: nothing of ours runs there any more.
        if (::ftruncate(lockFileFd_, 0) != 0) {}
        ::close(lockFileFd_);
    }
    lockFileFd_ = fd;
    char mark = 0;
    unclean_ = unclean_ || ::pread(fd, &mark, 1, 0) == 1;
    return true;
}

bool StoreLock::holdLockFile(const std::string& storePath, bool& busy, std::string& reason)
{
    if (!takeLockFile(storePath, busy, reason)) return false;
    markRunning();
    return true;
}

void StoreLock::markRunning()
{
    // Emptied again by release(): a mark found at the start says the last holder never got there.
    const std::string mark = std::to_string(::getpid()) + "\n";
    if (::ftruncate(lockFileFd_, 0) != 0 || ::pwrite(lockFileFd_, mark.data(), mark.size(), 0) < 0) {
        // Without the mark an unclean end goes unnoticed; nothing else depends on it.
    }
}

bool StoreLock::acquire(const std::string& storePath, const std::string& busyMessage, StoreError& error)
{
    release();
    unclean_ = false;
    bool busy = false;
    std::string reason;
    if (takeLockFile(storePath, busy, reason)) {
        storeFd_ = lockStoreFile(resolve(storePath), true, busy, reason);
        if (storeFd_ >= 0) {
            markRunning();
            return true;
        }
        ::close(lockFileFd_);
        lockFileFd_ = -1;
    }
    error.code = busy ? StoreError::lockedByAnotherProcess : SQLITE_CANTOPEN;
    error.message = busy ? busyMessage : "The store could not be locked";
    error.details["path"] = storePath;
    error.details["reason"] = reason;
    return false;
}

void StoreLock::moveTo(int storeFd)
{
    if (storeFd_ >= 0) formerStoreFds_.push_back(storeFd_);
    storeFd_ = storeFd;
}

void StoreLock::release()
{
    if (lockFileFd_ >= 0) {
        // An unclean end not yet dealt with stays marked for the next holder. A failure to empty
        // the mark only has the next holder check the store as after a crash: slower, never wrong.
        if (!unclean_ && ::ftruncate(lockFileFd_, 0) != 0) {}
        ::close(lockFileFd_);
        lockFileFd_ = -1;
    }
    // Only now that no connection of this process is left to the files.
    for (int fd : formerStoreFds_) ::close(fd);
    formerStoreFds_.clear();
    if (storeFd_ >= 0) ::close(storeFd_);
    storeFd_ = -1;
}

} // namespace store
