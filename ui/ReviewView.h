// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Review of a stored session, in the place of the live traces: the three axes (X black, Y green,
// Z blue) each in its lane or all in one, with a scale fitted to what is visible or fixed, in g or
// m/s², a time axis in local clock
// time with the time since the session's start, and an overview strip of the whole session with
// the visible stretch marked. Each pixel column shows the lowest and highest reading it covers;
// when there are no more readings than columns they are drawn one by one, as points when few, and
// readings further apart than the session's usual spacing are never joined.
//
// Wheel, pinch and +/- zoom, a drag and the arrows pan, Home/End go to either end (End follows the
// newest readings while recording), F fits all. A click places a cursor (a second one measures the
// time between them and its frequency), C takes them away; a shift-drag selects a stretch to
// analyse. X exports the selection (or what lies between the cursors). [ and ] step through the
// fixed scales, A scales to what is visible again, O overlays the axes in one lane.
// The session's markers are amber lines with their text; the list in the header (Shift+M) goes
// to one, and M marks the moment of cursor A.
// Everything is read on the loader's thread: the window draws the latest answer.
#include <QPixmap>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/ReviewLoader.h"
#include "ui/ReviewScale.h"

class QComboBox;
class QToolButton;

class ReviewView : public QWidget {
    Q_OBJECT
public:
    explicit ReviewView(std::string storePath, QWidget* parent = nullptr);
    ~ReviewView() override;

    // Shows a session, all of it; following its newest readings when `live`.
    void showSession(store::ObjectId session, bool live);
    store::ObjectId session() const { return session_; }
    // While the session records, End follows its newest readings.
    void setRecording(bool recording) { recording_ = recording; }
    // Reads again what is on show (after a save): the newest readings when following them.
    void refresh();
    // The shown session's markers, in time order (kept in memory by the store: no read).
    void setMarkers(std::vector<store::MarkerRecord> markers);
    const std::vector<store::MarkerRecord>& markers() const { return markers_; }
    // A few seconds around the marker, with cursor A at it.
    void goToMarker(int i);

    // ---- what is on show, for tests and the benchmark ----
    platform::Micros from() const { return from_; }
    platform::Micros to() const { return to_; }
    bool following() const { return follow_; }
    // The latest answer drawn (its range may lag the view's while a read is under way).
    const ReviewLoader::Result* shown() const { return shown_.get(); }
    // Whether the answer drawn is for the range on show.
    bool upToDate() const;
    int plotWidth() const;
    std::optional<platform::Micros> cursor(int i) const { return cursors_[std::size_t(i)]; }
    void setCursor(int i, std::optional<platform::Micros> at);
    // The stretch chosen by the latest shift-drag, earliest first.
    std::optional<std::pair<platform::Micros, platform::Micros>> selection() const;
    // Where the three lanes are, and the list of markers.
    QRectF plotArea() const { return areas().plot; }
    QComboBox* markerList() const { return markerList_; }

    // ---- how values are shown ----
    void setUnit(review::ValueUnit unit);
    review::ValueUnit unit() const { return unit_; }
    // Scaled to what is visible (-1), or a fixed full scale: its place in review::fullScales.
    void setFixedScale(int step);
    int fixedScale() const { return fixedScale_; }
    // The three axes in one lane rather than each in its own.
    void setOverlaid(bool overlaid);
    bool overlaid() const { return overlaid_; }
    // A lane's lowest and highest value as drawn, in the unit.
    std::pair<double, double> laneRange(int axis) const;
    // The header's text: the session, then what the cursors read.
    QString readoutText() const { return readout(); }

