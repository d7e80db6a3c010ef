// SPDX-License-Identifier: GPL-3.0-or-later
// The Debian package, built by CPack from this build, installed with dpkg where the machine
// allows it (root, no other dpkg at work, no quivra installed already): the program runs, the
// service's user records two seconds into the service's store folder, and a purge takes the
// program away again.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include "Programs.h"

namespace {

constexpr const char* kStateFolder = "/var/lib/quivra";

// Why dpkg cannot be used here, or nothing when it can.
QString whyNoDpkg()
{
    if (::geteuid() != 0) return "installing a package needs root";
    for (const char* tool : {"dpkg", "cpack", "runuser"})
        if (QStandardPaths::findExecutable(tool).isEmpty()) return QString(tool) + " is missing";
    // dpkg's own lock, taken for a moment: busy means apt or dpkg is at work.
    const int fd = ::open("/var/lib/dpkg/lock-frontend", O_RDWR | O_CLOEXEC);
    if (fd < 0) return "dpkg's lock cannot be opened";
    struct flock lock {};
    lock.l_type = F_WRLCK;
    const bool free = ::fcntl(fd, F_SETLK, &lock) == 0;
    ::close(fd);
    if (!free) return "another dpkg or apt is at work";
    const Finished query = runProgram("dpkg-query", {"-W", "-f=${Status}", "quivra", "quivra-recorder"});
    if (query.out.contains("install ok installed")) return "a quivra package is installed already";
    return {};
}

bool installed(const char* package)
{
    return runProgram("dpkg-query", {"-W", "-f=${Status}", package}).out.contains("install ok installed");
}

} // namespace

TEST(Package, InstallsRecordsAsTheServiceUserAndIsPurgedAgain)
{
    if (!QUIVRA_GUI) GTEST_SKIP() << "packages are made from the build with the window";
    if (const QString why = whyNoDpkg(); !why.isEmpty())
        GTEST_SKIP() << "dpkg cannot be used here: " << why.toStdString();
    QTemporaryDir output;
    const Finished built = runProgram(
        "cpack", {"-G", "DEB", "-B", output.path(), "--config", QString(QUIVRA_BINARY_DIR) + "/CPackConfig.cmake"},
        QProcessEnvironment::systemEnvironment(), 180000);
    ASSERT_EQ(built.status, 0) << built.out.toStdString() << built.err.toStdString();
    const QStringList debs = QDir(output.path()).entryList({"quivra_*.deb"});
    ASSERT_EQ(debs.size(), 1) << built.out.toStdString();

    const bool hadStateFolder = QFileInfo::exists(kStateFolder);
    const Finished dpkg = runProgram("dpkg", {"-i", output.path() + "/" + debs.front()});
    ASSERT_EQ(dpkg.status, 0) << dpkg.out.toStdString() << dpkg.err.toStdString();
    EXPECT_TRUE(installed("quivra"));

    const Finished version = runProgram("/usr/bin/quivra", {"--version"});
    EXPECT_EQ(version.out.trimmed(), "Quivra " QUIVRA_VERSION) << version.err.toStdString();
    const Finished groups = runProgram("id", {"-nG", "quivra"});
    EXPECT_TRUE(groups.out.split(QRegularExpression("\\s+")).contains("iio")) << groups.out.toStdString();
    EXPECT_EQ(QFileInfo(kStateFolder).owner(), "quivra");
    // As the service runs it: its user, its groups, its store folder.
    const Finished recorded =
        runProgram("runuser", {"-u", "quivra", "--", "env", QString("XDG_DATA_HOME=") + kStateFolder,
                               QString("HOME=") + kStateFolder, "/usr/bin/quivra", "record",
                               "--accelerometer=simulated", "--new-session", "--duration", "2"});
    EXPECT_EQ(recorded.status, 0) << recorded.err.toStdString();
    EXPECT_TRUE(recorded.out.startsWith("Recorded ")) << recorded.out.toStdString();
    EXPECT_EQ(QFileInfo(QString(kStateFolder) + "/Quivra/Quivra.sqlite").owner(), "quivra");

    const Finished purged = runProgram("dpkg", {"--purge", "quivra"});
    EXPECT_EQ(purged.status, 0) << purged.out.toStdString() << purged.err.toStdString();
    EXPECT_FALSE(installed("quivra"));
    EXPECT_FALSE(QFileInfo::exists("/usr/bin/quivra"));
    EXPECT_FALSE(QFileInfo::exists("/lib/systemd/system/quivra-record.service"));
    // What was recorded stays after a purge; a folder this test made goes with it.
    EXPECT_TRUE(QFileInfo::exists(QString(kStateFolder) + "/Quivra/Quivra.sqlite"));
    if (!hadStateFolder) QDir(kStateFolder).removeRecursively();
}
