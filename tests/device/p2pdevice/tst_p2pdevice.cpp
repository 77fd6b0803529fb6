// The P2P device over the real layer against the loopback device.

#include <QtTest>

#include <condition_variable>
#include <mutex>

#include <memory>

#include "../p2pcommon/p2ptest.h"
#include "device/qcaudiocapture.h"
#include "platform/p2p/P2pApi.h"
#include "tests/support/watchdog.h"

using namespace devicesim;
using namespace p2ptest;

namespace {

constexpr int kIoCtrl = 7;
constexpr int kAuth = 4;
constexpr int kTalkAudio = 13;
constexpr int kTalkAccept = 11;
constexpr int kCloseChannel = 14;

QByteArray ptzPayload(int code, int param = 0)
{
    QByteArray p(8, '\0');
    p[0] = char(code);
    p[1] = char(param);
    return p;
}

// Video frames (kFrame) and statuses in the order they were handed over. The
// frame after the hold is armed is held inside its hand-over until released.
struct HandOverLog
{
    static constexpr int kFrame = -1;
    enum Hold { Off, Armed, Holding };
    std::mutex m;
    std::condition_variable cv;
    QList<int> events;
    Hold hold = Off;

    static int onVideo(int, const uchar *, int, quint64, void *user)
    {
        auto *l = static_cast<HandOverLog *>(user);
        std::unique_lock<std::mutex> lock(l->m);
        if (l->hold == Armed) {
            l->hold = Holding;
            l->cv.wait(lock, [l] { return l->hold != Holding; });
        }
        l->events.append(kFrame);
        return 0;
    }
    static int onStatus(int status, int, void *user)
    {
        auto *l = static_cast<HandOverLog *>(user);
        std::lock_guard<std::mutex> lock(l->m);
        l->events.append(status);
        return 0;
    }
    template <typename F>
    auto locked(F f)
    {
        std::lock_guard<std::mutex> lock(m);
        return f();
    }
    void release()
    {
        locked([&] { hold = Off; });
        cv.notify_all();
    }
};

// Whether the layer has seen a session of this process end from the far side.
bool layerSawALoss()
{
    for (int sid = 0; sid < p2p::kMaxSessions; ++sid)
        if (IOTC_Session_Check(sid, nullptr) == p2p::kErrSessionLost)
            return true;
    return false;
}

} // namespace

class TestP2pDevice : public QObject
{
    Q_OBJECT

    std::unique_ptr<P2pDevice> m_sim;
    Recorder m_rec;

    void startSim(const P2pMedia &media, const P2pFaults &faults = {})
    {
        m_sim.reset(new P2pDevice);
        m_sim->addIdentity(kUid, QStringLiteral("admin"), QStringLiteral("1234"), media, faults);
        QVERIFY(m_sim->start());
        p2p::Registry::add(kUid.toStdString(), m_sim->port());
    }

    // Opens that stream at the start (8 main, 9 sub; 0 none).
    std::unique_ptr<qcDeviceFromTutk> makeDevice(int stream = 8, const QString &uid = kUid)
    {
        std::unique_ptr<qcDeviceFromTutk> d(new qcDeviceFromTutk);
        m_rec.attach(d.get());
        d->setConnectParams(uid, QString(), QStringLiteral("admin"), QStringLiteral("1234"));
        if (stream)
            d->openStream(stream, 1);
        d->connectDevice();
        return d;
    }

    // Ends the device, then the loopback device, and starts both again.
    void restart(std::unique_ptr<qcDeviceFromTutk> &d, const P2pMedia &media, const P2pFaults &faults = {})
    {
        d.reset();
        m_rec.clear();
        startSim(media, faults);
        d = makeDevice();
    }

    bool waitVideo(int n, int ms = 5000)
    {
        return waitUntil([&] { return m_rec.videoCount() >= n; }, ms);
    }

