// SPDX-License-Identifier: GPL-3.0-or-later
// quivra export: one session as the window's .asc file, byte for byte, or as CSV; streamed from
// the store, so memory stays bounded however long the session.
#include <cstdio>
#include <optional>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/SpanAnalysis.h"
#include "cli/Times.h"
#include "platform/AscFile.h"
#include "platform/CsvFile.h"
#include "platform/Folders.h"
#include "platform/store/StoreLock.h"
#include "recording/AnalysisExport.h"
#include "recording/MarkersExport.h"

namespace cli {

namespace {

using Row = store::SessionReader::SessionRow;

// The window's name for the session's file (Session::exportFileName): its place among the
// sessions of its root.
std::string windowFileName(const Row& session, const std::vector<Row>& sessions)
{
    std::vector<platform::AscFileSession> siblings;
    for (const Row& other : sessions)
        if (other.baseModel == session.baseModel) siblings.push_back({other.start, other.id});
    return platform::ascFileName(session.start, platform::ascFileOrdinal({session.start, session.id}, siblings));
}

// What is written: which rows, in which form.
struct Wanted {
    SpanBounds bounds; // the whole session unless named
    bool csv = false;
    bool relative = false;
};

void readRows(store::SessionReader& reader, store::ObjectId session, const SpanBounds& bounds,
              const std::function<bool(const store::SampleValues&)>& visit)
{
    store::StoreError error;
    // Pages straight from the file's mapping rather than copied in: a long walk goes faster.
    reader.database().exec("PRAGMA mmap_size = 1073741824", error);
    // Bounded by time only, so that SQLite checks nothing else per row.
    if (!reader.forEachBetween(session, bounds.lower, bounds.upper, visit, error)) storeError(error);
}

// A file as the window writes it (through AscFile or CsvFile, as the window): in place of `name`,
// or when `keep`, under the first free numbered name. Returns the rows written and where.
std::pair<std::int64_t, std::string> exportFile(store::SessionReader& reader, const Row& session, const Wanted& wanted,
                                                const std::string& folder, const std::string& name, bool keep)
{
    auto write = [&](auto& file, auto&&... preamble) {
        if (keep) file.keepExisting();
        if (!file.open(preamble...)) throw Failure(storeFailed, file.error());
        readRows(reader, session.id, wanted.bounds, [&](const store::SampleValues& s) {
            file.addSample(s.dateStamp, s.x, s.y, s.z);
            return true;
        });
        if (!file.commit()) throw Failure(storeFailed, file.error());
        return std::pair(std::int64_t(file.linesWritten()), file.path());
    };
    if (!wanted.csv) {
        platform::AscFile file(folder, name);
        return write(file);
    }
    platform::CsvFile file(folder, name, wanted.relative ? platform::CsvTimes::elapsed : platform::CsvTimes::clock,
                           session.start);
    return write(file, identityCommentLines(session.identity));
}

// A stretch into the documents folder, named after it as far as the session's rows reach into its
// bounds, and never in place of another file.
int exportStretch(store::SessionReader& reader, const Row& session, const Wanted& wanted, const std::string& folder,
                  const std::string& sessionName)
{
    Micros first = 0, last = 0;
    bool any = false;
    store::StoreError error;
    if (!reader.timeSpan(session.id, first, last, any, error)) storeError(error);
    const std::string name = platform::rangeFileName(sessionName, std::max(wanted.bounds.lower, first),
                                                     std::min(wanted.bounds.upper, last), wanted.csv ? ".csv" : ".asc");
    const auto [rows, written] = exportFile(reader, session, wanted, folder, name, true);
    std::printf("Exported %s samples of session %lld to %s\n", grouped(rows).c_str(), static_cast<long long>(session.id),
                written.c_str());
    return done;
}

// The same bytes through an Output (standard output, a device, or a file given with -o).
std::int64_t exportText(store::SessionReader& reader, const Row& session, Output& out, const Wanted& wanted)
{
    std::int64_t rows = 0;
    if (!wanted.csv) {
        out.append(platform::kAscByteOrderMark);
        out.appendUtf16(platform::kAscHeader);
        platform::AscLine ascLine;
        readRows(reader, session.id, wanted.bounds, [&](const store::SampleValues& s) {
            out.appendUtf16(ascLine.format(s.dateStamp, s.x, s.y, s.z));
            ++rows;
            return out.good();
        });
        return rows;
    }
    const platform::CsvTimes times = wanted.relative ? platform::CsvTimes::elapsed : platform::CsvTimes::clock;
    // Who and what the session is, above the header, for a reader that skips comment lines.
    out.append(identityCommentLines(session.identity));
    out.append(platform::csvHeader(times));
    platform::CsvLine line(times, session.start);
    readRows(reader, session.id, wanted.bounds, [&](const store::SampleValues& s) {
        out.append(line.format(s.dateStamp, s.x, s.y, s.z));
        ++rows;
        return out.good();
    });
    return rows;
}

// The store and the files beside it that SQLite and the lock keep: an export never lands there.
ProtectedFiles storeFiles()
{
    const std::string store = store::StoreLock::resolve(platform::storePath());
    return {{store, "the store itself"},
            {store + "-wal", "the store's write-ahead log"},
            {store + "-shm", "the store's shared-memory file"},
            {store + "-journal", "the store's journal"},
            {store + ".lock", "the store's lock"}};
}

} // namespace

int runExport(const QStringList& arguments)
{
    CommandLine line("export", "export SESSION|active [--from T] [--to T] [--format asc|csv] [--relative] [-o FILE|-]",
                     "Writes one session (its number, see quivra sessions, or the active one) as the window\n"
                     "exports it: a .asc file (UTF-16, tab-separated, byte for byte the window's), by default\n"
                     "in the documents folder under the window's name for it. Or as UTF-8 CSV with the columns\n"
                     "time,x_g,y_g,z_g: the time in ISO 8601 local time with its offset and microseconds (or,\n"
                     "with --relative, in seconds from the session's start), the values in g as the .asc file\n"
                     "writes them. --from and --to keep the samples of a stretch, both ends included: a time in\n"
                     "ISO 8601 (2024-05-01T12:00:05, with an optional fraction and offset) or seconds from the\n"
                     "session's start; in the documents folder such a file is named after the stretch too and\n"
                     "never replaces another (NAME-2.asc, ...). -o - writes to standard output. A file is\n"
                     "replaced whole once it is written (through a symlink, the file it points to); a device\n"
                     "or FIFO is written straight through; the store's own files are refused. Only saved\n"
                     "samples are written; the store is read without being changed, also while Quivra records\n"
                     "into it. A CSV starts with comment lines naming the session (# name: ..., # machine:\n"
                     "...); a .asc file of a whole session written to a file gets the session's markers beside\n"
                     "it, in NAME-markers.csv.");
    QCommandLineOption format("format", "asc (the default) or csv.", "asc|csv", "asc");
    QCommandLineOption relative("relative", "CSV times in seconds from the session's start.");
    QCommandLineOption from("from", "Export from this moment on.", "T");
    QCommandLineOption to("to", "Export up to this moment.", "T");
    QCommandLineOption output({"o", "output"}, "The file to write, or - for standard output.", "FILE|-");
    for (const QCommandLineOption* option : {&format, &relative, &from, &to, &output}) line.add(*option);
    if (!line.parse(arguments)) return done;
    const auto positional = line.positional();
    if (positional.size() != 1)
        line.usageError(positional.empty() ? "which session? Give its number or active"
                                           : "unexpected argument '" + positional[1] + "'");
    const std::string kind = line.value(format);
    if (kind != "asc" && kind != "csv") line.usageError("unknown format '" + kind + "' (expected asc or csv)");
    Wanted wanted;
    wanted.csv = kind == "csv";
    wanted.relative = line.isSet(relative);
    if (wanted.relative && !wanted.csv) line.usageError("--relative is for --format csv");
    if (line.isSet(output) && (line.value(output).empty() || line.value(output).back() == '/'))
        line.usageError("-o needs a file name, or - for standard output");

    store::SessionReader reader;
    openStore(reader, platform::storePath());
    std::vector<Row> sessions;
    const Row session = findSession(reader, positional.front(), &sessions);
    wanted.bounds = spanBounds(line, reader, session, from, to);

    std::string path = line.value(output);
    if (!line.isSet(output)) {
        std::string folder, problem;
        if (!platform::prepareDocumentsDirectory(folder, problem)) throw Failure(storeFailed, problem);
        std::string name = windowFileName(session, sessions);
        if (wanted.csv) name.replace(name.size() - 4, 4, ".csv");
        if (wanted.bounds.named) return exportStretch(reader, session, wanted, folder, name);
        path = folder + "/" + name;
    }

    std::string why;
    const std::optional<Destination> target = destination(path, storeFiles(), why);
    if (!target) line.usageError(why);

    std::int64_t rows = 0;
    if (!wanted.csv && target->kind == Destination::Kind::file) {
        const std::size_t slash = target->path.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : target->path.substr(0, slash == 0 ? 1 : slash);
        rows = exportFile(reader, session, wanted, folder, target->path.substr(slash + 1), false).first;
        // The session's markers beside it, as the window writes them.
        std::vector<store::MarkerRecord> markers;
        store::StoreError error;
        if (!wanted.bounds.named && !reader.markers(session.id, markers, error)) storeError(error);
        std::string problem;
        if (!markers.empty()
            && !replaceFileWith(folder + "/" + markersFileName(target->path.substr(slash + 1)),
                                markersCsv(session.start, markers), problem))
            throw Failure(storeFailed, problem);
    } else {
        Output out(*target);
        if (!out.open()) throw Failure(storeFailed, out.error());
        rows = exportText(reader, session, out, wanted);
        if (!out.finish()) throw Failure(storeFailed, out.error());
        if (out.toStandardOutput()) return done;
    }
    std::printf("Exported %s samples of session %lld to %s\n", grouped(rows).c_str(),
                static_cast<long long>(session.id), path.c_str());
    return done;
}

} // namespace cli
