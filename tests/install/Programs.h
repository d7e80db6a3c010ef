// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Runs a program to its end for the installation tests: its status and what it printed.
#include <QProcess>
#include <QString>
#include <QStringList>

struct Finished {
    int status = -1; // -1: it crashed, did not start, or was killed after the timeout
    QString out, err;
};

inline Finished runProgram(const QString& program, const QStringList& arguments,
                           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
                           int timeoutMs = 60000)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.closeWriteChannel();
    Finished finished;
    if (!process.waitForStarted(10000)) {
        finished.err = program + " did not start: " + process.errorString();
        return finished;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
    } else if (process.exitStatus() == QProcess::NormalExit) {
        finished.status = process.exitCode();
    }
    finished.out = QString::fromUtf8(process.readAllStandardOutput());
    finished.err = QString::fromUtf8(process.readAllStandardError());
    return finished;
}

inline QString builtQuivra()
{
    return QString(QUIVRA_BINARY_DIR) + "/quivra";
}
