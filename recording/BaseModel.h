// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The root of everything stored: the settings and every session.
#include <string>
#include <vector>

#include "recording/ManagedObject.h"

class Options;
class Session;

class BaseModel : public ManagedObject {
public:
    using ManagedObject::ManagedObject;
    // A new root with its settings and a first session, which is active.
    static BaseModel init(store::ObjectContext& context);

    explicit operator bool() const { return context_ && context_->baseModel(id_); }

    Options options() const;
    // The sessions, in no particular order (readers sort by start time).
    std::vector<Session> sessions() const;
    // The sessions by start time, oldest first; equal start times oldest-created first.
    std::vector<Session> sessionsByStart() const;

    // The active session, made so when there is none: the latest session becomes active, or a
    // new one started now when none is left, as after a deletion. Returns the active session;
    // `repaired` (if given) says what was done, empty when nothing needed doing.
    Session ensureActiveSession(std::string* repaired = nullptr);
};
