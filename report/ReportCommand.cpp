// SPDX-License-Identifier: GPL-3.0-or-later
#include "report/ReportCommand.h"

#include <QApplication>
#include <QFileInfo>

#include "cli/CommandLine.h"
#include "cli/Output.h"
#include "cli/ReportContent.h"
#include "cli/SpanAnalysis.h"
#include "platform/Folders.h"
#include "report/ReportDocument.h"

namespace report {

namespace {

std::unique_ptr<QCoreApplication> drawingApplication(int& argc, char** argv)
{
    // A report is drawn, never shown: the same pages with or without a desktop.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    return std::make_unique<QApplication>(argc, argv);
}

} // namespace

const cli::DrawingSubcommand reportSubcommand{"report", runReport, drawingApplication};

int runReport(const QStringList& arguments)
{
    cli::CommandLine line("report", "report SESSION|active [--from T] [--to T] [-o FILE.pdf] [--png]",
                          "Writes a report of a stored session, or of the span --from and --to name, as a PDF: who\n"
                          "and what the session is, its three axes with the markers, the spectrum with its peaks,\n"
                          "the levels (RMS, peak, crest factor, velocity RMS) with their ISO 10816-3 zones, the\n"
                          "analysis settings and the version of Quivra; then the markers, and the comparison with\n"
                          "the baseline of the session's machine and point when one is chosen (see quivra\n"
                          "baseline). The figures are those of quivra analyse with the settings the window keeps.\n"
                          "T is as for quivra analyse. Only saved samples are read; the store is never changed.");
    QCommandLineOption from("from", "Report from this moment on.", "T");
    QCommandLineOption to("to", "Report up to this moment.", "T");
    QCommandLineOption output({"o", "output"},
                              "The PDF to write (default: session-N-report.pdf here); replaced if it exists.", "FILE");
    QCommandLineOption png("png", "Also write each page as FILE-1.png, FILE-2.png, ... beside the PDF.");
    line.add(from);
    line.add(to);
    line.add(output);
    line.add(png);
    if (!line.parse(arguments)) return cli::done;
    const auto positional = line.positional();
    if (positional.size() != 1)
        line.usageError(positional.empty() ? "which session? Give its number or active"
                                           : "unexpected argument '" + positional[1] + "'");

    store::SessionReader reader;
    cli::openStore(reader, platform::storePath());
    const auto session = cli::findSession(reader, positional.front());
    const cli::SpanBounds bounds = cli::spanBounds(line, reader, session, from, to);
    const QString path = line.isSet(output) ? QString::fromStdString(line.value(output))
                                            : QString("session-%1-report.pdf").arg(session.id);
    if (QFileInfo(path).isDir()) throw cli::Failure(cli::badUsage, "-o names a folder: " + path.toStdString());

    const cli::ReportContent content = cli::gatherReport(reader, session, bounds);
    const ReportDocument document(content);
    QString error;
    QStringList written;
    if (!document.writePdf(path, error) || (line.isSet(png) && !document.writePngs(path, 150, written, error)))
        throw cli::Failure(cli::storeFailed, error.toStdString());
    std::printf("%s\n", qPrintable(path));
    for (const QString& page : written) std::printf("%s\n", qPrintable(page));
    return cli::done;
}

} // namespace report