    // IO-control types the device received in a session, in order.
    QList<quint32> ioOf(int session) { return m_sim->ioTypes(session); }

private slots:
    void initTestCase()
    {
        QVERIFY2(!h264Clip().isEmpty(), "clips missing (ARDO_CLIPS_DIR)");
        qcDeviceFromTutk::setDefaultTimings(shortTimings());
    }

    void cleanup()
    {
        m_sim.reset();
        p2p::Registry::clear();
        m_rec.clear();
        qcDeviceFromTutk::setDefaultTimings(shortTimings());
        QCOMPARE(p2p::stats().sessions, 0);
    }

    // An identifier one character too long is never dialled.
    void overlongIdentifierNeverConnects()
    {
        startSim(h264Media());
        {
            auto d = makeDevice(8, QStringLiteral("ARDOSIM00000000000012"));
            QVERIFY(waitUntil([&] { return m_rec.count(6) >= 3; }, 3000));
            QVERIFY(!d->isConnected());
        }
        QCOMPARE(m_sim->sessionsOpened(), 0);
    }

    // Every failed attempt gives its session back before the next one.
    void failedConnectsLeakNothing()
    {
        TutkTimings t = shortTimings();
        t.retryMs = 10;
        qcDeviceFromTutk::setDefaultTimings(t);
        static std::atomic<int> failures{0};
        static std::atomic<int> worst{0};
        failures = 0;
        worst = 0;
        qcDeviceFromTutk d;
        d.setStatusCallback(
            [](int status, int, void *) {
                if (status == 6) {
                    ++failures;
                    worst = std::max(worst.load(), p2p::stats().sessions);
                }
                return 0;
            },
            this);
        d.setConnectParams(QStringLiteral("NOSUCHDEVICE00000001"), QString(), QStringLiteral("admin"),
                           QStringLiteral("1234"));
        d.connectDevice();
        QVERIFY(waitUntil([&] { return failures >= 20; }, 5000));
        QCOMPARE(worst.load(), 0);
        d.disconnectDevice();
        QCOMPARE(p2p::stats().sessions, 0);
    }

    void sharedInitialisation()
    {
        const p2p::Stats before = p2p::stats();
        QVERIFY(!before.initialised);
        auto a = std::make_unique<qcDeviceFromTutk>();
        std::unique_ptr<qcDeviceFromTutk> b;
        std::thread other([&] { b = std::make_unique<qcDeviceFromTutk>(); });
        other.join();
        QCOMPARE(p2p::stats().initialiseCount, before.initialiseCount + 1);
        a.reset();
        QVERIFY(p2p::stats().initialised);
        b.reset();
        QVERIFY(!p2p::stats().initialised);
        QCOMPARE(p2p::stats().deinitialiseCount, before.deinitialiseCount + 1);
        qcDeviceFromTutk c;
        QVERIFY(p2p::stats().initialised);
        QCOMPARE(p2p::stats().initialiseCount, before.initialiseCount + 2);
    }

    void startSequence()
    {
        startSim(h264Media());
        auto d = makeDevice();
        QVERIFY(waitUntil([&] { return m_rec.count(11) == 1; }, 5000));
        QVERIFY(waitUntil([&] { return ioOf(1).size() >= 5; }, 2000));
        QCOMPARE(ioOf(1).mid(0, 5), (QList<quint32>{0x3000000E, 0xFF, 0x1FF, 0x300, 0x320}));
        QCOMPARE(m_rec.statusList().mid(0, 2), (QList<int>{7, 11}));
        QCOMPARE(m_sim->ioPayloads(0x1FF).value(0), QByteArray(8, '\0'));
        QCOMPARE(m_sim->ioPayloads(0xFF).value(0), QByteArray(2, '\0'));
        QCOMPARE(uchar(m_sim->ioPayloads(0x320).value(0).at(4)), uchar(2));
        QVERIFY(d->isConnected());
        QVERIFY(d->switchStream(9));
        QVERIFY(!d->switchStream(7));
        QVERIFY(waitUntil([&] { return m_sim->ioPayloads(0x320).size() == 2; }, 2000));
        QCOMPARE(uchar(m_sim->ioPayloads(0x320).value(1).at(4)), uchar(3));
        QVERIFY(!d->writeTalkData(reinterpret_cast<const uchar *>("x"), 1));
        QCOMPARE(d->protocolName(), QStringLiteral("TUTK"));

        // openStream(9) asks for the sub stream at the start.
        m_rec.clear();
        d.reset();
        auto sub = makeDevice(9);
        QVERIFY(waitUntil([&] { return m_sim->ioPayloads(0x320).size() == 3; }, 5000));
        QCOMPARE(uchar(m_sim->ioPayloads(0x320).value(2).at(4)), uchar(3));
    }

