// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/AnalysisPanelController.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QScreen>

#include <algorithm>

#include "recording/SessionText.h"
#include "recording/AnalysisExport.h"
#include "ui/AnalysisPanel.h"
#include "recording/Options.h"
#include "recording/Session.h"
#include "recording/SessionAnalysis.h"
#include "platform/DateFormatter.h"
#include "platform/Folders.h"
#include "platform/Log.h"
#include "platform/store/Summaries.h"
#include "ui/SpectrumPlot.h"

AnalysisPanelController::AnalysisPanelController(Recorder& recorder, BaseModel root, std::string storePath,
                                                 QObject* parent)
    : QObject(parent), recorder_(recorder), root_(root), storePath_(std::move(storePath))
{
    refresh_.setInterval(refreshMs);
    connect(&refresh_, &QTimer::timeout, this, &AnalysisPanelController::showLive);
}

AnalysisPanelController::~AnalysisPanelController()
{
    delete stored_.data(); // waits for its walk
    delete baseline_.data();
    stopLive();
}

bool AnalysisPanelController::isShown() const
{
    return panel_ && !panel_->isHidden();
}

void AnalysisPanelController::toggle(QWidget* screen, QBoxLayout* row)
{
    QWidget* window = screen->window();
    const bool show = !isShown();
    if (show && !panel_) {
        panel_ = new AnalysisPanel(screen);
        row->addWidget(panel_);
        std::vector<std::string> problems;
        panel_->setOptions(AnalysisOptions::fromStored(root_.managedObjectContext()->settings(), &problems));
        panel_->setValueUnit(review::unitFromStored(root_.managedObjectContext()->settings()));
        for (const std::string& problem : problems) platform::log("stored analysis setting ignored: " + problem);
        connect(panel_, &AnalysisPanel::optionsChanged, this, &AnalysisPanelController::optionsChanged);
        connect(panel_, &AnalysisPanel::exportRequested, this, &AnalysisPanelController::exportAnalysis);
        connect(panel_, &AnalysisPanel::reportRequested, this, &AnalysisPanelController::writeReport);
    }
    const int grow = panel_->sizeHint().width();
    if (window && !window->isMaximized() && !window->isFullScreen()) {
        const QRect available = window->screen() ? window->screen()->availableGeometry() : QRect();
        int width = show ? window->width() + grow : window->width() - panel_->width();
        if (show && available.isValid()) width = std::max(window->width(), std::min(width, available.width()));
        window->resize(width, window->height());
    }
    panel_->setVisible(show);
    follow();
}

void AnalysisPanelController::follow()
{
    if (!isShown()) {
        stopLive();
        delete stored_.data();
        return;
    }
    if (range_) {
        stopLive();
        analyseStored();
        return;
    }
    if (recorder_.isRecording()) {
        delete stored_.data();
        const double rate = recorder_.runRate();
        if (!live_ || live_->sampleRate() != rate) {
            stopLive();
            live_ = std::make_unique<analysis::LiveAnalyser>(panel_->options().settings, rate);
            liveListener_ = recorder_.addSampleListener([this](const store::SampleValues& v) {
                if (live_) live_->add(v.dateStamp, v.x, v.y, v.z);
            });
        }
        refresh_.start();
        showLive();
        return;
    }
    stopLive();
    analyseStored();
}

void AnalysisPanelController::restart()
{
    stopLive();
    follow();
}

void AnalysisPanelController::stopLive()
{
    refresh_.stop();
    if (liveListener_) recorder_.removeSampleListener(liveListener_);
    liveListener_ = 0;
    live_.reset();
}

void AnalysisPanelController::showLive()
{
    if (!live_ || !panel_) return;
    shown_ = live_->result();
    // What the ring holds, which is less than it can hold until it has filled.
    const double held = double(std::min<long long>(shown_.samples, live_->capacity())) / live_->sampleRate();
    source_ = QString("Live, the newest %1 s").arg(held, 0, 'f', held < 10 ? 1 : 0);
    panel_->showResult(shown_, source_);
}

void AnalysisPanelController::analyseStored()
{
    delete stored_.data();
    if (range_) return analyseStoredRange();
    Session active = root_.options().activeSession();
    if (!active) return;
    const AnalysisOptions options = panel_->options();
    SessionAnalysis::Request request{storePath_, root_.managedObjectContext()->snapshot(active.objectId()), options, 0};
    QString span = "all of it";
    if (options.spanSeconds > 0) {
        const auto newest = active.gData().newest(1);
        if (!newest.empty()) request.from = newest.back().dateStamp - platform::Micros(options.spanSeconds * 1e6);
        span = QString("its last %1 s").arg(options.spanSeconds);
    }
    const QString source =
        QString("Session %1, %2")
            .arg(QString::fromStdString(platform::formatDate(active.dateStamp(), "yyyy-MM-dd HH:mm:ss")), span);
    startStored(std::move(request), source);
    analyseBaseline(active.objectId(), options);
}

void AnalysisPanelController::analyseRange(store::ObjectId session, platform::Micros from, platform::Micros to)
{
    range_ = Range{session, from, to};
    follow();
}

void AnalysisPanelController::clearRange()
{
    if (!range_) return;
    range_.reset();
    follow();
}

