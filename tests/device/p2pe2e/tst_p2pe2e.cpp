// The P2P front end over the real device, layer and loopback device; the
// identifier is found through the registry file.

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <mutex>

#include <cmath>

#include "../p2pcommon/p2ptest.h"
#include "device/qcaudiocapture.h"
#include "device/qccommonstream.h"
#include "media/qcaudioplayer.h"
#include "platform/p2p/P2pApi.h"

using namespace devicesim;
using namespace p2ptest;

namespace {

struct Sink
{
    std::mutex mutex;
    QList<int> kinds;
    QList<int> subkinds;
    QList<QByteArray> data;

    static void on(const unsigned char *d, int length, int kind, int subkind, qint64, void *user)
    {
        auto *s = static_cast<Sink *>(user);
        std::lock_guard<std::mutex> lock(s->mutex);
        s->kinds.append(kind);
        s->subkinds.append(subkind);
        s->data.append(QByteArray(reinterpret_cast<const char *>(d), length));
    }
    int count(int kind)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return kinds.count(kind);
    }
    QList<QByteArray> of(int kind, QList<int> *subs = nullptr)
    {
        std::lock_guard<std::mutex> lock(mutex);
        QList<QByteArray> out;
        for (int i = 0; i < kinds.size(); ++i) {
            if (kinds[i] != kind)
                continue;
            out.append(data[i]);
            if (subs)
                subs->append(subkinds[i]);
        }
        return out;
    }
};

// Dominant frequency of 16-bit mono PCM at 8 kHz, by zero crossings.
int frequencyOf(const QByteArray &pcm)
{
    const int n = pcm.size() / 2;
    int crossings = 0;
    for (int i = 1; i < n; ++i) {
        const qint16 a = qFromLittleEndian<qint16>(pcm.constData() + 2 * (i - 1));
        const qint16 b = qFromLittleEndian<qint16>(pcm.constData() + 2 * i);
        if ((a < 0) != (b < 0))
            ++crossings;
    }
    return n ? int(std::lround(crossings * 8000.0 / (2.0 * n) / 10.0) * 10) : 0;
}

} // namespace