    void gating_data()
    {
        QTest::addColumn<int>("audio");
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("videoDelay");
        QTest::addColumn<int>("firstUnit");
        // Without audio: 21 frames of warm-up, then the next key frame.
        QTest::newRow("no audio") << int(P2pMedia::NoAudio) << 0 << 0 << 25;
        // Mid-GOP start: nothing before the first key frame, whose SPS gives the size.
        QTest::newRow("mid-GOP with audio") << int(P2pMedia::MuLaw) << 10 << 0 << 25;
        // Audio already accepted: the very first key frame goes out.
        QTest::newRow("audio first") << int(P2pMedia::MuLaw) << 0 << 300 << 0;
    }

    void gating()
    {
        QFETCH(int, audio);
        QFETCH(int, offset);
        QFETCH(int, videoDelay);
        QFETCH(int, firstUnit);
        P2pFaults f;
        f.startOffset = offset;
        f.videoDelayMs = videoDelay;
        startSim(h264Media(P2pMedia::Audio(audio)), f);
        auto d = makeDevice();
        P2pMediaInfo mi;
        QVERIFY(!d->getMediaInfo(8, &mi));
        QVERIFY(waitVideo(2));
        const QList<VideoFrame> frames = m_rec.frames();
        const auto units = m_sim->units(kUid);
        QCOMPARE(unitIndex(units, frames[0].data), firstUnit);
        QCOMPARE(frames[0].type, 0x20);
        QCOMPARE(unitIndex(units, frames[1].data), firstUnit + 1);
        QCOMPARE(frames[1].type, 0x22);
        if (audio != P2pMedia::NoAudio)
            QVERIFY(waitUntil([&] { return m_rec.audioCount() > 0; }, 2000));
        QCOMPARE(m_rec.audioCount() > 0, audio != P2pMedia::NoAudio);
    }

    void mediaInformation()
    {
        startSim(h264Media());
        auto d = makeDevice();
        QVERIFY(waitVideo(1));
        P2pMediaInfo mi;
        QVERIFY(d->getMediaInfo(8, &mi));
        QCOMPARE((QList<int>{mi.videoCodec, mi.width, mi.height, mi.frameRate, mi.audioCodec, mi.sampleRate,
                             mi.bitsPerSample, mi.channels}),
                 (QList<int>{17, 640, 368, 25, 20, 8000, 8, 1}));
        QVERIFY(d->getMediaInfo(9, &mi));
        QVERIFY(!d->getMediaInfo(10, &mi));
        P2pMedia g726 = h264Media(P2pMedia::G726);
        g726.g726 = clips::read("tone-g726-8k.raw");
        QVERIFY(g726.g726.size() > 1600);
        restart(d, g726);
        QVERIFY(waitVideo(1));
        QVERIFY(d->getMediaInfo(8, &mi));
        QCOMPARE(mi.audioCodec, 24);
    }

