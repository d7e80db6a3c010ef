// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/LoadSessionPopoverController.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QToolButton>
#include <QMouseEvent>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "recording/BaseModel.h"
#include "recording/Options.h"
#include "recording/Recorder.h"
#include "platform/DateFormatter.h"
#include "platform/NumberText.h"
#include "recording/SessionText.h"
#include "ui/SessionInfoDialog.h"
#include "ui/SessionRows.h"
#include "ui_LoadSessionPopover.h"

namespace {

constexpr int kSwipeDistance = 30;

QString startText(const Session& session)
{
    return QString::fromStdString(platform::formatDate(session.dateStamp(), "yyyy-MM-dd-HH:mm:ss"));
}

// "3.0 s", "4:05", "1:02:03": from the start to the newest sample.
QString lengthText(platform::Micros length)
{
    const long long seconds = length / 1000000;
    if (seconds < 60) return QString::number(double(length) / 1e6, 'f', 1) + " s";
    const QString minutes = QString("%1:%2").arg((seconds / 60) % 60).arg(seconds % 60, 2, 10, QChar('0'));
    return seconds < 3600 ? minutes : QString("%1:%2").arg(seconds / 3600).arg(minutes.rightJustified(5, '0'));
}

} // namespace

LoadSessionPopoverController::LoadSessionPopoverController(QObject* parent)
    : PopoverContentController(parent), model_(new SessionListModel(this))
{}

LoadSessionPopoverController::~LoadSessionPopoverController()
{
    unloadView();
}

QWidget* LoadSessionPopoverController::loadView()
{
    auto* view = new QWidget;
    ui_ = std::make_unique<Ui::LoadSessionPopover>();
    ui_->setupUi(view);
    sessionTableView_ = ui_->sessionTableView;
    // Above the list: the filter, the order and the info panel of the current row.
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(8, 6, 8, 6);
    filterField_ = new QLineEdit(view);
    filterField_->setObjectName("filterField");
    filterField_->setPlaceholderText("Filter");
    filterField_->setClearButtonEnabled(true);
    sortBox_ = new QComboBox(view);
    sortBox_->setObjectName("sortBox");
    sortBox_->addItems({"Oldest", "Newest", "Name", "Machine"});
    auto* info = new QToolButton(view);
    info->setObjectName("infoButton");
    info->setText("Info");
    info->setToolTip("Name and describe the highlighted session");
    bar->addWidget(filterField_, 1);
    bar->addWidget(sortBox_);
    bar->addWidget(info);
    ui_->layout->insertLayout(0, bar);
    view->setStyleSheet(
        view->styleSheet()
        + "QLineEdit, QComboBox, QToolButton { color: white; background: #2b3743; border: 1px solid #52606d;"
          " border-radius: 4px; padding: 3px 6px; }");
    connect(filterField_, &QLineEdit::textChanged, this, &LoadSessionPopoverController::setFilterText);
    connect(sortBox_, &QComboBox::currentIndexChanged, this, [this](int index) { setSortOrder(SortOrder(index)); });
    connect(info, &QToolButton::clicked, this, [this] {
        if (sessionTableView_) showInfoForRow(sessionTableView_->currentIndex().row());
    });
    return view;
}

void LoadSessionPopoverController::viewDidLoad()
{
    PopoverContentController::viewDidLoad();
    if (!sessionTableView_) return;
    reloadData();
    sessionTableView_->setModel(model_);
    sessionTableView_->setItemDelegate(new SessionRowDelegate(this, sessionTableView_));
    listViewport_ = sessionTableView_->viewport();
    listViewport_->installEventFilter(this);
    sessionTableView_->installEventFilter(this);

    // The keyboard starts on the active session's row.
    Session active = recorder_ ? recorder_->root().options().activeSession() : Session();
    auto found = std::find(rows_.begin(), rows_.end(), active);
    if (found != rows_.end()) {
        QModelIndex index = model_->index(int(found - rows_.begin()));
        sessionTableView_->setCurrentIndex(index);
        sessionTableView_->scrollTo(index);
    }
    sessionTableView_->setFocus();
    // Keys must reach the list as soon as the popover shows, even where no window manager hands
    // the new window the focus.
    QPointer<QListView> list = sessionTableView_.data();
    QTimer::singleShot(0, this, [list] {
        if (!list) return;
        list->window()->activateWindow();
        list->setFocus(Qt::PopupFocusReason);
    });
}

int LoadSessionPopoverController::numberOfRowsInSection(int) const
{
    return int(rows_.size());
}

QString LoadSessionPopoverController::cellTextForRow(int row) const
{
    if (row < 0 || row >= int(rows_.size())) return {};
    const Session& session = rows_[std::size_t(row)];
    const std::string name = session.identity().name;
    return name.empty() ? startText(session) : QString::fromStdString(name);
}

