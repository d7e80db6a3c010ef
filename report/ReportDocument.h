// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A report drawn on A4 pages: page one with who and what the session is, the outline of its
// three axes with the markers, the spectrum with its peaks, the levels with their ISO zones, the
// analysis settings and the program's version; then the markers, then the comparison with the
// baseline when there is one. The same painting makes the PDF (vector, fonts embedded) and the
// PNG of each page.
#include <qcustomplot.h>
#include <QString>
#include <QStringList>

#include "cli/ReportContent.h"

namespace report {

// A page in the units it is painted in: A4 at 96 to the inch.
constexpr int kPageWidth = 794;
constexpr int kPageHeight = 1123;

class ReportDocument {
public:
    explicit ReportDocument(const cli::ReportContent& content);

    int pageCount() const;
    // Paints page `index` (from 0) in page units onto a white page.
    void paintPage(QCPPainter& painter, int index) const;

    // Writes the PDF; false with `error` set when the file cannot be written.
    bool writePdf(const QString& path, QString& error) const;
    // Writes one PNG per page at `dpi`, named from `pdfPath` (report.pdf: report-1.png, ...);
    // the files written, or false with `error` set.
    bool writePngs(const QString& pdfPath, int dpi, QStringList& written, QString& error) const;

private:
    void paintFirstPage(QCPPainter& painter) const;
    void paintMarkers(QCPPainter& painter, int first, int count) const;
    void paintBaseline(QCPPainter& painter) const;
    void paintFooter(QCPPainter& painter, int index) const;

    const cli::ReportContent& content_;
    int markerPages_ = 1;
};

} // namespace report
