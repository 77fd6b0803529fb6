#include <QtTest>

#include <QProcess>
#include <QTcpSocket>
#include <QUdpSocket>

#include "devicesim/clipsplitter.h"
#include "devicesim/protocols.h"

using namespace devicesim;

namespace {

QString clipsDir()
{
    return qEnvironmentVariable("ARDO_CLIPS_DIR");
}

QByteArray request(const QByteArray &line, const QString &password = "1234")
{
    return line + "\r\nAuthorization: Basic " + QByteArray("admin:" + password.toLatin1()).toBase64() +
           "\r\nConnection: Keep-Alive \r\nContent-length: -497391300\r\n\r\n";
}

// Connects, sends the request and collects what arrives for ms.
QByteArray exchange(quint16 port, const QByteArray &req, int ms, int untilBytes = -1)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    if (!s.waitForConnected(2000))
        return QByteArray();
    s.write(req);
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms && (untilBytes < 0 || got.size() < untilBytes)) {
        if (s.waitForReadyRead(50))
            got += s.readAll();
        if (s.state() != QAbstractSocket::ConnectedState)
            break;
    }
    return got + s.readAll();
}

struct Frame
{
    int type;
    qint32 length;
    quint64 ts;
    QByteArray payload;
};

// The device's frames after the answer, read by the test's own code.
QVector<Frame> parseFrames(const QByteArray &bytes, int *garbage = nullptr)
{
    QVector<Frame> out;
    int p = bytes.indexOf("\r\n\r\n");
    p = p < 0 ? 0 : p + 4;
    int skipped = 0;
    while (p + 24 <= bytes.size()) {
        if (qFromLittleEndian<quint32>(bytes.constData() + p) != 0x20150723) {
            ++p;
            ++skipped;
            continue;
        }
        const qint32 len = qFromLittleEndian<qint32>(bytes.constData() + p + 8);
        if (len < 1 || len > 4194280) {
            out.append({uchar(bytes[p + 4]), len, 0, {}});
            p += 24;
            continue;
        }
        if (p + 24 + len > bytes.size())
            break;
        out.append(
            {uchar(bytes[p + 4]), len, qFromLittleEndian<quint64>(bytes.constData() + p + 16), bytes.mid(p + 24, len)});
        p += 24 + len;
    }
    if (garbage)
        *garbage = skipped;
    return out;
}

int ffprobeCount(const QString &file, bool keyOnly)
{
    QProcess p;
    QStringList args{"-v", "error", "-select_streams", "v:0", "-show_entries", "frame=key_frame", "-of", "csv=p=0"};
    p.start("ffprobe", args << file);
    if (!p.waitForFinished(30000))
        return -1;
    const auto lines = p.readAllStandardOutput().split('\n');
    int n = 0;
    for (const QByteArray &l : lines) {
        const QByteArray t = l.trimmed();
        if (t.isEmpty())
            continue;
        if (!keyOnly || t.startsWith('1'))
            ++n;
    }
    return n;
}

} // namespace

class TestProtocols : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<Device> device;
    Protocols protocols;

