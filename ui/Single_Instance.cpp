#include "Single_Instance.h"

#include <QEventLoop>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace bifuel::ui {
namespace {
constexpr char kCloseRequest[] = "close\n";
constexpr char kClosedReply[] = "closed\n";
} // namespace

SingleInstance::SingleInstance(std::string serverName) : name_(std::move(serverName)) {}

SingleInstance::~SingleInstance() {
    if (server_) server_->close();
}

bool SingleInstance::closeRunningCopy(int timeoutMs) {
    QLocalSocket socket;
    const QString name = QString::fromStdString(name_);
    socket.connectToServer(name);
    if (!socket.waitForConnected(500)) return false;
    socket.write(kCloseRequest);
    socket.flush();
    // The running copy answers once its window has closed and its settings are written.
    // A local loop lets a copy in this same process (tests) do that meanwhile.
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QLocalSocket::disconnected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QLocalSocket::readyRead, &loop, [&] {
        if (socket.readAll().contains("closed")) loop.quit();
    });
    limit.start(timeoutMs);
    if (socket.state() == QLocalSocket::ConnectedState) loop.exec();
    const bool closed = limit.isActive();
    socket.abort();
    return closed;
}

bool SingleInstance::listen(std::function<void()> closeAsked) {
    closeAsked_ = std::move(closeAsked);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    const QString name = QString::fromStdString(name_);
    if (!server_->listen(name)) {
        // A copy that crashed leaves its socket behind; nobody answers on it any more.
        QLocalServer::removeServer(name);
        if (!server_->listen(name)) return false;
    }
    QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] {
        while (QLocalSocket* peer = server_->nextPendingConnection()) {
            QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            QObject::connect(peer, &QLocalSocket::readyRead, peer, [this, peer] {
                if (!peer->readAll().contains("close")) return;
                if (closeAsked_) closeAsked_();
                peer->write(kClosedReply);
                peer->flush();
                peer->disconnectFromServer();
            });
        }
    });
    return true;
}

} // namespace bifuel::ui
