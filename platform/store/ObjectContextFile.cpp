// The file behind the open store. If it is removed or replaced while the program runs, the next
// save would go to a file nobody can reach any more; instead the whole open store is written back
// to its path, and saving goes on there.
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/DateFormatter.h"
#include "platform/store/ContextStatements.h"
#include "platform/store/Schema.h"

namespace store {

namespace {
bool identify(const std::string& path, unsigned long long& device, unsigned long long& inode)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    device = st.st_dev;
    inode = st.st_ino;
    return true;
}

void removeWithJournals(const std::string& path)
{
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) ::unlink((path + suffix).c_str());
}
} // namespace

void ObjectContext::rememberFile()
{
    if (!identify(db_.path(), fileDevice_, fileInode_)) fileDevice_ = fileInode_ = 0;
}

bool ObjectContext::ensureFileInPlace(StoreError& error)
{
    const std::string path = db_.path();
    if (path.empty()) return true;
    unsigned long long device = 0, inode = 0;
    const bool present = identify(path, device, inode);
    if (present && device == fileDevice_ && inode == fileInode_ && db_.isOpen()) return true;
    if (!db_.isOpen()) return reopen(error); // a write-back got as far as the file, not further
    return writeBackTo(path, present, error);
}

bool ObjectContext::writeBackTo(const std::string& path, bool replaced, StoreError& error)
{
    auto failWith = [&](int code, const std::string& reason) {
        error.code = code ? code : SQLITE_CANTOPEN;
        error.message = "The store file was removed and could not be written back";
        error.details["path"] = path;
        error.details["reason"] = reason;
        return false;
    };
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    if (ec) return failWith(SQLITE_CANTOPEN, folder.string() + ": " + ec.message());

    // Another file at the path is kept beside it, never overwritten.
    std::string aside;
    if (replaced) {
        aside = path + ".displaced-" + platform::formatDate(platform::Clock::systemNow(), "yyyyMMdd-HHmmss");
        if (::rename(path.c_str(), aside.c_str()) != 0) return failWith(SQLITE_CANTOPEN, std::strerror(errno));
    }
    const std::string copy = path + ".restoring";
    removeWithJournals(copy);
    sqlite3* target = nullptr;
    int rc = sqlite3_open_v2(copy.c_str(), &target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK) {
        // Read through the open connection: it still sees every saved change, journal included.
        sqlite3_backup* backup = sqlite3_backup_init(target, "main", db_.handle(), "main");
        if (!backup) {
            rc = sqlite3_errcode(target);
        } else {
            rc = sqlite3_backup_step(backup, -1);
            sqlite3_backup_finish(backup);
            if (rc == SQLITE_DONE) rc = SQLITE_OK;
        }
    }
    std::string reason = rc == SQLITE_OK ? "" : (target ? sqlite3_errmsg(target) : sqlite3_errstr(rc));
    sqlite3_close_v2(target);
    if (rc != SQLITE_OK) {
        removeWithJournals(copy);
        return failWith(rc, reason);
    }
    // The old connection goes before the copy takes the name: closing it clears its journal by
    // name, which must not touch the new file's.
    sql_.reset();
    db_.close();
    if (::rename(copy.c_str(), path.c_str()) != 0) return failWith(SQLITE_CANTOPEN, std::strerror(errno));
    if (!reopen(error)) return false;
    if (fileObserver_)
        fileObserver_(replaced ? "The store file was replaced by another file (kept as " + aside
                                     + "); everything recorded was written back to " + path
                               : "The store file was removed; everything recorded was written back to " + path);
    return true;
}

bool ObjectContext::reopen(StoreError& error)
{
    const std::string path = db_.path();
    sql_.reset();
    bool busy = false;
    std::string reason;
    if (!lock_.acquire(path, busy, reason)) {
        error.code = busy ? StoreError::lockedByAnotherProcess : SQLITE_CANTOPEN;
        error.message = busy ? "Another Quivra now runs on this store" : "The store could not be locked";
        error.details["path"] = path;
        error.details["reason"] = reason;
        return false;
    }
    if (!db_.open(path, error) || !prepareSchema(db_, error)) {
        db_.close();
        return false;
    }
    sql_ = std::make_unique<Statements>(db_);
    rememberFile();
    return true;
}

} // namespace store
