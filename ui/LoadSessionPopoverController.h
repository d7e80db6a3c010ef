// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The session browser: lists every session, oldest first unless sorted otherwise, by its name (or
// start time) over its machine, point, length, samples and rate; a filter field keeps the rows
// that match its words. Choosing a row makes that session the active one and reloads the main
// screen; a confirmed delete removes a session, and a tenth of a second later picks a new active
// session if needed and closes the browser. Info opens the current row's info panel.
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QListView>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

#include "ui/Popover.h"
#include "recording/Recorder.h"
#include "recording/Session.h"

namespace Ui {
class LoadSessionPopover;
}
class SessionListModel;

class LoadSessionPopoverController : public PopoverContentController {
    Q_OBJECT
public:
    explicit LoadSessionPopoverController(QObject* parent = nullptr);
    ~LoadSessionPopoverController() override;

    // Sets appDelegate and wires the list; runs when the view from "LoadSessionPopover" loads.
    void viewDidLoad() override;

    // The rows: the root's sessions that match the filter, by start time, oldest first (equal
    // start times oldest-created first) or in the order chosen, read from the store when the list
    // opens or reloads and kept in step with deletes.
    int numberOfSectionsInTableView() const { return 1; }
    int numberOfRowsInSection(int section) const;
    // The row's name, or its start time as "yyyy-MM-dd-HH:mm:ss" in local time when it has none;
    // empty past the last row.
    QString cellTextForRow(int row) const;
    // The row's second line: "Pump 3 · DE bearing · 3.0 s · 91 samples · 30/s".
    QString cellDetailForRow(int row) const;

    enum class SortOrder { oldest, newest, name, place };
    void setSortOrder(SortOrder order);
    // Rows with every word of the text in their name, machine, point, direction, notes, source or
    // start time, ignoring case.
    void setFilterText(const QString& text);
    QLineEdit* filterField() const { return filterField_; }
    // Opens the info panel of the row's session; saving it describes the session.
    void showInfoForRow(int row);

    // Makes the row's session active, says so (the main screen reloads), saves and closes.
    void didSelectRow(int row);
    // First half of a delete: removes the row's session now and runs deleteSession 0.1 s later,
    // even if the browser is closed in between.
    void commitEditingStyle(int row);
    // Second half: a new session if none is left, the latest one active if none is, then the
    // list reloaded, the change told (the main screen reloads), the store saved and the browser
    // closed.
    void deleteSession();
    bool isDeletionPending() const { return pendingDeletions_ > 0; }

signals:
    // A session was chosen and is the active one now.
    void sessionChosen();
    // A session was deleted; it waits in the trash while it can be undone.
    void sessionDeleted();
    // The deletion's follow-up is done: the active session may have changed.
    void sessionsChanged();

public:
    // A row's delete control asks once more before it deletes: the first tap (or a swipe left,
    // or the Delete key) turns it into a red "Delete" button; only that button deletes.
    int confirmingDeleteRow() const { return confirmingRow_; }
    void beginDeleteConfirmation(int row);
    void cancelDeleteConfirmation();
    // Where the row's delete control is, in the list's viewport.
    QRect deleteControlRect(int row) const;

    QListView* sessionTableView() const { return sessionTableView_; }
    // Set when the view loads.
    // Who carries out a selection or a deletion, at the moment of the tap, and how the change is
    // saved soon after.
    void setRecorder(Recorder* recorder, std::function<void()> saveSoon)
    {
        recorder_ = recorder;
        saveSoon_ = std::move(saveSoon);
    }
    Popover* popoverController() const { return popoverController_; }
    void setPopoverController(Popover* popover) { popoverController_ = popover; }

    static constexpr int kRowHeight = 56;
    static constexpr int kDeferredDeleteMs = 100;

protected:
    QWidget* loadView() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void reloadData();
    bool handlePointer(QEvent* event);
    bool handleKey(QEvent* event);

    std::unique_ptr<Ui::LoadSessionPopover> ui_;
    QPointer<QListView> sessionTableView_;
    QPointer<QWidget> listViewport_;
    QPointer<Recorder> recorder_;
    std::function<void()> saveSoon_;
    QPointer<Popover> popoverController_;
    SessionListModel* model_ = nullptr; // a child of this controller
    std::vector<Session> rows_;         // the sessions in row order
    QPointer<QLineEdit> filterField_;
    QPointer<QComboBox> sortBox_;
    QString filter_;
    SortOrder order_ = SortOrder::oldest;

    int confirmingRow_ = -1;
    int pendingDeletions_ = 0;
    // The gesture under way on the list: where it began, on which row, whether it is the second
    // tap of a double tap, and whether it became a swipe.
    QPoint pressPos_;
    int pressRow_ = -1;
    bool pressIsSecondTap_ = false;
    bool swiped_ = false;
};
