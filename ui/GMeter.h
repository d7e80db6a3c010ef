// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The trace view: the view buffer as three scrolling traces (X, Y, Z) under a scrolling red grid.
#include <QPainterPath>
#include <QPen>
#include <QWidget>

#include <array>
#include <cstdint>
#include <vector>

#include "ui/TraceGeometry.h"
#include "ui/ViewRow.h"

class QPainter;
class QPaintEvent;

class GMeter : public QWidget {
    Q_OBJECT
public:
    explicit GMeter(QWidget* parent = nullptr);

    // Keeps the very buffer the main screen appends to, so each draw sees its current rows, with
    // the active session's sample count, which sets the grid's phase. Does not redraw; callers ask
    // for that with setNeedsDisplay().
    void setGData(SharedViewBuffer buffer, std::uint64_t sampleCount = 0);
    const SharedViewBuffer& gData() const; // may be null, drawn as empty
    std::uint64_t sampleCount() const { return sampleCount_; }

    // Traces X, Y, Z in that order, then the grid over them, for the widget's current size.
    void drawRect(QPainter& painter);
    void showGridInContext(QPainter& painter);

    void setNeedsDisplay();

    // The axis names and the 1 g bar stand this far left of the right edge, right of the needles.
    static constexpr float kAidsInset = 62.0f;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void drawReadingAids(QPainter& painter);
    void strokeEnvelope(QPainter& painter, trace::Axis axis);
    void strokeTrace(QPainter& painter, const std::vector<QPointF>& points, int axis);

    SharedViewBuffer gData_;
    std::uint64_t sampleCount_ = 0;

    // Kept between draws so that a redraw reuses their storage.
    trace::TracePolylines points_;
    trace::GridLines grid_;
    std::vector<QLineF> segments_;
    QPainterPath endPath_;
    QPainterPath gridPath_;
    std::array<QPen, 3> endPens_;    // the two ends of a trace: butt ends, mitred corners
    std::array<QPen, 3> middlePens_; // the segments between them: square ends
    QPen gridPen_;
};
