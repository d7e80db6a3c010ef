// The main screen's session actions: a new session, clearing the active one, and its export.
#include <QLabel>

#include "BaseModel.h"
#include "GMeter.h"
#include "MainViewController.h"
#include "Options.h"
#include "QuivraAppDelegate.h"
#include "Session.h"
#include "platform/AscFile.h"
#include "platform/Folders.h"
#include "platform/Log.h"
#include "ui_MainView.h"

void MainViewController::installEmptyBuffer()
{
    setGDataViewArray(std::make_shared<ViewBuffer>());
    if (GMeter* meter = gMeterView()) meter->setGData(gDataViewArray_);
}

void MainViewController::startNewSessionPressed()
{
    if (!appDelegate_) return;
    BaseModel root = appDelegate_->baseModel();
    Session session = Session::init();
    session.setBaseModel(root);
    root.options().setActiveSession(session);
    installEmptyBuffer();
    if (GMeter* meter = gMeterView()) meter->setNeedsDisplay();
    moveNeedles();
    platform::log("new session");
    appDelegate_->saveContext();
    updateStatus();
}

void MainViewController::deleteSessionPressed()
{
    if (!appDelegate_) return;
    Session active = appDelegate_->baseModel().options().activeSession();
    // Every sample of the session goes, saved or not; the session stays, and stays active.
    if (active) appDelegate_->managedObjectContext()->clearSamples(active.objectId());
    installEmptyBuffer();
    refreshView();
    appDelegate_->saveContext();
    updateStatus();
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
    // Streamed line by line into a temporary file that replaces the target only when complete.
    platform::AscFile file(platform::documentsDirectory(), active.dateStamp());
    if (!file.open()) {
        fail(file.error());
        return;
    }
    store::StoreError readError;
    bool read = active.gData().forEach(
        [&file](const store::SampleValues& s) {
            file.addSample(s.dateStamp, s.x, s.y, s.z);
            return true;
        },
        &readError);
    if (!read) {
        fail("cannot read the session from the store: " + readError.describe());
        return;
    }
    if (!file.commit()) {
        fail(file.error());
        return;
    }
    showMessage(QString("Exported %1 samples to %2").arg(file.linesWritten()).arg(QString::fromStdString(file.path())),
                false);
    emit exported(QString::fromStdString(file.path()));
}
