// SPDX-License-Identifier: GPL-3.0-or-later
// quivra baseline: chooses a session as the baseline of its machine and point, which reports
// compare with; or shows or removes the baseline of a point.
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/StoreWrites.h"
#include "platform/store/Summaries.h"
#include "platform/Folders.h"

namespace cli {

int runBaseline(const QStringList& arguments)
{
    CommandLine line("baseline", "baseline SESSION|active | --machine M --point P [--remove]",
                     "Chooses the session as the baseline of its machine and measurement point: a report of any\n"
                     "session of that point then overlays the baseline's spectrum and gives each level's change\n"
                     "from it in dB and %. A point has one baseline; choosing another replaces it. With --machine\n"
                     "and --point instead of a session, shows the point's baseline, or removes it with --remove.\n"
                     "The store is written, so no other Quivra may hold it open at the time.");
    QCommandLineOption machine("machine", "The machine, as the sessions name it.", "M");
    QCommandLineOption point("point", "The measurement point on it.", "P");
    QCommandLineOption remove("remove", "Remove the baseline of --machine and --point.");
    for (const auto* option : {&machine, &point, &remove}) line.add(*option);
    if (!line.parse(arguments)) return done;
    const auto positional = line.positional();
    const bool byPoint = line.isSet(machine) || line.isSet(point);
    if (positional.size() > 1) line.usageError("unexpected argument '" + positional[1] + "'");
    if (byPoint == !positional.empty())
        line.usageError(byPoint ? "give a session or --machine and --point, not both"
                                : "which session? Give its number or active, or --machine and --point");
    if (byPoint && !(line.isSet(machine) && line.isSet(point))) line.usageError("give both --machine and --point");
    if (line.isSet(remove) && !byPoint) line.usageError("--remove goes with --machine and --point");

    store::SessionReader reader;
    openStore(reader, platform::storePath());
    store::StoreError error;
    if (byPoint && !line.isSet(remove)) {
        store::ObjectId session = 0;
        if (!store::readBaseline(reader.database(), reader.version(), line.value(machine), line.value(point), session,
                                 error))
            storeError(error);
        std::printf("%s\n", session ? std::to_string(session).c_str() : "none");
        return done;
    }
    std::string m, p;
    store::ObjectId chosen = 0;
    if (byPoint) {
        m = line.value(machine);
        p = line.value(point);
    } else {
        const auto session = findSession(reader, positional.front());
        m = session.identity.machine;
        p = session.identity.point;
        chosen = session.id;
        if (m.empty() && p.empty())
            throw Failure(badUsage, "session " + std::to_string(chosen)
                                        + " names no machine or point: give it them first, then choose it");
    }
    StoreWrites writes;
    std::string reason;
    if (!writes.open(platform::storePath(), reason) || !store::writeBaseline(writes.database(), m, p, chosen, error))
        throw Failure(storeFailed, "the baseline could not be kept: " + (reason.empty() ? error.describe() : reason));
    if (chosen)
        std::printf("session %lld is the baseline of %s, %s\n", static_cast<long long>(chosen), m.c_str(), p.c_str());
    else
        std::printf("%s, %s has no baseline\n", m.c_str(), p.c_str());
    return done;
}

} // namespace cli
