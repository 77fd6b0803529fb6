#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>

#include <functional>

class QUdpSocket;

namespace devicesim {

// The device's side of LAN discovery: answers search, get and set datagrams
// on UDP, from a loopback address unless the caller runs inside a network
// namespace of its own (netnsOk).
class DiscoveryResponder
{
public:
    struct Record
    {
        QString name = QStringLiteral("devicesim");
        QString address = QStringLiteral("127.0.0.1");
        quint32 port = 18080;
        quint32 firmware = 302001234; // 3.2.1234
        quint8 byte9 = 0;             // bit 7: bits 0-6 are a fourth version part
        QString mac = QStringLiteral("00:11:22:33:44:55");
        QString model = QStringLiteral("IPC-SIM");
        quint32 mode = 1; // 1 static, other DHCP
        QString ip = QStringLiteral("127.0.0.1");
        QString mask = QStringLiteral("255.0.0.0");
        QString gateway = QStringLiteral("127.0.0.1");
        QString user = QStringLiteral("admin");
        QString password = QStringLiteral("1234");
    };

    struct Faults
    {
        int replies = 1;               // replies per request
        int truncateTo = -1;           // cut every reply to this many bytes
        int padTo = -1;                // get replies of this many bytes, filler after the gateway
        bool noMagic = false;          // replies without the magic
        bool unterminated = false;     // 156-byte name and 144-byte address without a NUL
        QByteArray setStatus;          // replaces "200"/"401" when not empty
        bool broadcastReplies = false; // reply to 255.255.255.255 (netnsOk only)
        bool fromEveryAddress = false; // answer through each bound address
    };

    struct Received
    {
        QByteArray datagram;
        QHostAddress from;
        quint16 fromPort;
        QHostAddress to; // the responder address it arrived on
    };

    DiscoveryResponder();
    ~DiscoveryResponder();

    // Binds each address at port (0: the first bind picks one, the others
    // share it). Non-loopback addresses only with netnsOk.
    bool start(const QList<QHostAddress> &addresses, quint16 port = 0, bool netnsOk = false, QString *error = nullptr);
    void stop();
    quint16 port() const;

    void setRecord(const Record &record);
    Record record() const;
    void setFaults(const Faults &faults);
    QList<Received> received() const;
    void clearReceived();
    // Called on the responder thread for every request (for the program's log).
    void setObserver(const std::function<void(const Received &)> &observer);

    // The replies as the device writes them, exposed for its own checks.
    static QByteArray searchReply(const Record &r, bool unterminated);
    static QByteArray getReply(const Record &r);

private:
    void onReadable(QUdpSocket *socket);
    void answer(QUdpSocket *socket, const Received &request);

    QThread m_thread;
    QObject *m_context = nullptr;
    QList<QUdpSocket *> m_sockets;
    quint16 m_port = 0;
    bool m_netnsOk = false;
    mutable QMutex m_mutex;
    Record m_record;
    Faults m_faults;
    QList<Received> m_received;
    std::function<void(const Received &)> m_observer;
};

} // namespace devicesim
