// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/LoadSessionPopoverController.h"

#include <QKeyEvent>
#include <QListView>
#include <QMouseEvent>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "recording/BaseModel.h"
#include "recording/Options.h"
#include "recording/Recorder.h"
#include "platform/DateFormatter.h"
#include "ui/SessionRows.h"
#include "ui_LoadSessionPopover.h"

namespace {

constexpr int kSwipeDistance = 30;

} // namespace

LoadSessionPopoverController::LoadSessionPopoverController(QObject* parent)
    : PopoverContentController(parent), model_(new SessionListModel(this))
{
}

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
    return QString::fromStdString(platform::formatDate(rows_[std::size_t(row)].dateStamp(), "yyyy-MM-dd-HH:mm:ss"));
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
    model_->reload([this] { rows_ = recorder_ ? recorder_->root().sessionsByStart() : std::vector<Session>{}; });
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
            if (confirmingRow_ != row) beginDeleteConfirmation(row);
            else if (!pressIsSecondTap_) commitEditingStyle(row);
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
        if (confirmingRow_ >= 0) commitEditingStyle(confirmingRow_);
        else if (current >= 0) didSelectRow(current);
        return true;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        if (current < 0) return true;
        if (confirmingRow_ == current) commitEditingStyle(current);
        else beginDeleteConfirmation(current);
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
    case Qt::Key_End:
        cancelDeleteConfirmation();
        return false;
    default: return false;
    }
}
