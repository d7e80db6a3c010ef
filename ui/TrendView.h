// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The trend of one machine and point: each session a point in time order, its velocity RMS per
// axis and overall (the largest axis) over the ISO 10816-3 zones of the analysis settings, and
// its RMS of the magnitude on an axis of its own. A tap on a point chooses its session.
#include <QDialog>
#include <QPointF>
#include <QString>

#include <array>
#include <vector>

#include "analysis/Settings.h"
#include "recording/Trend.h"

class QCheckBox;
class QCPGraph;
class QCustomPlot;
class QLabel;
class QStackedWidget;

class TrendView : public QDialog {
    Q_OBJECT
public:
    // `place`: "Pump 3 · DE bearing".
    TrendView(const QString& place, QWidget* parent = nullptr);

    // Draws the points (oldest first) with the zones of the settings' group and foundation;
    // `current` and `baseline` (0: none) are marked. Fewer than two points give a message.
    void showTrend(const std::vector<TrendPoint>& points, const analysis::Settings& settings, store::ObjectId current,
                   store::ObjectId baseline);
    // A message in the place of the plot ("Working out the trend…", a failure).
    void showMessage(const QString& text);

    QCustomPlot* plot() const { return plot_; }
    // Velocity RMS of X, Y, Z and overall (0 to 3), then the RMS of the magnitude (4).
    QCPGraph* graph(int series) const { return graphs_[std::size_t(series)]; }
    // The session of the shown point nearest to `pixel` within a fingertip of it; 0 for none.
    store::ObjectId sessionAt(QPointF pixel) const;

    // How near a tap must come to a point to choose it, in pixels.
    static constexpr double kReach = 28.0;
    // Up to this many sessions the lines and points are drawn with smooth edges.
    static constexpr std::size_t kSmoothPoints = 300;

signals:
    void sessionChosen(store::ObjectId session);

private:
    void buildPlot();
    void drawZones(const analysis::Settings& settings, double top);
    void markSession(store::ObjectId session, const QString& text, const QColor& colour);
    void pointerMoved(QPointF pixel);

    QLabel* heading_ = nullptr;
    QLabel* message_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    QCustomPlot* plot_ = nullptr;
    std::array<QCPGraph*, 5> graphs_{};
    std::array<QCheckBox*, 5> shown_{};
    std::vector<TrendPoint> points_;
    QString place_;
};
