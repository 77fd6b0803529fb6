#include <QtTest>

#include <QPointer>

#include <optional>

#include "viewfixture.h"

#include "devicesim/protocols.h"
#include "media/cliveplayer.h"
#include "media/qccaptureserver.h"
#include "media/qcremotecapture.h"
#include "platform/clock.h"
#include "tests/support/loopback.h"
#include "tests/support/pictures.h"
#include "tests/support/readonlyfile.h"
#include "tests/support/scriptserver.h"
#include "tests/support/seconddisk.h"
#include "tests/support/systemlog.h"
#include "tests/support/watchdog.h"

using testsupport::ScriptServer;

Q_DECLARE_METATYPE(CaptureTask_t)
Q_DECLARE_METATYPE(ScriptServer::Script)

namespace {

struct Request
{
    QString ip;
    quint32 type;
};

QByteArray jpegOf(int size)
{
    QByteArray j = "\xFF\xD8\xFF\xE0";
    j += QByteArray(size - 6, 'j');
    return j + "\xFF\xD9";
}

QByteArray reply(const QByteArray &status, const QByteArray &body, bool withLength = true)
{
    QByteArray r = status + "\r\nContent-Type: image/jpeg\r\n";
    if (withLength)
        r += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    return r + "Connection: close\r\n\r\n" + body;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

CaptureTask_t task(int start, int end, int remaining, int interval, const QString &ip = "127.0.0.1",
                   const QString &password = "1234", const QString &port = "80")
{
    CaptureTask_t t;
    t.ip = ip;
    t.port = port;
    t.user = "admin";
    t.password = password;
    t.start = start;
    t.end = end;
    t.remaining = remaining;
    t.interval = interval;
    return t;
}

} // namespace

class TestSnapshot : public QObject
{
    Q_OBJECT
    platform::FakeClock clock;

private slots:
    void init() { platform::setClock(&clock); }
    void cleanup() { platform::setClock(nullptr); }

    void taskRules_data()
    {
        QTest::addColumn<CaptureTask_t>("task");
        QTest::addColumn<int>("at");          // seconds of the day at the first tick; one second per tick
        QTest::addColumn<QString>("pattern"); // per tick: the request type, '-' none
        QTest::addColumn<int>("left");        // tasks after the last tick
        QTest::newRow("alarm 3") << task(0, 0, 3, 5) << 43200 << "AAA-" << 0;
        QTest::newRow("timed interval 5") << task(0, 86398, 0, 5) << 43200 << "----T----T" << 1;
        QTest::newRow("timed interval 1") << task(0, 86398, 0, 1) << 43200 << "TTT" << 1;
        QTest::newRow("timed interval 0") << task(0, 86398, 0, 0) << 43200 << "TTT" << 1;
        QTest::newRow("ends at 86398") << task(80000, 86398, 0, 1) << 86397 << "T--" << 0;
        QTest::newRow("before window") << task(43300, 43400, 0, 1) << 43200 << "---" << 1;
    }
    void taskRules()
    {
        QFETCH(CaptureTask_t, task);
        QFETCH(int, at);
        QFETCH(QString, pattern);
        QFETCH(int, left);
        qcCaptureServer server;
        QString got;
        server.setRequestSink([&](const QString &, const QString &, const QString &, const QString &, quint32 type) {
            got += type == qcRemoteCapture::kAlarmCapture ? 'A' : 'T';
        });
        QVERIFY(server.setCapturePath(QDir::tempPath()));
        QVERIFY(server.addCaptureTask(task));
        for (int n = task.remaining - 1; n >= 0; --n)
            QTest::ignoreMessage(QtDebugMsg, qPrintable(QString("------Alarm Capture No.:%1-----").arg(n)));
        clock.set(QDateTime(QDate(2024, 3, 4), QTime(0, 0).addSecs(at)));
        QString ticks;
        for (int i = 0; i < pattern.size(); ++i) {
            got.clear();
            server.tick();
            ticks += got.isEmpty() ? QString("-") : got;
            clock.advance(1000);
        }
        QCOMPARE(ticks, pattern);
        QCOMPARE(server.tasks().size(), left);
        QVERIFY(!server.worker());
    }

