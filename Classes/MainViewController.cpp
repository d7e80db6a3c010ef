#include "MainViewController.h"

#include <QEvent>

#include <algorithm>
#include <cmath>
#include <QIcon>
#include <QLabel>
#include <QLocale>
#include <QToolButton>

#include "BaseModel.h"
#include "GData.h"
#include "GMeter.h"
#include "Options.h"
#include "QuivraAppDelegate.h"
#include "Session.h"
#include "TraceGeometry.h"
#include "platform/DateFormatter.h"
#include "platform/Log.h"
#include "ui_MainView.h"

MainViewController::MainViewController(QObject* parent) : QObject(parent)
{
    statusTimer_.setInterval(500);
    connect(&statusTimer_, &QTimer::timeout, this, &MainViewController::updateStatus);
}

MainViewController::~MainViewController()
{
    sensors::Accelerometer* shared = sensors::Accelerometer::sharedAccelerometer();
    if (shared->delegate() == this) shared->setDelegate(nullptr);
    delete viewRefreshTimer_.data();
    delete view_.data();
}

GMeter* MainViewController::gMeterView() const { return ui_ ? ui_->gMeterView : nullptr; }
QLabel* MainViewController::needleX() const { return ui_ ? ui_->needleX : nullptr; }
QLabel* MainViewController::needleY() const { return ui_ ? ui_->needleY : nullptr; }
QLabel* MainViewController::needleZ() const { return ui_ ? ui_->needleZ : nullptr; }
QToolButton* MainViewController::startStopButton() const { return ui_ ? ui_->startStopButton : nullptr; }

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

    connect(ui_->startStopButton, &QToolButton::clicked, this, &MainViewController::startStopButtonPressed);
    connect(ui_->tareButton, &QToolButton::clicked, this, &MainViewController::tareButtonPressed);
    connect(ui_->newSessionButton, &QToolButton::clicked, this, &MainViewController::startNewSessionPressed);
    connect(ui_->clearSessionButton, &QToolButton::clicked, this, &MainViewController::deleteSessionPressed);
    connect(ui_->sessionsButton, &QToolButton::clicked, this, &MainViewController::loadSessionButtonPressed);
    connect(ui_->exportButton, &QToolButton::clicked, this, &MainViewController::exportSession);
    connect(ui_->settingsButton, &QToolButton::clicked, this, &MainViewController::settingsButtonPressed);
    connect(ui_->undoButton, &QToolButton::clicked, this, &MainViewController::undoButtonPressed);
    ui_->undoButton->hide();
    undoTimer_.setSingleShot(true);
    connect(&undoTimer_, &QTimer::timeout, this, &MainViewController::endUndo);

    sensors::Accelerometer* shared = sensors::Accelerometer::sharedAccelerometer();
    connect(shared, &sensors::Accelerometer::sourceFailed, this,
            [this](const QString& message) { showWarning("Accelerometer failed: " + message); });
    sourceText_ = QString::fromStdString(shared->source() ? shared->source()->description() : "no accelerometer");

    viewDidLoad();
    if (appDelegate_) {
        connect(appDelegate_, &QuivraAppDelegate::saveFailed, this,
                [this](const QString& message) { showWarning("Not saved yet (retrying): " + message); });
        connect(appDelegate_, &QuivraAppDelegate::saveRecovered, this, [this] { showWarning({}); });
        connect(appDelegate_, &QuivraAppDelegate::storeNotice, this, &MainViewController::showMessage);
        // A clear or delete still in the trash from the last run can be undone now.
        if (appDelegate_->managedObjectContext()->undoableRemoval()) showRemovalNotice();
    }
    updateStatus();
    statusTimer_.start();
    return view_;
}

void MainViewController::viewDidLoad()
{
    appDelegate_ = QuivraAppDelegate::shared();
    Session active = appDelegate_ ? appDelegate_->baseModel().options().activeSession() : Session();
    GMeter* meter = gMeterView();
    if (meter) {
        meter->setSampleCountSource([this]() -> std::uint64_t {
            if (!appDelegate_) return 0;
            return std::uint64_t(appDelegate_->baseModel().options().activeSession().gData().count());
        });
    }
    // Only the rows that survive the trim are read: the newest ones.
    float width = meter ? float(meter->width()) : 0.0f;
    std::size_t count = std::size_t(active.gData().count());
    std::size_t kept = trace::rowsKeptByRebuild(count, width);
    auto buffer = std::make_shared<ViewBuffer>();
    for (const store::SampleValues& s : active.gData().newest(kept))
        buffer->push_back(ViewRow{s.x, s.y, s.z});
    setGDataViewArray(buffer);
    if (meter) {
        meter->setGData(gDataViewArray_);
        meter->setNeedsDisplay();
    }
    moveNeedles();
    updateStatus();
}

void MainViewController::refreshView()
{
    if (GMeter* meter = gMeterView()) meter->setNeedsDisplay();
    moveNeedles();
}

