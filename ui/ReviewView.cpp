// SPDX-License-Identifier: GPL-3.0-or-later
// Review: what it draws. Its handling of keys, the wheel and the mouse is in ReviewViewInput.cpp.
#include "ui/ReviewView.h"

#include <QComboBox>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <array>
#include <cmath>

#include "platform/NumberText.h"
#include "ui/ReviewScale.h"

namespace {

const std::array<QColor, 3>& axisColours()
{
    // As the live traces: X black, Y green, Z blue.
    static const std::array<QColor, 3> colours{QColor(0, 0, 0), QColor(0, 150, 0), QColor(0, 0, 255)};
    return colours;
}
const char* const axisNames[3] = {"X", "Y", "Z"};

constexpr int headerHeight = 58, leftMargin = 70, rightMargin = 14, timeAxisHeight = 36, overviewHeight = 46;

// The lowest and highest of the axes in what is drawn, in g; nothing when nothing is drawn.
std::optional<std::pair<double, double>> extremes(const store::Envelope& e, int firstAxis, int lastAxis)
{
    double lo = INFINITY, hi = -INFINITY;
    for (const store::Envelope::Column& c : e.columns)
        if (c.count)
            for (int axis = firstAxis; axis <= lastAxis; ++axis)
                lo = std::min(lo, double(c.min[axis])), hi = std::max(hi, double(c.max[axis]));
    if (!std::isfinite(lo)) return std::nullopt;
    return std::pair(lo, hi);
}

// A little wider than the extremes, never narrower than 2 mg.
std::pair<double, double> padded(std::optional<std::pair<double, double>> range)
{
    if (!range) return {-1.0, 1.0};
    const auto [lo, hi] = *range;
    const double pad = std::max((hi - lo) * 0.06, 0.001);
    return {lo - pad, hi + pad};
}

} // namespace

ReviewView::ReviewView(std::string storePath, QWidget* parent) : QWidget(parent), loader_(std::move(storePath))
{
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(false);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    connect(&loader_, &ReviewLoader::loaded, this, &ReviewView::loaded);
    // Two fingers zoom time about the point between them.
    setAttribute(Qt::WA_AcceptTouchEvents);
    grabGesture(Qt::PinchGesture);
    buildControls();
}

ReviewView::~ReviewView() = default;

ReviewView::Geometry ReviewView::areas() const
{
    Geometry g;
    const double w = std::max(width() - leftMargin - rightMargin, 10);
    const double bottom = height() - overviewHeight - timeAxisHeight - 8;
    g.plot = QRectF(leftMargin, headerHeight, w, std::max(bottom - headerHeight, 30.0));
    const double gap = 8, lane = (g.plot.height() - 2 * gap) / 3;
    for (int a = 0; a < 3; ++a)
        g.lanes[std::size_t(a)] = overlaid_ ? g.plot : QRectF(g.plot.left(), g.plot.top() + a * (lane + gap), w, lane);
    g.timeAxis = QRectF(g.plot.left(), g.plot.bottom(), w, timeAxisHeight);
    g.overview = QRectF(g.plot.left(), g.timeAxis.bottom() + 4, w, overviewHeight - 8);
    return g;
}

int ReviewView::plotWidth() const
{
    return std::max(width() - leftMargin - rightMargin, 10);
}

double ReviewView::xOf(platform::Micros t) const
{
    return leftMargin + double(t - from_) * plotWidth() / double(to_ - from_ + 1);
}

platform::Micros ReviewView::timeAt(double x) const
{
    return from_ + platform::Micros(std::llround((x - leftMargin) * double(to_ - from_ + 1) / plotWidth()));
}

bool ReviewView::upToDate() const
{
    return shown_ && shown_->ok && shown_->request.from == from_ && shown_->request.to == to_
           && shown_->request.columns == plotWidth() && !loader_.busy();
}

void ReviewView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);
    const Geometry g = areas();
    p.setPen(QColor(31, 41, 51));
    QFont bold = font();
    bold.setBold(true);
    p.setFont(bold);
    if (!session_) {
        p.drawText(rect(), Qt::AlignCenter, "No session to review");
        return;
    }
    if (shown_ && !shown_->ok) {
        p.drawText(rect(), Qt::AlignCenter, "Cannot read the session: " + shown_->problem);
        return;
    }
    // The session beside the controls, what the cursors read below them.
    const QStringList lines = readout().split('\n');
    const double controlsLeft = scaleBox_ ? scaleBox_->x() - 8 : width() - 8;
    p.drawText(QRectF(8, 4, controlsLeft - 8, 28), Qt::AlignLeft | Qt::AlignVCenter, lines.front());
    p.setFont(font());
    p.drawText(QRectF(8, 32, width() - 16, headerHeight - 34), Qt::AlignLeft | Qt::AlignVCenter,
               lines.size() > 1 ? lines[1] : QString());
    if (shown_ && extent_.samples == 0) {
        p.drawText(g.plot, Qt::AlignCenter, "This session holds no saved readings yet");
        return;
    }
    // The time grid under the readings, so that it never reads as a gap.
    drawTimeAxis(p, g);
    drawLanes(p, g);
    drawOverview(p, g);
    // A cursor on a marker shows between its dashes.
    drawCursors(p, g);
    drawMarkers(p, g);
}