    void formatChanges()
    {
        // Size, then codec: each a status 13 and new media information.
        P2pFaults f;
        f.switchAfterFrames = 5;
        f.switchUnits = h264Small();
        startSim(h264Media(), f);
        auto d = makeDevice();
        QVERIFY(waitUntil([&] { return m_rec.count(13) == 1; }, 5000));
        P2pMediaInfo mi;
        QVERIFY(d->getMediaInfo(8, &mi));
        QCOMPARE((QList<int>{mi.width, mi.height}), (QList<int>{320, 240}));
        f.switchUnits = h265Clip();
        f.switchCodec = 80;
        restart(d, h264Media(), f);
        QVERIFY(waitUntil([&] { return m_rec.count(13) == 1; }, 5000));
        QVERIFY(d->getMediaInfo(8, &mi));
        QCOMPARE((QList<int>{mi.videoCodec, mi.width, mi.height}), (QList<int>{18, 640, 360}));
        // An unreadable SPS keeps the stored size; changed audio parameters give 13 and keep the old ones.
        P2pFaults z;
        z.zeroSpsAtKey = 1;
        z.audioChange = true;
        restart(d, h264Media(), z);
        QVERIFY(waitUntil([&] { return m_sim->videoFramesSent() >= 30; }, 5000));
        QVERIFY(waitUntil([&] { return m_rec.count(13) >= 1; }, 2000));
        QVERIFY(d->getMediaInfo(8, &mi));
        QCOMPARE((QList<int>{mi.width, mi.height, mi.channels}), (QList<int>{640, 368, 1}));
    }

    // Audio above 8 kHz is not handed on.
    void highRateAudio()
    {
        P2pMedia m = h264Media();
        m.audioRateIndex = 3; // 16 kHz
        startSim(m);
        auto d = makeDevice();
        QVERIFY(waitVideo(30, 6000));
        P2pMediaInfo mi;
        QVERIFY(d->getMediaInfo(8, &mi));
        QCOMPARE(mi.audioCodec, 16);
        QCOMPARE(m_rec.audioCount(), 0);
    }

    void videoStall()
    {
        TutkTimings t = shortTimings();
        t.videoIdleLimit = 10; // about 1 s instead of 6
        qcDeviceFromTutk::setDefaultTimings(t);
        P2pFaults f;
        f.stallAfterFrames = 30;
        f.stallMs = 1800;
        startSim(h264Media(P2pMedia::NoAudio), f);
        auto d = makeDevice();
        QVERIFY(waitUntil([&] { return m_rec.count(8) == 1; }, 6000));
        QVERIFY(!d->isConnected());
        const int before = m_rec.videoCount();
        QVERIFY(waitUntil([&] { return m_rec.videoCount() > before; }, 3000));
        QVERIFY(d->isConnected());
        QCOMPARE(m_sim->sessionsOpened(), 1);
    }

    void sessionLoss()
    {
        P2pFaults f;
        f.startOffset = 7; // every start is mid-GOP
        startSim(h264Media(), f);
        auto d = makeDevice();
        const auto units = m_sim->units(kUid);
        for (int loss = 1; loss <= 3; ++loss) {
            QVERIFY(waitVideo(3, 6000));
            m_rec.clear();
            m_sim->dropSessions();
            QVERIFY(waitUntil([&] { return m_rec.count(11) == 1; }, 5000));
            QCOMPARE(m_rec.statusList().mid(0, 3), (QList<int>{8, 7, 11}));
            // Frames of the old session may still have been handed out up to the restart.
            {
                std::lock_guard<std::mutex> l(m_rec.mutex);
                m_rec.video.clear();
            }
            QVERIFY(waitVideo(1, 6000));
            QVERIFY(units[unitIndex(units, m_rec.frames().first().data)].key);
            QCOMPARE(m_rec.frames().first().type, 0x20);
            // The old session was given back before the new one was taken.
            const p2p::Stats st = p2p::stats();
            QCOMPARE(st.sessions, 1);
            QCOMPARE(st.channels, 1);
        }
    }

