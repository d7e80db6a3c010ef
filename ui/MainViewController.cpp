// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/MainViewController.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QLabel>
#include <QToolButton>

#include "recording/BaseModel.h"
#include "ui/GMeter.h"
#include "ui/ReviewView.h"
#include "recording/Options.h"
#include "recording/Session.h"
#include "ui/TraceGeometry.h"
#include "platform/DateFormatter.h"
#include "platform/Log.h"
#include "platform/NumberText.h"
#include "recording/SessionText.h"
#include "ui_MainView.h"

namespace {

// A flag on a pole, white as the toolbar's other icons.
QIcon markerIcon()
{
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(20, 10), QPointF(20, 56));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xf5, 0x9e, 0x0b));
    painter.drawPolygon(QPolygonF({QPointF(22, 10), QPointF(50, 19), QPointF(22, 30)}));
    return QIcon(pixmap);
}

} // namespace

MainViewController::MainViewController(Recorder& recorder, StoreKeeper& keeper, QObject* parent)
    : QObject(parent), recorder_(recorder), keeper_(keeper), sessions_(recorder, keeper),
      analysis_(recorder, recorder.root(), keeper.context()->path()), summaries_(keeper)
{
    statusTimer_.setInterval(500);
    connect(&statusTimer_, &QTimer::timeout, this, &MainViewController::updateStatus);
    connect(&recorder_, &Recorder::stateChanged, this, &MainViewController::recordingStateChanged);
    connect(&recorder_, &Recorder::activeSessionChanged, this, &MainViewController::reloadTrace);
    // A session left for another is finished for now: its summary is brought up to date.
    lastActive_ = recorder_.root().options().activeSession().objectId();
    connect(&recorder_, &Recorder::activeSessionChanged, this, [this] {
        const store::ObjectId now = recorder_.root().options().activeSession().objectId();
        if (lastActive_ != now && keeper_.context()->session(lastActive_)) summaries_.refresh(lastActive_);
        lastActive_ = now;
    });
    connect(&recorder_, &Recorder::activeSessionChanged, this, [this] {
        if (!review_ || review_->isHidden()) return;
        review_->showSession(recorder_.root().options().activeSession().objectId(), false);
        showReviewMarkers();
    });
    connect(&keeper_, &StoreKeeper::saved, this, [this] {
        if (review_ && !review_->isHidden()) review_->refresh();
    });
    connect(&recorder_, &Recorder::markerAdded, this, &MainViewController::markerAdded);
    connect(&recorder_, &Recorder::markersChanged, this, &MainViewController::reloadTrace);
    connect(&recorder_, &Recorder::markersChanged, this, &MainViewController::showReviewMarkers);
    connect(&recorder_, &Recorder::tareTaken, this, [this] {
        // The needles jump to rest at a tare, whatever the buffer holds, until the next refresh.
        placeNeedles(std::nullopt);
        handOverBuffer();
    });
    connect(&recorder_, &Recorder::recordingFailed, this, &MainViewController::showWarning);
    connect(&recorder_, &Recorder::rateWarningChanged, this, &MainViewController::updateStatus);
    recorder_.addSampleListener([this](const store::SampleValues& v) { sampleStored(v); });
    connect(&analysis_, &AnalysisPanelController::message, this, &MainViewController::showMessage);
    connect(&analysis_, &AnalysisPanelController::fileWritten, this, &MainViewController::showFolderOf);
    // A report is offered to be opened itself, not its folder.
    connect(&analysis_, &AnalysisPanelController::reportWritten, this, [this](const QString& path) {
        showFolderOf(path);
        noticeFolder_ = path;
        ui_->openFolderButton->setToolTip("Open the report");
    });
    connect(&sessions_, &SessionActionsController::notice, this, &MainViewController::showMessage);
    connect(&sessions_, &SessionActionsController::noticeEnded, this, [this](const QString& text) {
        if (ui_ && ui_->warningLabel->toolTip() == text) showMessage({}, false);
    });
    connect(&sessions_, &SessionActionsController::fileWritten, this, &MainViewController::showFolderOf);
    connect(&sessions_, &SessionActionsController::undoOffered, this, [this](bool shown) {
        if (ui_) ui_->undoButton->setVisible(shown);
    });
    connect(&sessions_, &SessionActionsController::sessionRowsChanged, this, &MainViewController::reloadTrace);
    connect(&sessions_, &SessionActionsController::sessionRowsChanged, this,
            [this] { summaries_.refresh(recorder_.root().options().activeSession().objectId()); });
    connect(&analysis_, &AnalysisPanelController::analysedWhole, &summaries_, &SummaryKeeper::refresh);
    connect(&sessions_, &SessionActionsController::exported, this, &MainViewController::exported);
    connect(&sessions_, &SessionActionsController::exportFailed, this, &MainViewController::exportFailed);
    connect(&keeper_, &StoreKeeper::saveFailed, this,
            [this](const QString& message) { showWarning("Not saved yet (retrying): " + message); });
    connect(&keeper_, &StoreKeeper::saveRecovered, this, [this] { showWarning({}); });
    connect(&keeper_, &StoreKeeper::storeNotice, this, &MainViewController::showMessage);
}

