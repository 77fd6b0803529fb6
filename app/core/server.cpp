#include "app/core/server.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTextStream>

Server::Server(QObject *parent) : QObject(parent) {}

Server::~Server()
{
    delete m_server;
}

bool Server::isServerRunning(const QString &name)
{
    QLocalSocket socket;
    socket.connectToServer(name, QIODevice::ReadWrite);
    const bool connected = socket.waitForConnected(1000);
    if (connected) {
        socket.disconnectFromServer();
        socket.close();
    }
    return connected;
}

bool Server::listen(const QString &name)
{
    if (isServerRunning(name))
        return false;
    delete m_server;
    m_server = new QLocalServer();
    // Removes the socket file an instance that ended abnormally left behind.
    QLocalServer::removeServer(name);
    m_server->listen(name);
    connect(m_server, &QLocalServer::newConnection, this, &Server::newConnection);
    return true;
}

void Server::newConnection()
{
    if (!m_server)
        return;
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this, &Server::readyRead);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void Server::readyRead()
{
    auto *socket = qobject_cast<QLocalSocket *>(sender());
    if (!socket)
        return;
    QTextStream stream(socket);
    const QString msg = stream.readAll();
    emit newMessage(msg);
}
