// SPDX-License-Identifier: GPL-3.0-or-later
// Review: the session's markers, drawn at their time, and the list in the header that goes to one.
#include <QComboBox>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "ui/ReviewScale.h"
#include "ui/ReviewView.h"

namespace {

constexpr int listWidth = 240, listTop = 7;
// Chosen from the list: this much either side of the marker.
constexpr platform::Micros aroundMarker = 2'000'000;

} // namespace

void ReviewView::setMarkers(std::vector<store::MarkerRecord> markers)
{
    markers_ = std::move(markers);
    fillMarkerList();
    update();
}

void ReviewView::fillMarkerList()
{
    if (!markerList_) {
        markerList_ = new QComboBox(this);
        markerList_->setToolTip("Go to a marker (Shift+M)");
        markerList_->setMaxVisibleItems(20);
        // activated: choosing the same marker again goes back to it.
        connect(markerList_, &QComboBox::activated, this, &ReviewView::goToMarker);
        placeMarkerList();
    }
    listedFrom_ = extent_.first;
    const int chosen = markerList_->currentIndex();
    markerList_->clear();
    markerList_->setPlaceholderText(QString("Markers (%1)").arg(markers_.size()));
    for (const store::MarkerRecord& m : markers_) {
        const QString since = review::elapsedLabel(m.dateStamp, listedFrom_ ? listedFrom_ : m.dateStamp, 100'000);
        markerList_->addItem(since + "  " + QString::fromStdString(m.text));
    }
    markerList_->setCurrentIndex(chosen < markerList_->count() ? chosen : -1);
    markerList_->setVisible(!markers_.empty());
    placeControls();
}

void ReviewView::placeMarkerList()
{
    if (!markerList_) return;
    const int w = std::min(listWidth, std::max(width() / 3, 80));
    markerList_->setGeometry(width() - w - 14, listTop, w, markerList_->sizeHint().height());
}

void ReviewView::goToMarker(int i)
{
    if (i < 0 || i >= int(markers_.size())) return;
    const platform::Micros at = markers_[std::size_t(i)].dateStamp;
    if (markerList_ && markerList_->currentIndex() != i) markerList_->setCurrentIndex(i);
    cursors_[0] = at;
    cursorReadings_[0].reset();
    setRange(at - aroundMarker, at + aroundMarker);
    setFocus();
}

void ReviewView::drawMarkers(QPainter& p, const Geometry& g) const
{
    if (markers_.empty()) return;
    p.save();
    p.setClipRect(g.plot.adjusted(0, 0, 1, 1));
    QFont small = font();
    small.setPixelSize(12);
    p.setFont(small);
    const QColor colour(0xf5, 0x9e, 0x0b); // amber, as on the live traces
    for (const store::MarkerRecord& m : markers_) {
        if (m.dateStamp < from_ || m.dateStamp > to_) continue;
        const double x = std::floor(xOf(m.dateStamp)) + 0.5;
        const QString text = p.fontMetrics().elidedText(QString::fromStdString(m.text), Qt::ElideRight, 160);
        for (const QRectF& lane : g.lanes) {
            p.setPen(QPen(colour, 1, Qt::DashLine));
            p.drawLine(QPointF(x, lane.top()), QPointF(x, lane.bottom()));
            p.setPen(colour);
            p.drawText(QPointF(x + 4, lane.top() + 13), text);
        }
    }
    p.restore();
}
