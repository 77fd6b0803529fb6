// Real loopback devices recorded through the real stream service: manual,
// timing and alarm files, H.265, a format change, the camera's and the
// computer's clock set, midnight, and a kill -9 of a recording process.

#include "common.h"

#include "media/qcdiskmanager.h"
#include "media/qcframebuffer.h"
#include "platform/clock.h"
#include "tests/support/diskroom.h"
#include "tests/support/runningclock.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <vector>

using namespace recordinge2e;

namespace {

const QString kMain = "127.0.0.10";
const QString kHevc = "127.0.0.11";
const QString kAlarm = "127.0.0.12";
// Monday 10:00.
const QDateTime kStart(QDate(2024, 1, 1), QTime(10, 0));

// What a record file holds, read from its records.
struct FileFacts
{
    int frames = 0;
    int keyFrames = 0;
    int audioFrames = 0;
    qint64 first = -1;
    qint64 last = -1;
};

FileFacts facts(const QString &path)
{
    const RecordScan scan = recordio::scan(path);
    const recordindex::Summary s = recordindex::summarise(scan);
    FileFacts f;
    f.frames = s.frames - s.audioFrames;
    f.keyFrames = s.keyFrames;
    f.audioFrames = s.audioFrames;
    f.last = s.lastVideo;
    for (const RecordScanEntry &e : scan.records)
        if (e.type != 0) {
            f.first = qint64(e.timestamp);
            break;
        }
    return f;
}

// The log of a case: what a folder holds and what its list says, so a run
// shows the files behind each verdict.
void report(const QString &what, const QString &folder)
{
    qInfo().noquote() << "==" << what << "in" << folder;
    for (const QString &f : QDir(folder).entryList({"*.zmf"}, QDir::Files, QDir::Name)) {
        const FileFacts x = facts(folder + '/' + f);
        qInfo().noquote() << "  file" << f << "video frames" << x.frames << "key frames" << x.keyFrames << "audio"
                          << x.audioFrames;
    }
    for (const auto &r : recordindex::readReclist(folder))
        qInfo().noquote() << "  reclist" << r.item.name << r.item.start << "-" << r.item.end << "key records"
                          << r.item.kfindexCount << "payload" << r.item.payloadBytes;
}

} // namespace

class TestRecordingE2E : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    testsupport::RunningClock m_clock{kStart};
    std::unique_ptr<Device> m_main, m_hevc, m_alarm;
    std::unique_ptr<ServiceThread> m_service;

    QString folder(const QString &address, const QString &day = "20240101") const
    {
        return m_dir.path() + "/RecordFile/" + day + '/' + address;
    }
    qcStreamServer *server() const { return m_service->server; }
    bool online(const QString &address)
    {
        qcStreamUtil *unit = server()->unitFor(address);
        return unit && unit->isOnline() && unit->getMainFrameBuffer() && unit->getMainFrameBuffer()->frameCount() > 30;
    }
    // Extracts a finished file's video and lets ffprobe decode it.
    QByteArray decoded(const QString &path)
    {
        const QString out = m_dir.filePath(QFileInfo(path).fileName() + ".es");
        if (zmfdump({"--extract", path, out}) != 0)
            return "extract failed";
        const QByteArray probe = ffprobe(out);
        qInfo().noquote() << "  ffprobe" << QFileInfo(path).fileName() << probe;
        return probe;
    }
    // The stamp of the newest key frame the device's main stream holds, -1
    // when there is none.
    qint64 newestKeyFrame(const QString &address)
    {
        qcFrameBuffer *buffer = server()->unitFor(address)->getMainFrameBuffer();
        std::vector<char> data(buffer->capacity());
        uint32_t length = 0, type = 0;
        uint64_t stamp = 0;
        int64_t sequence = -1;
        return buffer->readFrame(data.data(), int32_t(data.size()), &length, &type, &stamp, &sequence, 0, false, -1)
                   ? qint64(stamp)
                   : -1;
    }
    // The next finished timing file after `known` ones.
    QString waitForFinished(const QString &f, int known, int timeoutMs)
    {
        return QTest::qWaitFor([&] { return finished(f).size() > known; }, timeoutMs) ? f + '/' + finished(f).last()
                                                                                      : QString();
    }

