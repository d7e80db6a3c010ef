// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/Recorder.h"

#include <algorithm>
#include <cmath>

#include "platform/DateFormatter.h"
#include "platform/Log.h"
#include "platform/NumberText.h"
#include "recording/SessionText.h"

Recorder::Recorder(BaseModel root, sensors::Accelerometer& accelerometer, QObject* parent)
    : QObject(parent), root_(root), options_(root.options()), accelerometer_(accelerometer)
{
    accelerometer_.setListener(this);
    connect(&accelerometer_, &sensors::Accelerometer::sourceFailed, this, &Recorder::sourceFailed);
    connect(&rateLook_, &QTimer::timeout, this, &Recorder::lookAtRate);
}

Recorder::~Recorder()
{
    accelerometer_.setCapturing(false);
    accelerometer_.setListener(nullptr);
}

double Recorder::runRate() const
{
    const double stored = double(options_.framerate());
    const std::vector<double> offered = accelerometer_.availableRates();
    if (offered.empty()) return std::clamp(stored, double(slowestFramerate), double(fastestTimedFramerate));
    const auto nearer = [stored](double a, double b) { return std::fabs(a - stored) < std::fabs(b - stored); };
    return *std::min_element(offered.begin(), offered.end(), nearer);
}

void Recorder::useRecordingRate()
{
    const double rate = runRate();
    if (rate != double(options_.framerate()) && rate != loggedRunRate_) {
        // The stored rate is kept for a source that offers it; this run records at the nearest.
        platform::log("the stored rate of " + std::to_string(options_.framerate()) + " a second is not one "
                      + accelerometer_.source()->description() + " offers: recording at " + platform::shortestText(rate)
                      + " a second");
        loggedRunRate_ = rate;
    }
    // The interval first, so that a device is started once, at the rate asked.
    accelerometer_.setUpdateInterval(updateIntervalForFramerate(float(rate)));
    accelerometer_.setCapturing(true);
}

platform::Micros Recorder::handOver()
{
    return handOver(false);
}

platform::Micros Recorder::handOver(bool removal)
{
    const platform::Micros at = platform::Clock::now();
    accelerometer_.deliverThrough(at);
    boundary_ = Boundary{at, isRecording(), options_.activeSession().objectId(), removal};
    return at;
}

void Recorder::endCapture()
{
    accelerometer_.shutdown();
    if (state_ == State::recording) setStopped();
}

void Recorder::start()
{
    handOver();
    if (state_ == State::recording) return;
    state_ = State::recording;
    firstRecorded_ = 0;
    notedSource_ = 0;
    useRecordingRate();
    rateWatch_.begin(runRate(), platform::Clock::now());
    rateLook_.start(rateLookMs);
    emit stateChanged();
}

void Recorder::stop()
{
    // What was captured before the stop is stored.
    handOver();
    if (state_ == State::stopped) return;
    setStopped();
}

void Recorder::setStopped()
{
    state_ = State::stopped;
    accelerometer_.setCapturing(false);
    rateLook_.stop();
    const bool warned = rateWatch_.isOffRate();
    rateWatch_.end();
    if (warned) emit rateWarningChanged();
    emit stateChanged();
}

void Recorder::requestTare()
{
    // Never a reading taken before the request. The recording state is not consulted: while
    // recording, the tare's pace replaces the sampling pace until the tare is taken (a device
    // with its own buffer keeps its pace: setting it anew would cost more than it saves).
    tareAskedAt_ = handOver();
    tarePending_ = true;
    if (!(isRecording() && accelerometer_.isStreaming())) accelerometer_.setUpdateInterval(tareUpdateInterval);
    accelerometer_.setCapturing(true);
}

void Recorder::applyFramerate()
{
    handOver();
    if (state_ != State::recording) return;
    notedSource_ = 0;
    useRecordingRate();
    rateWatch_.begin(runRate(), platform::Clock::now());
}

