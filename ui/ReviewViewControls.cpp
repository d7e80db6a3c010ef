// SPDX-License-Identifier: GPL-3.0-or-later
// Review: the controls in its header (the vertical scale, the axes in lanes or overlaid, the
// export of a stretch), the unit values are shown in, and pinching.
#include <QComboBox>
#include <QGestureEvent>
#include <QMenu>
#include <QNativeGestureEvent>
#include <QToolButton>

#include <algorithm>
#include <cmath>

#include "ui/ReviewView.h"

namespace {

constexpr int controlTop = 7, controlGap = 8;

} // namespace

void ReviewView::buildControls()
{
    scaleBox_ = new QComboBox(this);
    scaleBox_->setToolTip("Vertical scale: fitted to what is visible (A), or fixed ([ finer, ] coarser)");
    scaleBox_->setFocusPolicy(Qt::NoFocus);
    connect(scaleBox_, &QComboBox::activated, this, [this](int i) { setFixedScale(i - 1); });

    overlayButton_ = new QToolButton(this);
    overlayButton_->setText("Overlaid");
    overlayButton_->setCheckable(true);
    overlayButton_->setToolTip("The three axes in one lane (O)");
    overlayButton_->setFocusPolicy(Qt::NoFocus);
    connect(overlayButton_, &QToolButton::toggled, this, &ReviewView::setOverlaid);

    exportButton_ = new QToolButton(this);
    exportButton_->setText("Export range…");
    exportButton_->setToolTip("Writes the selection, or what lies between the cursors, to a file (X)");
    exportButton_->setFocusPolicy(Qt::NoFocus);
    connect(exportButton_, &QToolButton::clicked, this, &ReviewView::offerExport);
    setUnit(unit_);
}

void ReviewView::placeControls()
{
    placeMarkerList();
    double right = markerList_ && !markerList_->isHidden() ? markerList_->x() - controlGap : width() - 14;
    for (QWidget* w : std::initializer_list<QWidget*>{exportButton_, overlayButton_, scaleBox_}) {
        const QSize size = w->sizeHint();
        right -= size.width();
        w->setGeometry(int(right), controlTop, size.width(), std::max(size.height(), 26));
        right -= controlGap;
    }
}

void ReviewView::showControls()
{
    const QSignalBlocker quiet(scaleBox_), quietToo(overlayButton_);
    scaleBox_->setCurrentIndex(fixedScale_ + 1);
    overlayButton_->setChecked(overlaid_);
    exportButton_->setEnabled(exportableRange().has_value());
}

void ReviewView::setUnit(review::ValueUnit unit)
{
    unit_ = unit;
    const QSignalBlocker quiet(scaleBox_);
    scaleBox_->clear();
    scaleBox_->addItem("Scale: auto");
    for (int i = 0; i < int(review::fullScales(unit_).size()); ++i)
        scaleBox_->addItem(review::fullScaleLabel(unit_, i));
    showControls();
    placeControls();
    update();
}

void ReviewView::setFixedScale(int step)
{
    fixedScale_ = std::clamp(step, -1, int(review::fullScales(unit_).size()) - 1);
    showControls();
    update();
}

// From the automatic scale, the first step taken is the finest fixed one that holds what is
// visible in every lane; from there one step at a time.
void ReviewView::stepScale(int direction)
{
    if (fixedScale_ >= 0) return setFixedScale(std::max(fixedScale_ + direction, 0));
    double half = 0;
    for (int axis = 0; axis < 3; ++axis) {
        const auto [lo, hi] = laneRange(axis);
        half = std::max(half, (hi - lo) / 2);
    }
    const std::vector<double>& scales = review::fullScales(unit_);
    const int holding = int(std::lower_bound(scales.begin(), scales.end(), half * 0.999) - scales.begin());
    setFixedScale(std::min(holding, int(scales.size()) - 1));
}

void ReviewView::setOverlaid(bool overlaid)
{
    overlaid_ = overlaid;
    showControls();
    update();
}

std::optional<std::pair<platform::Micros, platform::Micros>> ReviewView::exportableRange() const
{
    if (selection_) return selection();
    if (!cursors_[0] || !cursors_[1]) return std::nullopt;
    // From reading to reading, both taken, as the cursors read them.
    const platform::Micros a = cursorReadings_[0] ? cursorReadings_[0]->dateStamp : *cursors_[0];
    const platform::Micros b = cursorReadings_[1] ? cursorReadings_[1]->dateStamp : *cursors_[1];
    return std::pair(std::min(a, b), std::max(a, b));
}

void ReviewView::offerExport()
{
    if (!exportableRange()) return;
    QMenu menu(this);
    menu.addAction("As .asc (tab-separated, milliseconds)", this, [this] { exportRange(false); });
    menu.addAction("As CSV (microseconds)", this, [this] { exportRange(true); });
    menu.exec(mapToGlobal(exportButton_->geometry().bottomLeft()));
}

void ReviewView::exportRange(bool csv)
{
    if (const auto range = exportableRange()) emit rangeExportRequested(session_, range->first, range->second, csv);
}

void ReviewView::pinch(double scale, QPointF at)
{
    if (!(scale > 0) || !std::isfinite(scale)) return;
    zoom(1.0 / scale, timeAt(at.x()));
}

bool ReviewView::gesture(QEvent* e)
{
    if (e->type() == QEvent::NativeGesture) {
        auto* g = static_cast<QNativeGestureEvent*>(e);
        if (g->gestureType() != Qt::ZoomNativeGesture) return false;
        // The value is the change of scale since the last event: 0.1 for ten per cent larger.
        pinch(1.0 + g->value(), g->position());
        e->accept();
        return true;
    }
    if (e->type() == QEvent::Gesture) {
        auto* pinchGesture = static_cast<QPinchGesture*>(static_cast<QGestureEvent*>(e)->gesture(Qt::PinchGesture));
        if (!pinchGesture) return false;
        if (pinchGesture->changeFlags() & QPinchGesture::ScaleFactorChanged)
            pinch(pinchGesture->scaleFactor(), mapFromGlobal(pinchGesture->centerPoint()));
        static_cast<QGestureEvent*>(e)->accept(pinchGesture);
        return true;
    }
    return false;
}
