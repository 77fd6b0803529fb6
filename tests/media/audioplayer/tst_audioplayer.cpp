#include <QtTest>

#include <cmath>
#include <cstring>
#include <mutex>

#include "media/qcaudioplayer.h"
#include "tests/device/common/clips.h"

namespace {

// G.711 expansions as the standard gives them.
int16_t ulawToLinear(uint8_t u)
{
    u = uint8_t(~u);
    int t = ((u & 0x0F) << 3) + 0x84;
    t <<= (u & 0x70) >> 4;
    return int16_t((u & 0x80) ? (0x84 - t) : (t - 0x84));
}

int16_t alawToLinear(uint8_t a)
{
    a ^= 0x55;
    int t = (a & 0x0F) << 4;
    const int seg = (a & 0x70) >> 4;
    if (seg == 0)
        t += 8;
    else
        t = (t + 0x108) << (seg - 1);
    return int16_t((a & 0x80) ? t : -t);
}

QVector<int16_t> samples(const QByteArray &pcm)
{
    QVector<int16_t> s(pcm.size() / 2);
    std::memcpy(s.data(), pcm.constData(), size_t(s.size()) * 2);
    return s;
}

// A sine tone as raw signed 16-bit mono PCM.
QByteArray tone(int rate, double hz, int count, double amplitude = 8000.0)
{
    QByteArray b(count * 2, 0);
    auto *s = reinterpret_cast<int16_t *>(b.data());
    for (int i = 0; i < count; ++i)
        s[i] = int16_t(amplitude * std::sin(2 * M_PI * hz * i / rate));
    return b;
}

// Frequency from upward zero crossings.
double frequencyOf(const QVector<int16_t> &s, int rate)
{
    int crossings = 0, first = -1, last = -1;
    for (int i = 1; i < s.size(); ++i) {
        if (s[i - 1] < 0 && s[i] >= 0) {
            if (first < 0)
                first = i;
            last = i;
            ++crossings;
        }
    }
    return crossings > 1 ? double(crossings - 1) * rate / double(last - first) : 0.0;
}

// Whole frames of an ADTS (AAC) or MPEG-1 layer II stream, one per record as
// a device sends them.
QVector<QByteArray> audioFrames(const QByteArray &stream, bool adts)
{
    static const int kMp2Kbps[16] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0};
    static const int kMp2Rates[4] = {44100, 48000, 32000, 0};
    QVector<QByteArray> frames;
    const auto *p = reinterpret_cast<const uint8_t *>(stream.constData());
    int at = 0;
    while (at + 7 <= stream.size() && p[at] == 0xFF && (p[at + 1] & 0xF0) == 0xF0) {
        int length = 0;
        if (adts) {
            length = ((p[at + 3] & 0x03) << 11) | (p[at + 4] << 3) | (p[at + 5] >> 5);
        } else {
            const int kbps = kMp2Kbps[p[at + 2] >> 4];
            const int rate = kMp2Rates[(p[at + 2] >> 2) & 3];
            if (!kbps || !rate)
                break;
            length = 144000 * kbps / rate + ((p[at + 2] >> 1) & 1);
        }
        if (length < 7 || at + length > stream.size())
            break;
        frames.append(stream.mid(at, length));
        at += length;
    }
    return frames;
}

// An output with scripted free space and period size that records writes.
struct FakeOutput
{
    std::mutex mutex;
    int free = 6144;
    int period = 1024;
    QByteArray written;
    int writes = 0;
    qreal volume = -1.0;
    QAudioFormat format;
    bool stopped = false;
};

class FakeSink : public qcAudioSink
{
public:
    explicit FakeSink(FakeOutput *out) : m_out(out) {}
    bool start(int) override { return true; }
    int bytesFree() override
    {
        std::lock_guard<std::mutex> l(m_out->mutex);
        return m_out->free;
    }
    int periodSize() override
    {
        std::lock_guard<std::mutex> l(m_out->mutex);
        return m_out->period;
    }
    qint64 write(const char *data, qint64 length) override
    {
        std::lock_guard<std::mutex> l(m_out->mutex);
        m_out->written.append(data, int(length));
        ++m_out->writes;
        return length;
    }
    QAudio::State state() override { return QAudio::ActiveState; }
    void setVolume(qreal v) override
    {
        std::lock_guard<std::mutex> l(m_out->mutex);
        m_out->volume = v;
    }
    void stop() override
    {
        std::lock_guard<std::mutex> l(m_out->mutex);
        m_out->stopped = true;
    }

private:
    FakeOutput *m_out;
};

qcAudioPlayer::SinkFactory fakeFactory(FakeOutput *out)
{
    return [out](const QAudioFormat &format) -> std::unique_ptr<qcAudioSink> {
        {
            std::lock_guard<std::mutex> l(out->mutex);
            out->format = format;
        }
        return std::make_unique<FakeSink>(out);
    };
}

int writtenBytes(FakeOutput &out)
{
    std::lock_guard<std::mutex> l(out.mutex);
    return out.written.size();
}