    void addRules_data()
    {
        QTest::addColumn<CaptureTask_t>("second");
        QTest::addColumn<bool>("taskAccepted");
        QTest::addColumn<bool>("requestAccepted");
        QTest::newRow("duplicate") << task(0, 0, 3, 1) << false << true;
        QTest::newRow("other remaining") << task(0, 0, 2, 1) << true << true;
        QTest::newRow("part above 255") << task(0, 0, 3, 1, "256.1.1.1") << false << false;
        QTest::newRow("trailing text") << task(0, 0, 3, 1, "1.2.3.4/../x") << false << false;
        QTest::newRow("empty password") << task(0, 0, 3, 1, "127.0.0.1", "") << false << false;
        QTest::newRow("port 0") << task(0, 0, 3, 1, "127.0.0.2", "1234", "0") << true << false;
        QTest::newRow("port 65536") << task(0, 0, 3, 1, "127.0.0.2", "1234", "65536") << true << false;
        QTest::newRow("start after end") << task(50, 40, 0, 1) << false << true;
    }
    void addRules()
    {
        QFETCH(CaptureTask_t, second);
        QFETCH(bool, taskAccepted);
        QFETCH(bool, requestAccepted);
        qcCaptureServer server;
        QVERIFY(server.addCaptureTask(task(0, 0, 3, 1)));
        QCOMPARE(server.addCaptureTask(second), taskAccepted);
        qcRemoteCapture worker(nullptr, QString());
        QCOMPARE(worker.addRequest(second.ip, second.port, second.user, second.password, 226), requestAccepted);
        QVERIFY(!worker.addRequest("127.0.0.1", "80", "admin", "1234", 227));
    }

    void queueLimit()
    {
        qcRemoteCapture worker(nullptr, QString());
        for (int i = 0; i < qcRemoteCapture::kMaxRequests; ++i)
            QVERIFY(worker.addRequest("127.0.0.1", "80", "admin", "1234", 225));
        QVERIFY(!worker.addRequest("127.0.0.1", "80", "admin", "1234", 225));
        QCOMPARE(worker.pendingRequests(), qcRemoteCapture::kMaxRequests);
    }

    void requestBytes()
    {
        QCOMPARE(qcRemoteCapture::buildRequest("admin", "1234"),
                 QByteArray("GET /action/snap?cam=0 HTTP/1.1\r\nAuthorization: Basic YWRtaW46MTIzNA==\r\n"
                            "Connection: Keep-Alive \r\nUser-Agent: PRYS/1.0.0\r\nAccpet: text/html, "
                            "application/xhtml+xml,*/*\r\nAccept-Encoding: gzip,deflate\r\nContent-length: 0\r\n\r\n"));
        QVERIFY(qcRemoteCapture::buildRequest("admin", QString(3000, 'p')).isEmpty());
    }
    // File names, and two pictures of one millisecond: two whole files, the
    // second under the next millisecond.
    void sameMillisecond()
    {
        QTemporaryDir root;
        const QDateTime at(QDate(2024, 3, 3), QTime(9, 5, 7, 42));
        QVERIFY(qcRemoteCapture::makeCaptureFileName(root.path(), "10.0.0.5", 225, at)
                    .endsWith("/20240303/10.0.0.5/PICV1_TIMING_10-0-0-5_2024-03-03-09-05-07-0042.jpg"));
        const QString first = qcRemoteCapture::storePicture(root.path(), "192.168.1.20", 226, at, jpegOf(4000));
        const QString second = qcRemoteCapture::storePicture(root.path(), "192.168.1.20", 226, at, jpegOf(2000));
        QCOMPARE(first, root.path() + "/20240303/192.168.1.20/PICV1_ALARM_192-168-1-20_2024-03-03-09-05-07-0042.jpg");
        QVERIFY(second.endsWith("-0043.jpg"));
        QCOMPARE(readFile(first), jpegOf(4000));
        QCOMPARE(readFile(second), jpegOf(2000));
    }

