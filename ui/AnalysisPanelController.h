// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The analysis panel beside the traces: a live analysis of the readings while recording, shown
// five times a second, and otherwise the stored active session analysed on a thread of its own;
// its settings kept in the store, and what it shows written out as CSV.
#include <QBoxLayout>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <optional>
#include <string>

#include "ui/AnalysisPanel.h"
#include "recording/BaseModel.h"
#include "recording/Recorder.h"
#include "analysis/LiveAnalyser.h"
#include "analysis/Result.h"
#include "recording/SessionAnalysis.h"

class QProcess;

class AnalysisPanelController : public QObject {
    Q_OBJECT
public:
    AnalysisPanelController(Recorder& recorder, BaseModel root, std::string storePath, QObject* parent = nullptr);
    ~AnalysisPanelController() override;

    // Shows the panel in `row` of `screen` (made on first use), or hides it. The traces keep
    // their width: the window grows by the panel, as far as the screen allows.
    void toggle(QWidget* screen, QBoxLayout* row);
    bool isShown() const;
    AnalysisPanel* panel() const { return panel_.data(); }
    // The analysis on show, and what it is of.
    const analysis::Result& shownAnalysis() const { return shown_; }

    // Follows what the screen shows: recording or not, the session, the settings.
    void follow();
    // A new or cleared session: the live analysis starts afresh.
    void restart();
    // Analyses exactly a stretch of a stored session (chosen in review) until clearRange().
    void analyseRange(store::ObjectId session, platform::Micros from, platform::Micros to);
    void clearRange();
    // Writes what is on show as CSV beside the session's export.
    void exportAnalysis();
    // Writes a PDF report of the session's saved samples beside its export, with `quivra report`
    // in a process of its own, so that the figures are the command line's and the window goes on.
    void writeReport();
    // The program that writes reports: this one, unless a test says otherwise.
    void setReportProgram(const QString& program) { reportProgram_ = program; }

    // How often the live analysis is shown while recording.
    static constexpr int refreshMs = 200;

signals:
    void message(const QString& text, bool warning);
    void fileWritten(const QString& path);
    void reportWritten(const QString& path);
    // A stored session was analysed whole, as its summary is made.
    void analysedWhole(store::ObjectId session);

private:
    void showLive();
    void analyseStored();
    void analyseStoredRange();
    void startStored(SessionAnalysis::Request request, const QString& source);
    // The baseline of the active session's machine and point, analysed with the same settings
    // and shown dashed beneath its spectrum.
    void analyseBaseline(store::ObjectId session, const AnalysisOptions& options);
    void optionsChanged();
    void stopLive();

    Recorder& recorder_;
    BaseModel root_;
    const std::string storePath_;
    QPointer<AnalysisPanel> panel_;
    std::unique_ptr<analysis::LiveAnalyser> live_;
    int liveListener_ = 0;
    QTimer refresh_;
    QPointer<SessionAnalysis> stored_;
    QPointer<SessionAnalysis> baseline_;
    analysis::Result shown_;
    QString source_;
    struct Range {
        store::ObjectId session = 0;
        platform::Micros from = 0, to = 0;
    };
    std::optional<Range> range_;
    QString reportProgram_;
    QPointer<QProcess> report_;
};
