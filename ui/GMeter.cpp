// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/GMeter.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr qreal kTraceWidth = 2.0;

const std::array<QColor, 3>& traceColours()
{
    static const std::array<QColor, 3> colours{QColor::fromRgbF(0.0f, 0.0f, 0.0f, 1.0f),
                                               QColor::fromRgbF(0.0f, 1.0f, 0.0f, 1.0f),
                                               QColor::fromRgbF(0.0f, 0.0f, 1.0f, 1.0f)};
    return colours;
}

QPen endPen(const QColor& colour)
{
    // Butt ends: a trace stops exactly at its newest and its oldest point.
    QPen pen(colour, kTraceWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(5.0); // sharp corners reach at most five line widths past their point
    return pen;
}

QPen middlePen(const QColor& colour)
{
    // Square ends close the corners where two separate segments meet.
    return QPen(colour, kTraceWidth, Qt::SolidLine, Qt::SquareCap);
}

// Points at each end of a trace drawn as one mitred polyline.
constexpr std::size_t kEndPoints = 3;

} // namespace

GMeter::GMeter(QWidget* parent)
    : QWidget(parent), endPens_{endPen(traceColours()[0]), endPen(traceColours()[1]), endPen(traceColours()[2])},
      middlePens_{middlePen(traceColours()[0]), middlePen(traceColours()[1]), middlePen(traceColours()[2])},
      gridPen_(QColor::fromRgbF(0.9f, 0.0f, 0.0f, 1.0f), 0.5, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin)
{
    // Every draw covers the whole view, so Qt need not clear it first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void GMeter::setGData(SharedViewBuffer buffer, std::uint64_t sampleCount)
{
    gData_ = std::move(buffer);
    sampleCount_ = sampleCount;
}

const SharedViewBuffer& GMeter::gData() const
{
    return gData_;
}

void GMeter::drawRect(QPainter& painter)
{
    if (gData_ && !gData_->empty()) {
        trace::tracePoints(*gData_, static_cast<float>(width()), points_);
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing, true);
        for (trace::Axis axis : trace::kAxes) {
            strokeTrace(painter, points_[axis], static_cast<int>(axis));
            strokeEnvelope(painter, axis);
        }
        painter.restore();
    }
    showGridInContext(painter);
    drawMarkers(painter);
    drawReadingAids(painter);
}

std::optional<float> GMeter::markerX(const Marker& marker) const
{
    // The newest row is the session's row sampleCount_ - 1.
    if (!gData_ || gData_->empty() || marker.row >= sampleCount_ + 1) return std::nullopt;
    const std::uint64_t older = sampleCount_ - std::min(marker.row, sampleCount_);
    if (older > gData_->size()) return std::nullopt;
    const float x = trace::rowX(static_cast<float>(width()), std::size_t(older)) + float(trace::kRowStep) / 2.0f;
    return x < 0.0f ? std::nullopt : std::optional<float>(x);
}

void GMeter::drawMarkers(QPainter& painter)
{
    if (markers_.empty()) return;
    painter.save();
    QFont font = painter.font();
    font.setPixelSize(12);
    painter.setFont(font);
    const QColor colour(0xf5, 0x9e, 0x0b); // amber: apart from the traces' and the grid's colours
    for (const Marker& marker : markers_) {
        const std::optional<float> x = markerX(marker);
        if (!x) continue;
        painter.setPen(QPen(colour, 2, Qt::DashLine));
        painter.drawLine(QPointF(*x, 18), QPointF(*x, height()));
        painter.setPen(colour);
        const QString text = painter.fontMetrics().elidedText(marker.text, Qt::ElideRight, 160);
        painter.drawText(QPointF(*x + 4, 14), text);
    }
    painter.restore();
}

// Rows that cover several readings (above 200 a second) show from their lowest to their highest
// value, so that no peak between two rows goes unseen.
void GMeter::strokeEnvelope(QPainter& painter, trace::Axis axis)
{
    const ViewBuffer& rows = *gData_;
    if (rows.empty() || !rows.back().envelope) return;
    const int a = static_cast<int>(axis);
    const double top = -8.0, bottom = double(height()) + 8.0;
    segments_.clear();
    std::size_t i = 0;
    for (auto row = rows.rbegin(); row != rows.rend(); ++row, ++i) {
        if (!row->envelope || row->low[std::size_t(a)] == row->high[std::size_t(a)]) continue;
        const double x = trace::rowX(static_cast<float>(width()), i);
        QPointF low(x, std::clamp<double>(trace::valueY(row->low[std::size_t(a)], axis), -1e9, 1e9));
        QPointF high(x, std::clamp<double>(trace::valueY(row->high[std::size_t(a)], axis), -1e9, 1e9));
        if (trace::clipToBand(low, high, top, bottom)) segments_.emplace_back(low, high);
    }
    painter.setPen(middlePens_[std::size_t(a)]);
    painter.drawLines(segments_.data(), static_cast<int>(segments_.size()));
}

