// SPDX-License-Identifier: GPL-3.0-or-later
// quivra describe, markers and mark: who and what a session is, and the moments marked in it.
// The two that change something go through the Quivra that records into the store when there is
// one (it holds the store; see ControlSocket), and write the store themselves otherwise.
#include <QUrlQuery>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Json.h"
#include "cli/Output.h"
#include "cli/Times.h"
#include "platform/Folders.h"
#include "recording/ControlSocket.h"
#include "recording/Session.h"
#include "recording/SessionText.h"
#include "recording/StoreKeeper.h"

namespace cli {

namespace {

// The answer of the recording Quivra: "ok ..." is done, "error: ..." a usage error.
void takeAnswer(const std::string& answer)
{
    if (answer.starts_with("ok")) return;
    throw Failure(badUsage, answer.starts_with("error: ") ? answer.substr(7) : answer);
}

// Describes a session in a store no other Quivra holds; false when one does.
bool describeHere(const std::string& path, const std::string& name,
                  const std::vector<std::pair<std::string, std::string>>& fields)
{
    StoreKeeper keeper;
    store::StoreError error;
    if (!keeper.open(path, error)) {
        if (error.code == store::StoreError::lockedByAnotherProcess) return false;
        storeError(error);
    }
    keeper.loadRoot(); // with the repairs a damaged store needs, as at every start
    store::SessionReader reader;
    openStore(reader, path);
    Session session(keeper.context(), findSession(reader, name).id);
    store::SessionIdentity identity = session.identity();
    for (const auto& [key, value] : fields) {
        if (key == "name")
            identity.name = value;
        else if (key == "machine")
            identity.machine = value;
        else if (key == "point")
            identity.point = value;
        else if (key == "direction")
            identity.direction = value;
        else if (key == "notes")
            identity.notes = value;
    }
    const store::SessionIdentity tidy = tidyIdentity(identity);
    session.setIdentity(tidy);
    if (!keeper.saveNow()) throw Failure(storeFailed, "the store could not be saved: " + keeper.lastSaveError());
    return true;
}

// Edits a marker in a store no other Quivra holds; false when one does.
bool editMarkerHere(const std::string& path, store::ObjectId id, const std::optional<std::string>& kindName,
                    const std::optional<std::string>& text)
{
    StoreKeeper keeper;
    store::StoreError error;
    if (!keeper.open(path, error)) {
        if (error.code == store::StoreError::lockedByAnotherProcess) return false;
        storeError(error);
    }
    keeper.loadRoot();
    store::ObjectContext* context = keeper.context();
    const store::MarkerRecord* found = context->marker(id);
    if (!found) throw Failure(badUsage, "there is no marker " + std::to_string(id) + " (see quivra markers)");
    const store::MarkerRecord::Kind kind = kindName ? *store::markerKindFromName(*kindName) : found->kind;
    context->editMarker(id, kind, text ? tidyMarkerText(*text) : found->text);
    if (!keeper.saveNow()) throw Failure(storeFailed, "the store could not be saved: " + keeper.lastSaveError());
    return true;
}

// quivra mark --edit ID: another text or kind for a marker, through the recording Quivra when
// one holds the store.
int editMarker(const CommandLine& line, const std::string& id, const std::optional<std::string>& kind,
               const std::string& text)
{
    store::ObjectId number = 0;
    const auto [end, ec] = std::from_chars(id.data(), id.data() + id.size(), number);
    if (ec != std::errc() || end != id.data() + id.size() || number <= 0)
        line.usageError("--edit wants a marker's number (see quivra markers --json), not '" + id + "'");
    std::optional<std::string> newText;
    if (!text.empty()) newText = text;
    if (!kind && !newText) line.usageError("give the marker's new text or --kind");
    const std::string path = platform::storePath();
    std::error_code missing;
    if (!std::filesystem::exists(path, missing))
        throw Failure(storeFailed, "there is no store at " + path + " yet (nothing was recorded)");
    if (editMarkerHere(path, number, kind, newText)) return done;
    QUrlQuery request;
    request.addQueryItem("do", "edit");
    request.addQueryItem("marker", QString::fromStdString(id));
    if (kind) request.addQueryItem("kind", QString::fromStdString(*kind));
    if (newText) request.addQueryItem("text", QString::fromStdString(*newText));
    std::string error;
    const auto answer = askRecorder(path, request.toString(QUrl::FullyEncoded).toStdString(), error);
    if (!answer) throw Failure(storeFailed, "another Quivra holds the store and " + error);
    takeAnswer(*answer);
    return done;
}

} // namespace

int runDescribe(const QStringList& arguments)
{
    CommandLine line("describe",
                     "describe SESSION|active [--name N] [--machine M] [--point P] [--direction D] [--notes T]",
                     "Names and describes a session: the fields given are set (an empty value clears one),\n"
                     "the others stay as they are. While a Quivra records into the store it makes the\n"
                     "change; otherwise the store is changed here.");
    const char* keys[] = {"name", "machine", "point", "direction", "notes"};
    const char* helps[] = {"What the session is called.", "The machine (asset) measured.",
                           "The measurement point on the machine.", "The sensor's direction or mounting.",
                           "Notes (\\n in the text starts a new line)."};
    std::vector<QCommandLineOption> options;
    for (int i = 0; i < 5; ++i) options.emplace_back(QString(keys[i]), QString(helps[i]), QString(keys[i]).toUpper());
    for (const auto& option : options) line.add(option);
    if (!line.parse(arguments)) return done;
    const std::vector<std::string> positional = line.positional();
    if (positional.size() != 1) line.usageError("give one session: its number or active");
    std::vector<std::pair<std::string, std::string>> fields;
    for (int i = 0; i < 5; ++i) {
        if (!line.isSet(options[std::size_t(i)])) continue;
        std::string value = line.value(options[std::size_t(i)]);
        for (std::size_t at = 0; i == 4 && (at = value.find("\\n", at)) != std::string::npos;)
            value.replace(at, 2, "\n");
        fields.emplace_back(keys[i], value);
    }
    if (fields.empty()) line.usageError("give at least one of --name, --machine, --point, --direction, --notes");

    const std::string path = platform::storePath();
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        throw Failure(storeFailed, "there is no store at " + path + " yet (nothing was recorded)");
    if (describeHere(path, positional.front(), fields)) return done;
    QUrlQuery request;
    request.addQueryItem("do", "describe");
    request.addQueryItem("session", QString::fromStdString(positional.front()));
    for (const auto& [key, value] : fields)
        request.addQueryItem(QString::fromStdString(key), QString::fromStdString(value));
    std::string error;
    const auto answer = askRecorder(path, request.toString(QUrl::FullyEncoded).toStdString(), error);
    if (!answer) throw Failure(storeFailed, "another Quivra holds the store and " + error);
    takeAnswer(*answer);
    return done;
}

int runMark(const QStringList& arguments)
{
    CommandLine line("mark", "mark [--kind event|start|end] TEXT... | --edit ID [--kind K] [TEXT...]",
                     "Drops a marker now in the session a running Quivra (the window or quivra record)\n"
                     "records into, its text the words given. Exits with status 1 when none runs on the store.\n"
                     "With --edit, gives a marker another text or kind instead, running Quivra or not.");
    QCommandLineOption kind("kind", "What the moment is: event (the default), start or end (of a run).", "KIND",
                            "event");
    QCommandLineOption edit("edit", "Change marker ID (its number in quivra markers --json) instead.", "ID");
    line.add(kind);
    line.add(edit);
    if (!line.parse(arguments)) return done;
    std::string text;
    for (const std::string& word : line.positional()) text += (text.empty() ? "" : " ") + word;
    if (!store::markerKindFromName(line.value(kind)))
        line.usageError("--kind " + line.value(kind) + ": event, start or end");
    if (line.isSet(edit)) {
        const std::optional<std::string> newKind =
            line.isSet(kind) ? std::optional<std::string>(line.value(kind)) : std::nullopt;
        return editMarker(line, line.value(edit), newKind, tidyMarkerText(text));
    }
    if (tidyMarkerText(text).empty()) line.usageError("give the marker's text");
    QUrlQuery request;
    request.addQueryItem("do", "mark");
    request.addQueryItem("kind", QString::fromStdString(line.value(kind)));
    request.addQueryItem("text", QString::fromStdString(text));
    std::string error;
    const auto answer = askRecorder(platform::storePath(), request.toString(QUrl::FullyEncoded).toStdString(), error);
    if (!answer) throw Failure(storeFailed, error + " (a marker is dropped while recording)");
    takeAnswer(*answer);
    std::printf("Marked session %s\n", answer->substr(3, answer->find(' ', 3) - 3).c_str());
    return done;
}

int runMarkers(const QStringList& arguments)
{
    CommandLine line("markers", "markers SESSION|active [--json]",
                     "Lists a session's saved markers in time order: when (local time), the seconds since the\n"
                     "session's start, the kind and the text.");
    QCommandLineOption asJson("json",
                              "One JSON object per marker and line (times also in microseconds since 1970 UTC).");
    line.add(asJson);
    if (!line.parse(arguments)) return done;
    const std::vector<std::string> positional = line.positional();
    if (positional.size() != 1) line.usageError("give one session: its number or active");
    store::SessionReader reader;
    openStore(reader, platform::storePath());
    const store::SessionReader::SessionRow session = findSession(reader, positional.front());
    std::vector<store::MarkerRecord> markers;
    store::StoreError error;
    if (!reader.markers(session.id, markers, error)) storeError(error);

    Output out("-");
    out.open();
    std::string text;
    for (const store::MarkerRecord& m : markers) {
        const double offset = double(m.dateStamp - session.start) / 1e6;
        if (line.isSet(asJson)) {
            text = "{";
            json::integer(text, "id", m.id);
            json::integer(text, "session", session.id);
            json::string(text, "time", isoLocal(m.dateStamp, 3));
            json::integer(text, "time_us", m.dateStamp);
            json::number(text, "offset_s", offset);
            json::string(text, "kind", store::markerKindName(m.kind));
            json::string(text, "text", m.text);
            text += "}\n";
        } else {
            // Not printf for the number: the user's locale might write "0,5".
            char seconds[32];
            *std::to_chars(seconds, seconds + 31, offset, std::chars_format::fixed, 3).ptr = '\0';
            char head[96];
            std::snprintf(head, sizeof head, "%-29s %10s  %-5s  ", isoLocal(m.dateStamp, 3).c_str(), seconds,
                          std::string(store::markerKindName(m.kind)).c_str());
            text = head + m.text + "\n";
        }
        out.append(text);
        if (!out.good()) break;
    }
    if (!out.finish()) throw Failure(storeFailed, out.error());
    return done;
}

} // namespace cli
