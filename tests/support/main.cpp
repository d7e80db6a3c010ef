// SPDX-License-Identifier: GPL-3.0-or-later
// Shared entry point of the test programs: GoogleTest first, then a QApplication on the
// offscreen platform, so widget tests need no display.
#if QUIVRA_GUI
#include <QApplication>
#else
#include <QCoreApplication>
#endif
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <QTimer>

#include <cstdlib>

namespace {

// A test that ends the application (its window closed for good, or a quit asked for) leaves
// every later event loop returning at once. The application's own loop, run for one pass,
// clears that, so each test starts as the program does.
class FreshEventLoops : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo&) override
    {
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }
};

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::GTEST_FLAG(death_test_style) = "threadsafe";
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir runtime(QDir::tempPath() + "/quivra-test-runtime-XXXXXX");
    if (runtime.isValid()) {
        QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        setenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData(), 1);
    }
#if QUIVRA_GUI
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshEventLoops);
    return RUN_ALL_TESTS();
}