private slots:
    void init()
    {
        device.reset(new Device);
        protocols = installProtocols(*device, clipsDir());
        device->setCredentials("admin", "1234");
        QVERIFY(device->start());
    }
    void cleanup()
    {
        device->stop();
        device.reset();
    }

    void splitterMatchesFfprobe_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("h264") << "h264-360p25.h264";
        QTest::newRow("h264 b-frames") << "h264-360p-main.h264";
        QTest::newRow("h265") << "h265-360p25.h265";
        QTest::newRow("h265 sub-layers") << "h265-360p-tl.h265";
    }
    void splitterMatchesFfprobe()
    {
        QFETCH(QString, file);
        const QString path = clipsDir() + "/" + file;
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const auto units = splitAccessUnits(f.readAll(), file.endsWith(".h265"));
        int keys = 0;
        for (const auto &u : units)
            keys += u.key;
        QCOMPARE(units.size(), ffprobeCount(path, false));
        QCOMPARE(keys, ffprobeCount(path, true));
    }

    void liveStreamLayout()
    {
        QElapsedTimer reading;
        reading.start();
        const QByteArray got =
            exchange(device->port(), request("GET /action/stream?subject=liveplay&stream=1 HTTP/1.0"), 1500);
        const qint64 readMs = reading.elapsed();
        QVERIFY(got.startsWith("HTTP/1.0 200 OK\r\n\r\n"));
        const auto frames = parseFrames(got);
        QVERIFY(frames.size() > 20);
        QCOMPARE(frames[0].type, 10);
        QCOMPARE(frames[0].length, 20);
        const QByteArray info = frames[0].payload;
        QCOMPARE(qFromLittleEndian<quint32>(info.constData()), 0x2u);
        QCOMPARE(qFromLittleEndian<quint16>(info.constData() + 4), quint16(640));
        QCOMPARE(qFromLittleEndian<quint16>(info.constData() + 6), quint16(360));
        QCOMPARE(qFromLittleEndian<quint32>(info.constData() + 8), 25u << 4);
        QCOMPARE(qFromLittleEndian<quint16>(info.constData() + 12), quint16(8000));
        QCOMPARE(frames[1].type, 1);
        const auto units = protocols.live->clip(1).units;
        QCOMPARE(frames[1].payload, units[0].bytes);
        quint64 last = 0;
        int video = 0;
        for (int i = 1; i < frames.size(); ++i) {
            QVERIFY(frames[i].ts >= last);
            last = frames[i].ts;
            if (frames[i].type == 3) {
                QCOMPARE(frames[i].length, 320);
            } else {
                QCOMPARE(frames[i].payload, units[video].bytes);
                QCOMPARE(frames[i].type, units[video].key ? 1 : 2);
                ++video;
            }
        }
        // Real rate: about 25 pictures a second. The device sends what is due
        // by its clock, so a loaded machine that reads late gets more, but
        // never more than the time it kept the connection open allows.
        const qint64 most = readMs / 40 + 8;
        QVERIFY2(video >= 30 && video <= most,
                 qPrintable(QStringLiteral("%1 pictures in %2 ms").arg(video).arg(readMs)));
    }

    void streamFaults()
    {
        LiveStream::Faults f;
        f.http11 = true;
        protocols.live->setFaults(f);
        QVERIFY(exchange(device->port(), request("GET /action/stream?subject=liveplay&stream=1 HTTP/1.0"), 300)
                    .startsWith("HTTP/1.1 200 OK\r\n\r\n"));
        QVERIFY(exchange(device->port(), request("GET /action/stream?subject=liveplay&stream=1 HTTP/1.0", "bad"), 300)
                    .startsWith("HTTP/1.0 401"));

        f = LiveStream::Faults();
        f.noAnswer = true;
        protocols.live->setFaults(f);
        QVERIFY(
            exchange(device->port(), request("GET /action/stream?subject=liveplay&stream=1 HTTP/1.0"), 300).isEmpty());

        f = LiveStream::Faults();
        f.corruptHeaders = true;
        f.garbage = true;
        f.shortInfo = true;
        f.closeAfterFrames = 6;
        protocols.live->setFaults(f);
        LiveStream::Options o = protocols.live->options();
        o.pacing = LiveStream::Pacing::MaxRate;
        protocols.live->setOptions(o);
        int garbage = 0;
        const auto frames = parseFrames(
            exchange(device->port(), request("GET /action/stream?subject=liveplay&stream=1 HTTP/1.0"), 2000), &garbage);
        QVERIFY(frames.size() > 2);
        QCOMPARE(frames[0].length, 12);
        QCOMPARE(frames[1].length, 20);
        QVector<qint32> bad;
        int pictures = 0;
        for (const auto &fr : frames) {
            if (fr.payload.isEmpty())
                bad.append(fr.length);
            else if (fr.type <= 2)
                ++pictures;
        }
        QCOMPARE(bad.mid(0, 4), (QVector<qint32>{0, -1, 0x7FFFFFFF, 4194281}));
        QCOMPARE(pictures, 6);
        QVERIFY(garbage >= 6 * 10);
    }

    void alarmEndpoint()
    {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, device->port());
        QVERIFY(s.waitForConnected(2000));
        s.write("POST /action/alarm?subject=notify HTTP/1.0\r\nAuthorization: Basic YWRtaW46MTIzNA==\r\n"
                "Connection: Keep-Alive \r\nContent-length: 0\r\n\r\n");
        QByteArray got;
        while (got.size() < 19 && s.waitForReadyRead(2000))
            got += s.readAll();
        QCOMPARE(got, QByteArray("HTTP/1.0 200 OK\r\n\r\n"));
        QTRY_COMPARE(protocols.alarm->openConnections(), 1);
        protocols.alarm->push(AlarmEndpoint::message("1", "MOTION"));
        QVERIFY(s.waitForReadyRead(2000));
        QCOMPARE(s.readAll(), QByteArray("<?xml version=\"1.0\" encoding=\"utf-8\"?><response><status>1</status>"
                                         "<topic>MOTION</topic></response>"));
        protocols.alarm->dropAll();
        QTRY_COMPARE(s.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(protocols.alarm->acceptedConnections(), 1);
    }

    void talkAnswers()
    {
        const QByteArray req = "POST /action/stream?subject=audiotalk HTTP/1.0 \r\nAuthorization: Basic "
                               "YWRtaW46MTIzNA==\r\nConnection: Keep-Alive \r\nContent-Length: 0\r\n\r\n";
        QCOMPARE(exchange(device->port(), req, 300), QByteArray("HTTP/1.0 200 OK\r\n\r\n"));
        protocols.talk->setAnswer(TalkSink::Answer::Long);
        const QByteArray longAnswer = exchange(device->port(), req, 300);
        QCOMPARE(longAnswer.size(), 2001);
        QVERIFY(longAnswer.endsWith("\r\n\r\n"));
        QCOMPARE(TalkSink::decodeMuLaw(0xFF), int16_t(0));
        QCOMPARE(TalkSink::decodeMuLaw(0x80), int16_t(32124));
        QCOMPARE(TalkSink::decodeMuLaw(0x00), int16_t(-32124));
    }

    // The request exactly as the client's snapshot worker sends it.
    static QByteArray snapRequest(const QByteArray &password)
    {
        return "GET /action/snap?cam=0 HTTP/1.1\r\nAuthorization: Basic " + ("admin:" + password).toBase64() +
               "\r\nConnection: Keep-Alive \r\nUser-Agent: PRYS/1.0.0\r\nAccpet: text/html, "
               "application/xhtml+xml,*/*\r\nAccept-Encoding: gzip,deflate\r\nContent-length: 0\r\n\r\n";
    }

    void snapshotEndpoint_data()
    {
        QTest::addColumn<QString>("colour");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("http11");
        QTest::addColumn<QByteArray>("expectHead");
        QTest::addColumn<QString>("expectFile"); // empty: no picture in the answer
        QTest::newRow("colour") << "red" << QByteArray("1234") << "" << false
                                << QByteArray("HTTP/1.0 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: ")
                                << "snap-red.jpg";
        QTest::newRow("no colour") << "" << QByteArray("1234") << "" << false << QByteArray("HTTP/1.0 200 OK")
                                   << "snap-test.jpg";
        QTest::newRow("http/1.1") << "green" << QByteArray("1234") << "" << true << QByteArray("HTTP/1.1 200 OK")
                                  << "snap-green.jpg";
        QTest::newRow("wrong password") << "red" << QByteArray("bad") << "" << false << QByteArray("HTTP/1.0 401")
                                        << "";
        QTest::newRow("fault 503") << "red" << QByteArray("1234") << "503" << false << QByteArray("HTTP/1.0 503") << "";
        QTest::newRow("fault drop") << "red" << QByteArray("1234") << "drop" << false << QByteArray() << "";
    }
    void snapshotEndpoint()
    {
        QFETCH(QString, colour);
        QFETCH(QByteArray, password);
        QFETCH(QString, fault);
        QFETCH(bool, http11);
        QFETCH(QByteArray, expectHead);
        QFETCH(QString, expectFile);
        LiveStream::Options o = protocols.live->options();
        o.colour = colour;
        protocols.live->setOptions(o);
        protocols.snap->setHttp11(http11);
        if (!fault.isEmpty()) {
            Fault f;
            int times = 0;
            QString error;
            QVERIFY2(Fault::parse(fault, &f, &times, &error), qPrintable(error));
            device->addFault("/action/snap", f);
        }
        const QByteArray got = exchange(device->port(), snapRequest(password), 3000, 1 << 30);
        QVERIFY2(got.startsWith(expectHead), got.left(80).constData());
        if (expectFile.isEmpty()) {
            QVERIFY(!got.contains("\xFF\xD8"));
        } else {
            QFile f(clipsDir() + "/" + expectFile);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QByteArray jpeg = f.readAll();
            QVERIFY(got.contains("Connection: close\r\n\r\n"));
            QVERIFY(got.contains("Content-Length: " + QByteArray::number(jpeg.size()) + "\r\n"));
            QVERIFY(got.endsWith("\r\n\r\n" + jpeg));
        }
        QCOMPARE(device->requests().size(), 1);
        QCOMPARE(device->requests().first().path, QByteArray("/action/snap"));
    }

    void snapshotOverride()
    {
        protocols.snap->setSnapshot(QByteArray(1023, 'x'));
        QVERIFY(
            exchange(device->port(), snapRequest("1234"), 3000, 1 << 30).endsWith("\r\n\r\n" + QByteArray(1023, 'x')));
        protocols.snap->setSnapshot({});
        QVERIFY(protocols.snap->picture().startsWith("\xFF\xD8"));
    }

    void discoveryLayoutAndLoopbackOnly()
    {
        DiscoveryResponder responder;
        QString error;
        QVERIFY(!responder.start({QHostAddress("192.0.2.1")}, 0, false, &error));
        QVERIFY(error.contains("loopback"));
        QVERIFY(!responder.start({QHostAddress::AnyIPv4}, 0, false, &error));
        DiscoveryResponder::Faults f;
        f.broadcastReplies = true; // refused without the namespace switch: replies go to the sender
        responder.setFaults(f);
        QVERIFY(responder.start({QHostAddress("127.0.0.1")}, 0, false, &error));

        QUdpSocket client;
        QVERIFY(client.bind(QHostAddress("127.0.0.1"), 0));
        client.writeDatagram(QByteArray::fromHex("F0DEBCFA88C30800"), QHostAddress("127.0.0.1"), responder.port());
        QTRY_VERIFY(client.hasPendingDatagrams());
        QByteArray reply(int(client.pendingDatagramSize()), '\0');
        client.readDatagram(reply.data(), reply.size());
        QCOMPARE(reply.size(), 480);
        QCOMPARE(qFromLittleEndian<quint32>(reply.constData()), 0xFABCDEF0u);
        QCOMPARE(qFromLittleEndian<quint32>(reply.constData() + 8), 302001234u);
        QCOMPARE(QByteArray(reply.constData() + 152), QByteArray("devicesim"));
        QCOMPARE(QByteArray(reply.constData() + 308), QByteArray("127.0.0.1"));
        QCOMPARE(qFromLittleEndian<quint32>(reply.constData() + 452), 18080u);

        QByteArray get(636, '\0');
        qToLittleEndian<quint32>(0xFABCDEF0, get.data());
        qToLittleEndian<quint16>(0xC38A, get.data() + 4);
        qToLittleEndian<quint16>(636, get.data() + 6);
        memcpy(get.data() + 8, "00:11:22:33:44:55", 17);
        client.writeDatagram(get, QHostAddress("127.0.0.1"), responder.port());
        QTRY_VERIFY(client.hasPendingDatagrams());
        reply.resize(int(client.pendingDatagramSize()));
        client.readDatagram(reply.data(), reply.size());
        QCOMPARE(reply.size(), 636);
        QCOMPARE(QByteArray(reply.constData() + 8), QByteArray("00:11:22:33:44:55"));
        QCOMPARE(qFromLittleEndian<quint32>(reply.constData() + 36), 1u);
        QCOMPARE(QByteArray(reply.constData() + 40), QByteArray("127.0.0.1"));
        QCOMPARE(QByteArray(reply.constData() + 56), QByteArray("255.0.0.0"));
        QCOMPARE(QByteArray(reply.constData() + 204), QByteArray("127.0.0.1"));
    }
};

QTEST_GUILESS_MAIN(TestProtocols)
#include "tst_protocols.moc"
