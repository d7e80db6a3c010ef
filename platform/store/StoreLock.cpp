#include "platform/store/StoreLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace store {

StoreLock::~StoreLock()
{
    release();
}

bool StoreLock::acquire(const std::string& storePath, bool& busy, std::string& reason)
{
    busy = false;
    release();
    std::string path = storePath + ".lock";
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

void StoreLock::release()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

} // namespace store
