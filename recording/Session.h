// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One recording session: its start time, its root, and its samples.
#include <functional>
#include <string>
#include <vector>

#include "recording/ManagedObject.h"
#include "platform/Clock.h"

class BaseModel;
class Options;

// A session's samples: a view over the store, never loaded whole.
class GDataSet {
public:
    GDataSet(store::ObjectContext* context, store::ObjectId session) : context_(context), session_(session) {}
    std::int64_t count() const; // O(1)
    // The newest k samples, oldest first.
    std::vector<store::SampleValues> newest(std::size_t k) const;
    // Every sample in time order (equal times in insertion order); stops when `visit` says false.
    bool forEach(const std::function<bool(const store::SampleValues&)>& visit,
                 store::StoreError* error = nullptr) const;

private:
    store::ObjectContext* context_;
    store::ObjectId session_;
};

class Session : public ManagedObject {
public:
    using ManagedObject::ManagedObject;
    // A new session in the application's context, started now.
    static Session init(store::ObjectContext& context);

    explicit operator bool() const { return context_ && context_->session(id_); }

    platform::Micros dateStamp() const;
    void setDateStamp(platform::Micros dateStamp);
    BaseModel baseModel() const;
    void setBaseModel(const BaseModel& baseModel);
    Options activeInOptions() const;
    GDataSet gData() const { return GDataSet(context_, *this ? id_ : 0); }

    // Who and what it is (empty when never described); set whole.
    store::SessionIdentity identity() const;
    void setIdentity(const store::SessionIdentity& identity);
    // Its markers in time order.
    std::vector<store::MarkerRecord> markers() const;

    // The name of its export file. Sessions started in the same local second (two quick starts,
    // or the hour repeated when daylight saving ends) would share one; the later ones, by start
    // and then by creation, get "-2", "-3", ..., so each session keeps a file of its own.
    std::string exportFileName() const;
};

// Deleting a session deletes its samples and empties the active session that named it.
void deleteObject(const Session& session);
