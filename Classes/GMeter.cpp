#include "Classes/GMeter.h"

#include <QPaintEvent>
#include <QPainter>

#include <utility>

namespace {

QPen tracePen(const QColor& colour)
{
    // Butt ends and mitred corners: the newest point ends its line exactly where it lies.
    QPen pen(colour, 2.0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(5.0); // a mitre up to ten line widths long, tip to inner corner
    return pen;
}

} // namespace

GMeter::GMeter(QWidget* parent)
    : QWidget(parent)
    , tracePens_{tracePen(QColor::fromRgbF(0.0f, 0.0f, 0.0f, 1.0f)),
                 tracePen(QColor::fromRgbF(0.0f, 1.0f, 0.0f, 1.0f)),
                 tracePen(QColor::fromRgbF(0.0f, 0.0f, 1.0f, 1.0f))}
    , gridPen_(QColor::fromRgbF(0.9f, 0.0f, 0.0f, 1.0f), 0.5, Qt::SolidLine, Qt::FlatCap,
               Qt::MiterJoin)
{
    // Every draw covers the whole view, so Qt need not clear it first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void GMeter::setGData(SharedViewBuffer buffer) { gData_ = std::move(buffer); }

const SharedViewBuffer& GMeter::gData() const { return gData_; }

void GMeter::setSampleCountSource(std::function<std::uint64_t()> source)
{
    sampleCount_ = std::move(source);
}

void GMeter::drawRect(QPainter& painter)
{
    if (gData_ && !gData_->empty()) {
        trace::tracePoints(*gData_, static_cast<float>(width()), points_);
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing, true);
        for (trace::Axis axis : trace::kAxes) {
            const auto& points = points_[axis];
            tracePath_.clear();
            tracePath_.reserve(static_cast<int>(points.size()));
            tracePath_.moveTo(points.front());
            for (std::size_t i = 1; i < points.size(); ++i)
                tracePath_.lineTo(points[i]);
            painter.strokePath(tracePath_, tracePens_[static_cast<int>(axis)]);
        }
        painter.restore();
    }
    showGridInContext(painter);
}

void GMeter::showGridInContext(QPainter& painter)
{
    const std::uint64_t count = sampleCount_ ? sampleCount_() : 0;
    trace::gridLines(static_cast<float>(width()), static_cast<float>(height()), count, grid_);
    gridPath_.clear();
    gridPath_.reserve(static_cast<int>(2 * (grid_.vertical.size() + grid_.horizontal.size())));
    for (const auto* lines : {&grid_.vertical, &grid_.horizontal}) {
        for (const QLineF& line : *lines) {
            gridPath_.moveTo(line.p1());
            gridPath_.lineTo(line.p2());
        }
    }
    painter.save();
    // Crisp lines one device pixel wide, as half a point is on a double-density screen.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.strokePath(gridPath_, gridPen_);
    painter.restore();
}

void GMeter::setNeedsDisplay() { update(); }

void GMeter::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    drawRect(painter);
}
