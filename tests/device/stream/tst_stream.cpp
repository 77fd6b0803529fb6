#include <QtTest>

#include <csignal>
#include <memory>

#include "../common/clips.h"
#include "../common/frames.h"
#include "tests/support/scriptserver.h"
#include "tests/support/watchdog.h"
#include "device/playstream.h"

using frames::Recorder;
using testsupport::ScriptServer;
using S = ScriptServer;

namespace {

const QByteArray kOk = "HTTP/1.0 200 OK\r\n\r\n";

// Runs one client against a server and collects its signals on this thread.
struct Client
{
    Recorder rec;
    QObject context;
    QVector<int> statuses;
    QVector<int> progress;
    int trans = 0;
    std::unique_ptr<PlayStream> stream;

    Client(int port, const QString &password = "1234", int type = PlayStream::kSubStream,
           PlayStream::Timing timing = PlayStream::Timing(), const QString &ip = "127.0.0.1")
    {
        stream.reset(new PlayStream(ip, QString::number(port), "admin", password, &Recorder::callback, &rec,
                                    PlayStream::kModeLive));
        stream->setTiming(timing);
        QObject::connect(
            stream.get(), &PlayStream::sigConnectStatus, &context, [this](int s) { statuses.append(s); },
            Qt::QueuedConnection);
        QObject::connect(
            stream.get(), &PlayStream::sigProgress, &context, [this](int s) { progress.append(s); },
            Qt::QueuedConnection);
        QObject::connect(
            stream.get(), &PlayStream::sigTransComplete, &context, [this] { ++trans; }, Qt::QueuedConnection);
        if (stream->prepareLiveRequest(type))
            stream->start();
    }
};

QByteArray clipFrames(QVector<clips::Unit> *units)
{
    *units = clips::units(clips::read("h264-360p25.h264"), false);
    QByteArray bytes = frames::frame(10, frames::info(640, 360, 8000, 0), 0);
    uint64_t ts = 45296000;
    uint32_t seq = 0;
    for (const auto &u : *units) {
        bytes += frames::frame(u.key ? 1 : 2, u.bytes, ts, seq++);
        ts += 40;
    }
    return bytes;
}

void verifyUnits(const Recorder &rec, const QVector<clips::Unit> &units)
{
    const auto video = rec.ofKind(109);
    QCOMPARE(video.size(), units.size());
    for (int i = 0; i < units.size(); ++i) {
        QCOMPARE(video[i].data, units[i].bytes);
        QCOMPARE(video[i].subkind, units[i].key ? 1 : 2);
    }
}

} // namespace