MainViewController::~MainViewController()
{
    delete viewRefreshTimer_.data();
    delete view_.data();
}

GMeter* MainViewController::gMeterView() const
{
    return ui_ ? ui_->gMeterView : nullptr;
}
QLabel* MainViewController::needleX() const
{
    return ui_ ? ui_->needleX : nullptr;
}
QLabel* MainViewController::needleY() const
{
    return ui_ ? ui_->needleY : nullptr;
}
QLabel* MainViewController::needleZ() const
{
    return ui_ ? ui_->needleZ : nullptr;
}
QToolButton* MainViewController::startStopButton() const
{
    return ui_ ? ui_->startStopButton : nullptr;
}

QWidget* MainViewController::view()
{
    if (view_) return view_;
    view_ = new QWidget;
    ui_ = std::make_unique<Ui::MainView>();
    ui_->setupUi(view_);
    // Lay the screen out at its designed size first: the trace view's width bounds the buffer.
    view_->resize(1024, 768);
    view_->layout()->activate();
    placeNeedlesAtTheRightEdge();
    for (QLabel* needle : {ui_->needleX, ui_->needleY, ui_->needleZ}) needle->raise();
    ui_->gMeterView->installEventFilter(this);
    connectControls();
    const sensors::Accelerometer& accelerometer = recorder_.accelerometer();
    sourceText_ =
        QString::fromStdString(accelerometer.source() ? accelerometer.source()->description() : "no accelerometer");
    viewDidLoad();
    // A clear or delete still in the trash from the last run can be undone now.
    if (keeper_.context()->undoableRemoval()) sessions_.offerUndo();
    statusTimer_.start();
    return view_;
}

void MainViewController::connectControls()
{
    connect(ui_->startStopButton, &QToolButton::clicked, this, &MainViewController::startStopButtonPressed);
    connect(ui_->tareButton, &QToolButton::clicked, this, &MainViewController::tareButtonPressed);
    connect(ui_->newSessionButton, &QToolButton::clicked, this, &MainViewController::startNewSessionPressed);
    connect(ui_->clearSessionButton, &QToolButton::clicked, this, &MainViewController::deleteSessionPressed);
    connect(ui_->sessionsButton, &QToolButton::clicked, this, &MainViewController::loadSessionButtonPressed);
    connect(ui_->exportButton, &QToolButton::clicked, this, [this] { exportSession(); });
    offerExportFormats();
    connect(ui_->settingsButton, &QToolButton::clicked, this, &MainViewController::settingsButtonPressed);
    connect(ui_->undoButton, &QToolButton::clicked, this, &MainViewController::undoButtonPressed);
    connect(ui_->spectrumButton, &QToolButton::clicked, this, &MainViewController::spectrumButtonPressed);
    connect(ui_->reviewButton, &QToolButton::clicked, this, &MainViewController::reviewButtonPressed);
    connect(ui_->markerButton, &QToolButton::clicked, this, &MainViewController::markerButtonPressed);
    connect(ui_->trendButton, &QToolButton::clicked, this, &MainViewController::trendButtonPressed);
    ui_->markerButton->setIcon(markerIcon());
    connect(ui_->openFolderButton, &QToolButton::clicked, this,
            [this] { QDesktopServices::openUrl(QUrl::fromLocalFile(noticeFolder_)); });
    connect(ui_->closeNoticeButton, &QToolButton::clicked, this, [this] { showMessage({}, false); });
    ui_->undoButton->hide();
    ui_->openFolderButton->hide();
    ui_->noticePanel->hide();
}

