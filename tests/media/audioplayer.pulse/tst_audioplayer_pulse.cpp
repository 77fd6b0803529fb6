#include <QtTest>

#include <algorithm>
#include <cmath>
#include <mutex>

#include "media/qcaudioplayer.h"
#include "tests/support/pulsedaemon.h"

namespace {

// G.711 µ-law encoding of one sample.
uint8_t linearToUlaw(int16_t s)
{
    static const int kEnds[8] = {255, 511, 1023, 2047, 4095, 8191, 16383, 32767};
    int mag = s < 0 ? 132 - s : s + 132;
    const int mask = s < 0 ? 0x7F : 0xFF;
    if (mag > 32767)
        return uint8_t(s < 0 ? 0x00 : 0x80);
    int seg = 0;
    while (seg < 8 && kEnds[seg] < mag)
        ++seg;
    return uint8_t(((seg << 4) | ((mag >> (seg + 3)) & 0x0F)) ^ mask);
}

// What the real output did, seen through a thin wrapper.
struct Observed
{
    std::mutex mutex;
    bool active = false;
    int period = 0;
    int firstFree = -1;
    int writes = 0;
    int partialWrites = 0;
};

class RecordingSink : public qcAudioSink
{
public:
    RecordingSink(std::unique_ptr<qcAudioSink> inner, Observed *seen) : m_inner(std::move(inner)), m_seen(seen) {}
    bool start(int bufferSize) override { return m_inner->start(bufferSize); }
    int bytesFree() override
    {
        const int f = m_inner->bytesFree();
        std::lock_guard<std::mutex> l(m_seen->mutex);
        if (m_seen->firstFree < 0)
            m_seen->firstFree = f;
        return f;
    }
    int periodSize() override
    {
        const int p = m_inner->periodSize();
        std::lock_guard<std::mutex> l(m_seen->mutex);
        m_seen->period = p;
        return p;
    }
    qint64 write(const char *data, qint64 length) override
    {
        const qint64 n = m_inner->write(data, length);
        std::lock_guard<std::mutex> l(m_seen->mutex);
        ++m_seen->writes;
        if (n != length)
            ++m_seen->partialWrites;
        return n;
    }
    QAudio::State state() override
    {
        const QAudio::State s = m_inner->state();
        std::lock_guard<std::mutex> l(m_seen->mutex);
        if (s == QAudio::ActiveState)
            m_seen->active = true;
        return s;
    }
    void setVolume(qreal v) override { m_inner->setVolume(v); }
    void stop() override { m_inner->stop(); }

private:
    std::unique_ptr<qcAudioSink> m_inner;
    Observed *m_seen;
};

// Frequency from upward zero crossings, measured within each stretch of
// sound (the capture also holds the silence before and after the tone, and
// gaps where the output dropped what did not fit); the median of stretches.
double frequencyOf(const QByteArray &pcm, int rate)
{
    const auto *s = reinterpret_cast<const int16_t *>(pcm.constData());
    const int n = pcm.size() / 2;
    QVector<double> found;
    int i = 0;
    while (i < n) {
        while (i < n && std::abs(int(s[i])) < 1000)
            ++i;
        const int begin = i;
        int quiet = 0;
        while (i < n && quiet < 8) {
            quiet = std::abs(int(s[i])) < 300 ? quiet + 1 : 0;
            ++i;
        }
        const int end = i - quiet;
        if (end - begin < 400)
            continue;
        int crossings = 0, first = -1, last = -1;
        for (int k = begin + 1; k < end; ++k) {
            if (s[k - 1] < 0 && s[k] >= 0) {
                if (first < 0)
                    first = k;
                last = k;
                ++crossings;
            }
        }
        if (crossings > 10)
            found.append(double(crossings - 1) * rate / double(last - first));
    }
    if (found.isEmpty())
        return 0.0;
    std::sort(found.begin(), found.end());
    return found[found.size() / 2];
}

} // namespace

class TestAudioPlayerPulse : public QObject
{
    Q_OBJECT
private slots:
    void toneReachesTheSink()
    {
        testsupport::PulseDaemon pulse;
        QString why;
        if (!pulse.start(&why))
            QSKIP(qPrintable(why));

        Observed seen;
        qcAudioPlayer player;
        const auto real = qcAudioPlayer::qtSinkFactory();
        player.setSinkFactory([&](const QAudioFormat &format) -> std::unique_ptr<qcAudioSink> {
            auto sink = real(format);
            return sink ? std::make_unique<RecordingSink>(std::move(sink), &seen) : nullptr;
        });
        QVERIFY(player.startPlay(8000, 1, 16, 0));
        player.start();
        QTRY_VERIFY_WITH_TIMEOUT(player.outputActive() || player.isFinished(), 10000);
        QVERIFY2(player.outputActive(), "no output on the private PulseAudio server");
        player.setVolume(100);

        QProcess parec;
        parec.setProcessEnvironment(pulse.environment());
        parec.start("parec", {"-d", "testout.monitor", "--raw", "--format=s16le", "--rate=8000", "--channels=1"});
        QVERIFY(parec.waitForStarted(5000));

        // A 1 kHz tone in 40 ms records, as a camera sends it.
        const int hz = 1000;
        int sample = 0;
        QElapsedTimer t;
        t.start();
        QByteArray captured;
        for (int record = 0; record < 75; ++record) {
            QByteArray ulaw(320, 0);
            for (int i = 0; i < 320; ++i, ++sample)
                ulaw[i] = char(linearToUlaw(int16_t(12000 * std::sin(2 * M_PI * hz * sample / 8000.0))));
            player.pushData(reinterpret_cast<const uint8_t *>(ulaw.constData()), ulaw.size());
            while (t.elapsed() < (record + 1) * 40)
                QTest::qWait(5);
            captured += parec.readAllStandardOutput();
        }
        QTest::qWait(300);
        captured += parec.readAllStandardOutput();
        parec.terminate();
        parec.waitForFinished(3000);
        player.stopPlay();
        QVERIFY(player.wait(5000));

        std::lock_guard<std::mutex> l(seen.mutex);
        qDebug() << "PulseAudio output: first bytesFree" << seen.firstFree << "periodSize" << seen.period << "writes"
                 << seen.writes;
        QVERIFY(seen.active);
        QVERIFY(seen.period > 0);
        QVERIFY(seen.writes > 10);
        QCOMPARE(seen.partialWrites, 0); // whole periods are always taken
        const double got = frequencyOf(captured, 8000);
        QVERIFY2(std::abs(got - hz) <= hz * 0.05,
                 qPrintable(QString("%1 Hz in %2 bytes").arg(got).arg(captured.size())));
    }
};

QTEST_GUILESS_MAIN(TestAudioPlayerPulse)
#include "tst_audioplayer_pulse.moc"
