#include <QtTest>

#include <memory>

#include "device/qcnoconoption.h"
#include "devicesim/discoveryresponder.h"

using devicesim::DiscoveryResponder;

namespace {

quint32 u32(const QByteArray &d, int offset)
{
    return qFromLittleEndian<quint32>(d.constData() + offset);
}
QByteArray text(const QByteArray &d, int offset, int span)
{
    QByteArray f = d.mid(offset, span);
    return f.left(f.indexOf('\0') < 0 ? span : f.indexOf('\0'));
}

// One discovery run against the loopback responder; refuses to start with
// a target outside 127.0.0.0/8.
struct Run
{
    std::unique_ptr<qcNoconOption> option{new qcNoconOption};
    QObject context;
    QVector<DeviceInfo_t> devices;
    QVector<NetIPCfg_t> configs;
    QVector<QVector<int>> results;

    Run(quint16 port, const QStringList &locals = {"127.0.0.1:0"})
    {
        option->setEndpoints(QStringLiteral("127.0.0.1:%1").arg(port), locals);
        QObject::connect(option.get(), &qcNoconOption::sigHasDevices, &context,
                         [this](DeviceInfo_t i) { devices.append(i); });
        QObject::connect(option.get(), &qcNoconOption::sigNetinfo, &context,
                         [this](NetIPCfg_t c) { configs.append(c); });
        QObject::connect(option.get(), &qcNoconOption::sigSetresult, &context, [this](int code, int cur, int total) {
            results.append({code, cur, total});
        });
    }
    bool safe() const { return (option->target().first.toIPv4Address() >> 24) == 127; }
    ~Run() { option->stopOption(); }
};

} // namespace

class TestDiscovery : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<DiscoveryResponder> responder;

