// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The controller of the main screen: it drives the recorder with the screen's actions and draws
// what the recorder reports (the trace view, the needles, the status line).
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "QuivraAppDelegate.h"
#include "AnalysisPanelController.h"
#include "Recorder.h"
#include "TraceBuffer.h"
#include "analysis/LiveAnalyser.h"
#include "ViewRow.h"
#include "platform/sensors/Accelerometer.h"

namespace Ui {
class MainView;
}
class AnalysisPanel;
class GMeter;
class SessionAnalysis;
class SessionExport;
class QLabel;
class QToolButton;

class MainViewController : public QObject {
    Q_OBJECT
public:
    explicit MainViewController(QObject* parent = nullptr);
    ~MainViewController() override;

    // Seconds between readings for a rate: 1/rate divided in single precision.
    static double updateIntervalForFramerate(float framerate) { return Recorder::updateIntervalForFramerate(framerate); }
    static constexpr double refreshInterval = double(0.05f);
    static constexpr double tareUpdateInterval = Recorder::tareUpdateInterval;

    // The screen, loaded from "MainView" on first use; loading it runs viewDidLoad.
    QWidget* view();

    // Rebuilds the view buffer from the active session's newest samples and shows it.
    void viewDidLoad();
    void refreshView();
    void moveNeedles();

    // Actions of the screen's controls.
    void startStopButtonPressed();
    void tareButtonPressed();
    void startNewSessionPressed();
    void deleteSessionPressed();
    void loadSessionButtonPressed();
    void exportSession();
    void settingsButtonPressed();
    // Undoes the latest clear or session delete while its notice shows (Ctrl+Z).
    void undoButtonPressed();
    // Shows or hides the analysis panel beside the traces (F): live while recording, else the
    // active session as stored.
    void spectrumButtonPressed();
    AnalysisPanel* analysisPanel() const { return analysis_ ? analysis_->panel() : nullptr; }
    // The analysis on show.
    const analysis::Result& shownAnalysis() const;
    // Writes it as CSV beside the session's export.
    void exportAnalysis();
    // How long a clear or a delete can be undone.
    int undoWindowMs = 12000;

    QuivraAppDelegate* appDelegate() const { return appDelegate_; }
    Recorder* recorder() const { return recorder_.get(); }
    const SharedViewBuffer& gDataViewArray() const;
    // Readings per row of the trace: 1 up to 200 a second, more above.
    int readingsPerRow() const { return trace_.readingsPerRow(); }
    void setGDataViewArray(SharedViewBuffer buffer);
    GMeter* gMeterView() const;
    QLabel* needleX() const;
    QLabel* needleY() const;
    QLabel* needleZ() const;
    QToolButton* startStopButton() const;
    // The accelerometer while recording, else none; and while a tare is pending.
    const sensors::Accelerometer* gAccelerometer() const;
    const sensors::Accelerometer* tareAccelerometer() const;
    QTimer* viewRefreshTimer() const { return viewRefreshTimer_; }

signals:
    void exported(const QString& path);
    void exportFailed(const QString& message);

private:
    void showRecordingState(const char* image, const char* text);
    // The recorder started or stopped (a tap, or a failed device).
    void recordingStateChanged();
    void sampleStored(const store::SampleValues& sample);
    void installEmptyBuffer();
    void handOverBuffer();
    void rateChanged();
    void placeNeedles(const std::optional<ViewRow>& row);
    void placeNeedlesAtTheRightEdge();
    void updateStatus();
    void showWarning(const QString& text);
    void showMessage(const QString& text, bool warning);
    // Offers to open the folder of a file the notice on show names.
    void showFolderOf(const QString& path);
    void placeNotice();
    static QString groupedCount(long long count);
    void showRemovalNotice();
    void showExportProgress();
    // The analysis follows what the screen shows: recording or not, the session, the settings.
    void analysisStateChanged();
    void endUndo();
    bool eventFilter(QObject* watched, QEvent* event) override;
    // What a popover calls to have its change saved soon.
    std::function<void()> saveSoon();

    std::unique_ptr<Ui::MainView> ui_;
    QPointer<QWidget> view_;
    QPointer<QuivraAppDelegate> appDelegate_;
    std::unique_ptr<Recorder> recorder_;
    TraceBuffer trace_;
    store::ObjectId shownSession_ = 0; // whose samples the trace shows
    QPointer<QTimer> viewRefreshTimer_; // not owned: lives while recording
    QTimer statusTimer_;
    QString sourceText_;
    QTimer undoTimer_;                  // how long the latest clear or delete stays undoable
    QString removalText_;               // its notice
    QString noticeFolder_;              // the folder the notice offers to open
    bool rebuildAfterSave_ = false;     // an undo's rows are back once the save is done
    QPointer<SessionExport> export_;    // the export under way, if any
    std::unique_ptr<AnalysisPanelController> analysis_;
    QElapsedTimer exportStarted_;
    QTimer exportProgress_;
};
