#pragma once
// One store, one program: an exclusive lock on a file beside the store. The system releases
// it when the holder dies, however it dies.
#include <string>

namespace store {

class StoreLock {
public:
    StoreLock() = default;
    ~StoreLock();
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

    // False when another process holds it (`busy` is then true) or it cannot be made.
    bool acquire(const std::string& storePath, bool& busy, std::string& reason);
    void release();

private:
    int fd_ = -1;
};

} // namespace store