    void skippedFramesAndPadding()
    {
        P2pFaults f;
        f.frameLostBefore = 28;
        f.hugeFrameAt = 29;
        f.hugeFrameSize = 3 << 20;
        startSim(h264Media(), f);
        auto d = makeDevice();
        QVERIFY(waitVideo(20, 6000));
        QCOMPARE(m_rec.count(8), 0);
        QCOMPARE(m_sim->sessionsOpened(), 1);
        // The 16 bytes behind every frame are zero, also after a long key frame.
        for (const VideoFrame &v : m_rec.frames())
            QCOMPARE(v.data.right(16), QByteArray(16, '\0'));
        // A frame that fills the receive buffer exactly is delivered whole.
        f = P2pFaults();
        f.hugeFrameAt = 30;
        f.hugeFrameSize = qcDeviceFromTutk::kVideoBufferBytes;
        restart(d, h264Media(), f);
        QVERIFY(waitUntil(
            [&] {
                for (const VideoFrame &v : m_rec.frames())
                    if (v.data.size() == qcDeviceFromTutk::kVideoBufferBytes + 16)
                        return true;
                return false;
            },
            5000));
    }

    void ptz()
    {
        startSim(h264Media());
        auto d = makeDevice(0);
        QVERIFY(waitUntil([&] { return d->isConnected(); }, 5000));
        const QList<QPair<int, int>> table = {{26, 1},  {27, 2},  {28, 3},  {29, 6},  {30, 4},  {31, 7},
                                              {32, 5},  {33, 8},  {34, 9},  {35, 35}, {36, 27}, {37, 24},
                                              {38, 23}, {39, 26}, {40, 25}, {16, 0}};
        d->ptzControl(17, 5);
        for (const auto &e : table)
            QVERIFY(d->ptzControl(e.first, 99));
        QVERIFY(waitUntil([&] { return m_sim->ioPayloads(0x1001).size() == table.size(); }, 5000));
        const QList<QByteArray> sent = m_sim->ioPayloads(0x1001);
        for (int i = 0; i < table.size(); ++i)
            QCOMPARE(sent[i], ptzPayload(table[i].second));

        // The text record is cut at 128 bytes (and not sent: nothing runs without a connection).
        qcDeviceFromTutk idle;
        idle.ptzControlText(26, 7, QString(300, QLatin1Char('x')));
        const QList<TutkIoCtrlRecord> queued = idle.pendingIoCtrl();
        QCOMPARE(queued.size(), 1);
        QCOMPARE(queued[0].text, QByteArray(128, 'x'));
        QCOMPARE(int(queued[0].value), 7);
        idle.ptzControlText(26, 7, QStringLiteral("ab"));
        QCOMPARE(idle.pendingIoCtrl()[1].text, QByteArray("ab") + QByteArray(126, '\0'));

        // A send on a lost session reports 8.
        m_sim->dropSessions();
        QTest::qWait(200);
        d->ptzControl(26, 0);
        QVERIFY(waitUntil([&] { return m_rec.count(8) == 1; }, 3000));
    }

    // A pan-tilt-zoom send that finds the session gone marks the loss as the
    // receivers do: a frame being handed over meanwhile lands before the
    // loss is told, none of the ended session follows it, and it is told once.
    void lossFoundByAPtzSend()
    {
        TutkTimings t = shortTimings();
        t.audioIdleLimit = 1; // no audio: its receiver ends at once and finds no loss
        qcDeviceFromTutk::setDefaultTimings(t);
        startSim(h264Media(P2pMedia::NoAudio));
        HandOverLog log;
        std::unique_ptr<qcDeviceFromTutk> d(new qcDeviceFromTutk);
        d->setVideoCallback(&HandOverLog::onVideo, &log);
        d->setStatusCallback(&HandOverLog::onStatus, &log);
        d->setConnectParams(kUid, QString(), QStringLiteral("admin"), QStringLiteral("1234"));
        d->openStream(8, 1);
        d->connectDevice();
        // A failed check lets the held frame go before the device is ended.
        const auto letGo = qScopeGuard([&] { log.release(); });
        const auto events = [&] { return log.locked([&] { return log.events; }); };
        QVERIFY(waitUntil([&] { return events().count(HandOverLog::kFrame) >= 3; }, 6000));

        // A frame's hand-over is held while the session ends and a send finds it.
        log.locked([&] { log.hold = HandOverLog::Armed; });
        QVERIFY(waitUntil([&] { return log.locked([&] { return log.hold == HandOverLog::Holding; }); }, 5000));
        const int handedOver = events().count(HandOverLog::kFrame);
        m_sim->dropSessions();
        QVERIFY(waitUntil(layerSawALoss, 5000));
        d->ptzControl(26, 0);
        QVERIFY(waitUntil([&] { return d->pendingIoCtrl().isEmpty(); }, 5000));
        // Told unlocked, the loss would come now, ahead of the held frame.
        waitUntil([&] { return events().contains(P2pLost); }, 2000);
        log.release();

        // The new session's connect ends the old session's hand-overs.
        const auto reconnected = [&] {
            const QList<int> e = events();
            const int lost = e.indexOf(P2pLost);
            return lost >= 0 && e.indexOf(P2pConnected, lost) > lost;
        };
        QVERIFY(waitUntil(reconnected, 10000));
        const QList<int> e = events();
        const int lost = e.indexOf(P2pLost);
        const QList<int> afterLoss = e.mid(lost, e.indexOf(P2pConnected, lost) - lost);
        QStringList order;
        for (int x : e)
            order << (x == HandOverLog::kFrame ? QStringLiteral("frame") : QString::number(x));
        QVERIFY2(!afterLoss.contains(HandOverLog::kFrame), qPrintable(order.join(' ')));
        QCOMPARE(afterLoss.count(P2pLost), 1);
        // The held frame landed before the loss (and frames the layer still
        // had may follow it until the loss is marked).
        QVERIFY(e.mid(0, lost).count(HandOverLog::kFrame) > handedOver);
    }

