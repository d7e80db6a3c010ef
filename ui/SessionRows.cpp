// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SessionRows.h"

#include <QAbstractItemView>
#include <QPainter>

#include <algorithm>

namespace {

constexpr int kTextInset = 14;

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

QRect deleteControlIn(const QRect& row, bool confirming)
{
    QRect control = confirming ? QRect(0, 0, 76, 32) : QRect(0, 0, 40, 40);
    control.moveRight(row.right() - (confirming ? 6 : 4));
    control.moveTop(row.center().y() - control.height() / 2 + 1);
    return control;
}

QRect visibleRow(QRect row, const QWidget* viewport)
{
    if (viewport) row.setRight(std::min(row.right(), viewport->width() - 1));
    return row;
}

QSize SessionRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    return QSize(std::max(option.rect.width(), 1), LoadSessionPopoverController::kRowHeight);
}

void SessionRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const auto* list = qobject_cast<const QAbstractItemView*>(option.widget);
    const QRect row = visibleRow(option.rect, list ? list->viewport() : nullptr);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (option.state & QStyle::State_Selected)
        painter->fillRect(row, QColor(0x3e, 0x4c, 0x59));
    else if (option.state & QStyle::State_MouseOver)
        painter->fillRect(row, QColor(0x2b, 0x37, 0x43));
    painter->setPen(QColor(0x32, 0x3f, 0x4b));
    painter->drawLine(row.left() + kTextInset, row.bottom(), row.right(), row.bottom());

    const bool confirming = index.row() == controller_->confirmingDeleteRow();
    const QRect control = deleteControlIn(row, confirming);
    QFont font = option.font;
    font.setPixelSize(16);
    painter->setFont(font);
    painter->setPen(Qt::white);
    // The name (or start) over the machine, point and figures, in a dimmer, smaller type.
    const int width = control.left() - 8 - (row.left() + kTextInset);
    const QRect text(row.left() + kTextInset, row.top() + 6, width, row.height() / 2 - 4);
    painter->drawText(text, Qt::AlignBottom | Qt::AlignLeft,
                      QFontMetrics(font).elidedText(index.data().toString(), Qt::ElideRight, text.width()));
    QFont small = font;
    small.setPixelSize(13);
    painter->setFont(small);
    painter->setPen(QColor(0xb8, 0xc2, 0xcc));
    const QRect detail(text.left(), row.top() + row.height() / 2 + 2, width, row.height() / 2 - 6);
    painter->drawText(detail, Qt::AlignTop | Qt::AlignLeft,
                      QFontMetrics(small).elidedText(index.data(SessionListModel::kDetailRole).toString(),
                                                     Qt::ElideRight, detail.width()));

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
