// The stream service on its own thread and real timers, against five loopback
// devices: three good ones, one that refuses the login and an address where
// nothing listens.

#include "devicesim/device.h"
#include "media/qcframebuffer.h"
#include "media/qcstreamserver.h"
#include "media/qcstreamutil.h"
#include "platform/clock.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

namespace {

const QString kType = QStringLiteral("VARAR");
const QStringList kGood = {"127.0.0.2", "127.0.0.3", "127.0.0.4"};
const QString kRefusing = QStringLiteral("127.0.0.5");
const QString kNobody = QStringLiteral("127.0.0.6");
const QStringList kAll = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6"};
const QByteArray kSystime =
    "<response><systime><mode>0</mode><datetime>2020-01-01T00:00:00</datetime></systime></response>";

struct StatusLog
{
    QMutex mutex;
    QMap<QString, QList<int>> byAddress;
    QList<int> of(const QString &ip)
    {
        QMutexLocker lock(&mutex);
        return byAddress.value(ip);
    }
};

int clockPosts(const devicesim::Device &device, QByteArray *body = nullptr)
{
    int n = 0;
    for (const auto &r : device.requests())
        if (r.method == "POST" && r.key == "systime") {
            ++n;
            if (body)
                *body = r.body;
        }
    return n;
}

} // namespace

class TestStreamServiceE2e : public QObject
{
    Q_OBJECT

    std::map<QString, std::unique_ptr<devicesim::Device>> m_devices;
    quint16 m_port = 0;
    platform::FakeClock m_clock{QDateTime(QDate(2030, 4, 2), QTime(13, 14, 15))};
    QThread m_thread;
    qcStreamServer *m_server = nullptr;
    StatusLog m_status;

    bool startDevices()
    {
        QStringList addresses = kGood;
        addresses << kRefusing;
        for (int attempt = 0; attempt < 5; ++attempt) {
            m_devices.clear();
            m_port = 0;
            bool all = true;
            for (const QString &ip : addresses) {
                auto d = std::make_unique<devicesim::Device>();
                d->setCredentials("admin", ip == kRefusing ? "not-yours" : "1234");
                d->setSubject("systime", kSystime);
                if (!d->start(QHostAddress(ip), m_port)) {
                    all = false;
                    break;
                }
                m_port = d->port();
                m_devices[ip] = std::move(d);
            }
            if (all)
                return true;
        }
        return false;
    }

private slots:
    void initTestCase()
    {
        platform::setClock(&m_clock);
        QVERIFY(startDevices());
        m_server = new qcStreamServer;
        connect(m_server, &qcStreamServer::sigDeviceStatus, this, [this](const QString &ip, int result) {
            QMutexLocker lock(&m_status.mutex);
            m_status.byAddress[ip] << result;
        }, Qt::DirectConnection);
        m_server->moveToThread(&m_thread);
        m_thread.start();
        int index = 1;
        for (const QString &ip : kAll)
            QVERIFY(m_server->addDevice(ip, QString::number(m_port), "cam " + ip, "admin", "1234", kType, index++)
                    > 0);
    }

    void devicesReachTheirStatus()
    {
        QElapsedTimer timer;
        timer.start();
        for (const QString &ip : kGood) {
            QTRY_VERIFY_WITH_TIMEOUT(m_status.of(ip).contains(1), 8000);
            QCOMPARE(m_status.of(ip).mid(0, 2), QList<int>({0, 1}));
        }
        qInfo() << "three devices logged in after" << timer.elapsed() << "ms";
        QTRY_COMPARE_WITH_TIMEOUT(m_status.of(kRefusing), QList<int>({0, 2}), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(m_status.of(kNobody), QList<int>({0, 3}), 5000);
        for (const QString &ip : kAll)
            qInfo().noquote() << ip << "status sequence" << m_status.of(ip);
    }

    void eachGoodDeviceHasItsClockSetOnce()
    {
        const QByteArray expected = "<request><systime><mode>0</mode><datetime>2030-04-02T13:14:15</datetime>"
                                    "<dst><active>0</active></dst></systime></request>";
        for (const QString &ip : kGood) {
            QByteArray body;
            QTRY_COMPARE(clockPosts(*m_devices[ip], &body), 1);
            QVERIFY2(body.contains(expected), body.constData());
            qInfo().noquote() << ip << "clock body" << body;
        }
        QCOMPARE(clockPosts(*m_devices[kRefusing]), 0);
    }

    void laterPollsRepeatTheStatusButNotTheClock()
    {
        // The second poll comes 6.3 s after the first.
        QTRY_VERIFY_WITH_TIMEOUT(m_status.of(kRefusing).size() >= 4, 9000);
        QCOMPARE(m_status.of(kRefusing).mid(0, 4), QList<int>({0, 2, 0, 2}));
        QTRY_VERIFY_WITH_TIMEOUT(m_status.of(kNobody).size() >= 4, 5000);
        QCOMPARE(m_status.of(kNobody).mid(0, 4), QList<int>({0, 3, 0, 3}));
        for (const QString &ip : kGood) {
            QTRY_VERIFY_WITH_TIMEOUT(m_status.of(ip).size() >= 4, 3000);
            QCOMPARE(m_status.of(ip).mid(0, 4), QList<int>({0, 1, 0, 1}));
            QCOMPARE(clockPosts(*m_devices[ip]), 1);
        }
    }

    void cleanupTestCase()
    {
        if (m_server) {
            QElapsedTimer timer;
            timer.start();
            QMetaObject::invokeMethod(m_server, "shutdown", Qt::BlockingQueuedConnection);
            m_thread.quit();
            QVERIFY(m_thread.wait(5000));
            qInfo() << "service ended in" << timer.elapsed() << "ms";
            delete m_server;
        }
        m_devices.clear();
        platform::setClock(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestStreamServiceE2e)
#include "tst_streamservice_e2e.moc"
