#include <QtTest>

#include <cmath>
#include <memory>
#include <thread>

#include "tests/support/lumpinput.h"
#include "tests/support/pacedtalk.h"
#include "tests/support/scriptserver.h"
#include "device/g711.h"
#include "device/qcaudiocapture.h"
#include "device/qcdeviceintercom.h"
#include "devicesim/device.h"
#include "devicesim/streamrouter.h"
#include "devicesim/talksink.h"

using devicesim::TalkSink;
using testsupport::LumpInput;
using testsupport::PacedTalk;
using testsupport::ScriptServer;

namespace {

QByteArray samplesLE(const QVector<int16_t> &s)
{
    QByteArray a(s.size() * 2, '\0');
    for (int i = 0; i < s.size(); ++i)
        qToLittleEndian<qint16>(s[i], a.data() + 2 * i);
    return a;
}

struct Sink
{
    devicesim::Device device;
    std::shared_ptr<TalkSink> talk;
    explicit Sink(const QString &password = "1234")
    {
        talk = std::make_shared<TalkSink>(device);
        device.registerHandler("/action/stream", std::make_shared<devicesim::StreamRouter>(nullptr, talk));
        device.setCredentials("admin", password);
        device.start();
    }
    QString port() const { return QString::number(device.port()); }
};

IntercomTiming quick()
{
    IntercomTiming t;
    t.answerMs = 300;
    return t;
}

// A capture object with a tone source on the test's own thread, as the
// program keeps it on its main thread: its 20 ms pump runs while the test
// waits in the event loop, and the talk thread reads what it gathered.
struct ToneCapture
{
    std::unique_ptr<qcAudioCapture> capture;
    explicit ToneCapture(double frequency)
        : capture(new qcAudioCapture(nullptr, std::make_unique<ToneAudioInput>(frequency, 8000)))
    {
        if (!capture->startCapture())
            qWarning("tone capture did not start");
    }
};

} // namespace

class TestTalk : public QObject
{
    Q_OBJECT
private slots:
    // Every input against the standard G.711 decoder of the test device.
    void muLawAgainstTheDecoder()
    {
        int previous = -40000;
        for (int v = -32768; v <= 32767; ++v) {
            const int d = TalkSink::decodeMuLaw(linearToMuLaw(int16_t(v)));
            const int magnitude = qMin(qAbs(v) + 132, 32767);
            int segment = 0;
            while (segment < 7 && magnitude > (256 << segment) - 1)
                ++segment;
            const int step = 1 << (segment + 3);
            if (qAbs(d - v) > step)
                QFAIL(qPrintable(QString("input %1 decodes to %2, step %3").arg(v).arg(d).arg(step)));
            if (d < previous)
                QFAIL(qPrintable(QString("decoded value falls at input %1").arg(v)));
            previous = d;
        }
    }

