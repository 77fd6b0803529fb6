#include "device/qcnoconoption.h"

#include <QDebug>
#include <QNetworkInterface>
#include <QUdpSocket>
#include <QtEndian>

namespace {

bool parseEndpoint(const QString &text, QPair<QHostAddress, quint16> *out)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QHostAddress host;
    bool ok = false;
    const int port = text.mid(colon + 1).toInt(&ok);
    if (!host.setAddress(text.left(colon)) || host.protocol() != QAbstractSocket::IPv4Protocol || !ok || port < 0 ||
        port > 65535)
        return false;
    // Only loopback addresses may stand in for the network.
    if ((host.toIPv4Address() >> 24) != 127)
        return false;
    *out = {host, quint16(port)};
    return true;
}

// Requests are written into arrays of their own size and copied out: through
// QByteArray::data() the compiler cannot rule out the shared empty array and
// reports every store as an overflow.
template <int N>
struct Request
{
    explicit Request(uint16_t command)
    {
        qToLittleEndian<quint32>(discovery::kMagic, bytes);
        qToLittleEndian<quint16>(command, bytes + 4);
        qToLittleEndian<quint16>(quint16(N), bytes + 6);
    }
    QByteArray toByteArray() const { return QByteArray(reinterpret_cast<const char *>(bytes), N); }

    uchar bytes[N] = {};
};

} // namespace

qcNoconOption::qcNoconOption(QObject *parent) : QThread(parent)
{
    qRegisterMetaType<DeviceInfo_t>("DeviceInfo_t");
    qRegisterMetaType<NetIPCfg_t>("NetIPCfg_t");
    applyEnvironment();
}

qcNoconOption::~qcNoconOption()
{
    m_stop.requestStop();
    wait();
}

void qcNoconOption::applyEnvironment()
{
    const QString target = qEnvironmentVariable("ARDO_DISCOVERY_TARGET");
    const QString locals = qEnvironmentVariable("ARDO_DISCOVERY_LOCAL");
    if (!target.isEmpty() || !locals.isEmpty())
        setEndpoints(target, locals.isEmpty() ? QStringList() : locals.split(QLatin1Char(',')));
}

void qcNoconOption::setEndpoints(const QString &target, const QStringList &locals)
{
    if (!target.isEmpty()) {
        QPair<QHostAddress, quint16> t;
        if (parseEndpoint(target, &t))
            m_target = t;
        else
            qDebug() << "discovery: ignoring target" << target << "(loopback HOST:PORT only)";
    }
    if (!locals.isEmpty()) {
        QList<QPair<QHostAddress, quint16>> list;
        for (const QString &l : locals) {
            QPair<QHostAddress, quint16> e;
            if (!parseEndpoint(l.trimmed(), &e)) {
                qDebug() << "discovery: ignoring local addresses" << locals << "(loopback HOST:PORT only)";
                return;
            }
            list.append(e);
        }
        m_locals = list;
    }
}

void qcNoconOption::addSetRequest(const QString &ip, const QString &mac, const QString &mask, const QString &gateway,
                                  const QString &user, const QString &password, int mode)
{
    m_requests.append({ip, mac, mask, gateway, user, password, mode});
    m_total = m_requests.size();
}

void qcNoconOption::startSearch()
{
    if (isRunning())
        return;
    m_mode = ModeSearch;
    start();
}

void qcNoconOption::startSetIp()
{
    if (isRunning() || m_requests.isEmpty())
        return;
    m_mode = ModeSet;
    start();
}

void qcNoconOption::queryNetInfo(const QString &mac)
{
    if (isRunning())
        return;
    m_mode = ModeGet;
    m_getKey = mac;
    start();
}

bool qcNoconOption::stopOption()
{
    m_stop.requestStop();
    return wait(5000);
}

QByteArray qcNoconOption::searchRequest()
{
    return Request<discovery::kHeaderSize>(discovery::kSearch).toByteArray();
}

QByteArray qcNoconOption::getRequest(const QString &mac)
{
    Request<discovery::kGetSize> r(discovery::kGet);
    discovery::putFieldText(r.bytes + 8, 24, mac);
    return r.toByteArray();
}

QByteArray qcNoconOption::setRequest(const QString &ip, const QString &mac, const QString &mask, const QString &gateway,
                                     const QString &user, const QString &password, int mode)
{
    Request<discovery::kSetSize> r(discovery::kSet);
    uchar *p = r.bytes;
    discovery::putFieldText(p + 160, 64, user);
    discovery::putFieldText(p + 224, 20, password);
    uchar *cfg = p + 244;
    discovery::putFieldText(cfg, 24, mac);
    qToLittleEndian<quint32>(1, cfg + 24);
    qToLittleEndian<quint32>(quint32(mode), cfg + 28);
    discovery::putFieldText(cfg + 32, 16, ip);
    discovery::putFieldText(cfg + 48, 16, mask);
    discovery::putFieldText(cfg + 196, 16, gateway);
    return r.toByteArray();
}