void MainViewController::moveNeedles()
{
    std::optional<ViewRow> newest;
    if (gDataViewArray_ && !gDataViewArray_->empty()) newest = gDataViewArray_->back();
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
    if (ui_ && watched == ui_->gMeterView && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        placeNeedlesAtTheRightEdge();
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
    sensors::Accelerometer* shared = sensors::Accelerometer::sharedAccelerometer();
    if (!gAccelerometer_) {
        showRecordingState(":/images/pauseButtonIcon.png", "Pause");
        gAccelerometer_ = shared;
        gAccelerometer_->setDelegate(this);
        float framerate = appDelegate_ ? float(appDelegate_->baseModel().options().framerate()) : 30.0f;
        gAccelerometer_->setUpdateInterval(updateIntervalForFramerate(framerate));
        auto* timer = new QTimer(this);
        timer->setTimerType(Qt::PreciseTimer);
        timer->setInterval(int(std::lround(refreshInterval * 1000.0)));
        connect(timer, &QTimer::timeout, this, &MainViewController::refreshView);
        timer->start();
        viewRefreshTimer_ = timer;
    } else {
        showRecordingState(":/images/recButtonIcon.png", "Record");
        gAccelerometer_->setDelegate(nullptr);
        gAccelerometer_ = nullptr;
        if (viewRefreshTimer_) {
            viewRefreshTimer_->stop();
            viewRefreshTimer_->deleteLater();
            viewRefreshTimer_ = nullptr;
        }
        // A stop is a safe point: what was recorded goes to disk now.
        if (appDelegate_) appDelegate_->saveContext();
    }
    updateStatus();
}

void MainViewController::tareButtonPressed()
{
    tareAccelerometer_ = sensors::Accelerometer::sharedAccelerometer();
    tareAccelerometer_->setDelegate(this);
    tareAccelerometer_->setUpdateInterval(tareUpdateInterval);
}

void MainViewController::accelerometerDidAccelerate(sensors::Accelerometer* accelerometer,
                                                    const sensors::Acceleration& acceleration)
{
    if (accelerometer != nullptr && accelerometer == tareAccelerometer_) takeTare(acceleration);
    else recordSample(acceleration);
    if (GMeter* meter = gMeterView()) meter->setGData(gDataViewArray_);
}

void MainViewController::takeTare(const sensors::Acceleration& a)
{
    platform::log("tare");
    if (appDelegate_) {
        Options options = appDelegate_->baseModel().options();
        options.setTareX(float(a.x));
        options.setTareY(float(a.y));
        options.setTareZ(float(a.z));
    }
    tareAccelerometer_->setDelegate(nullptr);
    tareAccelerometer_ = nullptr;
    placeNeedles(std::nullopt); // at rest, whatever the buffer holds
    if (gAccelerometer_) {
        platform::log("tare during sampling");
        gAccelerometer_ = sensors::Accelerometer::sharedAccelerometer();
        gAccelerometer_->setDelegate(this);
        float framerate = appDelegate_ ? float(appDelegate_->baseModel().options().framerate()) : 30.0f;
        gAccelerometer_->setUpdateInterval(updateIntervalForFramerate(framerate));
    }
}

void MainViewController::recordSample(const sensors::Acceleration& a)
{
    if (!appDelegate_) return;
    BaseModel root = appDelegate_->baseModel();
    Options options = root.options();
    // The tare is read again for every axis of every reading, so a new tare applies at once.
    const double dx = a.x - double(options.tareX());
    const double dy = a.y - double(options.tareY());
    const double dz = a.z - double(options.tareZ());
    // A difference beyond float range has no single-precision value to store.
    if (!sensors::Accelerometer::isUsable({dx, dy, dz})) {
        if (droppedReadings_++ == 0) platform::log("a reading less the tare is out of range: dropped, further ones are counted");
        return;
    }
    const float x = float(dx), y = float(dy), z = float(dz);
    // A reading never goes into no session: when the active one was just deleted, the session
    // that the deletion's follow-up will choose is chosen now and takes it.
    Session active = options.activeSession();
    if (!active) active = root.ensureActiveSession();
    GData sample = GData::init();
    sample.setXValue(x);
    sample.setYValue(y);
    sample.setZValue(z);
    sample.setDateStamp(platform::Clock::now());
    sample.setCurrentSession(active);

    if (!gDataViewArray_) gDataViewArray_ = std::make_shared<ViewBuffer>();
    gDataViewArray_->push_back(ViewRow{x, y, z});
    GMeter* meter = gMeterView();
    if (trace::trimsOldestRow(gDataViewArray_->size(), meter ? float(meter->width()) : 0.0f))
        gDataViewArray_->pop_front();
}

// ---- the line at the top right: source, session, warnings ----

void MainViewController::updateStatus()
{
    if (!ui_) return;
    Session active = appDelegate_ ? appDelegate_->baseModel().options().activeSession() : Session();
    QString session = active ? "Session " + QString::fromStdString(platform::formatDate(active.dateStamp(), "yyyy-MM-dd HH:mm:ss"))
                             : QString("No active session");
    ui_->sessionLabel->setText(session);
    QString state;
    if (tareAccelerometer_) state = "Taking tare";
    else if (gAccelerometer_) state = "Recording";
    else state = "Stopped";
    QString samples = QLocale::c().toString(qlonglong(active.gData().count())) + " samples";
    const std::uint64_t dropped = droppedReadings_ + sensors::Accelerometer::sharedAccelerometer()->droppedReadings();
    if (dropped > 0) samples += "  ·  " + QLocale::c().toString(qulonglong(dropped)) + " unusable readings dropped";
    ui_->statusLabel->setText(state + "  ·  " + samples + "  ·  " + sourceText_);
}

void MainViewController::showWarning(const QString& text)
{
    showMessage(text, true);
}

void MainViewController::showMessage(const QString& text, bool warning)
{
    if (!ui_) return;
    QLabel* label = ui_->warningLabel;
    // The whole text stays in the tooltip; the line shows what fits beside the toolbar.
    label->setToolTip(text);
    label->setStyleSheet(warning ? "color: #fca5a5; font-weight: bold;" : "color: #86efac; font-weight: normal;");
    int room = std::max(160, view_->width() / 2 - 140);
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideMiddle, room));
}
