// SPDX-License-Identifier: GPL-3.0-or-later
// The main screen's review: a stored session in the place of the live traces, and back.
#include <QLabel>
#include <QToolButton>

#include "platform/DateFormatter.h"
#include "recording/BaseModel.h"
#include "recording/Options.h"
#include "recording/Session.h"
#include "ui/MainViewController.h"
#include "ui/ReviewView.h"
#include "ui_MainView.h"

ReviewView* MainViewController::reviewView() const
{
    return review_ && !review_->isHidden() ? review_.data() : nullptr;
}

void MainViewController::reviewButtonPressed()
{
    if (!ui_) return;
    showReview(!reviewView());
}

void MainViewController::showReview(bool shown)
{
    if (shown && !review_) {
        review_ = new ReviewView(keeper_.context()->path(), view());
        ui_->traceRow->insertWidget(0, review_, 1);
        connect(review_, &ReviewView::leaveRequested, this, [this] { showReview(false); });
        connect(review_, &ReviewView::rangeSelected, this,
                [this](store::ObjectId session, platform::Micros from, platform::Micros to) {
                    if (!analysis_.isShown()) spectrumButtonPressed();
                    analysis_.analyseRange(session, from, to);
                });
        connect(review_, &ReviewView::rangeExportRequested, this,
                [this](store::ObjectId session, platform::Micros from, platform::Micros to, bool csv) {
                    sessions_.exportRange(session, from, to,
                                          csv ? SessionExport::Format::csv : SessionExport::Format::asc);
                });
        review_->setUnit(review::unitFromStored(keeper_.context()->settings()));
        connect(review_, &ReviewView::markerRequested, this, [this](store::ObjectId session, platform::Micros at) {
            const std::string clock = platform::formatDate(at, "HH:mm:ss");
            if (recorder_.addMarkerAt(Session(keeper_.context(), session), at, "Marker " + clock) != 0) saveSoon()();
        });
    }
    ui_->reviewButton->setChecked(shown);
    ui_->gMeterView->setVisible(!shown);
    for (QLabel* needle : {ui_->needleX, ui_->needleY, ui_->needleZ}) needle->setVisible(!shown);
    if (!review_) return;
    review_->setVisible(shown);
    if (!shown) {
        analysis_.clearRange();
        return;
    }
    // What is still in memory goes to the file first; each save then reads again.
    keeper_.saveContext();
    review_->setRecording(recorder_.isRecording());
    review_->showSession(recorder_.root().options().activeSession().objectId(), recorder_.isRecording());
    showReviewMarkers();
    review_->setFocus();
}

void MainViewController::showReviewMarkers()
{
    if (!reviewView()) return;
    // The store keeps every marker in memory, the unsaved ones too: no read waits here.
    review_->setMarkers(Session(keeper_.context(), review_->session()).markers());
}
