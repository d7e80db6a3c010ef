// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One window per store. The window listens on a local socket named after its store (in
// XDG_RUNTIME_DIR); a second start on the same store asks it to come to the front and leaves.
// When the store is held by a Quivra without a window (quivra record) or one that does not answer,
// the second start says so in a message box as well as on standard error: started from a desktop
// menu, nobody reads the terminal.
#include <QLocalServer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <chrono>
#include <string>

class SingleWindow : public QObject {
    Q_OBJECT
public:
    // storePath: the store this window is for; a symlink to it names the same socket.
    explicit SingleWindow(const std::string& storePath, QObject* parent = nullptr);

    // Asks a window already open on the store to come to the front; true once it said it did.
    bool raiseRunning(std::chrono::milliseconds wait = std::chrono::milliseconds(2000));
    // From now on a later start on the store brings `window` to the front. False, with the
    // reason logged, when the socket cannot be made (the window then works on without it).
    bool listen(QWidget* window);

    // The socket's path.
    QString serverName() const { return serverName_; }

    // Says why the window cannot start: one line on standard error, and a message box when
    // there is a screen to show it on.
    static void refuse(const QString& message);

private:
    void answer();

    QString serverName_;
    QLocalServer server_;
    QPointer<QWidget> window_;
};
