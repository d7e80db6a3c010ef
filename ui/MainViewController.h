// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The controller of the main screen: it drives the recorder with the screen's controls and draws
// what the recorder reports (the traces, the needles, the status line, the notices). Its session
// actions and its analysis panel have controllers of their own.
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "recording/Recorder.h"
#include "recording/StoreKeeper.h"
#include "recording/SummaryKeeper.h"
#include "ui/AnalysisPanelController.h"
#include "ui/SessionActionsController.h"
#include "ui/TraceBuffer.h"
#include "ui/ReviewScale.h"
#include "ui/ViewRow.h"

namespace Ui {
class MainView;
}
class GMeter;
class ReviewView;
class TrendView;
class QLabel;
class QToolButton;

class MainViewController : public QObject {
    Q_OBJECT
public:
    MainViewController(Recorder& recorder, StoreKeeper& keeper, QObject* parent = nullptr);
    ~MainViewController() override;

    // Seconds between readings for a rate: 1/rate divided in single precision.
    static double updateIntervalForFramerate(float framerate)
    {
        return Recorder::updateIntervalForFramerate(framerate);
    }
    static constexpr double refreshInterval = double(0.05f);
    static constexpr double tareUpdateInterval = Recorder::tareUpdateInterval;

    // The screen, loaded from "MainView" on first use; loading it runs viewDidLoad.
    QWidget* view();

    // The screen was loaded: the traces show the active session's newest samples.
    void viewDidLoad();
    // The view buffer rebuilt from the active session's newest stored samples, and shown.
    void reloadTrace();
    void refreshView();
    void moveNeedles();

    // Actions of the screen's controls.
    void startStopButtonPressed();
    void tareButtonPressed();
    void startNewSessionPressed();
    void deleteSessionPressed();
    void loadSessionButtonPressed();
    void exportSession(SessionExport::Format format = SessionExport::Format::asc);
    void settingsButtonPressed();
    // Drops a marker in the active session at this moment while recording (M); its text names
    // the time, and may be changed afterwards.
    void markerButtonPressed();
    // Undoes the latest clear or session delete while its notice shows (Ctrl+Z).
    void undoButtonPressed();
    // Shows or hides the analysis panel beside the traces (F): live while recording, else the
    // active session as stored.
    void spectrumButtonPressed();
    // Shows the review of the active session in the place of the live traces, or the live traces
    // again (R, Escape in review). While review shows, a session chosen in the list is reviewed.
    void reviewButtonPressed();
    // The review, while it shows; else none.
    ReviewView* reviewView() const;
    // Opens the trend of the active session's machine and point over all its sessions (Shift+T);
    // a point tapped there makes its session the active one.
    void trendButtonPressed();
    // The trend, while it is open; else none.
    TrendView* trendView() const;
    SummaryKeeper& summaries() { return summaries_; }
    // The program the analysis panel's Report… runs (this one unless a test says otherwise).
    void setReportProgram(const QString& program) { analysis_.setReportProgram(program); }
    // The analysis on show.
    const analysis::Result& shownAnalysis() const { return analysis_.shownAnalysis(); }
    // Writes it as CSV beside the session's export.
    void exportAnalysis() { analysis_.exportAnalysis(); }
    SessionActionsController& sessionActions() { return sessions_; }

    Recorder* recorder() const { return &recorder_; }
    const SharedViewBuffer& gDataViewArray() const { return trace_.rows(); }
    void setGDataViewArray(SharedViewBuffer buffer) { trace_.setRows(std::move(buffer)); }
    // Readings per row of the trace: 1 up to 200 a second, more above.
    int readingsPerRow() const { return trace_.readingsPerRow(); }
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
    void connectControls();
    void showRecordingState(const char* image, const char* text);
    // The recorder started or stopped (a tap, the duration, or a failed device).
    void recordingStateChanged();
    void sampleStored(const store::SampleValues& sample);
    void handOverBuffer();
    void rateChanged();
    // The shown session's markers on the traces, placed by the newest samples the trace shows.
    void showMarkers(const Session& session, const std::vector<store::SampleValues>& newest);
    void markerAdded(store::ObjectId session, store::ObjectId marker);
    void placeNeedles(const std::optional<ViewRow>& row);
    void placeNeedlesAtTheRightEdge();
    void updateStatus();
    void showWarning(const QString& text);
    void showMessage(const QString& text, bool warning);
    // Offers to open the folder of a file the notice on show names.
    void showFolderOf(const QString& path);
    void placeNotice();
    void showReview(bool shown);
    // Review and the analysis panel show values in this unit.
    void showUnit(review::ValueUnit unit);
    void offerExportFormats();
    // The reviewed session's markers to the review, as they are now.
    void showReviewMarkers();
    bool eventFilter(QObject* watched, QEvent* event) override;
    // What a popover calls to have its change saved soon.
    std::function<void()> saveSoon();

    Recorder& recorder_;
    StoreKeeper& keeper_;
    std::unique_ptr<Ui::MainView> ui_;
    QPointer<QWidget> view_;
    TraceBuffer trace_;
    store::ObjectId shownSession_ = 0;  // whose samples the trace shows
    QPointer<QTimer> viewRefreshTimer_; // not owned: lives while recording
    QTimer statusTimer_;
    QString sourceText_;
    QString noticeFolder_; // the folder the notice offers to open
    SessionActionsController sessions_;
    AnalysisPanelController analysis_;
    SummaryKeeper summaries_;
    store::ObjectId lastActive_ = 0; // whose summary is brought up to date when another is chosen
    QPointer<ReviewView> review_;
    QPointer<TrendView> trend_;
};
