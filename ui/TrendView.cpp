// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TrendView.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QDateTime>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/Iso10816.h"
#include "platform/DateFormatter.h"
#include <qcustomplot.h>

namespace {

// X, Y, Z as the traces draw them; overall and the RMS of the magnitude apart from them.
const std::array<QColor, 5> kColours{QColor(0, 0, 0), QColor(0, 170, 0), QColor(0, 0, 255), QColor(124, 58, 237),
                                     QColor(100, 116, 139)};
const std::array<const char*, 5> kNames{"X", "Y", "Z", "Overall", "RMS |a|"};
constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

QString dateText(platform::Micros at)
{
    return QString::fromStdString(platform::formatDate(at, "yyyy-MM-dd HH:mm"));
}

QString zonesText(const analysis::Settings& s)
{
    return QString("ISO 10816-3 zones of group %1 on a %2 foundation")
        .arg(s.group == analysis::MachineGroup::Group1 ? 1 : 2)
        .arg(s.foundation == analysis::Foundation::Rigid ? "rigid" : "flexible");
}

QString pointText(const TrendPoint& p)
{
    const store::SessionSummary& s = p.summary;
    QString text =
        QString("%1%2\n").arg(p.session.identity.name.empty() ? QString("Session %1").arg(p.session.id)
                                                              : QString::fromStdString(p.session.identity.name),
                              ", " + dateText(p.session.start));
    if (s.hasVelocity)
        text += QString("Velocity RMS X %1, Y %2, Z %3 mm/s, zone %4\n")
                    .arg(s.velocity[0], 0, 'f', 2)
                    .arg(s.velocity[1], 0, 'f', 2)
                    .arg(s.velocity[2], 0, 'f', 2)
                    .arg(QString::fromStdString(s.zone));
    return text + QString("RMS of |a| %1 g · tap to open").arg(s.rmsMagnitude, 0, 'f', 4);
}

} // namespace

TrendView::TrendView(const QString& place, QWidget* parent) : QDialog(parent), place_(place)
{
    setObjectName("trendView");
    setWindowTitle("Trend of " + place);
    setStyleSheet("QCheckBox { font-size: 14px; min-height: 40px; spacing: 8px; }"
                  " QCheckBox::indicator { width: 22px; height: 22px; }"
                  " QPushButton { font-size: 14px; min-height: 40px; min-width: 96px; }");
    auto* layout = new QVBoxLayout(this);
    heading_ = new QLabel(place, this);
    heading_->setWordWrap(true);
    heading_->setStyleSheet("font-size: 15px; font-weight: bold;");
    layout->addWidget(heading_);

    stack_ = new QStackedWidget(this);
    buildPlot();
    stack_->addWidget(plot_);
    message_ = new QLabel(this);
    message_->setWordWrap(true);
    message_->setAlignment(Qt::AlignCenter);
    message_->setStyleSheet("font-size: 15px; color: #4b5563; background: white;");
    stack_->addWidget(message_);
    layout->addWidget(stack_, 1);

    auto* row = new QHBoxLayout;
    for (std::size_t i = 0; i < shown_.size(); ++i) {
        shown_[i] = new QCheckBox(kNames[i], this);
        shown_[i]->setChecked(true);
        shown_[i]->setStyleSheet(QString("color: %1;").arg(kColours[i].name()));
        connect(shown_[i], &QCheckBox::toggled, this, [this, i](bool on) {
            graphs_[i]->setVisible(on);
            plot_->replot();
        });
        row->addWidget(shown_[i]);
    }
    row->addStretch(1);
    auto* hint = new QLabel("Tap a point to open its session", this);
    hint->setStyleSheet("color: #6b7280;");
    row->addWidget(hint);
    auto* close = new QPushButton("Close", this);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    row->addWidget(close);
    layout->addLayout(row);
    resize(960, 600);
}

