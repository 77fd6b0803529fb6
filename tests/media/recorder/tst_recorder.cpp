#include "zmfdump.h"

#include "media/qcdiskmanager.h"
#include "media/qcframebuffer.h"
#include "media/qcrecordfile.h"
#include "media/qcvideomuxer.h"
#include "media/recordindex.h"
#include "media/recordnames.h"
#include "platform/clock.h"
#include "tests/support/countingclock.h"
#include "tests/support/filebytes.h"
#include "tests/support/readonlyfile.h"
#include "tests/support/runfolder.h"
#include "tests/support/systemlog.h"
#include "tests/support/watchdog.h"

#include <QDir>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

using namespace mediatest;

namespace {

constexpr qint64 kDay = 86400000;

// One device's stream as the stream client fills it: 25 frames/s, a key frame
// every second, a mu-law frame after every video frame.
struct Stream
{
    qcFrameBuffer buffer;
    qint64 ts = 1000000;
    int frame = 0;
    explicit Stream(uint32_t size = 4 << 20)
    {
        buffer.allocate(size);
        buffer.setFrameRate(25);
    }
    void push(int frames, int videoBytes = 300, qint64 step = 40)
    {
        for (int i = 0; i < frames; ++i, ++frame, ts += step) {
            QByteArray v(videoBytes, char(frame));
            buffer.pushFrame(v.constData(), v.size(), frame % 25 == 0 ? 1 : 2, uint64_t(ts));
            buffer.pushFrame("audio-audio", 11, 4, uint64_t(ts + 5));
        }
    }
    void jump(qint64 ms) { ts += ms; }
};

struct Recording
{
    QStringList files; // finished names in the folder
    QList<recordindex::ListRecord> list;
    QList<recordindex::KfRecord> index;
};

class RecorderTest
{
public:
    QTemporaryDir dir;
    QString folder;
    explicit RecorderTest(const QString &rel = "20240101/10.1.2.3") : folder(dir.filePath(rel))
    {
        QDir().mkpath(folder);
    }
    QString initial(int kind = 28) const { return folder + '/' + recordnames::initialName("10.1.2.3", kind); }

    std::unique_ptr<qcVideoMuxer> make(Stream &s, qint64 resume = 0, int pre = 0, int pauseMs = 1)
    {
        auto m = std::make_unique<qcVideoMuxer>();
        RecorderTiming timing;
        timing.emptyReadPauseMs = pauseMs;
        timing.frameRatePollMs = 1;
        timing.frameRateGiveUpMs = 100;
        m->setTiming(timing);
        if (!m->setRecordParams(dir.path(), initial(), 28, 0, 60, pre, 0, resume))
            return nullptr;
        m->setStreamInfo(0, 8000, 1, 28, 640, 360, 25, true, 0);
        m->setFrameBuffer(&s.buffer);
        return m;
    }
    Recording read() const
    {
        Recording r;
        r.files = QDir(folder).entryList({"*.zmf"}, QDir::Files, QDir::Name);
        r.list = recordindex::readReclist(folder);
        r.index = recordindex::readKfindex(folder);
        return r;
    }
    // The key frames a player finds through a list record's kfindex range;
    // none when the range does not lead into its file.
    QMap<qint64, qint64> keyFramesThrough(const _st_reclist_item &item) const
    {
        qcRecordFile reader(qcRecordFile::kReader);
        if (!reader.setIndexRange(item.kfindexOffset, uint32_t(item.kfindexCount)) ||
            !reader.open(folder + '/' + item.name) || !reader.keyFramesFromIndex())
            return {};
        return reader.keyFrames();
    }
    // Runs a recorder until it ends by itself: the files it reported, and in
    // *interrupts the sequences a next recorder is to resume after.
    QStringList record(Stream &s, qint64 resume, int pre = 0, QList<qint64> *interrupts = nullptr)
    {
        auto m = make(s, resume, pre);
        QStringList done;
        QObject::connect(m.get(), &qcVideoMuxer::sigCompleted, [&](const QString &f) { done << f; });
        if (interrupts)
            QObject::connect(m.get(), &qcVideoMuxer::sigInterruptSeq, [&](qlonglong seq) { *interrupts << seq; });
        m->start();
        [&] { QVERIFY(m->wait(20000)); }();
        return done;
    }
};

using testsupport::SystemLog;

// The recording being written, once its file holds the frame stamped `last`.
QString writtenUpTo(const QString &folder, qint64 last)
{
    for (const QString &n : QDir(folder).entryList({"*.zmf"}, QDir::Files))
        if (recordnames::isUnfinishedRecordName(n) &&
            recordindex::summarise(recordio::scan(folder + '/' + n)).lastVideo == last)
            return n;
    return QString();
}

bool finish(qcVideoMuxer *m, int ms = 20000)
{
    return m->wait(ms);
}

qint64 lastVideo(const RecordScan &s)
{
    return recordindex::summarise(s).lastVideo;
}

} // namespace

