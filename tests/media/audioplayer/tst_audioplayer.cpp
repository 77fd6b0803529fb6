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

// An output with scripted free space that records writes.
struct FakeOutput
{
    std::mutex mutex;
    int free = 6144;
    QByteArray written;
    int writes = 0;
    qreal volume = -1.0;
    QAudioFormat format;
    bool stopped = false;
    int clears = 0;
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
    void clear() override
    {
        std::lock_guard<std::mutex> l(m_out->mutex);
        ++m_out->clears;
    }
    void stop() override
    {
        std::lock_guard<std::mutex> l(m_out->mutex);
        m_out->stopped = true;
    }

private:
    FakeOutput *m_out;
};

// An output that plays at the real rate on a clock the test advances, the
// way PulseAudio's playback stream behaves: free space is offered in steps
// of a quarter of the buffer, and playing starts (and, after running dry,
// starts again) only once the buffer is three quarters full.
class ClockedSink : public qcAudioSink
{
public:
    explicit ClockedSink(int buffer) : m_buffer(buffer), m_step(buffer / 4), m_prebuf(buffer - buffer / 4) {}
    bool start(int) override { return true; }
    int bytesFree() override { return (m_buffer - m_fill) / m_step * m_step; }
    qint64 write(const char *data, qint64 length) override
    {
        const int n = int(qMin<qint64>(length, bytesFree()));
        played.append(data, n);
        m_fill += n;
        if (!m_playing && m_fill >= m_prebuf)
            m_playing = true;
        return n;
    }
    QAudio::State state() override { return QAudio::ActiveState; }
    void setVolume(qreal) override {}
    void clear() override
    {
        m_fill = 0;
        m_playing = false;
    }
    void stop() override {}

    // One millisecond of playing.
    void tick()
    {
        if (!m_playing)
            return;
        if (m_fill < qcAudioFeed::kBytesPerMs) {
            ++underruns;
            m_fill = 0;
            m_playing = false;
            return;
        }
        m_fill -= qcAudioFeed::kBytesPerMs;
    }
    int fill() const { return m_fill; }

    int underruns = 0;
    QByteArray played;

private:
    const int m_buffer, m_step, m_prebuf;
    int m_fill = 0;
    bool m_playing = false;
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

    // Records are decoded as they come, whatever room the output has, and
    // the output takes them whole and in order as room appears.
    void writesWhatTheOutputTakes()
    {
        FakeOutput out;
        out.free = 0;
        Player p(&out);
        QVERIFY(p.startAudible(8000, 4));
        const QByteArray rec = tone(8000, 400, 350); // 700 bytes
        for (int i = 0; i < 3; ++i)
            QVERIFY(p.player.pushData(reinterpret_cast<const uint8_t *>(rec.constData()), rec.size()));
        QTRY_COMPARE(p.player.pendingCount(), 0);
        QCOMPARE(writtenBytes(out), 0);
        {
            std::lock_guard<std::mutex> l(out.mutex);
            out.free = 1000;
        }
        QTRY_COMPARE(writtenBytes(out), 3 * rec.size());
        std::lock_guard<std::mutex> l(out.mutex);
        QCOMPARE(out.written, rec + rec + rec);
    }

    // An output that takes nothing keeps only the newest samples waiting (what
    // fits beside its full buffer in 300 ms); sound off drops those too and
    // empties the output.
    void lateSoundIsBoundedAndSoundOffClears()
    {
        FakeOutput out;
        out.free = 0;
        Player p(&out);
        QVERIFY(p.startAudible(8000, 4));
        QByteArray all;
        for (int i = 0; i < 10; ++i) {
            const QByteArray rec = tone(8000, 100 + 50 * i, 500);
            all += rec;
            QVERIFY(p.player.pushData(reinterpret_cast<const uint8_t *>(rec.constData()), rec.size()));
        }
        QTRY_COMPARE(p.player.pendingCount(), 0);
        {
            std::lock_guard<std::mutex> l(out.mutex);
            out.free = 100000;
        }
        QTRY_COMPARE(writtenBytes(out), qcAudioPlayer::kBacklogBytes);
        {
            std::lock_guard<std::mutex> l(out.mutex);
            QCOMPARE(out.written, all.right(qcAudioPlayer::kBacklogBytes));
            out.free = 0;
        }
        const QByteArray rec = tone(8000, 400, 500);
        QVERIFY(p.player.pushData(reinterpret_cast<const uint8_t *>(rec.constData()), rec.size()));
        p.player.flush();
        QCOMPARE(p.player.pendingCount(), 0);
        QTRY_COMPARE(out.clears, 1);
        {
            std::lock_guard<std::mutex> l(out.mutex);
            out.free = 100000;
        }
        // Nothing from before the flush plays afterwards.
        QTest::qWait(100);
        QCOMPARE(writtenBytes(out), qcAudioPlayer::kBacklogBytes);
    }

