// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One accelerometer sample: a handle to a compact record (unsaved) or a stored row.
#include "ManagedObject.h"
#include "platform/Clock.h"

class Session;

class GData : public ManagedObject {
public:
    using ManagedObject::ManagedObject;
    // A new sample taken now, with zero values and no session.
    static GData init();
    static GData init(store::ObjectContext& context);

    explicit operator bool() const { return context_ && context_->sample(id_).has_value(); }

    float xValue() const;
    void setXValue(float value);
    float yValue() const;
    void setYValue(float value);
    float zValue() const;
    void setZValue(float value);
    platform::Micros dateStamp() const;
    void setDateStamp(platform::Micros dateStamp);
    Session currentSession() const;
    void setCurrentSession(const Session& session);

private:
    store::SampleValues values() const;
    void write(const store::SampleValues& v);
};

void deleteObject(const GData& sample);
