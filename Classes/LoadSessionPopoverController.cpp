#include "LoadSessionPopoverController.h"

#include <QAbstractListModel>
#include <QKeyEvent>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "BaseModel.h"
#include "MainViewController.h"
#include "Options.h"
#include "platform/DateFormatter.h"
#include "ui_LoadSessionPopover.h"

namespace {

constexpr int kTextInset = 14;
constexpr int kSwipeDistance = 30;

// The row's delete control: a bin at the right edge, or the wider red button while it asks.
QRect deleteControlIn(const QRect& row, bool confirming)
{
    QRect control = confirming ? QRect(0, 0, 76, 32) : QRect(0, 0, 40, 40);
    control.moveRight(row.right() - (confirming ? 6 : 4));
    control.moveTop(row.center().y() - control.height() / 2 + 1);
    return control;
}

// A row as far as it is visible: rows laid out before the scroll bar appeared reach under it.
QRect visibleRow(QRect row, const QWidget* viewport)
{
    if (viewport) row.setRight(std::min(row.right(), viewport->width() - 1));
    return row;
}

void drawBin(QPainter* painter, const QRect& control)
{
    const QPointF c = QRectF(control).center();
    painter->setPen(QPen(QColor(0x9a, 0xa5, 0xb1), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter->setBrush(Qt::NoBrush);
    painter->drawLine(QPointF(c.x() - 7, c.y() - 6), QPointF(c.x() + 7, c.y() - 6));
    painter->drawLine(QPointF(c.x() - 2.5, c.y() - 8.5), QPointF(c.x() + 2.5, c.y() - 8.5));
    QPolygonF body;
    body << QPointF(c.x() - 5.5, c.y() - 3.5) << QPointF(c.x() - 4.5, c.y() + 8) << QPointF(c.x() + 4.5, c.y() + 8)
         << QPointF(c.x() + 5.5, c.y() - 3.5);
    painter->drawPolyline(body);
    painter->drawLine(QPointF(c.x() - 2, c.y() - 1), QPointF(c.x() - 1.7, c.y() + 5.5));
    painter->drawLine(QPointF(c.x() + 2, c.y() - 1), QPointF(c.x() + 1.7, c.y() + 5.5));
}

} // namespace

// The list as the view sees it: every answer comes from the controller, that is, from the store.
class SessionListModel : public QAbstractListModel {
public:
    explicit SessionListModel(LoadSessionPopoverController* controller)
        : QAbstractListModel(controller), controller_(controller)
    {
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : controller_->numberOfRowsInSection(0);
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid()) return {};
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return controller_->cellTextForRow(index.row());
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    void reload()
    {
        beginResetModel();
        endResetModel();
    }

    // The view hears of the removal around the store change that makes it.
    template <typename Change>
    void removeRowBy(int row, Change&& change)
    {
        beginRemoveRows(QModelIndex(), row, row);
        std::forward<Change>(change)();
        endRemoveRows();
    }

private:
    LoadSessionPopoverController* controller_;
};

namespace {

// White rows on the dark popover, tall enough for a finger, each with its delete control.
class SessionRowDelegate : public QStyledItemDelegate {
public:
    SessionRowDelegate(const LoadSessionPopoverController* controller, QObject* parent)
        : QStyledItemDelegate(parent), controller_(controller)
    {
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        return QSize(std::max(option.rect.width(), 1), LoadSessionPopoverController::kRowHeight);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const auto* list = qobject_cast<const QAbstractItemView*>(option.widget);
        const QRect row = visibleRow(option.rect, list ? list->viewport() : nullptr);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        if (option.state & QStyle::State_Selected) painter->fillRect(row, QColor(0x3e, 0x4c, 0x59));
        else if (option.state & QStyle::State_MouseOver) painter->fillRect(row, QColor(0x2b, 0x37, 0x43));
        painter->setPen(QColor(0x32, 0x3f, 0x4b));
        painter->drawLine(row.left() + kTextInset, row.bottom(), row.right(), row.bottom());

        const bool confirming = index.row() == controller_->confirmingDeleteRow();
        const QRect control = deleteControlIn(row, confirming);
        QFont font = option.font;
        font.setPixelSize(16);
        painter->setFont(font);
        painter->setPen(Qt::white);
        QRect text(row.left() + kTextInset, row.top(), control.left() - 8 - (row.left() + kTextInset), row.height());
        painter->drawText(text, Qt::AlignVCenter | Qt::AlignLeft,
                          QFontMetrics(font).elidedText(index.data().toString(), Qt::ElideRight, text.width()));

        if (confirming) {
            painter->setPen(Qt::NoPen);
            painter->setBrush(QColor(0xdc, 0x26, 0x26));
            painter->drawRoundedRect(control, 6, 6);
            font.setPixelSize(14);
            font.setBold(true);
            painter->setFont(font);
            painter->setPen(Qt::white);
            painter->drawText(control, Qt::AlignCenter, QStringLiteral("Delete"));
        } else {
            drawBin(painter, control);
        }
        painter->restore();
    }

private:
    const LoadSessionPopoverController* controller_;
};

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
    appDelegate_ = QuivraAppDelegate::shared();
    if (!sessionTableView_) return;
    sessionTableView_->setModel(model_);
    sessionTableView_->setItemDelegate(new SessionRowDelegate(this, sessionTableView_));
    listViewport_ = sessionTableView_->viewport();
    listViewport_->installEventFilter(this);
    sessionTableView_->installEventFilter(this);

    // The keyboard starts on the active session's row.
    Session active = appDelegate_ ? appDelegate_->baseModel().options().activeSession() : Session();
    std::vector<Session> sessions = sortedSessions();
    auto found = std::find(sessions.begin(), sessions.end(), active);
    if (found != sessions.end()) {
        QModelIndex index = model_->index(int(found - sessions.begin()));
        sessionTableView_->setCurrentIndex(index);
        sessionTableView_->scrollTo(index);
    }
    sessionTableView_->setFocus();
}

bool LoadSessionPopoverController::shouldAutorotateToInterfaceOrientation(int orientation) const
{
    return orientation == 3 || orientation == 4;
}

std::vector<Session> LoadSessionPopoverController::sortedSessions() const
{
    if (!appDelegate_) return {};
    std::vector<std::pair<platform::Micros, Session>> keyed;
    for (const Session& session : appDelegate_->baseModel().sessions()) keyed.emplace_back(session.dateStamp(), session);
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        if (a.first != b.first) return a.first < b.first;
        return a.second.objectId() < b.second.objectId();
    });
    std::vector<Session> sorted;
    sorted.reserve(keyed.size());
    for (auto& entry : keyed) sorted.push_back(entry.second);
    return sorted;
}

