// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/StoreWriter.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/DateFormatter.h"
#include "platform/store/Schema.h"
#include "platform/store/SummaryPyramid.h"

namespace store {

struct StoreWriter::Statements {
    explicit Statements(Database& db)
        : insertBaseModel(db, "INSERT OR REPLACE INTO base_model(id) VALUES(?1)"),
          writeOptions(db, "INSERT OR REPLACE INTO options(id, base_model_id, framerate, cutoff_limit,"
                           " tare_x, tare_y, tare_z, active_session_id) VALUES(?1,?2,?3,?4,?5,?6,?7,?8)"),
          writeSession(db, "INSERT OR REPLACE INTO session(id, base_model_id, date_stamp, sample_count)"
                           " VALUES(?1,?2,?3,?4)"),
          deleteSession(db, "DELETE FROM session WHERE id = ?1"),
          insertSample(db, "INSERT INTO gdata(id, session_id, date_stamp, x_value, y_value, z_value)"
                           " VALUES(?1,?2,?3,?4,?5,?6)"),
          insertTrashAction(db, "INSERT INTO trash_action(id, kind, session_id, session_base_model_id,"
                                " session_date_stamp, sample_count, through_id, active_in_options_id, removed_at)"
                                " VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9)"),
          copyToTrash(db, "INSERT INTO trash_gdata(action_id, id, session_id, date_stamp, x_value, y_value, z_value)"
                          " SELECT ?1, id, session_id, date_stamp, x_value, y_value, z_value FROM gdata"
                          " WHERE session_id = ?2 AND id <= ?3"),
          deleteThrough(db, "DELETE FROM gdata WHERE session_id = ?1 AND id <= ?2"),
          restoreFromTrash(db, "INSERT INTO gdata(id, session_id, date_stamp, x_value, y_value, z_value)"
                               " SELECT id, session_id, date_stamp, x_value, y_value, z_value FROM trash_gdata"
                               " WHERE action_id = ?1"),
          purgeTrashRows(db, "DELETE FROM trash_gdata WHERE action_id = ?1"),
          purgeTrashAction(db, "DELETE FROM trash_action WHERE id = ?1"),
          writeSetting(db, "INSERT OR REPLACE INTO setting(name, value) VALUES(?1, ?2)"),
          writeIdentity(db, "INSERT OR REPLACE INTO session_identity(session_id, name, machine, point, direction,"
                            " notes, source, rate) VALUES(?1,?2,?3,?4,?5,?6,?7,?8)"),
          deleteIdentity(db, "DELETE FROM session_identity WHERE session_id = ?1"),
          writeMarker(db,
                      "INSERT OR REPLACE INTO marker(id, session_id, date_stamp, kind, text) VALUES(?1,?2,?3,?4,?5)"),
          deleteMarker(db, "DELETE FROM marker WHERE id = ?1"),
          copyMarkersToTrash(db, "INSERT INTO trash_marker(action_id, id, session_id, date_stamp, kind, text)"
                                 " SELECT ?1, id, session_id, date_stamp, kind, text FROM marker"
                                 " WHERE session_id = ?2 AND id <= ?3"),
          deleteMarkersThrough(db, "DELETE FROM marker WHERE session_id = ?1 AND id <= ?2"),
          restoreMarkers(db, "INSERT INTO marker(id, session_id, date_stamp, kind, text)"
                             " SELECT id, session_id, date_stamp, kind, text FROM trash_marker WHERE action_id = ?1"),
          purgeTrashMarkers(db, "DELETE FROM trash_marker WHERE action_id = ?1"), pyramid(db)
    {}
    Statement insertBaseModel, writeOptions, writeSession, deleteSession, insertSample, insertTrashAction, copyToTrash,
        deleteThrough, restoreFromTrash, purgeTrashRows, purgeTrashAction, writeSetting, writeIdentity, deleteIdentity,
        writeMarker, deleteMarker, copyMarkersToTrash, deleteMarkersThrough, restoreMarkers, purgeTrashMarkers;
    // Kept in the same transaction as the rows it summarises.
    SummaryPyramid pyramid;
};

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

// `base`, or "base-2", "base-3", ... when a file of that name is there already.
std::string unusedName(const std::string& base)
{
    std::string name = base;
    struct stat st {};
    for (int n = 2; ::lstat(name.c_str(), &st) == 0; ++n) name = base + "-" + std::to_string(n);
    return name;
}
} // namespace