void AnalysisPanelController::analyseStoredRange()
{
    SessionAnalysis::Request request{storePath_, root_.managedObjectContext()->snapshot(range_->session),
                                     panel_->options(), range_->from, range_->to};
    const QString source = QString("Session %1, %2 to %3")
                               .arg(range_->session)
                               .arg(QString::fromStdString(platform::formatDate(range_->from, "HH:mm:ss.SSS")),
                                    QString::fromStdString(platform::formatDate(range_->to, "HH:mm:ss.SSS")));
    startStored(std::move(request), source);
    analyseBaseline(range_->session, panel_->options());
}

void AnalysisPanelController::startStored(SessionAnalysis::Request request, const QString& source)
{
    panel_->showNothing("Analysing…", source);
    const store::ObjectId whole = request.from == 0 && request.to == 0 ? request.snapshot.session : 0;
    stored_ = new SessionAnalysis(std::move(request), this);
    connect(stored_, &SessionAnalysis::finished, this,
            [this, source, whole](bool ok, const analysis::Result& result, const QString& problem) {
                stored_->deleteLater();
                stored_ = nullptr;
                if (!ok) {
                    platform::log("analysis failed: " + problem.toStdString());
                    panel_->showNothing("Analysis failed: " + problem, source);
                    return;
                }
                shown_ = result;
                source_ = source;
                panel_->showResult(result, source);
                if (whole) emit analysedWhole(whole);
            });
    stored_->start();
}

void AnalysisPanelController::analyseBaseline(store::ObjectId session, const AnalysisOptions& options)
{
    delete baseline_.data();
    panel_->setBaseline(nullptr);
    store::ObjectContext* context = root_.managedObjectContext();
    const store::SessionIdentity* who = context->identity(session);
    if (!who || (who->machine.empty() && who->point.empty())) return;
    store::SessionReader reader;
    store::StoreError error;
    store::ObjectId baseline = 0;
    if (!reader.open(storePath_, error)
        || !store::readBaseline(reader.database(), reader.version(), who->machine, who->point, baseline, error)) {
        platform::log("baseline not read: " + error.describe());
        return;
    }
    if (baseline == 0 || baseline == session || !context->session(baseline)) return;
    AnalysisOptions whole = options;
    whole.spanSeconds = 0;
    baseline_ = new SessionAnalysis({storePath_, context->snapshot(baseline), whole, 0}, this);
    connect(baseline_, &SessionAnalysis::finished, this,
            [this](bool ok, const analysis::Result& result, const QString&) {
                baseline_->deleteLater();
                baseline_ = nullptr;
                if (ok && panel_) panel_->setBaseline(&result);
            });
    baseline_->start();
}

void AnalysisPanelController::optionsChanged()
{
    if (!panel_) return;
    // Kept beside the sample rate, so they survive a restart.
    store::ObjectContext* context = root_.managedObjectContext();
    for (const auto& [name, value] : panel_->options().toStored()) context->setSetting(name, value);
    // A live analysis keeps the settings it was made with: a new one starts with these.
    restart();
}

void AnalysisPanelController::exportAnalysis()
{
    Session active = root_.options().activeSession();
    if (!active || !panel_ || !shown_.hasSpectrum) {
        emit message("Export analysis: nothing analysed yet", true);
        return;
    }
    std::string folder, problem;
    if (!platform::prepareDocumentsDirectory(folder, problem)) {
        emit message("Export analysis failed: " + QString::fromStdString(problem), true);
        return;
    }
    const std::string path = folder + "/" + analysisFileName(active.exportFileName());
    std::string error;
    // The session named as the list names it: "Run 1: Pump 3 · DE bearing, the newest 10 s".
    const store::SessionIdentity identity = active.identity();
    std::string who = identity.name;
    if (const std::string place = placeText(identity); !place.empty()) who += (who.empty() ? "" : ": ") + place;
    const std::string what = who.empty() ? source_.toStdString() : who + ", " + source_.toStdString();
    if (!writeAnalysisCsv(path, what, panel_->options(), shown_, error)) {
        platform::log("analysis export failed: " + error);
        emit message("Export analysis failed: " + QString::fromStdString(error), true);
        return;
    }
    emit message("Analysis written to " + QString::fromStdString(path), false);
    emit fileWritten(QString::fromStdString(path));
}

void AnalysisPanelController::writeReport()
{
    Session active = root_.options().activeSession();
    if (!active || active.gData().count() < 2) {
        emit message("Report: the session has no samples yet", true);
        return;
    }
    if (report_) return; // one at a time
    std::string folder, problem;
    if (!platform::prepareDocumentsDirectory(folder, problem)) {
        emit message("Report failed: " + QString::fromStdString(problem), true);
        return;
    }
    const std::string name = active.exportFileName();
    const QString path = QString::fromStdString(folder + "/" + name.substr(0, name.rfind('.')) + "-report.pdf");
    auto* process = new QProcess(this);
    report_ = process;
    process->setProcessChannelMode(QProcess::SeparateChannels);
    connect(process, &QProcess::finished, this, [this, process, path](int status, QProcess::ExitStatus how) {
        process->deleteLater();
        const QString why = QString::fromUtf8(process->readAllStandardError()).trimmed().section('\n', -1);
        if (how != QProcess::NormalExit || status != 0) {
            platform::log("report failed: " + why.toStdString());
            emit message("Report failed: " + (why.isEmpty() ? QString("the program ended early") : why), true);
            return;
        }
        emit message("Report written to " + path, false);
        emit reportWritten(path);
    });
    const QString program = reportProgram_.isEmpty() ? QCoreApplication::applicationFilePath() : reportProgram_;
    process->start(program, {"report", QString::number(active.objectId()), "-o", path});
    emit message("Writing the report of the saved samples...", false);
}
