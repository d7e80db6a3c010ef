// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Keeps the store for whoever records, with or without a window: opens it, loads or builds the
// root and repairs what a damaged store may hold, saves soon after every change on the store's
// writer thread, retries a failed save, and makes the final save try for a while before it gives
// up. The window's application delegate and `quivra record` both use it.
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "recording/BaseModel.h"
#include "platform/store/ObjectContext.h"

class StoreKeeper : public QObject {
    Q_OBJECT
public:
    explicit StoreKeeper(QObject* parent = nullptr);
    ~StoreKeeper() override;

    // Opens the store at the path, making its folder; false with `error` filled when it cannot
    // (error.code is StoreError::lockedByAnotherProcess when another Quivra records there, and
    // error.message is then the line to show).
    bool open(const std::string& path, store::StoreError& error);
    store::ObjectContext* context() const { return context_.get(); }

    // The stored root ("load model"), or a new one ("build new base model"); then a stored rate
    // out of range is brought inside and a missing active session chosen, each with a log line.
    BaseModel loadRoot();
    BaseModel root() const { return root_; }

    // Starts a save on the writer thread when anything changed; the result comes back on this
    // thread. A failure is logged, told and retried; nothing is lost.
    void saveContext();
    // Saves and waits; true when everything is in the file.
    bool saveNow();
    // The last save in the program: a deletion's follow-up is completed, then the save is tried
    // for up to finalSaveRetryTime, each failure logged. False when it never succeeded; it then
    // has logged how many samples are lost and `error` says why.
    bool finalSave(store::StoreError& error);
    std::chrono::milliseconds finalSaveRetryTime{30000};
    std::function<void()> betweenFinalSaveTries; // a pause of a second by default

    const std::string& lastSaveError() const { return lastSaveError_; }

    // How long an unsaved change may wait before it is saved while the program runs, and how
    // long after a failed save the next try comes.
    int autosaveDelayMs = 1000;
    int retryDelayMs = 2000;
    // The rates the program records at: 5 to 200 a second from a timer, faster ones as a device
    // offers them. A stored rate that is not a whole number in the widest range is repaired at
    // start-up.
    static constexpr int slowestFramerate = 5;
    static constexpr int fastestFramerate = 200;
    static constexpr int highestFramerate = 100000;

signals:
    void saved();
    void saveFailed(const QString& message);
    void saveRecovered();
    // Something the user should know about the store: it was written back, or could not be read.
    void storeNotice(const QString& message, bool warning);

private:
    void changed();
    void saveFinished();
    void reportSave(bool ok, const store::StoreError& error);

    std::unique_ptr<store::ObjectContext> context_;
    BaseModel root_;
    QTimer autosaveTimer_;
    bool lastSaveFailed_ = false;
    bool saveAgain_ = false; // changes came while a save was under way
    std::string lastSaveError_;
};

// The rate to use for a stored rate that is not one (as the file holds it, as text): 30 for what
// is not a number, the nearest whole number, 5 for less, 200 for more than the program records at.
int repairedFramerate(const std::string& stored);

// "The store could not be saved (code 13): database or disk is full".
std::string describeStoreError(const store::StoreError& error);
