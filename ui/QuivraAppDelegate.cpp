// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/QuivraAppDelegate.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "recording/Publishing.h"
#include "recording/Shutdown.h"
#include "ui/MainViewController.h"
#include "recording/Options.h"
#include "recording/Session.h"
#include "ui/SingleWindow.h"
#include "platform/Folders.h"
#include "platform/Log.h"
#include "platform/NumberText.h"
#include "platform/sensors/Accelerometer.h"

namespace {
QuivraAppDelegate* sharedDelegate = nullptr;

[[noreturn]] void unresolved(const store::StoreError& error)
{
    platform::abortWith("Unresolved error " + error.describe() + ", " + error.describeDetails());
}

} // namespace

QuivraAppDelegate::QuivraAppDelegate(sensors::Accelerometer& accelerometer, StoreKeeper& keeper, QObject* parent)
    : QObject(parent), finalSaveRetryTime(keeper.finalSaveRetryTime),
      betweenFinalSaveTries(keeper.betweenFinalSaveTries), accelerometer_(accelerometer), keeper_(keeper)
{
    // Only to end on a signal or an exit() outside the event loop, which take no arguments.
    sharedDelegate = this;
    connect(&keeper_, &StoreKeeper::saved, this, &QuivraAppDelegate::saved);
    connect(&keeper_, &StoreKeeper::saveFailed, this, &QuivraAppDelegate::saveFailed);
    connect(&keeper_, &StoreKeeper::saveRecovered, this, &QuivraAppDelegate::saveRecovered);
    connect(&keeper_, &StoreKeeper::storeNotice, this, &QuivraAppDelegate::storeNotice);
    // Qt ends the process with exit() when the display server goes away; what was recorded is
    // saved on that path too.
    static const bool registered = std::atexit(&QuivraAppDelegate::saveOnUnexpectedExit) == 0;
    (void)registered;
}

QuivraAppDelegate::~QuivraAppDelegate()
{
    // The screen goes before the window that shows it, both before the recorder, and all of them
    // before the store and the accelerometer, which outlive this.
    mainViewController_.reset();
    window_.reset();
    control_.reset();
    recorder_.reset();
    if (sharedDelegate == this) sharedDelegate = nullptr;
}

std::string QuivraAppDelegate::storePath() const
{
    return keeper_.context() ? keeper_.context()->path() : platform::storePath();
}

void QuivraAppDelegate::openStore()
{
    if (keeper_.context()) return;
    store::StoreError error;
    if (keeper_.open(platform::storePath(), error)) return;
    if (error.code == store::StoreError::lockedByAnotherProcess) {
        SingleWindow::refuse(QString::fromStdString(error.message));
        std::exit(1);
    }
    unresolved(error);
}

bool QuivraAppDelegate::applicationDidFinishLaunchingWithOptions()
{
    openStore();
    recorder_ = std::make_unique<Recorder>(keeper_.loadRoot(), accelerometer_);
    control_ = std::make_unique<ControlSocket>(*recorder_, storePath());
    if (std::string error; !control_->listen(error)) platform::log("quivra mark cannot reach this window: " + error);

    window_ = std::make_unique<QWidget>();
    window_->setWindowTitle("Quivra");
    window_->setMinimumSize(800, 600);
    window_->resize(1024, 768);
    window_->installEventFilter(this);
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    window_->show();

    mainViewController_ = std::make_unique<MainViewController>(*recorder_, keeper_);
    layout->addWidget(mainViewController_->view());
    return true;
}

bool QuivraAppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window_.get() && event->type() == QEvent::Close && !terminated_ && !mayClose()) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void QuivraAppDelegate::endOnSignal()
{
    if (sharedDelegate) sharedDelegate->signalled_ = true;
    // Not quit(): that closes the window first, and closing asks when saving fails. exit() ends
    // every event loop, a question's among them.
    QCoreApplication::exit(0);
}

bool QuivraAppDelegate::mayClose()
{
    while (!signalled_ && !saveNow()) {
        const qlonglong unsaved = keeper_.context()->unsavedSampleCount();
        QMessageBox box(QMessageBox::Warning, "Quivra cannot save",
                        QString("What was recorded cannot be saved: %1.\n\nQuitting now loses %2 samples. Free "
                                "some space (or fix the store's folder) and try again.")
                            .arg(QString::fromStdString(keeper_.lastSaveError()),
                                 QString::fromStdString(platform::groupedCount(unsaved))),
                        QMessageBox::NoButton, window_.get());
        QPushButton* retry = box.addButton("Retry", QMessageBox::AcceptRole);
        QPushButton* quit = box.addButton("Quit without saving", QMessageBox::DestructiveRole);
        QPushButton* stay = box.addButton("Keep Quivra open", QMessageBox::RejectRole);
        box.setDefaultButton(retry);
        box.setEscapeButton(stay);
        box.exec();
        if (signalled_) return true; // the final save goes on trying
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
    if (!recorder_) return;
    if (quitWithoutSaving_) {
        recorder_->endCapture();
        // A deletion's follow-up, at least, is not lost.
        keeper_.root().ensureActiveSession();
        platform::log("quit without saving: " + std::to_string(keeper_.context()->unsavedSampleCount())
                      + " samples lost");
        if (publishing_) publishing_->stop();
        return;
    }
    store::StoreError error;
    if (!shutDown(*recorder_, keeper_, publishing_, error)) unresolved(error);
}

void QuivraAppDelegate::saveOnUnexpectedExit()
{
    QuivraAppDelegate* delegate = sharedDelegate;
    if (!delegate || delegate->terminated_ || !delegate->keeper_.context()) return;
    delegate->terminated_ = true;
    store::ObjectContext* context = delegate->keeper_.context();
    // Capture cannot be joined here: what it took so far is stored.
    delegate->accelerometer_.deliverPending();
    if (!context->hasChanges()) return;
    platform::log("ending without the event loop (display gone?): saving what was recorded");
    store::StoreError error;
    if (!context->save(error))
        platform::log("save at exit failed: " + error.describe() + ", " + error.describeDetails());
}
