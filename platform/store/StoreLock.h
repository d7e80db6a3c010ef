// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One store, one program: an exclusive lock on a file beside the store. The system releases
// it when the holder dies, however it dies.
#include <string>

#include "platform/store/Database.h"

namespace store {

class StoreLock {
public:
    StoreLock() = default;
    ~StoreLock();
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

    // Locks "<store>.lock" beside the file the path resolves to, so that two paths to one store
    // (a symlink from another home, say) meet at the same lock. False when another process holds
    // it (the error then says `busyMessage`) or it cannot be made.
    bool acquire(const std::string& storePath, const std::string& busyMessage, StoreError& error);
    void release();

    // The store's path with every symlink resolved; a missing file is resolved through its folder.
    static std::string resolve(const std::string& storePath);

private:
    bool acquire(const std::string& storePath, bool& busy, std::string& reason);

    int fd_ = -1;
};

} // namespace store
