#include "QuivraAppDelegate.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>

#include "MainViewController.h"
#include "Options.h"
#include "Session.h"
#include "platform/Folders.h"
#include "platform/Log.h"

namespace {
QuivraAppDelegate* sharedDelegate = nullptr;

[[noreturn]] void unresolved(const store::StoreError& error)
{
    platform::abortWith("Unresolved error " + error.describe() + ", " + error.describeDetails());
}
} // namespace

store::ObjectContext* ManagedObject::applicationContext()
{
    return sharedDelegate ? sharedDelegate->managedObjectContext() : nullptr;
}

QuivraAppDelegate::QuivraAppDelegate(QObject* parent) : QObject(parent)
{
    sharedDelegate = this;
    autosaveTimer_.setSingleShot(true);
    connect(&autosaveTimer_, &QTimer::timeout, this, &QuivraAppDelegate::saveContext);
}

QuivraAppDelegate::~QuivraAppDelegate()
{
    // The screen goes before the window that shows it, and both before the store.
    mainViewController_.reset();
    window_.reset();
    managedObjectContext_.reset();
    if (sharedDelegate == this) sharedDelegate = nullptr;
}

QuivraAppDelegate* QuivraAppDelegate::shared()
{
    return sharedDelegate;
}

std::string QuivraAppDelegate::applicationDirectory() const
{
    return platform::libraryDirectory();
}

std::string QuivraAppDelegate::storePath() const
{
    return applicationDirectory() + "/Quivra.sqlite";
}

store::ObjectContext* QuivraAppDelegate::managedObjectContext()
{
    if (managedObjectContext_) return managedObjectContext_.get();
    auto context = std::make_unique<store::ObjectContext>();
    store::StoreError error;
    std::string path = storePath();
    if (!context->open(path, error)) {
        if (error.code == store::StoreError::lockedByAnotherProcess) {
            std::fprintf(stderr, "quivra: Quivra is already running on the store %s\n", path.c_str());
            std::exit(1);
        }
        unresolved(error);
    }
    managedObjectContext_ = std::move(context);
    managedObjectContext_->setChangeObserver([this] { contextChanged(); });
    return managedObjectContext_.get();
}

bool QuivraAppDelegate::applicationDidFinishLaunchingWithOptions()
{
    store::ObjectContext* context = managedObjectContext();
    std::vector<store::ObjectId> roots = context->fetchBaseModels();
    if (!roots.empty()) {
        platform::log("load model");
        baseModel_ = BaseModel(context, roots.back());
    } else {
        platform::log("build new base model");
        baseModel_ = BaseModel::init(*context);
    }

    window_ = std::make_unique<QWidget>();
    window_->setWindowTitle("Quivra");
    window_->setMinimumSize(800, 600);
    window_->resize(1024, 768);
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    window_->show();

    mainViewController_ = std::make_unique<MainViewController>();
    layout->addWidget(mainViewController_->view());
    return true;
}

void QuivraAppDelegate::contextChanged()
{
    if (!autosaveTimer_.isActive()) autosaveTimer_.start(lastSaveFailed_ ? retryDelayMs : autosaveDelayMs);
}

bool QuivraAppDelegate::saveContext()
{
    autosaveTimer_.stop();
    if (!managedObjectContext_ || !managedObjectContext_->hasChanges()) return true;
    store::StoreError error;
    if (managedObjectContext_->save(error)) {
        if (lastSaveFailed_) {
            lastSaveFailed_ = false;
            platform::log("saved after an earlier failure");
            emit saveRecovered();
        }
        return true;
    }
    lastSaveFailed_ = true;
    platform::log("save failed, will retry: " + error.describe() + ", " + error.describeDetails());
    emit saveFailed(QString::fromStdString(error.describe() + ": "
                                           + (error.details.count("reason") ? error.details.at("reason") : "")));
    autosaveTimer_.start(retryDelayMs);
    return false;
}

void QuivraAppDelegate::applicationWillTerminate()
{
    autosaveTimer_.stop();
    if (!managedObjectContext_ || !managedObjectContext_->hasChanges()) return;
    store::StoreError error;
    if (!managedObjectContext_->save(error)) unresolved(error);
}
