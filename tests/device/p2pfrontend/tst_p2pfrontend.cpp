// The P2P stream front end over a fake device and a clock held by hand.

#include <QSignalSpy>
#include <QtTest>

#include <cmath>

#include "device/qccommonstream.h"
#include "device/streamclock.h"
#include "platform/clock.h"
#include "tests/support/soundbeside.h"

namespace {

QString g_lastDevice;

struct FakeDevice : CameraDevice
{
    QStringList trail;
    QString protocol = QStringLiteral("TUTK");
    bool infoAvailable = true;
    P2pMediaInfo info{17, 640, 368, 25, 20, 8000, 8, 1};
    P2pVideoCallback video = nullptr;
    P2pAudioCallback audio = nullptr;
    P2pStatusCallback status = nullptr;
    void *user = nullptr;
    QStringList params;
    QList<int> ptz;
    QList<int> streamsOpened;
    int closes = 0, cancels = 0, disconnects = 0, talkStarts = 0, talkStops = 0;
    bool connectResult = true;

    bool setConnectParams(const QString &uid, const QString &port, const QString &account,
                          const QString &password) override
    {
        params = QStringList{uid, port, account, password};
        return true;
    }
    bool getMediaInfo(int stream, P2pMediaInfo *out) override
    {
        if (!infoAvailable || stream != 8)
            return false;
        *out = info;
        return true;
    }
    bool connectDevice() override { return connectResult; }
    bool openStream(int stream, int) override
    {
        streamsOpened.append(stream);
        return true;
    }
    bool switchStream(int) override { return true; }
    bool closeStream() override
    {
        ++closes;
        return true;
    }
    bool setVideoCallback(P2pVideoCallback fn, void *u) override
    {
        video = fn;
        user = u;
        return true;
    }
    bool setAudioCallback(P2pAudioCallback fn, void *) override
    {
        audio = fn;
        return true;
    }
    bool setStatusCallback(P2pStatusCallback fn, void *) override
    {
        status = fn;
        return true;
    }
    ~FakeDevice() override { g_lastDevice = trail.join(' '); }
    bool cancelOpen() override
    {
        ++cancels;
        trail << "cancel";
        return true;
    }
    void disconnectDevice() override
    {
        ++disconnects;
        trail << "disconnect";
    }
    bool isConnected() override { return true; }
    bool ptzControl(int command, int) override
    {
        ptz.append(command);
        return true;
    }
    bool ptzControlText(int, int, const QString &) override { return true; }
    bool setOption(int, int, const QString &) override { return true; }
    QString protocolName() override { return protocol; }
    bool startTalk() override
    {
        ++talkStarts;
        return true;
    }
    bool stopTalk() override
    {
        ++talkStops;
        return true;
    }
    bool writeTalkData(const uchar *, int) override { return false; }

    void frame(bool key, quint64 ts, const QByteArray &bytes = QByteArray(40, 'v'))
    {
        video(key ? kP2pKeyFrame : kP2pOtherFrame, reinterpret_cast<const uchar *>(bytes.constData()), bytes.size(), ts,
              user);
    }
    void sound(quint64 ts, const QByteArray &bytes = "aaaa")
    {
        audio(reinterpret_cast<const uchar *>(bytes.constData()), bytes.size(), ts, user);
    }
};

struct Delivery
{
    int tag;
    int kind;
    int subkind;
    qint64 ts;
    QByteArray data;
};

QList<Delivery> g_log;

void sinkA(const unsigned char *data, int length, int kind, int subkind, qint64 ts, void *user)
{
    g_log.append(
        {*static_cast<int *>(user), kind, subkind, ts, QByteArray(reinterpret_cast<const char *>(data), length)});
}

void sinkB(const unsigned char *data, int length, int kind, int subkind, qint64 ts, void *user)
{
    sinkA(data, length, kind, subkind, ts, user);
}

QByteArray streamInfo(quint32 flags, quint16 w, quint16 h, quint32 video, quint16 rate, quint32 audio)
{
    QByteArray b(20, '\0');
    qToLittleEndian(flags, b.data());
    qToLittleEndian(w, b.data() + 4);
    qToLittleEndian(h, b.data() + 6);
    qToLittleEndian(video, b.data() + 8);
    qToLittleEndian(rate, b.data() + 12);
    qToLittleEndian(audio, b.data() + 16);
    return b;
}

} // namespace

