// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/Publishing.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <thread>

#include "analysis/StreamAnalyser.h"
#include "platform/publish/InfluxLine.h"

namespace {

// A summary whose predecessor is further back than this (recording paused) counts its rate over
// its own samples only.
constexpr platform::Micros kLongestStep = 2500000;

publish::AxisLevels axisLevels(const analysis::AxisResult& axis, bool velocity)
{
    return {float(axis.levels.rms), float(axis.levels.peak),
            velocity ? float(axis.velocityRms) : std::numeric_limits<float>::quiet_NaN()};
}

} // namespace

Publishing::Publishing(Recorder& recorder, const std::vector<publish::PublishUrl>& destinations, bool raw,
                       QObject* parent)
    : QObject(parent), recorder_(recorder), raw_(raw), device_(publish::hostName())
{
    // Topics may name the machine and point of the session recorded into when publishing starts.
    const store::SessionIdentity identity = recorder_.root().options().activeSession().identity();
    for (const publish::PublishUrl& destination : destinations) {
        if (destination.mqtt) {
            publish::PublisherOptions options;
            options.broker = *destination.mqtt;
            options.broker.prefix =
                publish::expandTopicTemplate(options.broker.prefix, identity.machine, identity.point);
            brokers_.push_back(std::make_unique<publish::Publisher>(std::move(options)));
        } else if (destination.influx) {
            publish::InfluxOptions options;
            options.url = *destination.influx;
            databases_.push_back(std::make_unique<publish::InfluxWriter>(std::move(options)));
        }
    }
    second_.reserve(4096);
    listener_ = recorder_.addSampleListener([this](const store::SampleValues& s) { take(s); });
    connect(&recorder_, &Recorder::markerAdded, this, &Publishing::publishMarker);
    summaryTimer_.setTimerType(Qt::PreciseTimer);
    connect(&summaryTimer_, &QTimer::timeout, this, &Publishing::publishSummary);
    summaryTimer_.start(summaryIntervalMs);
    if (raw_) {
        connect(&rawTimer_, &QTimer::timeout, this, &Publishing::publishRaw);
        rawTimer_.start(rawIntervalMs);
    }
}

Publishing::~Publishing()
{
    stop();
}

void Publishing::take(const store::SampleValues& s)
{
    if (stopped_) return;
    second_.push_back({s.dateStamp, s.x, s.y, s.z});
    session_ = s.session;
    if (!raw_) return;
    // A batch holds one session's readings.
    if (!batch_.empty() && s.session != batchSession_) publishRaw();
    batchSession_ = s.session;
    batch_.push_back({s.dateStamp, s.x, s.y, s.z});
}

publish::Summary Publishing::summarise(std::span<const analysis::Sample> samples, platform::Micros previousEnd)
{
    publish::Summary summary;
    if (samples.empty()) return summary;
    const platform::Micros end = samples.back().time;
    summary.time = end;
    const bool follows = previousEnd > 0 && previousEnd < samples.front().time + 1 && end - previousEnd <= kLongestStep;
    const platform::Micros span = follows ? end - previousEnd : end - samples.front().time;
    const double counted = double(follows ? samples.size() : samples.size() - 1);
    summary.rate = span > 0 ? float(counted * 1e6 / double(span)) : 0.0f;

    const double trueRate = analysis::estimateSampleRate(samples);
    if (!(trueRate > 0)) {
        // One sample, or all at one moment: levels of nothing.
        summary.x = summary.y = summary.z = {0, 0, std::numeric_limits<float>::quiet_NaN()};
        return summary;
    }
    // One block as long as the second, zero-padded to a power of two: the spectrum covers every
    // sample of it.
    analysis::Settings settings;
    settings.fftSize =
        int(std::clamp<std::size_t>(std::bit_ceil(samples.size()), analysis::kMinFftSize, analysis::kMaxFftSize));
    settings.peakCount = 0;
    // When at most one reading is missing (the samples fill the time they cover), a late reading
    // and the early one after it are the capture's jitter, not a pause: the samples are analysed
    // as one unbroken run. Only a real pause leaves out the blocks it spans.
    const double interval = 1e6 / trueRate;
    const double covered = double(end - samples.front().time);
    const bool unbroken = covered < (double(samples.size() - 1) + 1.5) * interval;
    analysis::StreamAnalyser analyser(settings, trueRate,
                                      unbroken ? analysis::GapChecks::Off : analysis::GapChecks::On);
    analyser.add(samples);
    const analysis::Result result = analyser.result();
    summary.x = axisLevels(result.axes[0], result.hasVelocity);
    summary.y = axisLevels(result.axes[1], result.hasVelocity);
    summary.z = axisLevels(result.axes[2], result.hasVelocity);
    return summary;
}

void Publishing::publishSummary()
{
    if (second_.empty()) return; // nothing recorded in that second
    publish::Summary summary = summarise(second_, previousEnd_);
    previousEnd_ = summary.time;
    second_.clear();
    summary.device = device_;
    summary.session = session_;
    if (const store::SessionIdentity* who = recorder_.root().managedObjectContext()->identity(session_)) {
        if (!who->machine.empty()) summary.tags.emplace_back("machine", who->machine);
        if (!who->point.empty()) summary.tags.emplace_back("point", who->point);
    }
    const sensors::Accelerometer& accelerometer = recorder_.accelerometer();
    summary.dropped =
        recorder_.droppedReadings() + accelerometer.droppedReadings() + accelerometer.overflowedReadings();
    // Each destination counts what it had to drop itself.
    for (const auto& broker : brokers_) {
        summary.publishDropped = broker->stats().dropped;
        broker->publish(publish::kSummaryTopic, publish::summaryJson(summary), 1);
    }
    for (const auto& database : databases_) {
        summary.publishDropped = database->stats().dropped;
        database->write(publish::summaryLine(summary));
    }
}

void Publishing::publishMarker(qint64 session, qint64 marker)
{
    const store::MarkerRecord* m = recorder_.root().managedObjectContext()->marker(marker);
    if (stopped_ || !m) return;
    const std::string payload = publish::markerEventJson(
        {m->dateStamp, device_, session, std::string(store::markerKindName(m->kind)), m->text});
    for (const auto& broker : brokers_) broker->publish(publish::kEventTopic, payload, 1);
}

void Publishing::publishRaw()
{
    if (batch_.empty()) return;
    const std::string payload = publish::rawBatchJson(batchSession_, batch_);
    for (const auto& broker : brokers_) broker->publish(publish::kRawTopic, payload, 0);
    batch_.clear();
}

void Publishing::stop()
{
    if (stopped_) return;
    summaryTimer_.stop();
    rawTimer_.stop();
    publishRaw();
    publishSummary();
    stopped_ = true;
    recorder_.removeSampleListener(listener_);
    // Side by side, so that stopping takes one stop time however many destinations there are.
    std::vector<std::jthread> stopping;
    for (const auto& broker : brokers_) stopping.emplace_back([&broker] { broker->stop(); });
    for (const auto& database : databases_) stopping.emplace_back([&database] { database->stop(); });
}
