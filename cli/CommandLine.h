// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the subcommands share: their exit statuses, failures that end a subcommand with one line
// on stderr, the parsing of their options with a --help of their own, and the store they read.
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/store/SessionReader.h"

namespace cli {

// Exit statuses, the same for every subcommand.
enum Status : int {
    done = 0,
    storeFailed = 1, // the store is busy or cannot be used, a file cannot be written, the device failed
    badUsage = 2,    // a bad option or value, an unknown session, a session with nothing to analyse
};

// Ends a subcommand: `what` is the one line shown after "quivra COMMAND: ".
struct Failure : std::runtime_error {
    Failure(Status status, const std::string& what) : std::runtime_error(what), status(status) {}
    Status status;
};

// The line every --help ends with.
extern const char* const exitStatusHelp;

class CommandLine {
public:
    // `usage` follows "Usage: quivra "; `description` is a paragraph of help.
    CommandLine(std::string command, std::string usage, std::string description);

    void add(const QCommandLineOption& option) { parser_.addOption(option); }
    // False after --help was printed (the command is then done); a bad option throws Failure.
    bool parse(const QStringList& arguments);

    bool isSet(const QCommandLineOption& option) const { return parser_.isSet(option); }
    std::string value(const QCommandLineOption& option) const { return parser_.value(option).toStdString(); }
    // Every value of an option given more than once, in order.
    std::vector<std::string> values(const QCommandLineOption& option) const;
    std::vector<std::string> positional() const;
    const std::string& command() const { return command_; }

    // Throws Failure(badUsage) with "`text` (see quivra COMMAND --help)".
    [[noreturn]] void usageError(const std::string& text) const;

private:
    std::string command_, usage_, description_;
    QCommandLineParser parser_;
    QCommandLineOption help_;
};

// Opens the store for reading only: no lock is taken and nothing is ever written, so it may be
// read while another Quivra records into it. Failure(storeFailed) when it cannot be read.
void openStore(store::SessionReader& reader, const std::string& path);

// A session named on the command line: its id, or "active". Failure(badUsage) when the store
// holds no such session. `sessions`, when given, receives every session read to find it (as
// allSessions), for a caller that needs them too.
store::SessionReader::SessionRow findSession(store::SessionReader& reader, const std::string& name,
                                             std::vector<store::SessionReader::SessionRow>* sessions = nullptr);

// Every session of the store, oldest first; Failure(storeFailed) when they cannot be read.
std::vector<store::SessionReader::SessionRow> allSessions(store::SessionReader& reader);

// Failure(storeFailed) carrying a store error in one line.
[[noreturn]] void storeError(const store::StoreError& error);

} // namespace cli
