// SPDX-License-Identifier: GPL-3.0-or-later
#include <QCoreApplication>

#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Output.h"

namespace cli {

const char* const subcommandsHelp =
    "Subcommands (no display needed; each has its own --help):\n"
    "  quivra record [--accelerometer=SOURCE] [--rate R] [--duration D] [--new-session]\n"
    "                [--name N] [--machine M] [--point P] [--publish URL]... [--publish-raw]\n"
    "  quivra sessions [--json] [--filter WORDS] [--machine M] [--point P]\n"
    "  quivra describe SESSION|active [--name N] [--machine M] [--point P] [--direction D] [--notes T]\n"
    "  quivra markers SESSION|active [--json]\n"
    "  quivra mark [--kind event|start|end] TEXT...\n"
    "  quivra export SESSION|active [--format asc|csv] [--relative] [-o FILE|-]\n"
    "  quivra analyse SESSION|active [--json] [--from T] [--to T] [analysis settings]\n"
    "  quivra report SESSION|active [--from T] [--to T] [-o FILE.pdf] [--png]\n"
    "  quivra baseline SESSION | --machine M --point P [--remove]\n"
    "  quivra trend --machine M --point P [--json | --csv]\n";

std::optional<int> runSubcommand(int argc, char** argv, const DrawingSubcommand* drawing)
{
    if (argc < 2) return std::nullopt;
    const std::string name = argv[1];
    int (*run)(const QStringList&) = nullptr;
    if (name == "record")
        run = runRecord;
    else if (name == "sessions")
        run = runSessions;
    else if (name == "export")
        run = runExport;
    else if (name == "analyse" || name == "analyze")
        run = runAnalyse;
    else if (name == "describe")
        run = runDescribe;
    else if (name == "markers")
        run = runMarkers;
    else if (name == "mark")
        run = runMark;
    else if (name == "baseline")
        run = runBaseline;
    else if (name == "trend")
        run = runTrend;
    else if (name == "report" && drawing)
        run = drawing->run;
    else if (name == "report") {
        std::fprintf(stderr, "quivra report: this build has no window, and a report is drawn with the window's "
                             "libraries; install the full quivra package (or use quivra analyse --json)\n");
        return badUsage;
    } else
        return std::nullopt;
    // The reading subcommands use each store connection on one thread only: SQLite need not lock
    // it around every call (a long export spends a tenth of its time there otherwise).
    if (run != runRecord && run != runDescribe) sqlite3_config(SQLITE_CONFIG_MULTITHREAD);

    // Qt's own options mean nothing here, so Qt sees only the program's name.
    static int qtArgc = 1;
    static char* qtArgv[] = {argv[0], nullptr};
    const std::unique_ptr<QCoreApplication> app = drawing && run == drawing->run
                                                      ? drawing->application(qtArgc, qtArgv)
                                                      : std::make_unique<QCoreApplication>(qtArgc, qtArgv);
    QCoreApplication::setApplicationName("Quivra");
    // Output cut short by its reader (`quivra export 3 -o - | head`) ends quietly.
    ignoreBrokenPipes();

    QStringList arguments;
    for (int i = 2; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    try {
        return run(arguments);
    } catch (const Failure& failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "quivra %s: %s\n", name.c_str(), failure.what());
        return failure.status;
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "quivra %s: %s\n", name.c_str(), e.what());
        return storeFailed;
    }
}

} // namespace cli