    void talk()
    {
        startSim(h264Media());
        auto d = makeDevice(0);
        QVERIFY(waitUntil([&] { return d->isConnected(); }, 5000));

        // Without a source the channel opens and stays silent.
        d->startTalk();
        QVERIFY(waitUntil([&] { return m_sim->eventIndex(kTalkAccept) >= 0; }, 3000));
        QTest::qWait(300);
        QCOMPARE(m_sim->talkFrames().size(), 0);

        qcAudioCapture capture(nullptr, std::make_unique<ToneAudioInput>(1000.0));
        QVERIFY(capture.startCapture());
        d->setMicSource(&capture);
        QVERIFY(waitUntil([&] { return m_sim->talkFrames().size() >= 25; }, 5000));
        d->stopTalk();
        QVERIFY(waitUntil([&] { return m_sim->ioPayloads(0x351).size() == 1; }, 3000));
        const QByteArray open = m_sim->ioPayloads(0x350).value(0);
        QCOMPARE(open, m_sim->ioPayloads(0x351).value(0));
        QCOMPARE(qFromLittleEndian<quint32>(open.constData()), 1u);
        const P2pEvent frame = m_sim->talkFrames().first();
        QCOMPARE((QList<int>{frame.payload.size(), frame.channel, qFromLittleEndian<quint16>(frame.info.constData()),
                             frame.info[2]}),
                 (QList<int>{640, 1, 140, 2}));
        QCOMPARE(m_sim->talkFrequency(), 1000);
        // The channel was ended before 0x351.
        const int closeAt = m_sim->eventIndex(kCloseChannel, 1);
        QVERIFY(closeAt >= 0 && closeAt < m_sim->eventIndex(kIoCtrl, -1, 0x351));
        capture.stopCapture();
    }

    void refusedTalkIsNotRepeatedAtOnce()
    {
        P2pFaults f;
        f.refuseTalk = true;
        startSim(h264Media(), f);
        auto d = makeDevice(0);
        QVERIFY(waitUntil([&] { return d->isConnected(); }, 5000));
        d->startTalk();
        QTest::qWait(2500);
        const int opens = m_sim->ioPayloads(0x350).size();
        QVERIFY2(opens >= 1 && opens <= 3, qPrintable(QString::number(opens)));
    }

