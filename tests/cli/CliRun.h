// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Runs the built `quivra` program on a test's own store, and builds that store with the window's
// own classes (object context, root, sessions, samples), so that the subcommands meet exactly
// what the window leaves behind.
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

#include "recording/StoreKeeper.h"
#include "platform/Clock.h"
#include "support/TempHome.h"

// Local time for the program and the test alike: an offset that is not 0, with daylight saving.
inline constexpr const char* kTestZone = "CET-1CEST,M3.5.0,M10.5.0/3";

struct Ran {
    int status = -1;
    QByteArray out;
    QString err;
    // The lines of stderr, without the log's time-stamped lines.
    QStringList errorLines() const;
};

QProcessEnvironment quivraEnvironment(const TempHome& home);
QString quivraPath();
// Runs to the end (or kills it after `timeoutMs`).
Ran runQuivra(const TempHome& home, const QStringList& arguments, int timeoutMs = 60000);
// Starts it and returns at once.
std::unique_ptr<QProcess> startQuivra(const TempHome& home, const QStringList& arguments);

// The store of the home, opened and loaded as the window does (it then holds the store's lock).
std::unique_ptr<StoreKeeper> openWindowStore(const TempHome& home);

// A new active session of the keeper's root started at `start`, with a sample every `stepUs`
// from then on, x, y, z given by `value(i)`, leaving out those from `skipFrom` to `skipTo`
// seconds in; saved at once.
struct Axes {
    float x, y, z;
};
store::ObjectId addSession(StoreKeeper& keeper, platform::Micros start, int count, platform::Micros stepUs,
                           Axes (*value)(int i), double skipFrom = 0, double skipTo = 0);

// A replay file (three numbers a line) in the home; its path.
QString writeReplay(const TempHome& home, const QString& name, int lines, Axes (*value)(int i));

// The stored time stamps of a session, in time order, read as any other program would.
std::vector<platform::Micros> storedTimes(const TempHome& home, store::ObjectId session);