    // The stretch an export takes: the selection, else from one cursor's reading to the other's.
    std::optional<std::pair<platform::Micros, platform::Micros>> exportableRange() const;
    // Asks for the export of that stretch; nothing without one.
    void exportRange(bool csv);
    QToolButton* exportButton() const { return exportButton_; }

signals:
    // A stretch chosen by a shift-drag.
    void rangeSelected(store::ObjectId session, platform::Micros from, platform::Micros to);
    // Escape: back to the live traces.
    void leaveRequested();
    // M: a marker asked for at this moment of the session (cursor A's).
    void markerRequested(store::ObjectId session, platform::Micros at);
    // The samples with from <= time <= to, to a file (CSV, else .asc).
    void rangeExportRequested(store::ObjectId session, platform::Micros from, platform::Micros to, bool csv);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // The rectangles of the lanes, the time axis and the overview.
    struct Geometry {
        QRectF plot; // the three lanes together
        std::array<QRectF, 3> lanes;
        QRectF timeAxis, overview;
    };
    Geometry areas() const;
    double xOf(platform::Micros t) const;
    platform::Micros timeAt(double x) const;

    // ---- the view's range ----
    void setRange(platform::Micros from, platform::Micros to, bool follow = false);
    void zoom(double factor, platform::Micros around);
    // A pinch: `scale` > 1 spreads the fingers, showing less time about the point between them.
    void pinch(double scale, QPointF at);
    bool gesture(QEvent* event);
    void pan(double fraction);
    void fitAll();
    void goToEnd();
    void load(ReviewLoader::Request::Span span = ReviewLoader::Request::Span::given, bool overviewAgain = false);
    void loaded(std::shared_ptr<const ReviewLoader::Result> result);
    platform::Micros shortestSpan() const;

    // ---- drawing ----
    void drawLanes(QPainter& p, const Geometry& g) const;
    void drawValueAxis(QPainter& p, const QRectF& lane, double lo, double hi) const;
    void drawEnvelope(QPainter& p, const Geometry& g, int axis, double lo, double hi) const;
    void drawReadings(QPainter& p, const Geometry& g, int axis, double lo, double hi) const;
    void drawTimeAxis(QPainter& p, const Geometry& g) const;
    void drawOverview(QPainter& p, const Geometry& g) const;
    void drawOverviewReadings(QPainter& p, const QRectF& area) const;
    void drawCursors(QPainter& p, const Geometry& g) const;
    void drawMarkers(QPainter& p, const Geometry& g) const;
    void fillMarkerList();
    void placeMarkerList();
    QString readout() const;
    // The header's controls: the scale, lanes or overlaid, export of the stretch.
    void buildControls();
    void placeControls();
    void showControls();
    // [ and ]: a finer or coarser fixed scale.
    void stepScale(int direction);
    void offerExport();
    // The range a lane shows, from what is drawn, in the unit.
    std::pair<double, double> valueRange(const store::Envelope& e, int axis) const;

    ReviewLoader loader_;
    store::ObjectId session_ = 0;
    platform::Micros from_ = 0, to_ = 1;
    bool follow_ = false;
    bool placed_ = false; // the range is known: a session's first answer has come
    bool recording_ = false;
    std::shared_ptr<const ReviewLoader::Result> shown_;
    std::optional<store::Envelope> overview_;
    // The overview's readings as last drawn: they change only when the session grows.
    mutable QPixmap overviewPicture_;
    store::SessionExtent extent_;
    std::optional<platform::Micros> cursors_[2];
    std::optional<store::SampleValues> cursorReadings_[2];
    std::optional<std::pair<platform::Micros, platform::Micros>> selection_;
    std::vector<store::MarkerRecord> markers_;
    QComboBox* markerList_ = nullptr;
    QComboBox* scaleBox_ = nullptr;
    QToolButton* overlayButton_ = nullptr;
    QToolButton* exportButton_ = nullptr;
    review::ValueUnit unit_ = review::ValueUnit::g;
    int fixedScale_ = -1;
    bool overlaid_ = false;
    platform::Micros listedFrom_ = 0; // the start the list's times count from
    // A press: where, and what it turns into (a pan, a selection, a cursor, the overview).
    enum class Drag { none, pan, select, overview } drag_ = Drag::none;
    QPointF pressAt_;
    platform::Micros pressFrom_ = 0, pressTo_ = 0;
    bool moved_ = false;
};
