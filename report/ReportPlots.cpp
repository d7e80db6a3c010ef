// SPDX-License-Identifier: GPL-3.0-or-later
#include "report/ReportPlots.h"

#include <cmath>

#include "cli/Times.h"
#include "ui/SpectrumPlot.h"

namespace report {

namespace {

const QColor kAxisColours[3] = {QColor(0, 0, 0), QColor(0, 170, 0), QColor(0, 0, 255)};

// Lays the plot out at the area's size and draws it there.
void drawAt(QCPPainter& painter, const QRectF& area, QCustomPlot& plot)
{
    plot.resize(area.size().toSize());
    plot.replot(QCustomPlot::rpImmediateRefresh);
    painter.save();
    painter.translate(area.topLeft());
    plot.toPainter(&painter, int(area.width()), int(area.height()));
    painter.restore();
}

void addMarkers(QCustomPlot& plot, const cli::ReportContent& content)
{
    const platform::Micros from = content.outline.from;
    for (const store::MarkerRecord& m : content.markers) {
        const double t = double(m.dateStamp - from) / 1e6;
        auto* line = new QCPItemStraightLine(&plot);
        line->point1->setCoords(t, 0);
        line->point2->setCoords(t, 1);
        line->setPen(QPen(QColor(217, 119, 6), 1.0, Qt::DashLine));
        auto* label = new QCPItemText(&plot);
        label->position->setTypeX(QCPItemPosition::ptPlotCoords);
        label->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
        label->position->setCoords(t, 0.03);
        label->setPositionAlignment(Qt::AlignTop | Qt::AlignLeft);
        label->setPadding(QMargins(3, 1, 0, 0));
        label->setFont(QFont(plot.font().family(), 7));
        label->setColor(QColor(180, 83, 9));
        label->setBrush(QColor(255, 255, 255, 220));
        label->setText(QString::fromStdString(m.text).left(24));
    }
}

} // namespace

void drawOverview(QCPPainter& painter, const QRectF& area, const cli::ReportContent& content)
{
    QCustomPlot plot;
    plot.setBackground(Qt::white);
    const cli::Outline& outline = content.outline;
    const double span = double(outline.to - outline.from) / 1e6;
    const auto slices = outline.low.size();
    for (std::size_t a = 0; a < 3; ++a) {
        QCPGraph* graph = plot.addGraph();
        graph->setPen(QPen(kAxisColours[a], 0.8));
        graph->setName(QString("XYZ")[int(a)]);
        QVector<double> keys, values;
        for (std::size_t i = 0; i < slices; ++i) {
            if (std::isnan(outline.low[i][a])) continue;
            // Each slice a stroke from its lowest to its highest value.
            const double t = span * (double(i) + 0.5) / double(slices);
            keys << t << t;
            values << outline.low[i][a] << outline.high[i][a];
        }
        graph->setData(keys, values, true);
    }
    plot.rescaleAxes();
    plot.xAxis->setRange(0, std::max(span, 1e-3));
    const QCPRange y = plot.yAxis->range();
    plot.yAxis->setRange(y.lower - 0.05 * y.size(), y.upper + 0.05 * y.size());
    plot.xAxis->setLabel("Seconds from " + QString::fromStdString(cli::isoLocal(outline.from, 3)));
    plot.yAxis->setLabel("g");
    plot.legend->setVisible(true);
    plot.legend->setFont(QFont(plot.font().family(), 7));
    plot.axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignVCenter | Qt::AlignRight);
    addMarkers(plot, content);
    drawAt(painter, area, plot);
}

void drawSpectrum(QCPPainter& painter, const QRectF& area, const cli::ReportContent& content, bool withBaseline)
{
    SpectrumPlot plot;
    plot.showResult(content.current.result);
    if (withBaseline && content.baseline) plot.showBaseline(&content.baseline->result);
    drawAt(painter, area, plot);
}

} // namespace report
