// SPDX-License-Identifier: GPL-3.0-or-later
// A start of the window that cannot go on says why in a message box, not only on standard error
// (started from a desktop menu, nobody reads that); the store names one socket however it is
// reached. Bringing a running window to the front is tested with two processes (ProcessTest).
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

#include "support/Program.h"
#include "ui/QuivraAppDelegate.h"
#include "ui/SingleWindow.h"
#include "platform/store/ObjectContext.h"
#include "support/TempHome.h"

TEST(SingleWindow, OneStoreOneSocketWhateverPathLeadsToIt)
{
    TempHome home;
    QDir().mkpath(home.dataDir());
    QFile store(home.storePath());
    ASSERT_TRUE(store.open(QIODevice::WriteOnly));
    store.close();
    ASSERT_TRUE(QFile::link(home.path() + "/data", home.path() + "/link"));
    const QString name = SingleWindow(home.storePath().toStdString()).serverName();
    EXPECT_EQ(SingleWindow((home.path() + "/link/Quivra/Quivra.sqlite").toStdString()).serverName(), name);
    EXPECT_NE(SingleWindow((home.path() + "/other.sqlite").toStdString()).serverName(), name);
    EXPECT_TRUE(name.startsWith(qEnvironmentVariable("XDG_RUNTIME_DIR") + "/quivra-")) << name.toStdString();

    // Listening replaces a socket a killed window left behind.
    QWidget window;
    {
        SingleWindow first(home.storePath().toStdString());
        ASSERT_TRUE(first.listen(&window));
    }
    QFile leftover(name);
    ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
    leftover.close();
    SingleWindow again(home.storePath().toStdString());
    EXPECT_TRUE(again.listen(&window));
}

TEST(SingleWindowDeathTest, AWindowStartOnAStoreHeldElsewhereSaysSoInABoxAndLeaves)
{
    TempHome home;
    QDir().mkpath(home.dataDir());
    store::ObjectContext holder; // as quivra record holds it
    store::StoreError error;
    ASSERT_TRUE(holder.open(home.storePath().toStdString(), error));
    EXPECT_EXIT(
        {
            QTimer watch;
            QObject::connect(&watch, &QTimer::timeout, [] {
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                    std::fprintf(stderr, "box: %s\n", qPrintable(box->text()));
                    box->accept();
                }
            });
            watch.start(20);
            Program delegateProgram;
            QuivraAppDelegate& delegate = delegateProgram.delegate;
            delegate.applicationDidFinishLaunchingWithOptions();
        },
        ::testing::ExitedWithCode(1),
        "quivra: Quivra is already running on the store.*\nbox: Quivra is already running");
}
