// SPDX-License-Identifier: GPL-3.0-or-later
// The main screen's analysis panel: a live analysis of the readings while recording, refreshed
// five times a second, and otherwise the stored active session analysed on a thread of its own.
#include <QBoxLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QToolButton>

#include "AnalysisExport.h"
#include "AnalysisPanel.h"
#include "BaseModel.h"
#include "GMeter.h"
#include "MainViewController.h"
#include "Options.h"
#include "Session.h"
#include "SessionAnalysis.h"
#include "platform/DateFormatter.h"
#include "platform/Folders.h"
#include "platform/Log.h"
#include "ui_MainView.h"

void MainViewController::spectrumButtonPressed()
{
    if (!ui_ || !appDelegate_) return;
    QWidget* window = view()->window();
    const bool show = !analysisPanel_ || analysisPanel_->isHidden();
    if (show && !analysisPanel_) {
        analysisPanel_ = new AnalysisPanel(view());
        ui_->traceRow->addWidget(analysisPanel_);
        store::ObjectContext* context = appDelegate_->managedObjectContext();
        std::vector<std::string> problems;
        analysisPanel_->setOptions(AnalysisOptions::fromStored(context->settings(), &problems));
        for (const std::string& problem : problems) platform::log("stored analysis setting ignored: " + problem);
        connect(analysisPanel_, &AnalysisPanel::optionsChanged, this, &MainViewController::analysisOptionsChanged);
        connect(analysisPanel_, &AnalysisPanel::exportRequested, this, &MainViewController::exportAnalysis);
        analysisTimer_.setInterval(analysisRefreshMs);
        connect(&analysisTimer_, &QTimer::timeout, this, &MainViewController::showLiveAnalysis);
    }
    // The traces keep their width: the window grows by the panel, as far as the screen allows.
    const int grow = analysisPanel_->sizeHint().width();
    if (window && !window->isMaximized() && !window->isFullScreen()) {
        const QRect screen = window->screen() ? window->screen()->availableGeometry() : QRect();
        int width = show ? window->width() + grow : window->width() - analysisPanel_->width();
        if (show && screen.isValid()) width = std::max(window->width(), std::min(width, screen.width()));
        window->resize(width, window->height());
    }
    analysisPanel_->setVisible(show);
    ui_->spectrumButton->setChecked(show);
    analysisStateChanged();
}

void MainViewController::analysisStateChanged()
{
    const bool shown = analysisPanel_ && !analysisPanel_->isHidden();
    if (!shown || !recorder_) {
        stopLiveAnalysis();
        delete sessionAnalysis_.data();
        return;
    }
    if (recorder_->isRecording()) {
        delete sessionAnalysis_.data();
        const double rate = recorder_->runRate();
        if (!live_ || live_->sampleRate() != rate) {
            stopLiveAnalysis();
            live_ = std::make_unique<analysis::LiveAnalyser>(analysisPanel_->options().settings, rate);
            liveListener_ = recorder_->addSampleListener([this](const store::SampleValues& v) {
                if (live_) live_->add(v.dateStamp, v.x, v.y, v.z);
            });
        }
        analysisTimer_.start();
        showLiveAnalysis();
        return;
    }
    stopLiveAnalysis();
    analyseStoredSession();
}

void MainViewController::stopLiveAnalysis()
{
    analysisTimer_.stop();
    if (liveListener_ && recorder_) recorder_->removeSampleListener(liveListener_);
    liveListener_ = 0;
    live_.reset();
}

void MainViewController::showLiveAnalysis()
{
    if (!live_ || !analysisPanel_) return;
    shownAnalysis_ = live_->result();
    // What the ring holds, which is less than it can hold until it has filled.
    const double held = double(std::min<long long>(shownAnalysis_.samples, live_->capacity())) / live_->sampleRate();
    shownSource_ = QString("Live, the newest %1 s").arg(held, 0, 'f', held < 10 ? 1 : 0);
    analysisPanel_->showResult(shownAnalysis_, shownSource_);
}

void MainViewController::analyseStoredSession()
{
    delete sessionAnalysis_.data();
    Session active = appDelegate_->baseModel().options().activeSession();
    if (!active) return;
    store::ObjectContext* context = appDelegate_->managedObjectContext();
    const AnalysisOptions options = analysisPanel_->options();
    SessionAnalysis::Request request{appDelegate_->storePath(), context->snapshot(active.objectId()), options, 0};
    QString span = "all of it";
    if (options.spanSeconds > 0) {
        const auto newest = active.gData().newest(1);
        if (!newest.empty()) request.from = newest.back().dateStamp - platform::Micros(options.spanSeconds * 1e6);
        span = QString("its last %1 s").arg(options.spanSeconds);
    }
    const QString source = QString("Session %1, %2")
                               .arg(QString::fromStdString(platform::formatDate(active.dateStamp(), "yyyy-MM-dd HH:mm:ss")), span);
    analysisPanel_->showNothing("Analysing…", source);
    sessionAnalysis_ = new SessionAnalysis(std::move(request), this);
    connect(sessionAnalysis_, &SessionAnalysis::finished, this,
            [this, source](bool ok, const analysis::Result& result, const QString& message) {
                sessionAnalysis_->deleteLater();
                sessionAnalysis_ = nullptr;
                if (!ok) {
                    platform::log("analysis failed: " + message.toStdString());
                    analysisPanel_->showNothing("Analysis failed: " + message, source);
                    return;
                }
                shownAnalysis_ = result;
                shownSource_ = source;
                analysisPanel_->showResult(result, source);
            });
    sessionAnalysis_->start();
}

void MainViewController::analysisOptionsChanged()
{
    if (!analysisPanel_ || !appDelegate_) return;
    // Kept beside the sample rate, so they survive a restart.
    store::ObjectContext* context = appDelegate_->managedObjectContext();
    for (const auto& [name, value] : analysisPanel_->options().toStored()) context->setSetting(name, value);
    // A live analysis keeps the settings it was made with: a new one starts with these.
    stopLiveAnalysis();
    analysisStateChanged();
}

void MainViewController::exportAnalysis()
{
    Session active = appDelegate_ ? appDelegate_->baseModel().options().activeSession() : Session();
    if (!active || !analysisPanel_ || !shownAnalysis_.hasSpectrum) {
        showWarning("Export analysis: nothing analysed yet");
        return;
    }
    std::string folder, problem;
    if (!platform::prepareDocumentsDirectory(folder, problem)) {
        showWarning("Export analysis failed: " + QString::fromStdString(problem));
        return;
    }
    const std::string path = folder + "/" + analysisFileName(active.exportFileName());
    std::string error;
    if (!writeAnalysisCsv(path, shownSource_.toStdString(), analysisPanel_->options(), shownAnalysis_, error)) {
        platform::log("analysis export failed: " + error);
        showWarning("Export analysis failed: " + QString::fromStdString(error));
        return;
    }
    showMessage("Analysis written to " + QString::fromStdString(path), false);
    showFolderOf(QString::fromStdString(path));
}

AnalysisPanel* MainViewController::analysisPanel() const
{
    return analysisPanel_;
}