class TestP2pFrontend : public QObject
{
    Q_OBJECT

    FakeDevice *m_fake = nullptr;
    int m_made = 0;
    platform::FakeClock m_clock;
    int m_tagA = 1, m_tagB = 2, m_tagC = 3;

    void setTime(qint64 msOfDay)
    {
        m_clock.set(QDateTime(QDate(2024, 5, 1), QTime::fromMSecsSinceStartOfDay(int(msOfDay))));
    }

    std::unique_ptr<qcCommonStream> opened(const QString &protocol = QStringLiteral("TUTK"))
    {
        std::unique_ptr<qcCommonStream> s(new qcCommonStream(QStringLiteral("ARDOSIM0000000000001"), QString(),
                                                             QStringLiteral("admin"), QStringLiteral("1234"),
                                                             protocol));
        s->setClock(&m_clock);
        s->addDataCallback(sinkA, &m_tagA);
        if (!s->openDevice(3) || !s->setCallbacks())
            return nullptr;
        return s;
    }

private slots:
    void init()
    {
        m_fake = nullptr;
        m_made = 0;
        g_log.clear();
        setTime(36000000);
        qcCommonStream::setDeviceFactory([this](const QString &protocol) -> CameraDevice * {
            ++m_made;
            if (protocol != QLatin1String(kP2pProtocolName))
                return nullptr;
            m_fake = new FakeDevice;
            return m_fake;
        });
    }

    void cleanupTestCase() { qcCommonStream::setDeviceFactory({}); }

    void opening()
    {
        qcCommonStream s(QStringLiteral("UID1"), QStringLiteral("80"), QStringLiteral("u"), QStringLiteral("p"),
                         QStringLiteral("TUTK"));
        QCOMPARE(s.getDeviceId(), QString());
        QVERIFY(!s.isConnected());
        QVERIFY(!s.setCallbacks());
        QVERIFY(!s.stopTalk());
        QVERIFY(s.cancelOpen());
        QVERIFY(!s.openDevice(2));
        QCOMPARE(m_made, 0);
        QVERIFY(s.openDevice(3));
        QCOMPARE(m_fake->params, (QStringList{"UID1", "80", "u", "p"}));
        QCOMPARE(s.getDeviceId(), QStringLiteral("UID1"));
        QVERIFY(!s.openDevice(3));
        QCOMPARE(m_made, 1);
        QVERIFY(s.setCallbacks());
        QCOMPARE(m_fake->streamsOpened, QList<int>{8});

        qcCommonStream other(QStringLiteral("UID2"), QString(), QString(), QString(), QStringLiteral("VARAR"));
        QVERIFY(!other.openDevice(3));
        QCOMPARE(other.getDeviceId(), QString());
        // The default factory knows only the P2P protocol.
        QVERIFY(!qcCommonStream::makeDefaultDevice(QStringLiteral("VARAR")));

        FakeDevice *dev = m_fake;
        s.setConnectInfo(QStringLiteral("UID1"), QString(), QStringLiteral("u"), QStringLiteral("new"),
                         QStringLiteral("TUTK"));
        QCOMPARE(dev->params.value(3), QStringLiteral("new"));

        // An owner that retries registers the same pair again: accepted, nothing changes.
        int tag = 0;
        qcCommonStream fresh(QStringLiteral("UID3"), QString(), QString(), QString(), QStringLiteral("TUTK"));
        QVERIFY(fresh.addDataCallback(sinkA, &tag));
        QVERIFY(fresh.openDevice(3));
        QVERIFY(fresh.addDataCallback(sinkA, &tag));
    }