private slots:
    void initTestCase()
    {
        testsupport::assumePlentyOfRoom();
        platform::setClock(&m_clock);
        m_main = startDevice(kMain, "red");
        m_hevc = startDevice(kHevc, "", true);
        m_alarm = startDevice(kAlarm, "blue");
        QVERIFY(m_main && m_hevc && m_alarm);
        m_service = std::make_unique<ServiceThread>(m_dir.path());
        m_service->add(*m_main, 1);
        m_service->add(*m_hevc, 2);
        m_service->add(*m_alarm, 3);
        QTRY_VERIFY_WITH_TIMEOUT(online(kMain) && online(kHevc) && online(kAlarm), 20000);
    }

    void cleanupTestCase()
    {
        m_service.reset();
        platform::setClock(nullptr);
    }

    void manualRecording()
    {
        QSignalSpy results(server(), &qcStreamServer::sigRecordResult);
        QVERIFY(server()->startRecord(kMain, 0));
        QTest::qWait(3000);
        QVERIFY(server()->stopRecord(kMain));
        QTRY_COMPARE(results.size(), 1);
        const QString file = results.at(0).at(1).toString();
        QCOMPARE(results.at(0).at(2).toInt(), 28);
        report("manual", folder(kMain));
        QVERIFY(QFileInfo(file).fileName().startsWith("RECV1_MANUAL_127-0-0-10_"));
        const auto list = recordindex::readReclist(folder(kMain));
        QCOMPARE(list.size(), 1);
        qcRecordFile reader(qcRecordFile::kReader);
        QVERIFY(reader.setIndexRange(list.at(0).item.kfindexOffset, uint32_t(list.at(0).item.kfindexCount)));
        QVERIFY(reader.open(file));
        RecordMediaInfo info;
        QVERIFY(reader.getMediaInfo(&info, nullptr));
        QCOMPARE((QList<int>{info.videoCodec, info.width, info.height, info.audioCodec}),
                 (QList<int>{28, 1280, 720, 0x10006}));
        QVERIFY(reader.keyFramesFromIndex());
        const FileFacts f = facts(file);
        const double fps = double(f.frames - 1) * 1000.0 / double(f.last - f.first);
        QVERIFY2(fps > 22 && fps < 28, qPrintable(QString::number(fps)));
        QVERIFY(f.audioFrames > 0);
        QVERIFY(consistent(folder(kMain)));
        QVERIFY(decoded(file).startsWith("h264,1280,720,"));
    }

    void timingRecordingOfH265()
    {
        QVERIFY(server()->addRecordSchedule(1, 1, 0, 0, 1440, 1, kHevc));
        QTRY_VERIFY_WITH_TIMEOUT(!unfinished(folder(kHevc)).isEmpty(), 5000);
        QTest::qWait(1500);
        // A folder being recorded into is consistent.
        QVERIFY(consistent(folder(kHevc)));
        QSignalSpy results(server(), &qcStreamServer::sigRecordResult);
        QVERIFY(server()->stopRecord(kHevc));
        const QString file = waitForFinished(folder(kHevc), 0, 5000);
        QVERIFY(!file.isEmpty());
        // A stop by hand is reported. The report reaches this thread only
        // when its events are next handled: awaited here, or it would count
        // as a report of the next case.
        QTRY_VERIFY_WITH_TIMEOUT(!results.isEmpty(), 5000);
        QCOMPARE(QFileInfo(results.at(0).at(1).toString()).fileName(), QFileInfo(file).fileName());
        QVERIFY(QFileInfo(file).fileName().startsWith("RECV1_TIMING_127-0-0-11_"));
        QTRY_VERIFY_WITH_TIMEOUT(!unfinished(folder(kHevc)).isEmpty(), 5000); // the chain goes on
        report("timing, H.265", folder(kHevc));
        QVERIFY(decoded(file).startsWith("hevc,640,360,"));
    }

    void alarmRecordingAndFormatChange()
    {
        QVERIFY(server()->addRecordSchedule(1, 1, 1, 0, 1440, 1, kAlarm));
        QSignalSpy arrivals(server(), &qcStreamServer::sigAlarmArrival);
        QSignalSpy results(server(), &qcStreamServer::sigRecordResult);
        QTRY_VERIFY_WITH_TIMEOUT(m_alarm->protocols.alarm->openConnections() > 0, 10000);
        m_alarm->protocols.alarm->push(devicesim::AlarmEndpoint::message("1", "MOTION"));
        QTRY_VERIFY_WITH_TIMEOUT(!arrivals.isEmpty(), 5000);
        QCOMPARE(arrivals.at(0).at(3).toInt(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(!unfinished(folder(kAlarm)).isEmpty(), 5000);
        QVERIFY(unfinished(folder(kAlarm)).at(0).startsWith("RECV1_ALARM_127-0-0-12_"));
        QTest::qWait(1500);
        // A new main-stream format ends the file, unreported.
        m_alarm->protocols.live->switchClip(0, "h264-360p25.h264", 640, 360);
        const QString file = waitForFinished(folder(kAlarm), 0, 10000);
        QVERIFY(!file.isEmpty());
        QTest::qWait(300);
        QCOMPARE(results.size(), 0);
        report("alarm, ended by a format change", folder(kAlarm));
        QVERIFY(consistent(folder(kAlarm)));
    }

    void cameraClockSetBack()
    {
        const QString f = folder(kHevc);
        // A file of its own, far from its length's end: the schedule starts
        // the next one at once.
        QVERIFY(server()->stopRecord(kHevc));
        QTRY_VERIFY_WITH_TIMEOUT(unfinished(f).size() == 1 && facts(f + '/' + unfinished(f).first()).frames > 25, 5000);
        const QString running = unfinished(f).first();
        m_hevc->protocols.live->jumpTimestamps(-3000);
        QTest::qWait(2000);
        report("camera clock set back 3 s", f);
        // The stream client takes the step up: the file goes on across it,
        // its pictures in order.
        QCOMPARE(unfinished(f), QStringList{running});
        qint64 last = -1;
        for (const RecordScanEntry &e : recordio::scan(f + '/' + running).records) {
            if (e.type == 0)
                continue;
            QVERIFY2(qint64(e.timestamp) >= last, qPrintable(QString("%1 after %2").arg(e.timestamp).arg(last)));
            last = qint64(e.timestamp);
        }
        QVERIFY(facts(f + '/' + running).frames > 50);
        QVERIFY(consistent(f));
    }

    void computerClockSetForward()
    {
        const QString f = folder(kHevc);
        const int before = finished(f).size();
        m_clock.jump(10000);
        const QString ended = waitForFinished(f, before, 5000);
        QVERIFY(!ended.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!unfinished(f).isEmpty() && facts(f + '/' + unfinished(f).first()).first > 0, 5000);
        const qint64 gap = facts(f + '/' + unfinished(f).first()).first - facts(ended).last;
        report("computer clock set forward 10 s", f);
        // Ten seconds; the camera's clock set back before took nothing away.
        QVERIFY2(gap > 9000 && gap < 12000, qPrintable(QString::number(gap)));
        QVERIFY(consistent(f));
    }

    void computerClockSetBack()
    {
        const QString f = folder(kHevc);
        const QStringList early = finished(f);
        // What was recorded before the jump, by start time: the file being
        // written gets its end only when the recorder sees the jump.
        QSet<int> before;
        for (const QString &n : early + unfinished(f))
            before.insert(recordnames::parseName(n).start);
        const int now = m_clock.msecsOfDay();
        m_clock.jump(-120000);
        const int back = now - 120000;
        // All of it ends after the new time: it leaves the folder and the list,
        // whether the recorder or the guard saw the jump first. The guard runs
        // niced: on a busy machine its next cycle may come late.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(f + "/BackupFile"), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const QString &n : finished(f))
                    if (before.contains(recordnames::parseName(n).start))
                        return false;
                return true;
            }(),
            30000);
        for (const QString &n : QDir(f + "/BackupFile").entryList({"*.zmf"}))
            QVERIFY(early.contains(n) || recordnames::parseName(n).end > back);
        for (const QString &n : early)
            QVERIFY(QFileInfo::exists(f + '/' + n) || QFileInfo::exists(f + "/BackupFile/" + n));
        // The list is rewritten after the move: wait for it to follow.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const auto &r : recordindex::readReclist(f))
                    if (!QFileInfo::exists(f + '/' + r.item.name))
                        return false;
                return true;
            }(),
            30000);
        report("computer clock set back 120 s", f);
        report("computer clock set back 120 s, moved", f + "/BackupFile");
        QVERIFY(consistent(f));
        QVERIFY(QFileInfo::exists(folder(kMain))); // nothing else moved
    }

    void midnight()
    {
        // The computer's clock was set back a moment ago: until the device
        // sends its next key frame, the newest one carries a stamp from
        // before that (the stream client keeps within 5 s of the clock), and
        // a recording starts with it. That start belongs to the set back,
        // which is over; here midnight is looked at.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const qint64 key = newestKeyFrame(kMain);
                return key >= 0 && key <= m_clock.msecsOfDay() + 5000;
            }(),
            10000);
        QVERIFY(server()->addRecordSchedule(1, 1, 0, 0, 1440, 1, kMain));
        QVERIFY(server()->addRecordSchedule(2, 1, 0, 0, 1440, 1, kMain));
        m_clock.set(QDateTime(QDate(2024, 1, 1), QTime(23, 59, 50)));
        const QString monday = folder(kMain);
        const QString tuesday = folder(kMain, "20240102");
        QTRY_VERIFY_WITH_TIMEOUT(
            !unfinished(tuesday).isEmpty() && facts(tuesday + '/' + unfinished(tuesday).first()).frames > 25, 30000);
        report("midnight, Monday", monday);
        report("midnight, Tuesday", tuesday);
        // The file that the date change ended is listed; the clock set back
        // before took the manual file out of this folder and its list.
        QString lastOfMonday;
        for (const QString &n : finished(monday))
            if (recordnames::parseName(n).end >= 86390000)
                lastOfMonday = n;
        QVERIFY(!lastOfMonday.isEmpty());
        QVERIFY(recordindex::listedIn(recordindex::readReclist(monday), lastOfMonday));
        // The sound goes on as the pictures do: from the last sound of
        // Monday's last file to the first of Tuesday's first, no more than
        // two of the device's sound steps.
        qint64 lastSound = -1, step = 86400000;
        for (const RecordScanEntry &e : recordio::scan(monday + '/' + lastOfMonday).records)
            if (e.type == 0) {
                if (lastSound >= 0 && qint64(e.timestamp) > lastSound)
                    step = qMin(step, qint64(e.timestamp) - lastSound);
                lastSound = qint64(e.timestamp);
            }
        QStringList tuesdayFiles = finished(tuesday) + unfinished(tuesday);
        tuesdayFiles.sort();
        qint64 firstSound = -1;
        for (const RecordScanEntry &e : recordio::scan(tuesday + '/' + tuesdayFiles.value(0)).records)
            if (e.type == 0) {
                firstSound = qint64(e.timestamp);
                break;
            }
        QVERIFY(lastSound >= 0 && firstSound >= 0);
        const qint64 gap = 86400000 - lastSound + firstSound;
        QVERIFY2(gap <= 2 * step, qPrintable(QString("%1 ms without sound, %2 ms a step").arg(gap).arg(step)));
        QVERIFY(consistent(monday));
        QVERIFY(consistent(tuesday));
    }

    void killedWhileRecording()
    {
        // The child runs on the computer's clock; a guard on another date
        // would take its day folder for the future.
        platform::setClock(nullptr);
        const QString root = m_dir.filePath("killed");
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(RECORDING_CHILD, {root, kAlarm, m_alarm->port()});
        QVERIFY(child.waitForStarted());
        QVERIFY(child.waitForReadyRead(20000));
        const QString file = QString::fromUtf8(child.readLine()).trimmed();
        QVERIFY(file.startsWith(root));
        QTest::qWait(1500);
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(5000));
        const QString f = QFileInfo(file).path();
        QCOMPARE(unfinished(f).size(), 1);
        const FileFacts crashed = facts(f + '/' + unfinished(f).first());
        QVERIFY(crashed.frames > 10);

        ServiceThread again(m_dir.filePath("killed"));
        QMetaObject::invokeMethod(again.server, "tick", Qt::BlockingQueuedConnection);
        QVERIFY(again.server->recordingsRepaired());
        QCOMPARE(unfinished(f).size(), 0);
        QCOMPARE(finished(f).size(), 1);
        const FileFacts repaired = facts(f + '/' + finished(f).first());
        QCOMPARE(repaired.frames, crashed.frames);
        QCOMPARE(recordnames::parseName(finished(f).first()).end, int(repaired.last));
        report("kill -9 and the next start", f);
        QVERIFY(consistent(f));
    }
};

QTEST_GUILESS_MAIN(TestRecordingE2E)
#include "tst_recording_e2e.moc"
