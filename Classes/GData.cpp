// SPDX-License-Identifier: GPL-3.0-or-later
#include "GData.h"

#include "Session.h"

GData GData::init()
{
    store::ObjectContext* context = applicationContext();
    return context ? init(*context) : GData();
}

GData GData::init(store::ObjectContext& context)
{
    return GData(&context, context.insertSample(platform::Clock::now(), 0.0f, 0.0f, 0.0f, 0));
}

store::SampleValues GData::values() const
{
    if (!context_) return {};
    return context_->sample(id_).value_or(store::SampleValues{});
}

void GData::write(const store::SampleValues& v)
{
    if (context_ && v.id) context_->setSampleValues(id_, v.dateStamp, v.x, v.y, v.z);
}

float GData::xValue() const { return values().x; }
float GData::yValue() const { return values().y; }
float GData::zValue() const { return values().z; }
platform::Micros GData::dateStamp() const { return values().dateStamp; }

void GData::setXValue(float value) { auto v = values(); v.x = value; write(v); }
void GData::setYValue(float value) { auto v = values(); v.y = value; write(v); }
void GData::setZValue(float value) { auto v = values(); v.z = value; write(v); }
void GData::setDateStamp(platform::Micros dateStamp) { auto v = values(); v.dateStamp = dateStamp; write(v); }

Session GData::currentSession() const
{
    store::ObjectId session = values().session;
    return session ? Session(context_, session) : Session();
}

void GData::setCurrentSession(const Session& session)
{
    if (context_) context_->setSampleSession(id_, session.objectId());
}

void deleteObject(const GData& sample)
{
    if (sample.managedObjectContext()) sample.managedObjectContext()->deleteSample(sample.objectId());
}