    void callbackRegistration()
    {
        qcCommonStream s(QStringLiteral("UID1"), QString(), QString(), QString(), QStringLiteral("TUTK"));
        s.setClock(&m_clock);
        QVERIFY(!s.addDataCallback(nullptr, &m_tagA));
        QVERIFY(!s.addDataCallback(sinkA, nullptr));
        QVERIFY(s.addDataCallback(sinkA, &m_tagA));
        QVERIFY(s.addDataCallback(sinkA, &m_tagC));
        QVERIFY(s.addDataCallback(sinkB, &m_tagB));
        QVERIFY(s.openDevice(3) && s.setCallbacks());
        m_fake->infoAvailable = false;
        m_fake->frame(true, 1000);
        QCOMPARE(g_log.size(), 2);
        const bool aFirst = std::less<StreamDataCallback>()(sinkA, sinkB);
        QCOMPARE(g_log[0].tag, aFirst ? m_tagC : m_tagB);
        QCOMPARE(g_log[1].tag, aFirst ? m_tagB : m_tagC);
    }

    void ptzAndTalk()
    {
        auto s = opened();
        QVERIFY(s);
        const QList<int> ids = {16, 10, 11, 12, 13, 14, 15, 32, 33, 34, 35, 36, 39};
        for (int id : ids)
            QVERIFY(s->ptzControl(id));
        QCOMPARE(m_fake->ptz, (QList<int>{26, 27, 28, 29, 30, 31, 32, 33, 38, 37, 39, 40, 35}));
        QVERIFY(!s->ptzControl(17));
        QCOMPARE(m_fake->ptz.size(), ids.size());
        QVERIFY(s->stopPtz());
        QCOMPARE(m_fake->ptz.last(), 16);

        QVERIFY(s->startTalk(nullptr));
        QCOMPARE(m_fake->talkStarts, 1);
        QVERIFY(s->stopTalk());
        m_fake->protocol = QStringLiteral("VARAR");
        QVERIFY(!s->startTalk(nullptr));
        QCOMPARE(m_fake->talkStarts, 1);

        qcCommonStream none(QStringLiteral("U"), QString(), QString(), QString(), QStringLiteral("TUTK"));
        QVERIFY(!none.startTalk(nullptr));
        QVERIFY(!none.ptzControl(16));
        QVERIFY(!none.stopPtz());

        // Destruction cancels, then disconnects, then frees the device.
        g_lastDevice.clear();
        s.reset();
        QCOMPARE(g_lastDevice, QStringLiteral("cancel disconnect"));
    }

    void statusMap()
    {
        auto s = opened();
        QSignalSpy spy(s.get(), &qcCommonStream::sigConnectStatus);
        for (int st : {6, 7, 8, 10, 11, 13, 4})
            m_fake->status(st, 0, m_fake->user);
        QList<int> got;
        for (const auto &args : spy)
            got.append(args.at(0).toInt());
        QCOMPARE(got, (QList<int>{130, 131, 129, 129}));
        QCOMPARE(m_fake->status(7, 0, nullptr), -1);
    }

    void streamInformation_data()
    {
        QTest::addColumn<int>("videoCodec");
        QTest::addColumn<int>("audioCodec");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("h264 mu-law") << 17 << 20 << 1 << streamInfo(3, 640, 368, 0, 8000, 0x100);
        QTest::newRow("h265 a-law") << 18 << 19 << 1 << streamInfo(3, 640, 368, 1, 8000, 0x101);
        QTest::newRow("aac stereo") << 17 << 21 << 2 << streamInfo(3, 640, 368, 0, 8000, 0x502);
        QTest::newRow("mp2") << 17 << 22 << 1 << streamInfo(3, 640, 368, 0, 8000, 0x103);
        QTest::newRow("pcm") << 17 << 23 << 1 << streamInfo(3, 640, 368, 0, 8000, 0x104);
        QTest::newRow("g726") << 17 << 24 << 1 << streamInfo(3, 640, 368, 0, 8000, 0x105);
        QTest::newRow("no audio") << 17 << 16 << 1 << streamInfo(1, 640, 368, 0, 8000, 0x10F);
    }