StoreWriter::StoreWriter(StoreLock& lock) : lock_(lock) {}

StoreWriter::~StoreWriter()
{
    if (thread_.joinable()) {
        thread_.request_stop();
        wake_.notify_all();
        thread_.join();
    }
    sql_.reset(); // statements go before the connection
}

bool StoreWriter::open(const std::string& path, StoreError& error)
{
    if (!db_.open(path, error) || !db_.exec("PRAGMA synchronous=FULL", error) || !db_.keepWriteAheadFiles(error))
        return false;
    sql_ = std::make_unique<Statements>(db_);
    if (db_.failed()) {
        error = db_.failure();
        error.message = "The store could not be opened";
        return false;
    }
    rememberFile();
    thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
    return true;
}

void StoreWriter::submit(ChangeSet changes, std::function<void()> done)
{
    {
        std::lock_guard lock(mutex_);
        job_ = std::move(changes);
        done_ = std::move(done);
        result_.reset();
    }
    wake_.notify_all();
}

SaveResult StoreWriter::wait()
{
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return !job_ && result_; });
    SaveResult out = std::move(*result_);
    result_.reset();
    return out;
}

void StoreWriter::run(std::stop_token stop)
{
    std::unique_lock lock(mutex_);
    while (!stop.stop_requested()) {
        if (!wake_.wait(lock, stop, [this] { return job_.has_value(); })) break;
        const ChangeSet& changes = *job_;
        auto done = std::move(done_);
        done_ = nullptr;
        lock.unlock();
        SaveResult result = write(changes);
        // Told before the result is out, so that no one waiting for it can go away first.
        if (done) done();
        lock.lock();
        result_ = std::move(result);
        job_.reset();
        wake_.notify_all();
    }
}

SaveResult StoreWriter::write(const ChangeSet& changes)
{
    SaveResult result;
    db_.clearError();
    if (!ensureFileInPlace(result)) return result;
    if (!sql_ || !db_.isOpen()) {
        result.error.code = SQLITE_MISUSE;
        result.error.message = "The store is not open";
        return result;
    }
    bool ok = false;
    {
        Transaction transaction(db_);
        ok = !db_.failed() && writeChanges(changes) && transaction.commit();
    }
    if (!ok) {
        result.error = db_.failure();
        if (result.error.code == 0) result.error.code = SQLITE_ERROR;
        result.error.message = "The store could not be saved";
        db_.clearError();
        return result;
    }
    result.ok = true;
    return result;
}

bool StoreWriter::writeChanges(const ChangeSet& c)
{
    Statements& s = *sql_;
    for (const BaseModelRecord& r : c.baseModels) s.insertBaseModel.bind(1, r.id).run();
    for (const SessionRecord& r : c.sessions) {
        s.writeSession.bind(1, r.id).bind(3, r.dateStamp).bind(4, r.storedCount);
        if (r.baseModel)
            s.writeSession.bind(2, r.baseModel);
        else
            s.writeSession.bindNull(2);
        s.writeSession.run();
    }
    for (const OptionsRecord& r : c.options) {
        s.writeOptions.bind(1, r.id)
            .bind(3, std::int64_t(r.framerate))
            .bind(4, double(r.cutoffLimit))
            .bind(5, double(r.tareX))
            .bind(6, double(r.tareY))
            .bind(7, double(r.tareZ));
        if (r.baseModel)
            s.writeOptions.bind(2, r.baseModel);
        else
            s.writeOptions.bindNull(2);
        if (r.activeSession)
            s.writeOptions.bind(8, r.activeSession);
        else
            s.writeOptions.bindNull(8);
        s.writeOptions.run();
    }
    for (const auto& [name, value] : c.settings)
        s.writeSetting.bind(1, std::string_view(name)).bind(2, std::string_view(value)).run();
    for (const SessionSummary& summary : c.summaries) putSummary(db_, summary);
    writeIdentitiesAndMarkers(c);
    auto writeSample = [](Statement& st, ObjectId id, const SampleRecord& r) {
        st.bind(1, id).bind(3, r.dateStamp).bind(4, double(r.x)).bind(5, double(r.y)).bind(6, double(r.z));
        if (r.session)
            st.bind(2, r.session);
        else
            st.bindNull(2);
        st.run();
    };
    if (db_.failed()) return false;
    ObjectId id = c.firstSampleId;
    for (const SampleRecord& r : c.samples) {
        writeSample(s.insertSample, id, r);
        ++id;
        if (db_.failed()) return false;
    }
    // Last, so that a removal also takes the samples written just above.
    s.pyramid.beginSave(c);
    for (const TrashOp& op : c.trashOps) {
        s.pyramid.beforeTrashOp(op);
        writeTrashOp(op);
        s.pyramid.afterTrashOp(op);
    }
    s.pyramid.endSave();
    return !db_.failed();
}