void TrendView::buildPlot()
{
    plot_ = new QCustomPlot(this);
    plot_->setObjectName("trendPlot");
    plot_->setBackground(Qt::white);
    plot_->setMinimumSize(560, 320);
    plot_->setAntialiasedElements(QCP::aeAll);
    plot_->setPlottingHint(QCP::phFastPolylines, true);
    // The zones lie beneath the grid, which lies beneath the points.
    plot_->addLayer("zones", plot_->layer("grid"), QCustomPlot::limBelow);

    QSharedPointer<QCPAxisTickerDateTime> ticker(new QCPAxisTickerDateTime);
    ticker->setDateTimeFormat("d MMM yyyy\nHH:mm");
    ticker->setDateTimeSpec(Qt::LocalTime);
    plot_->xAxis->setTicker(ticker);
    plot_->xAxis->setLabel("Session start (local time)");
    plot_->yAxis->setLabel("Velocity RMS (mm/s)");
    plot_->yAxis2->setVisible(true);
    plot_->yAxis2->setLabel("RMS of |a| (g)");
    plot_->yAxis2->setLabelColor(kColours[4]);
    plot_->yAxis2->setTickLabelColor(kColours[4]);

    // The overall velocity first, broad and light, so that the axis it equals stays seen on it.
    for (std::size_t i : {3, 0, 1, 2, 4}) {
        QCPGraph* g = graphs_[i] = plot_->addGraph(plot_->xAxis, i < 4 ? plot_->yAxis : plot_->yAxis2);
        g->setName(i < 4 ? kNames[i] + QString(i < 3 ? " (mm/s)" : " velocity (mm/s)") : "RMS of |a| (g)");
        const bool overall = i == 3, rms = i == 4;
        // Light but opaque: a translucent broad line costs the painter dearly over many sessions.
        const QColor colour = overall ? QColor(183, 146, 241) : kColours[i];
        // Solid lines all: a dashed one over many sessions costs the painter dearly.
        g->setPen(QPen(colour, overall ? 6 : 1.5));
        g->setScatterStyle(overall ? QCPScatterStyle(QCPScatterStyle::ssDisc, colour, 15)
                                   : QCPScatterStyle(rms ? QCPScatterStyle::ssDiamond : QCPScatterStyle::ssCircle,
                                                     QPen(kColours[i], 1.5), QBrush(Qt::white), 8));
    }
    for (QCPGraph* g : graphs_) { // listed in the order of the boxes below
        g->removeFromLegend();
        g->addToLegend();
    }
    // The legend in a row of its own above the axes, where it never covers a point.
    plot_->legend->setVisible(true);
    plot_->legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
    plot_->legend->setBorderPen(Qt::NoPen);
    auto* legendRow = new QCPLayoutGrid;
    plot_->plotLayout()->insertRow(0);
    plot_->plotLayout()->addElement(0, 0, legendRow);
    plot_->plotLayout()->setRowStretchFactor(0, 0.001);
    legendRow->addElement(0, 0, plot_->legend);
    legendRow->addElement(0, 1, new QCPLayoutElement(plot_));
    legendRow->setColumnStretchFactors({0.001, 1.0});

    connect(plot_, &QCustomPlot::mousePress, this, [this](QMouseEvent* event) {
        if (const store::ObjectId session = sessionAt(event->position())) emit sessionChosen(session);
    });
    connect(plot_, &QCustomPlot::mouseMove, this, [this](QMouseEvent* event) { pointerMoved(event->position()); });
}

void TrendView::showMessage(const QString& text)
{
    message_->setText(text);
    stack_->setCurrentWidget(message_);
}

void TrendView::showTrend(const std::vector<TrendPoint>& points, const analysis::Settings& settings,
                          store::ObjectId current, store::ObjectId baseline)
{
    points_ = points;
    if (points.size() < 2) {
        heading_->setText(place_);
        showMessage(points.empty() ? "No session of " + place_ + " has samples to analyse yet."
                                   : "Only one session of " + place_
                                         + " has samples to analyse: a trend needs two or more. Record the point "
                                           "again later to follow it.");
        return;
    }
    std::array<QVector<double>, 5> values;
    QVector<double> keys;
    double highest = 0, highestRms = 0;
    for (const TrendPoint& p : points) {
        const store::SessionSummary& s = p.summary;
        keys.push_back(double(p.session.start) / 1e6);
        for (std::size_t a = 0; a < 3; ++a) values[a].push_back(s.hasVelocity ? s.velocity[a] : kNone);
        values[3].push_back(s.hasVelocity ? s.overallVelocity() : kNone);
        values[4].push_back(s.rmsMagnitude);
        if (s.hasVelocity) highest = std::max(highest, s.overallVelocity());
        highestRms = std::max(highestRms, s.rmsMagnitude);
    }
    for (std::size_t i = 0; i < graphs_.size(); ++i) graphs_[i]->setData(keys, values[i], true);
    // Smooth edges while they show; over hundreds of sessions the points lie too close to tell.
    if (points.size() > kSmoothPoints)
        plot_->setNotAntialiasedElements(QCP::aePlottables | QCP::aeScatters);
    else
        plot_->setAntialiasedElements(QCP::aeAll);

    const analysis::ZoneBoundaries zones = analysis::zoneBoundaries(settings.group, settings.foundation);
    const double top = std::max(highest * 1.15, zones.ab * 1.3);
    plot_->yAxis->setRange(0, top);
    plot_->yAxis2->setRange(0, highestRms > 0 ? highestRms * 1.15 : 1.0);
    const double span = keys.back() - keys.front();
    const double pad = std::max(span * 0.06, 60.0);
    plot_->xAxis->setRange(keys.front() - pad, keys.back() + pad);

    plot_->clearItems();
    drawZones(settings, top);
    if (baseline) markSession(baseline, "baseline", QColor(75, 85, 99));
    if (current && current != baseline) markSession(current, "this session", QColor(234, 88, 12));
    heading_->setText(
        QString("%1: %2 sessions, %3 to %4 · %5")
            .arg(place_)
            .arg(points.size())
            .arg(dateText(points.front().session.start), dateText(points.back().session.start), zonesText(settings)));
    stack_->setCurrentWidget(plot_);
    plot_->replot();
}