    void readEncodedTrimsLatency()
    {
        auto *source = new ToneAudioInput(0);
        qcAudioCapture capture(nullptr, std::unique_ptr<AudioInputBackend>(source));
        qint64 now = 0;
        capture.setClock([&now] { return now; });
        QVERIFY(capture.startCapture());
        QVector<int16_t> samples(2000);
        for (int i = 0; i < samples.size(); ++i)
            samples[i] = int16_t(i * 15 - 15000);
        // 2,000 bytes are within the budget: the oldest block first.
        source->append(samplesLE(samples.mid(0, 1000)));
        capture.pump();
        QCOMPARE(capture.bytesReady(), 2000);
        unsigned char out[320];
        QCOMPARE(capture.readEncoded(out, 320), 320);
        for (int i = 0; i < 320; ++i)
            QCOMPARE(int(out[i]), int(linearToMuLaw(samples[i])));
        QCOMPARE(capture.bytesReady(), 1360);
        QCOMPARE(capture.readEncoded(out, 320), 320);
        QCOMPARE(capture.bytesReady(), 720);
        QCOMPARE(capture.readEncoded(out, 320), 320);
        QCOMPARE(capture.bytesReady(), 80);
        QCOMPARE(capture.readEncoded(out, 320), 0);
        QCOMPARE(capture.trimmedBytes(), 0);

        // A lump of 245 ms a second later, read 245 ms after it came: its
        // oldest 720 bytes and the 80 left are older than that lump's delay
        // and the budget. Being queued is no age: read at once, none was.
        now = 1000;
        source->append(samplesLE(samples.mid(0, 1960)));
        capture.pump();
        now = 1245;
        QCOMPARE(capture.readEncoded(out, 320), 320);
        for (int i = 0; i < 320; ++i)
            QCOMPARE(int(out[i]), int(linearToMuLaw(samples[360 + i])));
        QCOMPARE(capture.trimmedBytes(), 800);
        QCOMPARE(capture.bytesReady(), 2560);
        QCOMPARE(capture.readEncoded(out, 2049), 0);

        char raw[2600];
        QCOMPARE(capture.readRaw(raw, 2561), 0);
        QCOMPARE(capture.readRaw(raw, 2560), 2560);
        QCOMPARE(QByteArray(raw, 2560), samplesLE(samples.mid(680, 1280)));
        // A raw reader that fell behind gets no stale bytes either.
        source->append(samplesLE(samples.mid(0, 320)));
        capture.pump();
        now = 1700;
        QCOMPARE(capture.readRaw(raw, 640), 0);
        QCOMPARE(capture.trimmedBytes(), 1440);

        QVERIFY(!capture.startCapture());
        QCOMPARE(capture.lastError(), 11);
        QVERIFY(capture.stopCapture());
        QVERIFY(!capture.stopCapture());
    }

    void inputLumps_data()
    {
        QTest::addColumn<int>("lumpSamples");
        QTest::addColumn<int>("lumps");
        QTest::newRow("10 ms") << 80 << 200;
        QTest::newRow("40 ms") << 320 << 50;
        QTest::newRow("50 ms") << 400 << 40;
        QTest::newRow("2 s") << 16000 << 3;
    }