void MainViewController::viewDidLoad()
{
    reloadTrace();
}

void MainViewController::reloadTrace()
{
    GMeter* meter = gMeterView();
    trace_.setWidth(meter ? float(meter->width()) : 0.0f);
    trace_.setRate(recorder_.runRate());
    // Only the rows that survive the trim are read: the newest ones.
    Session active = recorder_.root().options().activeSession();
    shownSession_ = active.objectId();
    const std::vector<store::SampleValues> newest = active.gData().newest(trace_.rowsWanted(active.gData().count()));
    trace_.rebuild(newest);
    showMarkers(active, newest);
    if (meter) {
        handOverBuffer();
        meter->setNeedsDisplay();
    }
    moveNeedles();
    updateStatus();
    // A new or cleared session starts its analysis afresh.
    analysis_.restart();
}

void MainViewController::showMarkers(const Session& session, const std::vector<store::SampleValues>& newest)
{
    GMeter* meter = gMeterView();
    if (!meter) return;
    const std::int64_t count = session.gData().count();
    const std::uint64_t perRow = std::uint64_t(trace_.readingsPerRow());
    std::vector<GMeter::Marker> shown;
    for (const store::MarkerRecord& m : session.markers()) {
        // Older than every sample read is off the trace, unless those are all there are.
        if (!newest.empty() && m.dateStamp < newest.front().dateStamp && std::int64_t(newest.size()) < count) continue;
        const auto after = std::count_if(newest.begin(), newest.end(),
                                         [&](const store::SampleValues& v) { return v.dateStamp >= m.dateStamp; });
        shown.push_back({std::uint64_t(count - after) / perRow, QString::fromStdString(m.text)});
    }
    meter->setMarkers(std::move(shown));
}

void MainViewController::markerAdded(store::ObjectId session, store::ObjectId marker)
{
    showReviewMarkers();
    GMeter* meter = gMeterView();
    const store::MarkerRecord* record = keeper_.context()->marker(marker);
    if (!meter || !record || session != recorder_.root().options().activeSession().objectId()) return;
    // Everything captured before it is stored: it falls after the newest row.
    std::vector<GMeter::Marker> markers = meter->markers();
    markers.push_back({std::uint64_t(recorder_.activeSampleCount()) / std::uint64_t(trace_.readingsPerRow()),
                       QString::fromStdString(record->text)});
    meter->setMarkers(std::move(markers));
    meter->setNeedsDisplay();
}

void MainViewController::markerButtonPressed()
{
    if (!recorder_.isRecording()) {
        showMessage("A marker is dropped while recording: press Record first.", false);
        return;
    }
    const std::string at = platform::formatDate(platform::Clock::now(), "HH:mm:ss");
    if (recorder_.addMarker("Marker " + at) != 0) saveSoon()();
}

void MainViewController::sampleStored(const store::SampleValues& sample)
{
    // A reading that arrived late for a session left before is stored there, not shown here.
    if (sample.session != shownSession_) {
        if (sample.session != recorder_.root().options().activeSession().objectId()) return;
        shownSession_ = sample.session;
    }
    trace_.append(sample.x, sample.y, sample.z);
    handOverBuffer();
}

const sensors::Accelerometer* MainViewController::gAccelerometer() const
{
    return recorder_.isRecording() ? &recorder_.accelerometer() : nullptr;
}

const sensors::Accelerometer* MainViewController::tareAccelerometer() const
{
    return recorder_.isTarePending() ? &recorder_.accelerometer() : nullptr;
}

void MainViewController::handOverBuffer()
{
    if (GMeter* meter = gMeterView()) {
        // The grid scrolls by the session's samples, in rows.
        const std::int64_t count = recorder_.activeSampleCount();
        meter->setGData(gDataViewArray(), std::uint64_t(count) / std::uint64_t(trace_.readingsPerRow()));
    }
}

void MainViewController::refreshView()
{
    if (GMeter* meter = gMeterView()) meter->setNeedsDisplay();
    moveNeedles();
}

void MainViewController::moveNeedles()
{
    std::optional<ViewRow> newest;
    const SharedViewBuffer& buffer = gDataViewArray();
    if (buffer && !buffer->empty()) newest = buffer->back();
    placeNeedles(newest);
}

