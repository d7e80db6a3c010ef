// SPDX-License-Identifier: GPL-3.0-or-later
// Review: the range on show, and the keys, the wheel and the mouse that move it.
#include <QComboBox>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "ui/ReviewView.h"

void ReviewView::showSession(store::ObjectId session, bool live)
{
    session_ = session;
    shown_.reset();
    overview_.reset();
    overviewPicture_ = QPixmap();
    extent_ = {};
    cursors_[0] = cursors_[1] = std::nullopt;
    cursorReadings_[0] = cursorReadings_[1] = std::nullopt;
    selection_.reset();
    setMarkers({});
    placed_ = false;
    follow_ = live;
    showControls();
    load(ReviewLoader::Request::Span::all, true);
    update();
}

void ReviewView::refresh()
{
    load(follow_ ? ReviewLoader::Request::Span::newest : ReviewLoader::Request::Span::given);
}

void ReviewView::setCursor(int i, std::optional<platform::Micros> at)
{
    cursors_[i] = at;
    if (!at) cursorReadings_[i].reset();
    showControls();
    load();
}

std::optional<std::pair<platform::Micros, platform::Micros>> ReviewView::selection() const
{
    if (!selection_) return std::nullopt;
    return std::pair(std::min(selection_->first, selection_->second), std::max(selection_->first, selection_->second));
}

platform::Micros ReviewView::shortestSpan() const
{
    // About eight readings across, at the session's usual spacing.
    return std::max<platform::Micros>(extent_.gap * 2, 50);
}

void ReviewView::setRange(platform::Micros from, platform::Micros to, bool follow)
{
    const platform::Micros shortest = shortestSpan();
    if (to - from < shortest) {
        const platform::Micros middle = from + (to - from) / 2;
        from = middle - shortest / 2, to = from + shortest;
    }
    // At most the whole session and a little either side.
    const platform::Micros whole = std::max<platform::Micros>(extent_.last - extent_.first, 1000);
    const platform::Micros margin = whole / 20;
    if (to - from > whole + 2 * margin) from = extent_.first - margin, to = extent_.last + margin;
    if (from < extent_.first - margin) to += extent_.first - margin - from, from = extent_.first - margin;
    if (to > extent_.last + margin) from -= to - extent_.last - margin, to = extent_.last + margin;
    from_ = from, to_ = to;
    follow_ = follow || (recording_ && to_ >= extent_.last && follow_);
    load();
    update();
}

void ReviewView::zoom(double factor, platform::Micros around)
{
    const double a = double(around - from_), b = double(to_ - around);
    setRange(around - platform::Micros(std::llround(a * factor)), around + platform::Micros(std::llround(b * factor)),
             follow_ && factor > 1);
}

void ReviewView::pan(double fraction)
{
    const platform::Micros d = platform::Micros(std::llround(double(to_ - from_) * fraction));
    setRange(from_ + d, to_ + d);
}

void ReviewView::fitAll()
{
    load(ReviewLoader::Request::Span::all);
}

void ReviewView::goToEnd()
{
    follow_ = recording_;
    load(ReviewLoader::Request::Span::newest);
}

void ReviewView::load(ReviewLoader::Request::Span span, bool overviewAgain)
{
    if (!session_) return;
    // Until the session's extent is known, any read is of all of it.
    if (!placed_ && span == ReviewLoader::Request::Span::given) span = ReviewLoader::Request::Span::all;
    ReviewLoader::Request r;
    r.session = session_;
    r.span = span;
    r.from = from_, r.to = to_;
    r.columns = plotWidth();
    r.overviewColumns = plotWidth();
    r.overviewAgain = overviewAgain;
    for (const auto& c : cursors_)
        if (c) r.cursors.push_back(*c);
    loader_.request(std::move(r));
}

void ReviewView::loaded(std::shared_ptr<const ReviewLoader::Result> result)
{
    if (result->request.session != session_) return;
    if (result->ok) {
        placed_ = true;
        extent_ = result->extent;
        if (result->overview) overview_ = result->overview, overviewPicture_ = QPixmap();
        // The list's times count from the first reading.
        if (extent_.first != listedFrom_ && !markers_.empty()) fillMarkerList();
        // A read of all or of the newest sets the range.
        if (result->request.span != ReviewLoader::Request::Span::given) {
            from_ = result->request.from, to_ = result->request.to;
        }
        std::size_t k = 0;
        for (int i = 0; i < 2; ++i)
            if (cursors_[i] && k < result->cursors.size()) cursorReadings_[i] = result->cursors[k++];
        showControls();
    }
    shown_ = std::move(result);
    update();
}

