#include "ui/qt/instance_channel.h"

#include <QLocalServer>
#include <QLocalSocket>

QString InstanceChannel::socketPathFor(const QString& lockPath) {
    QString path = lockPath;
    if (path.endsWith(".lock")) path.chop(5);
    return path + ".sock";
}

bool InstanceChannel::requestShow(const QString& socketPath, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(timeoutMs)) return false;
    socket.write(kShow);
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(timeoutMs);
    return true;
}

InstanceChannel::InstanceChannel(QObject* parent) : QObject(parent), m_server(new QLocalServer(this)) {}

InstanceChannel::~InstanceChannel() = default;

bool InstanceChannel::listen(const QString& socketPath, std::function<void()> onShow) {
    m_onShow = std::move(onShow);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(socketPath);
    if (!m_server->listen(socketPath)) return false;
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = m_server->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                // Anything but the one request is ignored; a peer that sends
                // a flood gets cut off rather than buffered.
                if (client->bytesAvailable() > 64) {
                    client->abort();
                    return;
                }
                if (!client->canReadLine()) return;
                if (client->readLine() == kShow && m_onShow) m_onShow();
                client->disconnectFromServer();
            });
        }
    });
    return true;
}
