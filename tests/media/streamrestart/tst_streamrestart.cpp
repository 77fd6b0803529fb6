// A device that restarts at any moment of its streams (while the clients
// connect, while they read the answer, in the middle of a frame, during a
// probe) is streamed from again within one probe cycle; one that refuses the
// login is not asked again on every tick.

#include "servicethread.h"

#include "devicesim/device.h"
#include "devicesim/protocols.h"
#include "media/qcframebuffer.h"
#include "media/qcstreamserver.h"
#include "media/qcstreamutil.h"
#include "platform/clock.h"

#include <QRandomGenerator>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <dlfcn.h>

// While set, no socket can be made in this process (as when it has run out
// of file descriptors).
static std::atomic<bool> g_noSockets{false};

extern "C" int socket(int domain, int type, int protocol)
{
    using Socket = int (*)(int, int, int);
    static const auto real = reinterpret_cast<Socket>(dlsym(RTLD_NEXT, "socket"));
    if (g_noSockets.load()) {
        errno = EMFILE;
        return -1;
    }
    return real(domain, type, protocol);
}

namespace {

const QString kAddress = QStringLiteral("127.0.0.51");
constexpr int kRestarts = 50;
// One probe cycle and the tick that follows it, with room for a slow build.
constexpr int kProbeCycleMs = 21 * qcStreamServer::kTickMs;
constexpr int kRecoveryMs = kProbeCycleMs + 3000;

int requestsOf(const devicesim::Device &device, const QByteArray &what)
{
    int n = 0;
    for (const auto &r : device.requests())
        n += r.query.contains(what);
    return n;
}

} // namespace

class TestStreamRestart : public QObject
{
    Q_OBJECT

    std::unique_ptr<devicesim::Device> m_device;
    devicesim::Protocols m_protocols;
    quint16 m_port = 0;
    std::unique_ptr<mediatest::ServiceThread> m_service;
    qcStreamServer *m_server = nullptr;
    QByteArray m_frame = QByteArray(8 << 20, '\0');

    bool startDevice() { return m_device->start(QHostAddress(kAddress), m_port); }

    // The newest key picture of the buffer arrived at or after `sinceMs`
    // (local time of day, the clock the stream clients time frames by).
    bool picturesSince(qcFrameBuffer *buffer, qint64 sinceMs)
    {
        uint32_t length = 0, type = 0;
        uint64_t timestamp = 0;
        int64_t sequence = -1;
        return buffer &&
               buffer->readFrame(m_frame.data(), m_frame.size(), &length, &type, &timestamp, &sequence, -1, false,
                                 -1) &&
               type == 1 && qint64(timestamp) >= sinceMs;
    }

    bool bothStreamsSince(qint64 sinceMs)
    {
        qcStreamUtil *unit = m_server->unitFor(kAddress);
        return unit && picturesSince(unit->getMainFrameBuffer(), sinceMs) &&
               picturesSince(unit->getSubFrameBuffer(), sinceMs);
    }

    // Waits (processing events, as the page does) until the device logged
    // more than `before` requests containing `what`, or the bound ran out.
    bool waitForRequest(const QByteArray &what, int boundMs, int before)
    {
        QDeadlineTimer deadline(boundMs);
        while (requestsOf(*m_device, what) <= before && !deadline.hasExpired())
            QTest::qWait(1);
        return requestsOf(*m_device, what) > before;
    }
    bool waitForRequest(const QByteArray &what, int boundMs)
    {
        return waitForRequest(what, boundMs, requestsOf(*m_device, what));
    }