    // A snapshot disk that fills is told once, and once more when a picture
    // is stored again; the pictures stored stay whole, the lost ones leave
    // nothing behind.
    void fullDiskToldOnceEachWay()
    {
        QTemporaryDir top;
        const QString root = top.path() + "/CaptureFile";
        testsupport::SecondDisk disk(root, "2m");
        if (!disk.mounted())
            QSKIP("needs root and a mount namespace of its own (tests/support/ownmounts.sh)");
        testsupport::SystemLog log;
        const QDateTime at(QDate(2024, 3, 3), QTime(9, 5, 7));
        const QByteArray jpeg = jpegOf(100000);
        auto store = [&](int second) {
            return qcRemoteCapture::storePicture(root, "10.0.0.5", 225, at.addSecs(second), jpeg);
        };
        QStringList stored;
        int lost = 0;
        for (int i = 0; i < 40; ++i) {
            const QString path = store(i);
            if (path.isEmpty())
                ++lost;
            else
                stored << path;
        }
        QVERIFY(lost > 1 && stored.size() > 1);
        QCOMPARE(testsupport::filesUnder(root, "*.jpg").size(), stored.size());
        for (const QString &path : qAsConst(stored))
            QCOMPARE(readFile(path), jpeg);
        QStringList events = log.abnormal();
        QCOMPARE(events.size(), 1);
        QVERIFY2(events.at(0).startsWith("snapshot failed|10.0.0.5|"), qPrintable(events.at(0)));

        QVERIFY(QFile::remove(stored.at(0)) && QFile::remove(stored.at(1)));
        QVERIFY(!store(100).isEmpty());
        QVERIFY(!store(101).isEmpty());
        events = log.abnormal();
        QCOMPARE(events.size(), 2);
        QVERIFY2(events.at(1).startsWith("snapshot disk full ended|10.0.0.5|"), qPrintable(events.at(1)));
        QVERIFY(events.at(1).contains(QString("%1 pictures were not stored").arg(lost)));
    }

    // A picture that cannot be stored is told the one way on both roads, the
    // device's and a view's: once when the first is lost, with its cause, and
    // once when a picture is stored again; the view's owner hears of each
    // failure at once. Nothing is left on the disk for a lost picture.
    void notStoredIsTold_data()
    {
        QTest::addColumn<bool>("manual");
        QTest::addColumn<bool>("fullDisk"); // else a folder that cannot be written
        QTest::addColumn<QString>("cause");
        QTest::newRow("timed, read-only folder") << false << false << "it cannot be written";
        QTest::newRow("manual, full disk") << true << true << "the disk is full";
        QTest::newRow("manual, read-only folder") << true << false << "it cannot be written";
    }
    void notStoredIsTold()
    {
        QFETCH(bool, manual);
        QFETCH(bool, fullDisk);
        QFETCH(QString, cause);
        if (manual && clips::read(QStringLiteral("h264-360p25.h264")).isEmpty())
            QSKIP("the test clips were not made (ARDO_CLIPS_DIR)");
        QTemporaryDir top;
        const QString root = top.path() + "/CaptureFile";
        const QString folder = root + "/20240303/10.0.0.5";
        std::optional<testsupport::SecondDisk> disk;
        std::optional<testsupport::ReadOnlyFile> readOnly;
        QFile filler(root + "/filler");
        if (fullDisk) {
            disk.emplace(root, "2m");
            if (!disk->mounted())
                QSKIP("needs root and a mount namespace of its own (tests/support/ownmounts.sh)");
            QVERIFY(QDir().mkpath(folder) && filler.open(QIODevice::WriteOnly));
            const QByteArray block(4096, 'f');
            while (filler.write(block) == block.size() && filler.flush()) {
            }
            filler.close();
        } else {
            QVERIFY(QDir().mkpath(folder));
            // Before the writing threads start, which keep its reduced rights.
            readOnly.emplace(folder);
            QVERIFY(readOnly->isValid());
        }
        testsupport::SystemLog log;
        FakeDevice device;
        CLivePlayer player;
        QSignalSpy stored(&player, SIGNAL(sigSnapshot(QString)));
        QSignalSpy failed(&player, SIGNAL(sigSnapshotFailed(QString, int)));
        QVERIFY(failed.isValid());
        if (manual) {
            player.setFrameSource(&device.mainBuffer);
            player.setVideoInfo(640, 360, 28, false);
            player.start();
            device.start();
        }
        const QDateTime at(QDate(2024, 3, 3), QTime(9, 5, 7));
        int tries = 0;
        auto attempt = [&] {
            const QDateTime when = at.addSecs(++tries);
            if (!manual)
                return qcRemoteCapture::storePicture(root, "10.0.0.5", 225, when, jpegOf(100000));
            const int before = stored.count() + failed.count();
            if (!player.requestSnapshot(root, qcCameraUtil::snapshotPath(root, "10.0.0.5", 146, when)))
                return QString("refused");
            if (!QTest::qWaitFor([&] { return stored.count() + failed.count() > before; }, 10000))
                return QString("no answer");
            return stored.count() + failed.count() == before + 1 && stored.count() ? stored.last().at(0).toString()
                                                                                   : QString();
        };
        QCOMPARE(attempt(), QString());
        QCOMPARE(attempt(), QString());
        QVERIFY(testsupport::filesUnder(root, "*.jpg").isEmpty());
        if (manual) {
            QCOMPARE(failed.size(), 2);
            QCOMPARE(failed.at(0).at(1).toInt(), fullDisk ? ENOSPC : EACCES);
            QVERIFY(failed.at(0).at(0).toString().startsWith(folder + "/PICV1_MANUAL_10-0-0-5_2024-03-03-09-05-08"));
        }
        QStringList events = log.abnormal();
        QCOMPARE(events.size(), 1);
        QVERIFY2(events.at(0).startsWith("snapshot failed|10.0.0.5|") && events.at(0).contains(cause),
                 qPrintable(events.at(0)));

        if (fullDisk)
            QVERIFY(filler.remove());
        else
            QVERIFY(readOnly->writable(true));
        const QString path = attempt();
        QVERIFY2(path.startsWith(folder + "/PICV1_"), qPrintable(path));
        QVERIFY(readFile(path).startsWith("\xFF\xD8"));
        events = log.abnormal();
        QCOMPARE(events.size(), 2);
        QVERIFY2(events.at(1).startsWith(fullDisk ? "snapshot disk full ended|10.0.0.5|"
                                                  : "snapshot failure ended|10.0.0.5|") &&
                     events.at(1).contains("2 pictures were not stored"),
                 qPrintable(events.at(1)));
    }