class TestP2pE2e : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<P2pDevice> m_sim;
    Sink m_sink;

    void startSim(const P2pMedia &media)
    {
        m_sim.reset(new P2pDevice);
        m_sim->addIdentity(kUid, QStringLiteral("admin"), QStringLiteral("1234"), media);
        QVERIFY(m_sim->start());
        QVERIFY(m_sim->writeRegistry(m_dir.filePath("registry.txt")));
    }

    std::unique_ptr<qcCommonStream> open(QSignalSpy **spy = nullptr)
    {
        std::unique_ptr<qcCommonStream> s(new qcCommonStream(
            kUid, QString(), QStringLiteral("admin"), QStringLiteral("1234"), QString::fromLatin1(kP2pProtocolName)));
        s->addDataCallback(&Sink::on, &m_sink);
        if (spy)
            *spy = new QSignalSpy(s.get(), &qcCommonStream::sigConnectStatus);
        if (!s->openDevice(3) || !s->setCallbacks())
            return nullptr;
        return s;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(!h264Clip().isEmpty());
        qputenv("ARDO_P2P_REGISTRY", m_dir.filePath("registry.txt").toLocal8Bit());
        qcDeviceFromTutk::setDefaultTimings(shortTimings());
    }

    void cleanup()
    {
        m_sim.reset();
        std::lock_guard<std::mutex> lock(m_sink.mutex);
        m_sink.kinds.clear();
        m_sink.subkinds.clear();
        m_sink.data.clear();
    }

    void streamsTalksAndRecovers()
    {
        startSim(h264Media());
        QSignalSpy *spyPtr = nullptr;
        auto s = open(&spyPtr);
        std::unique_ptr<QSignalSpy> spy(spyPtr);
        QVERIFY(s);
        QVERIFY(waitUntil([&] { return m_sink.count(109) >= 30 && m_sink.count(108) >= 5; }, 8000));
        QCOMPARE(spy->value(0).value(0).toInt(), 130);
        QCOMPARE(s->getDeviceId(), kUid);

        const QByteArray info = m_sink.of(106).value(0);
        QCOMPARE(info.size(), 20);
        const StreamInfo_t si = wire::readStreamInfo(reinterpret_cast<const uchar *>(info.constData()));
        QCOMPARE(int(si.flags), 3);
        QCOMPARE((QList<int>{si.width, si.height, si.videoCodec(), si.sampleRate, int(si.audio)}),
                 (QList<int>{640, 368, 0, 8000, 0x100}));
        QCOMPARE(m_sink.kinds.first(), 106);

        // Frames are the device's access units with 16 zero bytes behind, from a key frame on.
        QList<int> subs;
        const QList<QByteArray> video = m_sink.of(109, &subs);
        const auto units = m_sim->units(kUid);
        const int first = unitIndex(units, video[0]);
        QVERIFY(first >= 0);
        QCOMPARE(subs[0], 1);
        for (int i = 0; i < 20; ++i) {
            const auto &u = units[(first + i) % units.size()];
            QCOMPARE(video[i], u.bytes + QByteArray(16, '\0'));
            QCOMPARE(subs[i], u.key ? 1 : 0);
        }
        QCOMPARE(m_sink.of(108).value(0).size(), 320);

        QVERIFY(s->ptzControl(16));
        QVERIFY(waitUntil([&] { return !m_sim->ioPayloads(0x1001).isEmpty(); }, 3000));
        QCOMPARE(m_sim->ioPayloads(0x1001).value(0), QByteArray("\x01\0\0\0\0\0\0\0", 8));

        qcAudioCapture capture(nullptr, std::make_unique<ToneAudioInput>(1000.0));
        QVERIFY(capture.startCapture());
        QVERIFY(s->startTalk(&capture));
        QVERIFY(waitUntil([&] { return m_sim->talkFrames().size() >= 20; }, 5000));
        QCOMPARE(m_sim->talkFrequency(), 1000);
        QVERIFY(s->stopTalk());
        capture.stopCapture();

        spy->clear();
        m_sim->dropSessions();
        QVERIFY(waitUntil([&] { return spy->size() >= 2; }, 5000));
        QCOMPARE(spy->value(0).value(0).toInt(), 131);
        QCOMPARE(spy->value(1).value(0).toInt(), 130);

        QElapsedTimer t;
        t.start();
        s.reset();
        QVERIFY(t.elapsed() < 2000);
        QCOMPARE(p2p::stats().sessions, 0);
        QCOMPARE(p2p::stats().channels, 0);
    }

    // G.726 from the device reaches the speaker's decoder as audio number 5.
    void g726ToTheSpeaker()
    {
        P2pMedia media = h264Media(P2pMedia::G726);
        media.g726 = readClip("tone-g726-8k.raw");
        QVERIFY(media.g726.size() > 1600);
        startSim(media);
        auto s = open();
        QVERIFY(s);
        QVERIFY(waitUntil([&] { return m_sink.count(108) >= 25; }, 8000));
        const StreamInfo_t si =
            wire::readStreamInfo(reinterpret_cast<const uchar *>(m_sink.of(106).value(0).constData()));
        QVERIFY(si.hasAudio());
        QCOMPARE(si.audioCodec(), 5);

        qcAudioDecodeStage decoder;
        QVERIFY(decoder.open(si.audioCodec(), si.sampleRate));
        QByteArray pcm;
        for (const QByteArray &frame : m_sink.of(108)) {
            QCOMPARE(frame.size(), 160);
            QByteArray out;
            if (decoder.decode(reinterpret_cast<const uint8_t *>(frame.constData()), frame.size(), 100, &out))
                pcm += out;
        }
        QVERIFY(pcm.size() >= 25 * 320 * 9 / 10);
        QCOMPARE(frequencyOf(pcm.mid(640)), 1000);
    }
};

QTEST_GUILESS_MAIN(TestP2pE2e)
#include "tst_p2pe2e.moc"