    // Brings the next probe forward: ticks the service as its timer does,
    // only without the pause between, until a tick has probed (the count of
    // ticks starts again), then waits until the device has the probe.
    bool probeNow()
    {
        const int before = requestsOf(*m_device, "subject=systime");
        for (int counted = m_server->pollCounter();;) {
            m_service->tick();
            const int now = m_server->pollCounter();
            if (now < counted)
                break;
            counted = now;
        }
        return waitForRequest("subject=systime", kRecoveryMs, before);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(qEnvironmentVariable("ARDO_CLIPS_DIR") + "/h264-1080p25.h264"),
                 "the clips fixture has not run");
        m_device = std::make_unique<devicesim::Device>();
        m_device->setCredentials("admin", "1234");
        m_device->setSubject("systime", mediatest::kSystime);
        m_protocols = devicesim::installProtocols(*m_device, qEnvironmentVariable("ARDO_CLIPS_DIR"));
        QVERIFY(startDevice());
        m_port = m_device->port();
        m_service = std::make_unique<mediatest::ServiceThread>();
        m_server = m_service->server;
        // Added from this thread, as the live page adds its devices from its own.
        QVERIFY(m_server->addDevice(kAddress, QString::number(m_port), "cam", "admin", "1234", "VARAR", 1) > 0);
        QTRY_VERIFY_WITH_TIMEOUT(bothStreamsSince(0), kRecoveryMs);
    }

    void restartsAtRandomMoments()
    {
        const quint32 seed = qEnvironmentVariableIsSet("ARDO_TEST_SEED")
                                 ? quint32(qEnvironmentVariableIntValue("ARDO_TEST_SEED"))
                                 : QRandomGenerator::global()->generate();
        qInfo() << "seed" << seed << "(ARDO_TEST_SEED repeats a run)";
        QRandomGenerator random(seed);
        for (int i = 0; i < kRestarts; ++i) {
            const int kind = i % 5;
            switch (kind) {
            case 0: // while pictures flow: between frames or in the middle of one
                QTest::qWait(random.bounded(800));
                break;
            case 2: // a client of the last start has sent its request and reads the answer
                waitForRequest("subject=liveplay", kRecoveryMs);
                QTest::qWait(random.bounded(3));
                break;
            case 4: // during a probe
                QVERIFY(probeNow());
                break;
            default: // 1 at once; 3 right after the last start, while the clients connect
                break;
            }
            m_device->stop();
            QTest::qWait(random.bounded(600));
            const qint64 back = platform::localMsecsOfDay();
            QVERIFY(startDevice());
            if (kind == 1 || kind == 2) // the next restart follows before pictures do
                continue;
            QTRY_VERIFY2_WITH_TIMEOUT(
                bothStreamsSince(back),
                qPrintable(QStringLiteral("no pictures after restart %1 (seed %2)").arg(i + 1).arg(seed)), kRecoveryMs);
        }
    }

    // While the process has no file descriptor to spare, the clients the
    // tick makes end at once, without a status. Once sockets can be made
    // again the tick must still replace them.
    void clientsThatEndedQuietlyAreReplaced()
    {
        g_noSockets = true;
        m_device->stop();
        QTest::qWait(4 * qcStreamServer::kTickMs);
        g_noSockets = false;
        const qint64 back = platform::localMsecsOfDay();
        QVERIFY(startDevice());
        QTRY_VERIFY_WITH_TIMEOUT(bothStreamsSince(back), kRecoveryMs);
    }

    // A device that refuses the login is asked for its streams at most once,
    // not on every tick (which can lock the account); once it takes the login
    // again, its next probe brings both streams back.
    void refusedLoginIsNotRetried()
    {
        const int before = requestsOf(*m_device, "subject=liveplay");
        m_device->setCredentials("admin", "not-yours");
        m_device->stop();
        QVERIFY(startDevice());
        QTRY_VERIFY_WITH_TIMEOUT(requestsOf(*m_device, "subject=liveplay") > before, kRecoveryMs);
        // Two probe cycles, refused too, ask for no stream.
        QVERIFY(probeNow());
        QVERIFY(probeNow());
        const int asked = requestsOf(*m_device, "subject=liveplay") - before;
        QVERIFY2(asked <= 2, qPrintable(QStringLiteral("%1 stream requests while refused").arg(asked)));

        m_device->setCredentials("admin", "1234");
        const qint64 back = platform::localMsecsOfDay();
        QVERIFY(probeNow());
        QTRY_VERIFY_WITH_TIMEOUT(bothStreamsSince(back), kRecoveryMs);
    }

    void cleanupTestCase()
    {
        m_service.reset();
        m_device.reset();
    }
};

QTEST_GUILESS_MAIN(TestStreamRestart)
#include "tst_streamrestart.moc"
