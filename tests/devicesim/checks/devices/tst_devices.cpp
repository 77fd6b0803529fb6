// Several devices in one program, and the controls a test has over a
// running device's live stream.

#include "devicesim/device.h"
#include "devicesim/protocols.h"

#include <QProcess>
#include <QTcpSocket>
#include <QtEndian>
#include <QtTest>

using namespace devicesim;

namespace {

QByteArray liveRequest(int stream, const QByteArray &userColonPassword)
{
    return "GET /action/stream?subject=liveplay&stream=" + QByteArray::number(stream) +
           " HTTP/1.0\r\nAuthorization: Basic " + userColonPassword.toBase64() + "\r\n\r\n";
}

// Reads a live connection and keeps what came, frame by frame.
struct LiveReader
{
    QTcpSocket socket;
    QByteArray pending;
    QList<QPair<int, QByteArray>> frames; // type, payload
    bool answered = false;

    bool open(const Device &device, int stream)
    {
        socket.connectToHost(device.address(), device.port());
        if (!socket.waitForConnected(3000))
            return false;
        socket.write(liveRequest(stream, "admin:1234"));
        return true;
    }
    void pump()
    {
        socket.waitForReadyRead(20);
        pending += socket.readAll();
        if (!answered) {
            const int end = pending.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            answered = pending.startsWith("HTTP/1.0 200");
            pending.remove(0, end + 4);
        }
        while (pending.size() >= 24) {
            const int length = qFromLittleEndian<qint32>(pending.constData() + 8);
            if (pending.size() < 24 + length)
                break;
            frames.append({uchar(pending[4]), pending.mid(24, length)});
            pending.remove(0, 24 + length);
        }
    }
    int videoFrames() const
    {
        int n = 0;
        for (const auto &f : frames)
            n += f.first == 1 || f.first == 2;
        return n;
    }
};

} // namespace

