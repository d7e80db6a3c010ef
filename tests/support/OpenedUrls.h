// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Catches what the program asks the desktop to open (QDesktopServices::openUrl) for one scheme,
// instead of opening it, while it lives.
#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QUrl>

class OpenedUrls : public QObject {
    Q_OBJECT
public:
    explicit OpenedUrls(const QString& scheme) : scheme_(scheme)
    {
        QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~OpenedUrls() override { QDesktopServices::unsetUrlHandler(scheme_); }

    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls.push_back(url); }

private:
    QString scheme_;
};