void StoreWriter::writeIdentitiesAndMarkers(const ChangeSet& c)
{
    Statements& s = *sql_;
    for (const auto& [session, who] : c.identities) {
        Statement& w = s.writeIdentity;
        w.bind(1, session)
            .bind(2, std::string_view(who.name))
            .bind(3, std::string_view(who.machine))
            .bind(4, std::string_view(who.point))
            .bind(5, std::string_view(who.direction))
            .bind(6, std::string_view(who.notes))
            .bind(7, std::string_view(who.source));
        if (who.rate > 0)
            w.bind(8, who.rate);
        else
            w.bindNull(8);
        w.run();
    }
    for (const MarkerRecord& m : c.markers)
        s.writeMarker.bind(1, m.id)
            .bind(2, m.session)
            .bind(3, m.dateStamp)
            .bind(4, markerKindName(m.kind))
            .bind(5, std::string_view(m.text))
            .run();
    for (ObjectId id : c.deletedMarkers) s.deleteMarker.bind(1, id).run();
}

void StoreWriter::writeTrashOp(const TrashOp& op)
{
    Statements& s = *sql_;
    const Removal& r = op.removal;
    const bool isDelete = r.kind == Removal::Kind::deleteSession;
    switch (op.kind) {
    case TrashOp::Kind::trash:
        if (op.keep) {
            Statement& a = s.insertTrashAction;
            a.bind(1, r.action)
                .bind(2, std::string_view(isDelete ? "delete" : "clear"))
                .bind(3, r.session.id)
                .bind(5, r.session.dateStamp)
                .bind(6, r.sampleCount())
                .bind(7, r.throughId)
                .bind(9, r.removedAt);
            if (r.session.baseModel)
                a.bind(4, r.session.baseModel);
            else
                a.bindNull(4);
            if (r.activeIn)
                a.bind(8, r.activeIn);
            else
                a.bindNull(8);
            a.run();
            s.copyToTrash.bind(1, r.action).bind(2, r.session.id).bind(3, r.throughId).run();
            s.copyMarkersToTrash.bind(1, r.action).bind(2, r.session.id).bind(3, r.markerThroughId).run();
        }
        s.deleteThrough.bind(1, r.session.id).bind(2, r.throughId).run();
        s.deleteMarkersThrough.bind(1, r.session.id).bind(2, r.markerThroughId).run();
        if (isDelete) s.deleteSession.bind(1, r.session.id).run();
        if (isDelete && !op.keep) s.deleteIdentity.bind(1, r.session.id).run();
        break;
    case TrashOp::Kind::restore:
        s.restoreFromTrash.bind(1, r.action).run();
        s.restoreMarkers.bind(1, r.action).run();
        [[fallthrough]];
    case TrashOp::Kind::purge:
        s.purgeTrashRows.bind(1, r.action).run();
        s.purgeTrashMarkers.bind(1, r.action).run();
        s.purgeTrashAction.bind(1, r.action).run();
        // A delete made final: the identity that waited with the session goes too.
        if (op.kind == TrashOp::Kind::purge && isDelete) s.deleteIdentity.bind(1, r.session.id).run();
        break;
    }
}

// ---- the file behind the store ----
// If it is removed or replaced while the program runs, the next save would go to a file nobody
// can reach any more; instead the whole open store is written back to its path.

void StoreWriter::rememberFile()
{
    if (!identify(db_.path(), fileDevice_, fileInode_)) fileDevice_ = fileInode_ = 0;
}

bool StoreWriter::ensureFileInPlace(SaveResult& result)
{
    const std::string path = db_.path();
    if (path.empty()) return true;
    unsigned long long device = 0, inode = 0;
    const bool present = identify(path, device, inode);
    if (present && device == fileDevice_ && inode == fileInode_ && db_.isOpen()) return true;
    if (!db_.isOpen()) {
        // A write-back got as far as the file, not further.
        result.fileReplaced = true;
        result.path = path;
        return reopen(path, result.error);
    }
    return writeBack(present, result);
}

