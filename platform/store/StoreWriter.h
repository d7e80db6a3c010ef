// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The thread that writes the store. Every save is one transaction on a connection of its own, so
// a long one (a million rows, a clear of millions moved to the trash) never holds up the window
// or the capture of readings; the object context keeps every change visible meanwhile.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/store/ChangeSet.h"
#include "platform/store/Database.h"
#include "platform/store/StoreLock.h"

namespace store {

class StoreWriter {
public:
    // The lock stays the context's; the writer moves it to the file it writes back.
    explicit StoreWriter(StoreLock& lock);
    ~StoreWriter();
    StoreWriter(const StoreWriter&) = delete;
    StoreWriter& operator=(const StoreWriter&) = delete;

    // Opens the writer's own connection to an existing, checked store, and starts the thread.
    bool open(const std::string& path, StoreError& error);

    // Starts writing; one change set at a time. `done` runs on the writer's thread when the
    // result is ready (to wake whoever collects it).
    void submit(ChangeSet changes, std::function<void()> done);
    // The result of the last change set, waiting for it if need be.
    SaveResult wait();

    // The connection itself, for checks and tests; touch it only while no save runs.
    Database& database() { return db_; }

private:
    struct Statements;
    void run(std::stop_token stop);
    SaveResult write(const ChangeSet& changes);
    bool writeChanges(const ChangeSet& changes);
    void writeIdentitiesAndMarkers(const ChangeSet& changes);
    void writeTrashOp(const TrashOp& op);
    // The file at the path is the one open, or made so again (see ObjectContext::save).
    bool ensureFileInPlace(SaveResult& result);
    bool writeBack(bool replaced, SaveResult& result);
    // Where a written-back store goes, its lock held: its path (with a file found there locked in
    // `displacedFd`, to be moved aside), or, when another Quivra holds the path, a name of its own
    // beside it. False with the reason when neither can be locked.
    bool chooseTarget(bool replaced, std::string& target, int& displacedFd, std::string& reason);
    // The whole store, as this connection sees it, into a new file.
    bool copyStore(const std::string& copy, std::string& reason);
    bool reopen(const std::string& path, StoreError& error);
    void rememberFile();

    StoreLock& lock_;
    Database db_;
    std::unique_ptr<Statements> sql_;
    unsigned long long fileDevice_ = 0, fileInode_ = 0;

    mutable std::mutex mutex_;
    std::condition_variable_any wake_;
    std::optional<ChangeSet> job_;
    std::function<void()> done_;
    std::optional<SaveResult> result_;
    std::jthread thread_;
};

} // namespace store
