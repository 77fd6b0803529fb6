#include "device/qcalarmserver.h"

#include "device/httprequest.h"

#include <QDebug>
#include <QTcpSocket>
#include <QTimer>
#include <QTimerEvent>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

// A connection attempt driven by the socket's signals, so that a silent
// device never holds up the sweep, addDevice or the alarms of other devices.
struct qcAlarmServer::Attempt
{
    AlarmDevice device;
    QTcpSocket *socket = nullptr;
    QTimer *timer = nullptr;
    bool requested = false;
};

qcAlarmServer::qcAlarmServer(QObject *parent, const Timing &timing) : QObject(parent), m_timing(timing)
{
    m_timerId = startTimer(m_timing.sweepMs, Qt::CoarseTimer);
}

qcAlarmServer::~qcAlarmServer()
{
    for (Attempt *a : qAsConst(m_attempts)) {
        a->socket->disconnect(this);
        a->socket->abort();
        delete a->socket;
        delete a->timer;
        delete a;
    }
    for (AlarmConnection *c : qAsConst(m_connections)) {
        c->socket->disconnect(this);
        c->socket->abort();
        delete c->socket;
        delete c;
    }
    qDeleteAll(m_devices);
}

bool qcAlarmServer::setKeepAlive(QAbstractSocket *socket, const Timing &timing)
{
    const int fd = int(socket->socketDescriptor());
    if (fd < 0)
        return false;
    const int on = 1;
    return setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
           setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &timing.keepAliveIdleS, sizeof(int)) == 0 &&
           setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &timing.keepAliveIntervalS, sizeof(int)) == 0 &&
           setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &timing.keepAliveCount, sizeof(int)) == 0;
}

bool qcAlarmServer::addDevice(const QString &ip, const QString &port, const QString &user, const QString &password,
                              qint64 index)
{
    QMutexLocker lock(&m_deviceMutex);
    for (const AlarmDevice *d : qAsConst(m_devices)) {
        if (d->ip == ip || d->index == index)
            return false;
    }
    auto *d = new AlarmDevice;
    d->ip = ip;
    d->port = port;
    d->user = user;
    d->password = password;
    d->index = index;
    m_devices.append(d);
    return true;
}

int qcAlarmServer::connectionCount()
{
    QMutexLocker lock(&m_connectionMutex);
    return m_connections.size();
}

void qcAlarmServer::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_timerId)
        sweep();
}

void qcAlarmServer::sweep()
{
    QList<AlarmDevice> todo;
    {
        QMutexLocker lock(&m_deviceMutex);
        for (AlarmDevice *d : qAsConst(m_devices)) {
            if (!d->connected && !d->pending) {
                d->pending = true;
                todo.append(*d);
            }
        }
    }
    for (const AlarmDevice &d : qAsConst(todo))
        startAttempt(d);
}

void qcAlarmServer::startAttempt(const AlarmDevice &device)
{
    auto *a = new Attempt;
    a->device = device;
    a->socket = new QTcpSocket;
    a->socket->setReadBufferSize(kBufferSize);
    a->timer = new QTimer;
    a->timer->setSingleShot(true);
    m_attempts.append(a);

    connect(a->timer, &QTimer::timeout, this, [this, a] { finishAttempt(a, false, {}); });
    connect(a->socket, &QTcpSocket::connected, this, [this, a] {
        const QByteArray request = httprequest::alarmNotify(a->device.user, a->device.password);
        if (a->socket->write(request) <= 0) {
            finishAttempt(a, false, {});
            return;
        }
        a->requested = true;
        a->timer->start(m_timing.answerMs);
    });
    connect(a->socket, &QTcpSocket::readyRead, this, [this, a] {
        if (a->requested)
            finishAttempt(a, true, a->socket->read(kBufferSize - 1));
    });
    connect(a->socket, &QAbstractSocket::errorOccurred, this, [this, a] {
        // A device that closes without an answer has still refused the request.
        finishAttempt(a, a->requested, {});
    });
    a->timer->start(m_timing.connectMs);
    bool ok = false;
    const int port = device.port.toInt(&ok);
    a->socket->connectToHost(device.ip, ok ? quint16(port) : 0, QIODevice::ReadWrite);
}

