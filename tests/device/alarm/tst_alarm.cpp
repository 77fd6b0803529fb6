#include <QtTest>

#include <memory>

#include "tests/support/scriptserver.h"
#include "device/httprequest.h"
#include "device/qcalarmserver.h"
#include "devicesim/alarmendpoint.h"
#include "devicesim/device.h"

using devicesim::AlarmEndpoint;
using testsupport::ScriptServer;

namespace {

// A loopback device with the alarm endpoint.
struct SimAlarm
{
    devicesim::Device device;
    std::shared_ptr<AlarmEndpoint> alarm;

    explicit SimAlarm(const char *address = "127.0.0.1", const QString &password = "1234")
    {
        alarm = std::make_shared<AlarmEndpoint>(device);
        device.registerHandler("/action/alarm", alarm);
        device.setCredentials("admin", password);
        QString error;
        if (!device.start(QHostAddress(QString::fromLatin1(address)), 0, &error))
            qWarning("alarm device: %s", qPrintable(error));
    }
    QString port() const { return QString::number(device.port()); }
};

// The server on a thread of its own, its signals collected on this thread.
struct Server
{
    QThread thread;
    qcAlarmServer *server;
    QObject context;
    QVector<QPair<QString, int>> alarms;
    QStringList failed;

    explicit Server(int sweepMs = 300)
    {
        qcAlarmServer::Timing t;
        t.sweepMs = sweepMs;
        server = new qcAlarmServer(nullptr, t);
        server->moveToThread(&thread);
        QObject::connect(server, &qcAlarmServer::sigAlarmStatus, &context, [this](const QString &ip, int code) {
            alarms.append({ip, code});
        });
        QObject::connect(server, &qcAlarmServer::sigConnectFailed, &context,
                         [this](const QString &ip) { failed.append(ip); });
        thread.start();
    }
    ~Server()
    {
        QMetaObject::invokeMethod(
            server, [s = server] { delete s; }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }
    int connections() { return server->connectionCount(); }
};

QVector<int> codes(const QVector<QPair<QString, int>> &alarms)
{
    QVector<int> out;
    for (const auto &a : alarms)
        out.append(a.second);
    return out;
}

} // namespace

class TestAlarm : public QObject
{
    Q_OBJECT
private slots:
    void topicTable()
    {
        const char *topics[] = {"MOTION",     "PIR",          "IO",          "CROSSLINE",
                                "INSTRUSION", "HUMANDECTION", "FACEDECTION", "OBJECTLEFTLOST",
                                "LOITERING"};
        for (int i = 0; i < 9; ++i)
            QCOMPARE(qcAlarmServer::topicCode(topics[i]), 65 + i);
        QCOMPARE(qcAlarmServer::topicCode("Motion"), 64);
        QCOMPARE(qcAlarmServer::topicCode("INTRUSION"), 64);
        QCOMPARE(qcAlarmServer::topicCode(""), 64);
    }

    void documentCutting()
    {
        QByteArray b = "junk<?xml version=\"1.0\"?><!-- c <x> --><a><b/><c>1</c></a>  <d>2</d><e><f";
        const auto docs = qcAlarmServer::takeDocuments(b);
        QCOMPARE(docs, (QList<QByteArray>{"<a><b/><c>1</c></a>", "<d>2</d>"}));
        QCOMPARE(b, QByteArray("<e><f"));
        b += "/></e>";
        QCOMPARE(qcAlarmServer::takeDocuments(b), QList<QByteArray>{"<e><f/></e>"});
        QVERIFY(b.isEmpty());
        QByteArray noTag = "plain text";
        QVERIFY(qcAlarmServer::takeDocuments(noTag).isEmpty());
        QVERIFY(noTag.isEmpty());
    }