    void replies_data()
    {
        QTest::addColumn<ScriptServer::Script>("script");
        QTest::addColumn<QByteArray>("stored"); // empty: no file
        const QByteArray jpeg = jpegOf(3000);
        using S = ScriptServer;
        QTest::newRow("http/1.0") << S::Script{S::write(reply("HTTP/1.0 200 OK", jpeg)), S::close()} << jpeg;
        QTest::newRow("http/1.1") << S::Script{S::write(reply("HTTP/1.1 200 OK", jpeg)), S::close()} << jpeg;
        QTest::newRow("length, peer keeps open")
            << S::Script{S::write(reply("HTTP/1.0 200 OK", jpeg)), S::sleep(3000)} << jpeg;
        QTest::newRow("until close") << S::Script{S::write(reply("HTTP/1.0 200 OK", jpeg + "tail", false)), S::close()}
                                     << jpeg;
        QTest::newRow("small picture") << S::Script{S::write(reply("HTTP/1.0 200 OK", jpegOf(1400))), S::close()}
                                       << jpegOf(1400);
        QTest::newRow("pauses in the body")
            << S::Script{S::write(reply("HTTP/1.0 200 OK", jpeg).left(1500)), S::sleep(200),
                         S::write(reply("HTTP/1.0 200 OK", jpeg).mid(1500)), S::close()}
            << jpeg;
        QByteArray short1023 = reply("HTTP/1.0 200 OK", jpegOf(100), false);
        short1023.append(QByteArray(1023 - short1023.size(), 'x'));
        QTest::newRow("1023 bytes") << S::Script{S::write(short1023), S::close()} << QByteArray();
        QTest::newRow("401") << S::Script{S::write(reply("HTTP/1.0 401 Unauthorized", jpeg)), S::close()}
                             << QByteArray();
        QTest::newRow("malformed status")
            << S::Script{S::write(reply("HTPT/1.0 200 OK", jpeg)), S::close()} << QByteArray();
        QTest::newRow("code 2000") << S::Script{S::write(reply("HTTP/1.1 2000 OK", jpeg)), S::close()} << QByteArray();
        QTest::newRow("no blank line") << S::Script{S::write("HTTP/1.0 200 OK\r\nConnection: close\r\n" + jpeg),
                                                    S::close()}
                                       << QByteArray();
        QTest::newRow("no end marker")
            << S::Script{S::write(reply("HTTP/1.0 200 OK", jpeg.left(jpeg.size() - 2) + "xx")), S::close()}
            << QByteArray();
        QTest::newRow("length beyond close")
            << S::Script{S::write(reply("HTTP/1.0 200 OK", jpeg).replace("Length: 3000", "Length: 5000")), S::close()}
            << QByteArray();
        S::Script trickle{S::write(reply("HTTP/1.0 200 OK", jpeg).left(1200))};
        for (int i = 0; i < 20; ++i)
            trickle << S::write(QByteArray(1, 'j')) << S::sleep(100);
        QTest::newRow("trickle past the limit") << trickle << QByteArray();
        QTest::newRow("above 20 MiB")
            << S::Script{S::write(reply("HTTP/1.0 200 OK", jpegOf(qcRemoteCapture::kMaxReply + 10))), S::close()}
            << QByteArray();
    }
    void replies()
    {
        QFETCH(ScriptServer::Script, script);
        QFETCH(QByteArray, stored);
        QTemporaryDir root;
        ScriptServer server(script);
        qcRemoteCapture worker(nullptr, root.path());
        worker.setTimeouts(500, 1000);
        worker.start();
        QVERIFY(worker.addRequest("127.0.0.1", QString::number(server.port()), "admin", "1234", 226));
        QTRY_COMPARE(worker.handledRequests(), 1);
        QCOMPARE(server.request(), qcRemoteCapture::buildRequest("admin", "1234"));
        const QStringList files = testsupport::filesUnder(root.path(), "*.jpg");
        QCOMPARE(files.size(), stored.isEmpty() ? 0 : 1);
        if (!stored.isEmpty())
            QCOMPARE(readFile(files.first()), stored);
        QVERIFY(worker.peakBufferBytes() < 2 * (qcRemoteCapture::kMaxReply));
    }

