// SPDX-License-Identifier: GPL-3.0-or-later
// quivra record: the recorder without a window, for a box without a screen. The same store, lock
// and saving rules as the window (through StoreKeeper), the same Recorder, and MQTT publishing.
#include <QCoreApplication>
#include <QTimer>

#include <QSocketNotifier>

#include <unistd.h>

#include <charconv>
#include <cmath>
#include <memory>
#include <optional>

#include "recording/ControlSocket.h"
#include "recording/Options.h"
#include "recording/Publishing.h"
#include "recording/Recorder.h"
#include "recording/Shutdown.h"
#include "recording/Session.h"
#include "recording/SessionText.h"
#include "recording/StoreKeeper.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/StatusLine.h"
#include "cli/Times.h"
#include "platform/Folders.h"
#include "platform/Log.h"
#include "platform/NumberText.h"
#include "platform/TerminationSignals.h"
#include "platform/publish/PublishUrl.h"
#include "platform/sensors/Accelerometer.h"

namespace cli {

namespace {

// The rate to store: 5 to 200 a second as in the window, or a faster one the device offers.
int checkedRate(const CommandLine& line, const std::string& text, const sensors::AccelerometerSource& source)
{
    int rate = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), rate);
    const bool whole = !text.empty() && ec == std::errc() && end == text.data() + text.size();
    if (whole && rate >= StoreKeeper::slowestFramerate && rate <= StoreKeeper::fastestFramerate) return rate;
    std::string offered;
    for (double r : source.availableRates()) {
        if (r <= StoreKeeper::fastestFramerate || r != std::floor(r)) continue;
        if (whole && r == rate) return rate;
        offered += (offered.empty() ? "" : ", ") + std::to_string(static_cast<long long>(r));
    }
    line.usageError("--rate " + text + ": a whole number of readings a second from 5 to 200"
                    + (offered.empty() ? std::string() : ", or one the accelerometer offers (" + offered + ")"));
}

std::uint64_t droppedSoFar(const Recorder& recorder)
{
    const sensors::Accelerometer& a = recorder.accelerometer();
    return recorder.droppedReadings() + a.droppedReadings() + a.overflowedReadings();
}

// Each line on standard input is a marker dropped when it arrives, its text the line.
class StdinMarkers {
public:
    explicit StdinMarkers(Recorder& recorder) : recorder_(recorder)
    {
        // Not from a terminal this run does not own: reading it would stop the run.
        if (::isatty(STDIN_FILENO) == 1 && ::tcgetpgrp(STDIN_FILENO) != ::getpgrp()) return;
        notifier_ = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readSome(); });
    }

private:
    void readSome()
    {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) return;
            notifier_->setEnabled(false); // the end of the input: recording goes on
            return;
        }
        pending_.append(buffer, std::size_t(n));
        for (std::size_t end; (end = pending_.find('\n')) != std::string::npos; pending_.erase(0, end + 1)) {
            const std::string text = tidyMarkerText(pending_.substr(0, end));
            if (!text.empty()) recorder_.addMarker(text);
        }
        if (pending_.size() > kMarkerTextMax * 4) pending_.clear(); // no line end in sight
    }

    Recorder& recorder_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::string pending_;
};

// What the command line asks of a recording.
struct RecordRequest {
    std::optional<Micros> stopAfter;
    std::vector<publish::PublishUrl> destinations;
    bool publishRaw = false;
    std::unique_ptr<sensors::AccelerometerSource> source;
    std::optional<int> framerate;
    bool newSession = false;
    std::optional<std::string> name, machine, point;
};