QString LoadSessionPopoverController::cellDetailForRow(int row) const
{
    if (row < 0 || row >= int(rows_.size())) return {};
    const Session& session = rows_[std::size_t(row)];
    const store::SessionIdentity identity = session.identity();
    QStringList parts;
    const std::string place = placeText(identity);
    if (!place.empty())
        parts << QString::fromStdString(place);
    else if (!identity.name.empty())
        parts << startText(session); // the start, when the name took its place
    const GDataSet samples = session.gData();
    const std::int64_t count = samples.count();
    if (count > 0) {
        const std::vector<store::SampleValues> newest = samples.newest(1);
        if (!newest.empty())
            parts << lengthText(std::max<platform::Micros>(0, newest.front().dateStamp - session.dateStamp()));
    }
    parts << QString::fromStdString(platform::groupedCount(count)) + (count == 1 ? " sample" : " samples");
    if (identity.rate > 0) parts << QString::fromStdString(platform::shortestText(identity.rate)) + "/s";
    return parts.join(" \u00b7 ");
}

void LoadSessionPopoverController::setSortOrder(SortOrder order)
{
    order_ = order;
    reloadData();
}

void LoadSessionPopoverController::setFilterText(const QString& text)
{
    filter_ = text;
    cancelDeleteConfirmation();
    reloadData();
}

void LoadSessionPopoverController::showInfoForRow(int row)
{
    if (row < 0 || row >= int(rows_.size()) || !recorder_) return;
    // The panel outlives the browser, which closes when it loses the pointer to the panel.
    QWidget* window = sessionTableView_ ? sessionTableView_->window()->parentWidget() : nullptr;
    auto* panel = new SessionInfoDialog(rows_[std::size_t(row)], window ? window->window() : nullptr);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    const Session session = rows_[std::size_t(row)];
    QPointer<Recorder> recorder = recorder_.data();
    connect(panel, &QDialog::accepted, panel, [panel, session, recorder, saveSoon = saveSoon_] {
        if (!recorder || !session.managedObjectContext()->session(session.objectId())) return;
        recorder->describeSession(session, panel->identity());
        if (saveSoon) saveSoon();
    });
    connect(panel, &QDialog::accepted, this, [this] { reloadData(); });
    panel->open();
}

void LoadSessionPopoverController::didSelectRow(int row)
{
    if (row < 0 || row >= int(rows_.size())) return;
    cancelDeleteConfirmation();
    // What was captured before the tap stays in the session it was captured for.
    if (recorder_) recorder_->selectSession(rows_[std::size_t(row)]);
    emit sessionChosen();
    if (saveSoon_) saveSoon_();
    if (popoverController_) popoverController_->dismissPopoverAnimated(true);
}

void LoadSessionPopoverController::commitEditingStyle(int row)
{
    if (row < 0 || row >= int(rows_.size())) return;
    cancelDeleteConfirmation();
    model_->removeRowBy(row, [&] {
        if (recorder_) recorder_->deleteSession(rows_[std::size_t(row)]);
        rows_.erase(rows_.begin() + row);
    });
    emit sessionDeleted();

    // The second half runs even if the browser closes first: the hold keeps this controller,
    // the timer's context, alive until then, and the window it is handed to bounds its life.
    ++pendingDeletions_;
    holdPastClose();
    QTimer::singleShot(kDeferredDeleteMs, this, [this] {
        deleteSession();
        --pendingDeletions_;
        releaseHold();
    });
}

void LoadSessionPopoverController::deleteSession()
{
    // A new session if none is left, then the latest one active if none is.
    if (recorder_) recorder_->root().ensureActiveSession();
    cancelDeleteConfirmation();
    reloadData();
    emit sessionsChanged();
    if (saveSoon_) saveSoon_();
    if (popoverController_) popoverController_->dismissPopoverAnimated(true);
}

void LoadSessionPopoverController::reloadData()
{
    model_->reload([this] {
        rows_.clear();
        if (!recorder_) return;
        const std::string filter = filter_.toStdString();
        for (const Session& session : recorder_->root().sessionsByStart())
            if (matchesFilter(session.identity(), startText(session).toStdString(), filter)) rows_.push_back(session);
        // Sessions with the text first, in its order; those without after them, by start.
        const auto by = [this](auto key) {
            std::stable_sort(rows_.begin(), rows_.end(), [&](const Session& a, const Session& b) {
                const QString x = QString::fromStdString(key(a)), y = QString::fromStdString(key(b));
                if (x.isEmpty() != y.isEmpty()) return y.isEmpty();
                return QString::localeAwareCompare(x, y) < 0;
            });
        };
        if (order_ == SortOrder::newest)
            std::reverse(rows_.begin(), rows_.end());
        else if (order_ == SortOrder::name)
            by([](const Session& s) { return s.identity().name; });
        else if (order_ == SortOrder::place)
            by([](const Session& s) { return placeText(s.identity()); });
    });
}

