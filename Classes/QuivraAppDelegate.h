// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The application delegate: keeps the store (through a StoreKeeper) and the root of the stored
// data, owns the window and the main screen, starts the program and saves what it records.
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "BaseModel.h"
#include "StoreKeeper.h"
#include "platform/sensors/Accelerometer.h"
#include "platform/store/ObjectContext.h"

class MainViewController;

class QuivraAppDelegate : public QObject {
    Q_OBJECT
public:
    explicit QuivraAppDelegate(QObject* parent = nullptr);
    ~QuivraAppDelegate() override;

    // The one delegate of the process, or nullptr before it exists.
    static QuivraAppDelegate* shared();

    // Start-up: the store, the root ("load model" or "build new base model"), repairs of what a
    // damaged store may hold (a sample rate out of range, no active session), the window and the
    // main screen. Returns true.
    bool applicationDidFinishLaunchingWithOptions();
    // The event loop has ended: capture stops and what it took is handed over, a pending session
    // choice is completed, then the final save. A
    // failing save is tried again for up to finalSaveRetryTime, each try logged; only then does
    // the program end as a failed save must, saying how many samples are lost.
    void applicationWillTerminate();

    // A termination signal (SIGTERM, SIGINT, SIGHUP): nobody can be asked, so the event loop ends
    // at once, closing a question left open unanswered, and the final save keeps trying for
    // finalSaveRetryTime as applicationWillTerminate says.
    static void endOnSignal();

    // The object context over the store, opened on first use. A store that cannot be opened
    // ends the process.
    store::ObjectContext* managedObjectContext();
    // The folder that holds the store.
    std::string applicationDirectory() const;
    std::string storePath() const;

    BaseModel baseModel() const { return keeper_.root(); }
    // The accelerometer the window records from; its source is set before start-up.
    sensors::Accelerometer& accelerometer() { return accelerometer_; }
    QWidget* window() const { return window_.get(); }
    MainViewController* mainViewController() const { return mainViewController_.get(); }

    // Starts saving when anything changed (see StoreKeeper::saveContext).
    void saveContext() { keeper_.saveContext(); }
    // Saves and waits for it; true when everything is in the file.
    bool saveNow() { return keeper_.saveNow(); }

    // How long the final save keeps trying, and what runs between two tries (a pause by default).
    std::chrono::milliseconds& finalSaveRetryTime = keeper_.finalSaveRetryTime;
    std::function<void()>& betweenFinalSaveTries = keeper_.betweenFinalSaveTries;

signals:
    void saved();
    void saveFailed(const QString& message);
    void saveRecovered();
    // Something the user should know about the store: it was written back, or could not be read.
    void storeNotice(const QString& message, bool warning);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Closing the window with changes that cannot be saved asks what to do. False keeps it open.
    bool mayClose();
    static void saveOnUnexpectedExit();

    sensors::Accelerometer accelerometer_;
    StoreKeeper keeper_;
    std::unique_ptr<QWidget> window_;
    std::unique_ptr<MainViewController> mainViewController_;
    bool quitWithoutSaving_ = false;
    bool signalled_ = false;
    bool terminated_ = false;
};
