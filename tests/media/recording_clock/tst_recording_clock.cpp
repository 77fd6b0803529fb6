#include "recordingsuite.h"
#include "zmfdump.h"

#include "device/streamclock.h"
#include "media/qcdiskmanager.h"
#include "media/qcstreamutil.h"
#include "media/recordnames.h"
#include "tests/support/diskroom.h"
#include "tests/support/driftingcamera.h"
#include "tests/support/systemlog.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

using namespace recordingsuite;

// The recording road against a camera's clock that steps, drifts, jitters
// or wavers, through the real stream client, service and recorder on the
// fake clock.
class TestRecordingClock : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { testsupport::assumePlentyOfRoom(); }
    void cleanup() { platform::setClock(nullptr); }

    // A recording by hand while the camera's clock steps, wavers or wraps at
    // its own midnight, or while the camera runs a little fast into midnight,
    // its pictures stamped by the stream client: no picture is lost, and
    // every file holds more than one stamp and has a name that reads back,
    // dated within the stream client's 5 s of the clock when it recorded, so
    // the start-up repair lists it and the disk guard may take it.
    void cameraClockStepsLeaveFilesThatReadBack_data()
    {
        QTest::addColumn<QDateTime>("start"); // the local clock at the first picture
        QTest::addColumn<qint64>("sender");   // the camera's stamp of the first picture
        QTest::addColumn<QList<int>>("at");   // the pictures where the camera's clock steps
        QTest::addColumn<QList<int>>("by");   // and by how much
        QTest::addColumn<int>("localStep");   // the local clock's step from picture to picture
        const QDateTime noon(QDate(2024, 1, 1), QTime(12, 0));
        const QDateTime lateNight(QDate(2024, 1, 1), QTime(23, 59, 56)); // midnight at picture 100
        const qint64 noonMs = 43200000;
        const qint64 lateMs = 86396000;
        QTest::newRow("+2 s at midday") << noon << noonMs << QList<int>{60} << QList<int>{2000} << 40;
        QTest::newRow("-2 s at midday") << noon << noonMs << QList<int>{60} << QList<int>{-2000} << 40;
        QTest::newRow("+60 s at midday") << noon << noonMs << QList<int>{60} << QList<int>{60000} << 40;
        QTest::newRow("-60 s at midday") << noon << noonMs << QList<int>{60} << QList<int>{-60000} << 40;
        QTest::newRow("+2 s after midnight") << lateNight << lateMs << QList<int>{120} << QList<int>{2000} << 40;
        QTest::newRow("-2 s 1.7 s after midnight") << lateNight << lateMs << QList<int>{143} << QList<int>{-2000} << 40;
        QTest::newRow("+60 s after midnight") << lateNight << lateMs << QList<int>{130} << QList<int>{60000} << 40;
        QTest::newRow("-60 s after midnight") << lateNight << lateMs << QList<int>{130} << QList<int>{-60000} << 40;
        QTest::newRow("wavering after midnight") << lateNight << lateMs << QList<int>{105, 110, 118, 120, 140, 147}
                                                 << QList<int>{2000, -2000, -1500, 1500, 2000, -2000} << 40;
        QTest::newRow("the camera's own midnight") << noon << qint64(86396000) << QList<int>{} << QList<int>{} << 40;
        QTest::newRow("plain midnight, the camera a little fast")
            << lateNight << qint64(5000000) << QList<int>{} << QList<int>{} << 39;
    }
    void cameraClockStepsLeaveFilesThatReadBack()
    {
        QFETCH(QDateTime, start);
        QFETCH(qint64, sender);
        QFETCH(QList<int>, at);
        QFETCH(QList<int>, by);
        QFETCH(int, localStep);
        constexpr qint64 kDay = 86400000;
        constexpr int kPictures = 200;
        platform::FakeClock clock(start);
        platform::setClock(&clock);
        Service s;
        setRecorderFactory({});
        s.add({"10.0.0.5"});
        s.server.tick();
        FakeP2PStream *device = s.p2p.last;
        QVERIFY(device);
        device->deliver(0, streamInfo(640, 360), KindStreamInfo, 0, 0);
        // The stream client's stamps go on to the device's unit.
        ClientFeed sink(device, &clock);
        const QString root = s.dir.path() + "/RecordFile";
        qint64 t = sender;
        auto feed = [&](int from, int to) {
            for (int i = from; i < to; ++i) {
                clock.set(start.addMSecs(qint64(localStep) * i));
                if (at.contains(i))
                    t += by.at(at.indexOf(i));
                QVERIFY(sink.picture(i, t % kDay));
                t += 40;
            }
        };
        feed(0, 30);
        QVERIFY(s.server.startRecord("10.0.0.5", 0));
        qcStreamUtil *unit = s.server.unitFor("10.0.0.5");
        for (int i = 30; i < kPictures;) {
            // A fast camera passes midnight at picture 100 while the clock
            // is still in the old day.
            const int to = i == 100 ? 103 : (i / 10 + 1) * 10;
            feed(i, to);
            i = to;
            // A picture of the new day while the computer's date is the old
            // one's waits for the date: whatever is owed then goes on now.
            const qint64 last = sink.stamps.last();
            if (last < 10000 && clock.now().time().msecsSinceStartOfDay() >= kDay - 10000) {
                if (QTest::qWaitFor([&] { return unit->owesNextFile(); }, 1000))
                    s.server.tick();
                continue;
            }
            QTRY_VERIFY(recordedUpTo(root, last));
        }
        QVERIFY(s.server.stopRecord("10.0.0.5"));
        // The start-up repair, as the next start runs it.
        recordindex::repairTree(root);

        QStringList problems;
        QSet<int> pictures;
        for (const QString &path : recordFiles(root)) {
            const QString name = QFileInfo(path).fileName();
            const QString folder = QFileInfo(path).path();
            const recordnames::NameParts times = recordnames::parseName(name);
            const QDate day = recordnames::folderDay(folder);
            if (!recordnames::isValidRecordName(name))
                problems << name + ": the name does not read back";
            else if (day.startOfDay().addMSecs(times.start) < start.addMSecs(-5000) ||
                     day.startOfDay().addMSecs(times.end) > clock.now().addMSecs(5000))
                problems << day.toString() + '/' + name + ": a time that never was";
            if (!recordindex::listedIn(recordindex::readReclist(folder), name))
                problems << name + ": not listed";
            QSet<qint64> stamps;
            for (const RecordScanEntry &e : recordio::scan(path).records)
                if (e.type != 0)
                    stamps << qint64(e.timestamp);
            for (int n : picturesIn(path))
                pictures << n;
            if (stamps.size() < 2)
                problems << name + ": one stamp";
        }
        for (int n = 25; n < kPictures; ++n)
            if (!pictures.contains(n))
                problems << QString("picture %1 (%2) lost").arg(n).arg(sink.stamps.value(n));
        for (const QString &p : problems)
            qInfo().noquote() << p;
        QVERIFY2(problems.isEmpty(), qPrintable(problems.value(0)));
    }

    // A recording by hand while the camera's clock drifts, jitters, wavers
    // or is corrected, its pictures stamped by the stream client: the stream
    // keeps to the computer's clock, so nothing is cut, moved or unlisted.
    // Every file is listed after the start-up repair and none lies in a
    // backup folder, no picture is stamped more than about a second ahead of
    // the clock or before the one before, none is lost, and the recording
    // is one file (two across midnight). The controls: a camera step is
    // still a step (no cut), and the computer's clock set back still cuts
    // and moves what was recorded after the new time, and tells it.
    void cameraClockKeepsToTheComputers_data()
    {
        QTest::addColumn<QDateTime>("start"); // the clock at the first picture
        QTest::addColumn<int>("pictures");    // 25 a second
        QTest::addColumn<testsupport::DriftingCamera>("camera");
        QTest::addColumn<int>("stepAt");   // the picture where the camera's clock steps, or the computer's is set back
        QTest::addColumn<int>("cameraBy"); // the camera's step
        QTest::addColumn<int>("clockBy");  // the computer's clock set back
        QTest::addColumn<int>("files");
        const QDateTime noon(QDate(2024, 1, 1), QTime(11, 59, 40));
        auto camera = [](double rate, int jitter = 0) {
            testsupport::DriftingCamera c;
            c.rate = rate;
            c.jitter = jitter;
            return c;
        };
        testsupport::DriftingCamera corrected = camera(1.1);
        corrected.setBack = 1000;
        corrected.setBackEvery = 250;
        testsupport::DriftingCamera wavering = camera(1.0);
        wavering.waver = 300;
        wavering.waverEvery = 50;
        QTest::newRow("1 % fast for 10 minutes") << noon << 15000 << camera(1.01) << -1 << 0 << 0 << 1;
        QTest::newRow("0.5 % fast across midnight")
            << QDateTime(QDate(2024, 1, 1), QTime(23, 52, 30)) << 22500 << camera(1.005) << -1 << 0 << 0 << 2;
        QTest::newRow("10 % fast, set back 1 s every 10 s") << noon << 3000 << corrected << -1 << 0 << 0 << 1;
        QTest::newRow("jitter 30 ms") << noon << 2250 << camera(1.0, 30) << -1 << 0 << 0 << 1;
        QTest::newRow("jitter 100 ms") << noon << 2250 << camera(1.0, 100) << -1 << 0 << 0 << 1;
        QTest::newRow("wavering 0.3 s") << noon << 2250 << wavering << -1 << 0 << 0 << 1;
        QTest::newRow("control: the camera steps back 60 s") << noon << 1500 << camera(1.0) << 750 << -60000 << 0 << 1;
        QTest::newRow("control: the computer's clock set back 2 minutes")
            << noon << 1500 << camera(1.0) << 750 << 0 << 120000 << 2;
    }
    void cameraClockKeepsToTheComputers()
    {
        QFETCH(QDateTime, start);
        QFETCH(int, pictures);
        QFETCH(testsupport::DriftingCamera, camera);
        QFETCH(int, stepAt);
        QFETCH(int, cameraBy);
        QFETCH(int, clockBy);
        QFETCH(int, files);
        constexpr qint64 kDay = 86400000;
        platform::FakeClock clock(start);
        platform::setClock(&clock);
        testsupport::SystemLog log;
        Service s;
        setRecorderFactory({});
        s.add({"10.0.0.5"});
        s.server.tick();
        FakeP2PStream *device = s.p2p.last;
        QVERIFY(device);
        device->deliver(0, streamInfo(640, 360), KindStreamInfo, 0, 0);
        ClientFeed sink(device, &clock);
        const QString root = s.dir.path() + "/RecordFile";
        auto clockAt = [&](int i) {
            return start.addMSecs(40 * qint64(i) - (stepAt >= 0 && i >= stepAt ? clockBy : 0));
        };
        auto feed = [&](int from, int to) {
            for (int i = from; i < to; ++i) {
                clock.set(clockAt(i));
                QVERIFY(sink.picture(i, camera.stamp(i) + (stepAt >= 0 && i >= stepAt ? cameraBy : 0)));
            }
        };
        feed(0, 30);
        QVERIFY(s.server.startRecord("10.0.0.5", 0));
        QTRY_VERIFY(recordedUpTo(root, sink.stamps.last()));
        qcStreamUtil *unit = s.server.unitFor("10.0.0.5");
        // In steps the frame ring holds, each recorded before the next; a
        // stream past midnight before the clock is not waited for (the
        // recorder waits for the date, which only the next step turns).
        for (int i = 30; i < pictures;) {
            const int to = qMin(pictures, i + 1000);
            feed(i, to);
            i = to;
            const qint64 last = sink.stamps.last();
            if (last < 10000 && clock.now().time().msecsSinceStartOfDay() >= kDay - 10000) {
                if (QTest::qWaitFor([&] { return unit->owesNextFile(); }, 1000))
                    s.server.tick();
                continue;
            }
            if (unit->owesNextFile())
                s.server.tick();
            QTRY_VERIFY_WITH_TIMEOUT(recordedUpTo(root, last), 20000);
        }
        QVERIFY(s.server.stopRecord("10.0.0.5"));
        // The guard moves what a set back left dated ahead.
        if (clockBy)
            QTRY_VERIFY_WITH_TIMEOUT(!recordFiles(root).filter("/BackupFile/").isEmpty(), 30000);
        // The start-up repair, as the next start runs it.
        recordindex::repairTree(root);

        QStringList problems;
        for (int i = 1; i < sink.stamps.size(); ++i) {
            const qint64 lead = StreamClock::lead(sink.stamps[i], sink.clocks[i]);
            const qint64 step = StreamClock::lead(sink.stamps[i], sink.stamps[i - 1]);
            if (lead > StreamClock::kMaxLeadMs)
                problems << QString("picture %1 stamped %2 ms ahead of the clock").arg(i).arg(lead);
            if (step < 0 && !(clockBy && i == stepAt))
                problems << QString("picture %1 stamped %2 ms before the one before").arg(i).arg(-step);
        }
        QSet<int> recorded;
        QStringList kept;
        QStringList moved;
        for (const QString &path : recordFiles(root)) {
            const QString name = QFileInfo(path).fileName();
            const QString folder = QFileInfo(path).path();
            const bool backup = path.contains("/BackupFile/") || path.contains("/BackupDir/");
            (backup ? moved : kept) << name;
            if (!backup && !recordindex::listedIn(recordindex::readReclist(folder), name))
                problems << name + ": not listed";
            for (int n : picturesIn(path))
                recorded << n;
        }
        for (int n = 25; n < pictures; ++n)
            if (!recorded.contains(n))
                problems << QString("picture %1 (%2) lost").arg(n).arg(sink.stamps.value(n));
        if (kept.size() + moved.size() > files)
            problems << QString("%1 files").arg(kept.size() + moved.size());
        // Only the clock set back moves a file, the one recorded before it,
        // and says so.
        if (moved.size() != (clockBy ? 1 : 0))
            problems << QString("moved: %1").arg(moved.join(", "));
        for (const QString &name : moved)
            if (log.abnormal()
                    .filter(QRegularExpression("^record move\\|.*moved into .*" + QRegularExpression::escape(name)))
                    .isEmpty())
                problems << name + ": moved without a word";
        qInfo().noquote() << "files:" << kept << "moved:" << moved;
        for (const QString &p : problems.mid(0, 20))
            qInfo().noquote() << p;
        QVERIFY2(problems.isEmpty(), qPrintable(problems.value(0)));
    }

    // A schedule's files one after the other while the camera's clock runs
    // fast from the stream's start, or runs fast and is set back now and
    // then: each file ends by its own stamps once it holds the length, a
    // while before the tick that starts the next, and pictures keep coming
    // meanwhile. The next file goes on from the picture after the last one
    // its predecessor holds, so no picture lies in no file, and every file
    // is listed where it was recorded. The control keeps time, with key
    // frames that do not divide the length.
    void scheduledFilesFollowEachOther_data()
    {
        QTest::addColumn<testsupport::DriftingCamera>("camera");
        QTest::addColumn<int>("keyEvery");
        testsupport::DriftingCamera fast;
        fast.rate = 1.01;
        testsupport::DriftingCamera corrected;
        corrected.rate = 1.05;
        corrected.setBack = 750; // back to true time every 15 s
        corrected.setBackEvery = 375;
        QTest::newRow("1 % fast from the stream's start") << fast << 25;
        QTest::newRow("5 % fast, set back every 15 s") << corrected << 25;
        QTest::newRow("control: keeps time, a key frame every 1.48 s") << testsupport::DriftingCamera() << 37;
    }
    void scheduledFilesFollowEachOther()
    {
        QFETCH(testsupport::DriftingCamera, camera);
        QFETCH(int, keyEvery);
        // Four files of 63 s (the length with its pre- and post-record).
        constexpr int kPictures = 6600;
        const QDateTime start(QDate(2024, 1, 1), QTime(10, 0)); // a Monday
        platform::FakeClock clock(start);
        platform::setClock(&clock);
        testsupport::SystemLog log;
        Service s;
        setRecorderFactory({});
        s.add({"10.0.0.5"});
        QVERIFY(s.server.addRecordSchedule(1, 0, 0, 0, 1440, 1, ""));
        s.server.tick();
        FakeP2PStream *device = s.p2p.last;
        QVERIFY(device);
        // The schedule records the sub stream.
        device->deliver(1, streamInfo(640, 360), KindStreamInfo, 0, 0);
        ClientFeed sink(device, &clock);
        sink.keyEvery = keyEvery;
        sink.stream = 1;
        const QString root = s.dir.path() + "/RecordFile";
        auto feed = [&](int from, int to) {
            for (int i = from; i < to; ++i) {
                clock.set(start.addMSecs(40 * qint64(i)));
                QVERIFY(sink.picture(i, camera.stamp(i)));
            }
        };
        feed(0, 50);
        s.server.tick();
        QTRY_VERIFY(recordedUpTo(root, sink.stamps.last()));
        // In steps far longer than the service's tick: whatever a file that
        // ended within a step left, the stream has gone on past it when the
        // next file starts.
        for (int i = 50; i < kPictures;) {
            const int to = qMin(kPictures, i + 1000);
            feed(i, to);
            i = to;
            QTRY_VERIFY_WITH_TIMEOUT(recordedUpTo(root, sink.stamps.last()), 20000);
        }
        QVERIFY(s.server.replaceSchedules({}, {}));
        QVERIFY(s.server.stopRecord("10.0.0.5"));
        recordindex::repairTree(root);

        QStringList problems;
        QSet<int> recorded;
        const QStringList files = recordFiles(root);
        for (const QString &path : files) {
            const QString name = QFileInfo(path).fileName();
            if (path.contains("/BackupFile/") || path.contains("/BackupDir/"))
                problems << name + ": moved";
            else if (!recordindex::listedIn(recordindex::readReclist(QFileInfo(path).path()), name))
                problems << name + ": not listed";
            for (int n : picturesIn(path))
                recorded << n;
            const QVector<RecordScanEntry> records = recordio::scan(path).records;
            const auto video = std::find_if(records.cbegin(), records.cend(), [](auto &e) { return e.type != 0; });
            if (video == records.cend() || video->type != 1)
                problems << name + ": does not start with a key frame";
        }
        if (files.size() < 4)
            problems << QString("%1 files, not four").arg(files.size());
        const int first = recorded.isEmpty() ? 0 : *std::min_element(recorded.cbegin(), recorded.cend());
        for (int n = first; n < kPictures; ++n)
            if (!recorded.contains(n))
                problems << QString("picture %1 (%2) in no file").arg(n).arg(sink.stamps.value(n));
        if (!log.abnormal().filter(QRegularExpression("^record move\\|")).isEmpty())
            problems << "a move was told";
        qInfo().noquote() << "files:" << files.size();
        for (const QString &p : problems.mid(0, 20))
            qInfo().noquote() << p;
        QVERIFY2(problems.isEmpty(), qPrintable(problems.value(0)));
    }

    // Files that go on from one another while sound comes beside the
    // pictures: a schedule's next file, and the file a recording by hand
    // goes on with at midnight, where sound of the new day comes before its
    // first picture; one sound frame or many after each picture. Each file
    // starts with a key frame, holds its sound after it, never stamped
    // before its first picture, and is named by that picture; every sound
    // frame is in one file, none in two.
    void filesGoingOnKeepTheirSound_data()
    {
        QTest::addColumn<bool>("midnight"); // a recording by hand across midnight, else a schedule
        QTest::addColumn<int>("fps");
        QTest::addColumn<int>("keyEvery");
        QTest::addColumn<int>("phase");      // ms past the second of the first picture
        QTest::addColumn<int>("soundAhead"); // ms the sound is stamped ahead of its time
        QTest::newRow("schedule, 25 fps") << false << 25 << 25 << 30 << 0;
        QTest::newRow("schedule, 25 fps, a key frame each") << false << 25 << 1 << 30 << 0;
        QTest::newRow("schedule, 2 fps") << false << 2 << 4 << 30 << 0;
        QTest::newRow("schedule, 1 fps") << false << 1 << 2 << 530 << 0;
        QTest::newRow("schedule, 25 fps, sound 0.5 s ahead") << false << 25 << 25 << 30 << 500;
        QTest::newRow("midnight, 25 fps") << true << 25 << 25 << 30 << 0;
        QTest::newRow("midnight, 1 fps") << true << 1 << 2 << 530 << 0;
    }
    void filesGoingOnKeepTheirSound()
    {
        QFETCH(bool, midnight);
        QFETCH(int, fps);
        QFETCH(int, keyEvery);
        QFETCH(int, phase);
        QFETCH(int, soundAhead);
        // Three files of a schedule (63 s each), or 30 s either side of midnight.
        const QDateTime start(QDate(2024, 1, 1), midnight ? QTime(23, 59, 30) : QTime(10, 0)); // a Monday
        const qint64 span = midnight ? 60000 : 150000, base = start.time().msecsSinceStartOfDay();
        const int stream = midnight ? 0 : 1;
        platform::FakeClock clock(start);
        platform::setClock(&clock);
        Service s;
        setRecorderFactory({});
        s.add({"10.0.0.5"});
        QVERIFY(midnight || s.server.addRecordSchedule(1, 0, 0, 0, 1440, 1, ""));
        s.server.tick();
        FakeP2PStream *device = s.p2p.last;
        QVERIFY(device);
        device->deliver(stream, streamInfo(640, 360, 0, fps, true), KindStreamInfo, 0, 0);
        qcStreamUtil *unit = s.server.unitFor("10.0.0.5");
        const QString root = s.dir.path() + "/RecordFile";
        // Pictures and sound (every 40 ms) in the order of their times, each
        // stamped as the clock reads then.
        qint64 lastPicture = -1;
        int pictures = 0, sounds = 0;
        auto feed = [&](qint64 until) {
            for (;;) {
                const qint64 picture = phase + pictures * (1000 / fps), sound = phase - 20 + sounds * 40;
                if (qMin(picture, sound) >= until)
                    return;
                clock.set(start.addMSecs(qMin(picture, sound)));
                if (picture <= sound) {
                    lastPicture = (base + picture) % 86400000;
                    device->deliver(stream, numbered(pictures), KindVideo, pictures % keyEvery ? 0 : 1, lastPicture);
                    ++pictures;
                } else {
                    device->deliver(stream, numbered(sounds++), KindAudio, -1, (base + sound + soundAhead) % 86400000);
                }
            }
        };
        feed(2000);
        QVERIFY(!midnight || s.server.startRecord("10.0.0.5", 0));
        for (qint64 t = 2000; t < span;) {
            feed(t = qMin(span, t + 10000));
            QVERIFY(QTest::qWaitFor(
                [&] {
                    if (unit->owesNextFile())
                        s.server.tick();
                    return recordedUpTo(root, lastPicture);
                },
                20000));
        }
        QVERIFY(midnight || s.server.replaceSchedules({}, {}));
        s.server.stopRecord("10.0.0.5");

        QStringList problems;
        QList<int> heard;
        const QStringList files = recordFiles(root);
        for (const QString &path : files) {
            const QString name = QFileInfo(path).fileName();
            const QVector<RecordScanEntry> records = recordio::scan(path).records;
            const qint64 first = records.isEmpty() ? -1 : qint64(records.first().timestamp);
            if (records.isEmpty() || records.first().type != 1)
                problems << name + ": does not start with a key frame";
            else if (recordnames::parseName(name).start != first)
                problems << QString("%1: named not by its first picture (%2)").arg(name).arg(first);
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            for (const RecordScanEntry &e : records) {
                if (e.type == 0 && qint64(e.timestamp) < first)
                    problems << QString("%1: sound at %2 before its first picture").arg(name).arg(e.timestamp);
                file.seek(e.offset + _st_recframe_header::kSize);
                if (e.type == 0)
                    heard << file.read(200).split('.').first().toInt();
            }
        }
        const QSet<int> once(heard.cbegin(), heard.cend());
        const int from = heard.isEmpty() ? 0 : *std::min_element(heard.cbegin(), heard.cend());
        const int to = heard.isEmpty() ? 0 : *std::max_element(heard.cbegin(), heard.cend());
        if (files.size() < (midnight ? 2 : 3) || to - from < span / 80 || once.size() != heard.size())
            problems << QString("%1 files, sound %2 to %3, %4 twice")
                            .arg(files.size())
                            .arg(from)
                            .arg(to)
                            .arg(heard.size() - once.size());
        for (int n = from; n <= to; ++n)
            if (!once.contains(n))
                problems << QString("sound %1 lost").arg(n);
        for (const QString &p : problems.mid(0, 20))
            qInfo().noquote() << p;
        QVERIFY2(problems.isEmpty(), qPrintable(problems.value(0)));
    }

    // A picture a second, which leaves the sound longest beside one picture,
    // and sound every 40 ms through the real stream client, service and
    // recorder while the camera's clock steps, shown first on a sound frame,
    // or runs fast and is set back: in the files every sound frame lies
    // within 100 ms of its place, as far after the picture recorded before
    // it as truly passed between them, and none goes back.
    void recordedSoundKeepsToItsPictures_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<int>("step");    // the camera's clock stepped by this at a sound frame 20.5 s in
        QTest::addColumn<double>("rate"); // the camera's clock against true time
        QTest::addColumn<int>("setBack"); // and set back by this every 10 s
        QTest::newRow("stepped +2 s") << 30 << 2000 << 1.0 << 0;
        QTest::newRow("stepped -2 s") << 30 << -2000 << 1.0 << 0;
        QTest::newRow("10 % fast, set back 1 s every 10 s") << 60 << 0 << 1.1 << 1000;
    }
    void recordedSoundKeepsToItsPictures()
    {
        QFETCH(int, seconds);
        QFETCH(int, step);
        QFETCH(double, rate);
        QFETCH(int, setBack);
        const QDateTime start(QDate(2024, 1, 1), QTime(12, 0));
        platform::FakeClock clock(start);
        platform::setClock(&clock);
        Service s;
        setRecorderFactory({});
        s.add({"10.0.0.5"});
        s.server.tick();
        FakeP2PStream *device = s.p2p.last;
        QVERIFY(device);
        device->deliver(0, streamInfo(640, 360, 0, 1, true), KindStreamInfo, 0, 0);
        ClientFeed sink(device, &clock);
        sink.keyEvery = 2;
        const QString root = s.dir.path() + "/RecordFile";
        // Pictures every second and sound every 40 ms, 20 ms off the
        // pictures, sent in the order of their true times as the clock reads
        // them; each frame's true time follows from its number.
        const qint64 spacing = 1000;
        auto camera = [&](qint64 t) {
            return 43200000 + qint64(t * rate) - setBack * (t / 10000) + (t >= 20500 ? step : 0);
        };
        int pictures = 0, sounds = 0;
        auto feed = [&](qint64 until) {
            for (;;) {
                const qint64 p = pictures * spacing, a = 20 + sounds * 40;
                if (qMin(p, a) >= until)
                    return;
                clock.set(start.addMSecs(qMin(p, a)));
                QVERIFY(p < a ? sink.picture(pictures++, camera(p)) : sink.sound(sounds++, camera(a)));
            }
        };
        feed(2000);
        QVERIFY(s.server.startRecord("10.0.0.5", 0));
        QTRY_VERIFY(recordedUpTo(root, sink.stamps.last()));
        for (qint64 t = 2000; t < seconds * 1000;) {
            feed(t = qMin<qint64>(seconds * 1000, t + 10000));
            QTRY_VERIFY_WITH_TIMEOUT(recordedUpTo(root, sink.stamps.last()), 20000);
        }
        QVERIFY(s.server.stopRecord("10.0.0.5"));

        QStringList problems;
        int heard = 0;
        qint64 worst = 0;
        for (const QString &path : recordFiles(root)) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            qint64 picture = -1, pictureAt = 0, sound = -1;
            for (const RecordScanEntry &e : recordio::scan(path).records) {
                file.seek(e.offset + _st_recframe_header::kSize);
                const qint64 n = file.read(200).split('.').first().toInt(), ts = qint64(e.timestamp);
                if (e.type != 0) {
                    picture = ts;
                    pictureAt = n * spacing;
                    continue;
                }
                const qint64 off = picture < 0 ? 0 : StreamClock::lead(ts, picture + 20 + n * 40 - pictureAt);
                worst = qMax(worst, qAbs(off));
                if (qAbs(off) > 100)
                    problems << QString("sound %1 at %2: %3 ms off its place").arg(n).arg(ts).arg(off);
                if (sound >= 0 && StreamClock::lead(ts, sound) < 0)
                    problems << QString("sound %1 at %2: back from %3").arg(n).arg(ts).arg(sound);
                sound = ts;
                ++heard;
            }
        }
        if (heard < seconds * 20)
            problems << QString("%1 sound frames recorded of %2").arg(heard).arg(sounds);
        qInfo().noquote() << "sound frames:" << heard << "worst:" << worst << "ms";
        for (const QString &p : problems.mid(0, 20))
            qInfo().noquote() << p;
        QVERIFY2(problems.isEmpty(), qPrintable(problems.value(0)));
    }

    // Schedules around midnight, the stream stamped by the stream client:
    // a window opening at midnight whose pre-record reaches into the old
    // day, and a file filling in the day's last tick whose successor the
    // service makes after midnight. Both files made on the new date hold
    // the old day's last seconds; each lies in the folder of the day its
    // pictures were stamped, listed, and the disk guard's passes (the one
    // at midnight and one later that day) move nothing and tell no
    // set-back. The control: the computer's clock set back from the day's
    // last second to its first still moves what was recorded, and tells it.
    void newDaysFirstFilesStayListed_data()
    {
        QTest::addColumn<QDateTime>("start");    // the clock at the first picture, a key frame
        QTest::addColumn<int>("pictures");       // 25 a second
        QTest::addColumn<int>("pre");            // pre-record seconds
        QTest::addColumn<int>("from");           // the first picture recorded
        QTest::addColumn<QList<int>>("windows"); // day of the week, first and end minute, ...
        QTest::addColumn<int>("setBackAt");      // the picture from which the clock is set back a day less 1 s
        // Midnight at picture 250.
        const QDateTime lateNight(QDate(2024, 1, 1), QTime(23, 59, 50)); // a Monday
        QTest::newRow("a window opening at midnight, with pre-record")
            << lateNight << 500 << 3 << 175 << QList<int>{2, 0, 480} << -1;
        // 63 s (the length with its pre- and post-record) after its first
        // picture the first file fills at 23:59:59.840, midnight at 1580.
        QTest::newRow("a file filling in the day's last tick")
            << QDateTime(QDate(2024, 1, 1), QTime(23, 58, 56, 800)) << 1830 << 1 << 0
            << QList<int>{1, 0, 1440, 2, 0, 1440} << -1;
        QTest::newRow("control: the clock set back from the day's last second")
            << lateNight << 500 << 1 << 0 << QList<int>{1, 0, 1440} << 240;
    }
    void newDaysFirstFilesStayListed()
    {
        QFETCH(QDateTime, start);
        QFETCH(int, pictures);
        QFETCH(int, pre);
        QFETCH(int, from);
        QFETCH(QList<int>, windows);
        QFETCH(int, setBackAt);
        const qint64 setBackBy = 86399000;
        platform::FakeClock clock(start);
        platform::setClock(&clock);
        testsupport::SystemLog log;
        Service s;
        QVERIFY(s.server.setLocalConfig(s.dir.path(), s.dir.path(), 60, pre, 2, 1, 5, 30, 1, 1));
        setRecorderFactory({});
        s.add({"10.0.0.5"});
        for (int w = 0; w + 2 < windows.size(); w += 3)
            QVERIFY(s.server.addRecordSchedule(windows[w], 0, 0, windows[w + 1], windows[w + 2], 1, ""));
        s.server.tick();
        FakeP2PStream *device = s.p2p.last;
        QVERIFY(device);
        device->deliver(1, streamInfo(640, 360), KindStreamInfo, 0, 0);
        ClientFeed sink(device, &clock);
        sink.stream = 1;
        testsupport::DriftingCamera camera;
        const QString root = s.dir.path() + "/RecordFile";
        qcStreamUtil *unit = s.server.unitFor("10.0.0.5");
        auto clockAt = [&](int i) {
            return start.addMSecs(40 * qint64(i) - (setBackAt >= 0 && i >= setBackAt ? setBackBy : 0));
        };
        // A second at a time, each recorded before the next; the service's
        // tick looks at the clock only after each, so a file that filled
        // within it is followed at its end.
        for (int i = 0; i < pictures;) {
            const int to = qMin(pictures, i + 25);
            for (; i < to; ++i) {
                clock.set(clockAt(i));
                QVERIFY(sink.picture(i, camera.stamp(i)));
            }
            s.server.tick();
            QTRY_VERIFY_WITH_TIMEOUT(!unit->isRecording() || recordedUpTo(root, sink.stamps.last()), 20000);
        }
        QVERIFY(s.server.replaceSchedules({}, {}));
        QVERIFY(s.server.stopRecord("10.0.0.5"));
        // Besides the pass at midnight (or at the set back), whenever it came,
        // two later that day, the second asked for once the first was done:
        // it surely looks at every file.
        qcDiskManager *guard = s.server.diskGuard();
        for (int pass = 0; pass < 2; ++pass) {
            const int passes = guard->passCount();
            guard->requestLatePass();
            QTRY_VERIFY_WITH_TIMEOUT(guard->passCount() > passes, 10000);
        }
        recordindex::repairTree(root);

        QStringList problems;
        QMap<int, QStringList> daysOf; // picture -> the day folders of the listed files holding it
        QSet<int> recorded;
        QStringList moved;
        for (const QString &path : recordFiles(root)) {
            const QString name = QFileInfo(path).fileName();
            const bool backup = path.contains("/BackupFile/") || path.contains("/BackupDir/");
            if (backup)
                moved << name;
            else if (!recordindex::listedIn(recordindex::readReclist(QFileInfo(path).path()), name))
                problems << name + ": not listed";
            for (int n : picturesIn(path)) {
                recorded << n;
                if (!backup)
                    daysOf[n] << path.section('/', -3, -3);
            }
        }
        const QStringList told = log.abnormal().filter(QRegularExpression("^record move\\|"));
        if (setBackAt < 0) {
            if (!moved.isEmpty())
                problems << "moved: " + moved.join(", ");
            if (!told.isEmpty())
                problems << "told: " + told.join("; ");
        } else if (moved.isEmpty()) {
            problems << "nothing moved after the clock was set back";
        }
        for (const QString &name : moved)
            if (told.filter(QRegularExpression("moved into .*" + QRegularExpression::escape(name))).isEmpty())
                problems << name + ": moved without a word";
        for (int n = from; n < pictures; ++n) {
            const QString day = recordnames::dayFolder(clockAt(n).date());
            if (!recorded.contains(n))
                problems << QString("picture %1 (%2) in no file").arg(n).arg(sink.stamps.value(n));
            else if (setBackAt < 0 && !daysOf.value(n).contains(day))
                problems << QString("picture %1 (%2) not listed in %3").arg(n).arg(sink.stamps.value(n)).arg(day);
        }
        // The record-file tool finds each day's indexes true to its files.
        for (const QDate &day : {start.date(), start.date().addDays(1)}) {
            const QString folder = root + '/' + recordnames::dayFolder(day) + "/10.0.0.5";
            if (QFileInfo::exists(folder) && !mediatest::consistent(folder))
                problems << folder + ": the indexes do not agree with the files";
        }
        qInfo().noquote() << "files:" << recordFiles(root).replaceInStrings(root + '/', QString());
        for (const QString &p : problems.mid(0, 20))
            qInfo().noquote() << p;
        QVERIFY2(problems.isEmpty(), qPrintable(problems.value(0)));
    }
};

QTEST_MAIN(TestRecordingClock)
#include "tst_recording_clock.moc"