class TestStream : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY2(!clips::dir().isEmpty(), "ARDO_CLIPS_DIR is not set"); }

    void requestBytes_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("stream");
        QTest::newRow("Latin-1 password, main") << QString::fromUtf8("pa\xC3\xA9ss") << int(PlayStream::kMainStream);
        QTest::newRow("3,000 characters, sub") << QString(3000, QLatin1Char('p')) << int(PlayStream::kSubStream);
    }
    void requestBytes()
    {
        QFETCH(QString, password);
        QFETCH(int, stream);
        ScriptServer server({S::write(kOk)});
        {
            Client c(server.port(), password, stream);
            QTRY_COMPARE(c.statuses, QVector<int>{130});
            c.stream->stop();
        }
        QCOMPARE(server.request(),
                 "GET /action/stream?subject=liveplay&stream=" + QByteArray::number(stream == PlayStream::kSubStream) +
                     " HTTP/1.0\r\nAuthorization: Basic " + QByteArray("admin:" + password.toLatin1()).toBase64() +
                     "\r\nConnection: Keep-Alive \r\nContent-length: -497391300\r\n\r\n");
    }

    void prepareOnlyForLiveStreams()
    {
        PlayStream other("127.0.0.1", "1", "a", "b", nullptr, nullptr, 2);
        QVERIFY(!other.prepareLiveRequest(6));
        PlayStream live("127.0.0.1", "1", "a", "b", nullptr, nullptr, 3);
        QVERIFY(!live.prepareLiveRequest(5));
        QVERIFY(live.prepareLiveRequest(7));
        QVERIFY(live.request().contains("stream=1 "));
    }

    void failedAnswers_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("http 1.1") << QByteArray("HTTP/1.1 200 OK\r\n\r\n");
        QTest::newRow("401") << QByteArray("HTTP/1.0 401 Unauthorized\r\n\r\n");
        QTest::newRow("500, a 200 line later")
            << QByteArray("HTTP/1.0 500 Internal Error\r\nVia: HTTP/1.0 200 OK\r\n\r\n");
        // Binary, no NUL and no status text anywhere in 1,500 bytes.
        QByteArray junk(1500, 'H');
        QTest::newRow("no text, no nul") << junk;
    }
    void failedAnswers()
    {
        QFETCH(QByteArray, answer);
        ScriptServer server({S::write(answer)});
        Client c(server.port());
        QTRY_COMPARE(c.statuses, QVector<int>{129});
        QVERIFY(c.stream->wait(2000));
        QCOMPARE(c.stream->getStatus(), 129);
    }

    void closedPortFailsAtOnce()
    {
        int port;
        {
            ScriptServer probe({});
            port = probe.port();
        }
        Client c(port);
        QVERIFY(c.stream->wait(3000));
        QTRY_COMPARE(c.statuses, QVector<int>{129});
    }

    void badAddressEndsQuietly()
    {
        Client c(80, "1234", PlayStream::kSubStream, PlayStream::Timing(), "camera.local");
        QVERIFY(c.stream->wait(2000));
        QTest::qWait(50);
        QVERIFY(c.statuses.isEmpty());
        QCOMPARE(c.stream->getStatus(), 128);
    }

    void silentDeviceFailsAfterAnswerWait()
    {
        ScriptServer server({S::sleep(60000)});
        PlayStream::Timing quick;
        quick.answerMs = 300;
        Client c(server.port(), "1234", PlayStream::kSubStream, quick);
        QVERIFY(c.stream->wait(8000));
        QTRY_COMPARE(c.statuses, QVector<int>{129});
    }

    // The real silence limit: a 6 s stall is survived, 7 s loses the connection.
    void silenceLimit()
    {
        ScriptServer server({S::write(kOk + frames::frame(1, "a", 1000)), S::sleep(6000),
                             S::write(frames::frame(2, "b", 1040)), S::sleep(60000)});
        Client c(server.port());
        QTRY_COMPARE(c.statuses, QVector<int>{130});
        QTRY_COMPARE_WITH_TIMEOUT(c.rec.size(), 2, 8000);
        QElapsedTimer t;
        t.start();
        QTRY_COMPARE_WITH_TIMEOUT(c.statuses, (QVector<int>{130, 131}), 9000);
        QVERIFY2(t.elapsed() >= 6500, qPrintable(QString::number(t.elapsed())));
    }

    void peerCloseLosesConnection()
    {
        ScriptServer server({S::write(kOk + frames::frame(1, "a", 1000)), S::sleep(200), S::close()});
        Client c(server.port());
        QTRY_COMPARE(c.statuses, (QVector<int>{130, 131}));
        QVERIFY(c.stream->wait(1000));
        QTest::qWait(50);
        QCOMPARE(c.statuses, (QVector<int>{130, 131}));
    }

    void clipArrivesWhole_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("one write") << 0;
        QTest::newRow("answer with frames, then byte by byte") << 1;
        QTest::newRow("odd pieces") << 2;
    }
    void clipArrivesWhole()
    {
        QFETCH(int, mode);
        QVector<clips::Unit> units;
        QByteArray bytes = clipFrames(&units);
        S::Script script;
        if (mode == 0) {
            script = {S::write(kOk), S::write(bytes)};
        } else if (mode == 1) {
            // Answer and first frames in one write, then byte-wise for a while.
            script = {S::write(kOk + bytes.left(1000)), S::write(bytes.mid(1000, 3000), 1), S::write(bytes.mid(4000))};
        } else {
            script = {S::write(kOk + bytes, 4093)};
        }
        ScriptServer server(script);
        Client c(server.port());
        QTRY_COMPARE_WITH_TIMEOUT(c.rec.ofKind(109).size(), units.size(), 20000);
        c.stream->stop();
        QCOMPARE(c.rec.items.first().kind, 106);
        QCOMPARE(c.rec.items.first().data, frames::info(640, 360, 8000, 0));
        verifyUnits(c.rec, units);
        QTRY_COMPARE(c.trans, 1);
        QCOMPARE(c.statuses, QVector<int>{130});
        QTRY_VERIFY(!c.progress.isEmpty());
        QCOMPARE(c.progress.first(), 45296);
    }

    void hugeFrameIsSkipped()
    {
        QByteArray bytes = frames::frame(1, frames::pattern(200, 1), 1000);
        QByteArray big = frames::pattern(5 * 1024 * 1024, 3);
        // Keep the payload free of the magic so the byte scan does not see frames in it.
        big.replace(QByteArray("\x23\x07\x15\x20", 4), QByteArray("xxxx"));
        bytes += frames::frame(2, big, 1040);
        for (int i = 0; i < 5; ++i)
            bytes += frames::frame(2, frames::pattern(300, 10 + i), 1080 + uint64_t(i) * 40);
        ScriptServer server({S::write(kOk + bytes)});
        Client c(server.port());
        QTRY_COMPARE_WITH_TIMEOUT(c.rec.size(), 6, 10000);
        c.stream->stop();
        QCOMPARE(c.rec.items.last().data, frames::pattern(300, 14));
    }

    void stopWhileConnectingToFullListener()
    {
        testsupport::LoopbackListener full(0);
        // Fill the accept queue so that the next connect hangs.
        full.fillBacklog(2);
        Client c(full.port());
        QTest::qWait(500);
        QVERIFY(c.stream->isRunning());
        {
            testsupport::Watchdog watchdog(5000, "stop");
            QVERIFY(c.stream->stop());
        }
        QVERIFY(c.stream->isFinished());
        QTest::qWait(20);
        QVERIFY(c.statuses.isEmpty());
    }

    void stopDuringAnswerWaitAndWhileStreaming()
    {
        {
            ScriptServer server({S::sleep(60000)});
            Client c(server.port());
            QTRY_VERIFY(!server.request().isEmpty());
            {
                testsupport::Watchdog watchdog(5000, "stop");
                c.stream->stop();
            }
            QVERIFY(c.stream->isFinished());
        }
        {
            S::Script script{S::write(kOk)};
            for (int i = 0; i < 200; ++i)
                script << S::write(frames::frame(2, frames::pattern(100, i), 1000 + uint64_t(i) * 40)) << S::sleep(40);
            ScriptServer server(script);
            Client c(server.port());
            QTRY_VERIFY(c.rec.size() > 5);
            {
                testsupport::Watchdog watchdog(5000, "stop");
                c.stream->stop();
            }
            QVERIFY(c.stream->isFinished());
            QTest::qWait(20);
            QCOMPARE(c.statuses, QVector<int>{130});
        }
    }

    void resetAtOnceFailsWithoutSigpipe()
    {
        QVERIFY(signal(SIGPIPE, SIG_DFL) != SIG_ERR);
        ScriptServer server({S::reset()}, true);
        Client c(server.port());
        QTRY_COMPARE(c.statuses, QVector<int>{129});
        QVERIFY(c.stream->wait(2000));
    }
};

QTEST_GUILESS_MAIN(TestStream)
#include "tst_stream.moc"