    void closeAndCancel()
    {
        startSim(h264Media());
        auto d = makeDevice();
        QVERIFY(waitVideo(1));
        d->closeStream();
        QVERIFY(waitUntil([&] { return m_rec.count(11) == 2; }, 5000));
        QCOMPARE(m_sim->sessionsOpened(), 2);
        QVERIFY(waitUntil([&] { return ioOf(2).contains(0x1FF); }, 2000));

        QVERIFY(d->cancelOpen());
        d->closeStream();
        QVERIFY(waitUntil([&] { return m_sim->sessionsOpened() == 3 && m_rec.count(7) == 3; }, 5000));
        QTest::qWait(400);
        QVERIFY(!ioOf(3).contains(0x1FF));
    }

    void channelEndedAfterAuth()
    {
        P2pFaults f;
        f.endChannelAfterAuth = true;
        startSim(h264Media(), f);
        auto d = makeDevice();
        QVERIFY(waitUntil([&] { return m_rec.count(10) >= 1; }, 5000));
        QCOMPARE(m_rec.count(11), 0);
    }

    void newPasswordOnReconnect()
    {
        startSim(h264Media());
        auto d = makeDevice();
        QVERIFY(waitVideo(1));
        m_sim->setPassword(kUid, QStringLiteral("5678"));
        d->setConnectParams(kUid, QString(), QStringLiteral("admin"), QStringLiteral("5678"));
        m_sim->dropSessions();
        QVERIFY(waitUntil([&] { return m_rec.count(7) == 2; }, 5000));
        QByteArray lastAuth;
        for (const P2pEvent &e : m_sim->events())
            if (e.kind == kAuth)
                lastAuth = e.payload;
        QCOMPARE(lastAuth, QByteArray("admin\0"
                                      "5678\0",
                                      11));
    }

    void disconnectIsPrompt_data()
    {
        QTest::addColumn<QString>("state");
        QTest::newRow("retry pause") << "retry";
        QTest::newRow("no answer to AUTH") << "auth";
        QTest::newRow("no information reply") << "info";
        QTest::newRow("streaming") << "stream";
        QTest::newRow("talking") << "talk";
        QTest::newRow("talk channel never opened") << "talkwait";
    }

    void disconnectIsPrompt()
    {
        QFETCH(QString, state);
        qcDeviceFromTutk::setDefaultTimings(TutkTimings());
        P2pFaults f;
        f.neverAnswerAuth = state == "auth";
        f.neverAnswerInfo = state == "info";
        f.neverOpenTalk = state == "talkwait";
        startSim(h264Media(), f);
        qcAudioCapture capture(nullptr, std::make_unique<ToneAudioInput>(1000.0));
        auto d = makeDevice(8, state == "retry" ? QStringLiteral("NOSUCHDEVICE00000001") : kUid);
        if (state == "retry")
            QVERIFY(waitUntil([&] { return m_rec.count(6) == 1; }, 2000));
        else if (state == "auth" || state == "info")
            QVERIFY(waitUntil([&] { return m_sim->sessionsOpened() == 1; }, 2000));
        else
            QVERIFY(waitVideo(1, 6000));
        if (state == "talk" || state == "talkwait") {
            capture.startCapture();
            d->startTalk();
            d->setMicSource(&capture);
            QVERIFY(waitUntil([&] { return m_sim->ioPayloads(0x350).size() == 1; }, 3000));
            if (state == "talk")
                QVERIFY(waitUntil([&] { return m_sim->talkFrames().size() > 2; }, 3000));
        }
        QTest::qWait(200);
        const int before = m_rec.statusList().size();
        {
            testsupport::Watchdog watchdog(5000, "disconnectDevice");
            d->disconnectDevice();
        }
        QCOMPARE(m_rec.statusList().size(), before);
        QCOMPARE(p2p::stats().sessions, 0);
        if (state == "talk") {
            QVERIFY(waitUntil([&] { return m_sim->ioPayloads(0x351).size() == 1; }, 1000));
        }
        if (state == "stream")
            QVERIFY(waitUntil([&] { return m_sim->ioTypes().contains(0x2FF); }, 1000));
        capture.stopCapture();
    }
};

QTEST_GUILESS_MAIN(TestP2pDevice)
#include "tst_p2pdevice.moc"
