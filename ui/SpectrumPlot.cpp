// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SpectrumPlot.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const std::array<QColor, 3> kAxisColours{QColor(0, 0, 0), QColor(0, 170, 0), QColor(0, 0, 255)};

// Levels that span decades read best on a logarithmic axis; decibels are already one.
bool logLevels(analysis::SpectrumUnit unit)
{
    return unit != analysis::SpectrumUnit::Decibel;
}

QString levelText(double value, analysis::SpectrumUnit unit)
{
    return QString::number(value, 'g', 4) + " " + QString::fromUtf8(analysis::unitLabel(unit).data());
}

} // namespace

SpectrumPlot::SpectrumPlot(QWidget* parent) : QCustomPlot(parent)
{
    setBackground(Qt::white);
    setMinimumSize(360, 240);
    // Redrawn five times a second while recording: thin aliased lines keep that cheap.
    setNotAntialiasedElements(QCP::aeAll);
    setAntialiasedElements(QCP::aeItems | QCP::aeScatters | QCP::aeLegend);
    setPlottingHint(QCP::phFastPolylines, true);
    xAxis->setLabel("Frequency (Hz)");
    // A baseline's spectra go beneath the current ones, half-way to white.
    for (int axis = 0; axis < 3; ++axis) {
        const QColor c = kAxisColours[std::size_t(axis)];
        QCPGraph* g = baseline_[std::size_t(axis)] = addGraph();
        g->setPen(QPen(QColor((c.red() + 255) / 2, (c.green() + 255) / 2, (c.blue() + 255) / 2), 1.0, Qt::DashLine));
        g->setName("baseline");
        g->setVisible(false);
        g->removeFromLegend();
    }
    for (int axis = 0; axis < 3; ++axis) {
        graphs_[std::size_t(axis)] = addGraph();
        graphs_[std::size_t(axis)]->setPen(QPen(kAxisColours[std::size_t(axis)], 1.2));
        graphs_[std::size_t(axis)]->setName(QString("XYZ")[axis]);
    }
    peaks_ = addGraph();
    peaks_->setLineStyle(QCPGraph::lsNone);
    peaks_->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, QColor(220, 38, 38), Qt::white, 7));
    peaks_->setName("peaks");
    legend->setVisible(true);
    legend->removeItem(legend->itemCount() - 1); // the peaks need no entry
    legend->setFont(QFont(font().family(), 8));
    // In a row of its own above the axes, where it never covers a curve; kept to its own width
    // at the right by a spacer that takes the rest.
    auto* legendRow = new QCPLayoutGrid;
    plotLayout()->insertRow(0);
    plotLayout()->addElement(0, 0, legendRow);
    plotLayout()->setRowStretchFactor(0, 0.001);
    legendRow->addElement(0, 0, new QCPLayoutElement(this));
    legendRow->addElement(0, 1, legend);
    legendRow->setColumnStretchFactors({1.0, 0.001});
    legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
    legend->setBorderPen(Qt::NoPen);
    legend->setMargins(QMargins(4, 2, 4, 0));

    readout_ = new QCPItemText(this);
    readout_->setPositionAlignment(Qt::AlignTop | Qt::AlignLeft);
    readout_->position->setType(QCPItemPosition::ptAxisRectRatio);
    readout_->position->setCoords(0.01, 0.01);
    readout_->setFont(QFont(font().family(), 8));
    readout_->setColor(QColor(55, 65, 81));
    readout_->setText({});
    empty_ = new QCPItemText(this);
    empty_->position->setType(QCPItemPosition::ptAxisRectRatio);
    empty_->position->setCoords(0.5, 0.5);
    empty_->setColor(QColor(107, 114, 128));
    cursor_ = new QCPItemStraightLine(this);
    cursor_->setPen(QPen(QColor(148, 163, 184), 1, Qt::DashLine));
    cursor_->setVisible(false);

    connect(this, &QCustomPlot::mouseMove, this, &SpectrumPlot::pointerMoved);
    connect(this, &QCustomPlot::afterLayout, this, &SpectrumPlot::placePeakLabels);
    showNothing("No analysis yet");
}

