// SPDX-License-Identifier: GPL-3.0-or-later
// Every source file says its licence in an SPDX line, so that a file added later does not go
// out without one.
#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>

TEST(Licence, EverySourceFileCarriesItsSpdxLine)
{
    const QString root = QUIVRA_SOURCE_DIR;
    QStringList missing;
    int checked = 0;
    for (const char* folder :
         {"Classes", "analysis", "platform", "cli", "tests", "bench", "scripts", "cmake", "resources", "data", ".ci"}) {
        for (QDirIterator it(root + "/" + folder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
            const QString path = it.next();
            if (path.endsWith(".png") || (path.endsWith(".in") && path.contains("/data/debian/"))) continue;
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
            ++checked;
            if (!file.read(400).contains("SPDX-License-Identifier: GPL-3.0-or-later"))
                missing << path.mid(root.size() + 1);
        }
    }
    for (const char* file : {"main.cpp", "CMakeLists.txt", "Makefile"}) {
        QFile top(root + "/" + file);
        ASSERT_TRUE(top.open(QIODevice::ReadOnly));
        if (!top.read(400).contains("SPDX-License-Identifier: GPL-3.0-or-later")) missing << file;
    }
    EXPECT_GT(checked, 200);
    EXPECT_TRUE(missing.isEmpty()) << "without an SPDX line: " << missing.join(", ").toStdString();
    EXPECT_TRUE(QFile::exists(root + "/LICENSE"));
}
