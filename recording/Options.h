// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The settings: sample rate, tare, and which session receives new samples.
#include <cstdint>

#include "recording/ManagedObject.h"

class BaseModel;
class Session;

class Options : public ManagedObject {
public:
    using ManagedObject::ManagedObject;
    // New settings with their starting values: 30 per second, no tare, no active session.
    static Options init(store::ObjectContext& context);

    explicit operator bool() const { return context_ && context_->options(id_); }

    std::int32_t framerate() const;
    void setFramerate(std::int32_t framerate);
    float cutoffLimit() const;
    void setCutoffLimit(float limit);
    float tareX() const;
    void setTareX(float tare);
    float tareY() const;
    void setTareY(float tare);
    float tareZ() const;
    void setTareZ(float tare);

    Session activeSession() const;
    void setActiveSession(const Session& session);
    BaseModel baseModel() const;
    void setBaseModel(const BaseModel& baseModel);

private:
    const store::OptionsRecord* record() const { return context_ ? context_->options(id_) : nullptr; }
    store::OptionsRecord* edit() { return context_ ? context_->editOptions(id_) : nullptr; }
};
