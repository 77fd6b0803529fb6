#include "servicethread.h"
#include "streamfakes.h"

#include "device/qcaudiocapture.h"
#include "devicesim/device.h"
#include "devicesim/protocols.h"
#include "devicesim/streamrouter.h"
#include "devicesim/talksink.h"
#include "media/qcframebuffer.h"
#include "media/qcstreamserver.h"
#include "media/qcstreamutil.h"
#include "platform/clock.h"
#include "tests/support/lumpinput.h"
#include "tests/support/systemlog.h"
#include "tests/support/threads.h"
#include "tests/support/watchdog.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

using namespace mediatest;
using namespace streamfakes;

namespace {

const QString kP2P = QStringLiteral("LOOPP2P");
const QString kVarar = QStringLiteral("VARAR");

// (address, status) pairs of sigDeviceStatus for one address.
QList<int> statusesOf(const QSignalSpy &spy, const QString &ip)
{
    QList<int> out;
    for (const auto &args : spy)
        if (args.at(0).toString() == ip)
            out << args.at(1).toInt();
    return out;
}

std::unique_ptr<devicesim::Device> startDevice(const char *address, const QString &password = "1234")
{
    auto device = std::make_unique<devicesim::Device>();
    device->setCredentials("admin", password);
    device->setSubject("systime", kSystime);
    if (!device->start(QHostAddress(QString(address)), 0))
        return nullptr;
    return device;
}

int clockPosts(const devicesim::Device &device)
{
    int n = 0;
    for (const auto &r : device.requests())
        n += r.method == "POST" && r.path == "/action/set" && r.key == "systime";
    return n;
}

} // namespace