    void messagesEndToEnd()
    {
        SimAlarm dev;
        Server s;
        QVERIFY(s.server->addDevice("127.0.0.1", dev.port(), "admin", "1234", 1));
        QTRY_COMPARE(dev.alarm->openConnections(), 1);
        QTRY_COMPARE(s.connections(), 1);
        dev.alarm->push(AlarmEndpoint::message("1", "MOTION"));
        dev.alarm->push(AlarmEndpoint::message("1", "Motion"));
        dev.alarm->push(AlarmEndpoint::message("0", "PIR"));
        dev.alarm->push("<response><status>1</status></response>");
        dev.alarm->push("<r><deep><er><status>1</status></er></deep><x><topic>LOITERING</topic></x></r>");
        dev.alarm->push("<r><status>1</status><topic>IO</topic></r><r><status>1</status><topic>PIR</topic></r>");
        const QByteArray split = AlarmEndpoint::message("1", "CROSSLINE");
        dev.alarm->pushSplit(split, split.indexOf("<topic>") + 3);
        QTRY_COMPARE(codes(s.alarms), (QVector<int>{65, 64, 73, 67, 66, 68}));
        QCOMPARE(s.alarms.first().first, QString("127.0.0.1"));

        // Garbage that never completes a message is dropped at the cap; the next message works.
        dev.alarm->push("<a>" + QByteArray(11 * 1024, 'g'));
        dev.alarm->push(AlarmEndpoint::message("1", "IO"));
        QTRY_COMPARE(codes(s.alarms).size(), 7);
        QCOMPARE(codes(s.alarms).last(), 67);
        QVERIFY(s.failed.isEmpty());
    }

    void answerAndFirstMessageTogether()
    {
        SimAlarm dev;
        dev.alarm->setAnswer(AlarmEndpoint::Answer::OkWithFirstPush, AlarmEndpoint::message("1", "PIR"));
        Server s;
        QVERIFY(s.server->addDevice("127.0.0.1", dev.port(), "admin", "1234", 1));
        QTRY_COMPARE(codes(s.alarms), QVector<int>{66});
    }

    void exactRequestAndLongPassword()
    {
        ScriptServer raw({ScriptServer::write("HTTP/1.0 200 OK\r\n\r\n")});
        const QString password(600, QLatin1Char('w'));
        {
            Server s;
            QVERIFY(s.server->addDevice("127.0.0.1", QString::number(raw.port()), "admin", password, 1));
            QTRY_COMPARE(s.connections(), 1);
        }
        QCOMPARE(raw.request(), "POST /action/alarm?subject=notify HTTP/1.0\r\nAuthorization: Basic " +
                                    QByteArray("admin:" + QByteArray(600, 'w')).toBase64() +
                                    "\r\nConnection: Keep-Alive \r\nContent-length: 0\r\n\r\n");

        SimAlarm dev("127.0.0.1", password);
        Server s;
        QVERIFY(s.server->addDevice("127.0.0.1", dev.port(), "admin", password, 1));
        QTRY_COMPARE(s.connections(), 1);
        QVERIFY(s.failed.isEmpty());
    }

    void wrongCredentialsFailOnEverySweep()
    {
        SimAlarm dev;
        Server s;
        QVERIFY(s.server->addDevice("127.0.0.1", dev.port(), "admin", "bad", 1));
        QTRY_VERIFY(s.failed.size() >= 3);
        QCOMPARE(s.failed.first(), QString("127.0.0.1"));
        QCOMPARE(s.connections(), 0);
    }

    void duplicatesRefused()
    {
        Server s;
        QVERIFY(s.server->addDevice("127.0.0.5", "1", "a", "b", 1));
        QVERIFY(!s.server->addDevice("127.0.0.5", "2", "a", "b", 2));
        QVERIFY(!s.server->addDevice("127.0.0.6", "2", "a", "b", 1));
        QVERIFY(s.server->addDevice("127.0.0.6", "2", "a", "b", 2));
    }

    void modifyReconnectsWithNewPassword()
    {
        SimAlarm dev;
        Server s;
        QVERIFY(s.server->addDevice("127.0.0.1", dev.port(), "admin", "1234", 7));
        QTRY_COMPARE(dev.alarm->openConnections(), 1);
        dev.device.setCredentials("admin", "5678");
        QMetaObject::invokeMethod(s.server, "OnModifyDevice", Q_ARG(QString, "127.0.0.1"), Q_ARG(QString, dev.port()),
                                  Q_ARG(QString, "admin"), Q_ARG(QString, "5678"), Q_ARG(qlonglong, 7));
        QTRY_COMPARE_WITH_TIMEOUT(dev.alarm->openConnections(), 0, 200);
        QTRY_COMPARE(dev.alarm->openConnections(), 1);
        QCOMPARE(dev.alarm->acceptedConnections(), 2);
        QVERIFY(s.failed.isEmpty());
        const auto log = dev.device.requests();
        QVERIFY(log.last().authorized);
        QCOMPARE(log.last().password, QString("5678"));
    }