void TrendView::drawZones(const analysis::Settings& settings, double top)
{
    const analysis::ZoneBoundaries b = analysis::zoneBoundaries(settings.group, settings.foundation);
    const std::array<std::pair<double, double>, 4> bands{
        {{0, b.ab}, {b.ab, b.bc}, {b.bc, b.cd}, {b.cd, std::max(top, b.cd) * 10}}};
    for (std::size_t z = 0; z < bands.size(); ++z) {
        const analysis::Zone zone = analysis::Zone(z);
        const analysis::Rgb c = analysis::zoneColour(zone);
        auto* band = new QCPItemRect(plot_);
        band->setLayer("zones");
        band->setSelectable(false);
        for (QCPItemPosition* corner : {band->topLeft, band->bottomRight}) {
            corner->setTypeX(QCPItemPosition::ptAxisRectRatio);
            corner->setTypeY(QCPItemPosition::ptPlotCoords);
        }
        band->topLeft->setCoords(0, bands[z].second);
        band->bottomRight->setCoords(1, bands[z].first);
        band->setPen(Qt::NoPen);
        band->setBrush(QColor(c.r, c.g, c.b, 64));
        auto* label = new QCPItemText(plot_);
        label->setLayer("zones");
        label->setSelectable(false);
        label->position->setTypeX(QCPItemPosition::ptAxisRectRatio);
        label->position->setTypeY(QCPItemPosition::ptPlotCoords);
        label->position->setCoords(0.004, bands[z].first);
        label->setPositionAlignment(Qt::AlignLeft | Qt::AlignBottom);
        label->setText(QString::fromUtf8(analysis::zoneName(zone).data()));
        label->setFont(QFont(font().family(), 11, QFont::Bold));
        label->setColor(QColor(c.r * 6 / 10, c.g * 6 / 10, c.b * 6 / 10));
    }
}

void TrendView::markSession(store::ObjectId session, const QString& text, const QColor& colour)
{
    const auto it =
        std::find_if(points_.begin(), points_.end(), [&](const TrendPoint& p) { return p.session.id == session; });
    if (it == points_.end()) return;
    const double key = double(it->session.start) / 1e6;
    auto* line = new QCPItemStraightLine(plot_);
    line->setSelectable(false);
    line->point1->setCoords(key, 0);
    line->point2->setCoords(key, 1);
    line->setPen(QPen(colour, 1.2, Qt::DashLine));
    auto* label = new QCPItemText(plot_);
    label->setSelectable(false);
    label->position->setTypeX(QCPItemPosition::ptPlotCoords);
    label->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
    label->position->setCoords(key, 0.01);
    label->setPositionAlignment(Qt::AlignTop | Qt::AlignHCenter);
    label->setText(text);
    label->setColor(colour);
    label->setBrush(QColor(255, 255, 255, 220));
    label->setPadding(QMargins(3, 1, 3, 1));
}

store::ObjectId TrendView::sessionAt(QPointF pixel) const
{
    if (stack_->currentWidget() != plot_) return 0;
    double nearest = kReach;
    store::ObjectId found = 0;
    for (const QCPGraph* g : graphs_) {
        if (!g->visible()) continue;
        const int count = g->dataCount();
        for (int i = 0; i < count && std::size_t(i) < points_.size(); ++i) {
            const auto data = g->data()->at(i);
            if (!std::isfinite(data->value)) continue;
            const QPointF at = g->coordsToPixels(data->key, data->value);
            const double distance = std::hypot(at.x() - pixel.x(), at.y() - pixel.y());
            if (distance < nearest) {
                nearest = distance;
                found = points_[std::size_t(i)].session.id;
            }
        }
    }
    return found;
}

void TrendView::pointerMoved(QPointF pixel)
{
    const store::ObjectId session = sessionAt(pixel);
    plot_->setCursor(session ? Qt::PointingHandCursor : Qt::ArrowCursor);
    const auto it =
        std::find_if(points_.begin(), points_.end(), [&](const TrendPoint& p) { return p.session.id == session; });
    if (session && it != points_.end())
        QToolTip::showText(plot_->mapToGlobal(pixel.toPoint()), pointText(*it), plot_);
    else
        QToolTip::hideText();
}
