#include <QTcpServer>
#include <QtTest>

#include <memory>

#include "tests/support/netnspair.h"
#include "device/alarmparser.h"
#include "device/httprequest.h"
#include "device/qcalarmserver.h"
#include "devicesim/alarmendpoint.h"
#include "devicesim/device.h"

using devicesim::AlarmEndpoint;
using testsupport::NetnsPair;

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

    explicit Server(int sweepMs = 300) : Server(timing(sweepMs)) {}
    static qcAlarmServer::Timing timing(int sweepMs)
    {
        qcAlarmServer::Timing t;
        t.sweepMs = sweepMs;
        return t;
    }
    explicit Server(const qcAlarmServer::Timing &t)
    {
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

// A device inside the second namespace of a pair that answers the alarm
// request with one MOTION message and then holds every connection open
// without a word, so only the link decides whether it is still there.
struct VanishingDevice
{
    QThread thread;
    QObject *context = new QObject;
    QTcpServer *listener = nullptr;
    std::atomic<int> answered{0};

    explicit VanishingDevice(const NetnsPair &net)
    {
        context->moveToThread(&thread);
        thread.start();
        QMetaObject::invokeMethod(
            context,
            [&] {
                if (!net.enter(1))
                    return;
                listener = new QTcpServer(context);
                if (!listener->listen(QHostAddress(NetnsPair::address(1))))
                    return;
                QObject::connect(listener, &QTcpServer::newConnection, listener, [this] {
                    while (QTcpSocket *s = listener->nextPendingConnection()) {
                        QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
                            s->readAll();
                            s->write("HTTP/1.0 200 OK\r\n\r\n" + AlarmEndpoint::message("1", "MOTION"));
                            ++answered;
                        });
                    }
                });
            },
            Qt::BlockingQueuedConnection);
    }
    ~VanishingDevice()
    {
        QMetaObject::invokeMethod(
            context, [this] { delete context; }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }
    quint16 port() const { return listener ? listener->serverPort() : 0; }
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
    void messageCutting_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArrayList>("messages");
        QTest::addColumn<QByteArray>("rest");
        const QByteArray pir = AlarmEndpoint::message("1", "PIR");
        const QByteArrayList pirRoot = {pir.mid(pir.indexOf("<response>"))};
        QTest::newRow("declarations, comments, junk")
            << QByteArray("junk<?xml version=\"1.0\"?><!-- c <x> --><a><b/><c>1</c></a>  <d>2</d><e><f")
            << QByteArrayList{"<a><b/><c>1</c></a>", "<d>2</d>"} << QByteArray("<e><f");
        QTest::newRow("unclosed element, then a declaration")
            << AlarmEndpoint::message("1", "MOTION").chopped(12) + pir << pirRoot << QByteArray();
        QTest::newRow("broken start tag") << "<response><sta" + pir << pirRoot << QByteArray();
        QTest::newRow("broken attribute value") << "<response a=\"x" + pir << pirRoot << QByteArray();
        QTest::newRow("broken declaration") << "<?xml vers" + pir << pirRoot << QByteArray();
        QTest::newRow("root name again, no declarations")
            << QByteArray("<r><status>1</status><topic>IO<r><status>1</status></r>")
            << QByteArrayList{"<r><status>1</status></r>"} << QByteArray();
        QTest::newRow("markup in comment and CDATA")
            << QByteArray("<r><!-- <r> --><![CDATA[</r><r>]]></r>")
            << QByteArrayList{"<r><!-- <r> --><![CDATA[</r><r>]]></r>"} << QByteArray();
        const QByteArray motion = AlarmEndpoint::message("1", "MOTION");
        const QByteArray motionRoot = motion.mid(motion.indexOf("<response>"));
        const QByteArrayList both = {motionRoot, pirRoot.first()};
        QTest::newRow("unclosed comment, then messages") << "<response><!-- x" + motion + pir << both << QByteArray();
        QTest::newRow("unclosed comment, then roots only")
            << "<response><!-- x" + motionRoot + pirRoot.first() << both << QByteArray();
        QTest::newRow("unclosed CDATA, then messages")
            << "<response><![CDATA[ <x>" + motion + pir << both << QByteArray();
        QTest::newRow("unclosed CDATA, then roots only")
            << "<response><![CDATA[ x" + motionRoot + pirRoot.first() << both << QByteArray();
        QTest::newRow("closed comment holding a whole root")
            << QByteArray("<r><!-- <r>x</r> --></r>") << QByteArrayList{"<r>x</r>"} << QByteArray();
        QTest::newRow("empty roots, stray end tag")
            << QByteArray("</x>text<r/><s a='1'/>") << QByteArrayList{"<r/>", "<s a='1'/>"} << QByteArray();
    }

    // Whole and one byte per read cut the same messages.
    void messageCutting()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArrayList, messages);
        QFETCH(QByteArray, rest);
        AlarmParser whole;
        QCOMPARE(whole.takeMessages(input), messages);
        QCOMPARE(whole.pending(), rest);
        AlarmParser trickled;
        QByteArrayList got;
        for (char c : input)
            got += trickled.takeMessages(&c, 1);
        QCOMPARE(got, messages);
        QCOMPARE(trickled.pending(), rest);
    }

    void tricklingCostsWhatWholeCosts_data()
    {
        QTest::addColumn<QByteArray>("input");
        QByteArray messages;
        while (messages.size() < 10240)
            messages += AlarmEndpoint::message("1", "MOTION");
        QTest::newRow("complete messages") << messages.left(10240);
        QTest::newRow("one that never closes") << "<response><status>1</status><topic>" + QByteArray(10240 - 35, 'x');
    }

    void tricklingCostsWhatWholeCosts()
    {
        QFETCH(QByteArray, input);
        AlarmParser whole;
        const QList<int> wholeCodes = whole.feed(input);
        AlarmParser trickled;
        QList<int> trickledCodes;
        for (char c : input)
            trickledCodes += trickled.feed(&c, 1);
        QCOMPARE(trickledCodes, wholeCodes);
        QCOMPARE(trickled.dropped(), whole.dropped());
        qInfo("parse steps for %d bytes: whole %lld, one byte per read %lld", int(input.size()), whole.steps(),
              trickled.steps());
        QVERIFY(trickled.steps() < 10 * whole.steps());
    }

    void brokenMessageCostsOnlyItself()
    {
        SimAlarm dev;
        Server s;
        QVERIFY(s.server->addDevice("127.0.0.1", dev.port(), "admin", "1234", 1));
        QTRY_COMPARE(s.connections(), 1);
        dev.alarm->push(AlarmEndpoint::message("1", "PIR").chopped(12));
        QByteArray burst;
        for (int i = 0; i < 171; ++i)
            burst += AlarmEndpoint::message("1", "MOTION");
        dev.alarm->push(burst);
        QTRY_COMPARE(s.alarms.size(), 171);
        QCOMPARE(codes(s.alarms), QVector<int>(171, 65));
    }

    void messagesEndToEnd()
    {
        SimAlarm dev; // its first message comes in the answer's read
        dev.alarm->setAnswer(AlarmEndpoint::Answer::OkWithFirstPush, AlarmEndpoint::message("1", "PIR"));
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
        QTRY_COMPARE(codes(s.alarms), (QVector<int>{66, 65, 64, 73, 67, 66, 68}));
        QCOMPARE(s.alarms.first().first, QString("127.0.0.1"));

        // Garbage that never completes a message is dropped at the cap; the next message works.
        dev.alarm->push("<a>" + QByteArray(11 * 1024, 'g'));
        dev.alarm->push(AlarmEndpoint::message("1", "IO"));
        QTRY_COMPARE(codes(s.alarms).size(), 8);
        QCOMPARE(codes(s.alarms).last(), 67);
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
        QTcpSocket unconnected;
        QVERIFY(!qcAlarmServer::setKeepAlive(&unconnected, qcAlarmServer::Timing()));
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
        QVERIFY(!s.server->addDevice("127.0.0.1", "2", "admin", "1234", 4)); // a listed address
        QVERIFY(!s.server->addDevice("127.0.0.6", "2", "admin", "1234", 3)); // a listed index
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
        QVERIFY(s.server->addDevice("127.0.0.9", "1", "admin", "1234", 9));
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

    // The device's end of the link goes down: nothing is closed, only the
    // probes find out, and the sweep connects again once the link is back.
    void vanishedDeviceIsNoticed()
    {
        NetnsPair net("alarm");
        if (!net.ok())
            QSKIP(qPrintable(net.error()));
        VanishingDevice dev(net);
        QVERIFY(dev.port());
        qcAlarmServer::Timing t = Server::timing(300);
        t.keepAliveIdleS = 1;
        t.keepAliveIntervalS = 1;
        t.keepAliveCount = 2;
        t.connectMs = 1000;
        Server s(t);
        bool entered = false;
        QMetaObject::invokeMethod(
            s.server, [&] { entered = net.enter(0); }, Qt::BlockingQueuedConnection);
        QVERIFY(entered);
        QVERIFY(s.server->addDevice(NetnsPair::address(1), QString::number(dev.port()), "admin", "1234", 1));
        QTRY_COMPARE(s.connections(), 1);
        QTRY_COMPARE(codes(s.alarms), QVector<int>{65});
        QVERIFY(net.setLinkUp(false));
        QTRY_COMPARE_WITH_TIMEOUT(s.connections(), 0, 20000);
        QVERIFY(net.setLinkUp(true));
        QTRY_COMPARE_WITH_TIMEOUT(dev.answered.load(), 2, 20000);
        QTRY_COMPARE(codes(s.alarms), (QVector<int>{65, 65}));
        QCOMPARE(s.connections(), 1);
    }
};

QTEST_GUILESS_MAIN(TestAlarm)
#include "tst_alarm.moc"