std::pair<double, double> ReviewView::valueRange(const store::Envelope& e, int axis) const
{
    const double f = review::unitFactor(unit_);
    // Overlaid, the axes share one scale.
    const auto seen = overlaid_ ? extremes(e, 0, 2) : extremes(e, axis, axis);
    if (fixedScale_ < 0) {
        const auto [lo, hi] = padded(seen);
        return {lo * f, hi * f};
    }
    // A fixed full scale about the middle of what is visible, held to a fifth of it so that it
    // does not shift with every small change.
    const double half = review::fullScales(unit_)[std::size_t(fixedScale_)], grid = half / 5;
    const double middle = seen ? std::round((seen->first + seen->second) / 2 * f / grid) * grid : 0.0;
    return {middle - half, middle + half};
}

std::pair<double, double> ReviewView::laneRange(int axis) const
{
    return shown_ ? valueRange(shown_->envelope, axis) : std::pair(-1.0, 1.0);
}

void ReviewView::drawLanes(QPainter& p, const Geometry& g) const
{
    if (selection_) {
        const double a = xOf(std::min(selection_->first, selection_->second)),
                     b = xOf(std::max(selection_->first, selection_->second));
        p.fillRect(QRectF(a, g.plot.top(), std::max(b - a, 1.0), g.plot.height()), QColor(255, 220, 120, 110));
    }
    QFont small = font();
    small.setPixelSize(11);
    for (int axis = 0; axis < 3; ++axis) {
        const QRectF& lane = g.lanes[std::size_t(axis)];
        const QColor& colour = axisColours()[std::size_t(axis)];
        // Overlaid, the lane and its scale are drawn once, and the names side by side.
        const bool first = !overlaid_ || axis == 0;
        p.setPen(colour);
        p.drawText(QRectF(4 + (overlaid_ ? 14 * axis : 0), lane.top(), 20, 18), Qt::AlignLeft | Qt::AlignTop,
                   axisNames[axis]);
        if (first) {
            p.setPen(QColor(203, 213, 225));
            p.drawRect(lane);
        }
        if (!shown_) continue;
        const auto [lo, hi] = valueRange(shown_->envelope, axis);
        if (first) {
            drawValueAxis(p, lane, lo, hi);
            p.setPen(overlaid_ ? QColor(31, 41, 51) : colour);
            p.drawText(QRectF(4, lane.bottom() - 18, 60, 18), Qt::AlignLeft | Qt::AlignBottom, review::unitName(unit_));
            p.setFont(small);
            p.setPen(QColor(100, 116, 139));
            p.drawText(QRectF(4, lane.bottom() - 32, 60, 14), Qt::AlignLeft | Qt::AlignBottom,
                       fixedScale_ < 0 ? QString("auto")
                                       : QString("±%1").arg(review::fullScales(unit_)[std::size_t(fixedScale_)]));
            p.setFont(font());
        }
        p.save();
        p.setClipRect(lane.adjusted(0, 0, 1, 1));
        if (shown_->envelope.hasReadings)
            drawReadings(p, g, axis, lo, hi);
        else
            drawEnvelope(p, g, axis, lo, hi);
        p.restore();
    }
}

void ReviewView::drawValueAxis(QPainter& p, const QRectF& lane, double lo, double hi) const
{
    // Ticks at least 22 px apart.
    const double step = review::roundStep(hi - lo, lane.height(), 22);
    const int decimals = std::max(0, int(-std::floor(std::log10(step))));
    for (double v : review::ticks(lo, hi, step)) {
        const double y = lane.bottom() - (v - lo) / (hi - lo) * lane.height();
        p.setPen(QColor(226, 232, 240));
        p.drawLine(QPointF(lane.left(), y), QPointF(lane.right(), y));
        p.setPen(QColor(71, 85, 105));
        p.drawLine(QPointF(lane.left() - 4, y), QPointF(lane.left(), y));
        p.drawText(QRectF(0, y - 8, lane.left() - 7, 16), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(v, 'f', std::min(decimals, 6)));
    }
}

