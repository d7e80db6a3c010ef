// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Popover.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QScreen>

#include <algorithm>

// ---- the content controller ----

PopoverContentController::PopoverContentController(QObject* parent) : QObject(parent) {}

PopoverContentController::~PopoverContentController()
{
    unloadView();
}

QWidget* PopoverContentController::view()
{
    if (!view_) {
        view_ = loadView();
        // Laid out at the size it will be shown at, so that viewDidLoad sees real geometry.
        if (contentSize_.isValid()) view_->resize(contentSize_);
        if (view_->layout()) view_->layout()->activate();
        viewDidLoad();
    }
    return view_;
}

void PopoverContentController::unloadView()
{
    delete view_.data();
}

void PopoverContentController::releaseHold()
{
    if (holds_ == 0) return;
    if (--holds_ == 0 && letGoByPopover_) deleteLater();
}

// ---- the popover ----

namespace {
int clampInto(int value, int low, int high)
{
    // A popover wider than the screen starts at the screen's edge.
    return high < low ? low : std::clamp(value, low, high);
}

bool isVertical(Popover::ArrowDirection arrow)
{
    return arrow == Popover::ArrowUp || arrow == Popover::ArrowDown;
}
} // namespace

Popover::Popover(PopoverContentController* contentViewController)
    : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint),
      content_(contentViewController)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_TranslucentBackground);
    if (content_) content_->setParent(this);
}

Popover::~Popover()
{
    // The controller goes first, so that it never sees its view half destroyed.
    if (content_ && content_->parent() == this) delete content_.data();
}

QSize Popover::popoverContentSize() const
{
    return content_ ? content_->contentSizeForViewInPopover() : QSize();
}

QRect Popover::contentRect() const
{
    QRect body = rect();
    switch (arrow_) {
    case ArrowUp: body.setTop(kArrowDepth); break;
    case ArrowDown: body.setBottom(height() - 1 - kArrowDepth); break;
    case ArrowLeft: body.setLeft(kArrowDepth); break;
    case ArrowRight: body.setRight(width() - 1 - kArrowDepth); break;
    default: break;
    }
    return body.adjusted(kInset, kInset, -kInset, -kInset);
}

Popover::Placement Popover::place(const QRect& anchor, const QSize& contentSize, const QRect& bounds,
                                  int permittedArrowDirections)
{
    int permitted = permittedArrowDirections & ArrowAny;
    if (permitted == 0) permitted = ArrowAny;
    const QSize body = contentSize + QSize(2 * kInset, 2 * kInset);

    auto frameFor = [&](ArrowDirection arrow) {
        QRect frame;
        if (isVertical(arrow)) {
            frame.setSize(QSize(body.width(), body.height() + kArrowDepth));
            int x =
                clampInto(anchor.center().x() - frame.width() / 2, bounds.left(), bounds.right() + 1 - frame.width());
            int y = arrow == ArrowUp ? anchor.bottom() + 1 + kGap : anchor.top() - kGap - frame.height();
            frame.moveTo(x, y);
        } else {
            frame.setSize(QSize(body.width() + kArrowDepth, body.height()));
            int y =
                clampInto(anchor.center().y() - frame.height() / 2, bounds.top(), bounds.bottom() + 1 - frame.height());
            int x = arrow == ArrowLeft ? anchor.right() + 1 + kGap : anchor.left() - kGap - frame.width();
            frame.moveTo(x, y);
        }
        return frame;
    };

    const ArrowDirection order[] = {ArrowUp, ArrowDown, ArrowLeft, ArrowRight};
    ArrowDirection chosen = ArrowUp;
    QRect frame;
    bool found = false;
    for (ArrowDirection arrow : order) {
        if (!(permitted & arrow)) continue;
        QRect candidate = frameFor(arrow);
        if (bounds.contains(candidate)) {
            chosen = arrow;
            frame = candidate;
            found = true;
            break;
        }
    }
    if (!found) {
        for (ArrowDirection arrow : order) {
            if (permitted & arrow) {
                chosen = arrow;
                break;
            }
        }
        frame = frameFor(chosen);
        frame.moveTo(clampInto(frame.x(), bounds.left(), bounds.right() + 1 - frame.width()),
                     clampInto(frame.y(), bounds.top(), bounds.bottom() + 1 - frame.height()));
    }

    // The arrow points at the control's centre, but never leaves the straight part of the edge.
    const int margin = kRadius + kArrowHalfWidth;
    int position = isVertical(chosen) ? anchor.center().x() - frame.x() : anchor.center().y() - frame.y();
    int length = isVertical(chosen) ? frame.width() : frame.height();
    position = clampInto(position, margin, length - margin);
    return {frame, chosen, position};
}