class TestRecorder : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { platform::setClock(nullptr); }

    void lengthLimitNamesAndIndexes()
    {
        RecorderTest t;
        Stream s;
        s.push(25 * 66);
        const QStringList done = t.record(s, 0, 3);
        // The first frame past 60 + 3 s is in the file and ends it.
        const qint64 end = 1000000 + 63040;
        const QString name = "RECV1_MANUAL_10-1-2-3_00-16-40-000_" + recordnames::formatTimeOfDay(end) + ".zmf";
        QCOMPARE(done, QStringList{t.folder + '/' + name});
        const Recording r = t.read();
        QCOMPARE(r.files, QStringList{name});
        QCOMPARE(r.list.size(), 1);
        const _st_reclist_item &item = r.list.at(0).item;
        QCOMPARE(item.name, name);
        QCOMPARE((QList<qint64>{qint64(item.start), qint64(item.end), item.kfindexOffset, qint64(item.kfindexCount),
                                item.hasAudio, item.frameRate}),
                 (QList<qint64>{1000000, end, 0, 64, 1, 25}));
        const RecordScan scan = recordio::scan(t.folder + '/' + name);
        QCOMPARE(scan.header.kindFlag, 4);
        QCOMPARE(lastVideo(scan), end);
        QCOMPARE(item.payloadBytes, recordindex::summarise(scan).payloadBytes);
        QCOMPARE(r.index.size(), 64);
        QCOMPARE(qint64(r.index.at(1).item.timestamp), 1001000);

        // The tool agrees, and calls a payload count that does not match out.
        QByteArray out;
        QCOMPARE(zmfdump({"--index", t.folder}, &out), 0);
        QVERIFY(out.trimmed().endsWith("\nconsistent"));
        zmfdump({t.folder + '/' + name}, &out);
        QVERIFY(out.contains("frames 3153, key frames 64, audio frames 1576"));
        QVERIFY(out.contains("first key frame 00:16:40.000, last video 00:17:43.040"));
        QFile list(recordindex::reclistPath(t.folder));
        QVERIFY(list.open(QIODevice::ReadWrite));
        list.seek(104);
        list.write("\x01", 1);
        list.close();
        QCOMPARE(zmfdump({"--index", t.folder}), 1);
        QCOMPARE(zmfdump({"--index", t.dir.filePath("missing")}), 2);
    }

    void emptyReadsAndSingleFrame()
    {
        RecorderTest t;
        Stream s;
        s.push(1);
        QCOMPARE(t.record(s, -1).size(), 1);
        const Recording r = t.read();
        QCOMPARE(r.files, QStringList{"RECV1_MANUAL_10-1-2-3_00-16-40-000_00-16-40-000.zmf"});
        // A last video frame no later than the first key frame lists the whole day.
        QCOMPARE(qint64(r.list.at(0).item.end), kDay);
    }

    void forwardJumpResumesWithTheJumpingFrame()
    {
        RecorderTest t;
        Stream s;
        s.push(50);
        s.jump(6000);
        s.push(30);
        QList<qint64> interrupted;
        t.record(s, 0, 0, &interrupted);
        QCOMPARE(interrupted.size(), 1);
        QVERIFY(lastVideo(recordio::scan(t.folder + '/' + t.read().files.at(0))) == 1000000 + 49 * 40);

        const QStringList done = t.record(s, interrupted.at(0));
        const RecordScan scan = recordio::scan(done.at(0));
        // The jumping frame (a key frame) comes first, in no file before.
        QCOMPARE(scan.records.at(0).type, 1);
        QCOMPARE(qint64(scan.records.at(0).timestamp), 1000000 + 50 * 40 + 6000);
        QCOMPARE(t.read().list.size(), 2);
    }

    void backwardJumpKeepsTheJustEndedRecording()
    {
        RecorderTest t;
        Stream s;
        // An earlier recording, and one listed wrongly late that a recovery drops.
        _st_reclist_item before, after;
        before.start = 500000;
        before.end = 600000;
        before.name = "RECV1_TIMING_10-1-2-3_00-08-20-000_00-10-00-000.zmf";
        after.start = 990000;
        after.end = 1500000;
        after.name = "RECV1_TIMING_10-1-2-3_00-16-30-000_00-25-00-000.zmf";
        QVERIFY(recordindex::appendToFile(t.dir.path(), recordindex::reclistPath(t.folder),
                                          before.toBytes() + after.toBytes()));
        s.push(100);
        s.jump(-3000 - 40);
        s.push(20);
        QList<qint64> interrupted;
        const QStringList done = t.record(s, 0, 0, &interrupted);
        QCOMPARE(interrupted.size(), 1);
        const Recording r = t.read();
        QCOMPARE(r.list.size(), 2);
        QCOMPARE(r.list.at(0).item.name, before.name);
        const _st_reclist_item &kept = r.list.at(1).item;
        QCOMPARE(QStringList{t.folder + '/' + kept.name}, done);
        QVERIFY(recordindex::listedIn(r.list, kept.name));
        // Its key-frame records were put back after the cut and still lead into its file.
        const QMap<qint64, qint64> keys = t.keyFramesThrough(kept);
        QCOMPARE(keys.size(), 4);
        QCOMPARE(keys.first(), 1000000);
        for (const auto &k : r.index)
            QVERIFY(k.item.timestamp < 1000000 + 96 * 40 || k.position >= qint64(kept.kfindexOffset));
    }

    // The computer's clock goes back 120 s while a recording runs that resumed
    // after a forward jump: the disk guard moves the recordings that now end
    // in the future and rewrites the list, and the stream's time goes back.
    // Whichever comes first, the folder's indexes stay in step.
    void clockSetBackWithTheGuard_data()
    {
        QTest::addColumn<bool>("keyFrame"); // the running recording indexed one
        QTest::addColumn<bool>("guardFirst");
        QTest::newRow("no key frame, guard first") << false << true;
        QTest::newRow("no key frame, recorder first") << false << false;
        QTest::newRow("key frame, guard first") << true << true;
    }
    void clockSetBackWithTheGuard()
    {
        QFETCH(bool, keyFrame);
        QFETCH(bool, guardFirst);
        platform::FakeClock clock(QDateTime(QDate(2024, 1, 1), QTime(10, 0, 30)));
        platform::setClock(&clock);
        RecorderTest t;
        qcDiskManager guard;
        guard.setRecordRoot(t.dir.path());
        Stream s;
        s.ts = 36000000;
        s.push(100);
        s.jump(6000);
        s.push(keyFrame ? 30 : 10); // the next key frame is the 25th after the jump
        QList<qint64> interrupted;
        t.record(s, 0, 0, &interrupted);
        QCOMPARE(interrupted.size(), 1);
        auto m = t.make(s, interrupted.at(0), 0, 100);
        m->start();
        QTRY_VERIFY(!writtenUpTo(t.folder, s.ts - 40).isEmpty());

        clock.set(QDateTime(QDate(2024, 1, 1), QTime(9, 58, 30)));
        if (guardFirst) {
            guard.dailyPass();
            QCOMPARE(t.read().list.size(), 0);
        }
        s.ts = 35910000;
        s.push(30);
        QVERIFY(finish(m.get()));
        QVERIFY(consistent(t.folder));
        if (!guardFirst)
            guard.dailyPass();
        QVERIFY(consistent(t.folder));
        // Both recordings lie after the new time: neither stays listed.
        const Recording r = t.read();
        QCOMPARE(r.list.size(), 0);
        QCOMPARE(r.index.size(), 0);
    }

    // Another recorder of the same folder changes kfindex under a running one:
    // its recovery cuts the file, or its records come in between.
    void indexChangedUnderARunningRecorder_data()
    {
        QTest::addColumn<bool>("cut");
        QTest::newRow("cut") << true;
        QTest::newRow("records in between") << false;
    }
    void indexChangedUnderARunningRecorder()
    {
        QFETCH(bool, cut);
        RecorderTest t;
        Stream s;
        s.push(60);
        auto m = t.make(s, 0, 0, 100);
        QSignalSpy done(m.get(), &qcVideoMuxer::sigCompleted);
        m->start();
        QTRY_VERIFY(!writtenUpTo(t.folder, s.ts - 40).isEmpty());
        QCOMPARE(t.read().index.size(), 3);
        if (cut) {
            QVERIFY(recordindex::recoverAfterJump(t.dir.path(), t.folder, 1001000,
                                                  "RECV1_MANUAL_10-1-2-3_00-16-41-000_.zmf"));
            QCOMPARE(t.read().index.size(), 1);
        } else {
            _st_kfindex_item other;
            other.timestamp = 1002000;
            other.offset = 64;
            recordindex::FolderLocker lock(t.folder);
            QVERIFY(recordindex::appendToFile(t.dir.path(), recordindex::kfindexPath(t.folder), other.toBytes()));
        }
        s.push(60);
        QTRY_VERIFY(!writtenUpTo(t.folder, s.ts - 40).isEmpty());
        m->stop();
        QVERIFY(finish(m.get()));
        QVERIFY(consistent(t.folder));
        // Its own five key frames, read back through its range.
        const _st_reclist_item item = t.read().list.last().item;
        QCOMPARE(t.folder + '/' + item.name, done.at(0).at(0).toString());
        QCOMPARE(t.keyFramesThrough(item).size(), 5);
    }

    // A recording starting after a crash that tore the last index record:
    // its records go after the last whole one. An index file that is a link
    // to one elsewhere is neither cut nor appended to: the recording is made,
    // the folder's index left as it is.
    void tornIndexTailBeforeARecording_data()
    {
        QTest::addColumn<bool>("reclist");
        QTest::addColumn<bool>("linked");
        QTest::newRow("reclist") << true << false;
        QTest::newRow("kfindex") << false << false;
        QTest::newRow("reclist, a link") << true << true;
        QTest::newRow("kfindex, a link") << false << true;
    }
    void tornIndexTailBeforeARecording()
    {
        QFETCH(bool, reclist);
        QFETCH(bool, linked);
        QTemporaryDir elsewhere;
        RecorderTest t;
        Stream s;
        s.push(60);
        QCOMPARE(t.record(s, 0).size(), 1);
        const QString torn = reclist ? recordindex::reclistPath(t.folder) : recordindex::kfindexPath(t.folder);
        using testsupport::bytesOf;
        const QByteArray whole = bytesOf(torn);
        {
            QFile f(torn);
            QVERIFY(f.open(QIODevice::Append));
            f.write(whole.right(reclist ? _st_reclist_item::kSize : _st_kfindex_item::kSize).left(20));
        }
        const QString target = elsewhere.filePath("index");
        if (linked)
            QVERIFY(QFile::rename(torn, target) && QFile::link(target, torn));
        const QByteArray before = bytesOf(target);
        Stream later;
        later.ts = s.ts + 1000;
        later.push(60);
        QCOMPARE(t.record(later, 0).size(), 1);
        const Recording r = t.read();
        if (linked) {
            QVERIFY(QFileInfo(torn).isSymLink());
            QCOMPARE(bytesOf(target), before);
            QCOMPARE(r.files.size(), 2);
            return;
        }
        QCOMPARE(r.list.size(), 2);
        QCOMPARE(QFileInfo(recordindex::kfindexPath(t.folder)).size(), r.index.size() * _st_kfindex_item::kSize);
        QVERIFY(consistent(t.folder));
        QCOMPARE(t.keyFramesThrough(r.list.last().item).size(), 3);
    }

    // A list record whose key-frame count is corrupt (2^59 + 1 records, more
    // bytes than a signed 64-bit number holds): a range past the end of
    // kfindex, for the recovery after a jump and for the record-file tool.
    void oversizedKeyCount()
    {
        RecorderTest t;
        Stream s;
        s.push(60);
        QCOMPARE(t.record(s, 0).size(), 1);
        _st_reclist_item item = t.read().list.first().item;
        item.kfindexCount = (uint64_t(1) << 59) + 1;
        QVERIFY(QFile::remove(recordindex::reclistPath(t.folder)));
        QVERIFY(recordindex::appendToFile(t.dir.path(), recordindex::reclistPath(t.folder), item.toBytes()));
        QByteArray out;
        QCOMPARE(zmfdump({"--index", t.folder}, &out), 1);
        QVERIFY2(out.contains("its kfindex range runs past the end of kfindex"), out.constData());
        QVERIFY(recordindex::recoverAfterJump(t.dir.path(), t.folder, item.end, item.name));
        const Recording r = t.read();
        QCOMPARE(r.list.size(), 1);
        QCOMPARE(r.list.first().item.kfindexCount, uint64_t(0));
        QVERIFY(consistent(t.folder));
    }

    void midnightWrapIsADateChange()
    {
        RecorderTest t;
        _st_reclist_item morning;
        morning.start = 1000;
        morning.end = 5000;
        morning.name = "RECV1_TIMING_10-1-2-3_00-00-01-000_00-00-05-000.zmf";
        QVERIFY(recordindex::appendToFile(t.dir.path(), recordindex::reclistPath(t.folder), morning.toBytes()));
        Stream s;
        s.ts = kDay - 10000;
        s.push(250);
        s.ts = 200;
        s.push(10);
        auto m = t.make(s, 0);
        QSignalSpy date(m.get(), &qcVideoMuxer::sigDateChange);
        QSignalSpy interrupted(m.get(), &qcVideoMuxer::sigInterruptSeq);
        m->start();
        QVERIFY(finish(m.get()));
        QCOMPARE(date.size(), 1);
        QCOMPARE(interrupted.size(), 0);
        const Recording r = t.read();
        QCOMPARE(r.list.size(), 2);
        QCOMPARE(r.list.at(0).item.name, morning.name);
        QCOMPARE(qint64(r.list.at(1).item.end), kDay - 40);
    }

    void computerDateChange()
    {
        platform::FakeClock clock(QDateTime(QDate(2024, 1, 1), QTime(12, 0)));
        platform::setClock(&clock);
        RecorderTest t;
        Stream s;
        s.push(10);
        auto m = t.make(s, 0, 0, 100); // the empty reads outlast the test's steps
        QSignalSpy date(m.get(), &qcVideoMuxer::sigDateChange);
        m->start();
        // The first key frame is in the file (and indexed) before the day turns.
        QTRY_VERIFY(!t.read().index.isEmpty());
        clock.advance(kDay + 2000);
        s.push(5);
        // Stopping before the recorder has read the new frames would end it
        // on the old day; the date change comes with the first of them.
        QTRY_COMPARE(date.size(), 1);
        QVERIFY(finish(m.get()));
        QCOMPARE(date.size(), 1);
        QCOMPARE(t.read().list.size(), 1);
    }

    // A recording started in a day's last two seconds starts at the newest
    // key frame like any other; where the stream's day turns the file ends,
    // and the next one, going on after it, starts with the pictures since
    // that key frame.
    void startInTheLastTwoSecondsOfTheDay()
    {
        for (bool newDay : {false, true}) {
            RecorderTest t;
            Stream s;
            s.ts = kDay - 1500;
            s.push(36);
            if (newDay) {
                s.ts = 40;
                s.frame = 1; // no key frame yet in the new day
                s.push(10);
            }
            auto m = t.make(s, -1);
            QSignalSpy date(m.get(), &qcVideoMuxer::sigDateChange);
            m->start();
            QVERIFY(finish(m.get()));
            QCOMPARE(t.read().files, QStringList{"RECV1_MANUAL_10-1-2-3_23-59-59-500_23-59-59-900.zmf"});
            QCOMPARE(date.size(), newDay ? 1 : 0);
            if (!newDay)
                continue;
            auto next = t.make(s, date.at(0).at(0).toLongLong());
            next->setContinuesAfterCut(true);
            next->start();
            QVERIFY(finish(next.get()));
            const QString file = t.read().files.value(0);
            QVERIFY2(file.contains("_00-00-00-040_00-00-00-400"), qPrintable(file));
            const RecordScan scan = recordio::scan(t.folder + '/' + file);
            QCOMPARE(scan.records.at(0).type, 1);
        }
    }

    // A recorder stopped while it waits for the date (its stream passed
    // midnight before the computer's clock) ends at once and hands nothing on.
    void stopWhileWaitingForTheDate()
    {
        testsupport::CountingClock clock(QDateTime(QDate(2024, 1, 1), QTime(23, 59, 55)));
        platform::setClock(&clock);
        RecorderTest t;
        Stream s;
        s.ts = kDay - 1000; // 4 s ahead
        s.push(25);
        s.jump(-kDay);
        s.push(10);
        auto m = t.make(s, 0);
        QSignalSpy date(m.get(), &qcVideoMuxer::sigDateChange);
        m->start();
        QTRY_VERIFY(!writtenUpTo(t.folder, kDay - 40).isEmpty());
        const int looks = clock.reads();
        QTRY_VERIFY(clock.reads() >= looks + 2); // waiting, it looks at the clock on every round
        m->stop();
        {
            testsupport::Watchdog watchdog(5000, "the recorder stopped while it waits"); // not the wait's 10 s
            QVERIFY(m->wait());
        }
        QCOMPARE(date.size(), 1);
        QVERIFY(!m->takeHandOver());
    }

    // Frames a file kept for the next that the next cannot use (the stream
    // went on without them) are lost: told in the system log once for the
    // device until a hand-over goes through whole again.
    void lostHandOverIsToldOnce()
    {
        SystemLog log;
        RecorderTest t;
        Stream s;
        auto stale = [] {
            auto held = std::make_unique<FrameHandOver>(1 << 20);
            held->hold("gone", 4, 1, 5, 900000);
            return held;
        };
        auto run = [&](int i, std::unique_ptr<FrameHandOver> held) {
            s.push(30); // a video and a sound record a picture
            auto m = t.make(s, 60 * i);
            m->setHandOver(std::move(held));
            m->start();
            QVERIFY(finish(m.get()));
        };
        auto told = [&] { return log.abnormal().filter(QRegularExpression("^record frames lost\\|")).size(); };
        run(0, stale());
        run(1, stale());
        QTRY_COMPARE(told(), 1);
        // One that goes on: the frames the stream holds after picture 60.
        s.push(30);
        run(2, FrameHandOver::copyAfter(s.buffer, 120));
        run(3, stale());
        QTRY_COMPARE(told(), 2);
        QCOMPARE(t.read().files.size(), 4);
    }

    // The stream's time set back inside a day, on a picture that is no key
    // frame: that picture ends the file and starts the next one, which a
    // decoder can play from its start.
    void setBackCutLosesNoFrame()
    {
        RecorderTest t;
        Stream s;
        s.push(90);
        const qint64 jumped = s.ts - 3000 - 40;
        s.jump(-3000 - 40);
        s.push(40);
        QList<qint64> interrupted;
        const QStringList first = t.record(s, 0, 0, &interrupted);
        QCOMPARE(interrupted.size(), 1);
        QCOMPARE(lastVideo(recordio::scan(first.value(0))), 1000000 + 89 * 40);
        auto next = t.make(s, interrupted.at(0));
        next->setContinuesAfterCut(true);
        QStringList done;
        QObject::connect(next.get(), &qcVideoMuxer::sigCompleted, [&](const QString &f) { done << f; });
        next->start();
        QVERIFY(finish(next.get()));
        const RecordScan scan = recordio::scan(done.value(0));
        QList<qint64> video;
        for (const RecordScanEntry &e : scan.records)
            if (e.type != 0)
                video << qint64(e.timestamp);
        QCOMPARE(scan.records.at(0).type, 1);
        // The pictures since the key frame (frames 75 to 89) stamped with the
        // jumping frame's stamp, then that frame.
        QCOMPARE(video.mid(0, 16), QVector<qint64>(16, jumped).toList());
        QCOMPARE(video.value(16), jumped + 40);
    }

    // A file that goes on a cut recording takes only what is left of its
    // length.
    void lengthLeftAfterACut()
    {
        RecorderTest t;
        Stream s;
        s.push(100);
        auto m = t.make(s, 0);
        m->setRecordedBefore(58500);
        QStringList done;
        QObject::connect(m.get(), &qcVideoMuxer::sigCompleted, [&](const QString &f) { done << f; });
        m->start();
        QVERIFY(finish(m.get()));
        QCOMPARE(lastVideo(recordio::scan(done.value(0))), 1000000 + 38 * 40);
        QCOMPARE(m->recordedMs(), 58500 + 38 * 40);
    }

    // A recording whose stream brings no picture ends told, with no file.
    void noPictureIsTold()
    {
        SystemLog log;
        RecorderTest t;
        Stream s;
        QCOMPARE(t.record(s, -1), QStringList{QString()});
        QVERIFY(t.read().files.isEmpty());
        QCOMPARE(log.abnormal().filter("no picture came from the device").size(), 1);
    }

    void frameRateOfOneAndNone()
    {
        RecorderTest t;
        Stream s;
        s.buffer.setFrameRate(0);
        // No frames at all: no rate, the start gives up, nothing stays, and
        // the end names no file.
        QCOMPARE(t.record(s, -1), QStringList{QString()});
        QVERIFY(t.read().files.isEmpty());

        s.push(5, 300, 1000);
        QCOMPARE(int(s.buffer.frameRate()), 1);
        const QStringList done = t.record(s, 0);
        QCOMPARE(done.size(), 1);
        QCOMPARE(recordio::scan(done.at(0)).header.frameRate, 1);
    }

    // A disk that refuses bytes: a child process under a file size limit.
    void failedWritesLeaveNoTrace_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("files");
        QTest::newRow("first frame") << 2000 << 0;
        QTest::newRow("second key frame") << 6500 << 1;
    }
    void failedWritesLeaveNoTrace()
    {
        QFETCH(int, limit);
        QFETCH(int, files);
#ifdef __SANITIZE_THREAD__
        QSKIP("a child that starts threads after a fork is beyond ThreadSanitizer; the ASan build runs it");
#endif
        RecorderTest t;
        const pid_t child = fork();
        if (child == 0) {
            rlimit lim{rlim_t(limit), rlim_t(limit)};
            ::setrlimit(RLIMIT_FSIZE, &lim);
            ::signal(SIGXFSZ, SIG_IGN);
            Stream s;
            s.push(1, 3000); // key
            s.push(24, 20);  // small frames
            s.push(1, 3000); // key that does not fit
            auto m = t.make(s, 0);
            QString reported = "none";
            QObject::connect(m.get(), &qcVideoMuxer::sigCompleted, [&](const QString &f) { reported = f; });
            m->start();
            m->wait();
            _exit(reported == "none" ? 5 : reported.isEmpty() ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), files);
        const Recording r = t.read();
        QCOMPARE(r.files.size(), files);
        QCOMPARE(r.list.size(), files);
        QCOMPARE(r.index.size(), files);
        if (files) {
            const RecordScan scan = recordio::scan(t.folder + '/' + r.files.at(0));
            QCOMPARE(r.list.at(0).item.payloadBytes, recordindex::summarise(scan).payloadBytes);
            QCOMPARE(qint64(r.list.at(0).item.end), lastVideo(scan));
            QVERIFY(!scan.tornTail);
        }
    }

    void stopsAndSequenceStepsEndAtTheLastWrittenFrame()
    {
        {
            RecorderTest t;
            Stream s;
            s.push(30);
            auto m = t.make(s, 0);
            qcVideoMuxer *raw = m.get();
            m->setAfterFirstFrame([raw](qcRecordFile *) { raw->stop(); });
            QSignalSpy done(m.get(), &qcVideoMuxer::sigCompleted);
            m->start();
            QVERIFY(finish(m.get()));
            const QString file = done.at(0).at(0).toString();
            QVERIFY(file.endsWith("_00-16-40-000_00-16-40-000.zmf"));
            QCOMPARE(lastVideo(recordio::scan(file)), 1000000);
        }
        RecorderTest t;
        Stream s;
        s.push(30);
        auto m = t.make(s, 0, 0, 20);
        QSignalSpy done(m.get(), &qcVideoMuxer::sigCompleted);
        m->start();
        QTRY_VERIFY(!t.read().files.isEmpty() && QFileInfo(t.folder + '/' + t.read().files.at(0)).size() > 30 * 300);
        QTest::qWait(50);
        s.buffer.clear(); // numbering starts again: the sequence goes back
        s.push(30);
        QVERIFY(finish(m.get()));
        QCOMPARE(done.size(), 1);
        QCOMPARE(lastVideo(recordio::scan(done.at(0).at(0).toString())), 1000000 + 29 * 40);
        QVERIFY(done.at(0).at(0).toString().endsWith(recordnames::formatTimeOfDay(1000000 + 29 * 40) + ".zmf"));
    }

    void lostPositions()
    {
        RecorderTest t;
        Stream s(64 << 10);
        s.push(400);
        // The resume point is long evicted: the recording starts at the newest key frame.
        auto m = t.make(s, 3, 0, 200);
        QSignalSpy done(m.get(), &qcVideoMuxer::sigCompleted);
        m->start();
        // The file is made under its first name and renamed once its first frame is read.
        QTRY_VERIFY(!t.read().files.isEmpty() &&
                    t.read().files.at(0).contains(recordnames::formatTimeOfDay(1000000 + 375 * 40)));
        QTest::qWait(100);
        // Its next frame is evicted while it waits: the file ends at once,
        // long before 72 empty reads of 200 ms. A busy machine may let it read
        // some of the new frames before its place is lost; it ends with the
        // last one it wrote all the same.
        s.push(400);
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 5000);
        const QString file = done.at(0).at(0).toString();
        const qint64 last = lastVideo(recordio::scan(file));
        QVERIFY2(last >= 1000000 + 399 * 40 && last < 1000000 + 799 * 40, qPrintable(QString::number(last)));
        QVERIFY(file.endsWith(recordnames::formatTimeOfDay(int(last)) + ".zmf"));
    }

    void preRecordSeconds()
    {
        RecorderTest t;
        Stream s;
        s.push(25 * 10 + 10);
        const QStringList done = t.record(s, -1, 3);
        QCOMPARE(done.size(), 1);
        // 75 records back from the newest is video frame 222 (audio frames are
        // records too): the key frame at or before it is the one of second 8.
        const RecordScan scan = recordio::scan(done.at(0));
        QCOMPARE(qint64(scan.records.at(0).timestamp), 1000000 + 8 * 1000);
    }

    void nameLengthThreshold()
    {
        Stream s;
        qcVideoMuxer m;
        QVERIFY(!m.setRecordParams(QString("top"), QString(41, 'x'), 28, 0, 60, 0, 0, -1));
        QVERIFY(!m.setRecordParams(QString("top"), QString(60, 'x'), 30, 0, 60, 0, 0, -1));
        QVERIFY(!m.setRecordParams(QString("top"), QString(60, 'x'), 28, 0, 59, 0, 0, -1));
        QVERIFY(!m.setRecordParams(QString("top"), QString(60, 'x'), 28, 0, 60, 4, 0, -1));
        QVERIFY(m.setRecordParams(QString("top"), QString(42, 'x'), 28, 0, 60, 0, 0, -1));
        QVERIFY(!m.isReady());
        QVERIFY(!m.setFrameBuffer(nullptr));
        QVERIFY(m.setFrameBuffer(&s.buffer));
        QVERIFY(m.isReady());
    }

    // A file a crash left under the recording's first name: the recorder,
    // which creates only new files, finalises or deletes it first, as the
    // start-up repair does; when it cannot, the system log says so, once.
    void leftoverUnderTheFirstName_data()
    {
        QTest::addColumn<int>("leftover"); // 0: 10 bytes, 1: an earlier recording, 2: not a recording
        QTest::addColumn<int>("listed");
        QTest::newRow("10 bytes") << 0 << 2;
        QTest::newRow("an earlier recording") << 1 << 3;
        QTest::newRow("not a recording") << 2 << 0;
    }
    void leftoverUnderTheFirstName()
    {
        QFETCH(int, leftover);
        QFETCH(int, listed);
        testsupport::SystemLog log;
        QVERIFY(log.run.isValid());
        RecorderTest t;
        if (leftover == 1) {
            qcRecordFile w(qcRecordFile::kWriter);
            QVERIFY(w.create(t.dir.path(), t.initial()));
            QVERIFY(w.setVideoParams(28, 640, 360, 0, 28, 25, 0));
            for (int i = 0; i < 30; ++i)
                QVERIFY(w.writeVideoFrame("frame", 5, i % 10 ? qcRecordFile::kCodeType2 : qcRecordFile::kCodeKey,
                                          uint64_t(900000 + 40 * i)));
        } else {
            QFile f(t.initial());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(leftover ? 500 : 10, '\x5a'));
        }
        Stream s;
        s.push(30);
        // Twice, as the stream service tries again on its next tick.
        QStringList done = t.record(s, -1);
        s.push(30); // a key frame to start at
        done += t.record(s, -1);
        const Recording r = t.read();
        QCOMPARE(r.list.size(), listed);
        QCOMPARE(int(std::count_if(done.cbegin(), done.cend(), [](const QString &f) { return !f.isEmpty(); })),
                 leftover == 2 ? 0 : 2);
        QCOMPARE(done.size(), 2); // a start that failed ends told, with no file
        QCOMPARE(QFileInfo::exists(t.initial()), leftover == 2);
        QVERIFY(consistent(t.folder));

        QCOMPARE(log.rows("SELECT logdecl, logtype, reldevaddr, lognote FROM systemlogs"),
                 leftover == 2 ? QString("record failed|3|10.1.2.3|%1: a file that is not a recording holds "
                                         "its name")
                                     .arg(QFileInfo(t.initial()).fileName())
                               : QString());
    }

    // A list that cannot be written leaves every recording of the folder
    // unlisted: told once, and again only after one was listed.
    void lastingFaultIsToldOncePerFolder()
    {
        SystemLog log;
        QVERIFY(log.run.isValid());
        RecorderTest t;
        testsupport::ReadOnlyFile reclist(recordindex::reclistPath(t.folder));
        QVERIFY(reclist.isValid());
        Stream s;
        for (int i = 0; i < 3; ++i) {
            s.push(30);
            QCOMPARE(t.record(s, -1).size(), 1);
        }
        QStringList events = log.abnormal();
        QCOMPARE(events.size(), 1);
        QVERIFY2(events[0].startsWith("record ended|10.1.2.3|" + t.folder + '/') &&
                     events[0].endsWith(": it is not listed in reclist, so the playback does not find it"),
                 qPrintable(events[0]));

        QVERIFY(reclist.writable(true));
        s.push(30);
        QCOMPARE(t.record(s, -1).size(), 1);
        QVERIFY(reclist.writable(false));
        s.push(30);
        QCOMPARE(t.record(s, -1).size(), 1);
        QCOMPARE(log.abnormal().size(), 2);
    }

    // Nothing is recorded through a link below the record tree's top: not
    // into a linked day or device folder, and the final rename never
    // follows a link that stands under the final name.
    void linksBelowTheTopAreNotRecordedThrough_data()
    {
        QTest::addColumn<QString>("linked"); // below RecordFile; empty: the final name
        QTest::newRow("device folder a link") << "20240101/10.1.2.3";
        QTest::newRow("day folder a link") << "20240101";
        QTest::newRow("final name a dangling link") << QString();
    }
    void linksBelowTheTopAreNotRecordedThrough()
    {
        QFETCH(QString, linked);
        SystemLog log;
        QTemporaryDir outside;
        RecorderTest t("RecordFile/20240101/10.1.2.3");
        const QString top = t.dir.filePath("RecordFile");
        QString link;
        if (linked.isEmpty()) {
            // The name the recording ends under, as one in a plain folder.
            RecorderTest plain;
            Stream same;
            same.push(60);
            const QStringList done = plain.record(same, 0);
            QCOMPARE(done.size(), 1);
            link = t.folder + '/' + QFileInfo(done.first()).fileName();
            QVERIFY(QFile::link(outside.filePath("target"), link));
        } else {
            QVERIFY(QDir(top + '/' + linked).removeRecursively());
            QVERIFY(QDir().mkpath(outside.filePath("10.1.2.3")));
            link = top + '/' + linked;
            QVERIFY(QFile::link(outside.path(), link));
        }
        Stream s;
        s.push(60);
        const QStringList done = t.record(s, 0);
        QVERIFY(QFileInfo(link).isSymLink());
        const QStringList events = log.abnormal();
        if (linked.isEmpty()) {
            QVERIFY(!QFileInfo::exists(outside.filePath("target")));
            QCOMPARE(done.size(), 1);
            QVERIFY(recordnames::isUnfinishedRecordName(QFileInfo(done.first()).fileName()));
            QCOMPARE(events.filter(" keeps its name: " + link + " is taken").size(), 1);
            return;
        }
        QCOMPARE(done, QStringList{QString()}); // nothing recorded, and told so
        QCOMPARE(QDir(outside.filePath("10.1.2.3")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), {});
        QCOMPARE(events.filter(link + ": a link").size(), 1);
    }

    void stopWakesALongPause()
    {
        RecorderTest t;
        Stream s;
        s.push(5);
        auto m = t.make(s, 0, 0, 60000);
        m->start();
        QTRY_VERIFY(!t.read().index.isEmpty()); // frames are in the file
        QTest::qWait(50);
        m->stop();
        QVERIFY(m->wait(10000)); // not the 60 s pause
        QCOMPARE(t.read().list.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestRecorder)
#include "tst_recorder.moc"
