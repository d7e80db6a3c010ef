#include "QuivraAppDelegate.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "MainViewController.h"
#include "Options.h"
#include "Session.h"
#include "platform/Folders.h"
#include "platform/Log.h"
#include "platform/sensors/Accelerometer.h"

namespace {
QuivraAppDelegate* sharedDelegate = nullptr;

[[noreturn]] void unresolved(const store::StoreError& error)
{
    platform::abortWith("Unresolved error " + error.describe() + ", " + error.describeDetails());
}

std::string reasonOf(const store::StoreError& error)
{
    auto reason = error.details.find("reason");
    return error.describe() + (reason != error.details.end() ? ": " + reason->second : std::string());
}
} // namespace

store::ObjectContext* ManagedObject::applicationContext()
{
    return sharedDelegate ? sharedDelegate->managedObjectContext() : nullptr;
}

QuivraAppDelegate::QuivraAppDelegate(QObject* parent) : QObject(parent)
{
    sharedDelegate = this;
    autosaveTimer_.setSingleShot(true);
    connect(&autosaveTimer_, &QTimer::timeout, this, &QuivraAppDelegate::saveContext);
    // Qt ends the process with exit() when the display server goes away; what was recorded is
    // saved on that path too.
    static const bool registered = std::atexit(&QuivraAppDelegate::saveOnUnexpectedExit) == 0;
    (void)registered;
}

QuivraAppDelegate::~QuivraAppDelegate()
{
    // The screen goes before the window that shows it, and both before the store.
    mainViewController_.reset();
    window_.reset();
    managedObjectContext_.reset();
    if (sharedDelegate == this) sharedDelegate = nullptr;
}

QuivraAppDelegate* QuivraAppDelegate::shared()
{
    return sharedDelegate;
}

std::string QuivraAppDelegate::applicationDirectory() const
{
    return platform::libraryDirectory();
}

std::string QuivraAppDelegate::storePath() const
{
    return applicationDirectory() + "/Quivra.sqlite";
}

store::ObjectContext* QuivraAppDelegate::managedObjectContext()
{
    if (managedObjectContext_) return managedObjectContext_.get();
    auto context = std::make_unique<store::ObjectContext>();
    store::StoreError error;
    std::string folderError;
    std::string path = storePath();
    if (!platform::prepareLibraryDirectory(folderError)) {
        error.code = 14; // SQLite's "cannot open"
        error.message = "The store's folder could not be made";
        error.details["path"] = path;
        error.details["reason"] = folderError;
        unresolved(error);
    }
    if (!context->open(path, error)) {
        if (error.code == store::StoreError::lockedByAnotherProcess) {
            std::fprintf(stderr, "quivra: Quivra is already running on the store %s\n", path.c_str());
            std::exit(1);
        }
        unresolved(error);
    }
    managedObjectContext_ = std::move(context);
    managedObjectContext_->setChangeObserver([this] { contextChanged(); });
    managedObjectContext_->setReadFailureObserver([this](const store::StoreError& e) {
        platform::log("store read failed: " + e.describe() + ", " + e.describeDetails());
        emit storeNotice(QString::fromStdString("Could not read the store: " + reasonOf(e)), true);
    });
    managedObjectContext_->setFileObserver([this](const std::string& message) {
        platform::log(message);
        emit storeNotice(QString::fromStdString(message), true);
    });
    return managedObjectContext_.get();
}

bool QuivraAppDelegate::applicationDidFinishLaunchingWithOptions()
{
    store::ObjectContext* context = managedObjectContext();
    std::vector<store::ObjectId> roots = context->fetchBaseModels();
    if (!roots.empty()) {
        platform::log("load model");
        baseModel_ = BaseModel(context, roots.back());
    } else {
        platform::log("build new base model");
        baseModel_ = BaseModel::init(*context);
    }
    repairAtStartup();

    window_ = std::make_unique<QWidget>();
    window_->setWindowTitle("Quivra");
    window_->setMinimumSize(800, 600);
    window_->resize(1024, 768);
    window_->installEventFilter(this);
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    window_->show();

    mainViewController_ = std::make_unique<MainViewController>();
    layout->addWidget(mainViewController_->view());
    return true;
}

void QuivraAppDelegate::repairAtStartup()
{
    if (Options options = baseModel_.options()) {
        const int rate = options.framerate();
        if (rate < slowestFramerate || rate > fastestFramerate) {
            const int fixed = std::clamp(rate, slowestFramerate, fastestFramerate);
            platform::log("stored sample rate " + std::to_string(rate) + " is out of range, using "
                          + std::to_string(fixed));
            options.setFramerate(fixed);
        }
    }
    std::string repaired;
    baseModel_.ensureActiveSession(&repaired);
    if (!repaired.empty()) platform::log("no active session in the store: " + repaired);
}

