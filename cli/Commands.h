// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The subcommands: each takes the arguments after its name and returns the exit status
// (see Status in CommandLine.h); a Failure thrown by one is reported by runSubcommand.
#include <QCoreApplication>
#include <QStringList>

#include <memory>
#include <optional>

namespace cli {

int runRecord(const QStringList& arguments);
int runSessions(const QStringList& arguments);
int runExport(const QStringList& arguments);
int runAnalyse(const QStringList& arguments);
int runDescribe(const QStringList& arguments);
int runMark(const QStringList& arguments);
int runMarkers(const QStringList& arguments);
int runBaseline(const QStringList& arguments);
int runTrend(const QStringList& arguments);

// A subcommand that draws, which only the build with the window has: it runs in the application
// `application` makes (a QApplication) rather than a QCoreApplication.
struct DrawingSubcommand {
    const char* name;
    int (*run)(const QStringList& arguments);
    std::unique_ptr<QCoreApplication> (*application)(int& argc, char** argv);
};

// When argv[1] names a subcommand: runs it without a display (a QCoreApplication, no widgets)
// and returns its exit status. Nothing when the window is wanted. Without `drawing` (the build
// without the window) its name is a subcommand this build does not have.
std::optional<int> runSubcommand(int argc, char** argv, const DrawingSubcommand* drawing = nullptr);

// The subcommands' lines for the program's --help.
extern const char* const subcommandsHelp;

} // namespace cli