    void streamInformation()
    {
        QFETCH(int, videoCodec);
        QFETCH(int, audioCodec);
        QFETCH(int, channels);
        QFETCH(QByteArray, expected);
        auto s = opened();
        m_fake->info.videoCodec = videoCodec;
        m_fake->info.audioCodec = audioCodec;
        m_fake->info.channels = channels;
        m_fake->frame(true, 5000);
        m_fake->frame(false, 5040);
        QCOMPARE(g_log.size(), 3);
        QCOMPARE((QList<qint64>{g_log[0].kind, g_log[0].subkind, g_log[0].ts, g_log[1].kind, g_log[1].subkind,
                                g_log[2].subkind}),
                 (QList<qint64>{106, -1, -1, 109, 1, 0}));
        QCOMPARE(g_log[0].data, expected);
        QCOMPARE(g_log[1].data, QByteArray(40, 'v'));

        // After closeStream the next frame is introduced again; without information, not at all.
        s->closeStream();
        QCOMPARE(m_fake->closes, 1);
        m_fake->frame(true, 5080);
        QCOMPARE(g_log[3].kind, 106);
        s->closeStream();
        m_fake->infoAvailable = false;
        g_log.clear();
        m_fake->frame(true, 5120);
        QCOMPARE(g_log.size(), 1);
        QCOMPARE(g_log[0].kind, 109);
    }

    void timestamps()
    {
        auto s = opened();
        m_fake->infoAvailable = false;
        setTime(1000000);
        m_fake->frame(true, 777000);
        m_fake->frame(false, 777040);
        setTime(1000080);
        m_fake->frame(false, 777080);
        QCOMPARE(g_log[0].ts, qint64(1000000));
        QCOMPARE(g_log[1].ts, qint64(1000040));
        QCOMPARE(g_log[2].ts, qint64(1000080));

        // The device clock jumps ahead: a step of its clock, not time that
        // passed; that frame follows the one before as the frames before
        // did, and the next goes on from there.
        m_fake->frame(false, 900000);
        QCOMPARE(g_log[3].ts, qint64(1000120));
        setTime(1000120);
        m_fake->frame(false, 900040);
        QCOMPARE(g_log[4].ts, qint64(1000160));
        // The local clock runs away by more than 5 s: re-anchored there.
        setTime(1006000);
        m_fake->frame(false, 900040);
        QCOMPARE(g_log[5].ts, qint64(1006000));
        // And back by more than 5 s.
        setTime(1000500);
        m_fake->frame(false, 900080);
        QCOMPARE(g_log[6].ts, qint64(1000500));
        // Across midnight, the local clock passing it first: no jump, the
        // frames go on as the device spaced them into the new day.
        setTime(86399900);
        m_fake->frame(false, 900120);
        QCOMPARE(g_log[7].ts, qint64(86399900));
        setTime(100);
        m_fake->frame(false, 900160);
        QCOMPARE(g_log[8].ts, qint64(86399940));
        m_fake->frame(false, 900200);
        QCOMPARE(g_log[9].ts, qint64(86399980));
        m_fake->frame(false, 900240);
        QCOMPARE(g_log[10].ts, qint64(20));
        // The sound keeps to the frames' mapping.
        m_fake->sound(900250);
        QCOMPARE(g_log[11].ts, qint64(30));

        // Audio before any picture: the first frame only anchors; no stream
        // information.
        s = opened();
        m_fake->infoAvailable = false;
        g_log.clear();
        setTime(2000000);
        m_fake->sound(50);
        m_fake->sound(90);
        QCOMPARE(g_log.size(), 2);
        QCOMPARE((QList<qint64>{g_log[0].kind, g_log[0].subkind, g_log[0].ts, g_log[1].ts}),
                 (QList<qint64>{108, -1, 2000000, 2000040}));
        QCOMPARE(m_fake->audio(reinterpret_cast<const uchar *>("a"), 1, 0, nullptr), -1);
        QCOMPARE(m_fake->video(0x20, reinterpret_cast<const uchar *>("a"), 1, 0, nullptr), -1);
    }

