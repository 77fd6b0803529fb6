#include "alarmendpoint.h"

#include <QTimer>

#include "exchange.h"

namespace devicesim {

QByteArray AlarmEndpoint::message(const QString &status, const QString &topic)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><response><status>" + status.toUtf8() + "</status><topic>" +
           topic.toUtf8() + "</topic></response>";
}

void AlarmEndpoint::handle(Exchange &exchange)
{
    ++m_accepted;
    QByteArray rest;
    QTcpSocket *socket = exchange.takeSocket(&rest);
    if (!socket)
        return;
    // Kept without a parent: the device deletes its own children on stop
    // and shutdown() closes what this endpoint holds.
    m_sockets.append(socket);
    ++m_open;
    QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
        if (m_sockets.removeAll(socket))
            --m_open;
        socket->deleteLater();
    });
    // Anything the client sends later is read and ignored.
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
    const int index = exchange.logIndex();
    switch (m_answer) {
    case Answer::None:
        m_device.logAnswer(index, 0, QStringLiteral("no answer"));
        break;
    case Answer::OkWithFirstPush:
        socket->write("HTTP/1.0 200 OK\r\n\r\n" + m_firstPush);
        m_device.logAnswer(index, 200);
        break;
    case Answer::Ok:
        socket->write("HTTP/1.0 200 OK\r\n\r\n");
        m_device.logAnswer(index, 200);
        break;
    }
}

void AlarmEndpoint::shutdown()
{
    delete m_timer;
    m_timer = nullptr;
    for (const auto &s : qAsConst(m_sockets)) {
        if (s) {
            s->disconnect();
            s->abort();
            delete s;
        }
    }
    m_sockets.clear();
    m_open = 0;
}

void AlarmEndpoint::setAnswer(Answer answer, const QByteArray &firstPush)
{
    m_device.runOnDeviceThread([=] {
        m_answer = answer;
        m_firstPush = firstPush;
    });
}

void AlarmEndpoint::writeAll(const QByteArray &bytes)
{
    for (const auto &s : qAsConst(m_sockets)) {
        if (s && s->state() == QAbstractSocket::ConnectedState) {
            s->write(bytes);
            s->flush();
        }
    }
}

void AlarmEndpoint::push(const QByteArray &bytes)
{
    m_device.runOnDeviceThread([=] { writeAll(bytes); });
}

void AlarmEndpoint::pushSplit(const QByteArray &bytes, int offset, int pauseMs)
{
    m_device.runOnDeviceThread([=] {
        writeAll(bytes.left(offset));
        QTimer::singleShot(pauseMs, m_device.threadObject(), [=] { writeAll(bytes.mid(offset)); });
    });
}

void AlarmEndpoint::setEvery(int ms, const QString &topic)
{
    m_device.runOnDeviceThread([=] {
        delete m_timer;
        m_timer = nullptr;
        m_everyTopic = topic;
        if (ms <= 0)
            return;
        m_timer = new QTimer;
        QObject::connect(m_timer, &QTimer::timeout, m_timer, [this] { writeAll(message("1", m_everyTopic)); });
        m_timer->start(ms);
    });
}

void AlarmEndpoint::dropAll()
{
    m_device.runOnDeviceThread([=] {
        const auto sockets = m_sockets;
        for (const auto &s : sockets) {
            if (s)
                s->disconnectFromHost();
        }
    });
}

} // namespace devicesim
