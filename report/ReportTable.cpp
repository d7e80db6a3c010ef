// SPDX-License-Identifier: GPL-3.0-or-later
#include "report/ReportTable.h"

#include <algorithm>

namespace report {

namespace {

constexpr double kPad = 3;

// The row's height with every cell wrapped in its column.
double rowHeight(const QPainter& painter, const QStringList& cells, const std::vector<double>& widths)
{
    const QFontMetricsF metrics(painter.font());
    double height = metrics.height();
    for (qsizetype c = 0; c < cells.size() && std::size_t(c) < widths.size(); ++c)
        height = std::max(
            height,
            metrics.boundingRect(QRectF(0, 0, widths[std::size_t(c)] - 2 * kPad, 10000), Qt::TextWordWrap, cells[c])
                .height());
    return height + 2 * kPad;
}

double drawRow(QPainter& painter, QPointF at, const QStringList& cells, const std::map<int, QColor>& fill,
               const std::vector<double>& widths)
{
    const double height = rowHeight(painter, cells, widths);
    double x = at.x();
    for (qsizetype c = 0; c < cells.size() && std::size_t(c) < widths.size(); ++c) {
        const double width = widths[std::size_t(c)];
        const QRectF cell(x, at.y(), width, height);
        if (auto it = fill.find(int(c)); it != fill.end()) {
            painter.fillRect(cell, it->second);
            // Dark fills (zone D) take white text.
            painter.setPen(it->second.lightness() < 110 ? Qt::white : Qt::black);
        } else {
            painter.setPen(Qt::black);
        }
        // The first column names the row; the others hold numbers or short words, left as read.
        painter.drawText(cell.adjusted(kPad, kPad, -kPad, -kPad), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignVCenter,
                         cells[c]);
        x += width;
    }
    return at.y() + height;
}

} // namespace

double drawTable(QPainter& painter, QPointF topLeft, const Table& table, bool ruled)
{
    QFont font = painter.font();
    font.setPointSizeF(8.5);
    double y = topLeft.y();
    double width = 0;
    for (double w : table.widths) width += w;
    const QPen rule(QColor(209, 213, 219), 0.6);
    if (!table.headings.isEmpty()) {
        font.setBold(true);
        painter.setFont(font);
        y = drawRow(painter, QPointF(topLeft.x(), y), table.headings, {}, table.widths);
        painter.setPen(QPen(QColor(107, 114, 128), 0.8));
        painter.drawLine(QPointF(topLeft.x(), y), QPointF(topLeft.x() + width, y));
    }
    font.setBold(false);
    painter.setFont(font);
    for (const Row& row : table.rows) {
        y = drawRow(painter, QPointF(topLeft.x(), y), row.cells, row.fill, table.widths);
        if (ruled) {
            painter.setPen(rule);
            painter.drawLine(QPointF(topLeft.x(), y), QPointF(topLeft.x() + width, y));
        }
    }
    return y;
}

} // namespace report
