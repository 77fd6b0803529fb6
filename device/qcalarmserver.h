#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

#include "device/alarmparser.h"

class QAbstractSocket;
class QTcpSocket;
class QTimer;

// One registered device of the alarm channel.
struct AlarmDevice
{
    QString ip;
    QString port;
    QString user;
    QString password;
    bool connected = false;
    bool pending = false; // a connection attempt is under way
    qint64 index = -1;
};

// One open alarm connection, with the bytes of a message not yet complete.
struct AlarmConnection
{
    QTcpSocket *socket = nullptr;
    QString ip;
    qint64 index = -1;
    AlarmParser parser;
};

// Time limits of the alarm channel; tests shorten them.
struct AlarmTiming
{
    int sweepMs = 6000;
    int connectMs = 5000;
    int answerMs = 6000;
    // TCP keep-alive on an open connection: a device gone without a close
    // is taken for disconnected after idle + count * interval seconds.
    int keepAliveIdleS = 10;
    int keepAliveIntervalS = 5;
    int keepAliveCount = 3;
};

// Keeps one long-lived connection to every device reached by address and
// turns the XML messages the device pushes into alarm signals. Lives on a
// thread of its own; addDevice may be called from any thread.
class qcAlarmServer : public QObject
{
    Q_OBJECT
public:
    using Timing = AlarmTiming;
    static constexpr int kBufferSize = AlarmParser::kCapacity;

    explicit qcAlarmServer(QObject *parent = nullptr, const Timing &timing = Timing());
    ~qcAlarmServer() override;

    bool addDevice(const QString &ip, const QString &port, const QString &user, const QString &password, qint64 index);

    // Switches TCP keep-alive on with the timing's probe times.
    static bool setKeepAlive(QAbstractSocket *socket, const Timing &timing);

    int connectionCount();

public slots:
    void OnModifyDevice(QString ipaddr, QString port, QString username, QString password, qlonglong devindex);
    void OnRemoveDevice(QString ipaddr);
    void onReadyRead();

signals:
    void sigAlarmStatus(QString ipaddr, int alarmtype);
    void sigConnectFailed(QString ipaddr);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    struct Attempt;
    void sweep();
    void startAttempt(const AlarmDevice &device);
    void finishAttempt(Attempt *attempt, bool answered, const QByteArray &answer);
    void onConnectionLost(QTcpSocket *socket);
    void dropConnectionLocked(int i);

    QList<AlarmConnection *> m_connections;
    QList<AlarmDevice *> m_devices;
    QList<Attempt *> m_attempts;
    int m_timerId = 0;
    Timing m_timing;
    QMutex m_deviceMutex;
    QMutex m_connectionMutex;
};
