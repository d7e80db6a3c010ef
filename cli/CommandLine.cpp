// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CommandLine.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>

#include "recording/StoreKeeper.h"

namespace cli {

const char* const exitStatusHelp =
    "Exit status: 0 done; 1 the store is busy or cannot be used, a file cannot be written, or the\n"
    "accelerometer failed; 2 a bad option or value, an unknown session, or nothing to work on.\n";

CommandLine::CommandLine(std::string command, std::string usage, std::string description)
    : command_(std::move(command)), usage_(std::move(usage)), description_(std::move(description)),
      help_({"h", "help"}, "Show this help and exit.")
{
    parser_.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser_.addOption(help_);
}

bool CommandLine::parse(const QStringList& arguments)
{
    // The parser expects the program's name first.
    if (!parser_.parse(QStringList{"quivra"} + arguments)) usageError(parser_.errorText().toStdString());
    if (!parser_.isSet(help_)) return true;
    // Qt's text without its own usage line; ours names the subcommand.
    const QString qtHelp = parser_.helpText();
    const QString options = qtHelp.mid(std::max<qsizetype>(0, qtHelp.indexOf("Options:")));
    std::printf("Usage: quivra %s\n\n%s\n\n%s\n\n%s", usage_.c_str(), description_.c_str(),
                qPrintable(options.trimmed()), exitStatusHelp);
    return false;
}

std::vector<std::string> CommandLine::positional() const
{
    std::vector<std::string> out;
    for (const QString& argument : parser_.positionalArguments()) out.push_back(argument.toStdString());
    return out;
}

std::vector<std::string> CommandLine::values(const QCommandLineOption& option) const
{
    std::vector<std::string> out;
    for (const QString& value : parser_.values(option)) out.push_back(value.toStdString());
    return out;
}

void CommandLine::usageError(const std::string& text) const
{
    throw Failure(badUsage, text + " (see quivra " + command_ + " --help)");
}

void storeError(const store::StoreError& error)
{
    auto path = error.details.find("path");
    std::string line = describeStoreError(error);
    if (path != error.details.end()) line += " (" + path->second + ")";
    throw Failure(storeFailed, line);
}

void openStore(store::SessionReader& reader, const std::string& path)
{
    // SQLite would report a missing file as one it "cannot open"; say what is really wrong.
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        throw Failure(storeFailed, "there is no store at " + path + " yet (nothing was recorded)");
    store::StoreError error;
    if (!reader.open(path, error)) storeError(error);
}

std::vector<store::SessionReader::SessionRow> allSessions(store::SessionReader& reader)
{
    std::vector<store::SessionReader::SessionRow> rows;
    store::StoreError error;
    if (!reader.sessions(rows, error)) storeError(error);
    return rows;
}

store::SessionReader::SessionRow findSession(store::SessionReader& reader, const std::string& name,
                                             std::vector<store::SessionReader::SessionRow>* sessions)
{
    store::StoreError error;
    store::ObjectId id = 0;
    if (name == "active") {
        if (!reader.activeSession(id, error)) storeError(error);
        if (id == 0) throw Failure(badUsage, "the store has no active session");
    } else {
        const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), id);
        if (ec != std::errc() || end != name.data() + name.size() || id <= 0)
            throw Failure(badUsage,
                          "\"" + name + "\" is not a session: give its number (see quivra sessions) or active");
    }
    std::vector<store::SessionReader::SessionRow> rows = allSessions(reader);
    const auto found = std::find_if(rows.begin(), rows.end(), [id](const auto& row) { return row.id == id; });
    if (found == rows.end())
        throw Failure(badUsage, "there is no session " + std::to_string(id) + " (see quivra sessions)");
    const store::SessionReader::SessionRow row = *found;
    if (sessions) *sessions = std::move(rows);
    return row;
}

} // namespace cli