    void neverAccepted()
    {
        QTemporaryDir root;
        testsupport::LoopbackListener listener(1);
        listener.fillBacklog(8);
        qcRemoteCapture worker(nullptr, root.path());
        worker.start();
        QTest::ignoreMessage(QtDebugMsg, "Connect Camera failed;");
        QVERIFY(worker.addRequest("127.0.0.1", QString::number(listener.port()), "admin", "1234", 225));
        QTRY_COMPARE(worker.handledRequests(), 1);
        QVERIFY(testsupport::filesUnder(root.path(), "*.jpg").isEmpty());
    }

    // The device's own picture, and a worker that must end during a stalled
    // reply (5 s limit) without waiting for it.
    void fromDevice_data()
    {
        QTest::addColumn<QString>("end"); // how the scheduler is ended mid-request; "" lets it finish
        QTest::newRow("picture") << "";
        QTest::newRow("new root while stalled") << "path";
        QTest::newRow("destroyed while stalled") << "delete";
    }
    void fromDevice()
    {
        QFETCH(QString, end);
        platform::setClock(nullptr);
        QTemporaryDir root;
        devicesim::Device device;
        const devicesim::Protocols protocols =
            devicesim::installProtocols(device, qEnvironmentVariable("ARDO_CLIPS_DIR"));
        devicesim::LiveStream::Options o = protocols.live->options();
        o.colour = "red";
        protocols.live->setOptions(o);
        device.setCredentials("admin", "1234");
        if (!end.isEmpty())
            device.addFault("/action/snap", devicesim::Fault::stall());
        QVERIFY(device.start());
        auto *server = new qcCaptureServer;
        QVERIFY(server->setCapturePath(root.path() + "/CaptureFile"));
        QVERIFY(server->addCaptureTask(task(0, 0, 1, 1, "127.0.0.1", "1234", QString::number(device.port()))));
        QTest::ignoreMessage(QtDebugMsg, "------Alarm Capture No.:0-----");
        server->tick();
        QPointer<qcRemoteCapture> worker = server->worker();
        QVERIFY(worker);
        if (end.isEmpty()) {
            QTRY_COMPARE(testsupport::filesUnder(root.path(), "*.jpg").size(), 1);
            const QString file = testsupport::filesUnder(root.path(), "*.jpg").first();
            QVERIFY(file.contains("/CaptureFile/" + QDate::currentDate().toString("yyyyMMdd") +
                                  "/127.0.0.1/PICV1_ALARM_127-0-0-1_"));
            const QImage picture(file);
            QCOMPARE(picture.size(), QSize(1280, 720));
            QVERIFY(testsupport::shareNear(picture, Qt::red) > 0.8);
            qInfo("receive buffer at most %d bytes for a reply with a %lld-byte picture", worker->peakBufferBytes(),
                  QFileInfo(file).size());
            delete server;
        } else {
            QTRY_COMPARE(device.requests().size(), 1);
            testsupport::Watchdog watchdog(4000, "ending the stalled capture"); // not the 5 s reply wait
            if (end == "path") {
                QVERIFY(server->setCapturePath(root.path() + "/Other"));
                QVERIFY(!server->worker());
            }
            delete server;
            QVERIFY(testsupport::filesUnder(root.path(), "*.jpg").isEmpty());
        }
        QVERIFY(!worker);
        device.stop();
    }
};

QTEST_MAIN(TestSnapshot)
#include "tst_snapshot.moc"