    void removeClosesAndForgets()
    {
        SimAlarm dev;
        Server s;
        QVERIFY(s.server->addDevice("127.0.0.1", dev.port(), "admin", "1234", 3));
        QTRY_COMPARE(dev.alarm->openConnections(), 1);
        QMetaObject::invokeMethod(s.server, "OnRemoveDevice", Q_ARG(QString, "127.0.0.1"));
        QTRY_COMPARE_WITH_TIMEOUT(dev.alarm->openConnections(), 0, 200);
        QTest::qWait(800);
        QCOMPARE(dev.alarm->acceptedConnections(), 1);
        QCOMPARE(s.connections(), 0);
        QVERIFY(s.server->addDevice("127.0.0.1", dev.port(), "admin", "1234", 3));
    }

    void droppedConnectionComesBack()
    {
        SimAlarm dev;
        Server s;
        QVERIFY(s.server->addDevice("127.0.0.1", dev.port(), "admin", "1234", 1));
        QTRY_COMPARE(dev.alarm->openConnections(), 1);
        dev.alarm->dropAll();
        QTRY_COMPARE(dev.alarm->acceptedConnections(), 2);
        QTRY_COMPARE(dev.alarm->openConnections(), 1);
        QTRY_COMPARE(s.connections(), 1);
        dev.alarm->push(AlarmEndpoint::message("1", "MOTION"));
        QTRY_COMPARE(codes(s.alarms), QVector<int>{65});

        // The device goes away and comes back on the same port.
        const quint16 port = dev.device.port();
        dev.device.stop();
        QTRY_COMPARE(s.connections(), 0);
        QVERIFY(dev.device.start(QHostAddress::LocalHost, port));
        QTRY_COMPARE(s.connections(), 1);
        QTRY_COMPARE(dev.alarm->openConnections(), 1);
        dev.alarm->push(AlarmEndpoint::message("1", "PIR"));
        QTRY_COMPARE(codes(s.alarms), (QVector<int>{65, 66}));
    }

    void silentDevicesHoldNothingUp()
    {
        // Three devices that accept but never answer, and one that works.
        SimAlarm silent1("127.0.0.2"), silent2("127.0.0.3"), silent3("127.0.0.4");
        for (SimAlarm *d : {&silent1, &silent2, &silent3})
            d->alarm->setAnswer(AlarmEndpoint::Answer::None);
        SimAlarm good("127.0.0.1");
        Server s;
        QVERIFY(s.server->addDevice("127.0.0.1", good.port(), "admin", "1234", 1));
        QTRY_COMPARE(s.connections(), 1);
        QVERIFY(s.server->addDevice("127.0.0.2", silent1.port(), "admin", "1234", 2));
        QVERIFY(s.server->addDevice("127.0.0.3", silent2.port(), "admin", "1234", 3));
        QVERIFY(s.server->addDevice("127.0.0.4", silent3.port(), "admin", "1234", 4));
        QTRY_COMPARE(silent3.alarm->openConnections(), 1);
        QTRY_COMPARE(silent1.alarm->openConnections(), 1);
        QElapsedTimer t;
        t.start();
        QVERIFY(s.server->addDevice("127.0.0.9", "1", "admin", "1234", 9));
        QVERIFY(t.elapsed() < 1000);
        t.restart();
        good.alarm->push(AlarmEndpoint::message("1", "IO"));
        QTRY_COMPARE_WITH_TIMEOUT(codes(s.alarms), QVector<int>{67}, 500);
        // A burst on another connection leaves this one alone.
        SimAlarm second("127.0.0.6");
        QVERIFY(s.server->addDevice("127.0.0.6", second.port(), "admin", "1234", 6));
        QTRY_COMPARE(s.connections(), 2);
        QByteArray burst;
        for (int i = 0; i < 100; ++i)
            burst += AlarmEndpoint::message("1", "PIR");
        second.alarm->push(burst);
        good.alarm->push(AlarmEndpoint::message("1", "MOTION"));
        QTRY_COMPARE(s.alarms.size(), 102);
        int fromGood = 0;
        for (const auto &a : s.alarms)
            fromGood += a.first == QLatin1String("127.0.0.1");
        QCOMPARE(fromGood, 2);
    }

    void realSweepPeriod()
    {
        SimAlarm dev;
        Server s(6000);
        QElapsedTimer t;
        t.start();
        QVERIFY(s.server->addDevice("127.0.0.1", dev.port(), "admin", "1234", 1));
        QTRY_COMPARE_WITH_TIMEOUT(dev.alarm->openConnections(), 1, 8000);
        QVERIFY2(t.elapsed() > 5000, qPrintable(QString::number(t.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestAlarm)
#include "tst_alarm.moc"
