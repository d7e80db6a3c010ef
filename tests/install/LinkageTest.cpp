// SPDX-License-Identifier: GPL-3.0-or-later
// What the built program links: the window's libraries only in the build with the window, so that
// a box without a screen installs Qt Core and nothing of the display.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QStandardPaths>

#include "Programs.h"

TEST(Linkage, TheDisplayLibrariesComeOnlyWithTheWindow)
{
    if (QStandardPaths::findExecutable("ldd").isEmpty()) GTEST_SKIP() << "no ldd on this machine";
    const Finished linked = runProgram("ldd", {builtQuivra()});
    ASSERT_EQ(linked.status, 0) << linked.err.toStdString();
    const QRegularExpression display(R"(lib(Qt6Widgets|Qt6Gui|Qt6OpenGL|GL|GLX|OpenGL|EGL|X11)\.so)");
    EXPECT_TRUE(linked.out.contains("libQt6Core.so"));
    EXPECT_EQ(linked.out.contains(display), bool(QUIVRA_GUI)) << linked.out.toStdString();

    // Without the window the subcommands still answer.
    const Finished help = runProgram(builtQuivra(), {"sessions", "--help"});
    EXPECT_EQ(help.status, 0) << help.err.toStdString();
}
