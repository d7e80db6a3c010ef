// SPDX-License-Identifier: GPL-3.0-or-later
// Quivra: records a device's three-axis accelerometer into sessions in one SQLite store.
#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "cli/Commands.h"
#include "platform/Folders.h"
#include "platform/TerminationSignals.h"
#include "platform/publish/PublishUrl.h"
#include "platform/sensors/Accelerometer.h"
#include "recording/Publishing.h"
#include "recording/StoreKeeper.h"

#if QUIVRA_GUI
#include <QApplication>

#include "report/ReportCommand.h"
#include "ui/AppIcon.h"
#include "ui/MainViewController.h"
#include "ui/QuivraAppDelegate.h"
#include "ui/SingleWindow.h"
#endif

namespace {

#if QUIVRA_GUI
bool displayAvailable(bool platformGiven)
{
    auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    return platformGiven || set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}
#endif

// Qt's own options (-platform offscreen, -style fusion, ...) are left to Qt; ours are the rest.
QStringList withoutQtOptions(int argc, char** argv, bool& platformGiven)
{
    static const QStringList withValue = {"platform",        "platformpluginpath", "platformtheme", "plugin",
                                          "qwindowgeometry", "qwindowicon",        "qwindowtitle",  "session",
                                          "display",         "geometry",           "title",         "name",
                                          "style",           "stylesheet",         "qmljsdebugger"};
    static const QStringList flags = {"reverse", "widgetcount", "testability", "nograb", "dograb", "sync"};
    QStringList ours;
    platformGiven = false;
    for (int i = 0; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        QString name = arg.startsWith("--") ? arg.mid(2) : arg.startsWith('-') ? arg.mid(1) : QString();
        const bool inline_ = name.contains('=');
        name = name.section('=', 0, 0);
        if (i > 0 && withValue.contains(name)) {
            platformGiven = platformGiven || name == "platform";
            if (!inline_) ++i; // its value
        } else if (i == 0 || !flags.contains(name) || inline_) {
            ours << arg;
        }
    }
    return ours;
}

#if QUIVRA_GUI
// What the window is asked to do beside opening.
struct WindowRequest {
    std::vector<publish::PublishUrl> destinations;
    bool publishRaw = false;
    std::unique_ptr<sensors::AccelerometerSource> source;
};

// The window's own options, checked before any window exists; the exit status when refused.
std::optional<int> checkWindowOptions(const QCommandLineParser& parser, const QCommandLineOption& publishTo,
                                      const QCommandLineOption& publishRaw, const QCommandLineOption& sourceOption,
                                      WindowRequest& request)
{
    std::string error;
    bool toBroker = false;
    for (const QString& url : parser.values(publishTo)) {
        std::optional<publish::PublishUrl> destination = publish::parsePublishUrl(url.toStdString(), error);
        if (!destination) {
            std::fprintf(stderr, "quivra: %s\n", error.c_str());
            return 2;
        }
        toBroker = toBroker || destination->mqtt;
        request.destinations.push_back(std::move(*destination));
    }
    request.publishRaw = parser.isSet(publishRaw);
    if (request.publishRaw && !toBroker) {
        std::fprintf(stderr, "quivra: --publish-raw needs --publish mqtt://... (see --help)\n");
        return 2;
    }
    request.source = sensors::makeAccelerometerSource(parser.value(sourceOption).toStdString(), error);
    if (!request.source) {
        std::fprintf(stderr, "quivra: %s\n", error.c_str());
        return 2;
    }
    return std::nullopt;
}

int runWindow(int argc, char** argv, WindowRequest& request, bool recordAtOnce)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quivra");
    QApplication::setApplicationVersion(QUIVRA_VERSION);
    // First thing: a signal that comes during start-up still ends through the final save.
    platform::quitOnTerminationSignals(&QuivraAppDelegate::endOnSignal);

    QApplication::setWindowIcon(appIcon());
    QGuiApplication::setDesktopFileName("io.github.quivra.Quivra");
    // A window already open on this store comes to the front instead of a second one.
    SingleWindow single(platform::storePath());
    if (single.raiseRunning()) {
        std::fprintf(stderr, "quivra: Quivra is already open on %s; its window was brought to the front\n",
                     platform::storePath().c_str());
        return 0;
    }