int LoadSessionPopoverController::numberOfRowsInSection(int) const
{
    return appDelegate_ ? int(appDelegate_->baseModel().sessions().size()) : 0;
}

QString LoadSessionPopoverController::cellTextForRow(int row) const
{
    std::vector<Session> sessions = sortedSessions();
    if (row < 0 || row >= int(sessions.size())) return {};
    return QString::fromStdString(platform::formatDate(sessions[std::size_t(row)].dateStamp(), "yyyy-MM-dd-HH:mm:ss"));
}

void LoadSessionPopoverController::didSelectRow(int row)
{
    std::vector<Session> sessions = sortedSessions();
    if (row < 0 || row >= int(sessions.size())) return;
    cancelDeleteConfirmation();
    appDelegate_->baseModel().options().setActiveSession(sessions[std::size_t(row)]);
    if (rootController_) rootController_->viewDidLoad();
    appDelegate_->saveContext();
    if (popoverController_) popoverController_->dismissPopoverAnimated(true);
}

void LoadSessionPopoverController::commitEditingStyle(int row)
{
    std::vector<Session> sessions = sortedSessions();
    if (row < 0 || row >= int(sessions.size())) return;
    cancelDeleteConfirmation();
    model_->removeRowBy(row, [&] { deleteObject(sessions[std::size_t(row)]); });

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
    if (appDelegate_) {
        BaseModel root = appDelegate_->baseModel();
        if (root.sessions().empty()) {
            Session fresh = Session::init();
            fresh.setBaseModel(root);
        }
        Options options = root.options();
        if (!options.activeSession()) {
            std::vector<Session> sessions = sortedSessions();
            if (!sessions.empty()) options.setActiveSession(sessions.back());
        }
    }
    cancelDeleteConfirmation();
    reloadData();
    if (rootController_) rootController_->viewDidLoad();
    if (appDelegate_) appDelegate_->saveContext();
    if (popoverController_) popoverController_->dismissPopoverAnimated(true);
}

void LoadSessionPopoverController::reloadData()
{
    model_->reload();
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