void ReviewView::drawEnvelope(QPainter& p, const Geometry& g, int axis, double lo, double hi) const
{
    const store::Envelope& e = shown_->envelope;
    const QRectF& lane = g.lanes[std::size_t(axis)];
    const double f = review::unitFactor(unit_);
    auto y = [&](double v) { return lane.bottom() - (v * f - lo) / (hi - lo) * lane.height(); };
    const int n = int(e.columns.size());
    // A column's bar is a rectangle a pixel wide: filled, far cheaper than a line stroked.
    std::vector<QRect> bars;
    std::vector<QLineF> lines;
    bars.reserve(std::size_t(n));
    int previous = -1;
    for (int i = 0; i < n; ++i) {
        const store::Envelope::Column& c = e.columns[std::size_t(i)];
        if (!c.count) continue;
        const double x = std::floor(xOf(store::Envelope::columnStart(i, e.from, e.to, n)));
        double top = y(c.max[axis]), bottom = y(c.min[axis]);
        // Neighbours are joined unless the readings pause between them: a bar reaches its left
        // neighbour's, a line crosses empty columns.
        const store::Envelope::Column* b = previous >= 0 ? &e.columns[std::size_t(previous)] : nullptr;
        if (b && ((c.continues && previous == i - 1) || c.first - b->last <= extent_.gap)) {
            const double bTop = y(b->max[axis]), bBottom = y(b->min[axis]);
            if (previous == i - 1) {
                top = std::min(top, bBottom), bottom = std::max(bottom, bTop);
            } else {
                const double px = std::floor(xOf(store::Envelope::columnStart(previous, e.from, e.to, n))) + 0.5;
                lines.emplace_back(px, (bTop + bBottom) / 2, x + 0.5, (top + bottom) / 2);
            }
        }
        const int barTop = int(std::floor(top));
        bars.emplace_back(int(x), barTop, 1, std::max(int(std::floor(bottom)) - barTop, 0) + 1);
        previous = i;
    }
    const QColor& colour = axisColours()[std::size_t(axis)];
    p.setPen(QPen(colour, 1));
    p.drawLines(lines.data(), int(lines.size()));
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawRects(bars.data(), int(bars.size()));
    p.setBrush(Qt::NoBrush);
}

void ReviewView::drawReadings(QPainter& p, const Geometry& g, int axis, double lo, double hi) const
{
    const std::vector<store::SampleValues>& r = shown_->envelope.readings;
    const QRectF& lane = g.lanes[std::size_t(axis)];
    const double f = review::unitFactor(unit_);
    auto value = [axis](const store::SampleValues& s) { return axis == 0 ? s.x : axis == 1 ? s.y : s.z; };
    auto at = [&](const store::SampleValues& s) {
        return QPointF(xOf(s.dateStamp), lane.bottom() - (value(s) * f - lo) / (hi - lo) * lane.height());
    };
    const QColor& colour = axisColours()[std::size_t(axis)];
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(colour, 1.2));
    // Segments, not one line through them all: the stroke of a long line that crosses itself
    // costs far more to fill.
    std::vector<QLineF> lines;
    lines.reserve(r.size());
    for (std::size_t i = 1; i < r.size(); ++i)
        if (r[i].dateStamp - r[i - 1].dateStamp <= extent_.gap) lines.emplace_back(at(r[i - 1]), at(r[i]));
    p.drawLines(lines.data(), int(lines.size()));
    // Few enough to tell apart: each reading marked, with one dot drawn once and stamped.
    if (r.size() == 1 || int(r.size()) * 6 <= plotWidth()) {
        const qreal ratio = p.device()->devicePixelRatioF();
        QPixmap dot(QSize(6, 6) * ratio);
        dot.setDevicePixelRatio(ratio);
        dot.fill(Qt::transparent);
        {
            QPainter d(&dot);
            d.setRenderHint(QPainter::Antialiasing, true);
            d.setPen(Qt::NoPen);
            d.setBrush(colour);
            d.drawEllipse(QPointF(3, 3), 2.5, 2.5);
        }
        for (const store::SampleValues& s : r) p.drawPixmap(at(s) - QPointF(3, 3), dot);
    }
}

void ReviewView::drawTimeAxis(QPainter& p, const Geometry& g) const
{
    const platform::Micros step = review::timeStep(to_ - from_, g.timeAxis.width(), 110);
    p.setPen(QColor(71, 85, 105));
    p.drawLine(g.timeAxis.topLeft(), g.timeAxis.topRight());
    for (platform::Micros t : review::timeTicks(from_, to_, step)) {
        const double x = std::floor(xOf(t)) + 0.5;
        p.setPen(QColor(241, 245, 249));
        p.drawLine(QPointF(x, g.plot.top()), QPointF(x, g.plot.bottom()));
        p.setPen(QColor(71, 85, 105));
        p.drawLine(QPointF(x, g.timeAxis.top()), QPointF(x, g.timeAxis.top() + 4));
        const QRectF box(x - 60, g.timeAxis.top() + 4, 120, 15);
        p.drawText(box, Qt::AlignHCenter | Qt::AlignTop, review::clockLabel(t, step));
        p.setPen(QColor(100, 116, 139));
        p.drawText(box.translated(0, 15), Qt::AlignHCenter | Qt::AlignTop,
                   review::elapsedLabel(t, extent_.first, step));
    }
}