Session Recorder::startNewSession()
{
    const platform::Micros at = handOver();
    store::ObjectContext* context = root_.managedObjectContext();
    Session before = options_.activeSession();
    if (!before && !root_.sessions().empty()) before = root_.sessionsByStart().back();
    Session session(context, context->insertSession(at));
    session.setBaseModel(root_);
    const store::SessionIdentity previous = before.identity();
    store::SessionIdentity identity;
    identity.machine = previous.machine;
    identity.point = previous.point;
    session.setIdentity(identity);
    options_.setActiveSession(session);
    platform::log("new session");
    emit activeSessionChanged();
    return session;
}

void Recorder::selectSession(const Session& session)
{
    handOver();
    options_.setActiveSession(session);
    emit activeSessionChanged();
}

bool Recorder::clearActiveSession()
{
    handOver(true);
    Session active = options_.activeSession();
    // Every sample of the session goes, saved or not; the session stays, and stays active. The
    // samples wait in the trash while the clear can be undone.
    const bool had = active && active.gData().count() > 0;
    if (active) root_.managedObjectContext()->clearSamples(active.objectId());
    emit activeSessionChanged();
    return had;
}

void Recorder::deleteSession(const Session& session)
{
    const bool active = session == options_.activeSession();
    handOver(active);
    deleteObject(session);
    if (active) emit activeSessionChanged();
}

bool Recorder::undoRemoval()
{
    handOver();
    store::ObjectContext* context = root_.managedObjectContext();
    if (!context || !context->undoRemoval()) return false;
    emit activeSessionChanged();
    return true;
}

store::ObjectId Recorder::addMarker(const std::string& text, store::MarkerRecord::Kind kind)
{
    // The readings before the moment are on the traces before its line.
    const platform::Micros at = handOver();
    Session active = options_.activeSession();
    return active ? addMarkerAt(active, at, text, kind) : 0;
}

store::ObjectId Recorder::addMarkerAt(const Session& session, platform::Micros at, const std::string& text,
                                      store::MarkerRecord::Kind kind)
{
    store::ObjectContext* context = root_.managedObjectContext();
    if (!context || !session) return 0;
    const store::ObjectId id = context->insertMarker(session.objectId(), at, kind, tidyMarkerText(text));
    platform::log("marker at " + platform::formatDate(at, "HH:mm:ss.SSS") + " in session "
                  + std::to_string(session.objectId()));
    emit markerAdded(session.objectId(), id);
    return id;
}

bool Recorder::editMarker(store::ObjectId marker, store::MarkerRecord::Kind kind, const std::string& text)
{
    store::ObjectContext* context = root_.managedObjectContext();
    const store::MarkerRecord* found = context ? context->marker(marker) : nullptr;
    if (!found) return false;
    const store::ObjectId session = found->session;
    context->editMarker(marker, kind, tidyMarkerText(text));
    emit markersChanged(session);
    return true;
}

bool Recorder::removeMarker(store::ObjectId marker)
{
    store::ObjectContext* context = root_.managedObjectContext();
    const store::MarkerRecord* found = context ? context->marker(marker) : nullptr;
    if (!found) return false;
    const store::ObjectId session = found->session;
    context->removeMarker(marker);
    emit markersChanged(session);
    return true;
}

void Recorder::describeSession(const Session& session, const store::SessionIdentity& identity)
{
    if (!session) return;
    store::SessionIdentity kept = tidyIdentity(identity);
    const store::SessionIdentity now = session.identity();
    kept.source = now.source;
    kept.rate = now.rate;
    session.managedObjectContext()->setIdentity(session.objectId(), kept);
    emit sessionDescribed(session.objectId());
}

void Recorder::noteSource(store::ObjectId session)
{
    notedSource_ = session;
    store::ObjectContext* context = root_.managedObjectContext();
    if (!context || session == 0) return;
    const store::SessionIdentity* now = context->identity(session);
    store::SessionIdentity identity = now ? *now : store::SessionIdentity{};
    identity.source = accelerometer_.source() ? accelerometer_.source()->description() : "";
    identity.rate = runRate();
    context->setIdentity(session, identity);
}

void Recorder::accelerometerDidAccelerate(sensors::Accelerometer*, const sensors::Acceleration& reading)
{
    handle(reading);
}

