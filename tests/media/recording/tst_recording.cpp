#include "recordingsuite.h"
#include "streamfakes.h"
#include "zmfdump.h"

#include "devicesim/protocols.h"
#include "media/cliveplayer.h"
#include "media/qccamerautil.h"
#include "media/qccaptureserver.h"
#include "media/qcremotecapture.h"
#include "media/qcdiskmanager.h"
#include "media/qcrecordfile.h"
#include "media/qcstreamserver.h"
#include "media/qcstreamutil.h"
#include "media/qcvideomuxer.h"
#include "media/recordindex.h"
#include "media/recordnames.h"
#include "platform/clock.h"
#include "tests/support/diskroom.h"
#include "tests/support/filebytes.h"
#include "tests/support/pictures.h"
#include "tests/support/readonlyfile.h"
#include "tests/support/systemlog.h"

#include <QDir>
#include <QDirIterator>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace streamfakes;
using namespace recordingsuite;
using testsupport::bytesOf;

namespace {

// A Monday.
const QDateTime kMonday8(QDate(2024, 1, 1), QTime(8, 0));

// An enabled entry for Monday, for all devices or the ones named.
qcStreamServer::ScheduleEntry mondayEntry(int start, int end, const QStringList &devices = {})
{
    qcStreamServer::ScheduleEntry e;
    e.applyTo = devices.isEmpty() ? 0 : 1;
    e.start = start;
    e.end = end;
    e.enabled = 1;
    e.day = 1;
    e.devices = devices;
    return e;
}

// The loopback device whose own snapshots the capture worker fetches.
struct SnapDevice
{
    devicesim::Device device;
    devicesim::Protocols protocols;
    SnapDevice()
    {
        protocols = devicesim::installProtocols(device, qEnvironmentVariable("ARDO_CLIPS_DIR"));
        device.setCredentials("u", "p");
    }
    bool start() { return device.start(); }
    int snaps() const
    {
        int n = 0;
        for (const auto &r : device.requests())
            n += r.path == "/action/snap";
        return n;
    }
};

QStringList threadNames()
{
    QStringList names;
    for (const QString &t : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f("/proc/self/task/" + t + "/comm");
        if (f.open(QIODevice::ReadOnly))
            names << QString::fromLatin1(f.readAll()).trimmed();
    }
    return names;
}

// A recording as a crash leaves it: frames at 40 ms, a key frame every 10.
void writeFrames(const QString &path, int frames, qint64 start)
{
    qcRecordFile w(qcRecordFile::kWriter);
    QVERIFY(w.create(QFileInfo(path).path(), path));
    QVERIFY(w.setVideoParams(28, 640, 360, 0, 26, 25, 0));
    for (int i = 0; i < frames; ++i)
        QVERIFY(w.writeVideoFrame("frame", 5, i % 10 ? qcRecordFile::kCodeType2 : qcRecordFile::kCodeKey,
                                  uint64_t(start + 40 * i)));
}

// Three recordings of 4 s (four key frames indexed each) as the start-up
// pass lists them, the last one the newest by its time stamp; the name
// prefix they share.
QString listThree(const QString &folder)
{
    const QString prefix = folder + "/RECV1_TIMING_10-0-0-5_";
    for (int i = 0; i < 3; ++i) {
        QTest::qWait(20);
        writeFrames(prefix + QString("08-0%1-00-000_.zmf").arg(i), 100, (480 + i) * 60000);
    }
    [&] { QCOMPARE(recordindex::repairFolder(folder, folder), 3); }();
    return prefix;
}

// A day's folder of recordings listed as the start-up pass lists them:
// `count` recordings of 4 s, a minute apart from 08:00 (four key frames
// indexed each).
struct ListedDay
{
    QTemporaryDir dir;
    QString folder = dir.filePath("20240101/10.0.0.5");
    QString prefix = folder + "/RECV1_TIMING_10-0-0-5_";
    QString reclist = recordindex::reclistPath(folder);
    explicit ListedDay(int count)
    {
        QDir().mkpath(folder);
        for (int i = 0; i < count; ++i)
            writeFrames(prefix + QString("08-0%1-00-000_.zmf").arg(i), 100, (480 + i) * 60000);
        recordindex::repairFolder(folder, folder);
    }
};

// The number of list records of each record file of the folder, by name.
QMap<QString, int> timesListed(const QString &folder)
{
    QMap<QString, int> out;
    const auto list = recordindex::readReclist(folder);
    for (const QString &f : QDir(folder).entryList({"*.zmf"}, QDir::Files))
        for (const auto &r : list)
            out[f] += recordindex::lists(r.item, f) ? 1 : 0;
    return out;
}

// Lines the program says on the console while it lives.
struct Console
{
    static QStringList &lines()
    {
        static QStringList l;
        return l;
    }
    QtMessageHandler previous;
    Console()
    {
        previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &m) { lines() << m; });
    }
    ~Console()
    {
        qInstallMessageHandler(previous);
        lines().clear();
    }
    int count(const QString &text) const { return lines().filter(text).size(); }
};

void append(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::Append));
    f.write(bytes);
}

// Bytes no frame starts in, the same on every run.
QByteArray noise(int size)
{
    QByteArray out;
    quint32 x = 2463534242u;
    for (int i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out += char(x | 1);
    }
    return out;
}

// A crash's tail that lies inside a recording: 8 KiB of bytes that are no
// frame, then a whole video frame at `timestamp`.
QByteArray foreignBytesThenAFrame(qint64 timestamp)
{
    _st_recframe_header h;
    h.tag = _st_recframe_header::kTagBase + (2u << 24);
    h.length = 5;
    h.timestamp = uint64_t(timestamp);
    char head[_st_recframe_header::kSize];
    h.toBytes(head);
    return noise(8192) + QByteArray(head, sizeof head) + "frame";
}

} // namespace