private slots:
    void init()
    {
        responder.reset(new DiscoveryResponder);
        QString error;
        QVERIFY2(responder->start({QHostAddress("127.0.0.1")}, 0, false, &error), qPrintable(error));
    }
    void cleanup() { responder.reset(); }

    void overrideOnlyForLoopback()
    {
        qcNoconOption o;
        o.setEndpoints("192.0.2.1:6011", {"10.0.0.1:0"});
        QVERIFY((o.target().first.toIPv4Address() >> 24) != 192);
        o.setEndpoints("127.0.0.7:99", {});
        QCOMPARE(o.target().first, QHostAddress("127.0.0.7"));
        QCOMPARE(o.target().second, quint16(99));
        o.setEndpoints("127.0.0.1", {});
        QCOMPARE(o.target().second, quint16(99));
        // The test environment itself points discovery at loopback.
        qcNoconOption fromEnv;
        QCOMPARE(fromEnv.target().first.toIPv4Address() >> 24, 127u);
    }

    void searchOnEveryLocalAddress()
    {
        DiscoveryResponder::Record rec;
        rec.firmware = 302001234;
        rec.byte9 = 0x85;
        rec.name = QString::fromLatin1("caméra");
        rec.address = "127.0.0.1";
        rec.port = 18080;
        responder->setRecord(rec);
        Run run(responder->port(), {"127.0.0.1:0", "127.0.0.2:0"});
        QVERIFY(run.safe());
        run.option->startSearch();
        QTRY_COMPARE(run.devices.size(), 4);
        const auto got = responder->received();
        QCOMPARE(got.size(), 4);
        int fromOne = 0, fromTwo = 0;
        for (const auto &r : got) {
            QCOMPARE(r.datagram, QByteArray::fromHex("F0DEBCFA88C30800"));
            fromOne += r.from == QHostAddress("127.0.0.1");
            fromTwo += r.from == QHostAddress("127.0.0.2");
        }
        QCOMPARE(fromOne, 2);
        QCOMPARE(fromTwo, 2);
        const DeviceInfo_t &d = run.devices.first();
        QCOMPARE((QStringList{d.name(), d.address()}), (QStringList{QString::fromLatin1("caméra"), "127.0.0.1"}));
        QCOMPARE((QList<int>{int(d.port()), d.versionMajor(), d.versionMinor(), d.versionBuild(), d.versionExtra()}),
                 (QList<int>{18080, 3, 2, 1234, 5}));

        rec.byte9 = 0x05;
        responder->setRecord(rec);
        Run plain(responder->port());
        plain.option->startSearch();
        QTRY_COMPARE(plain.devices.size(), 2);
        QCOMPARE(plain.devices.first().versionExtra(), -1);
    }

    void unterminatedTextsStayInTheirFields()
    {
        DiscoveryResponder::Faults f;
        f.unterminated = true;
        responder->setFaults(f);
        Run run(responder->port());
        run.option->startSearch();
        QTRY_VERIFY(!run.devices.isEmpty());
        QCOMPARE(run.devices.first().name().size(), 156);
        QVERIFY(run.devices.first().name().startsWith("devicesim"));
        QCOMPARE(run.devices.first().address().size(), 144);
    }

    void nonRepliesIgnored()
    {
        DiscoveryResponder::Faults f;
        f.truncateTo = 5;
        responder->setFaults(f);
        Run run(responder->port());
        run.option->startSearch();
        QTRY_COMPARE(responder->received().size(), 2);
        f.truncateTo = -1;
        f.noMagic = true;
        responder->setFaults(f);
        Run run2(responder->port());
        run2.option->queryNetInfo("00:11:22:33:44:55");
        QTRY_COMPARE(responder->received().size(), 4);
        QTest::qWait(200);
        QVERIFY(run.devices.isEmpty());
        QVERIFY(run2.configs.isEmpty());
    }

    void getRequestAndReply()
    {
        Run run(responder->port());
        run.option->queryNetInfo("00:11:22:33:44:55");
        QTRY_COMPARE(run.configs.size(), 2);
        const QByteArray req = responder->received().first().datagram;
        QCOMPARE(req.size(), 636);
        QCOMPARE(req.left(8), QByteArray::fromHex("F0DEBCFA8AC37C02"));
        QCOMPARE(text(req, 8, 24), QByteArray("00:11:22:33:44:55"));
        QCOMPARE(req.mid(8 + 17).count('\0'), 636 - 8 - 17);
        const NetIPCfg_t &c = run.configs.first();
        QVERIFY(c.isStatic());
        QCOMPARE((QStringList{c.mac(), c.address(), c.mask(), c.gateway()}),
                 (QStringList{"00:11:22:33:44:55", "127.0.0.1", "255.0.0.0", "127.0.0.1"}));
    }

    void shortAndLongGetReplies()
    {
        DiscoveryResponder::Faults f;
        f.truncateTo = 300;
        responder->setFaults(f);
        Run run(responder->port());
        run.option->queryNetInfo("00:11:22:33:44:55");
        QTRY_VERIFY(!run.configs.isEmpty());
        const NetIPCfg_t &c = run.configs.first();
        for (int i = 292; i < 628; ++i)
            QCOMPARE(int(c.bytes[i]), 0);
        QCOMPARE(c.mac(), QString("00:11:22:33:44:55"));

        f.truncateTo = -1;
        f.padTo = 1000;
        responder->setFaults(f);
        Run big(responder->port());
        big.option->queryNetInfo("00:11:22:33:44:55");
        QTRY_VERIFY(!big.configs.isEmpty());
        QCOMPARE(int(big.configs.first().bytes[627]), 0x5A);
    }

    void setRequestLayout_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("dhcp") << 2;
        QTest::newRow("static") << 0;
    }
    void setRequestLayout()
    {
        QFETCH(int, mode);
        const QByteArray d = qcNoconOption::setRequest("127.0.0.9", "00:11:22:33:44:55", "255.255.255.0", "127.0.0.1",
                                                       QString(100, 'u'), "pw", mode);
        QCOMPARE(d.size(), 872);
        QCOMPARE(d.left(8), QByteArray::fromHex("F0DEBCFA89C36803"));
        QCOMPARE(d.mid(160, 64), QByteArray(63, 'u') + QByteArray(1, '\0'));
        QCOMPARE(text(d, 224, 20), QByteArray("pw"));
        QCOMPARE(text(d, 244, 24), QByteArray("00:11:22:33:44:55"));
        QCOMPARE(u32(d, 268), 1u);
        QCOMPARE(u32(d, 272), quint32(mode));
        QCOMPARE(text(d, 276, 16), QByteArray("127.0.0.9"));
        QCOMPARE(text(d, 292, 16), QByteArray("255.255.255.0"));
        QCOMPARE(text(d, 440, 16), QByteArray("127.0.0.1"));
        // Everything else is zero.
        QByteArray rest = d;
        for (auto span :
             {QPair<int, int>{0, 8}, {160, 64}, {224, 20}, {244, 24}, {268, 8}, {276, 16}, {292, 16}, {440, 16}})
            rest.replace(span.first, span.second, QByteArray(span.second, '\0'));
        QCOMPARE(rest, QByteArray(872, '\0'));
        // Over-long values are cut inside their fields, always terminated.
        const QByteArray cut =
            qcNoconOption::setRequest(QString(40, '1'), QString(40, 'm'), "", "", "u", QString(40, 'p'), 0);
        QCOMPARE(cut.mid(224, 20), QByteArray(19, 'p') + QByteArray(1, '\0'));
        QCOMPARE(cut.mid(244, 24), QByteArray(23, 'm') + QByteArray(1, '\0'));
        QCOMPARE(cut.mid(276, 16), QByteArray(15, '1') + QByteArray(1, '\0'));
    }

    void setResults_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<bool>("noMagic");
        QTest::addColumn<int>("code");
        QTest::newRow("200") << "1234" << QByteArray() << false << 31;
        QTest::newRow("401") << "wrong" << QByteArray() << false << 47;
        QTest::newRow("empty") << "1234" << QByteArray("empty") << false << 47;
        QTest::newRow("no magic") << "1234" << QByteArray() << true << 47;
    }
    void setResults()
    {
        QFETCH(QString, password);
        QFETCH(QByteArray, status);
        QFETCH(bool, noMagic);
        QFETCH(int, code);
        DiscoveryResponder::Faults f;
        f.setStatus = status;
        f.noMagic = noMagic;
        f.replies = 2; // the repeat from the same sender counts for nothing
        responder->setFaults(f);
        Run run(responder->port());
        run.option->addSetRequest("127.0.0.9", "00:11:22:33:44:55", "255.0.0.0", "127.0.0.1", "admin", password, 2);
        run.option->addSetRequest("127.0.0.9", "00:11:22:33:44:55", "255.0.0.0", "127.0.0.1", "admin", password, 2);
        run.option->startSetIp();
        QTRY_COMPARE(responder->received().size(), 2);
        QTRY_VERIFY(!run.results.isEmpty());
        QTest::qWait(200);
        QCOMPARE(run.results, (QVector<QVector<int>>{{code, 1, 2}}));
    }

    void lifecycle()
    {
        Run empty(responder->port());
        empty.option->startSetIp();
        QVERIFY(!empty.option->isRunning());

        Run run(responder->port());
        run.option->startSearch();
        QVERIFY(run.option->isRunning());
        run.option->queryNetInfo("x");
        QTRY_COMPARE(run.devices.size(), 2);
        QTest::qWait(100);
        QCOMPARE(responder->received().size(), 2);
        QVERIFY(run.configs.isEmpty());
        QVERIFY(run.option->stopOption());

        // A stopped object sends its search once more and ends without reading.
        responder->clearReceived();
        run.option->startSearch();
        QVERIFY(run.option->wait(1000));
        QTRY_COMPARE(responder->received().size(), 2);
        QTest::qWait(100);
        QCOMPARE(run.devices.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestDiscovery)
#include "tst_discovery.moc"
