// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The subcommands: each takes the arguments after its name and returns the exit status
// (see Status in CommandLine.h); a Failure thrown by one is reported by runSubcommand.
#include <QStringList>

#include <optional>

namespace cli {

int runRecord(const QStringList& arguments);
int runSessions(const QStringList& arguments);
int runExport(const QStringList& arguments);
int runAnalyse(const QStringList& arguments);
int runDescribe(const QStringList& arguments);
int runMark(const QStringList& arguments);
int runMarkers(const QStringList& arguments);

// When argv[1] names a subcommand: runs it without a display (a QCoreApplication, no widgets)
// and returns its exit status. Nothing when the window is wanted.
std::optional<int> runSubcommand(int argc, char** argv);

// The subcommands' lines for the program's --help.
extern const char* const subcommandsHelp;

} // namespace cli
