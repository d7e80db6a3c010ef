// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/Options.h"

#include "recording/BaseModel.h"
#include "recording/Session.h"

Options Options::init(store::ObjectContext& context)
{
    Options options(&context, context.insertOptions());
    options.setActiveSession(Session());
    options.setCutoffLimit(5.0f);
    options.setTareX(0.0f);
    options.setTareY(0.0f);
    options.setTareZ(0.0f);
    options.setFramerate(30);
    return options;
}

std::int32_t Options::framerate() const
{
    auto r = record();
    return r ? r->framerate : 0;
}
float Options::cutoffLimit() const
{
    auto r = record();
    return r ? r->cutoffLimit : 0.0f;
}
float Options::tareX() const
{
    auto r = record();
    return r ? r->tareX : 0.0f;
}
float Options::tareY() const
{
    auto r = record();
    return r ? r->tareY : 0.0f;
}
float Options::tareZ() const
{
    auto r = record();
    return r ? r->tareZ : 0.0f;
}

void Options::setFramerate(std::int32_t framerate)
{
    if (auto r = edit()) r->framerate = framerate;
}
void Options::setCutoffLimit(float limit)
{
    if (auto r = edit()) r->cutoffLimit = limit;
}
void Options::setTareX(float tare)
{
    if (auto r = edit()) r->tareX = tare;
}
void Options::setTareY(float tare)
{
    if (auto r = edit()) r->tareY = tare;
}
void Options::setTareZ(float tare)
{
    if (auto r = edit()) r->tareZ = tare;
}

Session Options::activeSession() const
{
    auto r = record();
    return r && r->activeSession && context_->session(r->activeSession) ? Session(context_, r->activeSession)
                                                                        : Session();
}

void Options::setActiveSession(const Session& session)
{
    if (context_) context_->setOptionsActiveSession(id_, session.objectId());
}

BaseModel Options::baseModel() const
{
    auto r = record();
    return r && r->baseModel ? BaseModel(context_, r->baseModel) : BaseModel();
}

void Options::setBaseModel(const BaseModel& baseModel)
{
    if (context_) context_->setOptionsBaseModel(id_, baseModel.objectId());
}
