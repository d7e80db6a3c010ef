// Quivra: records a device's three-axis accelerometer into sessions in one SQLite store.
#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <cstdlib>

#include "Classes/QuivraAppDelegate.h"
#include "platform/TerminationSignals.h"

namespace {
bool displayAvailable()
{
    auto set = [](const char* name) { const char* v = std::getenv(name); return v && *v; };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}
} // namespace

int main(int argc, char** argv)
{
    if (!displayAvailable()) {
        std::fprintf(stderr, "quivra: no display found (DISPLAY is not set); run it on a desktop, or "
                             "headless with: xvfb-run -a quivra\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quivra");
    QApplication::setApplicationVersion(QUIVRA_VERSION);

    QCommandLineParser parser;
    parser.setApplicationDescription("Quivra: a vibration recorder for the device's accelerometer.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);

    QuivraAppDelegate delegate;
    delegate.applicationDidFinishLaunchingWithOptions();
    platform::quitOnTerminationSignals([] { QApplication::quit(); });
    int status = app.exec();
    delegate.applicationWillTerminate();
    return status;
}