void LoadSessionPopoverController::beginDeleteConfirmation(int row)
{
    if (row < 0 || row >= model_->rowCount()) return;
    confirmingRow_ = row;
    if (sessionTableView_) {
        sessionTableView_->setCurrentIndex(model_->index(row));
        sessionTableView_->viewport()->update();
    }
}

void LoadSessionPopoverController::cancelDeleteConfirmation()
{
    if (confirmingRow_ < 0) return;
    confirmingRow_ = -1;
    if (sessionTableView_) sessionTableView_->viewport()->update();
}

QRect LoadSessionPopoverController::deleteControlRect(int row) const
{
    if (!sessionTableView_ || row < 0 || row >= model_->rowCount()) return {};
    return deleteControlIn(visibleRow(sessionTableView_->visualRect(model_->index(row)), sessionTableView_->viewport()),
                           row == confirmingRow_);
}

bool LoadSessionPopoverController::eventFilter(QObject* watched, QEvent* event)
{
    // Only input is looked at: other events also arrive while the list is being destroyed, when
    // nothing of it may be called.
    const QEvent::Type type = event->type();
    const bool pointer = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick
                         || type == QEvent::MouseMove || type == QEvent::MouseButtonRelease;
    if (pointer && watched == listViewport_.data() && sessionTableView_ && handlePointer(event)) return true;
    if (type == QEvent::KeyPress && watched == sessionTableView_.data() && handleKey(event)) return true;
    return PopoverContentController::eventFilter(watched, event);
}

// A tap selects a row; a tap on the bin, or a swipe left on the row, asks to delete it; a tap on
// the red button deletes; any other tap while it asks takes the question back. Touch arrives here
// as mouse events.
bool LoadSessionPopoverController::handlePointer(QEvent* event)
{
    const QEvent::Type type = event->type();
    auto* mouse = static_cast<QMouseEvent*>(event);
    // Nothing more is chosen while a delete is under way.
    if (isDeletionPending()) return true;
    const QPoint pos = mouse->position().toPoint();

    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (mouse->button() != Qt::LeftButton) return false;
        pressPos_ = pos;
        pressRow_ = sessionTableView_->indexAt(pos).row();
        swiped_ = false;
        pressIsSecondTap_ = type == QEvent::MouseButtonDblClick;
        return false;
    case QEvent::MouseMove: {
        if (!(mouse->buttons() & Qt::LeftButton) || pressRow_ < 0) return false;
        const QPoint delta = pos - pressPos_;
        if (!swiped_ && delta.x() <= -kSwipeDistance && std::abs(delta.y()) < std::abs(delta.x())) {
            swiped_ = true;
            beginDeleteConfirmation(pressRow_);
        }
        return swiped_;
    }
    case QEvent::MouseButtonRelease: {
        if (mouse->button() != Qt::LeftButton) return false;
        const int row = pressRow_;
        const bool swiped = swiped_;
        pressRow_ = -1;
        swiped_ = false;
        if (swiped) return false;
        if (row < 0 || sessionTableView_->indexAt(pos).row() != row) {
            cancelDeleteConfirmation();
            return false;
        }
        if (deleteControlRect(row).contains(pos)) {
            // The red button sits where the bin was: a double tap on the bin only asks.
            if (confirmingRow_ != row)
                beginDeleteConfirmation(row);
            else if (!pressIsSecondTap_)
                commitEditingStyle(row);
        } else if (confirmingRow_ >= 0) {
            cancelDeleteConfirmation();
        } else {
            didSelectRow(row);
        }
        // The view still sees the release, to end its own press.
        return false;
    }
    default: return false;
    }
}

// Arrows move, Enter chooses, Delete asks and a second Delete (or Enter) deletes; Escape takes
// the question back, or else closes the browser.
bool LoadSessionPopoverController::handleKey(QEvent* event)
{
    auto* key = static_cast<QKeyEvent*>(event);
    if (isDeletionPending()) return true;
    const int current = sessionTableView_->currentIndex().row();
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (confirmingRow_ >= 0)
            commitEditingStyle(confirmingRow_);
        else if (current >= 0)
            didSelectRow(current);
        return true;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        if (current < 0) return true;
        if (confirmingRow_ == current)
            commitEditingStyle(current);
        else
            beginDeleteConfirmation(current);
        return true;
    case Qt::Key_Escape:
        if (confirmingRow_ < 0) return false;
        cancelDeleteConfirmation();
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End: cancelDeleteConfirmation(); return false;
    default: return false;
    }
}
