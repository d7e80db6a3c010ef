// SPDX-License-Identifier: GPL-3.0-or-later
// Where the store and the exports go, whatever the environment says.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

#include "platform/Folders.h"

namespace {
struct SavedEnvironment {
    std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    std::string data = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
    ~SavedEnvironment()
    {
        if (home.empty())
            unsetenv("HOME");
        else
            setenv("HOME", home.c_str(), 1);
        if (data.empty())
            unsetenv("XDG_DATA_HOME");
        else
            setenv("XDG_DATA_HOME", data.c_str(), 1);
    }
};
} // namespace

TEST(Folders, FollowTheEnvironmentAndNeverLandUnderTheRoot)
{
    SavedEnvironment saved;
    setenv("HOME", "/home/ada", 1);
    setenv("XDG_DATA_HOME", "/data/ada", 1);
    EXPECT_EQ(platform::libraryDirectory(), "/data/ada/Quivra");
    // A relative XDG_DATA_HOME is invalid, and ignored.
    setenv("XDG_DATA_HOME", "relative/data", 1);
    EXPECT_EQ(platform::libraryDirectory(), "/home/ada/.local/share/Quivra");
    // Without HOME, the password database says where home is.
    unsetenv("HOME");
    unsetenv("XDG_DATA_HOME");
    const std::string home = getpwuid(getuid())->pw_dir;
    EXPECT_EQ(platform::libraryDirectory(), home + "/.local/share/Quivra");
    EXPECT_EQ(platform::documentsDirectory(), home + "/Documents");
}

TEST(Folders, AFolderThatCannotBeMadeIsAReasonNotACrash)
{
    QTemporaryDir dir;
    const std::string loop = (dir.path() + "/loop").toStdString();
    ASSERT_EQ(::symlink(loop.c_str(), loop.c_str()), 0);
    std::string error;
    EXPECT_FALSE(platform::ensureDirectory(loop + "/Quivra", &error));
    EXPECT_NE(error.find("symbolic links"), std::string::npos) << error;
    EXPECT_FALSE(platform::ensureDirectory(std::string(5000, 'a'), &error));
    EXPECT_NE(error.find("too long"), std::string::npos) << error;
    EXPECT_TRUE(platform::ensureDirectory((dir.path() + "/a/b/c").toStdString(), &error));
}
