#include "discoveryresponder.h"

#include <QUdpSocket>
#include <QtEndian>

#include <cstring>

namespace devicesim {

namespace {

constexpr quint32 kMagic = 0xFABCDEF0;

void putText(QByteArray &d, int offset, int span, const QString &text, bool terminate = true)
{
    QByteArray t = text.toLatin1().left(terminate ? span - 1 : span);
    std::memcpy(d.data() + offset, t.constData(), size_t(t.size()));
}

QString readText(const QByteArray &d, int offset, int span)
{
    if (offset >= d.size())
        return QString();
    QByteArray f = d.mid(offset, span);
    const int nul = f.indexOf('\0');
    return QString::fromLatin1(nul >= 0 ? f.left(nul) : f);
}

void put32(QByteArray &d, int offset, quint32 v)
{
    qToLittleEndian<quint32>(v, d.data() + offset);
}

quint32 get32(const QByteArray &d, int offset)
{
    return d.size() >= offset + 4 ? qFromLittleEndian<quint32>(d.constData() + offset) : 0;
}

bool isLoopback(const QHostAddress &a)
{
    return a.protocol() == QAbstractSocket::IPv4Protocol && (a.toIPv4Address() >> 24) == 127;
}

} // namespace

DiscoveryResponder::DiscoveryResponder()
{
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    m_thread.start();
}

DiscoveryResponder::~DiscoveryResponder()
{
    stop();
    QMetaObject::invokeMethod(
        m_context, [c = m_context] { delete c; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

bool DiscoveryResponder::start(const QList<QHostAddress> &addresses, quint16 port, bool netnsOk, QString *error)
{
    for (const QHostAddress &a : addresses) {
        const bool wildcard = a == QHostAddress::AnyIPv4;
        if (!isLoopback(a) && !(netnsOk && (wildcard || a.protocol() == QAbstractSocket::IPv4Protocol))) {
            if (error)
                *error = QStringLiteral("%1 is not a loopback address (127.0.0.0/8)").arg(a.toString());
            return false;
        }
    }
    bool ok = true;
    QString why;
    QMetaObject::invokeMethod(
        m_context,
        [&] {
            m_netnsOk = netnsOk;
            quint16 p = port;
            for (const QHostAddress &a : addresses) {
                auto *s = new QUdpSocket(m_context);
                // Shared only at a fixed port: an ephemeral port shared by
                // address reuse could be handed to another socket too.
                const auto mode = port == 0 ? QAbstractSocket::DefaultForPlatform
                                            : QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;
                if (!s->bind(a, p, mode)) {
                    why = s->errorString();
                    delete s;
                    ok = false;
                    return;
                }
                p = s->localPort();
                QObject::connect(s, &QUdpSocket::readyRead, s, [this, s] { onReadable(s); });
                m_sockets.append(s);
            }
            m_port = p;
        },
        Qt::BlockingQueuedConnection);
    if (!ok && error)
        *error = why;
    return ok;
}

void DiscoveryResponder::stop()
{
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            qDeleteAll(m_sockets);
            m_sockets.clear();
        },
        Qt::BlockingQueuedConnection);
}

quint16 DiscoveryResponder::port() const
{
    return m_port;
}

void DiscoveryResponder::setRecord(const Record &record)
{
    QMutexLocker lock(&m_mutex);
    m_record = record;
}

DiscoveryResponder::Record DiscoveryResponder::record() const
{
    QMutexLocker lock(&m_mutex);
    return m_record;
}

void DiscoveryResponder::setFaults(const Faults &faults)
{
    QMutexLocker lock(&m_mutex);
    m_faults = faults;
}

QList<DiscoveryResponder::Received> DiscoveryResponder::received() const
{
    QMutexLocker lock(&m_mutex);
    return m_received;
}

void DiscoveryResponder::clearReceived()
{
    QMutexLocker lock(&m_mutex);
    m_received.clear();
}

void DiscoveryResponder::setObserver(const std::function<void(const Received &)> &observer)
{
    QMutexLocker lock(&m_mutex);
    m_observer = observer;
}

QByteArray DiscoveryResponder::searchReply(const Record &r, bool unterminated)
{
    QByteArray d(480, '\0');
    put32(d, 0, kMagic);
    qToLittleEndian<quint16>(0xC388, d.data() + 4);
    qToLittleEndian<quint16>(480, d.data() + 6);
    put32(d, 8, r.firmware);
    d[17] = char(r.byte9);
    if (unterminated) {
        QByteArray name = r.name.toLatin1();
        QByteArray addr = r.address.toLatin1();
        name = name.leftJustified(156, 'N', true);
        addr = addr.leftJustified(144, 'A', true);
        std::memcpy(d.data() + 152, name.constData(), 156);
        std::memcpy(d.data() + 308, addr.constData(), 144);
    } else {
        putText(d, 152, 156, r.name);
        putText(d, 308, 144, r.address);
    }
    putText(d, 24, 64, r.model);
    putText(d, 456, 24, r.mac);
    put32(d, 452, r.port);
    return d;
}

QByteArray DiscoveryResponder::getReply(const Record &r)
{
    QByteArray d(636, '\0');
    put32(d, 0, kMagic);
    qToLittleEndian<quint16>(0xC38A, d.data() + 4);
    qToLittleEndian<quint16>(636, d.data() + 6);
    putText(d, 8, 24, r.mac);
    put32(d, 36, r.mode);
    putText(d, 40, 16, r.ip);
    putText(d, 56, 16, r.mask);
    putText(d, 204, 16, r.gateway);
    return d;
}

void DiscoveryResponder::onReadable(QUdpSocket *socket)
{
    while (socket->hasPendingDatagrams()) {
        Received r;
        r.datagram.resize(int(qMax<qint64>(socket->pendingDatagramSize(), 0)));
        const qint64 n = socket->readDatagram(r.datagram.data(), r.datagram.size(), &r.from, &r.fromPort);
        if (n < 0)
            continue;
        r.datagram.truncate(int(n));
        r.to = socket->localAddress();
        std::function<void(const Received &)> observer;
        {
            QMutexLocker lock(&m_mutex);
            m_received.append(r);
            observer = m_observer;
        }
        if (observer)
            observer(r);
        answer(socket, r);
    }
}

void DiscoveryResponder::answer(QUdpSocket *socket, const Received &request)
{
    const QByteArray &q = request.datagram;
    if (q.size() < 8 || get32(q, 0) != kMagic)
        return;
    const quint16 command = qFromLittleEndian<quint16>(q.constData() + 4);
    Record rec;
    Faults faults;
    {
        QMutexLocker lock(&m_mutex);
        rec = m_record;
        faults = m_faults;
    }
    QByteArray reply;
    if (command == 0xC388) {
        reply = searchReply(rec, faults.unterminated);
    } else if (command == 0xC38A) {
        if (readText(q, 8, 24) != rec.mac)
            return;
        reply = getReply(rec);
        if (faults.padTo > reply.size()) {
            // Filler in the unused tail of the record and beyond it.
            const int from = 220;
            reply.resize(faults.padTo);
            std::memset(reply.data() + from, 0x5A, size_t(reply.size() - from));
        }
    } else if (command == 0xC389) {
        const bool match =
            readText(q, 244, 24) == rec.mac && readText(q, 160, 64) == rec.user && readText(q, 224, 20) == rec.password;
        reply = QByteArray(28, '\0');
        put32(reply, 0, kMagic);
        QByteArray status = faults.setStatus.isEmpty() ? QByteArray(match ? "200" : "401") : faults.setStatus;
        if (status == "empty")
            status.clear();
        std::memcpy(reply.data() + 8, status.constData(), size_t(qMin(status.size(), 19)));
        if (match) {
            // Set request: mode 2 DHCP, 0 static; the get reply says 1 for static.
            rec.mode = get32(q, 272) == 0 ? 1 : 2;
            rec.ip = readText(q, 276, 16);
            rec.mask = readText(q, 292, 16);
            rec.gateway = readText(q, 440, 16);
            QMutexLocker lock(&m_mutex);
            m_record = rec;
        }
    } else {
        return;
    }
    if (faults.noMagic)
        std::memset(reply.data(), 0, 4);
    if (faults.truncateTo >= 0)
        reply.truncate(faults.truncateTo);
    const bool broadcast = faults.broadcastReplies && m_netnsOk;
    const QHostAddress to = broadcast ? QHostAddress(QHostAddress::Broadcast) : request.from;
    const QList<QUdpSocket *> senders = faults.fromEveryAddress ? m_sockets : QList<QUdpSocket *>{socket};
    for (QUdpSocket *s : senders) {
        for (int i = 0; i < faults.replies; ++i)
            s->writeDatagram(reply, to, request.fromPort);
    }
}

} // namespace devicesim