void SpectrumPlot::setLogFrequency(bool log)
{
    logFrequency_ = log;
    xAxis->setScaleType(log ? QCPAxis::stLogarithmic : QCPAxis::stLinear);
    xAxis->setTicker(log ? QSharedPointer<QCPAxisTicker>(new QCPAxisTickerLog)
                         : QSharedPointer<QCPAxisTicker>(new QCPAxisTicker));
    fitAxes();
    replot(QCustomPlot::rpQueuedReplot);
}

// The 0 Hz bin holds what is left of the mean; it has no place on a log axis, and a log axis
// cannot show zero: the smallest level sits at the bottom.
static void setSpectrum(QCPGraph* graph, const analysis::Result& result, std::size_t axis)
{
    QVector<double> f, level;
    const auto& spectrum = result.axes[axis].spectrum;
    f.reserve(int(spectrum.size()));
    level.reserve(int(spectrum.size()));
    for (std::size_t k = 1; k < spectrum.size() && k < result.frequencies.size(); ++k) {
        f.push_back(result.frequencies[k]);
        level.push_back(logLevels(result.settings.unit) ? std::max<double>(spectrum[k], 1e-12) : double(spectrum[k]));
    }
    graph->setData(f, level, true);
}

void SpectrumPlot::showBaseline(const analysis::Result* baseline)
{
    const bool shown = baseline && baseline->hasSpectrum;
    for (std::size_t axis = 0; axis < 3; ++axis) {
        if (shown)
            setSpectrum(baseline_[axis], *baseline, axis);
        else
            baseline_[axis]->data()->clear();
        baseline_[axis]->setVisible(shown);
    }
    if (shown && !legend->hasItemWithPlottable(baseline_[0])) baseline_[0]->addToLegend();
    if (!shown) baseline_[0]->removeFromLegend();
    replot(QCustomPlot::rpQueuedReplot);
}

void SpectrumPlot::showNothing(const QString& why)
{
    result_ = {};
    for (QCPGraph* g : graphs_) g->data()->clear();
    peaks_->data()->clear();
    for (QCPItemText* label : peakLabels_) removeItem(label);
    peakLabels_.clear();
    empty_->setText(why);
    empty_->setVisible(true);
    readout_->setText({});
    cursor_->setVisible(false);
    replot(QCustomPlot::rpQueuedReplot);
}

void SpectrumPlot::showResult(const analysis::Result& result)
{
    if (!result.hasSpectrum) {
        showNothing("Not enough samples for a spectrum yet");
        return;
    }
    result_ = result;
    empty_->setVisible(false);
    const analysis::SpectrumUnit unit = result.settings.unit;
    for (std::size_t axis = 0; axis < 3; ++axis) setSpectrum(graphs_[axis], result, axis);
    peaks_->data()->clear();
    for (QCPItemText* label : peakLabels_) removeItem(label);
    peakLabels_.clear();
    for (int axis = 0; axis < 3; ++axis) {
        const auto& peaks = result.axes[std::size_t(axis)].peaks;
        for (std::size_t i = 0; i < peaks.size(); ++i) {
            const double level = logLevels(unit) ? std::max<double>(peaks[i].level, 1e-12) : double(peaks[i].level);
            peaks_->addData(peaks[i].frequency, level);
            if (i > 0) continue; // each axis names its strongest one
            // The same tone on several axes is named once.
            const double nyquist = result.frequencies.empty() ? 1.0 : result.frequencies.back();
            const bool named = std::any_of(peakLabels_.begin(), peakLabels_.end(), [&](QCPItemText* other) {
                return std::abs(other->position->coords().x() - peaks[i].frequency) < 0.02 * nyquist;
            });
            if (named) continue;
            auto* label = new QCPItemText(this);
            label->setObjectName("peakLabel");
            label->position->setCoords(peaks[i].frequency, level);
            label->setFont(QFont(font().family(), 8));
            label->setColor(kAxisColours[std::size_t(axis)]);
            label->setText(QString::number(peaks[i].frequency, 'f', 2) + " Hz");
            peakLabels_.push_back(label);
        }
    }
    yAxis->setLabel(QString::fromUtf8(analysis::unitLabel(unit).data()));
    // Nothing above the Nyquist frequency can be told apart: faster vibration shows folded below it.
    xAxis->setLabel(QString("Frequency (Hz) · Nyquist %1 Hz").arg(result.nyquist(), 0, 'g', 5));
    yAxis->setScaleType(logLevels(unit) ? QCPAxis::stLogarithmic : QCPAxis::stLinear);
    yAxis->setTicker(logLevels(unit) ? QSharedPointer<QCPAxisTicker>(new QCPAxisTickerLog)
                                     : QSharedPointer<QCPAxisTicker>(new QCPAxisTicker));
    fitAxes();
    if (cursor_->visible()) readout_->setText(readoutAt(cursor_->point1->coords().x()));
    replot(QCustomPlot::rpQueuedReplot);
}

