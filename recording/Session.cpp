// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/Session.h"

#include "recording/BaseModel.h"
#include "recording/Options.h"
#include "platform/AscFile.h"

std::int64_t GDataSet::count() const
{
    return context_ ? context_->sampleCount(session_) : 0;
}

std::vector<store::SampleValues> GDataSet::newest(std::size_t k) const
{
    return context_ ? context_->newestSamples(session_, k) : std::vector<store::SampleValues>{};
}

bool GDataSet::forEach(const std::function<bool(const store::SampleValues&)>& visit, store::StoreError* error) const
{
    return context_ ? context_->forEachSample(session_, visit, error) : true;
}

Session Session::init(store::ObjectContext& context)
{
    return Session(&context, context.insertSession(platform::Clock::now()));
}

platform::Micros Session::dateStamp() const
{
    const store::SessionRecord* r = context_ ? context_->session(id_) : nullptr;
    return r ? r->dateStamp : 0;
}

void Session::setDateStamp(platform::Micros dateStamp)
{
    if (store::SessionRecord* r = context_ ? context_->editSession(id_) : nullptr) r->dateStamp = dateStamp;
}

BaseModel Session::baseModel() const
{
    const store::SessionRecord* r = context_ ? context_->session(id_) : nullptr;
    return r && r->baseModel ? BaseModel(context_, r->baseModel) : BaseModel();
}

void Session::setBaseModel(const BaseModel& baseModel)
{
    if (context_) context_->setSessionBaseModel(id_, baseModel.objectId());
}

Options Session::activeInOptions() const
{
    store::ObjectId options = context_ ? context_->optionsWithActiveSession(id_) : 0;
    return options ? Options(context_, options) : Options();
}

store::SessionIdentity Session::identity() const
{
    const store::SessionIdentity* who = context_ ? context_->identity(id_) : nullptr;
    return who ? *who : store::SessionIdentity{};
}

void Session::setIdentity(const store::SessionIdentity& identity)
{
    if (context_) context_->setIdentity(id_, identity);
}

std::vector<store::MarkerRecord> Session::markers() const
{
    return context_ ? context_->markers(id_) : std::vector<store::MarkerRecord>{};
}

void deleteObject(const Session& session)
{
    if (session.managedObjectContext()) session.managedObjectContext()->deleteSession(session.objectId());
}

std::string Session::exportFileName() const
{
    const platform::Micros start = dateStamp();
    std::vector<platform::AscFileSession> siblings;
    for (const Session& other : baseModel().sessions()) siblings.push_back({other.dateStamp(), other.objectId()});
    return platform::ascFileName(start, platform::ascFileOrdinal({start, id_}, siblings));
}