class TestDevices : public QObject
{
    Q_OBJECT

private slots:
    void programServesOneDevicePerAddress()
    {
        QProcess cli;
        cli.start(QStringLiteral(DEVICESIM_CLI),
                  {"--device", "127.0.0.41:0,admin,1234,blue", "--device", "127.0.0.42:0,root,secret"});
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += cli.readAllStandardOutput()).count('\n') >= 2, 10000);
        QList<QByteArray> lines = out.trimmed().split('\n');
        QVERIFY2(lines[0].startsWith("listening on 127.0.0.41:") && lines[0].endsWith(", colour blue"), lines[0]);
        QVERIFY2(lines[1].startsWith("listening on 127.0.0.42:"), lines[1]);
        auto portOf = [](const QByteArray &line) {
            const QByteArray rest = line.mid(line.indexOf(':') + 1);
            return quint16(rest.left(rest.indexOf(':')).toUInt());
        };
        auto get = [](const char *address, quint16 port, const QByteArray &pair) {
            QTcpSocket s;
            s.connectToHost(QHostAddress(QString(address)), port);
            if (!s.waitForConnected(3000))
                return QByteArray();
            s.write("GET /action/get?subject=sample HTTP/1.0\r\nAuthorization: Basic " + pair.toBase64() + "\r\n\r\n");
            QByteArray reply;
            while (s.waitForReadyRead(3000))
                reply += s.readAll();
            return reply;
        };
        QVERIFY(get("127.0.0.41", portOf(lines[0]), "admin:1234").startsWith("HTTP/1.0 200"));
        QVERIFY(get("127.0.0.41", portOf(lines[0]), "root:secret").startsWith("HTTP/1.0 401"));
        QVERIFY(get("127.0.0.42", portOf(lines[1]), "root:secret").startsWith("HTTP/1.0 200"));
        out.clear();
        QTRY_VERIFY_WITH_TIMEOUT((out += cli.readAllStandardOutput()).count('\n') >= 3, 5000);
        lines = out.trimmed().split('\n');
        QCOMPARE(lines[0], QByteArray("127.0.0.41: GET /action/get?subject=sample user \"admin\" accepted status 200"));
        QCOMPARE(lines[2], QByteArray("127.0.0.42: GET /action/get?subject=sample user \"root\" accepted status 200"));

        QProcess bad;
        bad.start(QStringLiteral(DEVICESIM_CLI), {"--device", "127.0.0.41:0,admin"});
        QVERIFY(bad.waitForFinished(10000));
        QCOMPARE(bad.exitCode(), 2);
        cli.terminate();
        QVERIFY(cli.waitForFinished(10000));
        QCOMPARE(cli.exitCode(), 0);
    }

    // The program prints one line per talk connection, each counted from its
    // own opening frame.
    void programTellsEachTalk()
    {
        QProcess cli;
        cli.start(QStringLiteral(DEVICESIM_CLI), {"--device", "127.0.0.44:0,admin,1234"});
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += cli.readAllStandardOutput()).contains('\n'), 10000);
        const QByteArray rest = out.mid(out.indexOf(':') + 1);
        const quint16 port = quint16(rest.left(rest.indexOf(':')).toUInt());
        QByteArray frames = QByteArray::fromHex(
            "230715200A00000014000000000000000000000000000000020000000000000000000000401F000000010000");
        for (quint32 seq = 1; seq <= 2; ++seq) {
            QByteArray head(24, '\0');
            qToLittleEndian<quint32>(0x20150723, head.data());
            head[4] = 3;
            qToLittleEndian<qint32>(320, head.data() + 8);
            qToLittleEndian<quint32>(seq, head.data() + 12);
            frames += head + QByteArray(320, char(0xFF));
        }
        out.clear();
        for (int talk = 0; talk < 2; ++talk) {
            QTcpSocket s;
            s.connectToHost(QHostAddress("127.0.0.44"), port);
            QVERIFY(s.waitForConnected(3000));
            s.write("POST /action/stream?subject=audiotalk HTTP/1.0\r\nAuthorization: Basic " +
                    QByteArray("admin:1234").toBase64() + "\r\n\r\n");
            QVERIFY(s.waitForReadyRead(5000));
            s.write(frames);
            QVERIFY(s.waitForBytesWritten(3000));
            QTest::qWait(200);
            s.disconnectFromHost();
            QTRY_VERIFY_WITH_TIMEOUT((out += cli.readAllStandardOutput()).count("talk:") > talk, 10000);
        }
        const QByteArray line = "talk: opening frame ok, 2 frames, seq 1..2 continuous, 0 Hz";
        QCOMPARE(out.count(line), 2);
        cli.terminate();
        QVERIFY(cli.waitForFinished(10000));
    }

    void liveStreamControls()
    {
        Device device;
        device.setCredentials("admin", "1234");
        const Protocols protocols = installProtocols(device, qEnvironmentVariable("ARDO_CLIPS_DIR"));
        QVERIFY(device.start(QHostAddress("127.0.0.43"), 0));
        LiveReader sub;
        QVERIFY(sub.open(device, 1));
        QTRY_VERIFY((sub.pump(), sub.videoFrames() > 3));
        QVERIFY(sub.answered);
        QCOMPARE(sub.frames.first().first, 10);

        // Stalled: nothing comes; resumed: the pictures follow again.
        protocols.live->setStalled(true);
        QTest::qWait(100);
        sub.pump();
        const int held = sub.videoFrames();
        for (int i = 0; i < 15; ++i)
            sub.pump();
        QVERIFY(sub.videoFrames() <= held + 1);
        protocols.live->setStalled(false);
        QTRY_VERIFY((sub.pump(), sub.videoFrames() > held + 5));

        // Another size: a new stream information, then the other clip.
        protocols.live->switchClip(1, "h264-240p25.h264", 320, 240);
        auto switched = [&] {
            sub.pump();
            for (int i = 1; i < sub.frames.size(); ++i)
                if (sub.frames[i].first == 10)
                    return qFromLittleEndian<quint16>(sub.frames[i].second.constData() + 4) == 320 &&
                           qFromLittleEndian<quint16>(sub.frames[i].second.constData() + 6) == 240;
            return false;
        };
        QTRY_VERIFY(switched());
        const int atSwitch = sub.videoFrames();
        QTRY_VERIFY((sub.pump(), sub.videoFrames() > atSwitch + 3));

        // The device drops the sub stream; the log has its opening and closing.
        LiveReader main;
        QVERIFY(main.open(device, 0));
        QTRY_VERIFY((main.pump(), main.videoFrames() > 0));
        auto isSub = [](const LoggedRequest &r) { return r.query.contains("stream=1"); };
        auto isMain = [](const LoggedRequest &r) { return r.query.contains("stream=0"); };
        QCOMPARE(device.openConnections(isSub), 1);
        const quint16 subPort = sub.socket.localPort(), mainPort = main.socket.localPort();
        protocols.live->closeConnections(1);
        QTRY_COMPARE(sub.socket.state(), QAbstractSocket::UnconnectedState);
        QTRY_COMPARE(device.openConnections(isSub), 0);
        QCOMPARE(device.openConnections(isMain), 1);
        int opens = 0, closes = 0;
        for (const ConnectionEvent &e : device.connectionLog())
            if (e.peerPort == subPort || e.peerPort == mainPort)
                (e.open ? opens : closes) += 1;
        QCOMPARE(opens, 2);
        QCOMPARE(closes, 1);
        main.socket.abort();
        QTRY_COMPARE(device.openConnections(isMain), 0);
    }
};

QTEST_GUILESS_MAIN(TestDevices)
#include "tst_devices.moc"
