// The stream service on its own thread and real timers, against five loopback
// devices: three good ones, one that refuses the login and an address where
// nothing listens.

#include "devicesim/device.h"
#include "devicesim/protocols.h"
#include "media/qcframebuffer.h"
#include "media/qcstreamserver.h"
#include "media/qcstreamutil.h"
#include "platform/clock.h"

#include <QElapsedTimer>
#include <QFile>
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

bool isStream(const devicesim::LoggedRequest &r, int stream)
{
    return r.query.contains("subject=liveplay") && r.query.contains("stream=" + QByteArray::number(stream));
}

int streamRequests(const devicesim::Device &device, int stream)
{
    int n = 0;
    for (const auto &r : device.requests())
        n += isStream(r, stream);
    return n;
}

int openStreams(const devicesim::Device &device, int stream)
{
    return device.openConnections([stream](const devicesim::LoggedRequest &r) { return isStream(r, stream); });
}

int threadCount()
{
    QFile f("/proc/self/status");
    f.open(QIODevice::ReadOnly);
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("Threads:"))
            return line.mid(8).trimmed().toInt();
    return -1;
}

// The newest key frame: it must open with an Annex-B start code and an SPS.
bool keyFrameStartsWithSps(qcFrameBuffer *buffer)
{
    QByteArray dst(8388608, '\0');
    uint32_t length = 0, type = 0;
    uint64_t ts = 0;
    int64_t seq = -1;
    if (!buffer->readFrame(dst.data(), dst.size(), &length, &type, &ts, &seq, -1, false, -1) || type != 1)
        return false;
    const QByteArray f = dst.left(int(length));
    const int at = f.startsWith(QByteArray("\0\0\0\1", 4)) ? 4 : f.startsWith(QByteArray("\0\0\1", 3)) ? 3 : -1;
    return at > 0 && f.size() > at && (uchar(f[at]) & 0x1F) == 7;
}

} // namespace

class TestStreamServiceE2e : public QObject
{
    Q_OBJECT

    struct Sim
    {
        std::unique_ptr<devicesim::Device> device;
        devicesim::Protocols protocols;
    };
    std::map<QString, Sim> m_sims;
    quint16 m_port = 0;
    platform::FakeClock m_clock{QDateTime(QDate(2030, 4, 2), QTime(13, 14, 15))};
    QThread m_thread;
    qcStreamServer *m_server = nullptr;
    StatusLog m_status;
    int m_threadsBefore = 0;

    devicesim::Device &dev(const QString &ip) { return *m_sims[ip].device; }

