// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What recording is, apart from any screen: the accelerometer's one listener. It knows whether
// recording runs, a tare waiting for its reading, the tare arithmetic, one stored sample per
// reading, and the session actions. The window and `quivra record` both drive it and observe it
// (the samples it stores, the tare, its state); neither touches the accelerometer.
//
// Every action takes effect at the moment it is made: the readings stamped before it are handed
// over first, under the state before it (the old session, stored before a stop, cleared with a
// clear, never the tare), and those stamped after it belong to the state after it, whenever
// either arrives.
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "recording/BaseModel.h"
#include "recording/Options.h"
#include "recording/RateWatch.h"
#include "recording/Session.h"
#include "platform/sensors/Accelerometer.h"

class Recorder : public QObject, public sensors::AccelerometerListener {
    Q_OBJECT
public:
    enum class State { stopped, recording };
    // What a reading became.
    enum class Outcome { sample, tare, ignored, dropped };

    // Seconds between readings for a rate: 1/rate divided in single precision.
    static double updateIntervalForFramerate(float framerate) { return double(1.0f / framerate); }
    static constexpr double tareUpdateInterval = double(0.01f);
    // The rates a timer-paced source records at; a source may offer faster ones.
    static constexpr int slowestFramerate = 5;
    static constexpr int fastestTimedFramerate = 200;

    Recorder(BaseModel root, sensors::Accelerometer& accelerometer, QObject* parent = nullptr);
    ~Recorder() override;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    bool isRecording() const { return state_ == State::recording; }
    // A tare is pending: the next reading becomes the zero point, recording or not.
    bool isTarePending() const { return tarePending_; }
    const sensors::Accelerometer& accelerometer() const { return accelerometer_; }
    // The root of what it records into: the settings and the sessions.
    BaseModel root() const { return root_; }

    // ---- actions ----
    // Starting applies the stored rate (or the nearest the source offers); stopping lets go of
    // the accelerometer once what it captured before the stop is stored. Neither touches the
    // view buffer, the session or a pending tare.
    void start();
    void stop();
    void requestTare();
    // The stored rate changed: while recording it applies at once.
    void applyFramerate();
    // A new session, started now, becomes the active one. It takes the machine and point of the
    // session active before it, so that a route of measurement points is quick to walk.
    Session startNewSession();
    void selectSession(const Session& session);
    // Every sample of the active session goes to the trash; false when it had none.
    bool clearActiveSession();
    // The session and its samples go to the trash (the active session is then empty until a
    // new one is chosen).
    void deleteSession(const Session& session);
    // Puts back the latest clear or delete; false when there is none.
    bool undoRemoval();
    // ---- markers and identities ----
    // A marker at this moment in the active session, after everything captured before it is
    // stored; its id, 0 when there is no active session.
    store::ObjectId addMarker(const std::string& text,
                              store::MarkerRecord::Kind kind = store::MarkerRecord::Kind::event);
    // A marker at a moment of a session (a moment shown in review); its id, 0 for no session.
    store::ObjectId addMarkerAt(const Session& session, platform::Micros at, const std::string& text,
                                store::MarkerRecord::Kind kind = store::MarkerRecord::Kind::event);
    bool editMarker(store::ObjectId marker, store::MarkerRecord::Kind kind, const std::string& text);
    bool removeMarker(store::ObjectId marker);
    // Names and describes a session (the fields Quivra fills in are kept as they are).
    void describeSession(const Session& session, const store::SessionIdentity& identity);

    // Hands over everything captured before now, under the state it was captured in, and
    // returns that moment. Every action does this first.
    platform::Micros handOver();
    // The end of the program: capture stops for good and its thread is joined, everything it
    // took is handled as it would have been (stored while recording), then recording stops.
    void endCapture();
    // Recording ends by capture time: readings stamped `length` or more after the first one
    // recorded are not, and the recorder stops there (durationReached).
    void stopAfter(platform::Micros length) { stopAfter_ = length; }

    void accelerometerDidAccelerate(sensors::Accelerometer* accelerometer,
                                    const sensors::Acceleration& reading) override;
    // One reading, stamped (or, with no stamp, taken now).
    Outcome handle(const sensors::Acceleration& reading);

    // The rate recording runs at: the stored one, or the nearest the source offers.
    double runRate() const;

    // The active session's sample count, stored and unsaved.
    std::int64_t activeSampleCount() const;

    // Told of every sample as it is stored (the live analysis, publishing), on the owner's
    // thread. The returned key takes it off again.
    using SampleListener = std::function<void(const store::SampleValues&)>;
    int addSampleListener(SampleListener listener);
    void removeSampleListener(int key);
    // Readings whose difference from the tare had no single-precision value, and readings that
    // came after the moment of a clear or delete they were captured before.
    std::uint64_t droppedReadings() const { return dropped_ + late_; }
    // Whether readings arrive at the rate asked; looked at every rateLookMs while recording.
    const RateWatch& rateWatch() const { return rateWatch_; }
    void setRateWatchWindow(platform::Micros window) { rateWatch_ = RateWatch(window); }
    int rateLookMs = 1000;

signals:
    // Recording started or stopped (by the user, the duration, or a failed source).
    void stateChanged();
    void tareTaken();
    // The active session changed: another one, or its samples (new, chosen, cleared, deleted,
    // put back).
    void activeSessionChanged();
    // The source failed while recording: recording stopped; the message names the device and
    // says what to do.
    void recordingFailed(const QString& message);
    void durationReached();
    // Readings arrive off the rate asked, or on it again.
    void rateWarningChanged();
    // A marker was added to a session, or the session's markers changed (edited, removed).
    void markerAdded(qint64 session, qint64 marker);
    void markersChanged(qint64 session);
    // A session's identity changed.
    void sessionDescribed(qint64 session);

private:
    // How a reading stamped before the last action is handled.
    struct Boundary {
        platform::Micros at = 0;
        bool recording = false;
        store::ObjectId session = 0;
        bool removal = false; // it went with a clear or a delete
    };

    platform::Micros handOver(bool removal);
    Outcome late(const sensors::Acceleration& a, platform::Micros taken);
    Outcome record(const sensors::Acceleration& a, platform::Micros taken, store::ObjectId session);
    void takeTare(const sensors::Acceleration& reading);
    // The session records from this source at this rate: its identity says so.
    void noteSource(store::ObjectId session);
    void useRecordingRate();
    void lookAtRate();
    void sourceFailed(const QString& message);
    void setStopped();

    BaseModel root_;
    Options options_;
    sensors::Accelerometer& accelerometer_;
    State state_ = State::stopped;
    bool tarePending_ = false;
    platform::Micros tareAskedAt_ = 0;
    Boundary boundary_;
    platform::Micros stopAfter_ = 0;
    platform::Micros firstRecorded_ = 0;
    store::ObjectId notedSource_ = 0; // the session whose source and rate are noted for this run
    std::uint64_t dropped_ = 0, late_ = 0;
    double loggedRunRate_ = 0;
    std::vector<std::pair<int, SampleListener>> listeners_;
    int nextListener_ = 1;
    RateWatch rateWatch_;
    QTimer rateLook_;
};
