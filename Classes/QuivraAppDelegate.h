#pragma once
// The application delegate: owns the store and its object context, the root of the stored data,
// the window and the main screen; starts the program and saves what it records.
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "BaseModel.h"
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
    // The event loop has ended: a pending session choice is completed, then the final save. A
    // failing save is tried again for up to finalSaveRetryTime, each try logged; only then does
    // the program end as a failed save must, saying how many samples are lost.
    void applicationWillTerminate();

    // The object context over the store, opened on first use. A store that cannot be opened
    // ends the process.
    store::ObjectContext* managedObjectContext();
    // The folder that holds the store.
    std::string applicationDirectory() const;
    std::string storePath() const;

    BaseModel baseModel() const { return baseModel_; }
    void setBaseModel(const BaseModel& baseModel) { baseModel_ = baseModel; }
    QWidget* window() const { return window_.get(); }
    MainViewController* mainViewController() const { return mainViewController_.get(); }

    // Starts saving when anything changed: at every safe point (recording stopped, a session
    // action) and soon after any change. The store's writer thread does the work, so the window
    // never waits for it; a failure is logged, shown and retried, and nothing is lost.
    void saveContext();
    // Saves and waits for it; true when everything is in the file.
    bool saveNow();
    // How long an unsaved change may wait before it is saved while the program runs.
    static constexpr int autosaveDelayMs = 1000;
    static constexpr int retryDelayMs = 2000;
    // The rates the program records at: a stored rate outside is brought inside at start-up.
    static constexpr int slowestFramerate = 5;
    static constexpr int fastestFramerate = 200;

    // How long the final save keeps trying, and what runs between two tries (a pause by default).
    std::chrono::milliseconds finalSaveRetryTime{30000};
    std::function<void()> betweenFinalSaveTries;

signals:
    void saved();
    void saveFailed(const QString& message);
    void saveRecovered();
    // Something the user should know about the store: it was written back, or could not be read.
    void storeNotice(const QString& message, bool warning);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void contextChanged();
    void saveFinished();
    void reportSave(bool ok, const store::StoreError& error);
    void repairAtStartup();
    // Closing the window with changes that cannot be saved asks what to do. False keeps it open.
    bool mayClose();
    static void saveOnUnexpectedExit();

    std::unique_ptr<store::ObjectContext> managedObjectContext_;
    BaseModel baseModel_;
    std::unique_ptr<QWidget> window_;
    std::unique_ptr<MainViewController> mainViewController_;
    QTimer autosaveTimer_;
    bool lastSaveFailed_ = false;
    bool saveAgain_ = false; // changes came while a save was under way
    std::string lastSaveError_;
    bool quitWithoutSaving_ = false;
    bool terminated_ = false;
};
