#include "gui/window_raise.h"

#include <QFile>
#include <QLocalSocket>
#include <QTimer>
#include <memory>
#include <unistd.h>

namespace kestrel {

namespace {
constexpr char kRaise[] = "raise\n";
constexpr qint64 kRaiseSize = sizeof kRaise - 1;
// A peer that connects and says nothing is let go after this long.
constexpr int kIdlePeerMs = 5000;
}

std::string WindowSocketPath(const std::string& runFolder) {
    return runFolder + "/window-" + std::to_string(::getuid()) + ".sock";
}

WindowRaiseServer::WindowRaiseServer(const std::string& socketPath, std::function<void()> raise)
    : raise_(std::move(raise)) {
    const QString path = QString::fromLocal8Bit(socketPath.c_str());
    // The lock is ours, so a socket left at the name is a crashed window's.
    QLocalServer::removeServer(path);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    server_.listen(path);
    QObject::connect(&server_, &QLocalServer::newConnection, &server_, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            // The request is six bytes: nothing more is ever read or kept.
            socket->setReadBufferSize(kRaiseSize);
            auto request = std::make_shared<QByteArray>();
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QTimer::singleShot(kIdlePeerMs, socket, [socket] { socket->abort(); });
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket, request] {
                request->append(socket->read(kRaiseSize - request->size()));
                if (!QByteArray(kRaise).startsWith(*request)) {
                    socket->abort();
                    return;
                }
                if (request->size() < kRaiseSize) return;
                socket->write("ok\n");
                socket->flush();
                socket->disconnectFromServer();
                if (raise_) raise_();
            });
        }
    });
}

WindowRaiseServer::~WindowRaiseServer() {
    if (server_.isListening()) {
        const QString path = server_.fullServerName();
        server_.close();
        QFile::remove(path);
    }
}

void ShowAndRaise(QWidget& window) {
    window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window.show();
    window.raise();
    window.activateWindow();
}

bool AskRunningWindowToRaise(const std::string& socketPath, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(QString::fromLocal8Bit(socketPath.c_str()));
    if (!socket.waitForConnected(timeoutMs)) return false;
    socket.write(kRaise);
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    return socket.waitForReadyRead(timeoutMs) && socket.readLine(64) == "ok\n";
}

}  // namespace kestrel
