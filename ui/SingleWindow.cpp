// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SingleWindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QMessageBox>

#include <cstdio>
#include <unistd.h>

#include "platform/Folders.h"
#include "platform/Log.h"

namespace {

constexpr char kRaise[] = "raise\n";
constexpr char kRaised[] = "raised\n";

} // namespace

SingleWindow::SingleWindow(const std::string& storePath, QObject* parent) : QObject(parent)
{
    serverName_ = QString::fromStdString(platform::storeSocketPath(storePath));
    connect(&server_, &QLocalServer::newConnection, this, &SingleWindow::answer);
}

bool SingleWindow::raiseRunning(std::chrono::milliseconds wait)
{
    QLocalSocket socket;
    socket.connectToServer(serverName_);
    if (!socket.waitForConnected(int(wait.count()))) return false;
    socket.write(kRaise);
    if (!socket.waitForBytesWritten(int(wait.count()))) return false;
    while (socket.bytesAvailable() < qint64(sizeof kRaised - 1)) {
        if (!socket.waitForReadyRead(int(wait.count()))) return false;
    }
    return socket.readAll().startsWith(kRaised);
}

bool SingleWindow::listen(QWidget* window)
{
    window_ = window;
    const QString folder = QFileInfo(serverName_).path();
    if (!QFileInfo::exists(folder) && QDir().mkpath(folder))
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    // A socket left by a window that was killed: the store's lock, held now, says no one owns it.
    QLocalServer::removeServer(serverName_);
    if (server_.listen(serverName_)) return true;
    platform::log("a second start cannot bring this window to the front: " + server_.errorString().toStdString());
    return false;
}

void SingleWindow::answer()
{
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
            if (!socket->readAll().startsWith(kRaise) || !window_) return;
            if (window_->isMinimized()) window_->showNormal();
            window_->show();
            window_->raise();
            window_->activateWindow();
            platform::log("brought to the front by a second start");
            socket->write(kRaised);
            socket->flush();
        });
    }
}

void SingleWindow::refuse(const QString& message)
{
    std::fprintf(stderr, "quivra: %s\n", qPrintable(message));
    std::fflush(stderr);
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return;
    QMessageBox box(QMessageBox::Warning, "Quivra cannot start", message, QMessageBox::Ok);
    box.exec();
}
