// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/BaseModel.h"

#include <algorithm>

#include "recording/Options.h"
#include "recording/Session.h"

BaseModel BaseModel::init(store::ObjectContext& context)
{
    BaseModel root(&context, context.insertBaseModel());
    Session first = Session::init(context);
    first.setBaseModel(root);
    Options options = Options::init(context);
    options.setBaseModel(root);
    options.setActiveSession(first);
    return root;
}

Options BaseModel::options() const
{
    store::ObjectId id = context_ ? context_->optionsOfBaseModel(id_) : 0;
    return id ? Options(context_, id) : Options();
}

std::vector<Session> BaseModel::sessions() const
{
    std::vector<Session> out;
    if (!context_) return out;
    for (store::ObjectId id : context_->sessionsOfBaseModel(id_)) out.emplace_back(context_, id);
    return out;
}

std::vector<Session> BaseModel::sessionsByStart() const
{
    std::vector<std::pair<platform::Micros, Session>> keyed;
    for (const Session& session : sessions()) keyed.emplace_back(session.dateStamp(), session);
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second.objectId() < b.second.objectId();
    });
    std::vector<Session> sorted;
    sorted.reserve(keyed.size());
    for (auto& entry : keyed) sorted.push_back(entry.second);
    return sorted;
}

Session BaseModel::ensureActiveSession(std::string* repaired)
{
    Options settings = options();
    if (!settings) return Session();
    std::string done;
    if (sessions().empty()) {
        Session fresh = Session::init(*context_);
        fresh.setBaseModel(*this);
        done = "no session was left, started a new one";
    }
    Session active = settings.activeSession();
    if (!active) {
        std::vector<Session> sorted = sessionsByStart();
        active = sorted.back();
        settings.setActiveSession(active);
        if (done.empty()) done = "made the latest session active";
    }
    if (repaired) *repaired = done;
    return active;
}
