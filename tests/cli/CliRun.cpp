// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliRun.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include "recording/BaseModel.h"
#include "recording/Options.h"
#include "recording/Session.h"
#include "platform/store/SessionReader.h"

QStringList Ran::errorLines() const
{
    static const QRegularExpression logLine(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} Quivra\[\d+\] )");
    QStringList lines;
    for (const QString& line : err.split('\n', Qt::SkipEmptyParts))
        if (!logLine.match(line).hasMatch()) lines << line;
    return lines;
}

QProcessEnvironment quivraEnvironment(const TempHome& home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_DATA_HOME", home.path() + "/data");
    env.insert("TZ", kTestZone);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    return env;
}

QString quivraPath()
{
    return QString(QUIVRA_BINARY_DIR) + "/quivra";
}

std::unique_ptr<QProcess> startQuivra(const TempHome& home, const QStringList& arguments)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(quivraEnvironment(home));
    process->start(quivraPath(), arguments);
    EXPECT_TRUE(process->waitForStarted(10000));
    return process;
}

Ran runQuivra(const TempHome& home, const QStringList& arguments, int timeoutMs)
{
    auto process = startQuivra(home, arguments);
    process->closeWriteChannel();
    if (!process->waitForFinished(timeoutMs)) {
        ADD_FAILURE() << "quivra " << arguments.join(' ').toStdString() << " did not end within " << timeoutMs << " ms";
        process->kill();
        process->waitForFinished();
    }
    Ran ran;
    ran.status = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
    ran.out = process->readAllStandardOutput();
    ran.err = QString::fromUtf8(process->readAllStandardError());
    return ran;
}

std::unique_ptr<StoreKeeper> openWindowStore(const TempHome& home)
{
    auto keeper = std::make_unique<StoreKeeper>();
    store::StoreError error;
    EXPECT_TRUE(keeper->open(home.storePath().toStdString(), error)) << error.describe();
    keeper->loadRoot();
    return keeper;
}

store::ObjectId addSession(StoreKeeper& keeper, platform::Micros start, int count, platform::Micros stepUs,
                           Axes (*value)(int i), double skipFrom, double skipTo)
{
    store::ObjectContext& context = *keeper.context();
    BaseModel root = keeper.root();
    Session session(&context, context.insertSession(start));
    session.setBaseModel(root);
    root.options().setActiveSession(session);
    for (int i = 0; i < count; ++i) {
        const double seconds = double(i) * double(stepUs) / 1e6;
        if (seconds >= skipFrom && seconds < skipTo) continue;
        const Axes a = value(i);
        context.insertSample(start + i * stepUs, a.x, a.y, a.z, session.objectId());
    }
    EXPECT_TRUE(keeper.saveNow());
    return session.objectId();
}

QString writeReplay(const TempHome& home, const QString& name, int lines, Axes (*value)(int i))
{
    const QString path = home.path() + "/" + name;
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    for (int i = 0; i < lines; ++i) {
        const Axes a = value(i);
        file.write(QByteArray::number(a.x, 'g', 9) + " " + QByteArray::number(a.y, 'g', 9) + " "
                   + QByteArray::number(a.z, 'g', 9) + "\n");
    }
    return path;
}

std::vector<platform::Micros> storedTimes(const TempHome& home, store::ObjectId session)
{
    store::SessionReader reader;
    store::StoreError error;
    std::vector<platform::Micros> times;
    EXPECT_TRUE(reader.open(home.storePath().toStdString(), error)) << error.describe();
    reader.forEach(
        session, 0, 0,
        [&](const store::SampleValues& s) {
            times.push_back(s.dateStamp);
            return true;
        },
        error);
    return times;
}