QList<QUdpSocket *> qcNoconOption::openSockets()
{
    QList<QUdpSocket *> sockets;
    const auto flags = QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;
    if (!m_locals.isEmpty()) {
        for (const auto &l : qAsConst(m_locals)) {
            auto *s = new QUdpSocket;
            // An ephemeral port is never shared: with address reuse the
            // system may hand out a port another socket already holds.
            const auto f = l.second == 0 ? QAbstractSocket::DefaultForPlatform : flags;
            if (s->bind(l.first, l.second, f))
                sockets.append(s);
            else
                delete s;
        }
        return sockets;
    }
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces()) {
        const auto f = iface.flags();
        if (!(f & QNetworkInterface::IsUp) || !(f & QNetworkInterface::IsRunning) ||
            !(f & QNetworkInterface::CanBroadcast) || (f & QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry &e : iface.addressEntries()) {
            if (e.ip().protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            auto *s = new QUdpSocket;
            if (s->bind(e.ip(), kLocalPort, flags))
                sockets.append(s);
            else
                delete s;
        }
    }
    return sockets;
}

void qcNoconOption::run()
{
    QList<QUdpSocket *> sockets = openSockets();
    if (sockets.isEmpty())
        return;
    const auto flags = QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;
    // Linux hands a datagram sent to 255.255.255.255 only to a socket bound
    // to the wildcard address; it only receives.
    QList<QUdpSocket *> receivers = sockets;
    if (m_locals.isEmpty()) {
        auto *any = new QUdpSocket;
        if (any->bind(QHostAddress::AnyIPv4, kLocalPort, flags))
            receivers.append(any);
        else
            delete any;
    }

    const int mode = m_mode;
    for (QUdpSocket *s : qAsConst(sockets)) {
        if (mode == ModeSearch || mode == ModeGet) {
            const QByteArray d = mode == ModeSearch ? searchRequest() : getRequest(m_getKey);
            s->writeDatagram(d, m_target.first, m_target.second);
            s->writeDatagram(d, m_target.first, m_target.second);
        } else if (mode == ModeSet) {
            for (const SetRequest &r : qAsConst(m_requests))
                s->writeDatagram(setRequest(r.ip, r.mac, r.mask, r.gateway, r.user, r.password, r.mode), m_target.first,
                                 m_target.second);
        }
    }

    while (!m_stop.stopRequested()) {
        bool any = false;
        for (QUdpSocket *s : qAsConst(receivers)) {
            if (!s->hasPendingDatagrams())
                continue;
            any = true;
            const qint64 size = s->pendingDatagramSize();
            QByteArray datagram(int(qMax<qint64>(size, 0)), '\0');
            QHostAddress sender;
            const qint64 n = s->readDatagram(datagram.data(), datagram.size(), &sender);
            if (n < 0)
                continue;
            datagram.truncate(int(n));
            handleDatagram(datagram, sender);
        }
        if (!any)
            m_stop.sleepFor(20);
    }
    for (QUdpSocket *s : qAsConst(receivers)) {
        s->abort();
        delete s;
    }
}

void qcNoconOption::handleDatagram(const QByteArray &datagram, const QHostAddress &sender)
{
    const auto *p = reinterpret_cast<const uchar *>(datagram.constData());
    const bool hasMagic = datagram.size() >= 4 && qFromLittleEndian<quint32>(p) == discovery::kMagic;
    switch (m_mode) {
    case ModeSearch: {
        // Anything on the port could be sent by anyone: only replies count.
        if (datagram.size() < discovery::kHeaderSize || !hasMagic)
            return;
        DeviceInfo_t info;
        std::memset(info.bytes, 0, sizeof info.bytes);
        std::memcpy(info.bytes, p + 8, size_t(qMin<int>(datagram.size() - 8, sizeof info.bytes)));
        emit sigHasDevices(info);
        return;
    }
    case ModeGet: {
        if (datagram.size() < discovery::kHeaderSize || !hasMagic)
            return;
        NetIPCfg_t cfg;
        std::memset(cfg.bytes, 0, sizeof cfg.bytes);
        std::memcpy(cfg.bytes, p + 8, size_t(qMin<int>(datagram.size() - 8, sizeof cfg.bytes)));
        emit sigNetinfo(cfg);
        return;
    }
    case ModeSet: {
        const QString from = sender.toString();
        if (m_replied.contains(from))
            return;
        m_replied.append(from);
        ++m_done;
        if (!hasMagic) {
            emit sigSetresult(47, m_done, m_total);
            return;
        }
        const int span = qMin(19, qMax(0, datagram.size() - 8));
        const QString status = span > 0 ? discovery::fieldText(p + 8, span) : QString();
        emit sigSetresult(status == QLatin1String("200") ? 31 : 47, m_done, m_total);
        return;
    }
    default:
        return;
    }
}
