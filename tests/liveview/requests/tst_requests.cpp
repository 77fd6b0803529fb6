// The live page's device requests against the loopback device: which
// requests go out, how a request that has to make way ends, and which
// completions still count.

#include "app/core/cgiutil.h"
#include "liveview/qclivedevicerequests.h"
#include "livedevices.h"
#include "tests/devicesim/faults.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

using devicesim::Fault;
using Requests = qcLiveDeviceRequests;

namespace {

// Request threads carry their class's name.
int requestThreads()
{
    int n = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + "/comm"));
        n += comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "CGIUtil";
    }
    return n;
}

const QString kMove = "<request><ptzcmd><cmd>2</cmd><move><hori>0</hori><vert>0</vert></move></ptzcmd></request>";

} // namespace

class tst_Requests : public QObject
{
    Q_OBJECT
    std::unique_ptr<devicesim::Device> m_dev;
    std::unique_ptr<Requests> m_req;
    QByteArray m_ptz;

    void handOver(const QString &port = {}, const QString &user = "admin", const QString &password = "1234")
    {
        m_req->setDevice(m_dev->address().toString(), port.isNull() ? QString::number(m_dev->port()) : port, user,
                         password);
    }
    void startAll()
    {
        m_req->postPtzControl(kMove);
        m_req->requestPtzInfo();
        m_req->requestImageInfo();
        m_req->postImageSettings("<request><videoimage><brightness>1</brightness></videoimage></request>", false);
    }

private slots:
    void initTestCase()
    {
        m_dev = livedevices::start("127.0.0.2");
        QVERIFY(m_dev);
        m_ptz = m_dev->subject("ptz");
    }
    void init()
    {
        m_dev->clearFaults();
        m_dev->clearLog();
        m_req.reset(new Requests);
        handOver();
    }
    void cleanup() { m_req.reset(); }

