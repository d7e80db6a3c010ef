// SPDX-License-Identifier: GPL-3.0-or-later
// quivra export: one session as the window's .asc file, byte for byte, or as CSV; streamed from
// the store, so memory stays bounded however long the session.
#include <charconv>
#include <cstdio>
#include <limits>
#include <optional>

#include "cli/CommandLine.h"
#include "cli/CsvNumber.h"
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/Times.h"
#include "platform/AscFile.h"
#include "platform/DateFormatter.h"
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

// ",1.5,-0.25,-1": the same text where it loses nothing (see CsvNumber.h).
void appendCsvValues(std::string& line, const store::SampleValues& s)
{
    char text[3 * (kCsvNumberMax + 1)];
    char* p = text;
    for (float v : {s.x, s.y, s.z}) {
        *p++ = ',';
        p = appendCsvNumber(p, v);
    }
    *p++ = '\n';
    line.append(text, p);
}

// Seconds from `start` with all six digits of the microseconds: "12.340000", "-0.000500".
void appendSeconds(std::string& line, Micros offset)
{
    if (offset < 0) line.push_back('-');
    const unsigned long long magnitude = offset < 0 ? 0ULL - (unsigned long long)offset : (unsigned long long)offset;
    char text[32];
    char* p = std::to_chars(text, text + 24, magnitude / 1000000).ptr;
    *p++ = '.';
    unsigned long long fraction = magnitude % 1000000;
    for (int i = 5; i >= 0; --i, fraction /= 10) p[i] = char('0' + fraction % 10);
    line.append(text, p + 6);
}

void readRows(store::SessionReader& reader, store::ObjectId session,
              const std::function<bool(const store::SampleValues&)>& visit)
{
    store::StoreError error;
    // Pages straight from the file's mapping rather than copied in: a long walk goes faster.
    reader.database().exec("PRAGMA mmap_size = 1073741824", error);
    // Every saved row: bounded by time only, so that SQLite checks nothing else per row.
    if (!reader.forEachBetween(session, std::numeric_limits<Micros>::min(), std::numeric_limits<Micros>::max(), visit,
                               error))
        storeError(error);
}

// The .asc file as the window writes it, into its own file (through AscFile, as the window).
std::int64_t exportAscFile(store::SessionReader& reader, const Row& session, const std::string& folder,
                           const std::string& name)
{
    platform::AscFile file(folder, name);
    if (!file.open()) throw Failure(storeFailed, file.error());
    readRows(reader, session.id, [&](const store::SampleValues& s) {
        file.addSample(s.dateStamp, s.x, s.y, s.z);
        return true;
    });
    if (!file.commit()) throw Failure(storeFailed, file.error());
    return std::int64_t(file.linesWritten());
}