void qcAlarmServer::finishAttempt(Attempt *a, bool answered, const QByteArray &answer)
{
    if (!m_attempts.removeOne(a))
        return;
    a->timer->stop();
    a->socket->disconnect(this);
    a->timer->deleteLater();
    const bool ok = answered && httprequest::hasHttpOk(answer);

    bool kept = false;
    QList<int> early;
    {
        QMutexLocker lock(&m_deviceMutex);
        for (AlarmDevice *d : qAsConst(m_devices)) {
            if (d->index != a->device.index)
                continue;
            d->pending = false;
            // A device changed or removed meanwhile keeps none of this result.
            if (ok && d->ip == a->device.ip && d->port == a->device.port && d->user == a->device.user &&
                d->password == a->device.password) {
                d->connected = true;
                auto *c = new AlarmConnection;
                c->socket = a->socket;
                c->ip = d->ip;
                c->index = d->index;
                const qsizetype body = httprequest::headerEnd(answer);
                if (body > 0)
                    early = c->parser.feed(answer.constData() + body, int(answer.size() - body));
                QMutexLocker connectionLock(&m_connectionMutex);
                m_connections.append(c);
                kept = true;
            }
            break;
        }
    }
    if (answered && !ok)
        emit sigConnectFailed(a->device.ip);
    if (!kept) {
        a->socket->abort();
        a->socket->deleteLater();
        delete a;
        return;
    }
    QTcpSocket *socket = a->socket;
    const QString ip = a->device.ip;
    delete a;
    // The device may vanish without a close; only keep-alive probes tell.
    if (!setKeepAlive(socket, m_timing))
        qDebug() << "alarm channel: no keep-alive on the connection to" << ip;
    for (int code : qAsConst(early))
        emit sigAlarmStatus(ip, code);
    connect(socket, &QTcpSocket::readyRead, this, &qcAlarmServer::onReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        qDebug() << "----Alarm Server Disconnected!!----";
        onConnectionLost(socket);
    });
    connect(socket, &QAbstractSocket::errorOccurred, this, [this, socket] { onConnectionLost(socket); });
    // Messages that came with the answer are handled now.
    QMetaObject::invokeMethod(this, &qcAlarmServer::onReadyRead, Qt::QueuedConnection);
}

void qcAlarmServer::dropConnectionLocked(int i)
{
    AlarmConnection *c = m_connections.takeAt(i);
    c->socket->disconnect(this);
    c->socket->abort();
    // The socket may be inside one of its own signals.
    c->socket->deleteLater();
    delete c;
}

void qcAlarmServer::onConnectionLost(QTcpSocket *socket)
{
    QMutexLocker lock(&m_deviceMutex);
    QMutexLocker connectionLock(&m_connectionMutex);
    for (int i = 0; i < m_connections.size(); ++i) {
        if (m_connections[i]->socket != socket)
            continue;
        const qint64 index = m_connections[i]->index;
        for (AlarmDevice *d : qAsConst(m_devices)) {
            if (d->index == index)
                d->connected = false;
        }
        dropConnectionLocked(i);
        return;
    }
}

void qcAlarmServer::onReadyRead()
{
    QList<QPair<QString, int>> alarms;
    {
        QMutexLocker lock(&m_connectionMutex);
        for (AlarmConnection *c : qAsConst(m_connections)) {
            if (!c->socket->isOpen() || !c->socket->isReadable())
                continue;
            for (;;) {
                const QByteArray bytes = c->socket->read(kBufferSize);
                if (bytes.isEmpty())
                    break;
                const int dropped = c->parser.dropped();
                for (int code : c->parser.feed(bytes))
                    alarms.append({c->ip, code});
                if (c->parser.dropped() != dropped)
                    qDebug() << "alarm channel: no complete message in" << kBufferSize << "bytes from" << c->ip
                             << "- dropped";
            }
        }
    }
    for (const auto &a : qAsConst(alarms))
        emit sigAlarmStatus(a.first, a.second);
}

void qcAlarmServer::OnModifyDevice(QString ipaddr, QString port, QString username, QString password, qlonglong devindex)
{
    QMutexLocker lock(&m_deviceMutex);
    {
        QMutexLocker connectionLock(&m_connectionMutex);
        for (int i = 0; i < m_connections.size(); ++i) {
            if (m_connections[i]->index == devindex) {
                dropConnectionLocked(i);
                break;
            }
        }
    }
    for (AlarmDevice *d : qAsConst(m_devices)) {
        if (d->index == devindex) {
            d->ip = ipaddr;
            d->port = port;
            d->user = username;
            d->password = password;
            d->connected = false;
            break;
        }
    }
}

void qcAlarmServer::OnRemoveDevice(QString ipaddr)
{
    QMutexLocker lock(&m_deviceMutex);
    {
        QMutexLocker connectionLock(&m_connectionMutex);
        for (int i = 0; i < m_connections.size(); ++i) {
            if (m_connections[i]->ip == ipaddr) {
                dropConnectionLocked(i);
                break;
            }
        }
    }
    for (int i = 0; i < m_devices.size(); ++i) {
        if (m_devices[i]->ip == ipaddr) {
            delete m_devices.takeAt(i);
            break;
        }
    }
}
