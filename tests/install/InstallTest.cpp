// SPDX-License-Identifier: GPL-3.0-or-later
// `cmake --install` into a DESTDIR, as `make install` and the packages do: every file lands in
// the folder the system reads for the prefix, the service names the program where it was put,
// the desktop files pass their validators, and the installed program runs from there.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "Programs.h"

namespace {

QStringList installedFiles(const QString& root)
{
    QStringList files;
    for (QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        files << it.next().mid(root.size());
    files.sort();
    return files;
}

Finished install(const QString& destdir, const QString& prefix)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DESTDIR", destdir);
    return runProgram("cmake", {"--install", QUIVRA_BINARY_DIR, "--prefix", prefix}, environment);
}

QString contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Runs a validator that the machine has; nothing when it has none.
void expectValid(const QString& tool, const QStringList& arguments)
{
    if (QStandardPaths::findExecutable(tool).isEmpty()) return;
    const Finished checked = runProgram(tool, arguments);
    EXPECT_EQ(checked.status, 0) << tool.toStdString() << " " << arguments.join(' ').toStdString() << ":\n"
                                 << checked.out.toStdString() << checked.err.toStdString();
}

} // namespace

TEST(Install, IntoADestdirPutsEveryFileWhereTheSystemLooksAndTheProgramRunsFromThere)
{
    // The headless build installs less; its package is made and checked from the build with the window.
    if (!QUIVRA_GUI) GTEST_SKIP() << "a build without the window";
    QTemporaryDir destdir;
    const Finished installed = install(destdir.path(), "/usr");
    ASSERT_EQ(installed.status, 0) << installed.out.toStdString() << installed.err.toStdString();
    const QStringList files = installedFiles(destdir.path());
    for (const char* expected : {"/usr/bin/quivra",
                                 "/usr/share/man/man1/quivra.1.gz",
                                 "/usr/share/man/man1/quivra-record.1.gz",
                                 "/usr/share/man/man1/quivra-sessions.1.gz",
                                 "/usr/share/man/man1/quivra-export.1.gz",
                                 "/usr/share/man/man1/quivra-analyse.1.gz",
                                 "/usr/share/man/man1/quivra-report.1.gz",
                                 "/usr/share/man/man1/quivra-trend.1.gz",
                                 "/usr/share/bash-completion/completions/quivra",
                                 "/usr/share/applications/io.github.quivra.Quivra.desktop",
                                 "/usr/share/metainfo/io.github.quivra.Quivra.metainfo.xml",
                                 "/usr/share/icons/hicolor/scalable/apps/quivra.svg",
                                 "/usr/share/icons/hicolor/16x16/apps/quivra.png",
                                 "/usr/share/icons/hicolor/256x256/apps/quivra.png",
                                 "/lib/udev/rules.d/60-quivra-iio.rules",
                                 "/lib/systemd/system/quivra-record.service",
                                 "/usr/lib/sysusers.d/quivra.conf",
                                 "/usr/lib/tmpfiles.d/quivra.conf",
                                 "/usr/share/doc/quivra/copyright",
                                 "/usr/share/doc/quivra/changelog.gz"})
        EXPECT_TRUE(files.contains(expected)) << expected << " is missing from:\n" << files.join('\n').toStdString();
    const QString unit = contents(destdir.path() + "/lib/systemd/system/quivra-record.service");
    EXPECT_TRUE(unit.contains("\nExecStart=/usr/bin/quivra record ")) << unit.toStdString();
    EXPECT_TRUE(unit.contains("\nSupplementaryGroups=iio\n")) << unit.toStdString();
    expectValid("desktop-file-validate", {destdir.path() + "/usr/share/applications/io.github.quivra.Quivra.desktop"});
    expectValid("appstreamcli",
                {"validate", "--no-net", destdir.path() + "/usr/share/metainfo/io.github.quivra.Quivra.metainfo.xml"});

    const QString quivra = destdir.path() + "/usr/bin/quivra";
    const Finished version = runProgram(quivra, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.trimmed(), "Quivra " QUIVRA_VERSION);
    const Finished help = runProgram(quivra, {"record", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.startsWith("Usage: quivra record")) << help.out.toStdString();

    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home.path());
    environment.insert("XDG_DATA_HOME", home.path() + "/data");
    const Finished recorded =
        runProgram(quivra, {"record", "--accelerometer=simulated", "--rate", "50", "--duration", "2"}, environment);
    EXPECT_EQ(recorded.status, 0) << recorded.err.toStdString();
    EXPECT_TRUE(recorded.out.startsWith("Recorded ")) << recorded.out.toStdString();
    EXPECT_TRUE(QFile::exists(home.path() + "/data/Quivra/Quivra.sqlite"));
}

TEST(Install, AnotherPrefixTakesTheSystemFilesAlong)
{
    QTemporaryDir destdir;
    const Finished installed = install(destdir.path(), "/opt/quivra");
    ASSERT_EQ(installed.status, 0) << installed.err.toStdString();
    const QStringList files = installedFiles(destdir.path());
    for (const char* expected :
         {"/opt/quivra/bin/quivra", "/opt/quivra/lib/udev/rules.d/60-quivra-iio.rules",
          "/opt/quivra/lib/systemd/system/quivra-record.service", "/opt/quivra/lib/sysusers.d/quivra.conf"})
        EXPECT_TRUE(files.contains(expected)) << expected << " is missing from:\n" << files.join('\n').toStdString();
    EXPECT_TRUE(contents(destdir.path() + "/opt/quivra/lib/systemd/system/quivra-record.service")
                    .contains("\nExecStart=/opt/quivra/bin/quivra record "));
    for (const QString& file : files) EXPECT_TRUE(file.startsWith("/opt/quivra/")) << file.toStdString();
}