void GMeter::drawReadingAids(QPainter& painter)
{
    // In the margin right of the needles, which nothing else uses: each trace's name at its base
    // line, and a bar as long as 1 g pointing the way positive g is drawn: down.
    const float w = static_cast<float>(width());
    const float margin = w - kAidsInset;
    if (margin < trace::kNewestInset * 0.5f) return; // too narrow a view to spare it
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    QFont font = painter.font();
    font.setPixelSize(14);
    font.setBold(true);
    painter.setFont(font);
    for (trace::Axis axis : trace::kAxes) {
        const int i = static_cast<int>(axis);
        painter.setPen(i == 1 ? QColor(0, 150, 0) : traceColours()[std::size_t(i)]);
        const QRectF box(margin, trace::baseLine(axis) - 10.0, 20.0, 20.0);
        painter.drawText(box, Qt::AlignCenter, QString("XYZ")[i]);
    }
    const double bottom = double(height()) - 24.0, top = bottom - double(trace::kPointsPerG);
    const double x = double(w) - 14.0;
    painter.setPen(QPen(QColor(55, 65, 81), 1.5));
    painter.drawLine(QPointF(x, top), QPointF(x, bottom));
    painter.drawLine(QPointF(x - 4, top), QPointF(x + 4, top));
    painter.drawLine(QPointF(x - 4, bottom - 6), QPointF(x, bottom));
    painter.drawLine(QPointF(x + 4, bottom - 6), QPointF(x, bottom));
    font.setPixelSize(11);
    font.setBold(false);
    painter.setFont(font);
    painter.drawText(QRectF(double(margin) - 8.0, top, x - double(margin) + 2.0, bottom - top), Qt::AlignCenter,
                     QString::fromUtf8("+1 g\n\u2193"));
    painter.restore();
}

// Qt strokes a long antialiased polyline of a noisy trace in milliseconds, but separate line
// segments in a fraction of that. So the segments between the ends go as lines with square ends
// and only the short ends as polylines, which keep butt ends at the first and the last point.
void GMeter::strokeTrace(QPainter& painter, const std::vector<QPointF>& points, int axis)
{
    const std::size_t n = points.size();
    auto strokeEnd = [&](std::size_t first, std::size_t count) {
        endPath_.clear();
        endPath_.moveTo(points[first]);
        for (std::size_t i = first + 1; i < first + count; ++i) endPath_.lineTo(points[i]);
        painter.strokePath(endPath_, endPens_[axis]);
    };
    if (n < 2) return; // a single point draws nothing
    // Beyond this margin nothing of a 2-wide line shows.
    const double top = -8.0, bottom = double(height()) + 8.0;
    const bool inside =
        std::all_of(points.begin(), points.end(), [&](const QPointF& p) { return p.y() >= top && p.y() <= bottom; });
    if (!inside) {
        segments_.clear();
        for (std::size_t i = 0; i + 1 < n; ++i) {
            // Far enough to keep every visible slope, near enough for exact arithmetic.
            auto tame = [](QPointF p) {
                return QPointF(p.x(), std::isnan(p.y()) ? 0.0 : std::clamp(p.y(), -1e9, 1e9));
            };
            QPointF a = tame(points[i]), b = tame(points[i + 1]);
            if (trace::clipToBand(a, b, top, bottom)) segments_.emplace_back(a, b);
        }
        painter.setPen(middlePens_[axis]);
        painter.drawLines(segments_.data(), static_cast<int>(segments_.size()));
        return;
    }
    if (n <= kEndPoints + 1) {
        strokeEnd(0, n);
        return;
    }
    segments_.clear();
    for (std::size_t i = 1; i + 2 < n; ++i) segments_.emplace_back(points[i], points[i + 1]);
    painter.setPen(middlePens_[axis]);
    painter.drawLines(segments_.data(), static_cast<int>(segments_.size()));
    strokeEnd(0, kEndPoints);
    strokeEnd(n - kEndPoints, kEndPoints);
}

void GMeter::showGridInContext(QPainter& painter)
{
    trace::gridLines(static_cast<float>(width()), static_cast<float>(height()), sampleCount_, grid_);
    gridPath_.clear();
    gridPath_.reserve(static_cast<int>(2 * (grid_.vertical.size() + grid_.horizontal.size())));
    for (const auto* lines : {&grid_.vertical, &grid_.horizontal}) {
        for (const QLineF& line : *lines) {
            gridPath_.moveTo(line.p1());
            gridPath_.lineTo(line.p2());
        }
    }
    painter.save();
    // Aliased: each line a crisp row or column of pixels, not a blur across two.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.strokePath(gridPath_, gridPen_);
    painter.restore();
}

void GMeter::setNeedsDisplay()
{
    update();
}

void GMeter::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    drawRect(painter);
}