// The options, checked before anything is opened; nothing when --help was asked.
std::optional<RecordRequest> parseRecord(const QStringList& arguments)
{
    CommandLine line("record",
                     "record [--accelerometer=SOURCE] [--rate R] [--duration D] [--new-session]\n"
                     "                     [--publish URL]... [--publish-raw]",
                     "Records into the active session of the window's store (or a new one) until Ctrl-C,\n"
                     "SIGTERM or the end of --duration, then saves and prints one summary line. Saves as the\n"
                     "window does: a second after every change, whenever recording stops, and at the end; a\n"
                     "killed recorder loses at most the last two seconds. One Quivra per store: while the\n"
                     "window or another recorder has it, this one exits with status 1. On a terminal one\n"
                     "status line shows the time, samples, the rate achieved and readings dropped; otherwise\n"
                     "a line is logged every minute. Durations: 30 or 30s, 5m, 2h. Each line on standard\n"
                     "input drops a marker when it arrives, its text the line; `quivra mark` drops one too.\n"
                     "A new session takes the machine and point of the one before it.");
    QCommandLineOption sourceOption("accelerometer",
                                    "Where readings come from: auto, iio, iio:DEVICE, simulated or replay:FILE "
                                    "(as for the window).",
                                    "SOURCE", "auto");
    QCommandLineOption rate("rate",
                            "Readings a second, stored as the window's rate: 5 to 200, or a faster one the "
                            "accelerometer offers.",
                            "R");
    QCommandLineOption duration("duration", "Stop after this long.", "D");
    QCommandLineOption newSession("new-session", "Start a new session, as the window's New does.");
    QCommandLineOption publishTo("publish",
                                 "Publish a summary every second to MQTT, "
                                 "mqtt://[USER[:PASS]@]HOST[:PORT]/TOPIC-PREFIX, or to InfluxDB, "
                                 "influx://[USER:PASS@]HOST[:PORT]/DATABASE; once per destination.",
                                 "URL");
    QCommandLineOption publishRaw("publish-raw",
                                  "Also publish every reading to the MQTT brokers, in batches every 100 ms.");
    QCommandLineOption name("name", "Name the session recorded into.", "N");
    QCommandLineOption machine("machine", "The machine (asset) it measures.", "M");
    QCommandLineOption point("point", "The measurement point on the machine.", "P");
    for (const auto* option :
         {&sourceOption, &rate, &duration, &newSession, &name, &machine, &point, &publishTo, &publishRaw})
        line.add(*option);
    if (!line.parse(arguments)) return std::nullopt;
    if (!line.positional().empty()) line.usageError("unexpected argument '" + line.positional().front() + "'");

    RecordRequest request;
    if (line.isSet(duration) && !(request.stopAfter = parseDuration(line.value(duration))))
        line.usageError("--duration '" + line.value(duration) + "' is not a length of time such as 30, 90s, 5m or 2h");
    std::string error;
    bool toBroker = false;
    for (const std::string& url : line.values(publishTo)) {
        std::optional<publish::PublishUrl> destination = publish::parsePublishUrl(url, error);
        if (!destination) throw Failure(badUsage, error);
        toBroker = toBroker || destination->mqtt;
        request.destinations.push_back(std::move(*destination));
    }
    request.publishRaw = line.isSet(publishRaw);
    if (request.publishRaw && !toBroker) line.usageError("--publish-raw needs --publish mqtt://...");
    request.source = sensors::makeAccelerometerSource(line.value(sourceOption), error);
    if (!request.source) throw Failure(badUsage, error);
    if (line.isSet(rate)) request.framerate = checkedRate(line, line.value(rate), *request.source);
    request.newSession = line.isSet(newSession);
    for (auto [option, field] :
         {std::pair{&name, &request.name}, {&machine, &request.machine}, {&point, &request.point}})
        if (line.isSet(*option)) *field = line.value(*option);
    return request;
}

// The session recorded into: a new one when asked, named and described as asked.
void prepareSession(Recorder& recorder, Options& options, const RecordRequest& request)
{
    if (request.newSession) recorder.startNewSession();
    if (!request.name && !request.machine && !request.point) return;
    store::SessionIdentity identity = options.activeSession().identity();
    if (request.name) identity.name = *request.name;
    if (request.machine) identity.machine = *request.machine;
    if (request.point) identity.point = *request.point;
    recorder.describeSession(options.activeSession(), identity);
}

// The one line a run ends with.
void printSummary(std::int64_t kept, std::int64_t lost, long long session, Micros span, std::uint64_t dropped,
                  const std::string& offRate)
{
    const double seconds = double(span) / 1e6;
    char rateText[32];
    *std::to_chars(rateText, rateText + 31, seconds > 0 ? double(kept) / seconds : 0.0, std::chars_format::fixed, 1)
         .ptr = '\0';
    std::printf("Recorded %s samples into session %lld in %s (%s a second), %s dropped%s%s\n", grouped(kept).c_str(),
                session, durationText(span).c_str(), rateText, grouped(static_cast<long long>(dropped)).c_str(),
                lost > 0 ? (", " + grouped(lost) + " lost (not saved)").c_str() : "",
                offRate.empty() ? "" : ("; off rate: " + offRate).c_str());
    std::fflush(stdout);
}

} // namespace

