// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The application delegate of the window: given the accelerometer and the store keeper, its
// start-up opens the store, loads or builds the root, makes the recorder, and opens the window
// with the main screen; at the end it takes the one way out (see Shutdown). Closing the window
// with what cannot be saved asks first; a termination signal never asks.
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/sensors/Accelerometer.h"
#include "platform/store/ObjectContext.h"
#include "recording/BaseModel.h"
#include "recording/ControlSocket.h"
#include "recording/Recorder.h"
#include "recording/StoreKeeper.h"

class MainViewController;
class Publishing;

class QuivraAppDelegate : public QObject {
    Q_OBJECT
public:
    QuivraAppDelegate(sensors::Accelerometer& accelerometer, StoreKeeper& keeper, QObject* parent = nullptr);
    ~QuivraAppDelegate() override;

    // Start-up: the store, the root ("load model" or "build new base model"), repairs of what a
    // damaged store may hold (a sample rate out of range, no active session), the recorder, the
    // window and the main screen. A store another Quivra holds ends the process with status 1
    // and says so in a window; one that cannot be used ends it as a failed save does. Returns
    // true.
    bool applicationDidFinishLaunchingWithOptions();
    // The event loop has ended: capture stops and what it took is stored, a pending session
    // choice is completed, then the final save, which is tried again for up to
    // finalSaveRetryTime, each try logged; only then does the program end as a failed save must,
    // saying how many samples are lost. Publishing, when given, stops last.
    void applicationWillTerminate();
    void setPublishing(Publishing* publishing) { publishing_ = publishing; }

    // A termination signal (SIGTERM, SIGINT, SIGHUP): nobody can be asked, so the event loop ends
    // at once, closing a question left open unanswered, and the final save keeps trying for
    // finalSaveRetryTime as applicationWillTerminate says.
    static void endOnSignal();

    // The object context over the store, once start-up has opened it.
    store::ObjectContext* managedObjectContext() const { return keeper_.context(); }
    std::string storePath() const;

    BaseModel baseModel() const { return keeper_.root(); }
    sensors::Accelerometer& accelerometer() { return accelerometer_; }
    Recorder* recorder() const { return recorder_.get(); }
    QWidget* window() const { return window_.get(); }
    MainViewController* mainViewController() const { return mainViewController_.get(); }

    // Starts saving when anything changed (see StoreKeeper::saveContext).
    void saveContext() { keeper_.saveContext(); }
    // Saves and waits for it; true when everything is in the file.
    bool saveNow() { return keeper_.saveNow(); }

    // How long the final save keeps trying, and what runs between two tries (a pause by default).
    std::chrono::milliseconds& finalSaveRetryTime;
    std::function<void()>& betweenFinalSaveTries;

signals:
    void saved();
    void saveFailed(const QString& message);
    void saveRecovered();
    // Something the user should know about the store: it was written back, or could not be read.
    void storeNotice(const QString& message, bool warning);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void openStore();
    // Closing the window with changes that cannot be saved asks what to do. False keeps it open.
    bool mayClose();
    static void saveOnUnexpectedExit();

    sensors::Accelerometer& accelerometer_;
    StoreKeeper& keeper_;
    Publishing* publishing_ = nullptr;
    std::unique_ptr<Recorder> recorder_;
    std::unique_ptr<ControlSocket> control_; // quivra mark and describe reach the recorder here
    std::unique_ptr<QWidget> window_;
    std::unique_ptr<MainViewController> mainViewController_;
    bool quitWithoutSaving_ = false;
    bool signalled_ = false;
    bool terminated_ = false;
};