void Popover::presentPopoverFromRect(const QRect& rectInView, QWidget* inView, int permittedArrowDirections, bool)
{
    if (!content_ || dismissed_) return;
    // A child window of the control's window: it goes when that window goes.
    QWidget* host = inView ? inView->window() : nullptr;
    if (parentWidget() != host) setParent(host, windowFlags());

    QWidget* view = content_->view();
    if (view->parentWidget() != this) view->setParent(this);
    view->setFixedSize(popoverContentSize());

    QRect anchor = inView ? QRect(inView->mapToGlobal(rectInView.topLeft()), rectInView.size()) : rectInView;
    QScreen* screen = inView ? inView->screen() : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    QRect bounds = screen ? screen->availableGeometry() : anchor.adjusted(-4000, -4000, 4000, 4000);

    Placement placement = place(anchor, popoverContentSize(), bounds, permittedArrowDirections);
    arrow_ = placement.arrow;
    arrowPosition_ = placement.arrowPosition;
    setFixedSize(placement.frame.size());
    move(placement.frame.topLeft());
    view->setGeometry(contentRect());
    view->show();
    setMask(QRegion(outline().toFillPolygon().toPolygon()));

    show();
    if (QWidget* focus = view->focusWidget())
        focus->setFocus(Qt::PopupFocusReason);
    else
        view->setFocus(Qt::PopupFocusReason);
}

void Popover::dismissPopoverAnimated(bool animated)
{
    if (dismissed_) return;
    if (!animated || !isVisible()) {
        close();
        return;
    }
    // The popover is gone for the program at once; only its picture fades, and taps already
    // reach what lies under it.
    finishDismissal();
    setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* fade = new QPropertyAnimation(this, "windowOpacity", this);
    fade->setDuration(kFadeMilliseconds);
    fade->setStartValue(windowOpacity());
    fade->setEndValue(0.0);
    connect(fade, &QPropertyAnimation::finished, this, &QWidget::close);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void Popover::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    finishDismissal();
}

void Popover::finishDismissal()
{
    if (dismissed_) return;
    dismissed_ = true;
    if (content_) {
        // Work still pending keeps the controller alive past this close: the window holds it
        // until that work has run and released it.
        if (content_->isHeldPastClose()) {
            content_->setParent(parentWidget());
            content_->letGoByPopover_ = true;
        }
        content_->popoverDidDismiss();
    }
    emit didDismiss();
}

void Popover::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        dismissPopoverAnimated(true);
        return;
    }
    QWidget::keyPressEvent(event);
}

QPainterPath Popover::outline() const
{
    QRectF body = QRectF(contentRect()).adjusted(-kInset + 0.5, -kInset + 0.5, kInset - 0.5, kInset - 0.5);
    QPainterPath path;
    path.addRoundedRect(body, kRadius, kRadius);

    // The arrow overlaps the body by a pixel so that the two outlines merge.
    QPolygonF arrow;
    const double p = arrowPosition_, h = kArrowHalfWidth;
    switch (arrow_) {
    case ArrowUp: arrow << QPointF(p - h, body.top() + 1) << QPointF(p, 0.5) << QPointF(p + h, body.top() + 1); break;
    case ArrowDown:
        arrow << QPointF(p - h, body.bottom() - 1) << QPointF(p, height() - 0.5) << QPointF(p + h, body.bottom() - 1);
        break;
    case ArrowLeft:
        arrow << QPointF(body.left() + 1, p - h) << QPointF(0.5, p) << QPointF(body.left() + 1, p + h);
        break;
    case ArrowRight:
        arrow << QPointF(body.right() - 1, p - h) << QPointF(width() - 0.5, p) << QPointF(body.right() - 1, p + h);
        break;
    default: break;
    }
    QPainterPath arrowPath;
    arrowPath.addPolygon(arrow);
    arrowPath.closeSubpath();
    return path.united(arrowPath);
}

void Popover::resizeEvent(QResizeEvent* event)
{
    // Without a compositor a translucent window shows black where it is clear: the mask keeps the
    // rounded body and the arrow only, on every desktop.
    setMask(QRegion(outline().toFillPolygon().toPolygon()));
    QWidget::resizeEvent(event);
}

void Popover::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path = outline();
    painter.setPen(QPen(QColor(0x3e, 0x4c, 0x59), 1.0));
    painter.setBrush(QColor(0x1f, 0x29, 0x33));
    painter.drawPath(path);
}
