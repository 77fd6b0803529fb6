#pragma once

#include "device/discoveryrecords.h"
#include "platform/stoptoken.h"

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QThread>
#include <atomic>

class QUdpSocket;

// Finds devices on the local network and reads or changes their network
// settings by UDP broadcast, on a thread of its own. One object serves one
// operation: once stopped it is not restarted.
class qcNoconOption : public QThread
{
    Q_OBJECT
public:
    enum Mode { ModeNone = -1, ModeSearch = 0, ModeSet = 1, ModeGet = 2 };
    static constexpr quint16 kLocalPort = 6010;
    static constexpr quint16 kDevicePort = 6011;

    explicit qcNoconOption(QObject *parent = nullptr);
    ~qcNoconOption() override;

    void addSetRequest(const QString &ip, const QString &mac, const QString &mask, const QString &gateway,
                       const QString &user, const QString &password, int mode);
    void startSearch();
    void startSetIp();
    void queryNetInfo(const QString &mac);
    bool stopOption();

    // Loopback stand-ins for the broadcast target and the local addresses
    // ("HOST:PORT"; port 0 = any). Taken only when every host lies in
    // 127.0.0.0/8; the environment variables ARDO_DISCOVERY_TARGET and
    // ARDO_DISCOVERY_LOCAL give the same. Call before a start.
    void setEndpoints(const QString &target, const QStringList &locals);
    // The target the next run sends to (the broadcast address unless overridden).
    QPair<QHostAddress, quint16> target() const { return m_target; }

    // Request datagrams, exposed for tests.
    static QByteArray searchRequest();
    static QByteArray getRequest(const QString &mac);
    static QByteArray setRequest(const QString &ip, const QString &mac, const QString &mask, const QString &gateway,
                                 const QString &user, const QString &password, int mode);

signals:
    void sigHasDevices(DeviceInfo_t info);
    void sigSetresult(int code, int cur, int total);
    void sigNetinfo(NetIPCfg_t info);

protected:
    void run() override;

private:
    struct SetRequest
    {
        QString ip, mac, mask, gateway, user, password;
        int mode;
    };
    QList<QUdpSocket *> openSockets();
    void handleDatagram(const QByteArray &datagram, const QHostAddress &sender);
    void applyEnvironment();

    QList<SetRequest> m_requests;
    QStringList m_replied;
    std::atomic<int> m_mode{ModeNone};
    QString m_getKey;
    platform::StopToken m_stop;
    int m_total = 0;
    int m_done = 0;
    QPair<QHostAddress, quint16> m_target{QHostAddress(QHostAddress::Broadcast), kDevicePort};
    QList<QPair<QHostAddress, quint16>> m_locals; // empty: the machine's interfaces
};
