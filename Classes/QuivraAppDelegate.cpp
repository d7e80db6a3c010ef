// SPDX-License-Identifier: GPL-3.0-or-later
#include "QuivraAppDelegate.h"

#include <QApplication>
#include <QCloseEvent>
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
#include "SingleWindow.h"
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

store::ObjectContext* ManagedObject::applicationContext()
{
    return sharedDelegate ? sharedDelegate->managedObjectContext() : nullptr;
}

QuivraAppDelegate::QuivraAppDelegate(QObject* parent) : QObject(parent)
{
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
    // The screen goes before the window that shows it, and both before the store.
    mainViewController_.reset();
    window_.reset();
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
    return platform::storePath();
}

store::ObjectContext* QuivraAppDelegate::managedObjectContext()
{
    if (keeper_.context()) return keeper_.context();
    store::StoreError error;
    if (!keeper_.open(storePath(), error)) {
        if (error.code == store::StoreError::lockedByAnotherProcess) {
            SingleWindow::refuse(QString::fromStdString(error.message));
            std::exit(1);
        }
        unresolved(error);
    }
    return keeper_.context();
}

bool QuivraAppDelegate::applicationDidFinishLaunchingWithOptions()
{
    managedObjectContext();
    keeper_.loadRoot();

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
    // Capture ends first, and everything it took reaches the recorder before the final save.
    accelerometer_.shutdown();
    store::ObjectContext* context = keeper_.context();
    if (!context) return;
    if (quitWithoutSaving_) {
        // A deletion's follow-up, at least, is not lost.
        keeper_.root().ensureActiveSession();
        platform::log("quit without saving: " + std::to_string(context->unsavedSampleCount()) + " samples lost");
        return;
    }
    store::StoreError error;
    if (!keeper_.finalSave(error)) unresolved(error);
}

void QuivraAppDelegate::saveOnUnexpectedExit()
{
    QuivraAppDelegate* delegate = sharedDelegate;
    if (!delegate || delegate->terminated_ || !delegate->keeper_.context()) return;
    delegate->terminated_ = true;
    store::ObjectContext* context = delegate->keeper_.context();
    delegate->accelerometer_.deliverPending();
    if (!context->hasChanges()) return;
    platform::log("ending without the event loop (display gone?): saving what was recorded");
    store::StoreError error;
    if (!context->save(error))
        platform::log("save at exit failed: " + error.describe() + ", " + error.describeDetails());
}