    // A device whose clock runs 1 % fast for ten minutes: its frames keep to
    // the local clock as a stream by address does, never going back and
    // never more than the allowed lead ahead.
    void fastDeviceKeepsToTheClock()
    {
        auto s = opened();
        m_fake->infoAvailable = false;
        const qint64 start = 43200000;
        for (int i = 0; i < 15000; ++i) {
            setTime(start + 40 * i);
            m_fake->frame(i % 25 == 0, quint64(5000000 + std::llround(40.4 * i)));
        }
        QCOMPARE(g_log.size(), 15000);
        for (int i = 1; i < g_log.size(); ++i) {
            QVERIFY2(g_log[i].ts >= g_log[i - 1].ts, qPrintable(QString("frame %1").arg(i)));
            QVERIFY2(g_log[i].ts - (start + 40 * i) <= StreamClock::kMaxLeadMs,
                     qPrintable(QString("frame %1 at %2").arg(i).arg(g_log[i].ts)));
        }
    }

    // The sound of a device whose clock is set back a little now and then,
    // or jitters, keeps to the time its frames were given: near the frame
    // before it, never going back.
    void soundKeepsToItsPictures_data() { testsupport::addSoundCameraRows(); }
    void soundKeepsToItsPictures()
    {
        QFETCH(int, pictures);
        QFETCH(testsupport::DriftingCamera, camera);
        auto s = opened();
        m_fake->infoAvailable = false;
        for (int i = 0; i < pictures; ++i) {
            setTime(43200000 + qint64(camera.spacing) * i);
            m_fake->frame(i % 25 == 0, quint64(camera.stamp(i)));
            m_fake->sound(quint64(camera.stampAfter(i, 20)));
        }
        testsupport::SoundBeside beside;
        for (const Delivery &d : g_log)
            beside.take(d.kind, d.ts);
        qInfo() << "sound at most" << beside.worst << "ms off its picture";
        QCOMPARE(beside.sounds, pictures);
        QVERIFY2(beside.faults.isEmpty(), qPrintable(beside.faults));
    }

    // A device's clock that steps (shown first on a frame or on sound), is
    // set back at a low frame rate, jitters or is hostile, its sound coming
    // as the workers hand it on: each sound frame lies near its place beside
    // the frame before it, and none goes back.
    void soundKeepsToItsPlace_data() { testsupport::addSoundStepRows(); }
    void soundKeepsToItsPlace()
    {
        QFETCH(testsupport::SoundCamera, camera);
        auto s = opened();
        m_fake->infoAvailable = false;
        const auto sent = camera.send(true);
        bool key = true;
        for (int i = 0; i < sent.size(); ++i) {
            setTime(43200000 + sent[i].at);
            if (sent[i].picture)
                m_fake->frame(std::exchange(key, false), quint64(sent[i].stamp), testsupport::indexBytes(i));
            else
                m_fake->sound(quint64(sent[i].stamp), testsupport::indexBytes(i));
        }
        testsupport::SoundPlace place(sent, camera);
        for (const Delivery &d : g_log)
            place.take(d.kind, d.ts, testsupport::indexOf(d.data));
        qInfo() << "sound at most" << place.worst << "ms off its place";
        QVERIFY(place.sounds > 0);
        QVERIFY2(place.faults.isEmpty(), qPrintable(place.faults));
    }
};

QTEST_GUILESS_MAIN(TestP2pFrontend)
#include "tst_p2pfrontend.moc"