int runRecord(const QStringList& arguments)
{
    std::optional<RecordRequest> request = parseRecord(arguments);
    if (!request) return done;

    // From here on a signal ends through the final save, even during start-up.
    platform::quitOnTerminationSignals([] { QCoreApplication::quit(); });
    sensors::Accelerometer accelerometer;
    accelerometer.setSource(std::move(request->source));
    StoreKeeper keeper;
    store::StoreError storeProblem;
    if (!keeper.open(platform::storePath(), storeProblem)) {
        if (storeProblem.code == store::StoreError::lockedByAnotherProcess)
            throw Failure(storeFailed, storeProblem.message);
        storeError(storeProblem);
    }
    BaseModel root = keeper.loadRoot();
    Options options = root.options();
    if (request->framerate) options.setFramerate(*request->framerate);

    Recorder recorder(root, accelerometer);
    prepareSession(recorder, options, *request);
    keeper.saveContext();
    std::string error;
    ControlSocket control(recorder, platform::storePath());
    if (!control.listen(error)) platform::log("quivra mark cannot reach this run: " + error);
    StdinMarkers markers(recorder);
    // Samples recorded by this run: the active session never changes while it runs.
    const std::int64_t before = recorder.activeSampleCount();
    const auto recorded = [&] { return recorder.activeSampleCount() - before; };
    std::string deviceFailure, offRate; // offRate: the latest warning, kept for the summary
    QObject listening;                  // the connections end with this run
    QObject::connect(&accelerometer, &sensors::Accelerometer::sourceFailed, &listening,
                     [&deviceFailure](const QString& message) {
                         deviceFailure = message.toStdString();
                         QCoreApplication::quit();
                     });
    QObject::connect(&recorder, &Recorder::durationReached, &listening, [] { QCoreApplication::quit(); });
    QObject::connect(&recorder, &Recorder::rateWarningChanged, &listening, [&] {
        if (recorder.rateWatch().isOffRate()) offRate = recorder.rateWatch().describe();
    });

    // Declared before the publishing, so that the log still reaches it while the publisher stops.
    StatusLine status(::isatty(STDERR_FILENO) == 1, [&] {
        return StatusLine::Figures{recorded(), droppedSoFar(recorder), recorder.rateWatch().describe()};
    });
    std::unique_ptr<Publishing> publishing;
    if (!request->destinations.empty())
        publishing = std::make_unique<Publishing>(recorder, request->destinations, request->publishRaw);
    if (request->stopAfter) {
        // The span recorded is measured on the readings' own time stamps; the clock only ends a
        // run whose readings stopped coming.
        recorder.stopAfter(*request->stopAfter);
        QTimer::singleShot(std::chrono::milliseconds(*request->stopAfter / 1000 + 2000), qApp, &QCoreApplication::quit);
    }

    platform::log("recording into session " + std::to_string(options.activeSession().objectId()) + " at "
                  + platform::shortestText(recorder.runRate()) + " a second from "
                  + accelerometer.source()->description());
    const platform::Micros started = platform::Clock::systemNow();
    recorder.start();
    status.start();
    QCoreApplication::exec();

    // The one way out: capture ends and what it took is stored, the final save, then publishing.
    const platform::Micros stopped = platform::Clock::systemNow();
    store::StoreError saveProblem;
    const bool saved = shutDown(recorder, keeper, publishing.get(), saveProblem);
    status.finish();

    // What the final save could not write is lost, not recorded.
    const std::int64_t lost = saved ? 0 : keeper.context()->unsavedSampleCount();
    printSummary(recorded() - lost, lost, static_cast<long long>(options.activeSession().objectId()), stopped - started,
                 droppedSoFar(recorder), offRate);
    if (!saved) throw Failure(storeFailed, "what was recorded could not be saved: " + describeStoreError(saveProblem));
    if (!deviceFailure.empty()) throw Failure(storeFailed, "the accelerometer failed: " + deviceFailure);
    return done;
}
} // namespace cli
