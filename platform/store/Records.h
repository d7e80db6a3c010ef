// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The in-memory form of the store's rows. Small entities live in the context's identity map;
// samples are compact records in its pending list until they are saved.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Clock.h"

namespace store {

using platform::Micros;
using ObjectId = std::int64_t; // the row's id; 0 means none

enum class RowState : std::uint8_t { clean, inserted, updated, deleted };

struct BaseModelRecord {
    ObjectId id = 0;
    RowState state = RowState::clean;
};

struct OptionsRecord {
    ObjectId id = 0;
    ObjectId baseModel = 0;
    std::int32_t framerate = 0;
    float cutoffLimit = 0.0f;
    float tareX = 0.0f;
    float tareY = 0.0f;
    float tareZ = 0.0f;
    ObjectId activeSession = 0;
    RowState state = RowState::clean;
};

struct SessionRecord {
    ObjectId id = 0;
    ObjectId baseModel = 0;
    Micros dateStamp = 0;
    std::int64_t storedCount = 0;  // saved samples still belonging to the session
    std::int64_t pendingCount = 0; // unsaved samples of the session
    // Samples of the session with an id up to this one were cleared: they are gone for every
    // reader, saved or not, and go to the trash at the next save.
    ObjectId clearedThrough = 0;
    bool countDirty = false;
    RowState state = RowState::clean;
};

// Who and what a session is. The user gives the first five, afterwards (New asks nothing);
// Quivra fills in the source and the rate when it records into the session.
struct SessionIdentity {
    std::string name;
    std::string machine;   // the asset measured
    std::string point;     // the measurement point on it
    std::string direction; // the sensor's direction or mounting, free text
    std::string notes;
    std::string source; // the accelerometer's description
    double rate = 0;    // readings a second recording ran at; 0 when never recorded

    bool operator==(const SessionIdentity&) const = default;
    bool empty() const { return *this == SessionIdentity{}; }
};

// A moment of a session worth finding again, with a short text.
struct MarkerRecord {
    enum class Kind : std::uint8_t { event, runStart, runEnd };
    ObjectId id = 0;
    ObjectId session = 0;
    Micros dateStamp = 0;
    Kind kind = Kind::event;
    std::string text;
    ObjectId removedBy = 0; // the clear or delete it waits in the trash with; 0: none
    RowState state = RowState::clean;
};

// "event", "start", "end": the kinds as the store and the exports write them.
inline std::string_view markerKindName(MarkerRecord::Kind kind)
{
    return kind == MarkerRecord::Kind::runStart ? "start" : kind == MarkerRecord::Kind::runEnd ? "end" : "event";
}
inline std::optional<MarkerRecord::Kind> markerKindFromName(std::string_view name)
{
    if (name == "event") return MarkerRecord::Kind::event;
    if (name == "start") return MarkerRecord::Kind::runStart;
    if (name == "end") return MarkerRecord::Kind::runEnd;
    return std::nullopt;
}

// One unsaved sample: 32 bytes with the session's whole 64-bit id, so that a long unsaved
// recording stays small.
struct SampleRecord {
    Micros dateStamp = 0;
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    ObjectId session = 0; // 0: no session
};
static_assert(sizeof(SampleRecord) <= 32);

// The latest clear or session delete, which can still be undone: its samples (and, for a delete,
// the session row) sit in the store's trash until it is undone or forgotten.
struct Removal {
    enum class Kind : std::uint8_t { clear, deleteSession };
    ObjectId action = 0; // its row in trash_action
    Kind kind = Kind::clear;
    SessionRecord session;         // the session as it was just before
    ObjectId throughId = 0;        // every sample of the session up to this id went
    ObjectId markerThroughId = 0;  // and every marker up to this one
    std::int64_t storedMoved = 0;  // of them, saved ones
    std::int64_t pendingMoved = 0; // and unsaved ones
    ObjectId activeIn = 0;         // the settings whose active session it was, for a delete
    Micros removedAt = 0;
    bool written = false; // already moved to the trash in the file

    std::int64_t sampleCount() const { return storedMoved + pendingMoved; }
};

// A sample as readers see it, saved or not.
struct SampleValues {
    ObjectId id = 0;
    Micros dateStamp = 0;
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    ObjectId session = 0;
};

// The record of a live (not deleted) row in an identity map, or nullptr.
template <typename Map>
auto* live(Map& map, ObjectId id)
{
    auto it = map.find(id);
    return it == map.end() || it->second.state == RowState::deleted ? nullptr : &it->second;
}

template <typename Record>
void markUpdated(Record& r)
{
    if (r.state == RowState::clean) r.state = RowState::updated;
}

} // namespace store
