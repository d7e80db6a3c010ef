// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/StoreKeeper.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "recording/Options.h"
#include "recording/Session.h"
#include "platform/Folders.h"
#include "platform/Log.h"

int repairedFramerate(const std::string& stored)
{
    char* end = nullptr;
    const double value = std::strtod(stored.c_str(), &end);
    // Not a number at all: the rate of a new store.
    if (stored.empty() || end != stored.c_str() + stored.size() || !std::isfinite(value)) return 30;
    if (value < StoreKeeper::slowestFramerate) return StoreKeeper::slowestFramerate;
    if (value > StoreKeeper::highestFramerate) return StoreKeeper::fastestFramerate;
    return int(std::lround(value));
}

std::string describeStoreError(const store::StoreError& error)
{
    auto reason = error.details.find("reason");
    return error.describe() + (reason != error.details.end() ? ": " + reason->second : std::string());
}

StoreKeeper::StoreKeeper(QObject* parent) : QObject(parent)
{
    autosaveTimer_.setSingleShot(true);
    connect(&autosaveTimer_, &QTimer::timeout, this, &StoreKeeper::saveContext);
}

StoreKeeper::~StoreKeeper() = default;

bool StoreKeeper::open(const std::string& path, store::StoreError& error)
{
    std::string folderError;
    const std::string folder = path.substr(0, path.rfind('/'));
    if (!platform::ensureDirectory(folder, &folderError)) {
        error.code = 14; // SQLite's "cannot open"
        error.message = "The store's folder could not be made";
        error.details["path"] = path;
        error.details["reason"] = folderError;
        return false;
    }
    auto context = std::make_unique<store::ObjectContext>();
    // Opened before any window: a store that predates the summaries tells its progress in the log.
    context->setMigrationProgress([](std::int64_t done, std::int64_t total) {
        platform::log("bringing the store up to date: " + std::to_string(done) + " of " + std::to_string(total)
                      + " samples summarised");
    });
    if (!context->open(path, error)) return false;
    for (const std::string& repaired : context->repairs())
        platform::log("the last run did not end cleanly: " + repaired);
    context_ = std::move(context);
    context_->setChangeObserver([this] { changed(); });
    context_->setReadFailureObserver([this](const store::StoreError& e) {
        platform::log("store read failed: " + e.describe() + ", " + e.describeDetails());
        emit storeNotice(QString::fromStdString("Could not read the store: " + describeStoreError(e)), true);
    });
    context_->setFileObserver([this](const std::string& message) {
        platform::log(message);
        emit storeNotice(QString::fromStdString(message), true);
    });
    return true;
}

BaseModel StoreKeeper::loadRoot()
{
    std::vector<store::ObjectId> roots = context_->fetchBaseModels();
    if (!roots.empty()) {
        platform::log("load model");
        root_ = BaseModel(context_.get(), roots.back());
    } else {
        platform::log("build new base model");
        root_ = BaseModel::init(*context_);
    }
    if (Options options = root_.options()) {
        const int rate = options.framerate();
        // A rate above 200 is one a device offered: it stays, and a run on a source that does not
        // offer it records at the nearest one the source does.
        if (rate < slowestFramerate || rate > highestFramerate) {
            const std::string stored = context_->framerateAsStored(options.objectId());
            const int fixed = repairedFramerate(stored);
            platform::log("stored sample rate '" + stored + "' is not a whole number of readings a second from "
                          + std::to_string(slowestFramerate) + " to " + std::to_string(highestFramerate) + ", using "
                          + std::to_string(fixed));
            options.setFramerate(fixed);
        }
    }
    std::string repaired;
    root_.ensureActiveSession(&repaired);
    if (!repaired.empty()) platform::log("no active session in the store: " + repaired);
    return root_;
}

void StoreKeeper::changed()
{
    if (!autosaveTimer_.isActive()) autosaveTimer_.start(lastSaveFailed_ ? retryDelayMs : autosaveDelayMs);
}

void StoreKeeper::saveContext()
{
    autosaveTimer_.stop();
    if (!context_ || !context_->hasChanges()) return;
    if (context_->isSaving()) {
        saveAgain_ = true;
        return;
    }
    // The writer thread says when it is done; the result is taken in on this thread.
    context_->beginSave([this] { QMetaObject::invokeMethod(this, &StoreKeeper::saveFinished, Qt::QueuedConnection); });
}

void StoreKeeper::saveFinished()
{
    if (!context_ || !context_->isSaving()) return;
    store::StoreError error;
    reportSave(context_->finishSave(error), error);
}

bool StoreKeeper::saveNow()
{
    autosaveTimer_.stop();
    if (!context_) return true;
    const bool needed = context_->hasChanges();
    store::StoreError error;
    const bool ok = context_->save(error);
    if (needed || !ok) reportSave(ok, error);
    return ok;
}

void StoreKeeper::reportSave(bool ok, const store::StoreError& error)
{
    if (ok) {
        if (lastSaveFailed_) {
            lastSaveFailed_ = false;
            lastSaveError_.clear();
            platform::log("saved after an earlier failure");
            emit saveRecovered();
        }
        emit saved();
        if (saveAgain_) {
            saveAgain_ = false;
            saveContext();
        }
        return;
    }
    saveAgain_ = false;
    lastSaveFailed_ = true;
    lastSaveError_ = describeStoreError(error);
    platform::log("save failed, will retry: " + error.describe() + ", " + error.describeDetails());
    emit saveFailed(QString::fromStdString(lastSaveError_));
    autosaveTimer_.start(retryDelayMs);
}

bool StoreKeeper::finalSave(store::StoreError& error)
{
    autosaveTimer_.stop();
    if (!context_) return true;
    // A deletion whose follow-up had no time to run still leaves an active session behind.
    if (root_) {
        std::string repaired;
        root_.ensureActiveSession(&repaired);
        if (!repaired.empty()) platform::log("at exit: " + repaired);
    }
    if (!context_->hasChanges()) return true;
    const auto deadline = std::chrono::steady_clock::now() + finalSaveRetryTime;
    for (int attempt = 1;; ++attempt) {
        if (context_->save(error)) {
            if (attempt > 1) platform::log("saved at exit on try " + std::to_string(attempt));
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            platform::log("final save failed " + std::to_string(attempt)
                          + " times: " + std::to_string(context_->unsavedSampleCount()) + " samples lost");
            return false;
        }
        platform::log("final save failed (try " + std::to_string(attempt)
                      + "), retrying: " + describeStoreError(error));
        if (betweenFinalSaveTries)
            betweenFinalSaveTries();
        else
            std::this_thread::sleep_for(std::chrono::seconds(1));
    }
}
