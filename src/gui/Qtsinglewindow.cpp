#include "gui/Qtsinglewindow.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QGuiApplication>
#include <QLocalSocket>
#include <QThread>

namespace tolm {

namespace {
constexpr int kAskTries = 50;  // a first start still making its window: up to about 5 s
constexpr int kAskWaitMs = 100;

// The path that names this user's window on this display, without the suffix.
QString Place() {
    // The session's runtime folder, else the temporary one (asking Qt for a
    // runtime folder that is not set would warn on stderr).
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString folder = !runtime.isEmpty() && QDir(runtime).exists() ? runtime : QDir::tempPath();
    const QByteArray display = QGuiApplication::platformName().toUtf8() + ":" + qgetenv("DISPLAY") + ":" +
                               qgetenv("WAYLAND_DISPLAY");
    const QString tag = QString::fromLatin1(QCryptographicHash::hash(display, QCryptographicHash::Sha1).toHex().left(12));
    return QDir(folder).filePath(QStringLiteral("tolm-upgrade-%1-%2").arg(getuid()).arg(tag));
}
}  // namespace

TSingleWindow::TSingleWindow() = default;

TSingleWindow::~TSingleWindow() {
    server_.close();
    if (lock_) lock_->unlock();
}

bool TSingleWindow::First(std::function<void()> onLaterStart) {
    const QString place = Place();
    lock_ = std::make_unique<QLockFile>(place + ".lock");
    if (!lock_->tryLock(0)) {
        // Another start has the window, or is making it.
        for (int i = 0; i < kAskTries; ++i) {
            QLocalSocket socket;
            socket.connectToServer(place + ".socket");
            if (socket.waitForConnected(kAskWaitMs)) {
                socket.write("front\n");
                socket.waitForBytesWritten(1000);
                return false;
            }
            QThread::msleep(kAskWaitMs);
            // It ended meanwhile: this start is the window after all.
            if (lock_->tryLock(0)) break;
        }
        if (!lock_->isLocked()) return false;
    }
    onLaterStart_ = std::move(onLaterStart);
    QLocalServer::removeServer(place + ".socket");  // left by a program that died
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(place + ".socket")) return true;  // no way to be found: the window still opens
    QObject::connect(&server_, &QLocalServer::newConnection, &server_, [this] {
        while (QLocalSocket* asking = server_.nextPendingConnection()) {
            QObject::connect(asking, &QLocalSocket::disconnected, asking, &QObject::deleteLater);
            asking->disconnectFromServer();
            if (onLaterStart_) onLaterStart_();
        }
    });
    return true;
}

}  // namespace tolm
