// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/ObjectContext.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cstddef>
#include <filesystem>
#include <unistd.h>

#include "platform/store/Schema.h"

namespace store {

namespace {
bool refuseReadOnly(const std::string& path, StoreError& error)
{
    error.code = StoreError::readOnly;
    error.message = "The store is read-only: Quivra cannot save what it records there";
    error.details["path"] = path;
    return false;
}
} // namespace

ObjectContext::ObjectContext() = default;

ObjectContext::~ObjectContext()
{
    if (saving_) writer_->wait();
    writer_.reset();
    samples_.detach(); // statements go before the connection
}

bool ObjectContext::open(const std::string& path, StoreError& error)
{
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) {
        error.code = SQLITE_CANTOPEN;
        error.message = "The store could not be opened: its folder is missing";
        error.details["path"] = path;
        if (ec) error.details["reason"] = ec.message();
        return false;
    }
    // Every save would fail, and the exit would lose everything: refuse it now.
    if (::access(folder.empty() ? "." : folder.c_str(), W_OK) != 0
        || (::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) != 0))
        return refuseReadOnly(path, error);
    if (!lock_.acquire(path, "Quivra is already running on the store " + path, error)) return false;
    auto fail = [this] {
        writer_.reset();
        samples_.detach();
        db_.close();
        lock_.release();
        return false;
    };
    if (!db_.open(path, error)) return fail();
    if (sqlite3_db_readonly(db_.handle(), "main") == 1) {
        refuseReadOnly(path, error);
        return fail();
    }
    if (!prepareSchema(db_, error, migrationProgress_)) return fail();
    // Counting every row takes a while in a large store: only after an end that was not clean.
    if (lock_.endedUncleanly()) {
        if (!repairSampleCounts(db_, repairs_, error)) return fail();
        lock_.settled();
    }
    if (!db_.keepWriteAheadFiles(error)) return fail();
    samples_.attach(db_);
    if (!load(error)) return fail();
    writer_ = std::make_unique<StoreWriter>(lock_);
    if (!writer_->open(path, error)) return fail();
    return true;
}

bool ObjectContext::openReader(const std::string& path, StoreError& error)
{
    samples_.detach();
    if (!db_.open(path, error) || !db_.keepWriteAheadFiles(error)) return false;
    samples_.attach(db_);
    return true;
}

bool ObjectContext::load(StoreError& error)
{
    entities_.load(db_);
    samples_.load(db_);
    markers_.load(db_);
    trash_.load(db_);
    if (db_.failed()) {
        error = db_.failure();
        error.message = "The store could not be read";
        db_.clearError();
        return false;
    }
    if (trash_.hasChanges()) changed();
    return true;
}

void ObjectContext::changed()
{
    if (changed_) return;
    changed_ = true;
    if (observer_) observer_();
}

void ObjectContext::reportReadFailure()
{
    StoreError error = db_.failure();
    error.message = "The store could not be read";
    db_.clearError();
    if (readFailureObserver_) readFailureObserver_(error);
}

// ---- small entities ----

std::string ObjectContext::framerateAsStored(ObjectId options)
{
    Statement q(db_, "SELECT CAST(framerate AS TEXT) FROM options WHERE id = ?");
    q.bind(1, options);
    std::string text = q.step() ? q.text(0) : std::string();
    db_.clearError();
    return text;
}

// ---- saving ----

bool ObjectContext::beginSave(std::function<void()> done)
{
    if (saving_ || !changed_ || !writer_) return false;
    writer_->submit(takeChanges(), std::move(done));
    changed_ = false;
    saving_ = true;
    return true;
}

bool ObjectContext::finishSave(StoreError& error)
{
    if (!saving_) return true;
    SaveResult result = writer_->wait();
    saving_ = false;
    if (result.fileReplaced) {
        StoreError ignored;
        openReader(result.path.empty() ? db_.path() : result.path, ignored);
    }
    if (!result.fileNotice.empty() && fileObserver_) fileObserver_(result.fileNotice);
    if (result.ok) {
        entities_.saved();
        samples_.saved(); // before the trash, which lets deleted sessions go
        markers_.saved();
        trash_.saved();
        summariesInFlight_.clear();
        return true;
    }
    // Nothing was written: the rows taken are marked again for the next save.
    entities_.notSaved();
    markers_.notSaved();
    trash_.notSaved();
    summaries_.merge(summariesInFlight_); // a newer one made meanwhile stays
    summariesInFlight_.clear();
    changed();
    error = result.error;
    return false;
}

bool ObjectContext::save(StoreError& error)
{
    StoreError superseded;
    if (saving_) finishSave(superseded); // a failure there is tried again just below
    if (!changed_) return true;
    if (!writer_) {
        error.code = SQLITE_MISUSE;
        error.message = "The store is not open";
        return false;
    }
    beginSave(nullptr);
    return finishSave(error);
}

ChangeSet ObjectContext::takeChanges()
{
    ChangeSet c;
    entities_.takeChanges(c);
    samples_.takeChanges(c);
    markers_.takeChanges(c);
    trash_.takeChanges(c);
    for (const auto& [session, summary] : summaries_) c.summaries.push_back(summary);
    summariesInFlight_ = std::move(summaries_);
    summaries_.clear();
    return c;
}

void ObjectContext::keepSummary(const SessionSummary& summary)
{
    summaries_[summary.session] = summary;
    changed();
}

} // namespace store