class TestRecording : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { testsupport::assumePlentyOfRoom(); }
    void cleanup()
    {
        platform::setClock(nullptr);
        recordindex::setBeforeReclistReplacedHook(nullptr);
        recordindex::setBeforeIndexReadHook(nullptr);
    }
    void scheduleValidation_data()
    {
        QTest::addColumn<bool>("capture");
        QTest::addColumn<int>("applyTo");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<QString>("devices");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("listed") << false << 1 << 0 << 480 << 1020 << "1.2.3.4;1.2.3.5" << true;
        QTest::newRow("listed, no devices") << false << 1 << 0 << 480 << 1020 << "" << false;
        QTest::newRow("all devices, no text") << false << 0 << 0 << 0 << 1440 << "" << true;
        QTest::newRow("end = start") << false << 0 << 0 << 500 << 500 << "" << false;
        QTest::newRow("end < start") << false << 0 << 1 << 700 << 500 << "" << false;
        QTest::newRow("type 2") << false << 0 << 2 << 0 << 100 << "" << false;
        QTest::newRow("applies 2") << false << 2 << 0 << 0 << 100 << "a" << false;
        QTest::newRow("end 86400") << false << 0 << 0 << 0 << 86400 << "" << true;
        QTest::newRow("capture all") << true << 0 << 1 << 0 << 1440 << "" << true;
        QTest::newRow("capture listed") << true << 1 << 1 << 0 << 1440 << "1.2.3.4" << true;
        QTest::newRow("capture end 80000") << true << 0 << 1 << 0 << 80000 << "" << false;
        QTest::newRow("capture listed, no devices") << true << 1 << 1 << 0 << 100 << "" << false;
    }
    void scheduleValidation()
    {
        QFETCH(bool, capture);
        QFETCH(int, applyTo);
        QFETCH(int, type);
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(QString, devices);
        QFETCH(bool, accepted);
        Service s(false);
        const bool result = capture ? s.server.addSecondSchedule(1, applyTo, type, start, end, 1, devices)
                                    : s.server.addRecordSchedule(1, applyTo, type, start, end, 1, devices);
        QCOMPARE(result, accepted);
        const auto list = capture ? s.server.captureSchedules() : s.server.recordSchedules();
        QCOMPARE(list.size(), accepted ? 1 : 0);
        // An empty text is an empty device list, never a list of one empty text.
        if (accepted)
            QCOMPARE(list.at(0).devices, devices.isEmpty() ? QStringList() : devices.split(';'));
    }

    void scheduleCheckStartsTimingRecordings()
    {
        platform::FakeClock clock(kMonday8);
        platform::setClock(&clock);
        Service s;
        s.add({"10.0.0.5", "10.0.0.6", "10.0.0.7", "10.0.0.99"});
        QVERIFY(s.server.addRecordSchedule(1, 1, 0, 480, 1020, 1, "10.0.0.5;10.0.0.6"));
        QVERIFY(s.server.addRecordSchedule(1, 0, 0, 480, 1020, 1, ""));
        QVERIFY(s.server.addRecordSchedule(2, 0, 0, 0, 1440, 1, "")); // Tuesday
        QVERIFY(s.server.addRecordSchedule(1, 0, 0, 0, 1440, 0, "")); // disabled
        QSignalSpy asked(&s.server, &qcStreamServer::sigScheduleRecord);
        s.server.tick(); // repairs, creates the services, starts the units
        QVERIFY(s.recorders.made.isEmpty());
        s.server.tick();
        QCOMPARE(s.recording(26), (QStringList{"10.0.0.5", "10.0.0.6", "10.0.0.7"}));
        ScriptedRecorder *r = s.recorders.made.at(0);
        QCOMPARE(r->stream, 1);
        QCOMPARE(r->length, 60);
        QVERIFY(r->fileName.endsWith("/RecordFile/20240101/10.0.0.5/RECV1_TIMING_10-0-0-5_.zmf"));
        // Asked on every tick, for every matching device, started or not.
        const int perTick = asked.size() / 2;
        QCOMPARE(perTick, 4); // the offline device is asked for too
        s.server.tick();
        QCOMPARE(s.recorders.made.size(), 3);
        QCOMPARE(asked.size(), 3 * perTick);
        clock.set(kMonday8.addSecs(-60));
        asked.clear();
        s.server.tick();
        QCOMPARE(asked.size(), 0);
    }

    // A file of the schedule that filled is gone on from by the next file
    // only while the device's window holds: a window that closed and opens
    // again starts afresh, at the newest key frame with its pre-record.
    void aClosedWindowEndsTheScheduledRun()
    {
        platform::FakeClock clock(kMonday8);
        platform::setClock(&clock);
        Service s;
        s.add({"10.0.0.5", "10.0.0.6"});
        QVERIFY(s.server.addRecordSchedule(1, 1, 0, 480, 482, 1, "10.0.0.5;10.0.0.6"));
        QVERIFY(s.server.addRecordSchedule(1, 1, 0, 483, 490, 1, "10.0.0.5"));
        s.server.tick();
        s.recorders.configure = [](ScriptedRecorder *r) { r->filledAt = 500; };
        s.server.tick();
        QCOMPARE(s.recorders.made.size(), 2);
        for (ScriptedRecorder *r : s.recorders.made)
            QVERIFY(r->wait(5000));
        // Inside the window the next file goes on after the last one.
        s.recorders.configure = [](ScriptedRecorder *r) { r->filledAt = 600; };
        s.server.tick();
        QCOMPARE(s.recorders.made.size(), 4);
        QCOMPARE(s.recorders.made.at(2)->sequence, 500);
        QCOMPARE(s.recorders.made.at(3)->sequence, 500);
        for (int i : {2, 3})
            QVERIFY(s.recorders.made.at(i)->wait(5000));
        s.recorders.configure = nullptr;
        // 8:02, between the windows, then 8:03 in the second one.
        clock.set(kMonday8.addSecs(150));
        s.server.tick();
        QCOMPARE(s.recorders.made.size(), 4);
        clock.set(kMonday8.addSecs(190));
        s.server.tick();
        // (The unit deletes a recorder that ended once it starts the next.)
        QCOMPARE(s.recorders.made.size(), 5);
        QVERIFY(s.recorders.made.last()->fileName.contains("/10.0.0.5/"));
        QCOMPARE(s.recorders.made.last()->sequence, -1);
    }

    void replacedSchedulesActAtOnce()
    {
        platform::FakeClock clock(kMonday8);
        platform::setClock(&clock);
        Service s;
        s.add({"10.0.0.5", "10.0.0.6"});
        QVERIFY(s.server.addRecordSchedule(1, 0, 0, 0, 1440, 1, ""));
        qcStreamServer::ScheduleEntry listed;
        listed.applyTo = 1;
        listed.start = 480;
        listed.end = 1020;
        listed.enabled = 1;
        listed.devices = QStringList{"10.0.0.6"};
        listed.day = 1;
        qcStreamServer::ScheduleEntry backwards = listed;
        backwards.end = backwards.start;
        qcStreamServer::ScheduleEntry snapshots = listed;
        snapshots.applyTo = 0;
        snapshots.devices.clear();
        snapshots.end = 80000; // past what a capture entry may end on
        // What the add calls refuse is left out, the rest taken whole.
        QVERIFY(!s.server.replaceSchedules({listed, backwards}, {snapshots}));
        QCOMPARE(s.server.recordSchedules().size(), 1);
        QCOMPARE(s.server.recordSchedules().at(0).devices, QStringList{"10.0.0.6"});
        QVERIFY(s.server.captureSchedules().isEmpty());
        s.server.tick();
        s.server.tick();
        // The all-devices entry added before is gone.
        QCOMPARE(s.recording(26), QStringList{"10.0.0.6"});

        QVERIFY(s.server.replaceSchedules({}, {}));
        QSignalSpy asked(&s.server, &qcStreamServer::sigScheduleRecord);
        QVERIFY(s.server.stopRecord("10.0.0.6"));
        s.server.tick();
        s.server.tick();
        QCOMPARE(s.recorders.made.size(), 1);
        QCOMPARE(asked.size(), 0);
    }

    void configurationAgainTakesEffectForTheNextFile()
    {
        platform::FakeClock clock(kMonday8);
        platform::setClock(&clock);
        Service s;
        s.add({"10.0.0.5"});
        QVERIFY(s.server.addRecordSchedule(1, 0, 0, 0, 1440, 1, ""));
        s.server.tick();
        s.server.tick();
        QCOMPARE(s.recorders.made.size(), 1);
        QVERIFY(s.recorders.made.at(0)->fileName.startsWith(s.dir.path() + "/RecordFile/"));
        qcCaptureServer *captures = s.server.captureServer();
        QVERIFY(captures);

        QTemporaryDir other;
        QVERIFY(s.server.setLocalConfig(other.path() + "/r", other.path() + "/s", 120, 0, 0, 0, 7, 30, 1, 1));
        // The disk guard keeps room where the next recordings go.
        QVERIFY(s.server.diskGuard());
        QCOMPARE(s.server.diskGuard()->recordRoot(), other.path() + "/r/RecordFile");
        QCOMPARE(s.server.diskGuard()->minFreeSpace(), qint64(7));
        // A lower reserve takes effect too, down to the guard's own minimum.
        QVERIFY(s.server.setLocalConfig(other.path() + "/r", other.path() + "/s", 120, 0, 0, 0, 0, 30, 1, 1));
        QCOMPARE(s.server.diskGuard()->minFreeSpace(), qcDiskManager::kDefaultMinGiB);
        // The running file goes on where it is; the next one starts in the new folder.
        QVERIFY(s.server.unitFor("10.0.0.5")->isRecording());
        QTRY_COMPARE_WITH_TIMEOUT(captures->capturePath(), other.path() + "/s/CaptureFile", 5000);
        QVERIFY(s.server.stopRecord("10.0.0.5"));
        s.server.tick();
        QCOMPARE(s.recorders.made.size(), 2);
        QVERIFY(s.recorders.made.at(1)->fileName.startsWith(other.path() + "/r/RecordFile/20240101/10.0.0.5/"));
        QCOMPARE(s.recorders.made.at(1)->length, 120);
    }

    // A device recorded all day, or by a view's record button, while the
    // computer's date changes: at midnight, or by the clock set back 3 h just
    // after it. Its stream is stamped by that clock (25 frames a second, a
    // key frame every 2 s); the frames stamped before the change arrive after
    // it. Each frame lies in one file as its own, in the folder of the day it
    // was stamped on, and every file starts with a key frame: one after the
    // change with the pictures since the last one, stamped with its own
    // start. A manual recording goes on after the change until it is stopped,
    // also one clicked in the day's last second.
    void dayChangeSplitsTheRecordingWithoutLossOrRepeat_data()
    {
        QTest::addColumn<QDateTime>("start"); // the clock when the first frame is stamped
        QTest::addColumn<int>("stepAt");      // the first frame stamped after the clock was set
        QTest::addColumn<int>("late");        // the first frame that arrives after the change
        QTest::addColumn<bool>("manual");     // clicked after frame 60, else scheduled
        const QDateTime midnight(QDate(2024, 1, 1), QTime(23, 59, 55, 311));
        const QDateTime afterMidnight(QDate(2024, 1, 2), QTime(0, 0, 35, 311));
        QTest::newRow("midnight") << midnight << 1000 << 115 << false;
        QTest::newRow("set back 3 h after midnight") << afterMidnight << 140 << 136 << false;
        QTest::newRow("midnight, by hand") << midnight << 1000 << 115 << true;
        QTest::newRow("set back 3 h after midnight, by hand") << afterMidnight << 140 << 136 << true;
        QTest::newRow("by hand in the day's last second")
            << QDateTime(QDate(2024, 1, 1), QTime(23, 59, 56, 911)) << 1000 << 75 << true;
    }
    void dayChangeSplitsTheRecordingWithoutLossOrRepeat()
    {
        QFETCH(QDateTime, start);
        QFETCH(int, stepAt);
        QFETCH(int, late);
        QFETCH(bool, manual);
        constexpr int kFrames = 175;
        // A click starts at the newest key frame; the schedule's pre-record
        // second reaches the first.
        const int from = manual ? 50 : 0;
        const int stream = manual ? 0 : 1;
        auto stampedAt = [&](int n) { return start.addMSecs(40 * n - (n >= stepAt ? 3 * 3600000 : 0)); };
        auto stamp = [&](int n) { return qint64(stampedAt(n).time().msecsSinceStartOfDay()); };
        platform::FakeClock clock(stampedAt(0));
        platform::setClock(&clock);
        Service s;
        setRecorderFactory({});
        s.add({"10.0.0.5"});
        for (int day : {1, 2})
            QVERIFY(manual || s.server.addRecordSchedule(day, 0, 0, 0, 1440, 1, ""));
        s.server.tick();
        FakeP2PStream *device = s.p2p.last;
        QVERIFY(device);
        device->deliver(stream, streamInfo(640, 360), KindStreamInfo, 0, 0);
        auto deliver = [&](int from, int to) {
            clock.set(stampedAt(to - 1).addMSecs(100));
            for (int n = from; n < to; ++n)
                device->deliver(stream, QByteArray::number(n).leftJustified(200, '.'), KindVideo, n % 50 ? 0 : 1,
                                stamp(n));
        };
        const QString root = s.dir.path() + "/RecordFile";
        auto zmfs = [&] { return recordFiles(root); };
        auto written = [&](int n) { return recordedUpTo(root, stamp(n)); };
        deliver(0, 61);
        if (manual)
            QVERIFY(s.server.startRecord("10.0.0.5", 0));
        else
            s.server.tick();
        QTRY_VERIFY(written(60));
        deliver(61, late);
        QTRY_VERIFY(written(late - 1));
        deliver(late, kFrames);
        QTRY_VERIFY(written(kFrames - 1));
        // The view's button stays on.
        QCOMPARE(s.server.recordingGoesOn("10.0.0.5", recordnames::kKindManual), manual);
        QVERIFY(s.server.replaceSchedules({}, {}));
        QVERIFY(s.server.stopRecord("10.0.0.5"));
        // The guard moves the day that now lies ahead into BackupDir.
        QTRY_VERIFY_WITH_TIMEOUT(stepAt > kFrames || !QFileInfo::exists(root + "/20240102"), 10000);

        QMap<int, QStringList> own; // frame -> the day folders of the files holding it
        QStringList problems;
        for (const QString &path : zmfs()) {
            const QString day = path.section('/', -3, -3);
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QList<qint64> leadIn;
            bool started = false;
            for (const RecordScanEntry &e : recordio::scan(path).records) {
                if (e.type == 0)
                    continue;
                if (!started && leadIn.isEmpty() && e.type != 1)
                    problems << path + ": starts with a picture that needs an earlier one";
                file.seek(e.offset + _st_recframe_header::kSize);
                const int n = file.read(200).split('.').first().toInt();
                if (qint64(e.timestamp) != stamp(n)) {
                    if (started)
                        problems << path + QString(": frame %1 again").arg(n);
                    leadIn << qint64(e.timestamp);
                    continue;
                }
                if (!started && leadIn.count(stamp(n)) != leadIn.size())
                    problems << path + ": pictures before its start not stamped with it";
                started = true;
                own[n] << day;
            }
        }
        for (int n = from; n < kFrames; ++n)
            if (own.value(n) != QStringList{recordnames::dayFolder(stampedAt(n).date())})
                problems << QString("frame %1 (%2) in %3").arg(n).arg(stamp(n)).arg(own.value(n).join(", "));
        for (const QString &p : problems)
            qInfo().noquote() << p;
        QVERIFY2(problems.isEmpty(), qPrintable(problems.value(0)));
        for (const char *day : {"20240101", "20240102"})
            if (QFileInfo::exists(root + '/' + day))
                QVERIFY(mediatest::consistent(root + '/' + day + "/10.0.0.5"));
    }

    // An alarm recording keeps its whole length (record length with its pre-
    // and post-record seconds), cut or not: after a change of the date its
    // next file goes on in the new day's folder with what is left, and it
    // ends there. A second alarm neither extends nor restarts it.
    void alarmRecordingKeepsItsLength_data()
    {
        QTest::addColumn<QDateTime>("start");  // the clock when the first frame is stamped
        QTest::addColumn<QStringList>("days"); // each file's folder, oldest first
        QTest::newRow("across midnight") << QDateTime(QDate(2024, 1, 1), QTime(23, 59, 53, 311))
                                         << QStringList{"20240101", "20240102"};
        QTest::newRow("not cut") << QDateTime(QDate(2024, 1, 1), QTime(12, 0, 53, 311)) << QStringList{"20240101"};
    }
    void alarmRecordingKeepsItsLength()
    {
        QFETCH(QDateTime, start);
        QFETCH(QStringList, days);
        constexpr int kFrames = 1700;
        constexpr qint64 kLengthMs = (60 + 1 + 2) * 1000; // as the service is set up
        auto stamp = [&](int n) { return qint64(start.addMSecs(40 * n).time().msecsSinceStartOfDay()); };
        platform::FakeClock clock(start);
        platform::setClock(&clock);
        Service s;
        setRecorderFactory({});
        s.add({"10.0.0.5"});
        for (int day : {1, 2})
            QVERIFY(s.server.addRecordSchedule(day, 0, 1, 0, 1440, 1, ""));
        s.server.tick();
        FakeP2PStream *device = s.p2p.last;
        QVERIFY(device);
        device->deliver(1, streamInfo(640, 360), KindStreamInfo, 0, 0);
        const QString root = s.dir.path() + "/RecordFile";
        auto zmfs = [&] { return recordFiles(root); };
        auto written = [&](int n) { return recordedUpTo(root, stamp(n)); };
        QSignalSpy arrivals(&s.server, &qcStreamServer::sigAlarmArrival);
        for (int from = 0; from < kFrames; from += 25) {
            clock.set(start.addMSecs(40 * (from + 24) + 100));
            for (int n = from; n < from + 25; ++n)
                device->deliver(1, QByteArray(200, 'v'), KindVideo, n % 50 ? 0 : 1, stamp(n));
            if (from == 50 || from == 100)
                s.server.onAlarmStatus("10.0.0.5", 0x44);
            QTRY_VERIFY_WITH_TIMEOUT(written(from + 24) || !s.server.isRecording(), 20000);
        }
        QCOMPARE(arrivals.size(), 2);
        QCOMPARE(arrivals.at(1).at(3).toInt(), 2);
        QVERIFY(!s.server.isRecording());

        // Frame numbers of each file's first and last picture, in order.
        QStringList folders;
        QList<QPair<int, int>> spans;
        for (const QString &path : zmfs()) {
            const QString day = path.section('/', -3, -3);
            const recordindex::Summary f = recordindex::summarise(recordio::scan(path));
            auto frame = [&](qint64 ms) {
                const QDateTime at(QDate::fromString(day, "yyyyMMdd"), QTime::fromMSecsSinceStartOfDay(int(ms)));
                return int(start.msecsTo(at) / 40);
            };
            folders << day;
            spans << qMakePair(frame(f.firstKey), frame(f.lastVideo));
            QVERIFY(mediatest::consistent(QFileInfo(path).path()));
        }
        qInfo() << "files in" << folders << "first and last frames" << spans;
        QCOMPARE(folders, days);
        for (int i = 1; i < spans.size(); ++i)
            QCOMPARE(spans.at(i).first, spans.at(i - 1).second + 1);
        // Each file may pass its share by the one picture that reaches it.
        const qint64 recorded = 40 * (spans.last().second - spans.first().first);
        QVERIFY2(recorded >= kLengthMs && recorded <= kLengthMs + 40 * spans.size(),
                 qPrintable(QString("%1 ms recorded of %2").arg(recorded).arg(kLengthMs)));
    }

    void alarmLinkage()
    {
        platform::FakeClock clock(kMonday8);
        platform::setClock(&clock);
        Service s;
        s.add({"10.0.0.5", "10.0.0.6", "10.0.0.7"});
        QVERIFY(s.server.addRecordSchedule(1, 1, 1, 480, 600, 1, "10.0.0.5"));
        QVERIFY(s.server.addRecordSchedule(1, 1, 1, 900, 1000, 1, "10.0.0.6"));
        QVERIFY(s.server.addRecordSchedule(1, 0, 1, 0, 1440, 1, ""));
        QVERIFY(s.server.addRecordSchedule(1, 1, 0, 0, 1440, 1, "10.0.0.7"));
        QVERIFY(s.server.addRecordSchedule(1, 1, 1, 0, 1440, 1, "10.0.0.7"));
        s.server.tick();
        s.server.tick();
        QCOMPARE(s.recording(26), QStringList{"10.0.0.7"});
        QSignalSpy arrivals(&s.server, &qcStreamServer::sigAlarmArrival);
        auto actionOf = [&](int i) { return arrivals.at(i).at(3).toInt(); };
        // Named, inside its window: recorded.
        s.server.onAlarmStatus("10.0.0.5", 0x44);
        QCOMPARE(s.recording(27), QStringList{"10.0.0.5"});
        QCOMPARE(actionOf(0), 2);
        QCOMPARE(arrivals.at(0).at(1).toString(), QString("cam10.0.0.5"));
        // Named but outside: nothing, and the general entry is not tried.
        s.server.onAlarmStatus("10.0.0.6", 0x44);
        QCOMPARE(actionOf(1), 0);
        QCOMPARE(arrivals.at(1).at(1).toString(), QString("cam10.0.0.6"));
        // Its timing recording runs: refused, yet counted as recorded.
        s.server.onAlarmStatus("10.0.0.7", 64);
        QCOMPARE(actionOf(2), 2);
        QCOMPARE(s.recording(27), QStringList{"10.0.0.5"});
        // Ignored: other topics and addresses that are not IPv4.
        s.server.onAlarmStatus("10.0.0.5", 63);
        s.server.onAlarmStatus("10.0.0.5", 74);
        s.server.onAlarmStatus("P2P-A", 0x44);
        s.server.onAlarmStatus("", 0x44);
        QCOMPARE(arrivals.size(), 3);
    }

    void alarmSnapshots_data()
    {
        QTest::addColumn<bool>("root");
        QTest::addColumn<QString>("captureDevices"); // the capture entry's device text; "-" no entry
        QTest::addColumn<bool>("recordEntry");
        QTest::addColumn<QList<int>>("actions");
        QTest::addColumn<int>("files");
        QTest::newRow("records and snaps") << true << "" << true << QList<int>{2, 1} << 3;
        QTest::newRow("named capture entry") << true << "127.0.0.1" << false << QList<int>{1} << 3;
        QTest::newRow("no capture entry") << true << "-" << true << QList<int>{2} << 0;
        QTest::newRow("no capture root") << false << "" << true << QList<int>{2} << 0;
    }
    void alarmSnapshots()
    {
        QFETCH(bool, root);
        QFETCH(QString, captureDevices);
        QFETCH(bool, recordEntry);
        QFETCH(QList<int>, actions);
        QFETCH(int, files);
        platform::FakeClock clock(kMonday8);
        platform::setClock(&clock);
        SnapDevice cam;
        QVERIFY(cam.start());
        Service s(root, 3);
        s.server.addDevice("127.0.0.1", QString::number(cam.device.port()), "camA", "u", "p", kP2P, 1);
        if (recordEntry)
            QVERIFY(s.server.addRecordSchedule(1, 0, 1, 0, 1440, 1, ""));
        if (captureDevices != "-")
            QVERIFY(s.server.addSecondSchedule(1, captureDevices.isEmpty() ? 0 : 1, 1, 0, 1440, 1, captureDevices));
        s.server.tick();
        s.server.tick();
        QSignalSpy arrivals(&s.server, &qcStreamServer::sigAlarmArrival);
        s.server.onAlarmStatus("127.0.0.1", 65);
        QList<int> got;
        for (const auto &a : arrivals) {
            got << a.at(3).toInt();
            QCOMPARE(a.at(1).toString(), QString("camA"));
        }
        QCOMPARE(got, actions);
        const QString capture = s.dir.path() + "/CaptureFile";
        QTRY_COMPARE_WITH_TIMEOUT(testsupport::filesUnder(capture, "PICV1_ALARM_127-0-0-1_*.jpg").size(), files, 10000);
        QCOMPARE(cam.snaps(), files);
    }

    // Capture entries of segment type 0 fetch a picture every interval
    // inside their window, none outside; shutdown ends a busy worker.
    void timedCaptures()
    {
        platform::FakeClock clock(kMonday8.addSecs(-60));
        platform::setClock(&clock);
        SnapDevice cam;
        QVERIFY(cam.start());
        Service s;
        s.server.addDevice("127.0.0.1", QString::number(cam.device.port()), "camA", "u", "p", kP2P, 1);
        QVERIFY(s.server.addSecondSchedule(1, 0, 0, 480, 482, 1, ""));
        s.server.tick();
        s.server.tick();
        qcCaptureServer *captures = s.server.captureServer();
        QVERIFY(captures);
        QCOMPARE(captures->capturePath(), s.dir.path() + "/CaptureFile");
        QVERIFY(captures->tasks().isEmpty());
        clock.set(kMonday8);
        s.server.tick();
        s.server.tick();
        QCOMPARE(captures->tasks().size(), 1);
        QCOMPARE(captures->tasks().first().end, 482 * 60);
        QTRY_VERIFY_WITH_TIMEOUT(testsupport::filesUnder(s.dir.path(), "PICV1_TIMING_*.jpg").size() >= 2, 10000);
        clock.set(kMonday8.addSecs(180));
        QTRY_VERIFY_WITH_TIMEOUT(captures->tasks().isEmpty(), 5000);
        const int taken = cam.snaps();
        s.server.tick();
        QCOMPARE(captures->tasks().size(), 0);

        // Back inside the window with a device that stalls mid-picture.
        cam.device.addFault("/action/snap", devicesim::Fault::stall());
        clock.set(kMonday8);
        s.server.tick();
        QTRY_VERIFY_WITH_TIMEOUT(cam.snaps() > taken, 5000);
        QVERIFY(threadNames().contains("CaptureSchedule") || threadNames().contains("CaptureScheduler"));
        s.server.shutdown();
        QCOMPARE(s.server.captureServer(), nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(!threadNames().contains("qcRemoteCapture"), 2000);
        QTRY_VERIFY_WITH_TIMEOUT(!threadNames().join(' ').contains("CaptureSchedul"), 2000);
    }

    // Every save of the options or schedules and every device removal leaves
    // the scheduler with exactly the timed tasks the settings ask for now,
    // at once and after the next tick alike.
    void timedCapturesFollowTheSettings_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("tasks"); // "address start-end/interval"
        const QStringList both{"127.0.0.5 24000-36000/1", "127.0.0.6 24000-36000/1"};
        QTest::newRow("saved again unchanged") << "same" << both;
        QTest::newRow("snapshots switched off") << "off" << QStringList();
        QTest::newRow("window narrowed, now outside") << "narrowed" << QStringList();
        QTest::newRow("window widened") << "widened" << QStringList{"127.0.0.5 0-86398/1", "127.0.0.6 0-86398/1"};
        QTest::newRow("interval changed")
            << "interval" << QStringList{"127.0.0.5 24000-36000/20", "127.0.0.6 24000-36000/20"};
        QTest::newRow("device removed") << "removed" << QStringList{"127.0.0.5 24000-36000/1"};
    }
    void timedCapturesFollowTheSettings()
    {
        QFETCH(QString, change);
        QFETCH(QStringList, tasks);
        platform::FakeClock clock(kMonday8);
        platform::setClock(&clock);
        Service s;
        s.add({"127.0.0.5", "127.0.0.6"});
        auto window = [](int start, int end) { return QList<qcStreamServer::ScheduleEntry>{mondayEntry(start, end)}; };
        QVERIFY(s.server.replaceSchedules({}, window(400, 600)));
        s.server.tick();
        s.server.tick();
        qcCaptureServer *captures = s.server.captureServer();
        QVERIFY(captures);
        // An alarm's pictures keep their own rule (port 0: none is fetched).
        CaptureTask_t alarm;
        alarm.ip = "127.0.0.6";
        alarm.port = "0";
        alarm.user = alarm.password = "u";
        alarm.remaining = 100000;
        QVERIFY(captures->addCaptureTask(alarm));
        auto listed = [captures] {
            QStringList out;
            for (const CaptureTask_t &t : captures->tasks())
                out << (t.remaining ? QString("alarm")
                                    : QString("%1 %2-%3/%4").arg(t.ip).arg(t.start).arg(t.end).arg(t.interval));
            out.sort();
            return out;
        };
        QCOMPARE(listed(), (QStringList{"127.0.0.5 24000-36000/1", "127.0.0.6 24000-36000/1", "alarm"}));

        if (change == "same")
            QVERIFY(s.server.replaceSchedules({}, window(400, 600)));
        else if (change == "off")
            QVERIFY(s.server.replaceSchedules({}, {}));
        else if (change == "narrowed")
            QVERIFY(s.server.replaceSchedules({}, window(400, 450)));
        else if (change == "widened")
            QVERIFY(s.server.replaceSchedules({}, window(0, 1440)));
        else if (change == "interval")
            QVERIFY(s.server.setLocalConfig(s.dir.path(), s.dir.path(), 60, 1, 2, 1, 5, 30, 1, 20));
        else if (change == "removed")
            QVERIFY(s.server.removeDevice("127.0.0.6"));
        tasks << "alarm";
        QCOMPARE(listed(), tasks);
        s.server.tick();
        QCOMPARE(listed(), tasks);
    }

    // A removed device's schedules go with it; a device whose address
    // changed keeps them under the new one.
    void schedulesFollowTheDevice()
    {
        platform::FakeClock clock(kMonday8);
        platform::setClock(&clock);
        Service s;
        s.add({"127.0.0.5", "127.0.0.6"});
        const auto own = mondayEntry(0, 1440, {"127.0.0.5"});
        const auto shared = mondayEntry(0, 1440, {"127.0.0.5", "127.0.0.6"});
        QVERIFY(s.server.replaceSchedules({own, shared}, {}));
        QVERIFY(s.server.removeDevice("127.0.0.5"));
        QCOMPARE(s.server.recordSchedules().size(), 1);
        QCOMPARE(s.server.recordSchedules().at(0).devices, QStringList{"127.0.0.6"});
        // Added again at the same address: nothing of the old schedule.
        QVERIFY(s.server.addDevice("127.0.0.5", "0", "again", "u", "p", kP2P, 3) > 0);
        s.server.tick();
        s.server.tick();
        QCOMPARE(s.recording(26), QStringList{"127.0.0.6"});

        QVERIFY(s.server.modifyDevice(2, "127.0.0.7", "0", "moved", "u", "p"));
        QCOMPARE(s.server.recordSchedules().at(0).devices, QStringList{"127.0.0.7"});
    }

    void manualStartTellsTheTruth()
    {
        Service s;
        s.add({"10.0.0.5"});
        QVERIFY(!s.server.startRecord("10.0.0.5", 0)); // not repaired, not started
        QVERIFY(!s.server.recordingsRepaired());
        s.server.tick();
        QVERIFY(s.server.recordingsRepaired());
        QVERIFY(!s.server.startRecord("10.0.0.6", 0));
        QVERIFY(s.server.startRecord("10.0.0.5", 2));
        QCOMPARE(s.recorders.made.at(0)->kind, 28);
        QCOMPARE(s.recorders.made.at(0)->length, 1800);
        QVERIFY(s.server.startRecord("10.0.0.5", 2)); // already running
        QCOMPARE(s.recorders.made.size(), 1);
        QVERIFY(s.server.stopRecord("10.0.0.5"));
        QVERIFY(!s.server.stopRecord("10.0.0.6"));
        s.recorders.configure = [](ScriptedRecorder *r) { r->refuse = true; };
        QVERIFY(!s.server.startRecord("10.0.0.5", 0));
        Service noRoot(false);
        noRoot.add({"10.0.0.5"});
        noRoot.server.tick();
        QVERIFY(!noRoot.server.startRecord("10.0.0.5", 0));
    }

    // The connection closes right after pictures the recorder has not read
    // yet (it polls the frame buffer), and the unit empties the buffer for
    // the next connection: the pictures the client received are in the
    // file all the same, also when the device refuses the redial at once
    // and the buffer is emptied again before the recorder looks.
    void lostStreamLeavesNoReceivedPictureOut_data()
    {
        QTest::addColumn<QList<int>>("statuses");
        QTest::newRow("lost") << QList<int>{StatusLost};
        QTest::newRow("lost, the redial refused at once") << QList<int>{StatusLost, StatusFailed};
    }
    void lostStreamLeavesNoReceivedPictureOut()
    {
        QFETCH(QList<int>, statuses);
        const QDateTime start(QDate(2024, 1, 1), QTime(12, 0));
        platform::FakeClock clock(start);
        platform::setClock(&clock);
        // The recorder waits after its first picture until the statuses are
        // handled, so it has surely not read the last pictures.
        QSemaphore atFirst, goOn;
        Service s;
        setRecorderFactory([&] {
            auto *recorder = new qcVideoMuxer;
            recorder->setAfterFirstFrame([&](qcRecordFile *) {
                atFirst.release();
                goOn.acquire();
            });
            return recorder;
        });
        const auto letGo = qScopeGuard([&] { goOn.release(100); });
        s.add({"10.0.0.5"});
        s.server.tick();
        FakeP2PStream *device = s.p2p.last;
        QVERIFY(device);
        device->deliver(0, streamInfo(640, 360), KindStreamInfo, 0, 0);
        auto stamp = [&](int n) { return qint64(start.time().msecsSinceStartOfDay()) + 40 * n; };
        auto deliver = [&](int from, int to) {
            for (int n = from; n < to; ++n)
                device->deliver(0, numbered(n), KindVideo, n % 25 ? 0 : 1, stamp(n));
        };
        const QString root = s.dir.path() + "/RecordFile";
        deliver(0, 30);
        QVERIFY(s.server.startRecord("10.0.0.5", 0));
        QTRY_VERIFY(atFirst.available() > 0);
        deliver(30, 32);
        for (const int status : statuses)
            device->status(status);
        goOn.release();
        QTRY_VERIFY(recordedUpTo(root, stamp(31)));
        QVERIFY(s.server.stopRecord("10.0.0.5"));
        const QStringList files = recordFiles(root);
        QCOMPARE(files.size(), 1);
        const QList<int> pictures = picturesIn(files.at(0));
        QList<int> expected;
        for (int n = pictures.value(0, 32); n < 32; ++n)
            expected << n;
        QCOMPARE(pictures, expected);
    }

    void startUpRepair()
    {
        Service s;
        const QString folder = s.dir.path() + "/RecordFile/20240101/10.0.0.5";
        QVERIFY(QDir().mkpath(folder));
        const QString prefix = folder + "/RECV1_TIMING_10-0-0-5_";
        QFile(prefix + ".zmf").open(QIODevice::WriteOnly); // never got a frame
        writeFrames(prefix + "08-00-00-000_.zmf", 30, 28800000);
        append(prefix + "08-00-00-000_.zmf", QByteArray::fromHex("10111501ff00000000"));
        // Older, unlisted: its list record was lost, it is listed again.
        writeFrames(prefix + "07-00-00-000_07-00-01-000.zmf", 26, 25200000);
        writeFrames(prefix + "07-30-00-000_.zmf", 5, 27000000);
        QFile bad(prefix + "07-30-00-000_.zmf");
        QVERIFY(bad.open(QIODevice::ReadWrite));
        bad.seek(64 + 29 + 2);
        bad.write("\xff");
        bad.close();
        QFile random(prefix + "06-00-00-000_.zmf");
        QVERIFY(random.open(QIODevice::WriteOnly));
        random.write(QByteArray(500, '\x5a'));
        random.close();
        QTest::qWait(20);
        writeFrames(prefix + "09-00-00-000_09-00-01-000.zmf", 26, 32400000); // newest, unlisted
        append(recordindex::reclistPath(folder) + ".tmp", "half");
        const QStringList untouched = {"RECV1_TIMING_10-0-0-5_06-00-00-000_.zmf",
                                       "RECV1_TIMING_10-0-0-5_07-00-00-000_07-00-01-000.zmf",
                                       "RECV1_TIMING_10-0-0-5_07-30-00-000_.zmf"};

        s.server.tick();
        QVERIFY(s.server.recordingsRepaired());
        const QStringList files = QDir(folder).entryList(QDir::Files, QDir::Name);
        const QStringList expected =
            untouched + QStringList{"RECV1_TIMING_10-0-0-5_08-00-00-000_08-00-01-160.zmf",
                                    "RECV1_TIMING_10-0-0-5_09-00-00-000_09-00-01-000.zmf", "kfindex", "reclist"};
        QCOMPARE(files, expected);
        const auto list = recordindex::readReclist(folder);
        QCOMPARE(list.size(), 3);
        // In the order of their start times.
        QCOMPARE(list.at(0).item.name, files.at(1));
        QCOMPARE(list.at(1).item.name, files.at(3));
        QCOMPARE(list.at(2).item.name, files.at(4));
        QCOMPARE(list.at(1).item.kfindexCount, uint64_t(1)); // key frames 400 ms apart
        QCOMPARE(list.at(1).item.frameRate, 25);
        QCOMPARE(QFileInfo(folder + '/' + files.at(3)).size(), 64 + 30 * 29);
        // The one it leaves holds frames behind bytes that are no frame.
        QByteArray report;
        QVERIFY(!mediatest::consistent(folder, &report));
        QCOMPARE(report.count("PROBLEM"), 1);
        QVERIFY(report.contains("PROBLEM: not listed, left unfinished by a crash (bytes that are no frame after its "
                                "whole frames, at 93): RECV1_TIMING_10-0-0-5_07-30-00-000_.zmf"));
    }

    // A crash or a full disk in the middle of an index append leaves a torn
    // record; the start-up pass cuts it back before it appends, so the
    // recordings it lists after it read.
    void tornIndexTailsAreCutBack_data()
    {
        QTest::addColumn<bool>("reclist");
        QTest::addColumn<int>("repaired"); // by the second pass
        // The torn record's own file is listed again.
        QTest::newRow("reclist") << true << 4;
        QTest::newRow("kfindex") << false << 3;
    }
    void tornIndexTailsAreCutBack()
    {
        QFETCH(bool, reclist);
        QFETCH(int, repaired);
        QTemporaryDir dir;
        const QString folder = dir.filePath("20240101/10.0.0.5");
        QVERIFY(QDir().mkpath(folder));
        const QString prefix = folder + "/RECV1_TIMING_10-0-0-5_";
        auto unfinished = [&](int hour) {
            for (int i = 0; i < 3; ++i)
                writeFrames(prefix + QString("%1-0%2-00-000_.zmf").arg(hour, 2, 10, QChar('0')).arg(i), 30,
                            (hour * 60 + i) * 60000);
        };
        unfinished(8);
        QCOMPARE(recordindex::repairFolder(folder, folder), 3);
        if (reclist) {
            QVERIFY(QFile::resize(recordindex::reclistPath(folder), 3 * _st_reclist_item::kSize - 1));
        } else {
            _st_kfindex_item k;
            k.timestamp = 28800000;
            append(recordindex::kfindexPath(folder), k.toBytes().left(20));
        }
        unfinished(9);
        QCOMPARE(recordindex::repairFolder(folder, folder), repaired);
        bool listTorn = true, indexTorn = true;
        QCOMPARE(recordindex::readReclist(folder, &listTorn).size(), 6);
        const auto keys = recordindex::readKfindex(folder, &indexTorn);
        QVERIFY(!listTorn && !indexTorn);
        QCOMPARE(QFileInfo(recordindex::kfindexPath(folder)).size(), keys.size() * _st_kfindex_item::kSize);
        QVERIFY(mediatest::consistent(folder));
    }

    // A crash between the rename and the first frame leaves a start-only
    // name on a file too short to hold a frame: deleted, or the disk guard,
    // which needs an end time, would keep it for ever.
    void tinyUnfinishedFiles_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("header"); // the start of a real header, or bytes that do not read
        QTest::addColumn<bool>("kept");
        QTest::newRow("empty") << 0 << true << false;
        QTest::newRow("part of a header") << 40 << true << false;
        QTest::newRow("one byte short of a header") << 63 << true << false;
        QTest::newRow("short, does not read") << 63 << false << false;
        QTest::newRow("header size, does not read") << 64 << false << true;
    }
    void tinyUnfinishedFiles()
    {
        QFETCH(int, size);
        QFETCH(bool, header);
        QFETCH(bool, kept);
        QTemporaryDir dir;
        const QString name = dir.filePath("RECV1_ALARM_10-0-0-5_08-00-00-000_.zmf");
        if (header)
            writeFrames(name, 1, 28800000);
        else
            append(name, QByteArray(size, '\x5a'));
        QVERIFY(QFile::resize(name, size));
        QCOMPARE(recordindex::repairFolder(dir.path(), dir.path()), kept ? 0 : 1);
        QCOMPARE(QFileInfo::exists(name), kept);
        QVERIFY(mediatest::consistent(dir.path()));
    }

    // A file under a recording's first name blocks every recording of that
    // name (the recorder creates only new files): the start-up pass treats
    // it as a start-only file.
    void leftoverUnderTheFirstName_data()
    {
        QTest::addColumn<int>("frames"); // -1: bytes that are not a recording
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("after"); // the file's name afterwards; empty when deleted
        QTest::newRow("10 bytes") << 0 << 10 << QString();
        QTest::newRow("a header, no frame") << 1 << 64 << QString();
        QTest::newRow("frames") << 30 << 64 + 30 * 29 << "RECV1_TIMING_10-0-0-5_08-00-00-000_08-00-01-160.zmf";
        QTest::newRow("not a recording") << -1 << 500 << "RECV1_TIMING_10-0-0-5_.zmf";
    }
    void leftoverUnderTheFirstName()
    {
        QFETCH(int, frames);
        QFETCH(int, size);
        QFETCH(QString, after);
        QTemporaryDir dir;
        const QString name = dir.filePath("RECV1_TIMING_10-0-0-5_.zmf");
        if (frames < 0)
            append(name, QByteArray(size, '\x5a'));
        else
            writeFrames(name, qMax(frames, 1), 28800000);
        QVERIFY(QFile::resize(name, size));
        recordindex::repairFolder(dir.path(), dir.path());
        QCOMPARE(QDir(dir.path()).entryList({"*.zmf"}, QDir::Files),
                 after.isEmpty() ? QStringList() : QStringList{after});
        QCOMPARE(recordindex::readReclist(dir.path()).size(), frames > 1 ? 1 : 0);
        QVERIFY(mediatest::consistent(dir.path()));
    }

    // Reordered writes before a power loss: the list record reached the disk,
    // the end of kfindex did not. The listed range must not take in the key
    // frames of the next recording indexed there.
    void listedRangeBeyondKfindex_data()
    {
        QTest::addColumn<int>("lost"); // bytes lost off kfindex's end
        QTest::newRow("a torn record") << 20;
        QTest::newRow("two whole records") << 2 * _st_kfindex_item::kSize;
    }
    void listedRangeBeyondKfindex()
    {
        QFETCH(int, lost);
        QTemporaryDir dir;
        const QString prefix = listThree(dir.path());
        const QString kfindex = recordindex::kfindexPath(dir.path());
        QCOMPARE(QFileInfo(kfindex).size(), 12 * _st_kfindex_item::kSize);
        QVERIFY(QFile::resize(kfindex, QFileInfo(kfindex).size() - lost));

        recordindex::repairFolder(dir.path(), dir.path());
        writeFrames(prefix + "09-00-00-000_.zmf", 100, 540 * 60000);
        recordindex::repairFolder(dir.path(), dir.path());
        const auto list = recordindex::readReclist(dir.path());
        QCOMPARE(list.size(), 4);
        for (const auto &r : list)
            QCOMPARE(r.item.kfindexCount, uint64_t(4));
        QVERIFY(mediatest::consistent(dir.path()));
    }

    // A list record cut short by a crash, then foreign bytes written after
    // it: its fields do not fit its files, so it is made again from its file
    // (or dropped and the file listed anew), never listed as it stands.
    void foreignTailOnAListRecord_data()
    {
        QTest::addColumn<int>("cut"); // bytes of the last record kept
        QTest::newRow("in the name") << 20;
        QTest::newRow("after the kfindex offset") << 90;
        QTest::newRow("in the payload count") << 108;
    }
    void foreignTailOnAListRecord()
    {
        QFETCH(int, cut);
        // Later in the day than the recordings: one that ends after the
        // present is left to the disk guard, not listed again.
        platform::FakeClock clock(QDateTime(QDate(2024, 1, 1), QTime(23, 0)));
        platform::setClock(&clock);
        QTemporaryDir dir;
        listThree(dir.path());
        const QString reclist = recordindex::reclistPath(dir.path());
        QVERIFY(QFile::resize(reclist, 2 * _st_reclist_item::kSize + cut));
        // The rest of the record's slot, one whole slot more and a torn tail.
        QByteArray foreign;
        quint32 x = 2463534242u;
        for (int i = 0; i < _st_reclist_item::kSize - cut + _st_reclist_item::kSize + 7; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            foreign += char(x | 1);
        }
        append(reclist, foreign);

        recordindex::repairFolder(dir.path(), dir.path());
        const auto list = recordindex::readReclist(dir.path());
        QCOMPARE(list.size(), 3);
        const qint64 keys = QFileInfo(recordindex::kfindexPath(dir.path())).size();
        for (const auto &r : list) {
            QVERIFY(QFileInfo::exists(dir.filePath(r.item.name)));
            QVERIFY(recordindex::keyRangeEnd(r.item, keys) >= 0);
        }
        QCOMPARE(QFileInfo(reclist).size(), 3 * _st_reclist_item::kSize);
        QVERIFY(mediatest::consistent(dir.path()));
    }

    // A finished recording that reads stays listed whatever befell its list
    // record, a crash's zeros after its last frame cost only those zeros,
    // and one that ends after the present is left for the disk guard.
    void lostListRecordsAreListedAgain_data()
    {
        QTest::addColumn<int>("damage");
        QTest::addColumn<bool>("faultBefore"); // the tool names the damage before the pass
        QTest::addColumn<int>("listed");       // recordings listed after the pass
        QTest::newRow("a middle record removed") << 0 << true << 5;
        QTest::newRow("the last two lost") << 1 << true << 5;
        QTest::newRow("two bytes of a name changed") << 2 << true << 5;
        QTest::newRow("a byte of a marker zeroed") << 3 << true << 5;
        QTest::newRow("a start-only file with a zero tail") << 4 << true << 6;
        QTest::newRow("a start-only file with a tail of bytes that are no frame") << 6 << true << 6;
        QTest::newRow("a middle record lost, ends after the present") << 5 << false << 4;
        // Whole frames only: the time since its last write tells a crash's
        // file from one a recorder is writing.
        QTest::newRow("a start-only file untouched for two minutes") << 7 << true << 6;
        QTest::newRow("a start-only file written five seconds ago") << 8 << false << 6;
        // Its frames before the tail read; left as it is it stays hidden.
        QTest::newRow("a finished name with a random tail") << 9 << true << 5;
    }
    void lostListRecordsAreListedAgain()
    {
        QFETCH(int, damage);
        QFETCH(bool, faultBefore);
        QFETCH(int, listed);
        const bool future = damage == 5;
        platform::FakeClock clock(future ? QDateTime(QDate(2024, 1, 1), QTime(8, 2, 30))
                                         : QDateTime(QDate(2024, 1, 2), QTime(0, 0)));
        platform::setClock(&clock);
        ListedDay day(5);
        const QString &folder = day.folder;
        QCOMPARE(recordindex::readReclist(folder).size(), 5);
        QFile f(day.reclist);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        const int middle = (future ? 3 : 2) * _st_reclist_item::kSize;
        if (damage == 0 || damage == 5 || damage == 9)
            bytes.remove(middle, _st_reclist_item::kSize);
        else if (damage == 1)
            bytes.chop(2 * _st_reclist_item::kSize);
        else if (damage == 2)
            bytes.replace(middle + 12 + 23, 2, "77");
        else if (damage == 3)
            bytes[middle + 1] = 0;
        QVERIFY(f.resize(0) && f.write(bytes) == bytes.size());
        f.close();
        const QString tailed = day.prefix + "08-02-00-000_08-02-03-960.zmf";
        if (damage == 9)
            append(tailed, noise(8192));
        const QString crashed = day.prefix + "08-05-00-000_.zmf";
        const bool startOnly = damage == 4 || (damage >= 6 && damage <= 8);
        if (startOnly) {
            writeFrames(crashed, 30, 485 * 60000);
            if (damage == 4 || damage == 6)
                append(crashed, damage == 4 ? QByteArray(8192, '\0') : noise(8192));
            QFile file(crashed);
            QVERIFY(file.open(QIODevice::ReadWrite) &&
                    file.setFileTime(platform::localNow().addSecs(damage == 8 ? -5 : -120),
                                     QFileDevice::FileModificationTime));
        }
        QByteArray report;
        QCOMPARE(mediatest::consistent(folder, &report), !faultBefore);
        QCOMPARE(report.contains("PROBLEM: not listed"), faultBefore);

        testsupport::SystemLog log;
        recordindex::repairFolder(folder, folder);
        const QMap<QString, int> counts = timesListed(folder);
        QCOMPARE(counts.size(), future ? 5 : listed);
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            QCOMPARE(it.value(), future && it.key().contains("_08-03-00-000_") ? 0 : 1);
        const auto list = recordindex::readReclist(folder);
        QCOMPARE(list.size(), listed);
        for (int i = 0; i < list.size(); ++i) {
            QVERIFY(i == 0 || list.at(i - 1).item.name < list.at(i).item.name); // in start-time order
            QCOMPARE(list.at(i).item.kfindexCount, uint64_t(startOnly && i == 5 ? 1 : 4));
        }
        if (startOnly) {
            const QString finished = day.prefix + "08-05-00-000_08-05-01-160.zmf";
            QCOMPARE(QFileInfo(finished).size(), 64 + 30 * 29);
            QVERIFY(!QFileInfo::exists(crashed));
        }
        if (damage == 9) {
            const RecordScan scan = recordio::scan(tailed);
            QVERIFY(scan.readable && !scan.badRecord);
            QCOMPARE(scan.records.size(), 100);
            QCOMPARE(scan.fileSize, qint64(64 + 100 * 29));
            const QStringList events = log.abnormal();
            QCOMPARE(events.size(), 1);
            QVERIFY2(events[0].contains(": the start-up repair: 1 repair, 8192 bytes cut off or deleted; done: " +
                                        QFileInfo(tailed).fileName() +
                                        " (its list record was lost; 8192 bytes after its last whole frame cut (bytes "
                                        "that are no frame); listed again, 4 key frames indexed)"),
                     qPrintable(events[0]));
        }
        QVERIFY(mediatest::consistent(folder, &report));
        QCOMPARE(report.contains("dated after the present"), future);
        if (future) {
            qcDiskManager guard;
            guard.setRecordRoot(day.dir.path());
            guard.dailyPass();
            QCOMPARE(QDir(folder + "/BackupFile").entryList({"*.zmf"}, QDir::Files, QDir::Name),
                     (QStringList{"RECV1_TIMING_10-0-0-5_08-03-00-000_08-03-03-960.zmf",
                                  "RECV1_TIMING_10-0-0-5_08-04-00-000_08-04-03-960.zmf"}));
        }
    }

    // Bytes that are no frame with a whole frame after them lie inside the
    // recording, under a start-only name or a finished one: nothing is cut,
    // the operator is told once and the tool names the file.
    void framesAfterForeignBytesAreLeft_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("a start-only name") << "08-05-00-000_.zmf";
        QTest::newRow("a finished name") << "08-05-00-000_08-05-01-200.zmf";
    }
    void framesAfterForeignBytesAreLeft()
    {
        QFETCH(QString, name);
        platform::FakeClock clock(QDateTime(QDate(2024, 1, 2), QTime(0, 0)));
        platform::setClock(&clock);
        ListedDay day(1);
        const QString crashed = day.prefix + name;
        writeFrames(crashed, 30, 485 * 60000);
        append(crashed, foreignBytesThenAFrame(485 * 60000 + 1200));
        const QByteArray before = bytesOf(crashed);

        testsupport::SystemLog log;
        for (int pass = 0; pass < 2; ++pass)
            recordindex::repairTree(day.dir.path());
        QCOMPARE(bytesOf(crashed), before);
        QCOMPARE(recordindex::readReclist(day.folder).size(), 1);
        const QStringList rows = log.rows("SELECT lognote FROM systemlogs WHERE logtype = 3").split('\n');
        QCOMPARE(rows.filter(QFileInfo(crashed).fileName() + " (left as it is").size(), 1);
        QVERIFY(rows.filter("8192 bytes at 934 are no frame, a whole frame follows them at 9126").size() == 1);
        QByteArray report;
        QVERIFY(!mediatest::consistent(day.folder, &report));
        QVERIFY(report.contains("PROBLEM: not listed"));
        if (name.endsWith("_.zmf"))
            QVERIFY(report.contains("PROBLEM: not listed, left unfinished by a crash"));
    }

    // A file of a record folder that is a link to one elsewhere may be read
    // through, nothing more: the start-up pass and the recorder's listing
    // change nothing outside and leave the link where it is, told once. The
    // folder the operator chose may itself be a link.
    void linksAreNeverWrittenThrough_data()
    {
        QTest::addColumn<QString>("linked"); // the folder's file that is a link; empty: the record root
        QTest::newRow("a start-only record file with a torn tail") << "RECV1_TIMING_10-0-0-5_09-00-00-000_.zmf";
        QTest::newRow("a start-only record file with a zero tail") << "RECV1_TIMING_10-0-0-5_09-30-00-000_.zmf";
        QTest::newRow("reclist") << "reclist";
        QTest::newRow("kfindex") << "kfindex";
        QTest::newRow("the record root") << QString();
    }
    void linksAreNeverWrittenThrough()
    {
        QFETCH(QString, linked);
        platform::FakeClock clock(QDateTime(QDate(2024, 1, 2), QTime(0, 0)));
        platform::setClock(&clock);
        QTemporaryDir elsewhere;
        ListedDay day(2);
        const QString &folder = day.folder;
        const QString finished = QDir(folder).entryList({"*.zmf"}, QDir::Files).first();
        // A crash's file in the folder, which the pass finishes unless it
        // leaves the folder's index alone.
        const QString crashed = day.prefix + "08-30-00-000_.zmf";
        writeFrames(crashed, 30, 510 * 60000);
        append(crashed, QByteArray::fromHex("10111501ff00000000"));
        const QString target = elsewhere.filePath(linked.isEmpty() ? "root" : linked);
        if (linked.endsWith(".zmf")) {
            writeFrames(target, 30, 540 * 60000);
            append(target, linked.contains("09-00") ? QByteArray::fromHex("10111501ff00000000") : QByteArray(100, 0));
        } else if (!linked.isEmpty()) {
            QVERIFY(QFile::rename(folder + '/' + linked, target));
            append(target, QByteArray::fromHex("ee1aace6ff").leftJustified(linked == "reclist" ? 70 : 20, '\0'));
        }
        const QString link = linked.isEmpty() ? target : folder + '/' + linked;
        QVERIFY(QFile::link(linked.isEmpty() ? day.dir.path() : target, link));
        const QByteArray before = bytesOf(target);

        testsupport::SystemLog log;
        for (int pass = 0; pass < 2; ++pass)
            recordindex::repairTree(linked.isEmpty() ? link : day.dir.path());
        if (linked.isEmpty()) {
            QCOMPARE(recordindex::readReclist(folder).size(), 3);
            QVERIFY(!QFileInfo::exists(crashed));
            QVERIFY(mediatest::consistent(folder));
            return;
        }
        if (!linked.endsWith(".zmf")) {
            // What a recorder does at the end of a recording.
            _st_reclist_item item;
            item.name = finished;
            QVERIFY(!recordindex::listRecording(day.dir.path(), folder, folder + '/' + finished, item, QByteArray()));
            QVERIFY(!recordindex::recoverAfterJump(day.dir.path(), folder, 0, finished));
        }
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(bytesOf(target), before);
        // A linked index leaves the folder as it is, its crash's file too.
        QCOMPARE(QFileInfo::exists(crashed), !linked.endsWith(".zmf"));
        const QStringList rows = log.rows("SELECT lognote FROM systemlogs WHERE logtype = 3").split('\n');
        // A record file in the record of the pass that met it, an index file
        // (which stops the pass before it begins) in one of its own.
        const QString told = linked.endsWith(".zmf") ? linked + " (a link or not a regular file"
                                                     : link + ": a link or not a regular file";
        QCOMPARE(rows.filter(told).size(), 1);
    }

    // reclist written anew takes its name in its own folder only: a device
    // folder moved out of the tree and linked in its place, or reclist
    // turned into a link, after the new list was written, gets no list of
    // ours. The rewrite fails and what lies outside stays as it was.
    void reclistReplacedOnlyInItsFolder_data()
    {
        QTest::addColumn<bool>("folderSwapped"); // else reclist
        QTest::newRow("the device folder swapped for a link") << true;
        QTest::newRow("reclist swapped for a link") << false;
    }
    void reclistReplacedOnlyInItsFolder()
    {
        QFETCH(bool, folderSwapped);
        QTemporaryDir dir, outside;
        const QString folder = dir.filePath("RecordFile/20240101/10.0.0.5");
        QVERIFY(QDir().mkpath(folder));
        QByteArray list;
        for (const QString name : {"RECV1_TIMING_10-0-0-5_08-00-00-000_08-00-04-000.zmf",
                                   "RECV1_TIMING_10-0-0-5_08-01-00-000_08-01-04-000.zmf"}) {
            _st_reclist_item item;
            item.name = name;
            list += item.toBytes();
        }
        append(recordindex::reclistPath(folder), list);
        const QString moved = outside.filePath(folderSwapped ? "10.0.0.5" : "reclist");
        const QString link = folderSwapped ? folder : recordindex::reclistPath(folder);
        const QString outsideList = folderSwapped ? recordindex::reclistPath(moved) : moved;
        recordindex::setBeforeReclistReplacedHook([&](const QString &) {
            QVERIFY(QFile::rename(link, moved));
            QVERIFY(QFile::link(moved, link));
        });
        const bool rewritten = recordindex::rewriteReclistWithout(
            dir.filePath("RecordFile"), folder, {"RECV1_TIMING_10-0-0-5_08-00-00-000_08-00-04-000.zmf"});
        QCOMPARE(bytesOf(outsideList), list);
        QVERIFY(QFileInfo(link).isSymLink());
        QVERIFY(!rewritten);
        if (!folderSwapped)
            QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot), {"reclist"});
    }

    // Every index the start-up pass, the tail cut and the disk guard's list
    // rewrite read is read through the descriptor that judged it: one that
    // turned into a named pipe at the moment it is read is told and left,
    // never waited on (the pass would hold the stream service for good).
    void indexTurnedPipeIsNeverWaitedOn_data()
    {
        QTest::addColumn<QString>("index");
        QTest::addColumn<bool>("rewrite"); // the disk guard's list rewrite; else the start-up pass
        QTest::newRow("the pass meets reclist as a pipe") << "reclist" << false;
        QTest::newRow("the pass meets kfindex as a pipe") << "kfindex" << false;
        QTest::newRow("the list rewrite meets reclist as a pipe") << "reclist" << true;
    }
    void indexTurnedPipeIsNeverWaitedOn()
    {
        QFETCH(QString, index);
        QFETCH(bool, rewrite);
        ListedDay day(2);
        writeFrames(day.prefix + "08-05-00-000_.zmf", 30, 485 * 60000); // a crash's, to be listed
        const QString path = day.folder + '/' + index;
        std::atomic<bool> tried{false}, swapped{false};
        // On the pass's thread: no test macro there.
        recordindex::setBeforeIndexReadHook([&](const QString &at) {
            if (at != path || tried.exchange(true))
                return;
            const QString pipe = day.dir.filePath("pipe");
            swapped = ::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0 && QFile::remove(path) &&
                      QFile::rename(pipe, path);
        });
        testsupport::SystemLog log;
        std::atomic<bool> done{false};
        std::thread pass([&] {
            if (rewrite)
                recordindex::rewriteReclistWithout(day.folder, day.folder, {"RECV1_TIMING_10-0-0-5_08-00-00-000_.zmf"});
            else
                recordindex::repairTree(day.dir.path());
            done = true;
        });
        const bool ended = QTest::qWaitFor([&] { return done.load(); }, 20000);
        // A pass held in an open of the pipe is let go by a writer that comes
        // and goes, so that the test ends.
        while (!done) {
            const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
            QTest::qWait(50);
        }
        pass.join();
        QVERIFY(swapped);
        QVERIFY(ended);
        struct stat st;
        QVERIFY(::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode));
        // In the pass's record of the folder, or in a record of its own.
        const QStringList told = log.abnormal();
        QCOMPARE(told.filter(path + ": a link or not a regular file").size() +
                     told.filter(index + " (a link or not a regular file").size(),
                 1);
    }

    // A record folder typed with ".." is one folder for every part: where
    // the recordings go is where the start-up pass repairs and the disk
    // guard looks, whether what the ".." climbs out of is missing or a link.
    void typedFolderIsOneFolder_data()
    {
        QTest::addColumn<QString>("typed"); // below the test's folder
        QTest::addColumn<bool>("link");     // "a" is a link to a folder two levels down; else missing
        QTest::newRow("'..' over a missing folder") << "a/../rec" << false;
        QTest::newRow("'..' after a link") << "a/../rec" << true;
        QTest::newRow("'.' and doubled slashes") << "./rec//." << false;
    }
    void typedFolderIsOneFolder()
    {
        QFETCH(QString, typed);
        QFETCH(bool, link);
        platform::FakeClock clock(kMonday8);
        platform::setClock(&clock);
        Service s(false);
        if (link) {
            QVERIFY(QDir().mkpath(s.dir.filePath("x/y")));
            QVERIFY(QFile::link(s.dir.filePath("x/y"), s.dir.filePath("a")));
        }
        const QString rec = s.dir.filePath("rec");
        const QString folder = rec + "/RecordFile/20240101/10.0.0.5";
        QVERIFY(QDir().mkpath(folder));
        const QString crashed = folder + "/RECV1_TIMING_10-0-0-5_07-00-00-000_.zmf";
        writeFrames(crashed, 30, 420 * 60000);
        QVERIFY(
            s.server.setLocalConfig(s.dir.path() + '/' + typed, s.dir.path() + '/' + typed, 60, 1, 2, 1, 5, 30, 1, 1));
        QCOMPARE(s.server.recordRoot(), rec + "/RecordFile");
        QCOMPARE(s.server.captureRoot(), rec + "/CaptureFile");
        QVERIFY(s.server.buildRecordPath("10.0.0.5", 26).startsWith(folder + '/'));
        s.server.tick();
        QVERIFY(s.server.recordingsRepaired());
        QVERIFY(!QFileInfo::exists(crashed));
        QCOMPARE(recordindex::readReclist(folder).size(), 1);
        QCOMPARE(s.server.diskGuard()->recordRoot(), rec + "/RecordFile");
        QVERIFY(!QFileInfo::exists(s.dir.filePath("x/rec")));
    }

    // A crashed recording whose final name is taken, by a link above all,
    // keeps its start-only name: the rename never copies through the link,
    // and what the link names stays as it was.
    void crashedRecordingsFinalNameTaken_data()
    {
        QTest::addColumn<bool>("dangling");
        QTest::newRow("a dangling link at the final name") << true;
        QTest::newRow("a link to a file at the final name") << false;
    }
    void crashedRecordingsFinalNameTaken()
    {
        QFETCH(bool, dangling);
        platform::FakeClock clock(QDateTime(QDate(2024, 1, 2), QTime(0, 0)));
        platform::setClock(&clock);
        QTemporaryDir outside;
        ListedDay day(1);
        const QString crashed = day.prefix + "08-30-00-000_.zmf";
        writeFrames(crashed, 30, 510 * 60000);
        const QByteArray written = bytesOf(crashed);
        const QString target = outside.filePath("target.zmf");
        if (!dangling)
            append(target, "outside the record folders");
        const QString link = day.prefix + "08-30-00-000_08-30-01-160.zmf";
        QVERIFY(QFile::link(target, link));
        const QByteArray before = bytesOf(target);
        recordindex::repairTree(day.dir.path());
        QCOMPARE(bytesOf(crashed), written);
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(QFileInfo::exists(target), !dangling);
        QCOMPARE(bytesOf(target), before);
    }

    // The operator finds each folder's start-up repairs in the system log,
    // in one record: the same fault met again, by a later pass or by a
    // recorder trying the name on every tick, is not told again, nor on the
    // console.
    void startUpRepairIsLogged()
    {
        platform::FakeClock clock(QDateTime(QDate(2024, 1, 2), QTime(0, 0)));
        platform::setClock(&clock);
        ListedDay day(3);
        const QString &folder = day.folder, &prefix = day.prefix;
        QVERIFY(QFile::resize(day.reclist, 2 * _st_reclist_item::kSize)); // the last list record lost
        append(recordindex::kfindexPath(folder), QByteArray::fromHex("ee1aace6") + QByteArray(16, '\0'));
        writeFrames(prefix + "09-00-00-000_.zmf", 30, 540 * 60000);
        append(prefix + "09-00-00-000_.zmf", QByteArray(100, '\0'));
        writeFrames(prefix + "10-00-00-000_.zmf", 1, 600 * 60000);
        QVERIFY(QFile::resize(prefix + "10-00-00-000_.zmf", 70)); // no whole frame
        const QString firstName = prefix + ".zmf";
        append(firstName, QByteArray(500, '\x5a'));

        testsupport::SystemLog log;
        QVERIFY(log.run.isValid());
        Console console;
        for (int pass = 0; pass < 2; ++pass) {
            recordindex::repairTree(day.dir.path());
            QVERIFY(!recordindex::clearLeftover(day.dir.path(), firstName)); // a recorder's tick
        }
        QCOMPARE(console.count(firstName), 1);
        const QStringList said = {
            recordindex::kfindexPath(folder) + ": a torn last record cut off, 20 bytes",
            prefix + "08-02-00-000_08-02-03-960.zmf: its list record was lost; listed again, 4 key frames indexed",
            prefix + "09-00-00-000_09-00-01-160.zmf: finished after an unclean end",
            prefix + "10-00-00-000_.zmf: deleted, 70 bytes",
        };
        for (const QString &t : said)
            QCOMPARE(console.count(t), 1);
        const QStringList rows = log.rows("SELECT logtype, reldevaddr, lognote FROM systemlogs").split('\n');
        QCOMPARE(rows.size(), 1);
        const QString note = rows[0];
        QVERIFY2(note.startsWith("3|10.0.0.5|" + folder +
                                 ": the start-up repair: 4 repairs, 190 bytes cut off or deleted; done: the first "
                                 "kfindex (a torn last record cut off, 20 bytes), the last "
                                 "RECV1_TIMING_10-0-0-5_09-00-00-000_09-00-01-160.zmf (finished after an unclean end"),
                 qPrintable(note));
        QVERIFY2(note.contains("100 bytes after its last whole frame cut (zeros); listed, 1 key frames indexed)"),
                 qPrintable(note));
        QVERIFY2(note.endsWith("; 1 file left as it is: RECV1_TIMING_10-0-0-5_.zmf (left as it is, 500 bytes: it "
                               "does not read as a recording)"),
                 qPrintable(note));
        QVERIFY(mediatest::consistent(folder));
    }

    // A day's recordings whose lists were lost: each folder's pass is one
    // record, however many it lists again, and it tells what happened only
    // once it happened. A list that cannot be written is told as such, and
    // a second start appends no key-frame records the first one appended.
    void startUpPassOverManyRecordings_data()
    {
        QTest::addColumn<bool>("writable"); // reclist
        QTest::newRow("listed again") << true;
        QTest::newRow("reclist cannot be written") << false;
    }
    void startUpPassOverManyRecordings()
    {
        QFETCH(bool, writable);
        platform::FakeClock clock(QDateTime(QDate(2024, 1, 2), QTime(0, 0)));
        platform::setClock(&clock);
        QTemporaryDir dir;
        const QString folder = dir.filePath("20240101/10.0.0.5");
        QVERIFY(QDir().mkpath(folder));
        auto name = [](int i) {
            const QTime start = QTime(8, 0).addSecs(10 * i);
            return "RECV1_TIMING_10-0-0-5_" + start.toString("HH-mm-ss-zzz") + '_' +
                   start.addMSecs(360).toString("HH-mm-ss-zzz") + ".zmf";
        };
        for (int i = 0; i < 200; ++i)
            writeFrames(folder + '/' + name(i), 10, 28800000 + 10000 * i);
        std::optional<testsupport::ReadOnlyFile> readOnly;
        if (!writable)
            QVERIFY(readOnly.emplace(recordindex::reclistPath(folder)).isValid());
        const QString kfindex = recordindex::kfindexPath(folder);
        auto keys = [&] { return bytesOf(kfindex); };
        // Each recording's key-frame records are looked up in the table the
        // pass keeps of kfindex, not by a search of the whole file.
        recordindex::KeyLookups lookups = recordindex::keyLookups();
        auto lookedUp = [&](quint64 inTable) {
            const recordindex::KeyLookups now = recordindex::keyLookups();
            QCOMPARE(now.inTable - lookups.inTable, inTable);
            QCOMPARE(now.searched, lookups.searched);
            lookups = now;
        };

        testsupport::SystemLog log;
        QVERIFY(log.run.isValid());
        QCOMPARE(recordindex::repairFolder(folder, folder), 200);
        lookedUp(200);
        const QByteArray first = keys();
        QCOMPARE(first.size(), 200 * _st_kfindex_item::kSize);
        QStringList events = log.abnormal();
        QCOMPARE(events.size(), 1);
        const QString told =
            writable ? "listed again, 1 key frames indexed" : "it could not be listed, reclist is not writable";
        QVERIFY2(events[0].startsWith("record repair|10.0.0.5|" + folder + ": the start-up repair: 200 repairs" +
                                      (writable ? "" : " (200 failed)") + ", 0 bytes cut off or deleted; " +
                                      (writable ? "done" : "failed") + ": the first " + name(0) +
                                      " (its list record was lost; " + told + "), the last " + name(199) +
                                      " (its list record was lost; " + told + ')'),
                 qPrintable(events[0]));
        QCOMPARE(events[0].count("listed again"), writable ? 2 : 0);
        QCOMPARE(recordindex::readReclist(folder).size(), writable ? 200 : 0);

        // The next start finds them listed, or lists them with the key-frame
        // records already there.
        recordindex::repairFolder(folder, folder);
        lookedUp(writable ? 0 : 200);
        QCOMPARE(keys(), first);
        QCOMPARE(log.abnormal().size(), writable ? 1 : 2);
        if (writable)
            QVERIFY(mediatest::consistent(folder));
    }

    // Files a pass leaves as they are, for a reason that lasts, are counted
    // in the record of the folder they stand in: a folder of links or of
    // crashes' files would otherwise write a record per file at every start.
    // A link is never followed, a named pipe or socket never opened (a pipe
    // would hold the pass forever), and none of them is changed.
    void leftAloneFilesAreCountedInThePassRecord_data()
    {
        QTest::addColumn<QString>("made"); // what stands under each name
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("why");
        const QString notRegular = "a link or not a regular file";
        QTest::newRow("300 linked names") << "link" << 300 << notRegular;
        QTest::newRow("200 start-only files with a whole frame after bad bytes")
            << "frame after bad bytes" << 200 << "are no frame, a whole frame follows them";
        QTest::newRow("linked past day folders") << "day link" << 2 << notRegular;
        QTest::newRow("linked device folders") << "device link" << 2 << notRegular;
        QTest::newRow("dangling links under recordings' names") << "dangling" << 2 << notRegular;
        QTest::newRow("named pipes under recordings' names") << "pipe" << 2 << notRegular;
        QTest::newRow("sockets under recordings' names") << "socket" << 2 << notRegular;
    }
    void leftAloneFilesAreCountedInThePassRecord()
    {
        QFETCH(QString, made);
        QFETCH(int, count);
        QFETCH(QString, why);
        platform::FakeClock clock(QDateTime(QDate(2024, 1, 2), QTime(0, 0)));
        platform::setClock(&clock);
        QTemporaryDir elsewhere;
        ListedDay day(1);
        // A crash's file outside, which a pass that went through a link
        // would finish.
        const QString target = elsewhere.filePath("10.0.0.5/RECV1_TIMING_10-0-0-5_09-00-00-000_.zmf");
        QVERIFY(QDir().mkpath(QFileInfo(target).path()));
        writeFrames(target, 30, 540 * 60000);
        append(target, QByteArray::fromHex("10111501ff00000000"));
        const QString nowhere = elsewhere.filePath("nothing.zmf");
        // Ten seconds apart from 09:00; a link has a finished name.
        auto name = [&](int i) {
            const QTime start = QTime(9, 0).addSecs(10 * i);
            return day.prefix + start.toString("HH-mm-ss-zzz") + '_' +
                   (made == "frame after bad bytes" ? QString() : start.addMSecs(1160).toString("HH-mm-ss-zzz")) +
                   ".zmf";
        };
        const bool dayLink = made == "day link", deviceLink = made == "device link";
        auto told = [&](int i) {
            return dayLink      ? day.dir.filePath(QString("2023123%1").arg(i))
                   : deviceLink ? day.dir.filePath(QString("20240101/10.0.0.%1").arg(6 + i))
                                : name(i);
        };
        // The folder whose pass meets them.
        const QString folder = QFileInfo(told(0)).path();
        auto type = [](const QString &path) {
            struct stat st;
            return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & S_IFMT : 0;
        };
        QList<mode_t> types;
        for (int i = 0; i < count; ++i) {
            const qint64 start = 540 * 60000 + 10000 * i;
            const QByteArray path = QFile::encodeName(told(i));
            if (made == "link" || made == "dangling" || dayLink || deviceLink) {
                const QString to = made == "link" ? target
                                   : dayLink      ? elsewhere.path()
                                   : deviceLink   ? QFileInfo(target).path()
                                                  : nowhere;
                QVERIFY(QFile::link(to, told(i)));
            } else if (made == "pipe" || made == "socket") {
                QCOMPARE(::mknod(path.constData(), (made == "pipe" ? S_IFIFO : S_IFSOCK) | 0600, 0), 0);
            } else {
                writeFrames(name(i), 30, start);
                append(name(i), foreignBytesThenAFrame(start + 1200));
            }
            types << type(told(i));
        }
        const QString kept = made == "frame after bad bytes" ? name(count - 1) : target;
        const QByteArray before = bytesOf(kept);

        testsupport::SystemLog log;
        Console console;
        for (int pass = 0; pass < 2; ++pass)
            recordindex::repairTree(day.dir.path());
        const QStringList events = log.abnormal();
        QCOMPARE(events.size(), 1);
        QVERIFY2(events[0].startsWith("record repair|" + QFileInfo(folder).fileName() + '|' + folder +
                                      ": the start-up repair: " + QString::number(count) +
                                      " files left as they are: the first " + QFileInfo(told(0)).fileName() + " ("),
                 qPrintable(events[0]));
        QVERIFY2(events[0].contains(", the last " + QFileInfo(told(count - 1)).fileName() + " ("),
                 qPrintable(events[0]));
        QCOMPARE(events[0].count(why), 2);
        for (int i = 0; i < count; ++i) {
            QCOMPARE(Console::lines().filter(told(i) + ": ").filter(why).size(), 1);
            QCOMPARE(type(told(i)), types.at(i));
        }
        QCOMPARE(recordindex::readReclist(day.folder).size(), 1);
        QCOMPARE(QDir(day.folder).entryList({"*.zmf"}, QDir::Files | QDir::System).size(),
                 1 + (dayLink || deviceLink ? 0 : count));
        QCOMPARE(bytesOf(kept), before);
        QVERIFY(!QFileInfo::exists(nowhere));
    }

    // The record, snapshot and capture paths take the device's folder name
    // from its address; an address that is no folder name gives no path.
    void folderNamesStayUnderTheirRoots_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("good");
        QTest::newRow("IPv4") << "10.0.0.5" << true;
        QTest::newRow("identifier") << "ABCD-123456-XYZ" << true;
        QTest::newRow("parent folders") << "../../../escape-a" << false;
        QTest::newRow("dots alone") << ".." << false;
        QTest::newRow("slash") << "a/b" << false;
        QTest::newRow("backslash") << "a\\b" << false;
        QTest::newRow("empty") << "" << false;
    }
    void folderNamesStayUnderTheirRoots()
    {
        QFETCH(QString, address);
        QFETCH(bool, good);
        platform::FakeClock clock(kMonday8);
        platform::setClock(&clock);
        Service s(false);
        // Three folders up from a day folder is still inside the test's own.
        const QString root = s.dir.path() + "/a/b";
        QVERIFY(s.server.setLocalConfig(root, root, 60, 1, 2, 1, 5, 30, 1, 1));
        const QString pictures = root + "/CaptureFile";
        const QString folder = "/20240101/" + address + '/';
        const QStringList paths = {
            s.server.buildRecordPath(address, 26),
            qcCameraUtil::snapshotPath(pictures, address, CLivePlayer::kSnapshotJpg, kMonday8),
            qcRemoteCapture::makeCaptureFileName(pictures, address, qcRemoteCapture::kTimedCapture, kMonday8)};
        for (const QString &path : paths) {
            QCOMPARE(path.isEmpty(), !good);
            QVERIFY2(path.isEmpty() || (path.startsWith(root) && path.contains(folder)), qPrintable(path));
        }
        QVERIFY(!QFileInfo::exists(s.dir.path() + "/a/escape-a"));
    }

    // A day or device folder that is a link is never recorded into nor
    // given pictures: the device's recording fails as it does when its
    // folder cannot be made, told once with the folder named.
    void linkedFoldersAreNotRecordedInto_data()
    {
        QTest::addColumn<QString>("linked"); // below the tops
        QTest::addColumn<QString>("device");
        QTest::newRow("day folder") << "20240101"
                                    << "10.0.0.5";
        QTest::newRow("device folder") << "20240101/10.0.0.5"
                                       << "10.0.0.5";
        // A P2P identifier may be the name of a top: the device's folder
        // is below the day folder all the same.
        QTest::newRow("day folder, a device named RecordFile") << "20240101"
                                                               << "RecordFile";
        QTest::newRow("day folder, a device named CaptureFile") << "20240101"
                                                                << "CaptureFile";
    }
    void linkedFoldersAreNotRecordedInto()
    {
        QFETCH(QString, linked);
        QFETCH(QString, device);
        platform::FakeClock clock(kMonday8);
        platform::setClock(&clock);
        testsupport::SystemLog log;
        QTemporaryDir outside;
        QVERIFY(QDir().mkpath(outside.filePath("10.0.0.5")));
        Service s;
        for (const QString top : {"/RecordFile/", "/CaptureFile/"}) {
            QVERIFY(QDir().mkpath(QFileInfo(s.dir.path() + top + linked).path()));
            QVERIFY(QFile::link(outside.path(), s.dir.path() + top + linked));
        }
        const QString pictures = s.dir.path() + "/CaptureFile";
        for (int tick = 0; tick < 3; ++tick) {
            QCOMPARE(s.server.buildRecordPath(device, 26), QString());
            QCOMPARE(qcRemoteCapture::storePicture(pictures, device, qcRemoteCapture::kTimedCapture, kMonday8,
                                                   "\xff\xd8\xff\xd9"),
                     QString());
        }
        QCOMPARE(QDir(outside.filePath("10.0.0.5")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), {});
        QCOMPARE(QDir(outside.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), {"10.0.0.5"});
        const QString folder = s.dir.path() + "/RecordFile/20240101/" + device;
        const QStringList told = log.abnormal();
        QCOMPARE(told.filter("record folder failed|" + device + "|" + folder + " cannot be made").size(), 1);
        QCOMPARE(told.filter(s.dir.path() + "/RecordFile/" + linked + ": a link").size(), 1);
    }

    void ownedServicesLiveAndEndWithTheService()
    {
        const auto before = threadNames();
        QVERIFY(!before.contains("AlarmChannel"));
        auto s = std::make_unique<Service>();
        s->server.tick();
        qcAlarmServer *alarm = s->server.alarmServer();
        qcDiskManager *guard = s->server.diskGuard();
        QVERIFY(alarm && guard);
        QCOMPARE(guard->recordRoot(), s->dir.path() + "/RecordFile");
        QCOMPARE(guard->minFreeSpace(), 5);
        s->server.tick();
        QCOMPARE(s->server.alarmServer(), alarm);
        QCOMPARE(s->server.diskGuard(), guard);
        QTRY_VERIFY(threadNames().contains("AlarmChannel") && threadNames().contains("qcDiskManager"));
        s->server.shutdown();
        // A joined thread leaves the task list a moment after it was joined.
        QTRY_VERIFY_WITH_TIMEOUT(!threadNames().contains("AlarmChannel"), 2000);
        QTRY_VERIFY_WITH_TIMEOUT(!threadNames().contains("qcDiskManager"), 2000);
        QCOMPARE(s->server.alarmServer(), nullptr);
    }

    // The record-file tool opens nothing in a record folder that is not a
    // regular file (after a link): a named pipe would hold it forever. It
    // names what it left unread, and a folder it could not read whole is
    // not called consistent.
    void zmfdumpSkipsWhatIsNoRegularFile_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("link"); // a link to a named pipe elsewhere, not the pipe itself
        QTest::addColumn<bool>("file"); // the link names a regular file elsewhere, not a pipe
        QTest::newRow("reclist is a named pipe") << "reclist" << false << false;
        QTest::newRow("kfindex is a named pipe") << "kfindex" << false << false;
        QTest::newRow("a .zmf name is a named pipe") << "RECV1_TIMING_10-0-0-5_08-30-00-000_.zmf" << false << false;
        QTest::newRow("a .zmf name is a link to a named pipe")
            << "RECV1_TIMING_10-0-0-5_08-30-00-000_.zmf" << true << false;
        QTest::newRow("reclist is a link to its copy elsewhere") << "reclist" << true << true;
        QTest::newRow("kfindex is a link to its copy elsewhere") << "kfindex" << true << true;
        QTest::newRow("a .zmf name is a link to a recording elsewhere")
            << "RECV1_TIMING_10-0-0-5_08-30-00-000_.zmf" << true << true;
    }
    void zmfdumpSkipsWhatIsNoRegularFile()
    {
        QFETCH(QString, entry);
        QFETCH(bool, link);
        QFETCH(bool, file);
        QTemporaryDir elsewhere;
        ListedDay day(2);
        QVERIFY(mediatest::consistent(day.folder));
        const QString path = day.folder + '/' + entry;
        const QString target = link ? elsewhere.filePath(file ? entry : "pipe") : path;
        if (file && QFileInfo::exists(path))
            QVERIFY(QFile::rename(path, target));
        else if (file)
            writeFrames(target, 30, 510 * 60000);
        QFile::remove(path);
        if (!file)
            QCOMPARE(::mkfifo(QFile::encodeName(target).constData(), 0600), 0);
        if (link)
            QVERIFY(QFile::link(target, path));

        QByteArray report;
        // -1: it did not end by itself.
        QCOMPARE(mediatest::zmfdump({"--index", day.folder}, &report), 1);
        const QList<QByteArray> lines = report.split('\n');
        QVERIFY2(lines.contains("PROBLEM: skipped: " + entry.toUtf8() + ": not a regular file (" +
                                (file   ? "a link to a regular file"
                                 : link ? "a link to a named pipe"
                                        : "a named pipe") +
                                ")"),
                 report.constData());
        QCOMPARE(report.count("skipped"), 1);
        // What was not read is the only fault found: a list it could not
        // read does not make the folder's files unlisted.
        QCOMPARE(report.count("PROBLEM"), 1);
        QVERIFY(lines.contains("inconsistent"));
    }

    // Reading one recording, the record-file tool waits on no named pipe
    // either: a kfindex beside it that is one is named and the file read from
    // its start; a record file that is one is named and not read.
    void zmfdumpReadsNoPipeOfAFile_data()
    {
        QTest::addColumn<QString>("pipe"); // "kfindex" or the recording's own name
        QTest::addColumn<bool>("extract"); // else the dump of the file
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("told");
        QTest::newRow("--extract beside a piped kfindex")
            << "kfindex" << true << 0 << "PROBLEM: skipped: kfindex: not a regular file (a named pipe)";
        QTest::newRow("--extract of a named pipe") << "file" << true << 2 << ": not a regular file (a named pipe)";
        QTest::newRow("the dump of a named pipe") << "file" << false << 2 << ": not a regular file (a named pipe)";
    }
    void zmfdumpReadsNoPipeOfAFile()
    {
        QFETCH(QString, pipe);
        QFETCH(bool, extract);
        QFETCH(int, code);
        QFETCH(QString, told);
        ListedDay day(1);
        const QStringList files = QDir(day.folder).entryList({"*.zmf"});
        QCOMPARE(files.size(), 1);
        const QString file = day.folder + '/' + files.at(0);
        const QString piped = pipe == "kfindex" ? recordindex::kfindexPath(day.folder) : file;
        QVERIFY(QFile::remove(piped));
        QCOMPARE(::mkfifo(QFile::encodeName(piped).constData(), 0600), 0);
        QByteArray report;
        const QString out = day.dir.filePath("video.out");
        // -1: it did not end by itself.
        QCOMPARE(mediatest::zmfdump(extract ? QStringList{"--extract", file, out} : QStringList{file}, &report), code);
        QVERIFY2(report.contains(told.toUtf8()), report.constData());
        if (code == 0)
            QVERIFY2(report.contains("100 video frames written"), report.constData());
    }
};

QTEST_MAIN(TestRecording)
#include "tst_recording.moc"
