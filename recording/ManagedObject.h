// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What every stored entity is: a light handle to one row of the object context. The context owns
// the row; a handle is a plain value that may outlive it (it then reads as absent).
#include "platform/store/ObjectContext.h"

class ManagedObject {
public:
    ManagedObject() = default;
    ManagedObject(store::ObjectContext* context, store::ObjectId id) : context_(context), id_(id) {}

    store::ObjectContext* managedObjectContext() const { return context_; }
    store::ObjectId objectId() const { return id_; }
    bool operator==(const ManagedObject& other) const { return context_ == other.context_ && id_ == other.id_; }

protected:
    store::ObjectContext* context_ = nullptr;
    store::ObjectId id_ = 0;
};
