// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a store of version 6 keeps beside the samples for reports and trends: the baseline session
// of each machine and point, and each session's summary (its levels in a few numbers). In an older
// store there are none (the reads find nothing; writes open the store as the program does, which
// brings it up to date).
#include <algorithm>
#include <array>
#include <map>
#include <string>

#include "platform/store/Database.h"
#include "platform/store/Records.h"

namespace store {

// Which saved samples a session holds, as far as a summary cares: samples are only ever added
// (with a new id) or cleared, so these change whenever they do.
struct SampleFingerprint {
    std::int64_t samples = 0;
    Micros first = 0, last = 0; // the first and last time stamps
    ObjectId lastId = 0;        // the id of the last sample in time order

    bool operator==(const SampleFingerprint&) const = default;
};

struct SessionSummary {
    ObjectId session = 0;
    // What it was made from: the session's saved samples as they were then, and the settings.
    SampleFingerprint from;
    std::string settings;
    double rate = 0;
    std::array<double, 3> rms{}; // g, x y z
    double rmsMagnitude = 0;     // g
    bool hasVelocity = false;
    std::array<double, 3> velocity{}; // mm/s RMS over the band, x y z
    std::string zone;                 // of the largest
    bool isoVerdict = false;

    double overallVelocity() const { return std::max({velocity[0], velocity[1], velocity[2]}); }
    // It still describes a session of these samples analysed with these settings.
    bool fits(const SampleFingerprint& now, const std::string& with) const { return from == now && settings == with; }
};

// `version`: the store's schema version; before 6 every read finds nothing.
bool readSummaries(Database& db, std::int64_t version, std::map<ObjectId, SessionSummary>& out, StoreError& error);
bool writeSummary(Database& db, const SessionSummary& summary, StoreError& error);
// The same within a caller's transaction: a failure stays on `db` for the caller to take.
void putSummary(Database& db, const SessionSummary& summary);
// The session's saved samples now (a count of 0 when it has none); `samples` is the session's
// kept count, which is not read again.
bool readFingerprint(Database& db, ObjectId session, std::int64_t samples, SampleFingerprint& out, StoreError& error);

// The baseline of a machine and point; 0 when none was chosen.
bool readBaseline(Database& db, std::int64_t version, const std::string& machine, const std::string& point,
                  ObjectId& session, StoreError& error);
// Chooses the session as the baseline of its machine and point (0: none).
bool writeBaseline(Database& db, const std::string& machine, const std::string& point, ObjectId session,
                   StoreError& error);

} // namespace store
