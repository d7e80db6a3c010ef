// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SessionActionsController.h"

#include "platform/AscFile.h"
#include "platform/DateFormatter.h"
#include "platform/Folders.h"
#include "platform/Log.h"
#include "platform/NumberText.h"
#include "recording/AnalysisExport.h"
#include "recording/MarkersExport.h"
#include "recording/Options.h"
#include "recording/Session.h"

namespace {

QString grouped(long long count)
{
    return QString::fromStdString(platform::groupedCount(count));
}

} // namespace

SessionActionsController::SessionActionsController(Recorder& recorder, StoreKeeper& keeper, QObject* parent)
    : QObject(parent), recorder_(recorder), keeper_(keeper)
{
    undoTimer_.setSingleShot(true);
    connect(&undoTimer_, &QTimer::timeout, this, &SessionActionsController::endUndo);
    exportProgress_.setInterval(100);
    connect(&exportProgress_, &QTimer::timeout, this, &SessionActionsController::showExportProgress);
    connect(&keeper_, &StoreKeeper::saved, this, [this] {
        if (!reloadAfterSave_) return;
        reloadAfterSave_ = false;
        emit sessionRowsChanged();
    });
}

SessionActionsController::~SessionActionsController()
{
    delete export_.data(); // waits for its file
}

void SessionActionsController::startNewSession()
{
    // What was captured before the press goes to the session active before it.
    recorder_.startNewSession();
    keeper_.saveContext();
}

void SessionActionsController::clearActiveSession()
{
    // Every sample of the session goes, saved or not, and everything captured before the press
    // with them; the session stays, and stays active.
    const bool had = recorder_.clearActiveSession();
    keeper_.saveContext();
    if (had) offerUndo();
}

void SessionActionsController::offerUndo()
{
    const store::Removal* removal = keeper_.context()->undoableRemoval();
    if (!removal) return;
    const QString count = grouped(removal->sampleCount());
    removalText_ =
        removal->kind == store::Removal::Kind::clear
            ? QString("Cleared %1 samples").arg(count)
            : QString("Deleted session %1 (%2 samples)")
                  .arg(QString::fromStdString(platform::formatDate(removal->session.dateStamp, "yyyy-MM-dd HH:mm:ss")),
                       count);
    emit notice(removalText_, false);
    emit undoOffered(true);
    undoTimer_.start(undoWindowMs);
}

void SessionActionsController::endUndo()
{
    undoTimer_.stop();
    emit undoOffered(false);
    // The trash is emptied: the removal is final now.
    keeper_.context()->forgetRemoval();
    keeper_.saveContext();
    emit noticeEnded(removalText_);
}

void SessionActionsController::undo()
{
    store::ObjectContext* context = keeper_.context();
    if (!context->undoableRemoval()) return;
    undoTimer_.stop();
    emit undoOffered(false);
    const qlonglong count = context->undoableRemoval()->sampleCount();
    if (!recorder_.undoRemoval()) return;
    platform::log("undo: " + std::to_string(count) + " samples put back");
    // Rows that reached the trash come back with the save; the screen follows when it is done.
    reloadAfterSave_ = true;
    keeper_.saveContext();
    emit notice(QString("Put back %1 samples").arg(grouped(count)), false);
}

void SessionActionsController::failExport(const std::string& reason)
{
    platform::log("export failed: " + reason);
    const QString message = "Export failed: " + QString::fromStdString(reason);
    emit notice(message, true);
    emit exportFailed(message);
}

void SessionActionsController::exportActiveSession(SessionExport::Format format)
{
    startExport(recorder_.root().options().activeSession(), format, std::nullopt);
}

void SessionActionsController::exportRange(store::ObjectId session, platform::Micros from, platform::Micros to,
                                           SessionExport::Format format)
{
    startExport(Session(keeper_.context(), session), format, std::pair(from, to));
}

void SessionActionsController::startExport(const Session& session, SessionExport::Format format,
                                           std::optional<std::pair<platform::Micros, platform::Micros>> range)
{
    if (!session) {
        failExport("no active session");
        return;
    }
    if (export_) {
        emit notice("An export is already running", true);
        return;
    }
    std::string folder, problem;
    if (!platform::prepareDocumentsDirectory(folder, problem)) {
        failExport(problem);
        return;
    }
    // Everything captured before the tap belongs in the file, and nothing after it.
    recorder_.handOver();
    store::ObjectContext* context = keeper_.context();
    const bool csv = format == SessionExport::Format::csv;
    std::string name = session.exportFileName();
    if (range) name = platform::rangeFileName(name, range->first, range->second, csv ? ".csv" : ".asc");
    else if (csv) name.replace(name.size() - 4, 4, ".csv");
    // The markers beside a whole session's .asc file, as they are at the tap: a few lines, written
    // here and now.
    if (const std::vector<store::MarkerRecord> markers = session.markers(); !range && !csv && !markers.empty()) {
        const std::string path = folder + "/" + markersFileName(name);
        if (!replaceFileWith(path, markersCsv(session.dateStamp(), markers), problem)) {
            failExport(problem);
            return;
        }
    }
    SessionExport::Request request;
    request.storePath = context->path();
    request.folder = folder;
    request.fileName = name;
    request.snapshot = context->snapshot(session.objectId());
    request.format = format;
    request.range = range;
    request.sessionStart = session.dateStamp();
    if (csv) request.preamble = identityCommentLines(session.identity());
    export_ = new SessionExport(std::move(request), this);
    exportStarted_.start();
    connect(export_, &SessionExport::finished, this, &SessionActionsController::exportFinished);
    export_->start();
    exportProgress_.start();
}

void SessionActionsController::exportFinished(bool ok, const QString& message, qint64 lines)
{
    exportProgress_.stop();
    export_->deleteLater();
    export_ = nullptr;
    if (!ok) {
        failExport(message.toStdString());
        return;
    }
    emit notice(QString("Exported %1 samples to %2").arg(grouped(lines), message), false);
    emit fileWritten(message);
    emit exported(message);
}

void SessionActionsController::showExportProgress()
{
    // A short export says nothing until it is done; a long one says how far it got.
    if (!export_ || exportStarted_.elapsed() < 300) return;
    const QString name = QString::fromStdString(export_->path()).section('/', -1);
    if (export_->expected() <= 0) {
        emit notice(QString("Exporting %1 … %2 samples").arg(name, grouped(export_->written())), false);
        return;
    }
    const int percent = int(std::min<qint64>(100, 100 * export_->written() / export_->expected()));
    emit notice(QString("Exporting %1 … %2 %").arg(name).arg(percent), false);
}
