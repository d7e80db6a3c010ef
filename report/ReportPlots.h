// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The report's plots, drawn by QCustomPlot as vectors into any painter (a PDF page, an image).
#include <qcustomplot.h>
#include <QRectF>

#include "cli/ReportContent.h"

namespace report {

// The three axes' outline over the span, with the markers as vertical lines.
void drawOverview(QCPPainter& painter, const QRectF& area, const cli::ReportContent& content);
// The spectrum with its peaks, and the baseline's dashed beneath when `withBaseline`.
void drawSpectrum(QCPPainter& painter, const QRectF& area, const cli::ReportContent& content, bool withBaseline);

} // namespace report