void MainViewController::placeNeedles(const std::optional<ViewRow>& row)
{
    if (!ui_) return;
    const std::array<std::pair<QLabel*, trace::Axis>, 3> needles{
        {{ui_->needleX, trace::Axis::X}, {ui_->needleY, trace::Axis::Y}, {ui_->needleZ, trace::Axis::Z}}};
    for (const auto& [needle, axis] : needles) {
        std::optional<float> value;
        if (row) value = trace::valueOf(*row, axis);
        QRectF frame = trace::needleFrame(QRectF(needle->geometry()), axis, value);
        // A value far off the scale parks its needle just beyond the view's edge.
        const double lowest = -frame.height() - 8.0, highest = double(view_->height()) + 8.0;
        needle->move(needle->x(), int(std::lround(std::clamp(frame.y(), lowest, highest))));
    }
}

void MainViewController::placeNeedlesAtTheRightEdge()
{
    // The needles stand just right of the newest trace point, whatever the window's width.
    GMeter* meter = gMeterView();
    if (!meter) return;
    int x = meter->x() + meter->width() - int(trace::kNewestInset) + 8;
    for (QLabel* needle : {ui_->needleX, ui_->needleY, ui_->needleZ}) needle->move(x, needle->y());
}

bool MainViewController::eventFilter(QObject* watched, QEvent* event)
{
    if (ui_ && watched == ui_->gMeterView && (event->type() == QEvent::Resize || event->type() == QEvent::Move)) {
        placeNeedlesAtTheRightEdge();
        placeNotice();
        // The trace view's width bounds the view buffer.
        trace_.setWidth(float(ui_->gMeterView->width()));
    }
    return QObject::eventFilter(watched, event);
}

// ---- recording ----

void MainViewController::showRecordingState(const char* image, const char* text)
{
    QToolButton* button = startStopButton();
    if (!button) return;
    button->setIcon(QIcon(image));
    // A button's text carries its mnemonic: setting it drops the keyboard shortcut, so keep it.
    QKeySequence shortcut = button->shortcut();
    button->setText(text);
    button->setShortcut(shortcut);
}

void MainViewController::startStopButtonPressed()
{
    if (recorder_.isRecording())
        recorder_.stop();
    else
        recorder_.start();
}

void MainViewController::recordingStateChanged()
{
    if (recorder_.isRecording()) {
        trace_.setRate(recorder_.runRate());
        showRecordingState(":/images/pauseButtonIcon.png", "Pause");
        if (!viewRefreshTimer_) {
            auto* timer = new QTimer(this);
            timer->setTimerType(Qt::PreciseTimer);
            timer->setInterval(int(std::lround(refreshInterval * 1000.0)));
            connect(timer, &QTimer::timeout, this, &MainViewController::refreshView);
            timer->start();
            viewRefreshTimer_ = timer;
        }
    } else {
        showRecordingState(":/images/recButtonIcon.png", "Record");
        if (viewRefreshTimer_) {
            viewRefreshTimer_->stop();
            viewRefreshTimer_->deleteLater();
            viewRefreshTimer_ = nullptr;
        }
        // A stop is a safe point: what was recorded goes to disk now, and its summary after it.
        keeper_.saveContext();
        summaries_.refresh(recorder_.root().options().activeSession().objectId());
    }
    if (review_) review_->setRecording(recorder_.isRecording());
    updateStatus();
    analysis_.follow();
}

void MainViewController::tareButtonPressed()
{
    recorder_.requestTare();
}

void MainViewController::rateChanged()
{
    recorder_.applyFramerate();
    trace_.setRate(recorder_.runRate());
    analysis_.follow();
}

// ---- session actions ----

void MainViewController::startNewSessionPressed()
{
    sessions_.startNewSession();
}

void MainViewController::deleteSessionPressed()
{
    sessions_.clearActiveSession();
}

void MainViewController::undoButtonPressed()
{
    sessions_.undo();
}

void MainViewController::exportSession(SessionExport::Format format)
{
    sessions_.exportActiveSession(format);
}

// ---- the analysis panel ----

void MainViewController::spectrumButtonPressed()
{
    if (!ui_) return;
    analysis_.toggle(view(), ui_->traceRow);
    ui_->spectrumButton->setChecked(analysis_.isShown());
}