    bool startDevices()
    {
        QStringList addresses = kGood;
        addresses << kRefusing;
        for (int attempt = 0; attempt < 5; ++attempt) {
            m_sims.clear();
            m_port = 0;
            bool all = true;
            for (const QString &ip : addresses) {
                Sim sim;
                sim.device = std::make_unique<devicesim::Device>();
                sim.device->setCredentials("admin", ip == kRefusing ? "not-yours" : "1234");
                sim.device->setSubject("systime", kSystime);
                sim.protocols = devicesim::installProtocols(*sim.device, qEnvironmentVariable("ARDO_CLIPS_DIR"));
                if (!sim.device->start(QHostAddress(ip), m_port)) {
                    all = false;
                    break;
                }
                m_port = sim.device->port();
                m_sims[ip] = std::move(sim);
            }
            if (all)
                return true;
        }
        return false;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(qEnvironmentVariable("ARDO_CLIPS_DIR") + "/h264-1080p25.h264"),
                 "the clips fixture has not run");
        platform::setClock(&m_clock);
        QVERIFY(startDevices());
        m_threadsBefore = threadCount();
        m_server = new qcStreamServer;
        connect(
            m_server, &qcStreamServer::sigDeviceStatus, this,
            [this](const QString &ip, int result) {
                QMutexLocker lock(&m_status.mutex);
                m_status.byAddress[ip] << result;
            },
            Qt::DirectConnection);
        m_server->moveToThread(&m_thread);
        m_thread.start();
        int index = 1;
        for (const QString &ip : kAll)
            QVERIFY(m_server->addDevice(ip, QString::number(m_port), "cam " + ip, "admin", "1234", kType, index++) > 0);
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
            QTRY_COMPARE(clockPosts(dev(ip), &body), 1);
            QVERIFY2(body.contains(expected), body.constData());
            qInfo().noquote() << ip << "clock body" << body;
        }
        QCOMPARE(clockPosts(dev(kRefusing)), 0);
        // The next probe of the first device fails once.
        dev(kGood[0]).addFault("get:systime", devicesim::Fault::status(500), 1);
    }

    void bothStreamsOfEachGoodDeviceAreBuffered()
    {
        for (const QString &ip : kGood) {
            qcFrameBuffer *main = nullptr, *sub = nullptr;
            QTRY_VERIFY((main = m_server->getMainFrameBuffer(ip)) && (sub = m_server->getSubFrameBuffer(ip)));
            QTRY_COMPARE(main->capacity(), 8294400u);
            QTRY_COMPARE(sub->capacity(), 921600u);
            QTRY_VERIFY(main->frameCount() > 5 && sub->frameCount() > 5);
            const int mainBefore = main->frameCount(), subBefore = sub->frameCount();
            QTRY_VERIFY(main->frameCount() > mainBefore && sub->frameCount() > subBefore);
            QVERIFY(keyFrameStartsWithSps(main));
            QVERIFY(keyFrameStartsWithSps(sub));
            qInfo().noquote() << ip << "main buffer" << main->capacity() << "bytes," << main->frameCount()
                              << "frames; sub buffer" << sub->capacity() << "bytes," << sub->frameCount() << "frames";
            for (int stream : {0, 1}) {
                qcStreamServer::VideoInfo video{};
                qcStreamServer::AudioInfo audio{};
                quint8 decoder = 7;
                QVERIFY(m_server->getStreamInfo(ip, stream, &video, &audio, &decoder));
                QCOMPARE(video.codec, 28);
                QCOMPARE(video.frameRate, 25);
                QCOMPARE(video.width, stream == 0 ? 1920 : 640);
                QCOMPARE(audio.codec, 0);
                QCOMPARE(audio.sampleRate, 8000);
                QCOMPARE(audio.channels, 1);
                QCOMPARE(decoder, quint8(0));
            }
        }
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
            QCOMPARE(m_status.of(ip).mid(0, 4), QList<int>({0, 1, 0, ip == kGood[0] ? 3 : 1}));
            QCOMPARE(clockPosts(dev(ip)), 1);
        }
    }

    void droppedMainStreamIsReopened()
    {
        const QString ip = kGood[0];
        devicesim::Device &d = dev(ip);
        const int mainBefore = streamRequests(d, 0), subBefore = streamRequests(d, 1);
        QCOMPARE(openStreams(d, 1), 1);
        QElapsedTimer timer;
        m_sims[ip].protocols.live->closeConnections(0);
        timer.start();
        QTRY_COMPARE_WITH_TIMEOUT(streamRequests(d, 0), mainBefore + 1, 3000);
        qInfo() << ip << "main stream reopened" << timer.elapsed() << "ms after the device dropped it";
        // The connection is noticed as lost at once; then one tick and a connect.
        QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(streamRequests(d, 1), subBefore);
        QCOMPARE(openStreams(d, 1), 1);
        qcFrameBuffer *main = nullptr;
        QTRY_VERIFY((main = m_server->getMainFrameBuffer(ip)) && main->frameCount() > 5);
    }

    void formatChangeIsSignalled()
    {
        const QString ip = kGood[0];
        QSignalSpy changes(m_server, &qcStreamServer::sigDeviceMetainfoChange);
        m_sims[ip].protocols.live->switchClip(0, "h264-240p25.h264", 320, 240);
        QTRY_COMPARE(changes.count(), 1);
        QCOMPARE(changes.at(0).at(0).toString(), ip);
        QCOMPARE(changes.at(0).at(1).toInt(), 0);
        QCOMPARE(m_server->getMainFrameBuffer(ip)->capacity(), 307200u);
        qInfo() << ip << "main stream now 320x240, buffer" << m_server->getMainFrameBuffer(ip)->capacity();
    }

    void removedDeviceClosesItsStreams()
    {
        const QString ip = kGood[1];
        devicesim::Device &d = dev(ip);
        QCOMPARE(openStreams(d, 0) + openStreams(d, 1), 2);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(m_server->removeDevice(ip));
        QTRY_COMPARE_WITH_TIMEOUT(openStreams(d, 0) + openStreams(d, 1), 0, 2000);
        qInfo() << ip << "removed; both connections closed after" << timer.elapsed() << "ms";
        QCOMPARE(m_server->getMainFrameBuffer(ip), nullptr);
        QCOMPARE(m_server->getSubFrameBuffer(ip), nullptr);

        const int before = streamRequests(d, 0) + streamRequests(d, 1);
        const int ctx = m_server->addDevice(ip, QString::number(m_port), "again", "admin", "1234", kType, 9);
        QCOMPARE(ctx, 107);
        QTRY_COMPARE_WITH_TIMEOUT(openStreams(d, 0) + openStreams(d, 1), 2, 3000);
        QCOMPARE(streamRequests(d, 0) + streamRequests(d, 1), before + 2);
    }

    void newPasswordReopensBothStreams()
    {
        const QString ip = kGood[2];
        devicesim::Device &d = dev(ip);
        d.setCredentials("admin", "fresh");
        QVERIFY(m_server->modifyDevice(3, ip, QString::number(m_port), "cam", "admin", "fresh"));
        const QByteArray auth = "Basic " + QByteArray("admin:fresh").toBase64();
        auto fresh = [&] {
            int n = 0;
            for (const auto &r : d.requests())
                n += (isStream(r, 0) || isStream(r, 1)) && r.header("Authorization") == auth && r.authorized;
            return n;
        };
        QTRY_COMPARE_WITH_TIMEOUT(fresh(), 2, 3000);
        QTRY_VERIFY(m_server->getMainFrameBuffer(ip) && m_server->getMainFrameBuffer(ip)->frameCount() > 0);
    }

    void deviceAnsweringAgainGetsItsClockSetAgain()
    {
        const QString ip = kGood[0];
        QTRY_VERIFY_WITH_TIMEOUT(m_status.of(ip).size() >= 6, 8000);
        QCOMPARE(m_status.of(ip).mid(0, 6), QList<int>({0, 1, 0, 3, 0, 1}));
        QTRY_COMPARE(clockPosts(dev(ip)), 2);
        qInfo().noquote() << ip << "status sequence" << m_status.of(ip) << "and" << clockPosts(dev(ip))
                          << "clock settings";
    }

    // A device that refuses the login is asked for its streams once, not on
    // every tick; once it takes the login, its next probe brings the streams.
    void refusedLoginIsNotRetried()
    {
        devicesim::Device &d = dev(kRefusing);
        const int probes = m_status.of(kRefusing).size();
        const int main = streamRequests(d, 0), sub = streamRequests(d, 1);
        QVERIFY2(main <= 1 && sub <= 1, qPrintable(QStringLiteral("%1 and %2 stream requests").arg(main).arg(sub)));
        // Two more probe cycles (status 0 and 2 each) ask for no stream.
        QTRY_VERIFY_WITH_TIMEOUT(m_status.of(kRefusing).size() >= probes + 4, 15000);
        QCOMPARE(streamRequests(d, 0), main);
        QCOMPARE(streamRequests(d, 1), sub);

        d.setCredentials("admin", "1234");
        QTRY_VERIFY_WITH_TIMEOUT(m_status.of(kRefusing).endsWith(1), 8000);
        qcFrameBuffer *buffer = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((buffer = m_server->getMainFrameBuffer(kRefusing)) && buffer->frameCount() > 0 &&
                                     m_server->getSubFrameBuffer(kRefusing)->frameCount() > 0,
                                 3000);
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
            m_server = nullptr;
            QTRY_COMPARE(threadCount(), m_threadsBefore);
        }
        m_sims.clear();
        platform::setClock(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestStreamServiceE2e)
#include "tst_streamservice_e2e.moc"