    void addressKind_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("byAddress");
        QTest::addColumn<bool>("p2p");
        QTest::newRow("loopback") << "127.0.0.2" << true << false;
        QTest::newRow("four parts") << "1.2.3.4" << true << false;
        QTest::newRow("no range check") << "a.b.c.d" << true << false;
        QTest::newRow("three parts") << "1.2.3" << false << true;
        QTest::newRow("five parts") << "1.2.3.4.5" << false << true;
        QTest::newRow("identifier") << "ARDOSIM0000000000001" << false << true;
        QTest::newRow("empty") << "" << false << false;
    }
    void addressKind()
    {
        QFETCH(QString, address);
        QFETCH(bool, byAddress);
        QFETCH(bool, p2p);
        QCOMPARE(Requests::isAddressDevice(address), byAddress);
        m_req->setDevice(address, "80", "admin", "1234");
        QCOMPARE(m_req->isP2PDevice(), p2p);
    }

    void missingConnection_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::newRow("port") << QString("") << QString("admin") << QString("1234");
        QTest::newRow("user") << QString() << QString("") << QString("1234");
        QTest::newRow("password") << QString() << QString("admin") << QString("");
    }
    void missingConnection()
    {
        QFETCH(QString, port);
        QFETCH(QString, user);
        QFETCH(QString, password);
        handOver(port, user, password);
        QSignalSpy results(m_req.get(), &Requests::ptzResult);
        QSignalSpy infos(m_req.get(), &Requests::ptzInfoReady);
        startAll();
        QVERIFY(!m_dev->waitForRequests(1, 300));
        QCOMPARE(results.count() + infos.count(), 0);
    }

    // A PTZ command gets its grace before the stalled one is aborted; the
    // window never waits for the time-out.
    void ptzGraceThenAbort()
    {
        m_dev->addFault("ptz:ctrl", Fault::stall());
        QSignalSpy aborted(m_req.get(), &Requests::requestAborted);
        QVERIFY(m_req->postPtzControl(kMove));
        QVERIFY(m_dev->waitForRequests(1, 3000));
        QElapsedTimer blocked;
        blocked.start();
        QVERIFY(m_req->postPtzControl(kMove));
        const qint64 ms = blocked.elapsed();
        qInfo("id 7 start behind a stalled request blocked %lld ms (grace %d ms)", ms, Requests::kReplaceWaitMs);
        QVERIFY(ms < 3000);
        QCOMPARE(aborted.count(), 1);
        QVERIFY(m_dev->waitForRequests(2, 3000));
        const auto log = m_dev->requests();
        QVERIFY(log[0].arrival.msecsTo(log[1].arrival) >= Requests::kReplaceWaitMs - 50);
    }

    // An information request that is replaced is aborted at once: the device
    // sees its connection closed before the next request arrives.
    void infoAbortsAtOnce_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("fault");
        QTest::newRow("ptz") << int(Requests::GetPtzId) << "get:ptz";
        QTest::newRow("videoimage") << int(Requests::GetImageId) << "get:videoimage";
    }
    void infoAbortsAtOnce()
    {
        QFETCH(int, id);
        QFETCH(QString, fault);
        m_dev->addFault(fault, Fault::stall());
        QSignalSpy aborted(m_req.get(), &Requests::requestAborted);
        auto start = [&] { return id == Requests::GetPtzId ? m_req->requestPtzInfo() : m_req->requestImageInfo(); };
        QVERIFY(start());
        QVERIFY(m_dev->waitForRequests(1, 3000));
        QElapsedTimer blocked;
        blocked.start();
        QVERIFY(start());
        qInfo("id %d start behind a stalled request blocked %lld ms", id, blocked.elapsed());
        QCOMPARE(aborted.count(), 1);
        QCOMPARE(aborted[0][0].toInt(), id);
        QVERIFY(m_dev->waitForRequests(2, 3000));
        const auto log = m_dev->requests();
        bool closedFirst = false;
        for (const devicesim::ConnectionEvent &e : m_dev->connectionLog())
            closedFirst |= !e.open && e.peerPort == log[0].peerPort && e.time <= log[1].arrival;
        QVERIFY(closedFirst);
    }

    void imageSettingsDelayed()
    {
        m_dev->addFault("set:videoimage", Fault::delay(800));
        auto body = [](int v) { return QByteArray("<request><b>") + QByteArray::number(v) + "</b></request>"; };
        QVERIFY(m_req->postImageSettings(body(1), false));
        QVERIFY(!m_req->postImageSettings(body(2), false));
        QVERIFY(m_req->postImageSettings(body(3), true));
        QVERIFY(m_dev->waitForRequests(2, 5000));
        QVERIFY(!m_dev->waitForRequests(3, 300));
        QVERIFY(m_dev->requests().at(1).body.contains("<b>3</b>"));
    }

    // Only an HTTP 200 reply kept whole, for the device still selected, counts.
    void usableReplies_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("used");
        QTest::newRow("ok") << "" << true;
        QTest::newRow("404") << "404" << false;
        QTest::newRow("500 with body") << "status:500" << false;
        QTest::newRow("garbage") << "garbage" << false;
        QTest::newRow("500 KB") << "large:512000" << false;
        QTest::newRow("not UTF-8") << "utf8" << false;
        QTest::newRow("another subject") << "subject" << false;
    }
    void usableReplies()
    {
        QFETCH(QString, fault);
        QFETCH(bool, used);
        if (fault == "utf8") {
            m_dev->setSubject("ptz", "<response><ptz><speed>2</speed><addr>\xb5</addr></ptz></response>");
        } else if (fault == "subject") {
            m_dev->setSubject("ptz", "<response><videoimage><speed>2</speed></videoimage></response>");
        } else if (!fault.isEmpty()) {
            Fault f;
            int times = 0;
            QString error;
            QVERIFY2(Fault::parse(fault, &f, &times, &error), qPrintable(error));
            m_dev->addFault("get:ptz", f);
        }
        QSignalSpy infos(m_req.get(), &Requests::ptzInfoReady);
        QSignalSpy failed(m_req.get(), &Requests::infoFailed);
        QVERIFY(m_req->requestPtzInfo());
        QTRY_VERIFY(!m_req->request(Requests::GetPtzId)->isRunning());
        QCoreApplication::processEvents();
        QCOMPARE(infos.count(), used ? 1 : 0);
        QCOMPARE(failed.count(), used ? 0 : 1);
        m_dev->setSubject("ptz", m_ptz);
    }

    // A PTZ control reached its device when the device answered it, with
    // whatever status; a stop that did not is reported for the device it
    // was meant for.
    void controlDelivery_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("delivered");
        QTest::newRow("answered") << "" << true;
        QTest::newRow("refused") << "500" << true;
        QTest::newRow("dropped") << "drop" << false;
        QTest::newRow("nobody there") << "gone" << false;
        QTest::newRow("refused for its account") << "401" << false;
        QTest::newRow("forbidden to its account") << "403" << false;
    }
    void controlDelivery()
    {
        QFETCH(QString, fault);
        QFETCH(bool, delivered);
        if (fault == "gone")
            m_req->setDevice("127.0.0.9", QString::number(m_dev->port()), "admin", "1234");
        else if (!fault.isEmpty())
            m_dev->addFault("ptz:ctrl", fault == "drop" ? Fault::drop() : Fault::status(fault.toInt()));
        const Requests::Target target = m_req->target();
        QSignalSpy ended(m_req.get(), &Requests::ptzControlEnded);
        const QString stop =
            "<request><ptzcmd><cmd>0</cmd><move><hori>0</hori><vert>0</vert></move></ptzcmd></request>";
        QVERIFY(m_req->postPtzControl(stop, Requests::OpStop));
        handOver(); // another view selected meanwhile
        QTRY_COMPARE(ended.count(), 1);
        QVERIFY(ended[0][0].value<Requests::Target>().sameDevice(target));
        QCOMPARE(ended[0][1].toInt(), int(Requests::OpStop));
        QCOMPARE(ended[0][2].toString(), stop);
        QCOMPARE(ended[0][3].toBool(), delivered);
        QCOMPARE(ended[0].value(4).toBool(), fault.startsWith("40"));
    }

    // A device deleted while the stop owed to it goes ahead of a control
    // gets neither: what answers at its address is not that camera.
    void stopsAheadOfADeletedDevice()
    {
        const QString stop =
            "<request><ptzcmd><cmd>0</cmd><move><hori>0</hori><vert>0</vert></move></ptzcmd></request>";
        // No answer at all: a stall's status line may reach the client before
        // the deletion, and then the camera did take the stop.
        m_dev->addFault("ptz:ctrl", Fault::silent(), 1);
        connect(m_req.get(), &Requests::ptzControlStarting, this, [this, stop] { m_req->sendAhead(stop); });
        QSignalSpy ended(m_req.get(), &Requests::ptzControlEnded);
        const Requests::Target target = m_req->target();
        QVERIFY(m_req->postPtzControl(kMove));
        QVERIFY(m_dev->waitForRequests(1, 5000));
        m_req->listedDeviceDeleted(livedevices::record("camA", *m_dev));
        QVERIFY(!m_req->ptzRunningTo(target));
        QCOMPARE(ended.count(), 1); // the control, not delivered; the stop stays as owed as it was
        QCOMPARE(ended[0][2].toString(), kMove);
        QVERIFY(!ended[0][3].toBool());
        QVERIFY(!m_dev->waitForRequests(2, 300));
    }

    // A set the device accepted stays accepted when a move replaces it.
    void acceptedSetOutlivesItsObject()
    {
        QSignalSpy results(m_req.get(), &Requests::ptzResult);
        QVERIFY(m_req->postPresetSet(4, "<request><ptzcmd><cmd>4098</cmd></ptzcmd></request>"));
        QTRY_VERIFY(!m_req->request(Requests::PtzId)->isRunning());
        QVERIFY(m_req->postPtzControl(kMove));
        QTRY_COMPARE(results.count(), 1);
        const auto ticket = results[0][0].value<Requests::Ticket>();
        QCOMPARE(ticket.op, int(Requests::OpSet));
        QCOMPARE(ticket.row, 4);
        QCOMPARE(results[0][1].toInt(), 0);
    }

    void destroyWhileAllStall()
    {
        // An earlier case's request thread may not have left /proc/self/task
        // yet (see below): count from none.
        QTRY_COMPARE(requestThreads(), 0);
        m_dev->addFault("*", Fault::stall());
        startAll();
        QVERIFY(m_dev->waitForRequests(4, 5000));
        QCOMPARE(requestThreads(), 4);
        QElapsedTimer blocked;
        blocked.start();
        m_req.reset();
        qInfo("destruction with four stalled requests blocked %lld ms", blocked.elapsed());
        QVERIFY(blocked.elapsed() < 5000);
        // QThread::wait() returns before its detached thread has left
        // /proc/self/task; a thread still running stays after the wait.
        QTRY_COMPARE(requestThreads(), 0);
        QTRY_COMPARE(m_dev->openConnections([](const devicesim::LoggedRequest &) { return true; }), 0);
    }
};

QTEST_MAIN(tst_Requests)
#include "tst_requests.moc"
