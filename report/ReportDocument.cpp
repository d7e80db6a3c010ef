// SPDX-License-Identifier: GPL-3.0-or-later
#include "report/ReportDocument.h"

#include <QDateTime>
#include <QFileInfo>
#include <QImage>
#include <QPdfWriter>

#include <algorithm>

#include "cli/Times.h"
#include "report/ReportPlots.h"
#include "report/ReportTable.h"

#ifndef QUIVRA_VERSION
#define QUIVRA_VERSION "unknown"
#endif

namespace report {

namespace {

constexpr double kMargin = 56;
constexpr double kWidth = kPageWidth - 2 * kMargin;
constexpr int kMarkersPerPage = 40;

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}
QString q(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}
QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

// A change: signed, and 0 when it rounds to nothing.
QString change(double value)
{
    const QString text = fixed(value, 1);
    return text == "-0.0" || text == "0.0" ? "0.0" : (value > 0 ? "+" : "") + text;
}

QFont font(double points, bool bold = false)
{
    QFont f;
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

// Text in the page's width from `y` on; the y below it.
double paragraph(QPainter& painter, double y, const QString& text, const QFont& f, QColor colour = Qt::black)
{
    painter.setFont(f);
    painter.setPen(colour);
    QRectF used;
    painter.drawText(QRectF(kMargin, y, kWidth, 2000), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, text, &used);
    return y + used.height();
}

double heading(QPainter& painter, double y, const QString& text)
{
    return paragraph(painter, y + 10, text, font(11, true), QColor(31, 41, 55)) + 4;
}

QString sessionTitle(const cli::AnalysedSession& s)
{
    const QString number = "session " + QString::number(s.session.id);
    return s.session.identity.name.empty() ? number.at(0).toUpper() + number.mid(1)
                                           : q(s.session.identity.name) + " (" + number + ")";
}

QString spanText(const cli::AnalysedSession& s)
{
    return q(cli::isoLocal(s.span.first, 3)) + " to " + q(cli::isoLocal(s.span.last, 3)) + " ("
           + q(cli::durationText(s.span.last - s.span.first)) + ")";
}

QString orDash(const std::string& text)
{
    return text.empty() ? QString::fromUtf8("—") : q(text);
}

// Why the zones are no ISO verdict, or what they are judged for.
QString zoneVerdict(const analysis::Result& r)
{
    const QString machine = "ISO 10816-3 " + q(analysis::toText(r.settings.group)) + ", "
                            + q(analysis::toText(r.settings.foundation)) + " foundation";
    if (!r.hasVelocity)
        return r.hasSpectrum ? "No velocity: the band holds no frequency below half the sample rate."
                             : "No spectrum: too few samples without a gap, so no velocity, zone or peaks.";
    const QString band = "velocity RMS over " + fixed(r.bandLowHz, 1) + "-" + fixed(r.bandHighHz, 1) + " Hz";
    if (r.isoVerdict) return "Zones judged by " + machine + ", " + band + ".";
    QString why = "NOT an ISO 10816 verdict: the zones (" + machine + ") are for " + fixed(analysis::kIsoBandLowHz, 0)
                  + "-" + fixed(analysis::kIsoBandHighHz, 0) + " Hz, but the " + band
                  + (r.bandHighHz < r.settings.bandHighHz ? " (cut at the Nyquist frequency)" : " (the band set)");
    if (r.bandHighHz < analysis::kIsoBandHighHz)
        why +=
            "; a verdict needs at least " + q(cli::grouped(std::llround(analysis::kIsoBandRate))) + " samples a second";
    return why + ". The zones are a guide only.";
}

Table levelsTable(const analysis::Result& r)
{
    Table table{
        {"", "RMS (g)", "Peak (g)", "Crest", "Velocity RMS (mm/s)", "ISO zone"}, {100, 80, 80, 56, 160, 206}, {}};
    for (std::size_t a = 0; a <= 3; ++a) {
        const analysis::Levels& l = a < 3 ? r.axes[a].levels : r.magnitude;
        Row row{{a < 3 ? q(analysis::kAxisNames[a]).toUpper() : "magnitude", fixed(l.rms, 5), fixed(l.peak, 5),
                 fixed(l.crest, 2), "", ""},
                {}};
        if (a < 3 && r.hasVelocity) {
            const auto& axis = r.axes[a];
            row.cells[4] = fixed(axis.velocityRms, 2);
            row.cells[5] = q(analysis::zoneName(axis.zone)) + "  "
                           + (r.isoVerdict ? q(analysis::zoneMeaning(axis.zone)) : "(a guide only)");
            const analysis::Rgb c = analysis::zoneColour(axis.zone);
            row.fill[5] = r.isoVerdict ? QColor(c.r, c.g, c.b) : QColor(0xe5, 0xe7, 0xeb);
        }
        table.rows.push_back(row);
    }
    return table;
}

QString peaksText(const analysis::Result& r)
{
    if (!r.hasSpectrum || r.settings.peakCount == 0) return {};
    QString out = "Strongest peaks, amplitude in g peak:";
    for (std::size_t a = 0; a < 3; ++a) {
        out += "\n" + q(analysis::kAxisNames[a]).toUpper() + ":";
        if (r.axes[a].peaks.empty()) out += " none";
        for (const auto& peak : r.axes[a].peaks)
            out += (&peak == &r.axes[a].peaks.front() ? " " : ", ") + fixed(peak.frequency, 2) + " Hz "
                   + fixed(peak.amplitude, 5);
    }
    return out;
}

QString settingsText(const analysis::Result& r)
{
    const analysis::Settings& s = r.settings;
    return "FFT " + QString::number(r.fftSize) + " (" + fixed(r.binWidth, 4) + " Hz bins, Nyquist "
           + fixed(r.nyquist(), 1) + " Hz), " + q(analysis::toText(s.window)) + " window, "
           + q(analysis::toText(s.averaging)) + " averaging; velocity band " + fixed(s.bandLowHz, 1) + "-"
           + fixed(s.bandHighHz, 1) + " Hz; spectrum in " + q(analysis::unitLabel(s.unit)) + "; "
           + q(analysis::toText(s.group)) + ", " + q(analysis::toText(s.foundation)) + " foundation; "
           + QString::number(s.peakCount) + " peaks. " + q(cli::grouped(r.samples)) + " samples at "
           + fixed(r.sampleRate, 2) + " a second; " + q(cli::grouped(r.blocksUsed)) + " blocks used, "
           + q(cli::grouped(r.blocksSkipped)) + " left out for gaps.";
}

} // namespace

ReportDocument::ReportDocument(const cli::ReportContent& content) : content_(content)
{
    markerPages_ = std::max<int>(1, (int(content.markers.size()) + kMarkersPerPage - 1) / kMarkersPerPage);
}

int ReportDocument::pageCount() const
{
    return 1 + markerPages_ + (content_.baseline ? 1 : 0);
}

void ReportDocument::paintPage(QCPPainter& painter, int index) const
{
    painter.fillRect(QRectF(0, 0, kPageWidth, kPageHeight), Qt::white);
    if (index == 0)
        paintFirstPage(painter);
    else if (index <= markerPages_)
        paintMarkers(painter, (index - 1) * kMarkersPerPage, kMarkersPerPage);
    else
        paintBaseline(painter);
    paintFooter(painter, index);
}

void ReportDocument::paintFirstPage(QCPPainter& painter) const
{
    const cli::AnalysedSession& s = content_.current;
    const store::SessionIdentity& who = s.session.identity;
    double y = paragraph(painter, kMargin - 16, "Vibration report: " + sessionTitle(s), font(16, true));
    Table identity{{}, {110, 572}, {}};
    const std::pair<QString, QString> lines[] = {
        {"Machine", orDash(who.machine)},
        {"Point", orDash(who.point)},
        {"Direction", orDash(who.direction)},
        {"Notes", orDash(who.notes)},
        {"Started", q(cli::isoLocal(s.session.start))},
        {"Span", spanText(s)},
        {"Source", orDash(who.source)},
        {"Rate", (who.rate > 0 ? fixed(who.rate, 1) + " a second set, " : QString()) + fixed(s.result.sampleRate, 2)
                     + " a second measured"}};
    for (const auto& [name, value] : lines) identity.rows.push_back({{name, value}, {}});
    y = drawTable(painter, QPointF(kMargin, y + 8), identity, false);

    y = heading(painter, y, "The three axes" + QString(content_.markers.empty() ? "" : ", with the markers"));
    drawOverview(painter, QRectF(kMargin, y, kWidth, 190), content_);
    y = heading(painter, y + 190, "Spectrum" + QString(content_.baseline ? ", the baseline's dashed" : ""));
    drawSpectrum(painter, QRectF(kMargin, y, kWidth, 220), content_, true);
    y = heading(painter, y + 220, "Levels");
    y = drawTable(painter, QPointF(kMargin, y), levelsTable(s.result), true);
    y = paragraph(painter, y + 4, zoneVerdict(s.result), font(8.5));
    y = paragraph(painter, y + 6, peaksText(s.result), font(8.5));
    y = heading(painter, y, "Analysis settings");
    paragraph(painter, y, settingsText(s.result), font(8.5));
}

void ReportDocument::paintMarkers(QCPPainter& painter, int first, int count) const
{
    double y = paragraph(painter, kMargin - 16, "Markers", font(14, true));
    if (content_.markers.empty()) {
        paragraph(painter, y + 8, "No markers in the span reported.", font(9));
        return;
    }
    Table table{{"Time", "From the start", "Kind", "Text"}, {170, 100, 60, 352}, {}};
    const int end = std::min<int>(int(content_.markers.size()), first + count);
    for (int i = first; i < end; ++i) {
        const store::MarkerRecord& m = content_.markers[std::size_t(i)];
        table.rows.push_back({{q(cli::isoLocal(m.dateStamp, 3)),
                               fixed(double(m.dateStamp - content_.current.span.first) / 1e6, 3) + " s",
                               q(store::markerKindName(m.kind)), q(m.text)},
                              {}});
    }
    drawTable(painter, QPointF(kMargin, y + 8), table, true);
}

void ReportDocument::paintBaseline(QCPPainter& painter) const
{
    const cli::AnalysedSession& now = content_.current;
    const cli::AnalysedSession& base = *content_.baseline;
    double y = paragraph(painter, kMargin - 16, "Against the baseline", font(14, true));
    y = paragraph(painter, y + 6,
                  "Baseline: " + sessionTitle(base) + ", " + spanText(base) + ".\nNow: " + sessionTitle(now) + ", "
                      + spanText(now) + ".",
                  font(9));
    Table table{{"", "Baseline", "Now", "Change (dB)", "Change (%)"}, {200, 120, 120, 120, 122}, {}};
    auto add = [&](const QString& name, double was, double is, int decimals) {
        const analysis::LevelChange c = analysis::levelChange(was, is);
        Row row{{name, fixed(was, decimals), fixed(is, decimals), c.valid ? change(c.db) : QString::fromUtf8("—"),
                 c.valid ? change(c.percent) : QString::fromUtf8("—")},
                {}};
        // Louder by 6 dB or more is twice the level: worth a look.
        if (c.valid && c.db >= 6) row.fill[3] = row.fill[4] = QColor(254, 202, 202);
        table.rows.push_back(row);
    };
    for (std::size_t a = 0; a <= 3; ++a) {
        const QString axis = a < 3 ? q(analysis::kAxisNames[a]).toUpper() : "magnitude";
        const analysis::Levels& was = a < 3 ? base.result.axes[a].levels : base.result.magnitude;
        const analysis::Levels& is = a < 3 ? now.result.axes[a].levels : now.result.magnitude;
        add("RMS " + axis + " (g)", was.rms, is.rms, 5);
        add("Peak " + axis + " (g)", was.peak, is.peak, 5);
    }
    if (base.result.hasVelocity && now.result.hasVelocity)
        for (std::size_t a = 0; a < 3; ++a)
            add("Velocity RMS " + q(analysis::kAxisNames[a]).toUpper() + " (mm/s)", base.result.axes[a].velocityRms,
                now.result.axes[a].velocityRms, 2);
    y = drawTable(painter, QPointF(kMargin, y + 8), table, true);
    y = heading(painter, y, "Spectrum now, the baseline's dashed");
    drawSpectrum(painter, QRectF(kMargin, y, kWidth, 300), content_, true);
}

void ReportDocument::paintFooter(QCPPainter& painter, int index) const
{
    painter.setFont(font(7.5));
    painter.setPen(QColor(107, 114, 128));
    const QString text = "Quivra " + QString(QUIVRA_VERSION) + " \u00b7 report made "
                         + QDateTime::currentDateTime().toString(Qt::ISODate) + " \u00b7 page "
                         + QString::number(index + 1) + " of " + QString::number(pageCount());
    painter.drawText(QRectF(kMargin, kPageHeight - 36, kWidth, 14), Qt::AlignRight | Qt::AlignVCenter, text);
}

bool ReportDocument::writePdf(const QString& path, QString& error) const
{
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setResolution(96);
    writer.setCreator("Quivra " + QString(QUIVRA_VERSION));
    writer.setTitle("Vibration report: " + sessionTitle(content_.current));
    QCPPainter painter;
    if (!painter.begin(&writer)) {
        error = "cannot write " + path;
        return false;
    }
    painter.setMode(QCPPainter::pmVectorized);
    painter.setMode(QCPPainter::pmNoCaching);
    for (int i = 0; i < pageCount(); ++i) {
        if (i > 0) writer.newPage();
        paintPage(painter, i);
    }
    if (!painter.end()) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

bool ReportDocument::writePngs(const QString& pdfPath, int dpi, QStringList& written, QString& error) const
{
    const QFileInfo pdf(pdfPath);
    const QString stem = pdf.path() == "." ? pdf.completeBaseName() : pdf.dir().filePath(pdf.completeBaseName());
    const double scale = dpi / 96.0;
    for (int i = 0; i < pageCount(); ++i) {
        QImage image(int(kPageWidth * scale), int(kPageHeight * scale), QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QCPPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setRenderHint(QPainter::TextAntialiasing);
            painter.scale(scale, scale);
            paintPage(painter, i);
        }
        const QString path = stem + "-" + QString::number(i + 1) + ".png";
        if (!image.save(path, "PNG")) {
            error = "cannot write " + path;
            return false;
        }
        written << path;
    }
    return true;
}

} // namespace report