    void feedKeepsTheOutputPlaying_data()
    {
        QTest::addColumn<int>("together"); // records delivered at once
        QTest::addColumn<int>("stallMs");  // delivery stops at 2 s for that long
        QTest::addColumn<int>("passMs");
        QTest::newRow("every 40 ms") << 1 << 0 << 10;
        QTest::newRow("in pairs every 80 ms") << 2 << 0 << 10;
        QTest::newRow("AAC's 50 ms passes") << 1 << 0 << 50;
        QTest::newRow("a 1 s stall, then its records at once") << 1 << 1000 << 10;
    }

    // 10 s of 40 ms records against an output that plays at the real rate.
    void feedKeepsTheOutputPlaying()
    {
        QFETCH(int, together);
        QFETCH(int, stallMs);
        QFETCH(int, passMs);
        ClockedSink sink(qcAudioPlayer::kOutputBufferBytes);
        qcAudioFeed feed(qcAudioPlayer::kBacklogBytes);
        QVector<QByteArray> arrived;
        auto decode = [&arrived](QByteArray *pcm) {
            if (arrived.isEmpty())
                return false;
            *pcm = arrived.takeFirst();
            return true;
        };
        auto deliveredAt = [&](int k) {
            const int due = 40 * ((k / together + 1) * together - 1);
            return due >= 2000 && due < 2000 + stallMs ? 2000 + stallMs : due;
        };
        QByteArray sent;
        int next = 0, maxBacklog = 0, underrunsAtOneSecond = 0, underrunsAfterStall = 0;
        for (int ms = 0; ms < 10000; ++ms) {
            while (next < 250 && deliveredAt(next) <= ms) {
                QByteArray rec(640, '\0');
                for (int i = 0; i < 320; ++i)
                    reinterpret_cast<int16_t *>(rec.data())[i] = int16_t(next * 320 + i);
                sent += rec;
                arrived.append(rec);
                ++next;
            }
            if (ms % passMs == 0) {
                feed.pass(decode, sink);
                maxBacklog = qMax(maxBacklog, feed.backlogBytes());
            }
            sink.tick();
            if (ms == 1000)
                underrunsAtOneSecond = sink.underruns;
            if (ms == 2000 + stallMs + 500)
                underrunsAfterStall = sink.underruns;
        }
        QVERIFY2(maxBacklog <= qcAudioPlayer::kBacklogBytes, qPrintable(QString::number(maxBacklog)));
        if (stallMs == 0) {
            QCOMPARE(sink.underruns, underrunsAtOneSecond);
            QCOMPARE(feed.droppedBytes(), 0);
            QVERIFY(sent.startsWith(sink.played));
        } else {
            // The stall runs the output dry; what came late beyond the bound
            // is dropped, the oldest first, and playing goes on steadily.
            QCOMPARE(sink.underruns, underrunsAfterStall);
            QVERIFY(feed.droppedBytes() > 0);
            QCOMPARE(sink.played.size() + feed.droppedBytes() + feed.backlogBytes(), qint64(sent.size()));
        }

        // Sound off: nothing waits and the output is empty at once.
        feed.clear(&sink);
        QCOMPARE(feed.backlogBytes(), 0);
        QCOMPARE(sink.fill(), 0);
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