struct Player
{
    explicit Player(FakeOutput *out) : out(out) { player.setSinkFactory(fakeFactory(out)); }
    // Starts the thread and, once its output exists, turns the sound up
    // (it starts muted, and muted samples are zeros).
    bool startAudible(int rate, int codec)
    {
        if (!player.startPlay(rate, 1, 16, codec))
            return false;
        player.start();
        if (!QTest::qWaitFor([this] {
                std::lock_guard<std::mutex> l(out->mutex);
                return out->volume == 0.0;
            }))
            return false;
        player.setVolume(100);
        return player.volume() == 100;
    }
    FakeOutput *out;
    ~Player()
    {
        player.stopPlay();
        player.wait();
    }
    qcAudioPlayer player;
};

} // namespace

class TestAudioPlayer : public QObject
{
    Q_OBJECT
private slots:
    void g711Tables()
    {
        QByteArray codes(160, 0);
        for (int i = 0; i < 160; ++i)
            codes[i] = char(i * 256 / 160 + 1);
        const auto *bytes = reinterpret_cast<const uint8_t *>(codes.constData());
        QByteArray pcm;
        qcAudioDecodeStage stage;
        for (int codec : {0, 1}) {
            QVERIFY(stage.open(codec, 8000));
            QVERIFY(stage.decode(bytes, 160, 100, &pcm));
            const QVector<int16_t> got = samples(pcm);
            QCOMPARE(got.size(), 160);
            for (int i = 0; i < 160; ++i)
                QCOMPARE(got[i], codec ? alawToLinear(bytes[i]) : ulawToLinear(bytes[i]));
        }
        // Volume 0 mutes.
        QVERIFY(stage.decode(bytes, 160, 0, &pcm));
        QCOMPARE(pcm, QByteArray(320, 0));
    }
    void rawPcmIsResampledTo8k_data()
    {
        QTest::addColumn<int>("rate");
        QTest::newRow("16 kHz") << 16000;
        QTest::newRow("4 kHz") << 4000;
        QTest::newRow("44.1 kHz") << 44100;
    }

    // Other rates play at the right speed: the same tone in 8 kHz samples.
    void rawPcmIsResampledTo8k()
    {
        QFETCH(int, rate);
        QByteArray pcm;
        qcAudioDecodeStage stage;
        QVERIFY(stage.open(4, rate));
        QVector<int16_t> all;
        for (int chunk = 0; chunk < 10; ++chunk) {
            const QByteArray part = tone(rate, 500, rate / 10);
            QVERIFY(stage.decode(reinterpret_cast<const uint8_t *>(part.constData()), part.size(), 50, &pcm));
            all += samples(pcm);
        }
        QVERIFY2(qAbs(all.size() - 8000) < 200, qPrintable(QString::number(all.size())));
        const double hz = frequencyOf(all.mid(100), 8000);
        QVERIFY2(qAbs(hz - 500) < 25, qPrintable(QString("%1 Hz").arg(hz)));
    }