class TestStreamServer : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        platform::setClock(nullptr);
        for (auto &slot : g_p2pStreams)
            slot = nullptr;
    }

    void contextIdsAreNeverReused()
    {
        qcStreamServer server;
        QCOMPARE(server.addDevice("P2P-A", "0", "a", "u", "p", kP2P, 1), 102);
        QCOMPARE(server.addDevice("P2P-B", "0", "b", "u", "p", kP2P, 2), 103);
        QCOMPARE(server.addDevice("P2P-C", "0", "c", "u", "p", kP2P, 3), 104);
        QCOMPARE(server.addDevice("P2P-B", "0", "b", "u", "p", kP2P, 9), -1);
        QVERIFY(server.removeDevice("P2P-B"));
        QVERIFY(!server.removeDevice("P2P-B"));
        QCOMPARE(server.addDevice("P2P-D", "0", "d", "u", "p", kP2P, 4), 105);
        QCOMPARE(server.addDevice("P2P-B", "0", "b", "u", "p", kP2P, 2), 106);
    }

    void frameBuffersOnlyOnceStarted()
    {
        P2PFactoryScope factory;
        qcStreamServer server;
        server.addDevice("P2P-A", "0", "a", "u", "p", kP2P, 1);
        QCOMPARE(server.getMainFrameBuffer("P2P-A"), nullptr);
        QCOMPARE(server.getSubFrameBuffer("P2P-A"), nullptr);
        server.tick();
        QVERIFY(server.getMainFrameBuffer("P2P-A"));
        QVERIFY(server.getSubFrameBuffer("P2P-A") != server.getMainFrameBuffer("P2P-A"));
        QCOMPARE(server.getMainFrameBuffer("P2P-X"), nullptr);

        qcStreamUtil *unit = server.unitFor("P2P-A");
        feed(unit, 1, streamInfo(640, 360, 5, 30, true, 1, 16000, 1), KindStreamInfo);
        qcStreamServer::VideoInfo video{};
        qcStreamServer::AudioInfo audio{};
        quint8 decoder = 9;
        QVERIFY(server.getStreamInfo("P2P-A", 1, &video, &audio, &decoder));
        QCOMPARE((QList<int>{video.codec, video.width, video.frameRate, audio.codec, audio.sampleRate, audio.channels,
                             decoder}),
                 (QList<int>{174, 640, 30, 1, 16000, 2, 0}));
        QVERIFY(!server.getStreamInfo("P2P-A", 1, &video, nullptr, &decoder));
        QVERIFY(!server.getStreamInfo("P2P-X", 0, &video, &audio, &decoder));

        // A lost stream takes the buffers out of reach until the next tick.
        factory.last->status(StatusLost);
        QCoreApplication::processEvents();
        QCOMPARE(server.getMainFrameBuffer("P2P-A"), nullptr);
        server.tick();
        QVERIFY(server.getMainFrameBuffer("P2P-A"));
    }

    void modifyFindsByIndexAndRefusesATakenAddress()
    {
        qcStreamServer server;
        server.addDevice("127.0.0.1", "1", "a", "u", "p", kVarar, 11);
        server.addDevice("127.0.0.9", "1", "b", "u", "p", kVarar, 12);
        QSignalSpy status(&server, &qcStreamServer::sigDeviceStatus);
        QVERIFY(!server.modifyDevice(99, "127.0.0.3", "1", "x", "u", "p"));
        QCOMPARE(status.count(), 0);
        QVERIFY(!server.modifyDevice(11, "127.0.0.9", "1", "x", "u", "p"));
        QCOMPARE(status.count(), 0);
        QCOMPARE(server.unitFor("127.0.0.1")->deviceIndex(), 11);

        server.unitFor("127.0.0.1")->setOnline(true);
        QVERIFY(server.modifyDevice(11, "127.0.0.3", "2", "x", "u2", "p2"));
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0), (QVariantList{"127.0.0.3", 3}));
        qcStreamUtil *unit = server.unitFor("127.0.0.3");
        QVERIFY(unit);
        QVERIFY(!unit->isOnline());
        QCOMPARE(unit->contextId(), 102);
        QCOMPARE(unit->userName(), QString("u2"));
        QCOMPARE(server.unitFor("127.0.0.1"), nullptr);
        // Its own address again is no conflict.
        QVERIFY(server.modifyDevice(11, "127.0.0.3", "2", "y", "u2", "p3"));
    }

    void pollsComeOnTicks19And40And61()
    {
        P2PFactoryScope factory;
        qcStreamServer server;
        server.addDevice("P2P-A", "0", "a", "u", "p", kP2P, 1);
        QSignalSpy status(&server, &qcStreamServer::sigDeviceStatus);
        QList<int> pollTicks;
        for (int tick = 1; tick <= 61; ++tick) {
            const int before = status.count();
            server.tick();
            if (status.count() > before)
                pollTicks << tick;
            if (tick == 30)
                factory.last->connected = true;
        }
        QCOMPARE(pollTicks, QList<int>({19, 40, 61}));
        // P2P devices are never probed: their state is the front end's.
        QCOMPARE(statusesOf(status, "P2P-A"), QList<int>({0, 3, 0, 1, 0, 1}));
        QCOMPARE(server.requestCount(), 0);
    }

    void configurationBounds_data()
    {
        QTest::addColumn<QList<int>>("values");
        QTest::newRow("duration 59") << QList<int>{59, 0, 0, 0, 5, 30, 1, 1};
        QTest::newRow("duration 601") << QList<int>{601, 0, 0, 0, 5, 30, 1, 1};
        QTest::newRow("pre 4") << QList<int>{60, 4, 0, 0, 5, 30, 1, 1};
        QTest::newRow("post 4") << QList<int>{60, 0, 4, 0, 5, 30, 1, 1};
        QTest::newRow("stream 2") << QList<int>{60, 0, 0, 2, 5, 30, 1, 1};
        QTest::newRow("reserved 51") << QList<int>{60, 0, 0, 0, 51, 30, 1, 1};
        QTest::newRow("keep 366") << QList<int>{60, 0, 0, 0, 5, 366, 1, 1};
        QTest::newRow("count 0") << QList<int>{60, 0, 0, 0, 5, 30, 0, 1};
        QTest::newRow("count 11") << QList<int>{60, 0, 0, 0, 5, 30, 11, 1};
        QTest::newRow("interval 31") << QList<int>{60, 0, 0, 0, 5, 30, 1, 31};
    }
    void configurationBounds()
    {
        QFETCH(QList<int>, values);
        QTemporaryDir dir;
        qcStreamServer server;
        QVERIFY(!server.setLocalConfig(dir.path() + "/r", dir.path() + "/s", values[0], values[1], values[2], values[3],
                                       values[4], values[5], values[6], values[7]));
        QCOMPARE(server.recordDuration(), 0);
        QCOMPARE(server.recordRoot(), QString());
        QVERIFY(!QFile::exists(dir.path() + "/r"));
    }

    // "Nothing will be recorded" reaches the operator: once per folder that
    // cannot be made, however often the settings are saved, and again after
    // the folders could be made in between.
    void unmadeFolderLoggedOnce_data()
    {
        QTest::addColumn<bool>("recordFails");
        QTest::newRow("record folder") << true;
        QTest::newRow("snapshot folder") << false;
    }
    void unmadeFolderLoggedOnce()
    {
        QFETCH(bool, recordFails);
        testsupport::SystemLog log;
        QVERIFY(log.run.isValid());
        const QString good = log.run.filePath("ok");
        const QString bad = "/proc/no-such/" + QString(recordFails ? "rec" : "snap");
        const QString unmade = bad + (recordFails ? "/RecordFile" : "/CaptureFile");
        qcStreamServer server;
        auto configure = [&](bool fail) {
            const QString r = fail && recordFails ? bad : good;
            const QString s = fail && !recordFails ? bad : good;
            return server.setLocalConfig(r, s, 60, 0, 0, 0, 5, 0, 1, 1);
        };
        QVERIFY(configure(false));
        QVERIFY(configure(true));
        QVERIFY(configure(true));
        QCOMPARE(server.recordRoot(), QString());
        QStringList events = log.abnormal();
        QCOMPARE(events,
                 QStringList{"record folder failed||" + unmade +
                             " cannot be made: nothing will be recorded and no snapshot taken until the folders "
                             "can be made"});
        QVERIFY(configure(false));
        QCOMPARE(server.recordRoot(), good + "/RecordFile");
        QVERIFY(configure(true));
        events = log.abnormal();
        QCOMPARE(events.size(), 2);
        QCOMPARE(events[1], events[0]);
    }

    void configurationMakesTheFolders()
    {
        QTemporaryDir dir;
        qcStreamServer server;
        QVERIFY(server.setLocalConfig(dir.path() + "/r", dir.path() + "/s/t", 600, 3, 3, 1, 50, 365, 10, 30));
        QCOMPARE(server.recordRoot(), dir.path() + "/r/RecordFile");
        QCOMPARE(server.captureRoot(), dir.path() + "/s/t/CaptureFile");
        QVERIFY(QFileInfo(dir.path() + "/s/t/CaptureFile").isDir());
        QCOMPARE(server.recordDuration(), 600);

        // An unwritable place is accepted, but nothing will be recorded.
        QVERIFY(server.setLocalConfig("/proc/no-such/rec", dir.path() + "/s", 60, 0, 0, 0, 0, 0, 1, 1));
        QCOMPARE(server.recordRoot(), QString());
        QCOMPARE(server.captureRoot(), QString());
        QCOMPARE(server.recordDuration(), 60);
    }

    void formatChangeEndsTheRecordingUnreported()
    {
        P2PFactoryScope factory;
        RecorderFactoryScope recorders;
        qcStreamServer server;
        server.addDevice("P2P-0", "0", "o", "u", "p", kP2P, 2); // passed over by the change
        server.addDevice("P2P-A", "0", "a", "u", "p", kP2P, 1);
        server.tick();
        qcStreamUtil *unit = server.unitFor("P2P-A");
        const QByteArray first = streamInfo(640, 360), second = streamInfo(1280, 720);
        feed(unit, 0, first, KindStreamInfo);
        QVERIFY(unit->startRecord(".", "file", 28, 1, 1800, 0, 0, true));
        QSignalSpy results(&server, &qcStreamServer::sigRecordResult);
        QSignalSpy changes(&server, &qcStreamServer::sigDeviceMetainfoChange);
        bool stoppedFirst = false;
        auto probe = connect(&server, &qcStreamServer::sigDeviceMetainfoChange, this,
                             [&] { stoppedFirst = !unit->isRecording() && ScriptedRecorder::alive == 0; });
        // The sub stream is recorded, so only the service's own check stops it.
        feed(unit, 1, first, KindStreamInfo);
        feed(unit, 1, second, KindStreamInfo);
        QTRY_COMPARE(changes.count(), 1);
        QCOMPARE(changes.at(0), (QVariantList{"P2P-A", 1}));
        QVERIFY(stoppedFirst);
        disconnect(probe);
        QTest::qWait(20);
        QCOMPARE(results.count(), 0);

        // A reported recording is passed on.
        QVERIFY(unit->startRecord(".", "file2", 26, 0, 60, 0, 0, true));
        QVERIFY(server.isRecording());
        QVERIFY(unit->stopRecord(true));
        QTRY_COMPARE(results.count(), 1);
        QCOMPARE(results.at(0), QVariantList({"P2P-A", "file2", 26}));
        QVERIFY(!server.isRecording());
    }

    void talkGoesToOneDeviceAtATime()
    {
        P2PFactoryScope factory;
        qcStreamServer server;
        server.setMicrophoneFactory([] { return new qcAudioCapture(nullptr, std::make_unique<ToneAudioInput>()); });
        server.addDevice("P2P-A", "0", "a", "u", "p", kP2P, 1);
        server.tick();
        FakeP2PStream *a = factory.last;
        server.addDevice("P2P-B", "0", "b", "u", "p", kP2P, 2);
        server.tick();
        FakeP2PStream *b = factory.last;

        QVERIFY(server.startIntercom("P2P-B"));
        QVERIFY(server.microphone());
        QVERIFY(server.startIntercom("P2P-A"));
        QCOMPARE(b->talkStops, 1);
        QVERIFY(server.unitFor("P2P-A")->isTalking());
        QVERIFY(!server.unitFor("P2P-B")->isTalking());

        // The unit's answer is the caller's answer.
        b->talkResult = false;
        QVERIFY(!server.startIntercom("P2P-B"));
        QCOMPARE(a->talkStops, 1);
        QVERIFY(!server.startIntercom("P2P-X"));

        b->talkResult = true;
        QVERIFY(server.startIntercom("P2P-B"));
        QVERIFY(!server.stopIntercom(""));
        QCOMPARE(b->talkStops, 2);
        QVERIFY(!server.unitFor("P2P-B")->isTalking());
        QVERIFY(server.stopIntercom("P2P-A"));
        QVERIFY(!server.stopIntercom("P2P-X"));
    }

    void talkSendersAreHandedOver()
    {
        std::shared_ptr<devicesim::TalkSink> sinks[2];
        std::unique_ptr<devicesim::Device> devices[2];
        const char *addresses[2] = {"127.0.0.32", "127.0.0.33"};
        qcStreamServer server;
        for (int i = 0; i < 2; ++i) {
            devices[i] = std::make_unique<devicesim::Device>();
            devices[i]->setCredentials("admin", "1234");
            sinks[i] = std::make_shared<devicesim::TalkSink>(*devices[i]);
            devices[i]->registerHandler("/action/stream", std::make_shared<devicesim::StreamRouter>(nullptr, sinks[i]));
            QVERIFY(devices[i]->start(QHostAddress(QString(addresses[i])), 0));
            server.addDevice(addresses[i], QString::number(devices[i]->port()), "t", "admin", "1234", kVarar, i);
        }
        std::atomic<int> suspends{0}, resumes{0};
        int made = 0;
        server.setMicrophoneFactory([&] {
            ++made;
            return new qcAudioCapture(nullptr, std::make_unique<CountingTone>(&suspends, &resumes));
        });

        QVERIFY(server.startIntercom("127.0.0.32"));
        QTRY_VERIFY(sinks[0]->record().frames > 0);
        QVERIFY(server.startIntercom("127.0.0.33"));
        QVERIFY(!server.unitFor("127.0.0.32")->isTalking());
        QTRY_VERIFY(sinks[0]->record().peerClosed);
        QTRY_VERIFY(sinks[1]->record().frames > 0);
        QCOMPARE(made, 1);
        QCOMPARE(resumes.load(), 1);

        QVERIFY(!server.stopIntercom(""));
        QVERIFY(!server.unitFor("127.0.0.33")->isTalking());
        QCOMPARE(suspends.load(), 1);
        QTRY_VERIFY(sinks[1]->record().peerClosed);
        server.shutdown();
    }

    // A talk the operator stops leaves an end record only when it lost more
    // than a moment, with what it lost; the next talk counts afresh. The
    // microphone's clock is the test's: a lump of 1 s, read 2,150 ms on, has
    // lost everything older than 950 ms (its delay of 1 s and the budget).
    void lossyTalkEndsOnce()
    {
        testsupport::SystemLog log;
        devicesim::Device device;
        device.setCredentials("admin", "1234");
        auto sink = std::make_shared<devicesim::TalkSink>(device);
        device.registerHandler("/action/stream", std::make_shared<devicesim::StreamRouter>(nullptr, sink));
        QVERIFY(device.start(QHostAddress(QStringLiteral("127.0.0.32")), 0));
        qcStreamServer server;
        server.addDevice("127.0.0.32", QString::number(device.port()), "t", "admin", "1234", kVarar, 0);
        std::atomic<qint64> now{0};
        const AudioClock clock = [&now] { return now.load(); };
        server.setMicrophoneFactory([&] {
            auto *capture = new qcAudioCapture(nullptr, std::make_unique<testsupport::LumpInput>(1000, clock));
            capture->setClock(clock);
            return capture;
        });
        auto talkEvents = [&] { return log.abnormal().filter(QRegularExpression("^talk ")); };
        for (int talk = 0; talk < 2; ++talk) {
            sink->reset();
            QVERIFY(server.startIntercom("127.0.0.32"));
            QTRY_COMPARE_WITH_TIMEOUT(sink->record().opening.size(), 44, 10000);
            now += 1000;
            QTRY_VERIFY(sink->record().frames >= 1);
            if (talk == 0)
                now += 1150;
            QVERIFY(server.stopIntercom("127.0.0.32"));
            QTRY_VERIFY(sink->record().peerClosed);
        }
        QCOMPARE(talkEvents(), QStringList{"talk ended|127.0.0.32|the talk ended; 910 ms of the microphone's sound "
                                           "did not reach the device"});
        server.shutdown();
    }

    void probeSetsStatusAndClock()
    {
        platform::FakeClock clock(QDateTime(QDate(2031, 5, 17), QTime(8, 9, 10)));
        platform::setClock(&clock);
        auto good = startDevice("127.0.0.21");
        auto refusing = startDevice("127.0.0.22", "other");
        QVERIFY(good && refusing);
        const QString closedPort = QString::number(good->port()); // nothing listens on .23
        qcStreamServer server;
        server.addDevice("127.0.0.21", QString::number(good->port()), "g", "admin", "1234", kVarar, 1);
        server.addDevice("127.0.0.22", QString::number(refusing->port()), "r", "admin", "1234", kVarar, 2);
        server.addDevice("127.0.0.23", closedPort, "u", "admin", "1234", kVarar, 3);
        QSignalSpy status(&server, &qcStreamServer::sigDeviceStatus);

        auto poll = [&] {
            const int before = status.count();
            for (int i = 0; i < 21 && status.count() == before; ++i)
                server.tick();
            QTRY_COMPARE_WITH_TIMEOUT(status.count(), before + 6, 8000);
        };
        poll();
        QCOMPARE(statusesOf(status, "127.0.0.21"), QList<int>({0, 1}));
        QCOMPARE(statusesOf(status, "127.0.0.22"), QList<int>({0, 2}));
        QCOMPARE(statusesOf(status, "127.0.0.23"), QList<int>({0, 3}));
        QVERIFY(server.unitFor("127.0.0.21")->isOnline());
        QVERIFY(!server.unitFor("127.0.0.22")->isOnline());

        QTRY_COMPARE(clockPosts(*good), 1);
        QCOMPARE(clockPosts(*refusing), 0);
        for (const auto &r : good->requests())
            if (r.method == "POST") {
                QVERIFY2(r.body.contains("<request><systime><mode>0</mode><datetime>2031-05-17T08:09:10"
                                         "</datetime><dst><active>0</active></dst></systime></request>"),
                         r.body.constData());
                QCOMPARE(r.user, QString("admin"));
            }

        poll();
        QTest::qWait(100);
        QCOMPARE(clockPosts(*good), 1);

        // A failure in between: the next good answer sets the clock again.
        good->addFault("get:systime", devicesim::Fault::status(500), 1);
        poll();
        QCOMPARE(statusesOf(status, "127.0.0.21").mid(4), QList<int>({0, 3}));
        QVERIFY(!server.unitFor("127.0.0.21")->isOnline());
        poll();
        QCOMPARE(statusesOf(status, "127.0.0.21").mid(6), QList<int>({0, 1}));
        QTRY_COMPARE(clockPosts(*good), 2);

        // The 12-hour run sets the clock of every device reached by address.
        clock.advance(1000);
        server.clockRun();
        QTRY_COMPARE(clockPosts(*good), 3);
        QTRY_COMPARE(clockPosts(*refusing), 1);
        server.shutdown();
    }
    void shutdownEndsEverythingPromptly()
    {
        devicesim::Device streaming; // answers both streams and holds the frames back
        streaming.setCredentials("admin", "1234");
        const auto protocols = devicesim::installProtocols(streaming, qEnvironmentVariable("ARDO_CLIPS_DIR"));
        protocols.live->setStalled(true);
        QVERIFY(streaming.start(QHostAddress("127.0.0.1"), 0));
        auto hanging = startDevice("127.0.0.24");
        QVERIFY(hanging);
        hanging->addFault("get:systime", devicesim::Fault::silent());
        const QStringList threadsBefore = testsupport::threadIds();
        {
            ServiceThread service;
            service.server->addDevice("127.0.0.1", QString::number(streaming.port()), "s", "admin", "1234", kVarar, 1);
            service.server->addDevice("127.0.0.24", QString::number(hanging->port()), "h", "admin", "1234", kVarar, 2);
            service.tick(19);
            QTRY_COMPARE(protocols.live->connections(), 2);
            QVERIFY(hanging->waitFor(
                [](const QList<devicesim::LoggedRequest> &log) {
                    for (const auto &r : log)
                        if (r.key == "systime")
                            return true;
                    return false;
                },
                5000));
            QCOMPARE(service.server->requestCount(), 2);
            testsupport::Watchdog watchdog(5000, "ending the service"); // a probe that never answers holds no one
            service.end();
        }
        QTRY_VERIFY2(testsupport::leftOver(threadsBefore).isEmpty(),
                     qPrintable(testsupport::leftOver(threadsBefore).join(' ')));
    }

    void addDeviceIsNotHeldUpByRemovalOrProbe()
    {
        P2PFactoryScope factory;
        RecorderFactoryScope recorders;
        recorders.configure = [](ScriptedRecorder *r) { r->windUpMs = 600; };
        auto hanging = startDevice("127.0.0.25");
        QVERIFY(hanging);
        hanging->addFault("get:systime", devicesim::Fault::silent());
        ServiceThread service;
        qcStreamServer *server = service.server;
        server->addDevice("P2P-SLOW", "0", "s", "admin", "pw", kP2P, 1);
        server->addDevice("127.0.0.25", QString::number(hanging->port()), "h", "admin", "1234", kVarar, 2);
        service.tick(19);
        QTRY_COMPARE(server->requestCount(), 1);
        QVERIFY(server->unitFor("P2P-SLOW")->startRecord(".", "f", 28, 0, 1800, 0, 0, true));

        std::atomic<bool> removing{true};
        std::thread remover([&] {
            server->removeDevice("P2P-SLOW");
            removing = false;
        });
        QTRY_COMPARE(server->unitFor("P2P-SLOW"), nullptr);
        const int ctx = server->addDevice("127.0.0.26", "1", "n", "admin", "pw", kVarar, 3);
        const bool stillRemoving = removing;
        const int probing = server->requestCount();
        remover.join();
        QVERIFY(stillRemoving); // the recorder was still winding up
        QCOMPARE(probing, 1);   // and the probe still hanging
        QCOMPARE(ctx, 104);
        QCOMPARE(ScriptedRecorder::alive.load(), 0);
    }
};

QTEST_GUILESS_MAIN(TestStreamServer)
#include "tst_streamserver.moc"
