// SPDX-License-Identifier: GPL-3.0-or-later
// The main screen's status line and the notices that hang below the toolbar.
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QToolButton>

#include <algorithm>

#include "platform/DateFormatter.h"
#include "platform/NumberText.h"
#include "recording/BaseModel.h"
#include "recording/Options.h"
#include "recording/Session.h"
#include "recording/SessionText.h"
#include "ui/GMeter.h"
#include "ui/MainViewController.h"
#include "ui_MainView.h"

// ---- the line at the top right: source, session, warnings ----

void MainViewController::updateStatus()
{
    if (!ui_) return;
    Session active = recorder_.root().options().activeSession();
    const QString started = QString::fromStdString(platform::formatDate(active.dateStamp(), "yyyy-MM-dd HH:mm:ss"));
    const store::SessionIdentity identity = active.identity();
    // A named session by its name, the rest of who it is in the tooltip.
    QString session = !active                 ? QString("No active session")
                      : identity.name.empty() ? "Session " + started
                                              : QString::fromStdString(identity.name);
    // Beside eleven buttons little room is left: what does not fit is in the tooltip.
    QLabel* name = ui_->sessionLabel;
    name->setText(name->width() > 60 ? name->fontMetrics().elidedText(session, Qt::ElideRight, name->width()) : session);
    ui_->sessionLabel->setToolTip(active ? "Session " + started
                                               + (identity.machine.empty() && identity.point.empty()
                                                      ? QString()
                                                      : " \u00b7 " + QString::fromStdString(placeText(identity)))
                                         : QString());
    QString state;
    if (tareAccelerometer())
        state = "Taking tare";
    else if (gAccelerometer())
        state = "Recording";
    else
        state = "Stopped";
    QString samples = QString::fromStdString(platform::groupedCount(active.gData().count())) + " samples";
    const std::uint64_t dropped = recorder_.droppedReadings() + recorder_.accelerometer().droppedReadings();
    const std::uint64_t overflowed = recorder_.accelerometer().overflowedReadings();
    const QString rateWarning = QString::fromStdString(recorder_.rateWatch().describe());
    if (dropped > 0)
        samples += "  ·  " + QString::fromStdString(platform::groupedCount(static_cast<long long>(dropped)))
                   + " unusable readings dropped";
    if (overflowed > 0)
        samples += "  ·  " + QString::fromStdString(platform::groupedCount(static_cast<long long>(overflowed)))
                   + " readings lost (window too slow)";
    // The whole line stays in the tooltip; the label shows what fits beside the toolbar.
    QString line = state + "  ·  " + samples + "  ·  " + sourceText_;
    QLabel* label = ui_->statusLabel;
    // Readings that do not arrive at the rate asked are said in the warning colour, first.
    label->setStyleSheet(rateWarning.isEmpty() ? QString() : QString("color: #fca5a5; font-weight: bold;"));
    if (!rateWarning.isEmpty()) line = "Off rate: " + rateWarning + "  ·  " + line;
    label->setToolTip(line);
    label->setText(label->width() > 60 ? label->fontMetrics().elidedText(line, Qt::ElideRight, label->width()) : line);
}

void MainViewController::showWarning(const QString& text)
{
    showMessage(text, true);
}

void MainViewController::showMessage(const QString& text, bool warning)
{
    if (!ui_) return;
    QLabel* label = ui_->warningLabel;
    label->setToolTip(text);
    label->setStyleSheet(warning ? "color: #fca5a5; font-weight: bold;" : "color: #86efac; font-weight: normal;");
    // Shown whole, wrapped over as many lines as it takes; a path may break after any slash.
    label->setText(QString(text).replace('/', QStringLiteral("/\u200b")));
    noticeFolder_.clear();
    ui_->openFolderButton->hide();
    ui_->noticePanel->setVisible(!text.isEmpty());
    placeNotice();
}

void MainViewController::showFolderOf(const QString& path)
{
    if (!ui_ || ui_->noticePanel->isHidden()) return;
    noticeFolder_ = QFileInfo(path).absolutePath();
    ui_->openFolderButton->setToolTip("Open the folder");
    ui_->openFolderButton->show();
    placeNotice();
}

void MainViewController::placeNotice()
{
    // It hangs from the toolbar's right end over the traces' top, which they seldom reach, and
    // leaves the toolbar and the traces where they are.
    QWidget* panel = ui_ ? ui_->noticePanel : nullptr;
    GMeter* meter = gMeterView();
    if (!panel || !meter || panel->isHidden()) return;
    const QRect traces = meter->geometry();
    const int width = std::min(traces.width() - 28, std::max(380, traces.width() * 2 / 5));
    panel->layout()->activate();
    const int height =
        panel->layout()->hasHeightForWidth() ? panel->layout()->totalHeightForWidth(width) : panel->sizeHint().height();
    panel->setGeometry(traces.right() - 13 - width, traces.top(), width, height);
    panel->raise();
    for (QLabel* needle : {ui_->needleX, ui_->needleY, ui_->needleZ}) needle->raise();
}