// Each peak's name stands above its mark, or beside it where the top is too near, and leans away
// from the edges: it is always read whole.
void SpectrumPlot::placePeakLabels()
{
    const QRect area = axisRect()->rect();
    for (QCPItemText* label : peakLabels_) {
        const QPointF point(xAxis->coordToPixel(label->position->coords().x()),
                            yAxis->coordToPixel(label->position->coords().y()));
        const QFontMetrics metrics(label->font());
        const int width = metrics.horizontalAdvance(label->text()), height = metrics.height();
        constexpr int gap = 6;
        if (point.y() - gap - height >= area.top()) {
            Qt::Alignment side = Qt::AlignHCenter;
            if (point.x() - width / 2.0 < area.left())
                side = Qt::AlignLeft;
            else if (point.x() + width / 2.0 > area.right())
                side = Qt::AlignRight;
            label->setPositionAlignment(Qt::AlignBottom | side);
            label->setPadding(QMargins(0, 0, 0, gap));
        } else {
            const bool right = point.x() + gap + width <= area.right();
            label->setPositionAlignment((right ? Qt::AlignLeft : Qt::AlignRight)
                                        | (point.y() - height / 2.0 < area.top() ? Qt::AlignTop : Qt::AlignVCenter));
            label->setPadding(right ? QMargins(gap, 0, 0, 0) : QMargins(0, 0, gap, 0));
        }
    }
}

void SpectrumPlot::fitAxes()
{
    if (!result_.hasSpectrum || result_.frequencies.size() < 2) return;
    const double nyquist = result_.frequencies.back();
    xAxis->setRange(logFrequency_ ? std::max(result_.binWidth, 0.1) : 0.0, nyquist);
    double low = std::numeric_limits<double>::max(), high = std::numeric_limits<double>::lowest();
    for (QCPGraph* g : graphs_)
        for (auto it = g->data()->constBegin(); it != g->data()->constEnd(); ++it) {
            low = std::min(low, it->value);
            high = std::max(high, it->value);
        }
    if (low > high) return;
    if (logLevels(result_.settings.unit)) {
        // Four decades below the strongest level hold everything worth reading.
        yAxis->setRange(std::max(low, high * 1e-5), high * 3);
    } else {
        yAxis->setRange(std::max(low, high - 100.0), high + 6.0);
    }
}

QString SpectrumPlot::readoutAt(double frequency) const
{
    if (!result_.hasSpectrum || result_.frequencies.size() < 2) return {};
    const double binWidth = result_.frequencies[1] - result_.frequencies[0];
    const auto bin =
        std::size_t(std::clamp(std::lround(frequency / binWidth), 0L, long(result_.frequencies.size()) - 1));
    QString text = QString::number(result_.frequencies[bin], 'f', 2) + " Hz";
    for (int axis = 0; axis < 3; ++axis) {
        const auto& spectrum = result_.axes[std::size_t(axis)].spectrum;
        if (bin < spectrum.size())
            text += QString("   %1 %2").arg(QString("XYZ")[axis]).arg(levelText(spectrum[bin], result_.settings.unit));
    }
    return text;
}

void SpectrumPlot::pointerMoved(QMouseEvent* event)
{
    if (!result_.hasSpectrum || !axisRect()->rect().contains(event->position().toPoint())) {
        cursor_->setVisible(false);
        readout_->setText({});
        replot(QCustomPlot::rpQueuedReplot);
        return;
    }
    const double frequency = xAxis->pixelToCoord(event->position().x());
    cursor_->point1->setCoords(frequency, 0);
    cursor_->point2->setCoords(frequency, 1);
    cursor_->setVisible(true);
    readout_->setText(readoutAt(frequency));
    replot(QCustomPlot::rpQueuedReplot);
}