    // Whatever the lumps the input hands over, a reader that keeps up gets
    // every sample, in order, in blocks of 320: a lump longer than the
    // budget is no later for being long.
    void inputLumps()
    {
        QFETCH(int, lumpSamples);
        QFETCH(int, lumps);
        auto *source = new ToneAudioInput(0);
        qcAudioCapture capture(nullptr, std::unique_ptr<AudioInputBackend>(source));
        QVERIFY(capture.startCapture());
        quint32 seed = 1;
        QVector<int16_t> expected, all;
        QByteArray sent;
        unsigned char block[320];
        for (int l = 0; l < lumps; ++l) {
            QVector<int16_t> lump(lumpSamples);
            for (int16_t &v : lump) {
                seed = seed * 1103515245u + 12345u;
                v = int16_t(seed >> 16);
            }
            all += lump;
            source->append(samplesLE(lump));
            capture.pump();
            // As the talk loop does on each pass.
            while (capture.readEncoded(block, 320) == 320)
                sent.append(reinterpret_cast<const char *>(block), 320);
        }
        expected = all.mid(0, all.size() / 320 * 320);
        QCOMPARE(capture.trimmedBytes(), 0);
        QCOMPARE(sent.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(int(uint8_t(sent[i])), int(linearToMuLaw(expected[i])));
    }

    // Room for the largest lumps; beyond it the oldest bytes give way, and
    // are counted as dropped.
    void fifoKeepsItsRoom()
    {
        auto *source = new ToneAudioInput(0);
        qcAudioCapture capture(nullptr, std::unique_ptr<AudioInputBackend>(source));
        // Which bytes are late depends on the time of each read: a clock that
        // stands still keeps what is read a whole number of blocks.
        capture.setClock([] { return qint64(100000); });
        QVERIFY(capture.startCapture());
        constexpr int room = qcAudioCapture::kFifoBytes;
        QVERIFY(room >= 4 * qcAudioCapture::kBytesPerSecond);
        source->append(QByteArray(room + 4000, 'a') + QByteArray(1000, 'b'));
        capture.pump();
        QCOMPARE(capture.bytesReady(), room);
        QCOMPARE(capture.trimmedBytes(), 5000);
        // A lump this long is more than the longest delay: a reader gets
        // its newest part, the rest is late.
        QByteArray raw;
        char block[640];
        while (capture.readRaw(block, 640) == 640)
            raw.append(block, 640);
        QVERIFY(raw.size() >= 640);
        QCOMPARE(raw.right(1000), QByteArray(1000, 'b'));
        QCOMPARE(capture.trimmedBytes() + raw.size() + capture.bytesReady(), qint64(room + 5000));
    }

    void lumpsAtRealTimePace_data()
    {
        QTest::addColumn<int>("lumpMs");
        QTest::newRow("20 ms") << 20;
        QTest::newRow("100 ms") << 100;
        QTest::newRow("500 ms") << 500;
        QTest::newRow("2 s") << 2000;
    }

    // Two talks as the talk thread runs them (a pass every 10 ms, the pump
    // every 20) on a clock of the test's own, from an input that hands over
    // its samples at the real rate in lumps. In the first the sender stalls
    // for 3 s and the oldest samples give way; the second starts its count
    // again, and in its 30 s sends every sample, in order, one block a pass
    // at most, none later than the lump and the budget.
    void lumpsAtRealTimePace()
    {
        QFETCH(int, lumpMs);
        qint64 now = 0;
        const AudioClock clock = [&now] { return now; };
        auto *mic = new LumpInput(lumpMs, clock);
        qcAudioCapture capture(nullptr, std::unique_ptr<AudioInputBackend>(mic));
        capture.setClock(clock);
        QVERIFY(capture.startCapture());
        QByteArray sent;
        QVector<qint64> sentAt;
        int mostInAPass = 0;
        auto talk = [&](qint64 ms, qint64 stallFrom, qint64 stallTo) {
            sent.clear();
            sentAt.clear();
            capture.beginTalk();
            unsigned char block[320];
            for (const qint64 end = now + ms; now < end;) {
                now += 10;
                if (now % qcAudioCapture::kPumpMs == 0)
                    capture.pump();
                int frames = 0;
                while (!(now >= stallFrom && now < stallTo) &&
                       capture.readEncoded(block, 320, qcAudioCapture::Due) == 320) {
                    sent.append(reinterpret_cast<const char *>(block), 320);
                    sentAt.append(now);
                    mostInAPass = qMax(mostInAPass, ++frames);
                }
            }
            while (capture.readEncoded(block, 320) == 320)
                sent.append(reinterpret_cast<const char *>(block), 320);
        };
        talk(10000, 5000, 8000);
        QVERIFY(capture.trimmedBytes() > 0);
        QVERIFY(capture.trimmedBytes() <= 3000 * 16);

        mostInAPass = 0;
        talk(30000, 0, 0);
        QCOMPARE(capture.trimmedBytes(), 0);
        QVERIFY2(sent.size() >= 30 * 8000 * 95 / 100, qPrintable(QString::number(sent.size())));
        const qint64 first = LumpInput::indexOf(sent, 0, mic->made());
        QVERIFY(first >= 0);
        for (int i = 0; i < sent.size(); ++i)
            if (uint8_t(sent[i]) != linearToMuLaw(LumpInput::sample(first + i)))
                QFAIL(qPrintable(QString("sample %1 of the talk is not the microphone's").arg(i)));
        QCOMPARE(mostInAPass, 1);
        double latest = 0;
        for (int f = 0; f < sentAt.size(); ++f)
            latest = qMax(latest, sentAt[f] - mic->recordedMs(first + 320 * f));
        QVERIFY2(latest <= qMax(lumpMs, 40) + qcAudioCapture::kLatencyBudgetMs, qPrintable(QString::number(latest)));
    }

    void talkBeginsAtItsStart_data()
    {
        QTest::addColumn<int>("lumpMs");
        QTest::newRow("40 ms") << 40;
        QTest::newRow("500 ms") << 500;
        QTest::newRow("2 s") << 2000;
    }

    // The talk begins at 1,010 ms, inside a lump the input hands over later:
    // the device gets every sample from that moment on, and none from
    // before, the lump that reaches back before it included.
    void talkBeginsAtItsStart()
    {
        QFETCH(int, lumpMs);
        PacedTalk t(lumpMs);
        t.run(1010);
        t.begin();
        t.run(8000);
        t.stop();
        const QVector<qint64> at = t.blockIndexes();
        QVERIFY(!at.isEmpty());
        QCOMPARE(at.first(), qint64(1010 * 8));
        QCOMPARE(at.last(), at.first() + 320 * (at.size() - 1));
        QCOMPARE(qint64(at.size()), (t.mic->made() - 1010 * 8) / 320);
        QCOMPARE(t.capture.trimmedBytes(), 0);
    }

    void pumpStalls_data()
    {
        QTest::addColumn<int>("lumpMs");
        QTest::addColumn<int>("stallMs");
        QTest::addColumn<int>("stalls");
        QTest::newRow("40 ms lumps, three 0.5 s") << 40 << 500 << 3;
        QTest::newRow("500 ms lumps, three 0.5 s") << 500 << 500 << 3;
        QTest::newRow("2 s lumps, three 0.5 s") << 2000 << 500 << 3;
        QTest::newRow("40 ms lumps, 2 s") << 40 << 2000 << 1;
        QTest::newRow("40 ms lumps, 7 s") << 40 << 7000 << 1;
        QTest::newRow("2 s lumps, 7 s") << 2000 << 7000 << 1;
        QTest::newRow("40 ms lumps, 12 s") << 40 << 12000 << 1;
    }

    // The program stalls (no pump) while the talk thread goes on, every
    // 10 s. The pass after the next pump sends again; what is older than the
    // longest delay and the budget is dropped and counted (and a piece of a
    // block that waited for the rest), the rest goes in order; then the talk
    // runs at the microphone's pace, and once the late lumps are out, at the
    // delay it had before them.
    void pumpStalls()
    {
        QFETCH(int, lumpMs);
        QFETCH(int, stallMs);
        QFETCH(int, stalls);
        PacedTalk t(lumpMs);
        t.begin();
        qint64 resumed = 0;
        for (int i = 1; i <= stalls; ++i) {
            resumed = i * 10000 + stallMs;
            t.run(resumed - 10, i * 10000, resumed);
            const int before = t.sentAt.size();
            t.run(resumed);
            QVERIFY2(t.sentAt.size() > before, "nothing sent in the pass after the stall");
        }
        const int after = t.sentAt.size();
        t.run(resumed + 35000);
        t.stop();
        const QVector<qint64> at = t.blockIndexes();
        QCOMPARE(at.first(), qint64(0));
        QVERIFY(!at.contains(-1));
        const qint64 lostMs = t.capture.trimmedBytes() / 16;
        QCOMPARE((at.last() + 320 - 320 * at.size()) / 8, lostMs);
        const qint64 kept = qcAudioCapture::kMaxDelayMs + qcAudioCapture::kLatencyBudgetMs;
        QVERIFY2(lostMs <= stalls * (qMax<qint64>(0, stallMs + qMax(lumpMs, 40) - kept) + 40),
                 qPrintable(QString::number(lostMs)));
        double before = 0, end = 0;
        for (int f = 0; f < t.sentAt.size(); ++f) {
            const double delay = t.sentAt[f] - t.mic->recordedMs(at[f]);
            if (t.sentAt[f] >= 5000 && t.sentAt[f] < 10000)
                before = qMax(before, delay);
            if (t.sentAt[f] >= resumed + 30000)
                end = qMax(end, delay);
            if (f > after)
                QVERIFY2(t.sentAt[f] - t.sentAt[f - 1] <= qMax(lumpMs, 40) + 10,
                         qPrintable(QString("no frame from %1 ms on").arg(t.sentAt[f - 1])));
        }
        QVERIFY2(end <= before + 10, qPrintable(QString("%1 ms before, %2 ms at the end").arg(before).arg(end)));
    }

    void qtBackendWithoutInputDevice()
    {
        qcAudioCapture capture;
        if (capture.startCapture())
            QSKIP("this machine has an audio input device");
        QCOMPARE(capture.lastError(), 10);
        QVERIFY(!capture.isCapturing());
    }

    // The talk thread reads and begins talks while this thread pumps,
    // starts and stops: no buffer may pass between them outside the lock
    // (the ThreadSanitizer build runs this too).
    void readersRaceStartAndStop()
    {
        std::atomic<bool> done{false};
        qcAudioCapture *capture = new qcAudioCapture(nullptr, std::make_unique<ToneAudioInput>(1000, 8000));
        std::thread reader([&] {
            unsigned char out[320];
            char raw[640];
            while (!done) {
                capture->beginTalk();
                capture->readEncoded(out, 320);
                capture->readRaw(raw, 640);
            }
        });
        QElapsedTimer t;
        t.start();
        int cycles = 0;
        while (t.elapsed() < 2000) {
            QVERIFY(capture->startCapture());
            QThread::msleep(2);
            capture->pump();
            capture->setSuspended(true);
            capture->pump();
            capture->setSuspended(false);
            QThread::msleep(1);
            capture->pump();
            QVERIFY(capture->stopCapture());
            ++cycles;
        }
        done = true;
        reader.join();
        delete capture;
        QVERIFY(cycles > 50);
    }

    // Without a microphone only the opening frame goes out.
    void exactRequest()
    {
        ScriptServer raw({ScriptServer::write("HTTP/1.0 200 OK\r\n\r\n"), ScriptServer::readAll()});
        qcDeviceIntercom talk;
        talk.setTiming(quick());
        talk.setParams("127.0.0.1", QString::number(raw.port()), "admin", "1234", nullptr);
        talk.start();
        QTRY_VERIFY(talk.talkStarted());
        QTRY_COMPARE(raw.received().size(), 44);
        QTest::qWait(300);
        QVERIFY(talk.stopIntercom());
        QCOMPARE(raw.request(), QByteArray("POST /action/stream?subject=audiotalk HTTP/1.0 \r\nAuthorization: Basic "
                                           "YWRtaW46MTIzNA==\r\nConnection: Keep-Alive \r\nContent-Length: 0\r\n\r\n"));
        QCOMPARE(raw.received(), QByteArray::fromHex("230715200A00000014000000000000000000000000000000"
                                                     "020000000000000000000000401F000000010000"));
    }

    // The device answers with a header and then stays open and quiet, as
    // devices do: the blank line ends the answer, however long a quiet time
    // the client would otherwise wait for. What the operator says from the
    // click on reaches the device, what they said while the device had not
    // answered yet included; nothing from before the click.
    void talkFromTheFirstWord()
    {
        Sink sink;
        PacedTalk t(40);
        t.run(1000);
        qcDeviceIntercom talk;
        IntercomTiming timing;
        timing.answerMs = 600000;
        talk.setTiming(timing);
        talk.setParams("127.0.0.1", sink.port(), "admin", "1234", &t.capture);
        sink.talk->holdAnswers(true);
        talk.start();
        QTRY_COMPARE(sink.device.requests().size(), 1);
        for (; t.now < 1160; t.now += 20)
            t.capture.pump();
        sink.talk->holdAnswers(false);
        QTRY_COMPARE(sink.talk->record().opening.size(), 44);
        // Step by step, each time until the talk thread has sent what is due.
        for (; t.now < 3000; t.now += 20) {
            t.capture.pump();
            QTRY_VERIFY(t.capture.bytesReady() < 640);
        }
        QVERIFY(talk.stopIntercom());
        QCOMPARE(talk.droppedMs(), 0);
        const auto rec = sink.talk->record();
        QVERIFY(rec.continuous);
        QCOMPARE(rec.badFrames, 0);
        t.sent = rec.audio;
        const QVector<qint64> at = t.blockIndexes(1000 * 8);
        QVERIFY(!at.isEmpty());
        QCOMPARE(at.first(), qint64(1000 * 8));
        QCOMPARE(at.last(), at.first() + 320 * (at.size() - 1));
        QCOMPARE(qint64(at.size()), (t.mic->made() - 1000 * 8) / 320);
    }

    void toneReachesTheSpeaker()
    {
        Sink sink;
        ToneCapture tone(1000);
        qcDeviceIntercom talk;
        talk.setParams("127.0.0.1", sink.port(), "admin", "1234", tone.capture.get());
        talk.start();
        // The real timing: the answer's blank line ends it.
        QTRY_VERIFY(talk.talkStarted());
        QTRY_VERIFY(sink.talk->record().frames >= 1);
        const int first = sink.talk->record().frames;
        QTest::qWait(2000);
        const auto rec = sink.talk->record();
        QVERIFY(talk.stopIntercom());
        const int perSecond = (rec.frames - first) / 2;
        QVERIFY2(perSecond >= 20 && perSecond <= 30, qPrintable(QString::number(perSecond)));
        QCOMPARE(rec.opening, qcDeviceIntercom::openingFrame());
        QCOMPARE(rec.badFrames, 0);
        QCOMPARE(rec.firstSequence, 1u);
        QVERIFY(rec.continuous);
        QCOMPARE(rec.bytesAfterAnswer, qint64(44 + 344 * rec.frames));
        const double f = TalkSink::frequency(rec.audio);
        QVERIFY2(f > 950 && f < 1050, qPrintable(QString::number(f)));
        QVERIFY(TalkSink::peak(rec.audio) > 6000);
    }

    // A lump's blocks go out in order at the microphone's pace; an input
    // that stalls sends nothing and the talk still ends cleanly.
    void readyBlocksGoAtOnceAndAStallEndsCleanly()
    {
        Sink sink;
        auto *source = new ToneAudioInput(0);
        qcAudioCapture capture(nullptr, std::unique_ptr<AudioInputBackend>(source));
        QVERIFY(capture.startCapture());
        qcDeviceIntercom talk;
        talk.setTiming(quick());
        talk.setParams("127.0.0.1", sink.port(), "admin", "1234", &capture);
        talk.start();
        QTRY_VERIFY_WITH_TIMEOUT(talk.talkStarted(), 5000);
        // The lump's samples are taken as recorded up to its arrival: all of
        // them after the talk began.
        QTest::qWait(300);
        QVector<int16_t> samples(1600);
        for (int i = 0; i < samples.size(); ++i)
            samples[i] = int16_t(std::sin(i * 0.7) * (i * 10));
        source->append(samplesLE(samples));
        QTRY_COMPARE(sink.talk->record().frames, 5);
        // Stalled: nothing more arrives, nothing more is sent.
        QTest::qWait(200);
        const auto rec = sink.talk->record();
        QCOMPARE(rec.frames, 5);
        QVERIFY(rec.continuous);
        QCOMPARE(rec.badFrames, 0);
        QCOMPARE(rec.audio.size(), 1600);
        for (int i = 0; i < 1600; ++i)
            QCOMPARE(int(uint8_t(rec.audio[i])), int(linearToMuLaw(samples[i])));
        QVERIFY(talk.stopIntercom());
        QVERIFY(!talk.talkFailed());
        QTRY_VERIFY(sink.talk->record().peerClosed);
    }

    void refusedAnswers_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("password");
        QTest::newRow("http 1.1") << int(TalkSink::Answer::Http11) << "1234";
        QTest::newRow("401") << int(TalkSink::Answer::Ok) << "wrong";
        QTest::newRow("2,001 bytes") << int(TalkSink::Answer::Long) << "1234";
    }
    void refusedAnswers()
    {
        QFETCH(int, answer);
        QFETCH(QString, password);
        Sink sink;
        sink.talk->setAnswer(TalkSink::Answer(answer));
        ToneCapture tone(1000);
        qcDeviceIntercom talk;
        talk.setTiming(quick());
        talk.setParams("127.0.0.1", sink.port(), "admin", password, tone.capture.get());
        talk.start();
        QVERIFY(talk.wait(3000));
        QVERIFY(!talk.talkStarted());
        QVERIFY(talk.talkFailed());
        QCOMPARE(sink.talk->record().bytesAfterAnswer, qint64(0));
        QCOMPARE(sink.device.requests().size(), 1);
    }

