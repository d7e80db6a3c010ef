// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The trace view: the view buffer as three scrolling traces (X, Y, Z) under a scrolling red grid.
#include <QPainterPath>
#include <QPen>
#include <QString>
#include <QWidget>

#include <array>
#include <optional>
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

    // Markers of the shown session, each at the row it fell on (rows counted from the session's
    // first, as the sample count given with the buffer counts them); drawn as vertical lines that
    // scroll with the traces, their text at the top.
    struct Marker {
        std::uint64_t row = 0;
        QString text;
    };
    void setMarkers(std::vector<Marker> markers) { markers_ = std::move(markers); }
    const std::vector<Marker>& markers() const { return markers_; }
    // Where a marker's line is drawn now; nothing when it has scrolled out of the view.
    std::optional<float> markerX(const Marker& marker) const;

    // The axis names and the 1 g bar stand this far left of the right edge, right of the needles.
    static constexpr float kAidsInset = 62.0f;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void drawReadingAids(QPainter& painter);
    void drawMarkers(QPainter& painter);
    void strokeEnvelope(QPainter& painter, trace::Axis axis);
    void strokeTrace(QPainter& painter, const std::vector<QPointF>& points, int axis);

    SharedViewBuffer gData_;
    std::uint64_t sampleCount_ = 0;
    std::vector<Marker> markers_;

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