void ReviewView::drawOverview(QPainter& p, const Geometry& g) const
{
    const qreal ratio = p.device()->devicePixelRatioF();
    const QSize size = (g.overview.size() + QSizeF(1, 1)).toSize() * ratio;
    if (overviewPicture_.size() != size) {
        overviewPicture_ = QPixmap(size);
        overviewPicture_.setDevicePixelRatio(ratio);
        overviewPicture_.fill(QColor(248, 250, 252));
        QPainter o(&overviewPicture_);
        drawOverviewReadings(o, QRectF(QPointF(0, 0), g.overview.size()));
    }
    p.drawPixmap(g.overview.topLeft(), overviewPicture_);
    // The visible stretch.
    const double span = double(std::max<platform::Micros>(extent_.last - extent_.first, 1000));
    const double a = g.overview.left() + double(from_ - extent_.first) / span * g.overview.width();
    const double b = g.overview.left() + double(to_ - extent_.first) / span * g.overview.width();
    const QRectF marked(std::max(a, g.overview.left()), g.overview.top(),
                        std::max(std::min(b, g.overview.right()) - std::max(a, g.overview.left()), 2.0),
                        g.overview.height());
    p.fillRect(marked, QColor(37, 99, 235, 50));
    p.setPen(QPen(QColor(37, 99, 235), 1.5));
    p.drawRect(marked);
}

void ReviewView::drawOverviewReadings(QPainter& p, const QRectF& area) const
{
    p.setPen(QColor(203, 213, 225));
    p.drawRect(area);
    if (!overview_ || overview_->count == 0) return;
    const store::Envelope& o = *overview_;
    const int n = int(o.columns.size());
    for (int axis = 0; axis < 3; ++axis) {
        const auto [lo, hi] = padded(extremes(o, axis, axis));
        std::vector<QLineF> lines;
        for (int i = 0; i < n; ++i) {
            const store::Envelope::Column& c = o.columns[std::size_t(i)];
            if (!c.count) continue;
            const double x = area.left() + (i + 0.5) * area.width() / n;
            auto y = [&](double v) { return area.bottom() - 1 - (v - lo) / (hi - lo) * (area.height() - 2); };
            lines.emplace_back(x, y(c.max[axis]), x, std::max(y(c.min[axis]), y(c.max[axis]) + 1));
        }
        QColor colour = axisColours()[std::size_t(axis)];
        colour.setAlpha(110);
        p.setPen(colour);
        p.drawLines(lines.data(), int(lines.size()));
    }
}

void ReviewView::drawCursors(QPainter& p, const Geometry& g) const
{
    for (int i = 0; i < 2; ++i) {
        if (!cursors_[i]) continue;
        const double x = std::floor(xOf(*cursors_[i])) + 0.5;
        p.setPen(QPen(QColor(220, 38, 38), 1, i ? Qt::DashLine : Qt::SolidLine));
        p.drawLine(QPointF(x, g.plot.top()), QPointF(x, g.plot.bottom()));
        p.drawText(QRectF(x + 3, g.plot.top() + 1, 20, 14), Qt::AlignLeft, i ? "B" : "A");
    }
}

QString ReviewView::readout() const
{
    QString text = QString("Review · %1 readings")
                       .arg(QString::fromStdString(platform::groupedCount(static_cast<long long>(extent_.samples))));
    if (follow_) text += " · following the newest";
    text += '\n';
    const double f = review::unitFactor(unit_);
    for (int i = 0; i < 2; ++i) {
        if (!cursors_[i] || !cursorReadings_[i]) continue;
        const store::SampleValues& s = *cursorReadings_[i];
        text += QString("%1 %2  X %3  Y %4  Z %5 %6     ")
                    .arg(i ? "B" : "A", review::clockLabel(s.dateStamp, 1))
                    .arg(double(s.x) * f, 0, 'f', 4)
                    .arg(double(s.y) * f, 0, 'f', 4)
                    .arg(double(s.z) * f, 0, 'f', 4)
                    .arg(review::unitName(unit_));
    }
    if (cursorReadings_[0] && cursorReadings_[1] && cursors_[0] && cursors_[1]) {
        const platform::Micros d = std::llabs(cursorReadings_[1]->dateStamp - cursorReadings_[0]->dateStamp);
        text += QString("B − A %1").arg(review::durationLabel(d));
        if (d > 0) text += QString(" = %1 Hz").arg(1e6 / double(d), 0, 'g', 6);
    } else if (selection_) {
        text += "Selected " + review::durationLabel(std::llabs(selection_->second - selection_->first));
    }
    return text;
}