void QuivraAppDelegate::contextChanged()
{
    if (!autosaveTimer_.isActive()) autosaveTimer_.start(lastSaveFailed_ ? retryDelayMs : autosaveDelayMs);
}

void QuivraAppDelegate::saveContext()
{
    autosaveTimer_.stop();
    if (!managedObjectContext_ || !managedObjectContext_->hasChanges()) return;
    if (managedObjectContext_->isSaving()) {
        saveAgain_ = true;
        return;
    }
    // The writer thread says when it is done; the result is taken in on this thread.
    managedObjectContext_->beginSave([this] { QMetaObject::invokeMethod(this, &QuivraAppDelegate::saveFinished, Qt::QueuedConnection); });
}

void QuivraAppDelegate::saveFinished()
{
    if (!managedObjectContext_ || !managedObjectContext_->isSaving()) return;
    store::StoreError error;
    reportSave(managedObjectContext_->finishSave(error), error);
}

bool QuivraAppDelegate::saveNow()
{
    autosaveTimer_.stop();
    if (!managedObjectContext_) return true;
    const bool needed = managedObjectContext_->hasChanges();
    store::StoreError error;
    const bool ok = managedObjectContext_->save(error);
    if (needed || !ok) reportSave(ok, error);
    return ok;
}

void QuivraAppDelegate::reportSave(bool ok, const store::StoreError& error)
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
    lastSaveError_ = reasonOf(error);
    platform::log("save failed, will retry: " + error.describe() + ", " + error.describeDetails());
    emit saveFailed(QString::fromStdString(lastSaveError_));
    autosaveTimer_.start(retryDelayMs);
}

bool QuivraAppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window_.get() && event->type() == QEvent::Close && !terminated_ && !mayClose()) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

bool QuivraAppDelegate::mayClose()
{
    while (!saveNow()) {
        const qlonglong unsaved = managedObjectContext_->unsavedSampleCount();
        QMessageBox box(QMessageBox::Warning, "Quivra cannot save",
                        QString("What was recorded cannot be saved: %1.\n\nQuitting now loses %2 samples. Free "
                                "some space (or fix the store's folder) and try again.")
                            .arg(QString::fromStdString(lastSaveError_), QLocale().toString(unsaved)),
                        QMessageBox::NoButton, window_.get());
        QPushButton* retry = box.addButton("Retry", QMessageBox::AcceptRole);
        QPushButton* quit = box.addButton("Quit without saving", QMessageBox::DestructiveRole);
        QPushButton* stay = box.addButton("Keep Quivra open", QMessageBox::RejectRole);
        box.setDefaultButton(retry);
        box.setEscapeButton(stay);
        box.exec();
        if (box.clickedButton() == quit) {
            quitWithoutSaving_ = true;
            QCoreApplication::exit(1);
            return true;
        }
        if (box.clickedButton() != retry) return false;
    }
    return true;
}

void QuivraAppDelegate::applicationWillTerminate()
{
    terminated_ = true;
    autosaveTimer_.stop();
    if (!managedObjectContext_) return;
    // Readings captured before the end are stored too.
    sensors::Accelerometer::sharedAccelerometer()->deliverPending();
    // A deletion whose follow-up had no time to run still leaves an active session behind.
    if (baseModel_) {
        std::string repaired;
        baseModel_.ensureActiveSession(&repaired);
        if (!repaired.empty()) platform::log("at exit: " + repaired);
    }
    if (!managedObjectContext_->hasChanges()) return;
    const std::string unsaved = std::to_string(managedObjectContext_->unsavedSampleCount());
    if (quitWithoutSaving_) {
        platform::log("quit without saving: " + unsaved + " samples lost");
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + finalSaveRetryTime;
    for (int attempt = 1;; ++attempt) {
        store::StoreError error;
        if (managedObjectContext_->save(error)) {
            if (attempt > 1) platform::log("saved at exit on try " + std::to_string(attempt));
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            platform::log("final save failed " + std::to_string(attempt) + " times: "
                          + std::to_string(managedObjectContext_->unsavedSampleCount()) + " samples lost");
            unresolved(error);
        }
        platform::log("final save failed (try " + std::to_string(attempt) + "), retrying: " + reasonOf(error));
        if (betweenFinalSaveTries) betweenFinalSaveTries();
        else std::this_thread::sleep_for(std::chrono::seconds(1));
    }
}

void QuivraAppDelegate::saveOnUnexpectedExit()
{
    QuivraAppDelegate* delegate = sharedDelegate;
    if (!delegate || delegate->terminated_ || !delegate->managedObjectContext_) return;
    delegate->terminated_ = true;
    if (!delegate->managedObjectContext_->hasChanges()) return;
    platform::log("ending without the event loop (display gone?): saving what was recorded");
    store::StoreError error;
    if (!delegate->managedObjectContext_->save(error))
        platform::log("save at exit failed: " + error.describe() + ", " + error.describeDetails());
}