    void statusLineDecides_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("talks");
        QTest::newRow("500, a 200 line later")
            << QByteArray("HTTP/1.0 500 Internal Error\r\nX: HTTP/1.0 200 OK\r\n\r\n") << false;
        QTest::newRow("1.1 500, a 1.0 200 line later")
            << QByteArray("HTTP/1.1 500 Error\r\nVia: HTTP/1.0 200\r\n\r\n") << false;
        QTest::newRow("503, a 200 answer behind it")
            << QByteArray("HTTP/1.0 503 Busy\r\n\r\nHTTP/1.0 200 OK\r\n\r\n") << false;
        QTest::newRow("404, a line holding 200") << QByteArray("HTTP/1.0 404 Not Found\r\nX: 200\r\n\r\n") << false;
        QTest::newRow("200, a 500 line later") << QByteArray("HTTP/1.0 200\r\nX: HTTP/1.0 500 Error\r\n\r\n") << true;
    }

    // Only the answer's first line says whether the device took the talk; a
    // refused talk sends nothing and ends as a failure.
    void statusLineDecides()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, talks);
        ScriptServer raw({ScriptServer::write(answer), ScriptServer::readAll()});
        qcDeviceIntercom talk;
        talk.setTiming(quick());
        talk.setParams("127.0.0.1", QString::number(raw.port()), "admin", "1234", nullptr);
        talk.start();
        if (talks)
            QTRY_COMPARE(raw.received().size(), 44);
        else
            QVERIFY2(talk.wait(5000), "the talk went on");
        QCOMPARE(talk.talkStarted(), talks);
        QVERIFY(talk.stopIntercom());
        QCOMPARE(talk.talkFailed(), !talks);
        QCOMPARE(raw.received().size(), talks ? 44 : 0);
    }

    void stopDuringAnswerWait()
    {
        Sink sink;
        sink.talk->setAnswer(TalkSink::Answer::None);
        qcDeviceIntercom talk;
        talk.setParams("127.0.0.1", sink.port(), "admin", "1234", nullptr);
        talk.start();
        QTRY_COMPARE(sink.device.requests().size(), 1);
        QTest::qWait(300);
        QVERIFY(talk.stopIntercom());
        QTest::qWait(100);
        QCOMPARE(sink.talk->record().opening.size(), 0);
        QVERIFY(!talk.talkStarted());
        QVERIFY(!talk.talkFailed());
    }

    // A device that stops reading costs whole frames only, and the talk goes
    // on once it reads again; a device that closes ends the talk as a failure.
    void fullSocketDropsWholeFrames()
    {
        Sink sink;
        ToneCapture tone(1000);
        qcDeviceIntercom talk;
        IntercomTiming timing = quick();
        timing.sendBufferBytes = 4096;
        talk.setTiming(timing);
        talk.setParams("127.0.0.1", sink.port(), "admin", "1234", tone.capture.get());
        talk.start();
        QTRY_VERIFY(sink.talk->record().frames >= 5);
        sink.talk->setReading(false);
        const int atPause = sink.talk->record().frames;
        QTRY_VERIFY_WITH_TIMEOUT(talk.droppedFrames() > 0, 30000);
        sink.talk->setReading(true);
        // More than the sockets could hold while the device did not read.
        QTRY_VERIFY_WITH_TIMEOUT(sink.talk->record().frames >= atPause + 100, 30000);
        QVERIFY(talk.isRunning());
        QVERIFY(talk.stopIntercom());
        const auto rec = sink.talk->record();
        qInfo("%d frames received, %d dropped", rec.frames, talk.droppedFrames());
        QVERIFY(talk.droppedMs() >= talk.droppedFrames() * 40);
        QCOMPARE(rec.badFrames, 0);
        QVERIFY(rec.continuous);
        QVERIFY(!talk.talkFailed());
    }

    void sinkClosingMidStream()
    {
        Sink sink;
        sink.talk->setCloseAfter(5);
        ToneCapture tone(1000);
        qcDeviceIntercom talk;
        talk.setTiming(quick());
        talk.setParams("127.0.0.1", sink.port(), "admin", "1234", tone.capture.get());
        talk.start();
        QTRY_VERIFY(sink.talk->record().peerClosed);
        // The capture is pumped by this thread's event loop, so wait in it.
        QTRY_VERIFY_WITH_TIMEOUT(talk.isFinished(), 5000);
        QVERIFY(talk.talkFailed());
    }

    void missingParametersEndAtOnce()
    {
        qcDeviceIntercom talk;
        talk.setParams("127.0.0.1", "1", "admin", "", nullptr);
        talk.start();
        QVERIFY(talk.wait(500));
    }
};

QTEST_GUILESS_MAIN(TestTalk)
#include "tst_talk.moc"
