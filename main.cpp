// Quivra: records a device's three-axis accelerometer into sessions in one SQLite store.
#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <cstdlib>

#include "Classes/MainViewController.h"
#include "Classes/QuivraAppDelegate.h"
#include "platform/TerminationSignals.h"
#include "platform/sensors/Accelerometer.h"

namespace {

bool displayAvailable()
{
    auto set = [](const char* name) { const char* v = std::getenv(name); return v && *v; };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

} // namespace

int main(int argc, char** argv)
{
    // The command line is checked before any window exists, so a mistake is one clear line.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription("Quivra: a vibration recorder for the device's accelerometer.");
    QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    QCommandLineOption version("version", "Show the version and exit.");
    QCommandLineOption accelerometer(
        "accelerometer",
        "Where readings come from: auto (an IIO accelerometer when there is one, else simulated), "
        "iio, iio:DEVICE, simulated, or replay:FILE (an exported .asc file, or text with three "
        "numbers in g per line).",
        "source", "auto");
    QCommandLineOption record("record", "Start recording as soon as the window opens.");
    parser.addOptions({help, version, accelerometer, record});
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "quivra: %s (see --help)\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(help)) {
        std::printf("Usage: quivra [options]\n%s", qPrintable(parser.helpText().section('\n', 1)));
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("Quivra %s\n", QUIVRA_VERSION);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "quivra: unexpected argument '%s' (see --help)\n",
                     qPrintable(parser.positionalArguments().first()));
        return 2;
    }
    std::string error;
    auto source = sensors::makeAccelerometerSource(parser.value(accelerometer).toStdString(), error);
    if (!source) {
        std::fprintf(stderr, "quivra: %s\n", error.c_str());
        return 2;
    }
    if (!displayAvailable()) {
        std::fprintf(stderr, "quivra: no display found (DISPLAY is not set); run it on a desktop, or "
                             "headless with: xvfb-run -a quivra\n");
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("Quivra");
    QApplication::setApplicationVersion(QUIVRA_VERSION);
    sensors::Accelerometer::sharedAccelerometer()->setSource(std::move(source));

    QuivraAppDelegate delegate;
    delegate.applicationDidFinishLaunchingWithOptions();
    if (parser.isSet(record)) delegate.mainViewController()->startStopButtonPressed();
    platform::quitOnTerminationSignals([] { QApplication::quit(); });
    int status = app.exec();
    delegate.applicationWillTerminate();
    return status;
}
