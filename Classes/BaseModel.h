#pragma once
// The root of everything stored: the settings and every session.
#include <vector>

#include "ManagedObject.h"

class Options;
class Session;

class BaseModel : public ManagedObject {
public:
    using ManagedObject::ManagedObject;
    // A new root with its settings and a first session, which is active.
    static BaseModel init();
    static BaseModel init(store::ObjectContext& context);

    explicit operator bool() const { return context_ && context_->baseModel(id_); }

    Options options() const;
    // The sessions, in no particular order (readers sort by start time).
    std::vector<Session> sessions() const;
};
