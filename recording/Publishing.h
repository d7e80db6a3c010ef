// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Publishes what a recorder stores to MQTT brokers and InfluxDB databases, for the window and for
// `quivra record`: every second a summary of the samples stored since the previous one (the rate
// achieved, per axis the RMS, peak and velocity RMS from the analysis library at the true rate,
// the dropped counts; QoS 1 over MQTT, a point in InfluxDB), and with raw readings on, every
// 100 ms the readings themselves (QoS 0, to the brokers only).
//
// Recording never waits for it: a sample costs a copy into two vectors here, the analysis runs
// once a second on the samples of that second, and the publisher's own thread does the network,
// dropping by its own rules when the broker is away for long.
#include <QObject>
#include <QTimer>

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "recording/Recorder.h"
#include "analysis/Samples.h"
#include "platform/publish/Payloads.h"
#include "platform/publish/InfluxWriter.h"
#include "platform/publish/Publisher.h"
#include "platform/publish/PublishUrl.h"

class Publishing : public QObject {
    Q_OBJECT
public:
    static constexpr int summaryIntervalMs = 1000;
    static constexpr int rawIntervalMs = 100;

    // Starts a publisher or writer per destination (each connects in the background) and
    // listens to the recorder, which must outlive this object.
    Publishing(Recorder& recorder, const std::vector<publish::PublishUrl>& destinations, bool raw,
               QObject* parent = nullptr);
    ~Publishing() override;

    // Publishes what is left (a last summary and raw batch), then "offline", within about the
    // publishers' stop time. Later calls do nothing.
    void stop();

    // A summary of samples in time order that follow the end of the previous summary
    // (previousEnd, 0 when there was none): time is the last sample's, the rate is counted
    // against the time since previousEnd, and the levels and velocity (10-1000 Hz, clipped at
    // half the rate; not a number when there are too few samples for a spectrum) come from an
    // analysis at the rate the time stamps show. Device, session and drop counts are left to
    // the caller.
    static publish::Summary summarise(std::span<const analysis::Sample> samples, platform::Micros previousEnd);

private:
    void take(const store::SampleValues& sample);
    void publishSummary();
    void publishRaw();
    // Each marker dropped while publishing, as an event (QoS 1).
    void publishMarker(qint64 session, qint64 marker);

    Recorder& recorder_;
    int listener_ = 0;
    std::vector<std::unique_ptr<publish::Publisher>> brokers_;
    std::vector<std::unique_ptr<publish::InfluxWriter>> databases_;
    const bool raw_;
    const std::string device_;
    std::vector<analysis::Sample> second_; // stored since the last summary
    store::ObjectId session_ = 0;          // of the newest sample
    platform::Micros previousEnd_ = 0;
    std::vector<publish::Reading> batch_;
    store::ObjectId batchSession_ = 0;
    QTimer summaryTimer_;
    QTimer rawTimer_;
    bool stopped_ = false;
};
