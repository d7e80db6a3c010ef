// SPDX-License-Identifier: GPL-3.0-or-later
// The manual pages and the bash completion against the program's own --help: every option the
// program knows is in its page and in the completion, and a page lists no option the program
// does not know.
#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>

#include <set>
#include <string>

#include "Programs.h"

namespace {

using Options = std::set<std::string>;

std::string joined(const Options& options)
{
    std::string out;
    for (const std::string& option : options) out += (out.empty() ? "" : " ") + option;
    return out;
}

QString readSource(const QString& relative)
{
    QFile file(QString(QUIVRA_SOURCE_DIR) + "/" + relative);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << relative.toStdString();
    return QString::fromUtf8(file.readAll());
}

// "  -o, --output <FILE|->  ..." and "  --json  ..." in the help's option list.
Options helpOptions(const QStringList& command)
{
    const Finished help = runProgram(builtQuivra(), command + QStringList{"--help"});
    EXPECT_EQ(help.status, 0) << help.err.toStdString();
    static const QRegularExpression line(R"(^  (?:-(\w), )?(-{1,2}[\w-]+))", QRegularExpression::MultilineOption);
    Options options;
    for (auto match = line.globalMatch(help.out); match.hasNext();) {
        const auto found = match.next();
        if (!found.captured(1).isEmpty()) options.insert("-" + found.captured(1).toStdString());
        options.insert(found.captured(2).toStdString());
    }
    return options;
}

// The terms of the page's OPTIONS section: "*-o*, *--output* _FILE_" and "*--accelerometer*=_SOURCE_".
Options pageOptions(const QString& page)
{
    const QString text = readSource("data/man/" + page + ".1.scd");
    const qsizetype from = text.indexOf("\n# OPTIONS\n");
    EXPECT_GE(from, 0) << page.toStdString() << " has no OPTIONS section";
    const QString section = text.mid(from + 11, text.indexOf("\n# ", from + 11) - from - 11);
    static const QRegularExpression term(R"(\*(-{1,2}[\w-]+)\*)");
    Options options;
    for (const QString& line : section.split('\n')) {
        if (line.startsWith('\t')) continue; // a description, which may name other options
        for (auto match = term.globalMatch(line); match.hasNext();)
            options.insert(match.next().captured(1).toStdString());
    }
    return options;
}

} // namespace

TEST(ManPages, EveryPageAndTheCompletionHoldExactlyTheOptionsOfTheHelp)
{
    if (!QUIVRA_GUI) GTEST_SKIP() << "the pages describe the build with the window";
    const QString completion = readSource("data/completion/quivra");
    const std::pair<QString, QStringList> pages[] = {{"quivra", {}},
                                                     {"quivra-record", {"record"}},
                                                     {"quivra-sessions", {"sessions"}},
                                                     {"quivra-export", {"export"}},
                                                     {"quivra-analyse", {"analyse"}},
                                                     {"quivra-describe", {"describe"}},
                                                     {"quivra-markers", {"markers"}},
                                                     {"quivra-mark", {"mark"}},
                                                     {"quivra-report", {"report"}},
                                                     {"quivra-baseline", {"baseline"}},
                                                     {"quivra-trend", {"trend"}}};
    for (const auto& [page, command] : pages) {
        const Options help = helpOptions(command);
        ASSERT_GE(help.size(), 2u) << page.toStdString();
        EXPECT_EQ(pageOptions(page), help) << page.toStdString() << ".1.scd against its --help: " << joined(help);
        for (const std::string& option : help) {
            const QRegularExpression word(QRegularExpression::escape(QString::fromStdString(option))
                                          + R"((?=[\s='|)]))");
            EXPECT_TRUE(word.match(completion).hasMatch())
                << option << " of " << page.toStdString() << " is missing from data/completion/quivra";
        }
    }
}
