// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Gives one test its own home, data and documents folders, so that every test has its own store.
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <string>

class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    QString path() const { return dir_.path(); }
    QString dataDir() const { return dir_.path() + "/data/Quivra"; }
    QString storePath() const { return dataDir() + "/Quivra.sqlite"; }
    QString documentsDir() const { return dir_.path() + "/Documents"; }

private:
    QTemporaryDir dir_;
    QByteArray oldHome_, oldData_;
    bool hadHome_, hadData_;
};