    // The long-lived objects, built here and handed to each other; they go in the reverse order.
    sensors::Accelerometer accelerometer;
    accelerometer.setSource(std::move(request.source));
    StoreKeeper keeper;
    QuivraAppDelegate delegate(accelerometer, keeper);
    delegate.applicationDidFinishLaunchingWithOptions();
    single.listen(delegate.window());
    std::unique_ptr<Publishing> publishing;
    if (!request.destinations.empty()) {
        publishing = std::make_unique<Publishing>(*delegate.recorder(), request.destinations, request.publishRaw);
        delegate.setPublishing(publishing.get());
    }
    if (recordAtOnce) delegate.mainViewController()->startStopButtonPressed();
    const int status = app.exec();
    // Capture, the final save, then publishing: the one way out.
    delegate.applicationWillTerminate();
    return status;
}
#endif

} // namespace

int main(int argc, char** argv)
{
    // Subcommands need no display; only the report loads widgets, to draw its pages.
#if QUIVRA_GUI
    if (std::optional<int> status = cli::runSubcommand(argc, argv, &report::reportSubcommand)) return *status;
#else
    if (std::optional<int> status = cli::runSubcommand(argc, argv)) return *status;
#endif

    // The command line is checked before any window exists, so a mistake is one clear line.
    bool platformGiven = false;
    const QStringList arguments = withoutQtOptions(argc, argv, platformGiven);
    QCommandLineParser parser;
    parser.setApplicationDescription("Quivra: a vibration recorder for the device's accelerometer.");
    QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    QCommandLineOption version("version", "Show the version and exit.");
    QCommandLineOption sourceOption(
        "accelerometer",
        "Where readings come from: auto (an IIO accelerometer when there is one, else simulated), "
        "iio, iio:DEVICE, simulated, or replay:FILE (an exported .asc file, or text with three "
        "numbers in g per line).",
        "source", "auto");
    QCommandLineOption record("record", "Start recording as soon as the window opens.");
    QCommandLineOption publishTo("publish",
                                 "Publish a summary every second while recording to MQTT, "
                                 "mqtt://[USER[:PASS]@]HOST[:PORT]/TOPIC-PREFIX, or to InfluxDB, "
                                 "influx://[USER:PASS@]HOST[:PORT]/DATABASE; once per destination.",
                                 "URL");
    QCommandLineOption publishRaw("publish-raw",
                                  "Also publish every reading to the MQTT brokers, in batches every 100 ms.");
    parser.addOptions({help, version, sourceOption, record, publishTo, publishRaw});
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "quivra: %s (see --help)\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(help)) {
#if QUIVRA_GUI
        std::printf("Usage: quivra [options]\n%s\n%s", qPrintable(parser.helpText().section('\n', 1)),
                    cli::subcommandsHelp);
#else
        std::printf("Usage: quivra SUBCOMMAND [options]\nQuivra: a vibration recorder for the device's "
                    "accelerometer, without a window.\n\n%s",
                    cli::subcommandsHelp);
#endif
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("Quivra %s\n", QUIVRA_VERSION);
        return 0;
    }
#if !QUIVRA_GUI
    // What a box without a screen installs: the subcommands alone.
    std::fprintf(stderr, "quivra: this build has no window; use one of its subcommands (see --help)\n");
    return 2;
#else
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "quivra: unexpected argument '%s' (see --help)\n",
                     qPrintable(parser.positionalArguments().first()));
        return 2;
    }
    WindowRequest request;
    if (std::optional<int> refused = checkWindowOptions(parser, publishTo, publishRaw, sourceOption, request))
        return *refused;
    if (!displayAvailable(platformGiven)) {
        std::fprintf(stderr, "quivra: no display found (DISPLAY is not set); run it on a desktop, or "
                             "headless with: xvfb-run -a quivra\n");
        return 1;
    }

    return runWindow(argc, argv, request, parser.isSet(record));
#endif
}