// The same bytes, or CSV, through an Output (standard output, or a CSV file).
std::int64_t exportText(store::SessionReader& reader, const Row& session, Output& out, bool csv, bool relative)
{
    std::int64_t rows = 0;
    if (!csv) {
        out.append(platform::kAscByteOrderMark);
        out.appendUtf16(platform::kAscHeader);
        platform::AscLine ascLine;
        readRows(reader, session.id, [&](const store::SampleValues& s) {
            out.appendUtf16(ascLine.format(s.dateStamp, s.x, s.y, s.z));
            ++rows;
            return out.good();
        });
        return rows;
    }
    // Who and what the session is, above the header, for a reader that skips comment lines.
    out.append(identityCommentLines(session.identity));
    out.append("time,x_g,y_g,z_g\n");
    std::string line;
    platform::DateFormatter iso("yyyy-MM-dd'T'HH:mm:ss.SSSSSSZZZZZ");
    readRows(reader, session.id, [&](const store::SampleValues& s) {
        line.clear();
        relative ? appendSeconds(line, s.dateStamp - session.start) : iso.appendDate(line, s.dateStamp);
        appendCsvValues(line, s);
        out.append(line);
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
    CommandLine line("export", "export SESSION|active [--format asc|csv] [--relative] [-o FILE|-]",
                     "Writes one session (its number, see quivra sessions, or the active one) as the window\n"
                     "exports it: a .asc file (UTF-16, tab-separated, byte for byte the window's), by default\n"
                     "in the documents folder under the window's name for it. Or as UTF-8 CSV with the columns\n"
                     "time,x_g,y_g,z_g: the time in ISO 8601 local time with its offset and microseconds (or,\n"
                     "with --relative, in seconds from the session's start), the values in g as the .asc file\n"
                     "writes them. -o - writes to standard output. A file is replaced whole once it is written\n"
                     "(through a symlink, the file it points to); a device or FIFO is written straight through;\n"
                     "the store's own files are refused. Only saved samples are written; the store is read\n"
                     "without being changed, also while Quivra records into it. A CSV starts with comment\n"
                     "lines naming the session (# name: ..., # machine: ...); a .asc file written to a\n"
                     "file gets the session's markers beside it, in NAME-markers.csv.");
    QCommandLineOption format("format", "asc (the default) or csv.", "asc|csv", "asc");
    QCommandLineOption relative("relative", "CSV times in seconds from the session's start.");
    QCommandLineOption output({"o", "output"}, "The file to write, or - for standard output.", "FILE|-");
    line.add(format);
    line.add(relative);
    line.add(output);
    if (!line.parse(arguments)) return done;
    const auto positional = line.positional();
    if (positional.size() != 1)
        line.usageError(positional.empty() ? "which session? Give its number or active"
                                           : "unexpected argument '" + positional[1] + "'");
    const std::string kind = line.value(format);
    if (kind != "asc" && kind != "csv") line.usageError("unknown format '" + kind + "' (expected asc or csv)");
    const bool csv = kind == "csv";
    if (line.isSet(relative) && !csv) line.usageError("--relative is for --format csv");
    if (line.isSet(output) && (line.value(output).empty() || line.value(output).back() == '/'))
        line.usageError("-o needs a file name, or - for standard output");

    store::SessionReader reader;
    openStore(reader, platform::storePath());
    std::vector<Row> sessions;
    const Row session = findSession(reader, positional.front(), &sessions);

    std::string path = line.value(output);
    if (!line.isSet(output)) {
        std::string folder, problem;
        if (!platform::prepareDocumentsDirectory(folder, problem)) throw Failure(storeFailed, problem);
        std::string name = windowFileName(session, sessions);
        if (csv) name.replace(name.size() - 4, 4, ".csv");
        path = folder + "/" + name;
    }

    std::string why;
    const std::optional<Destination> target = destination(path, storeFiles(), why);
    if (!target) line.usageError(why);

    std::int64_t rows = 0;
    if (!csv && target->kind == Destination::Kind::file) {
        const std::size_t slash = target->path.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : target->path.substr(0, slash == 0 ? 1 : slash);
        rows = exportAscFile(reader, session, folder, target->path.substr(slash + 1));
        // The session's markers beside it, as the window writes them.
        std::vector<store::MarkerRecord> markers;
        store::StoreError error;
        if (!reader.markers(session.id, markers, error)) storeError(error);
        std::string problem;
        if (!markers.empty()
            && !replaceFileWith(folder + "/" + markersFileName(target->path.substr(slash + 1)),
                                markersCsv(session.start, markers), problem))
            throw Failure(storeFailed, problem);
    } else {
        Output out(*target);
        if (!out.open()) throw Failure(storeFailed, out.error());
        rows = exportText(reader, session, out, csv, line.isSet(relative));
        if (!out.finish()) throw Failure(storeFailed, out.error());
        if (out.toStandardOutput()) return done;
    }
    std::printf("Exported %s samples of session %lld to %s\n", grouped(rows).c_str(),
                static_cast<long long>(session.id), path.c_str());
    return done;
}

} // namespace cli