bool ReviewView::event(QEvent* e)
{
    if (gesture(e)) return true;
    // The window's one-key shortcuts (F, Home...) give way to review's keys while it has the focus.
    if (e->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(e);
        switch (key->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Plus:
        case Qt::Key_Equal:
        case Qt::Key_Minus:
        case Qt::Key_Home:
        case Qt::Key_End:
        case Qt::Key_F:
        case Qt::Key_C:
        case Qt::Key_A:
        case Qt::Key_O:
        case Qt::Key_X:
        case Qt::Key_BracketLeft:
        case Qt::Key_BracketRight:
        case Qt::Key_Escape:
            if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) break;
            e->accept();
            return true;
        case Qt::Key_M:
            // Without cursor A, M drops a marker now, as on the live traces.
            if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) break;
            if (!(key->modifiers() & Qt::ShiftModifier) && !cursors_[0]) break;
            e->accept();
            return true;
        default: break;
        }
    }
    return QWidget::event(e);
}

void ReviewView::keyPressEvent(QKeyEvent* e)
{
    const bool shift = e->modifiers() & Qt::ShiftModifier;
    const platform::Micros middle = from_ + (to_ - from_) / 2;
    switch (e->key()) {
    case Qt::Key_Left: pan(shift ? -1.0 : -0.125); break;
    case Qt::Key_Right: pan(shift ? 1.0 : 0.125); break;
    case Qt::Key_Plus:
    case Qt::Key_Equal: zoom(0.5, middle); break;
    case Qt::Key_Minus: zoom(2.0, middle); break;
    case Qt::Key_Home: setRange(extent_.first, extent_.first + (to_ - from_)); break;
    case Qt::Key_End: goToEnd(); break;
    case Qt::Key_F: fitAll(); break;
    case Qt::Key_C:
        cursors_[0] = cursors_[1] = std::nullopt;
        cursorReadings_[0] = cursorReadings_[1] = std::nullopt;
        selection_.reset();
        showControls();
        update();
        break;
    case Qt::Key_A: setFixedScale(-1); break;
    case Qt::Key_BracketLeft: stepScale(-1); break;
    case Qt::Key_BracketRight: stepScale(1); break;
    case Qt::Key_O: setOverlaid(!overlaid_); break;
    case Qt::Key_X: offerExport(); break;
    case Qt::Key_Escape: emit leaveRequested(); break;
    case Qt::Key_M:
        if (shift && markerList_ && !markers_.empty()) {
            markerList_->setFocus();
            markerList_->showPopup();
        } else if (!shift && cursors_[0]) {
            emit markerRequested(session_, *cursors_[0]);
        }
        break;
    default: QWidget::keyPressEvent(e); return;
    }
    e->accept();
}

void ReviewView::wheelEvent(QWheelEvent* e)
{
    const double notches = e->angleDelta().y() / 120.0;
    if (notches == 0) return;
    // Zoom about the time under the pointer.
    zoom(std::pow(0.8, notches), timeAt(e->position().x()));
    e->accept();
}

void ReviewView::mousePressEvent(QMouseEvent* e)
{
    setFocus();
    pressAt_ = e->position();
    pressFrom_ = from_, pressTo_ = to_;
    moved_ = false;
    drag_ = e->position().y() >= areas().overview.top() ? Drag::overview
            : (e->modifiers() & Qt::ShiftModifier)      ? Drag::select
                                                        : Drag::pan;
    if (drag_ == Drag::select) selection_ = {timeAt(pressAt_.x()), timeAt(pressAt_.x())};
    if (drag_ == Drag::overview) mouseMoveEvent(e);
}

void ReviewView::mouseMoveEvent(QMouseEvent* e)
{
    moved_ = moved_ || std::abs(e->position().x() - pressAt_.x()) > 3;
    switch (drag_) {
    case Drag::pan: {
        if (!moved_) return;
        const double dx = e->position().x() - pressAt_.x();
        const platform::Micros d = platform::Micros(std::llround(dx * double(pressTo_ - pressFrom_ + 1) / plotWidth()));
        setRange(pressFrom_ - d, pressTo_ - d);
        break;
    }
    case Drag::select:
        selection_->second = timeAt(e->position().x());
        update();
        break;
    case Drag::overview: {
        // The visible stretch centred where the overview is pressed.
        const double f = (e->position().x() - areas().overview.left()) / plotWidth();
        const platform::Micros at = extent_.first + platform::Micros(f * double(extent_.last - extent_.first));
        setRange(at - (to_ - from_) / 2, at + (to_ - from_) / 2);
        break;
    }
    case Drag::none: break;
    }
}

void ReviewView::mouseReleaseEvent(QMouseEvent* e)
{
    const Drag drag = std::exchange(drag_, Drag::none);
    if (drag == Drag::select && selection_) {
        auto [a, b] = *selection_;
        if (a > b) std::swap(a, b);
        if (moved_ && b > a)
            emit rangeSelected(session_, a, b);
        else
            selection_.reset();
        showControls();
        update();
    } else if (drag == Drag::pan && !moved_) {
        // A click: cursor A, then B, then whichever is nearer moves.
        const platform::Micros t = timeAt(e->position().x());
        int i = !cursors_[0]                                                   ? 0
                : !cursors_[1]                                                 ? 1
                : std::llabs(*cursors_[0] - t) <= std::llabs(*cursors_[1] - t) ? 0
                                                                               : 1;
        setCursor(i, t);
    }
}

void ReviewView::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    placeControls();
    // A column a pixel: read again at the new width.
    load();
}