Recorder::Outcome Recorder::handle(const sensors::Acceleration& a)
{
    const platform::Micros taken = a.timestamp != 0 ? a.timestamp : platform::Clock::now();
    Outcome outcome = Outcome::ignored;
    if (taken < boundary_.at) {
        outcome = late(a, taken);
    } else if (tarePending_ && taken >= tareAskedAt_) {
        takeTare(a);
        outcome = Outcome::tare;
    } else if (state_ != State::recording) {
        return Outcome::ignored;
    } else if (stopAfter_ > 0 && firstRecorded_ != 0 && taken - firstRecorded_ >= stopAfter_) {
        setStopped();
        emit durationReached();
        return Outcome::ignored;
    } else {
        // When the active session was just deleted, the session the deletion's follow-up will
        // choose is chosen now and takes the reading.
        Session active = options_.activeSession();
        if (!active) active = root_.ensureActiveSession();
        outcome = record(a, taken, active.objectId());
    }
    return outcome;
}

Recorder::Outcome Recorder::late(const sensors::Acceleration& a, platform::Micros taken)
{
    // Captured before the last action, handed over only after it (a device that stamps far
    // behind): it belongs to the state before the action.
    if (boundary_.removal) {
        if (late_++ == 0)
            platform::log(
                "a reading captured before a clear or delete came after it: dropped, further ones are counted");
        return Outcome::dropped;
    }
    if (!boundary_.recording) return Outcome::ignored;
    const store::ObjectId session = boundary_.session ? boundary_.session : root_.ensureActiveSession().objectId();
    return record(a, taken, session);
}

Recorder::Outcome Recorder::record(const sensors::Acceleration& a, platform::Micros taken, store::ObjectId session)
{
    // The tare is read again for every axis of every reading, so a new tare applies at once.
    const double dx = a.x - double(options_.tareX());
    const double dy = a.y - double(options_.tareY());
    const double dz = a.z - double(options_.tareZ());
    // A difference beyond float range has no single-precision value to store.
    if (!sensors::isUsable({dx, dy, dz, 0})) {
        if (dropped_++ == 0)
            platform::log("a reading less the tare is out of range: dropped, further ones are counted");
        return Outcome::dropped;
    }
    const float x = float(dx), y = float(dy), z = float(dz);
    if (session != notedSource_) noteSource(session);
    store::ObjectId id = 0;
    if (store::ObjectContext* context = root_.managedObjectContext())
        id = context->insertSample(taken, x, y, z, session);
    for (const auto& [key, listener] : listeners_) listener(store::SampleValues{id, taken, x, y, z, session});
    rateWatch_.count();
    if (firstRecorded_ == 0) firstRecorded_ = taken;
    return Outcome::sample;
}

void Recorder::takeTare(const sensors::Acceleration& a)
{
    platform::log("tare");
    // The raw reading is stored, not its difference from the previous tare.
    options_.setTareX(float(a.x));
    options_.setTareY(float(a.y));
    options_.setTareZ(float(a.z));
    tarePending_ = false;
    if (state_ == State::recording) {
        platform::log("tare during sampling");
        useRecordingRate();
    } else {
        accelerometer_.setCapturing(false);
    }
    emit tareTaken();
}

void Recorder::sourceFailed(const QString& message)
{
    const bool wasRecording = isRecording();
    if (wasRecording) setStopped();
    emit recordingFailed(wasRecording ? "Recording stopped: the accelerometer failed (" + message
                                            + "). Everything recorded before is kept. Check the device, then press "
                                              "Record to try again."
                                      : "The accelerometer failed (" + message + "). Check the device and try again.");
}

void Recorder::lookAtRate()
{
    if (!rateWatch_.update(platform::Clock::now())) return;
    if (rateWatch_.isOffRate())
        platform::log("readings arrive off the rate asked: " + rateWatch_.describe());
    else
        platform::log("readings arrive at the rate asked again");
    emit rateWarningChanged();
}

std::int64_t Recorder::activeSampleCount() const
{
    return options_.activeSession().gData().count();
}

int Recorder::addSampleListener(SampleListener listener)
{
    listeners_.emplace_back(nextListener_, std::move(listener));
    return nextListener_++;
}

void Recorder::removeSampleListener(int key)
{
    std::erase_if(listeners_, [key](const auto& entry) { return entry.first == key; });
}
