// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main screen's session actions: a new session, clearing the active one, the undo of the
// latest clear or delete while its notice shows, and the export of the active session on a thread
// of its own. Each is carried out by the recorder at the moment of the tap and saved soon after;
// what the user should read comes out as notices.
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <optional>
#include <utility>

#include "recording/Recorder.h"
#include "recording/SessionExport.h"
#include "recording/StoreKeeper.h"

class SessionActionsController : public QObject {
    Q_OBJECT
public:
    SessionActionsController(Recorder& recorder, StoreKeeper& keeper, QObject* parent = nullptr);
    ~SessionActionsController() override; // waits for an export under way

    void startNewSession();
    // Every sample of the active session goes to the trash, to be undone while the notice shows.
    void clearActiveSession();
    // A clear or delete waits in the trash: its notice and Undo show for undoWindowMs.
    void offerUndo();
    void undo();
    bool canUndo() const { return undoTimer_.isActive(); }
    // The whole active session, as .asc (with its markers beside it) or as CSV.
    void exportActiveSession(SessionExport::Format format = SessionExport::Format::asc);
    // The samples of a session with from <= time <= to, into a file of its own.
    void exportRange(store::ObjectId session, platform::Micros from, platform::Micros to, SessionExport::Format format);

    // How long a clear or a delete can be undone.
    int undoWindowMs = 12000;

signals:
    void notice(const QString& text, bool warning);
    // A notice that no longer holds: taken away unless another has replaced it.
    void noticeEnded(const QString& text);
    // The notice naming this file may offer to open its folder.
    void fileWritten(const QString& path);
    void undoOffered(bool shown);
    // The active session's rows changed in the store (an undo's rows are back): show them anew.
    void sessionRowsChanged();
    void exported(const QString& path);
    void exportFailed(const QString& message);

private:
    void endUndo();
    void showExportProgress();
    void exportFinished(bool ok, const QString& message, qint64 lines);
    void failExport(const std::string& reason);
    void startExport(const Session& session, SessionExport::Format format,
                     std::optional<std::pair<platform::Micros, platform::Micros>> range);

    Recorder& recorder_;
    StoreKeeper& keeper_;
    QTimer undoTimer_;
    QString removalText_;
    bool reloadAfterSave_ = false;
    QPointer<SessionExport> export_;
    QElapsedTimer exportStarted_;
    QTimer exportProgress_;
};
