#include <QtTest>

#include <cmath>
#include <memory>
#include <thread>

#include "tests/support/scriptserver.h"
#include "device/g711.h"
#include "device/qcaudiocapture.h"
#include "device/qcdeviceintercom.h"
#include "devicesim/device.h"
#include "devicesim/streamrouter.h"
#include "devicesim/talksink.h"

using devicesim::TalkSink;
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

        // 4,000 bytes: the oldest 800 are older than the budget.
        source->append(samplesLE(samples.mid(0, 1960)));
        capture.pump();
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

    // Whatever the lumps the input hands over, the talk loop sends every
    // sample within the latency budget, in order, in blocks of 320, and of
    // a lump longer than the budget its newest 200 ms.
    void inputLumps()
    {
        QFETCH(int, lumpSamples);
        QFETCH(int, lumps);
        auto *source = new ToneAudioInput(0);
        qcAudioCapture capture(nullptr, std::unique_ptr<AudioInputBackend>(source));
        QVERIFY(capture.startCapture());
        const int budget = qcAudioCapture::kLatencyBudgetBytes / 2;
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
            if (lumpSamples > budget)
                expected += lump.mid(lumpSamples - budget);
        }
        if (lumpSamples <= budget) {
            expected = all.mid(0, all.size() / 320 * 320);
            QCOMPARE(capture.trimmedBytes(), 0);
        }
        QCOMPARE(sent.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(int(uint8_t(sent[i])), int(linearToMuLaw(expected[i])));
    }

    void fifoKeepsOneSecond()
    {
        auto *source = new ToneAudioInput(0);
        qcAudioCapture capture(nullptr, std::unique_ptr<AudioInputBackend>(source));
        QVERIFY(capture.startCapture());
        source->append(QByteArray(20000, 'a') + QByteArray(1000, 'b'));
        capture.pump();
        QCOMPARE(capture.bytesReady(), qcAudioCapture::kFifoBytes);
        char raw[16000];
        QCOMPARE(capture.readRaw(raw, 16000), 16000);
        QCOMPARE(QByteArray(raw + 15000, 1000), QByteArray(1000, 'b'));
    }

    void qtBackendWithoutInputDevice()
    {
        qcAudioCapture capture;
        if (capture.startCapture())
            QSKIP("this machine has an audio input device");
        QCOMPARE(capture.lastError(), 10);
        QVERIFY(!capture.isCapturing());
    }

    void readersRaceStartAndStop()
    {
        std::atomic<bool> done{false};
        qcAudioCapture *capture = new qcAudioCapture(nullptr, std::make_unique<ToneAudioInput>(1000, 8000));
        std::thread reader([&] {
            unsigned char out[320];
            char raw[640];
            while (!done) {
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

    void toneReachesTheSpeaker()
    {
        Sink sink;
        ToneCapture tone(1000);
        qcDeviceIntercom talk;
        talk.setParams("127.0.0.1", sink.port(), "admin", "1234", tone.capture.get());
        QElapsedTimer t;
        t.start();
        talk.start();
        // The real answer wait: talk starts once the device has been quiet 3 s.
        QTRY_VERIFY_WITH_TIMEOUT(talk.talkStarted(), 5000);
        QVERIFY2(t.elapsed() >= 2900, qPrintable(QString::number(t.elapsed())));
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

    // Blocks that are ready together go out together, in order; an input
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
