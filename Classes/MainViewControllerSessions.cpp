// SPDX-License-Identifier: GPL-3.0-or-later
// The main screen's session actions: a new session, clearing the active one, and its export.
#include <QLabel>
#include <QToolButton>

#include "BaseModel.h"
#include "GMeter.h"
#include "MainViewController.h"
#include "Options.h"
#include "QuivraAppDelegate.h"
#include "Recorder.h"
#include "Session.h"
#include "SessionExport.h"
#include "platform/AscFile.h"
#include "platform/DateFormatter.h"
#include "platform/Folders.h"
#include "platform/Log.h"
#include "ui_MainView.h"

void MainViewController::installEmptyBuffer()
{
    trace_.clear();
    handOverBuffer();
    // A new or cleared session starts its analysis afresh.
    if (analysis_) analysis_->restart();
}

void MainViewController::startNewSessionPressed()
{
    if (!appDelegate_ || !recorder_) return;
    // What was captured before the press goes to the session active before it.
    recorder_->startNewSession();
    installEmptyBuffer();
    if (GMeter* meter = gMeterView()) meter->setNeedsDisplay();
    moveNeedles();
    appDelegate_->saveContext();
    updateStatus();
}

void MainViewController::deleteSessionPressed()
{
    if (!appDelegate_ || !recorder_) return;
    // Every sample of the session goes, saved or not, and everything captured before the press
    // with them; the session stays, and stays active. The samples wait in the trash while the
    // clear can be undone.
    const bool had = recorder_->clearActiveSession();
    installEmptyBuffer();
    refreshView();
    appDelegate_->saveContext();
    if (had) showRemovalNotice();
    updateStatus();
}

void MainViewController::showRemovalNotice()
{
    const store::Removal* removal = appDelegate_ ? appDelegate_->managedObjectContext()->undoableRemoval() : nullptr;
    if (!removal || !ui_) return;
    const QString count = groupedCount(removal->sampleCount());
    QString text = removal->kind == store::Removal::Kind::clear
                       ? QString("Cleared %1 samples").arg(count)
                       : QString("Deleted session %1 (%2 samples)")
                             .arg(QString::fromStdString(platform::formatDate(removal->session.dateStamp, "yyyy-MM-dd HH:mm:ss")), count);
    showMessage(text, false);
    removalText_ = text;
    ui_->undoButton->show();
    undoTimer_.start(undoWindowMs);
}

void MainViewController::endUndo()
{
    undoTimer_.stop();
    if (ui_) ui_->undoButton->hide();
    if (!appDelegate_) return;
    // The trash is emptied: the removal is final now.
    appDelegate_->managedObjectContext()->forgetRemoval();
    appDelegate_->saveContext();
    if (ui_ && ui_->warningLabel->toolTip() == removalText_) showMessage({}, false);
}

void MainViewController::undoButtonPressed()
{
    if (!appDelegate_ || !appDelegate_->managedObjectContext()->undoableRemoval()) return;
    undoTimer_.stop();
    if (ui_) ui_->undoButton->hide();
    store::ObjectContext* context = appDelegate_->managedObjectContext();
    const qlonglong count = context->undoableRemoval()->sampleCount();
    if (!recorder_ || !recorder_->undoRemoval()) return;
    platform::log("undo: " + std::to_string(count) + " samples put back");
    // Rows that reached the trash come back with the save; the screen follows when it is done.
    rebuildAfterSave_ = true;
    viewDidLoad();
    appDelegate_->saveContext();
    showMessage(QString("Put back %1 samples").arg(groupedCount(count)), false);
}

void MainViewController::exportSession()
{
    Session active = appDelegate_ ? appDelegate_->baseModel().options().activeSession() : Session();
    auto fail = [this](const std::string& reason) {
        platform::log("export failed: " + reason);
        QString message = "Export failed: " + QString::fromStdString(reason);
        showWarning(message);
        emit exportFailed(message);
    };
    if (!active) {
        fail("no active session");
        return;
    }
    if (export_) {
        showWarning("An export is already running");
        return;
    }
    std::string folder, problem;
    if (!platform::prepareDocumentsDirectory(folder, problem)) {
        fail(problem);
        return;
    }
    // Everything captured before the tap belongs in the file, and nothing after it.
    if (recorder_) recorder_->handOver();
    store::ObjectContext* context = appDelegate_->managedObjectContext();
    export_ = new SessionExport({appDelegate_->storePath(), folder, active.exportFileName(),
                                 context->snapshot(active.objectId())},
                                this);
    exportStarted_.start();
    connect(export_, &SessionExport::finished, this, [this, fail](bool ok, const QString& message, qint64 lines) {
        exportProgress_.stop();
        export_->deleteLater();
        export_ = nullptr;
        if (!ok) {
            fail(message.toStdString());
            return;
        }
        showMessage(QString("Exported %1 samples to %2").arg(groupedCount(lines), message), false);
        showFolderOf(message);
        emit exported(message);
    });
    export_->start();
    exportProgress_.start();
}

void MainViewController::showExportProgress()
{
    // A short export says nothing until it is done; a long one says how far it got.
    if (!export_ || exportStarted_.elapsed() < 300) return;
    const qint64 expected = std::max<qint64>(1, export_->expected());
    const int percent = int(std::min<qint64>(100, 100 * export_->written() / expected));
    showMessage(QString("Exporting %1 … %2 %").arg(QString::fromStdString(export_->path()).section('/', -1)).arg(percent),
                false);
}
