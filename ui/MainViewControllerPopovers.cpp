// SPDX-License-Identifier: GPL-3.0-or-later
// The main screen's two popovers: the session browser and the settings (sample rate, unit). Each
// press makes a new popover, which owns its controller and frees itself when closed; the main
// screen keeps no reference to either. And the export's choice of format, a menu of its button.
#include <QMenu>
#include <QShortcut>
#include <QSize>
#include <QToolButton>

#include "ui/LoadSessionPopoverController.h"
#include "ui/MainViewController.h"
#include "ui/AnalysisPanel.h"
#include "ui/Popover.h"
#include "ui/ReviewView.h"
#include "ui/SettingsViewController.h"
#include "ui_MainView.h"

namespace {
// The control's frame in the main screen's coordinates.
QRect frameIn(QWidget* view, QWidget* control)
{
    if (!control) return QRect(view->rect().center(), QSize(1, 1));
    return QRect(control->mapTo(view, QPoint(0, 0)), control->size());
}
} // namespace

void MainViewController::loadSessionButtonPressed()
{
    auto* browser = new LoadSessionPopoverController;
    browser->setContentSizeForViewInPopover(QSize(400, 380));
    browser->setRecorder(&recorder_, saveSoon());
    // The recorder tells of a session chosen or deleted; the deletion's follow-up, which may
    // choose another one, the browser tells itself.
    connect(browser, &LoadSessionPopoverController::sessionDeleted, &sessions_, &SessionActionsController::offerUndo);
    connect(browser, &LoadSessionPopoverController::sessionsChanged, this, &MainViewController::reloadTrace);
    auto* popover = new Popover(browser);
    browser->setPopoverController(popover);
    QWidget* screen = view();
    popover->presentPopoverFromRect(frameIn(screen, ui_->sessionsButton), screen, Popover::ArrowAny, true);
}

void MainViewController::settingsButtonPressed()
{
    auto* settings = new SettingsViewController;
    settings->setRecorder(&recorder_, saveSoon());
    // Taller when the device offers rates above the slider's, as stops of their own.
    const bool faster = !SettingsViewController::fasterRates(recorder_.accelerometer()).empty();
    settings->setContentSizeForViewInPopover(QSize(250, faster ? 165 : 125));
    connect(settings, &SettingsViewController::rateChanged, this, &MainViewController::rateChanged);
    connect(settings, &SettingsViewController::unitChanged, this, &MainViewController::showUnit);
    auto* popover = new Popover(settings);
    QWidget* screen = view();
    popover->presentPopoverFromRect(frameIn(screen, ui_->settingsButton), screen, Popover::ArrowAny, true);
}

std::function<void()> MainViewController::saveSoon()
{
    return [keeper = &keeper_] { keeper->saveContext(); };
}

void MainViewController::showUnit(review::ValueUnit unit)
{
    if (review_) review_->setUnit(unit);
    if (analysis_.panel()) analysis_.panel()->setValueUnit(unit);
}

void MainViewController::offerExportFormats()
{
    // A tap (E) writes the .asc file as ever; holding it (or Shift+E) offers CSV, whose times keep
    // their microseconds.
    auto* menu = new QMenu(ui_->exportButton);
    menu->addAction("Whole session as .asc (E)", this, [this] { exportSession(SessionExport::Format::asc); });
    menu->addAction("Whole session as CSV, microsecond times (Shift+E)", this,
                    [this] { exportSession(SessionExport::Format::csv); });
    ui_->exportButton->setMenu(menu);
    ui_->exportButton->setPopupMode(QToolButton::DelayedPopup);
    auto* csv = new QShortcut(QKeySequence("Shift+E"), view_);
    connect(csv, &QShortcut::activated, this, [this] { exportSession(SessionExport::Format::csv); });
}