bool StoreWriter::writeBack(bool replaced, SaveResult& result)
{
    const std::string path = db_.path();
    int displacedFd = -1, copyFd = -1;
    auto failWith = [&](int code, const std::string& reason) {
        for (int fd : {displacedFd, copyFd})
            if (fd >= 0) ::close(fd); // no connection of ours to either file
        result.error.code = code ? code : SQLITE_CANTOPEN;
        result.error.message = "The store file was removed and could not be written back";
        result.error.details["path"] = path;
        result.error.details["reason"] = reason;
        return false;
    };
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    if (ec) return failWith(SQLITE_CANTOPEN, folder.string() + ": " + ec.message());
    std::string target, reason;
    if (!chooseTarget(replaced, target, displacedFd, reason)) return failWith(SQLITE_CANTOPEN, reason);

    const std::string copy = target + ".restoring";
    bool busy = false;
    if (!copyStore(copy, reason) || (copyFd = StoreLock::lockStoreFile(copy, false, busy, reason)) < 0) {
        removeWithJournals(copy);
        return failWith(SQLITE_CANTOPEN, reason);
    }
    // Another file at the path is kept beside it, never overwritten.
    std::string aside;
    if (target == path && replaced) {
        aside =
            unusedName(path + ".displaced-" + platform::formatDate(platform::Clock::systemNow(), "yyyyMMdd-HHmmss"));
        if (::rename(path.c_str(), aside.c_str()) != 0) {
            removeWithJournals(copy);
            return failWith(SQLITE_CANTOPEN, std::strerror(errno));
        }
    }
    // Locked since before it has the name, so that no one else can have opened it there.
    if (::rename(copy.c_str(), target.c_str()) != 0) return failWith(SQLITE_CANTOPEN, std::strerror(errno));
    if (displacedFd >= 0) ::close(displacedFd);
    // The old connection goes only now: SQLite finds its file moved, and leaves the journal at
    // that name, the new file's, alone.
    sql_.reset();
    db_.close();
    lock_.moveTo(copyFd);
    result.fileReplaced = true;
    result.path = target;
    if (!reopen(target, result.error)) return false;
    if (target != path)
        result.fileNotice = "Another Quivra now records into " + path + "; everything recorded here was written to "
                            + target + ", where recording goes on";
    else
        result.fileNotice = replaced ? "The store file was replaced by another file (kept as " + aside
                                           + "); everything recorded was written back to " + path
                                     : "The store file was removed; everything recorded was written back to " + path;
    return true;
}

bool StoreWriter::chooseTarget(bool replaced, std::string& target, int& displacedFd, std::string& reason)
{
    // The path's lock first, as a Quivra starting there takes it: whoever holds it records there
    // now. A file at the path is locked too, to be moved aside; one that a Quivra holds (its lock
    // file deleted) is left alone as well.
    const std::string path = db_.path();
    bool busy = false;
    if (!lock_.holdLockFile(path, busy, reason) && !busy) return false;
    if (!busy && replaced) {
        displacedFd = StoreLock::lockStoreFile(path, false, busy, reason);
        // One this user may not open for writing holds no Quivra: moved aside all the same.
        if (displacedFd < 0 && !busy) reason.clear();
    }
    target = path;
    if (!busy) return true;
    // This store goes on under a name of its own rather than touch the other's files.
    target = unusedName(path + ".kept-" + platform::formatDate(platform::Clock::systemNow(), "yyyyMMdd-HHmmss"));
    return lock_.holdLockFile(target, busy, reason);
}

bool StoreWriter::copyStore(const std::string& copy, std::string& reason)
{
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
    if (rc != SQLITE_OK) reason = target ? sqlite3_errmsg(target) : sqlite3_errstr(rc);
    sqlite3_close_v2(target);
    return rc == SQLITE_OK;
}

bool StoreWriter::reopen(const std::string& path, StoreError& error)
{
    sql_.reset();
    if (!db_.open(path, error) || !prepareSchema(db_, error) || !db_.keepWriteAheadFiles(error)) {
        db_.close();
        return false;
    }
    sql_ = std::make_unique<Statements>(db_);
    rememberFile();
    return true;
}

} // namespace store
