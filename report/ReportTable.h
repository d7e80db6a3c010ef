// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A table of text on a report page: a heading row, rows whose cells wrap, a fill for some cells.
#include <QColor>
#include <QPainter>
#include <QStringList>

#include <map>
#include <vector>

namespace report {

struct Row {
    QStringList cells;
    std::map<int, QColor> fill; // by column
};

struct Table {
    QStringList headings; // none: no heading row
    std::vector<double> widths;
    std::vector<Row> rows;
};

// Draws the table from `topLeft`, with lines between the rows when `ruled`; the y below it.
double drawTable(QPainter& painter, QPointF topLeft, const Table& table, bool ruled);

} // namespace report
