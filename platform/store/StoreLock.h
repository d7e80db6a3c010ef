// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One store, one program. The lock is held on the store file itself (an open-file-description
// lock, on a byte far past those SQLite locks, so the two never meet), which a hard link or a
// symlink reaches as well; and on "<store>.lock" beside it, which older versions of Quivra take
// and which carries the mark of a holder that has not ended yet. The system releases both when
// the holder dies, however it dies; the mark then stays, and tells the next holder.
#include <string>
#include <vector>

#include "platform/store/Database.h"

namespace store {

class StoreLock {
public:
    StoreLock() = default;
    ~StoreLock();
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

    // Locks the store file (made, empty, when missing) and "<store>.lock" beside the file the
    // path resolves to. False when another process holds either (the error then says
    // `busyMessage`) or they cannot be made.
    bool acquire(const std::string& storePath, const std::string& busyMessage, StoreError& error);
    // Lets go, marking an end that left the store as it should be.
    void release();
    // The holder before this one ended without letting go (killed, crashed, aborted), and that has
    // not been dealt with yet: until settled(), letting go leaves the mark for the next holder.
    bool endedUncleanly() const { return unclean_; }
    void settled() { unclean_ = false; }

    // ---- for a store written back to a path (see StoreWriter) ----
    // Holds "<store>.lock" of this path (and marks it), keeping it if it is the one held already.
    // False, with `busy` set when another process holds it.
    bool holdLockFile(const std::string& storePath, bool& busy, std::string& reason);
    // Locks the file at the path: a descriptor for it, or -1 with `busy` set when another process
    // holds it (or with errno's reason). Close it only while SQLite has no connection to the file
    // in this process: closing any descriptor drops the process's own SQLite locks on it.
    static int lockStoreFile(const std::string& path, bool create, bool& busy, std::string& reason);
    // From now on the store is the file locked at `storeFd` (see lockStoreFile); the file held
    // before stays locked, and open, until the lock goes, since connections to it may remain.
    void moveTo(int storeFd);

    // The store's path with every symlink resolved; a missing file is resolved through its folder.
    static std::string resolve(const std::string& storePath);

private:
    bool takeLockFile(const std::string& storePath, bool& busy, std::string& reason);
    void markRunning();

    int lockFileFd_ = -1;
    int storeFd_ = -1;
    std::vector<int> formerStoreFds_;
    bool unclean_ = false;
};

} // namespace store
