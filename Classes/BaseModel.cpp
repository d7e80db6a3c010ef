#include "BaseModel.h"

#include "Options.h"
#include "Session.h"

BaseModel BaseModel::init()
{
    store::ObjectContext* context = applicationContext();
    return context ? init(*context) : BaseModel();
}

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