    void compressedClipsDecodeToTheirTone_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("codec");
        QTest::addColumn<int>("rate");
        QTest::newRow("AAC 48 kHz") << "tone-aac-48k.adts" << 2 << 48000;
        QTest::newRow("MP2 44.1 kHz") << "tone-mp2-44k.mp2" << 3 << 44100;
    }
    void compressedClipsDecodeToTheirTone()
    {
        QFETCH(QString, file);
        QFETCH(int, codec);
        QFETCH(int, rate);
        const QByteArray stream = clips::read(file);
        if (stream.isEmpty())
            QSKIP("the test clips were not made (ARDO_CLIPS_DIR)");
        const QVector<QByteArray> frames = audioFrames(stream, codec == 2);
        QVERIFY(frames.size() > 20);
        qcAudioDecodeStage stage;
        QVERIFY(stage.open(codec, rate));
        QVector<int16_t> all;
        QByteArray pcm;
        for (const QByteArray &f : frames)
            if (stage.decode(reinterpret_cast<const uint8_t *>(f.constData()), f.size(), 100, &pcm))
                all += samples(pcm);
        // Every second of sound gives 8000 samples, at the tone's pitch.
        const double seconds = codec == 2 ? frames.size() * 1024.0 / rate : frames.size() * 1152.0 / rate;
        QVERIFY2(qAbs(all.size() - seconds * 8000) < 8000 * 0.05, qPrintable(QString::number(all.size())));
        const double hz = frequencyOf(all.mid(2000), 8000);
        QVERIFY2(qAbs(hz - 1000) < 50, qPrintable(QString("%1 Hz").arg(hz)));
    }

    void openRefusals()
    {
        qcAudioDecodeStage stage;
        QVERIFY(!stage.open(6, 8000)); // no such codec
        QVERIFY(!stage.open(0, 0));    // rate from the network: checked
        QVERIFY(!stage.open(4, 1000000));
        QByteArray pcm;
        const uint8_t b[4] = {1, 2, 3, 4};
        QVERIFY(!stage.decode(b, 4, 100, &pcm));
        QVERIFY(stage.open(2, 16000)); // AAC and MP2 and G.726 decoders exist
        QVERIFY(stage.open(3, 44100));
        QVERIFY(stage.open(5, 8000));
    }

    void largeRecordsStayInBounds()
    {
        // 40,000 µ-law bytes expand to 80,000 PCM bytes; 4 kHz raw PCM doubles.
        QByteArray big(40000, char(0x35));
        QByteArray pcm;
        qcAudioDecodeStage ulaw;
        QVERIFY(ulaw.open(0, 8000));
        QVERIFY(ulaw.decode(reinterpret_cast<const uint8_t *>(big.constData()), big.size(), 100, &pcm));
        QCOMPARE(pcm.size(), 80000);
        qcAudioDecodeStage raw;
        QVERIFY(raw.open(4, 4000));
        const QByteArray in = tone(4000, 300, 20000);
        QVERIFY(raw.decode(reinterpret_cast<const uint8_t *>(in.constData()), in.size(), 100, &pcm));
        QVERIFY(qAbs(pcm.size() - 80000) < 400);
    }

    void startAndVolumeRules()
    {
        FakeOutput out;
        Player p(&out);
        QCOMPARE(p.player.pendingCount(), -1);
        const uint8_t rec[160] = {};
        QVERIFY(!p.player.pushData(rec, 160)); // not started
        p.player.setVolume(50);                // no output yet: ignored
        QCOMPARE(p.player.volume(), 0);
        QVERIFY(p.player.startPlay(16000, 2, 16, 2));
        QVERIFY(!p.player.startPlay(8000, 1, 16, 0));
        QCOMPARE(p.player.sampleRate(), 16000);
        QCOMPARE(p.player.codec(), 2);
        p.player.start();
        QTRY_COMPARE(out.volume, 0.0); // output made and muted at start
        QTRY_VERIFY(p.player.outputActive());
        {
            std::lock_guard<std::mutex> l(out.mutex);
            // AAC at 16 kHz plays at 8 kHz.
            QCOMPARE((QList<int>{out.format.sampleRate(), out.format.channelCount(), out.format.sampleSize()}),
                     (QList<int>{8000, 1, 16}));
        }
        p.player.setVolume(101);
        p.player.setVolume(-1);
        QCOMPARE(p.player.volume(), 0);
        p.player.setVolume(60);
        QCOMPARE(p.player.volume(), 60);
        QTRY_COMPARE(out.volume, 0.6);
    }

    void writesWholePeriodsWhenSpaceAllows()
    {
        FakeOutput out;
        out.free = 1000; // below 2,048: nothing is decoded
        Player p(&out);
        QVERIFY(p.startAudible(8000, 4));
        const QByteArray rec = tone(8000, 400, 1500); // 3,000 bytes
        for (int i = 0; i < 3; ++i)
            QVERIFY(p.player.pushData(reinterpret_cast<const uint8_t *>(rec.constData()), rec.size()));
        QTest::qWait(500);
        QCOMPARE(p.player.pendingCount(), 3);
        QCOMPARE(writtenBytes(out), 0);
        {
            std::lock_guard<std::mutex> l(out.mutex);
            out.free = 2500; // room for two periods of 1,024
        }
        QTRY_COMPARE(p.player.pendingCount(), 0);
        QTRY_COMPARE(writtenBytes(out), 3 * 2048); // the rest of each record is dropped
        const QVector<int16_t> got = samples(out.written);
        QCOMPARE(got.mid(0, 1024), samples(rec).mid(0, 1024));
    }

    void oversizeRecordIsDropped()
    {
        FakeOutput out;
        Player p(&out);
        QVERIFY(p.startAudible(8000, 4));
        QByteArray big(41000, 1);
        QVERIFY(p.player.pushData(reinterpret_cast<const uint8_t *>(big.constData()), big.size()));
        const QByteArray small = tone(8000, 400, 200);
        QVERIFY(p.player.pushData(reinterpret_cast<const uint8_t *>(small.constData()), small.size()));
        QTRY_COMPARE(p.player.pendingCount(), 0);
        QTRY_COMPARE(writtenBytes(out), small.size());
        QCOMPARE(out.written, small);
    }

    void noOutputDevice()
    {
        qcAudioPlayer player;
        player.setSinkFactory([](const QAudioFormat &) { return std::unique_ptr<qcAudioSink>(); });
        QVERIFY(player.startPlay(8000, 1, 16, 0));
        player.start();
        QVERIFY(player.wait(2000)); // ends after its set-up
        QVERIFY(!player.outputActive());
        const QByteArray rec(320, char(0x7f));
        int pushed = 0;
        while (player.pushData(reinterpret_cast<const uint8_t *>(rec.constData()), rec.size()))
            ++pushed;
        QCOMPARE(pushed, 81920 / (320 + 16));
        QCOMPARE(player.pendingCount(), pushed);
    }
};

QTEST_GUILESS_MAIN(TestAudioPlayer)
#include "tst_audioplayer.moc"
