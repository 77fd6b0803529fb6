#include "streamfakes.h"

#include "device/playstream.h"
#include "device/qcaudiocapture.h"
#include "devicesim/device.h"
#include "devicesim/protocols.h"
#include "../../device/p2pcommon/p2ptest.h"
#include "device/qccommonstream.h"
#include "platform/p2p/P2pApi.h"
#include "media/qcframebuffer.h"
#include "media/qcrecordfile.h"
#include "media/qcstreamutil.h"
#include "media/recordnames.h"
#include "platform/clock.h"
#include "tests/support/countingclock.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

using namespace streamfakes;

namespace {

const QString kP2PType = QStringLiteral("LOOPP2P");
const QString kByAddress = QStringLiteral("VARAR");

// Room for a stream start, a loss or a thread's end on the slowest machine
// that runs the suite (several clients, emulators and a parallel ctest at
// once); the waits end as soon as the event comes.
constexpr int kEventMs = 30000;

// The type of the frame with this sequence number (a positioned read of the one before).
uint32_t typeAt(qcFrameBuffer *buffer, int64_t sequence)
{
    QByteArray dst(4096, '\0');
    uint32_t length = 0, type = 0;
    uint64_t ts = 0;
    int64_t seq = sequence - 1;
    if (!buffer->readFrame(dst.data(), dst.size(), &length, &type, &ts, &seq, -1, false, -1))
        return 0;
    return seq == sequence ? type : 0;
}

// The stamps of the pictures a frame buffer holds, oldest first, from its
// oldest key frame on.
QList<qint64> pictureStamps(qcFrameBuffer *buffer)
{
    QVector<char> dst(int(qcFrameBuffer::kMaxPayload));
    QList<qint64> stamps;
    int64_t seq = -1;
    uint32_t length = 0, type = 0;
    uint64_t ts = 0;
    const int32_t back = buffer->frameCount() + 1;
    while (buffer->readFrame(dst.data(), dst.size(), &length, &type, &ts, &seq, seq < 0 ? back : -1, false, -1))
        if (type >= 1 && type <= 3)
            stamps << qint64(ts);
    return stamps;
}

// A loopback device that answers both live streams with their stream
// information and holds their frames back, and a unit that dials it.
struct Peer
{
    devicesim::Device device;
    devicesim::Protocols protocols;
    qcStreamUtil unit;
    Peer()
    {
        device.setCredentials("admin", "1234");
        protocols = devicesim::installProtocols(device, qEnvironmentVariable("ARDO_CLIPS_DIR"));
        protocols.live->setStalled(true);
    }
    bool start()
    {
        if (!device.start(QHostAddress("127.0.0.1"), 0))
            return false;
        login("1234");
        return unit.start();
    }
    void login(const QString &password)
    {
        unit.setParams("127.0.0.1", QString::number(device.port()), "cam", "admin", password, 102, 1, kByAddress);
    }
    bool connected()
    {
        return unit.mainClient() && unit.subClient() && unit.mainClient()->getStatus() == StatusConnected &&
               unit.subClient()->getStatus() == StatusConnected;
    }
    // The stream requests that came, with that password when one is given.
    int requests(int stream, const QString &password = QString()) const
    {
        int n = 0;
        for (const auto &r : device.requests())
            n += r.query.contains("liveplay&stream=" + QByteArray::number(stream)) &&
                 (password.isEmpty() || r.password == password);
        return n;
    }
};

} // namespace

class TestStreamUnit : public QObject
{
    Q_OBJECT

private:
    // A started unit on the P2P path: its buffers exist and nothing dials out.
    std::unique_ptr<qcStreamUtil> startedUnit(P2PFactoryScope &factory, int ctx = 102)
    {
        auto unit = std::make_unique<qcStreamUtil>();
        unit->setParams("P2PID0001", "0", "cam", "admin", "pw", ctx, 7, kP2PType);
        [&] { QVERIFY(unit->start()); }();
        Q_UNUSED(factory);
        return unit;
    }

private slots:
    void cleanup()
    {
        for (auto &slot : g_p2pStreams)
            slot = nullptr;
        platform::setClock(nullptr);
    }

    void firstStreamInformationSizesTheBufferQuietly()
    {
        P2PFactoryScope factory;
        auto unit = startedUnit(factory);
        QSignalSpy meta(unit.get(), &qcStreamUtil::sigMetaChange);
        feed(unit.get(), 0, streamInfo(1280, 720, 0, 25), KindStreamInfo);
        QCOMPARE(unit->getMainFrameBuffer()->capacity(), 3686400u);
        const MediaInfo_t mi = unit->getMainMediaInfo();
        QCOMPARE((QList<int>{mi.videoCodec, mi.width, mi.frameRate}), (QList<int>{28, 1280, 25}));
        QCOMPARE(unit->getSubFrameBuffer()->capacity(), 0u);

        for (int i = 0; i < 5; ++i)
            feed(unit.get(), 0, QByteArray(100, 'v'), KindVideo, i == 0 ? 1 : 0, 1000 + 40 * i);
        feed(unit.get(), 0, streamInfo(1280, 720, 0, 25), KindStreamInfo);
        QCOMPARE(unit->getMainFrameBuffer()->frameCount(), 3); // five stored records
        QCOMPARE(unit->getMainFrameBuffer()->capacity(), 3686400u);
        QCOMPARE(meta.count(), 0);
        // The largest stream gets the largest buffer, first and through a reallocation.
        feed(unit.get(), 1, streamInfo(8000, 8000), KindStreamInfo);
        feed(unit.get(), 0, streamInfo(8000, 7999), KindStreamInfo);
        QCOMPARE(unit->getSubFrameBuffer()->capacity(), 0x77FFFFFu);
        QCOMPARE(unit->getMainFrameBuffer()->capacity(), 0x77FFFFFu);
    }
    void audioCountsOnlyOnAStreamWithAudio()
    {
        P2PFactoryScope factory;
        auto unit = startedUnit(factory);
        QSignalSpy meta(unit.get(), &qcStreamUtil::sigMetaChange);
        feed(unit.get(), 0, streamInfo(640, 360, 0, 25, false, 0, 8000), KindStreamInfo);
        feed(unit.get(), 0, streamInfo(640, 360, 0, 25, false, 2, 16000), KindStreamInfo);
        QCOMPARE(meta.count(), 0);
        feed(unit.get(), 0, streamInfo(640, 360, 0, 25, true, 2, 16000, 1), KindStreamInfo);
        QCOMPARE(meta.count(), 1);
        const MediaInfo_t mi = unit->getMainMediaInfo();
        QCOMPARE((QList<int>{mi.audioCodec, mi.audioRate, mi.channels}), (QList<int>{2, 16000, 2}));
        feed(unit.get(), 0, streamInfo(640, 360, 0, 25, true, 2, 16000, 3), KindStreamInfo);
        QCOMPARE(unit->getMainMediaInfo().channels, 3);
        QCOMPARE(meta.count(), 2);
    }
    void implausibleSizesAreIgnored_data()
    {
        QTest::addColumn<int>("stream");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("main too wide") << 0 << 8001 << 600;
        QTest::newRow("sub too wide") << 1 << 8001 << 600;
        QTest::newRow("main too high") << 0 << 600 << 8001;
        QTest::newRow("main empty") << 0 << 0 << 0;
        QTest::newRow("sub no height") << 1 << 640 << 0;
    }
    void implausibleSizesAreIgnored()
    {
        QFETCH(int, stream);
        QFETCH(int, width);
        QFETCH(int, height);
        P2PFactoryScope factory;
        auto unit = startedUnit(factory);
        QSignalSpy meta(unit.get(), &qcStreamUtil::sigMetaChange);
        feed(unit.get(), stream, streamInfo(640, 360, 0, 25), KindStreamInfo);
        feed(unit.get(), stream, streamInfo(width, height, 5, 12, true, 1, 16000), KindStreamInfo);
        const MediaInfo_t mi = stream == 0 ? unit->getMainMediaInfo() : unit->getSubMediaInfo();
        QCOMPARE((QList<int>{mi.width, mi.height, mi.videoCodec, mi.frameRate, mi.audioRate}),
                 (QList<int>{640, 360, 28, 25, 8000}));
        qcFrameBuffer *buffer = stream == 0 ? unit->getMainFrameBuffer() : unit->getSubFrameBuffer();
        QCOMPARE(buffer->capacity(), 921600u);
        QCOMPARE(meta.count(), 0);
    }

    void framesAreRoutedByKind()
    {
        P2PFactoryScope factory;
        auto unit = startedUnit(factory);
        feed(unit.get(), 0, streamInfo(640, 360), KindStreamInfo);
        qcFrameBuffer *buffer = unit->getMainFrameBuffer();
        feed(unit.get(), 0, QByteArray(50, 'k'), KindVideo, 1);
        feed(unit.get(), 0, QByteArray(50, 'p'), KindVideo, 0);
        feed(unit.get(), 0, QByteArray(50, 'b'), KindVideo, 2);
        feed(unit.get(), 0, QByteArray(50, 'x'), KindVideo, 5); // dropped
        feed(unit.get(), 0, QByteArray(50, 'a'), KindAudio, 7);
        feed(unit.get(), 0, QByteArray(50, 'o'), 107); // ignored
        qcStreamUtil::onMainFrame(reinterpret_cast<const unsigned char *>("zz"), 2, KindVideo, 1, 0, nullptr);
        for (uint32_t sequence = 1; sequence <= 5; ++sequence)
            QCOMPARE(typeAt(buffer, sequence), sequence % 5); // the fifth is none
        QCOMPARE(unit->getSubFrameBuffer()->frameCount(), 0);
    }

    // The live page looks a P2P device up while the service thread keeps
    // making and dropping its front end (one that cannot open).
    void tableWalkWhileFrontEndsComeAndGo()
    {
        P2PFactoryScope factory;
        factory.configure = [](FakeP2PStream *s) { s->openResult = false; };
        std::atomic<bool> done{false};
        std::atomic<int> found{0};
        std::thread walker([&] {
            while (!done)
                found += withP2PStream("P2PID0001", [](qcP2PStreamInterface *s) { s->ptzControl(16); });
        });
        qcStreamUtil unit;
        unit.setParams("P2PID0001", "0", "cam", "admin", "pw", 102, 7, kP2PType);
        bool started = false;
        for (int i = 0; i < 10000; ++i)
            started |= unit.start();
        done = true;
        walker.join();
        QVERIFY(!started);
        QCOMPARE(FakeP2PStream::alive.load(), 0);
        QVERIFY(!withP2PStream("P2PID0001", [](qcP2PStreamInterface *) {}));
        QVERIFY(!withP2PStream("", [](qcP2PStreamInterface *) {}));
    }

    void p2pObjectIsRegisteredAndReleased()
    {
        P2PFactoryScope factory;
        {
            auto unit = startedUnit(factory);
            FakeP2PStream *p2p = factory.last;
            QCOMPARE(p2p->protocol, kP2PType);
            QCOMPARE(p2p->openedKind, 3);
            QCOMPARE(int(p2p->callbacks.size()), 2);
            QCOMPARE(g_p2pStreams[0].load(), static_cast<qcP2PStreamInterface *>(p2p));
            QVERIFY(!unit->start()); // already started
        }
        QCOMPARE(g_p2pStreams[0].load(), nullptr);
        QCOMPARE(FakeP2PStream::alive.load(), 0);

        // A full table: the unit works, unregistered.
        static int dummy[kP2PStreamSlots];
        for (int i = 0; i < kP2PStreamSlots; ++i)
            g_p2pStreams[i] = reinterpret_cast<qcP2PStreamInterface *>(&dummy[i]);
        auto unit = startedUnit(factory);
        QVERIFY(unit->isStarted());
        for (auto &slot : g_p2pStreams)
            QVERIFY(slot.load() != factory.last);
        feed(unit.get(), 0, streamInfo(640, 360), KindStreamInfo);
        factory.last->deliver(0, QByteArray(10, 'k'), KindVideo, 1, 5);
        QCOMPARE(typeAt(unit->getMainFrameBuffer(), 1), 1u);
    }

    void p2pFailedOpenIsRetried()
    {
        P2PFactoryScope factory;
        factory.configure = [](FakeP2PStream *p) { p->callbacksResult = false; };
        qcStreamUtil unit;
        unit.setParams("P2PID0002", "0", "cam", "admin", "pw", 102, 7, kP2PType);
        QVERIFY(!unit.start());
        QCOMPARE(FakeP2PStream::alive.load(), 0);
        QCOMPARE(g_p2pStreams[0].load(), nullptr);
        factory.configure = nullptr;
        QVERIFY(unit.start());
        QVERIFY(unit.isStarted());
        // Without a P2P layer in the program no unit of that kind can start.
        setP2PStreamFactory({});
        qcStreamUtil lonely;
        lonely.setParams("P2PID0003", "0", "cam", "admin", "pw", 103, 8, kP2PType);
        QVERIFY(!lonely.start());
    }
    void p2pRestartHandsOverTheNewData()
    {
        P2PFactoryScope factory;
        auto unit = startedUnit(factory);
        unit->setParams("P2PID0009", "0", "cam", "admin", "secret", 102, 7, kP2PType);
        QVERIFY(unit->restart());
        QCOMPARE(factory.last->address, QString("P2PID0009"));
        QCOMPARE(factory.last->lastPassword, QString("secret"));
        QCOMPARE(factory.last->closed, 1);
        QVERIFY(unit->isStarted());
        factory.last->connected = true;
        QVERIFY(unit->isOnline());
        unit->setOnline(false); // ignored for P2P devices
        QVERIFY(unit->isOnline());
    }

    void recorderRefusalsAndResumeSequence()
    {
        P2PFactoryScope factory;
        RecorderFactoryScope recorders;
        auto unit = startedUnit(factory);
        QSignalSpy done(unit.get(), &qcStreamUtil::sigRecordCompleted);

        recorders.configure = [](ScriptedRecorder *r) { r->interruptAt = 1234; };
        QVERIFY(unit->startRecord(".", "a", 26, 0, 60, 0, 0, true));
        QCOMPARE(recorders.made.at(0)->sequence, -1);
        QVERIFY(recorders.made.at(0)->wait(kEventMs));
        QCOMPARE(unit->resumeSequence(), 1234);

        recorders.configure = nullptr;
        QVERIFY(unit->startRecord(".", "b", 26, 1, 60, 0, 0, true));
        QCOMPARE(recorders.made.at(1)->sequence, 1234);
        QCOMPARE(recorders.made.at(1)->buffer, unit->getSubFrameBuffer());
        QVERIFY(unit->isRecording());
        QVERIFY(!unit->startRecord(".", "c", 26, 0, 60, 0, 0, true));
        QVERIFY(!recorders.made.at(1)->stopFlag);
        QVERIFY(unit->stopRecord(false));
        QVERIFY(unit->startRecord(".", "d", 26, 0, 60, 0, 0, true));
        QCOMPARE(recorders.made.last()->sequence, -1);
        QVERIFY(unit->stopRecord(false));
        QVERIFY(!unit->stopRecord(false));

        recorders.configure = [](ScriptedRecorder *r) { r->refuse = true; };
        QVERIFY(!unit->startRecord(".", "e", 26, 0, 60, 0, 0, true));
        QVERIFY(!unit->isRecording());

        // Only the recording that ended by itself reports (the first one).
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, kEventMs);
        QCOMPARE(done.at(0).mid(1), (QVariantList{"a", 26}));
        QTest::qWait(50);
        QCOMPARE(done.count(), 1);
    }

    // A manual or alarm recording whose file was cut owes its next file, in
    // its place of any other recording (a new alarm's too); an owed file that
    // cannot be made ends it, told by its last file. A timing recording owes
    // nothing: its schedule starts the next one.
    // A scheduled file that holds its length hands its end on to the
    // schedule's next file alone, while the schedule runs on: that file goes
    // on after it (leading in from its key frame); anything else starts
    // afresh at the newest key frame.
    void aFilledFileHandsItsEndToTheSchedulesNext_data()
    {
        using namespace recordnames;
        QTest::addColumn<int>("kind");     // the file that fills
        QTest::addColumn<bool>("lapsed");  // the schedule started nothing for the device meanwhile
        QTest::addColumn<int>("nextKind"); // the recording that starts next
        QTest::addColumn<qint64>("from");  // where it goes on after
        QTest::newRow("the schedule's next file") << kKindTiming << false << kKindTiming << qint64(777);
        QTest::newRow("after the schedule lapsed") << kKindTiming << true << kKindTiming << qint64(-1);
        QTest::newRow("a click meanwhile") << kKindTiming << false << kKindManual << qint64(-1);
        QTest::newRow("an alarm meanwhile") << kKindTiming << false << kKindAlarm << qint64(-1);
        QTest::newRow("a filled manual file") << kKindManual << false << kKindTiming << qint64(-1);
    }
    void aFilledFileHandsItsEndToTheSchedulesNext()
    {
        QFETCH(int, kind);
        QFETCH(bool, lapsed);
        QFETCH(int, nextKind);
        QFETCH(qint64, from);
        P2PFactoryScope factory;
        RecorderFactoryScope recorders;
        auto unit = startedUnit(factory);
        recorders.configure = [](ScriptedRecorder *r) { r->filledAt = 777; };
        QVERIFY(unit->startRecord(".", "a", kind, 0, 60, 0, 0, false));
        QVERIFY(recorders.made.at(0)->wait(kEventMs));
        QTRY_VERIFY(!unit->isRecording());
        if (lapsed)
            unit->scheduleLapsed();
        recorders.configure = nullptr;
        QVERIFY(unit->startRecord(".", "b", nextKind, 0, 60, 0, 0, false));
        QCOMPARE(recorders.made.at(1)->sequence, from);
        QCOMPARE(recorders.made.at(1)->continuesAfterCut(), from >= 0);
        QVERIFY(unit->stopRecord(false));
        // Taken once.
        QVERIFY(unit->startRecord(".", "c", nextKind, 0, 60, 0, 0, false));
        QCOMPARE(recorders.made.at(2)->sequence, -1);
    }

    void recordingGoesOnAfterACut_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("length");
        QTest::newRow("manual") << 28 << 1800;
        QTest::newRow("alarm") << 27 << 60;
    }
    void recordingGoesOnAfterACut()
    {
        QFETCH(int, kind);
        QFETCH(int, length);
        P2PFactoryScope factory;
        RecorderFactoryScope recorders;
        auto unit = startedUnit(factory);
        QSignalSpy done(unit.get(), &qcStreamUtil::sigRecordCompleted);
        recorders.configure = [&recorders](ScriptedRecorder *r) {
            if (recorders.made.size() < 2)
                r->interruptAt = 40 + recorders.made.size();
        };
        QVERIFY(unit->startRecord(".", "a", kind, 1, length, 0, 0, true));
        QTRY_VERIFY_WITH_TIMEOUT(unit->owesNextFile(), kEventMs);
        QVERIFY(unit->isRecording());
        QVERIFY(unit->recordingGoesOn(kind));
        QVERIFY(!unit->recordingGoesOn(kind == 28 ? 27 : 28));
        QVERIFY(!unit->startRecord(".", "x", 26, 0, 60, 0, 0, true));
        QVERIFY(!unit->startRecord(".", "y", 27, 0, 60, 0, 0, true));
        // False while the cut file's recorder winds up.
        bool continued = false;
        QTRY_VERIFY_WITH_TIMEOUT(continued || (continued = unit->continueRecording(".", "b")), kEventMs);
        QCOMPARE(recorders.made.size(), 2);
        QCOMPARE(recorders.made.at(1)->sequence, 40);
        QCOMPARE(recorders.made.at(1)->kind, kind);
        QCOMPARE(recorders.made.at(1)->stream, 1);
        QCOMPARE(recorders.made.at(1)->length, length);
        QTRY_VERIFY_WITH_TIMEOUT(unit->owesNextFile(), kEventMs);
        unit->endOwedRecording();
        QVERIFY(!unit->isRecording());
        QVERIFY(!unit->recordingGoesOn(kind));
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 3, kEventMs);
        QCOMPARE(done.at(2).mid(1), (QVariantList{"b", kind}));

        recorders.configure = [](ScriptedRecorder *r) { r->interruptAt = 9; };
        QVERIFY(unit->startRecord(".", "c", 26, 0, 60, 0, 0, true));
        QVERIFY(recorders.made.last()->wait(kEventMs));
        QVERIFY(!unit->owesNextFile());
        QVERIFY(!unit->isRecording());
    }

    // A stream that runs ahead of the computer's clock as far as the stream
    // client lets it (4.5 s) passes midnight first: its next file is made
    // once the date has turned, while the frame buffer (a 640x360 stream's,
    // about three seconds here) drops its oldest pictures. None is lost: each
    // picture lies in one file, in its own day's folder, and the new day's
    // file starts playable, with the pictures since the last key frame.
    void streamAheadAtMidnightLosesNoPicture()
    {
        constexpr int kPictures = 325;
        // The first picture stamped after midnight, and the first after the clock's.
        constexpr int kNewDay = 138;
        constexpr int kDateTurns = 250;
        const QDateTime start(QDate(2024, 1, 1), QTime(23, 59, 50)); // the clock at picture 0
        auto clockAt = [&](int n) { return start.addMSecs(40 * n); };
        auto stamp = [&](int n) { return qint64(clockAt(n).addMSecs(4500).time().msecsSinceStartOfDay()); };
        testsupport::CountingClock clock(start);
        platform::setClock(&clock);
        P2PFactoryScope factory;
        setRecorderFactory({});
        auto unit = startedUnit(factory);
        factory.last->deliver(0, streamInfo(640, 360), KindStreamInfo, 0, 0);
        QTemporaryDir dir;
        // Each picture and its stamp, file after file of a day's folder.
        auto recorded = [&](const QString &day) {
            QList<QPair<int, qint64>> pictures;
            const QDir folder(dir.path() + '/' + day);
            for (const QString &name : folder.entryList({"*.zmf"}, QDir::Files, QDir::Name)) {
                QFile file(folder.filePath(name));
                file.open(QIODevice::ReadOnly);
                for (const RecordScanEntry &e : recordio::scan(file.fileName()).records) {
                    file.seek(e.offset + _st_recframe_header::kSize);
                    pictures << qMakePair(file.read(8).split('.').first().toInt(), qint64(e.timestamp));
                }
            }
            return pictures;
        };
        auto written = [&](int n) {
            return (recorded("20240101") + recorded("20240102")).contains(qMakePair(n, stamp(n)));
        };
        // As the service's tick: an owed file goes on in the folder of the computer's date.
        auto nextFile = [&] {
            const QString folder = dir.path() + '/' + recordnames::dayFolder(clock.now().date());
            QDir().mkpath(folder);
            return folder + '/' + recordnames::initialName("P2PID0001", recordnames::kKindManual);
        };
        auto tick = [&] { return !unit->owesNextFile() || unit->continueRecording(dir.path(), nextFile()); };
        auto deliver = [&](int from, int to) {
            clock.set(clockAt(to - 1));
            for (int n = from; n < to; ++n) // about 2.4 Mbit/s
                factory.last->deliver(0, QByteArray::number(n).leftJustified(12000, '.'), KindVideo, n % 25 ? 0 : 1,
                                      stamp(n));
        };
        deliver(0, 50);
        QVERIFY(unit->startRecord(dir.path(), nextFile(), recordnames::kKindManual, 0, 1800, 0, 0, true));
        QTRY_VERIFY(written(49));
        for (int from = 50; from < kPictures; from += 25) {
            const int looks = clock.reads();
            deliver(from, from + 25);
            // Waiting for the date, the recorder looks at the clock on every round.
            const int last = from + 24;
            const bool waits = last >= kNewDay && last < kDateTurns;
            QTRY_VERIFY(tick() && written(waits ? kNewDay - 1 : last) && (!waits || clock.reads() >= looks + 2));
        }
        QVERIFY(unit->stopRecord(false));
        QList<QPair<int, qint64>> oldDay, newDay;
        for (int n = 25; n < kNewDay; ++n)
            oldDay << qMakePair(n, stamp(n));
        for (int n = kNewDay / 25 * 25; n < kPictures; ++n)
            newDay << qMakePair(n, stamp(qMax(n, kNewDay)));
        QCOMPARE(recorded("20240101"), oldDay);
        QCOMPARE(recorded("20240102"), newDay);
    }

    void lateCompletionReportsItsOwnRecording()
    {
        P2PFactoryScope factory;
        RecorderFactoryScope recorders;
        auto unit = startedUnit(factory);
        QSignalSpy done(unit.get(), &qcStreamUtil::sigRecordCompleted);
        QVERIFY(unit->startRecord(".", "fileA", 28, 0, 1800, 0, 0, true));
        QVERIFY(unit->stopRecord(true));
        // A's completion is still queued while B starts.
        QVERIFY(unit->startRecord(".", "fileB", 26, 0, 60, 0, 0, true));
        QCOMPARE(done.count(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(done.count(), 1);
        QCOMPARE(done.at(0), (QVariantList{"P2PID0001", "fileA", 28}));
        QVERIFY(recorders.made.at(1)->reportWanted());
        QVERIFY(unit->stopRecord(true));
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, kEventMs);
        QCOMPARE(done.at(1).mid(1), (QVariantList{"fileB", 26}));
    }

    void recordingNeedsAStartedUnitAndARecorder()
    {
        qcStreamUtil unit;
        unit.setParams("127.0.0.1", "1", "cam", "admin", "pw", 102, 1, kByAddress);
        RecorderFactoryScope recorders;
        QVERIFY(!unit.startRecord(".", "f", 28, 0, 1800, 0, 0, true));
        QVERIFY(recorders.made.isEmpty());
        P2PFactoryScope factory;
        auto started = startedUnit(factory);
        setRecorderFactory({});
        QVERIFY(!started->startRecord(".", "f", 28, 0, 1800, 0, 0, true));
    }

    void deletionStopsTheRecorderWithoutReport()
    {
        P2PFactoryScope factory;
        RecorderFactoryScope recorders;
        auto unit = startedUnit(factory);
        QVERIFY(unit->startRecord(".", "f", 28, 0, 1800, 0, 0, true));
        QSignalSpy done(unit.get(), &qcStreamUtil::sigRecordCompleted);
        unit.reset();
        QCoreApplication::processEvents();
        QCOMPARE(done.count(), 0);
        QCOMPARE(ScriptedRecorder::alive.load(), 0);
        QCOMPARE(FakeP2PStream::alive.load(), 0);
    }

    void staleStatusOfAReplacedClientIsIgnored()
    {
        Peer p;
        QVERIFY(p.start());
        QTRY_VERIFY_WITH_TIMEOUT(p.connected() && p.unit.getMainFrameBuffer()->capacity() > 0, kEventMs);
        p.protocols.live->closeConnections(1);
        QTRY_VERIFY_WITH_TIMEOUT(!p.unit.isStarted(), kEventMs);

        // The main client loses its connection too, but its status is still
        // queued when the next start replaces it.
        QPointer<PlayStream> oldMain = p.unit.mainClient();
        p.protocols.live->closeConnections(0);
        QVERIFY(oldMain->wait(kEventMs));
        QVERIFY(p.unit.start());
        QVERIFY(oldMain.isNull()); // replaced; its address may be reused
        QVERIFY(p.unit.mainClient());
        for (int i = 0; i < 3; ++i)
            feed(&p.unit, 0, QByteArray(10, 'k'), KindVideo, 1);
        QCoreApplication::processEvents();
        QVERIFY(p.unit.isStarted());
        QCOMPARE(p.unit.getMainFrameBuffer()->frameCount(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(p.requests(0) == 2 && p.requests(1) == 2, kEventMs);
    }

    void aClientStillConnectingIsNotRedialled()
    {
        Peer p;
        p.device.addFault("liveplay&stream=0", devicesim::Fault::stall()); // the main stream's answer never comes
        QVERIFY(p.start());
        QTRY_COMPARE_WITH_TIMEOUT(p.unit.subClient()->getStatus(), int(StatusConnected), kEventMs);
        PlayStream *main = p.unit.mainClient();
        QVERIFY(main->isRunning());
        p.protocols.live->closeConnections(1);
        QTRY_VERIFY_WITH_TIMEOUT(!p.unit.isStarted(), kEventMs);
        QVERIFY(main->isRunning());
        QVERIFY(p.unit.start());
        QCOMPARE(p.unit.mainClient(), main);
        QTRY_COMPARE_WITH_TIMEOUT(p.requests(1), 2, kEventMs);
        QCOMPARE(p.requests(0), 1);
    }

    void restartDialsAgainWithTheNewCredentials_data()
    {
        QTest::addColumn<bool>("stopped");
        QTest::newRow("running") << false;
        QTest::newRow("main stream lost") << true;
    }
    // A running unit dials again at once; a stopped one drops the client
    // still connected and dials on its next start.
    void restartDialsAgainWithTheNewCredentials()
    {
        QFETCH(bool, stopped);
        Peer p;
        QVERIFY(p.start());
        QTRY_VERIFY_WITH_TIMEOUT(p.connected() && p.unit.getMainFrameBuffer()->capacity() > 0 &&
                                     p.unit.getSubFrameBuffer()->capacity() > 0,
                                 kEventMs);
        for (int s : {0, 1})
            for (int i = 0; i < 3; ++i)
                feed(&p.unit, s, QByteArray(10, 'k'), KindVideo, 1);
        if (stopped) {
            p.protocols.live->closeConnections(0);
            QTRY_VERIFY_WITH_TIMEOUT(!p.unit.isStarted(), kEventMs);
        }
        p.device.setCredentials("admin", "new");
        p.login("new");
        QCOMPARE(p.unit.restart(), !stopped);
        if (stopped) {
            QCOMPARE(p.unit.subClient(), nullptr);
            QVERIFY(p.unit.start());
        } else {
            QVERIFY(p.unit.isStarted());
            QCOMPARE(p.unit.getMainFrameBuffer()->frameCount(), 0);
            QCOMPARE(p.unit.getSubFrameBuffer()->frameCount(), 0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(p.connected(), kEventMs);
        QCOMPARE(p.requests(0, "new"), 1);
        QCOMPARE(p.requests(1, "new"), 1);
    }

    // The device refuses the sub stream on every try, as some firmwares
    // limit sub-stream clients: the unit's started flag keeps dropping, yet
    // a viewer gets the main stream's buffer while its own client is connected.
    void refusedSubStreamLeavesTheMainStreamViewable()
    {
        Peer p;
        p.protocols.live->setStalled(false);
        p.device.addFault("liveplay&stream=1", devicesim::Fault::status(503));
        QVERIFY(p.start());
        QTRY_VERIFY_WITH_TIMEOUT(p.unit.getMainFrameBuffer()->frameCount() > 5, kEventMs);
        // As the service's ticks do: each start dials the sub stream again.
        for (int tick = 0; tick < 3; ++tick) {
            QTRY_VERIFY_WITH_TIMEOUT(!p.unit.isStarted(), kEventMs);
            QCOMPARE(p.unit.viewerFrameBuffer(0), p.unit.getMainFrameBuffer());
            QCOMPARE(p.unit.viewerFrameBuffer(1), nullptr);
            QVERIFY(p.unit.start());
        }
        QVERIFY(p.unit.getMainFrameBuffer()->frameCount() > 5);
        QTRY_VERIFY_WITH_TIMEOUT(!p.unit.isStarted(), kEventMs);
        p.protocols.live->closeConnections(0);
        QTRY_COMPARE_WITH_TIMEOUT(p.unit.viewerFrameBuffer(0), nullptr, kEventMs);
    }

    // A camera a little ahead of the computer's clock whose stream drops
    // and is dialled again: the new connection's pictures go on after the
    // last ones of the one before, never back to the computer's clock.
    void aRedialledStreamGoesOnInTime()
    {
        Peer p;
        p.protocols.live->setStalled(false);
        QVERIFY(p.start());
        qcFrameBuffer *buffer = p.unit.getMainFrameBuffer();
        QTRY_VERIFY_WITH_TIMEOUT(buffer->frameCount() > 5, kEventMs);
        p.protocols.live->jumpTimestamps(800);
        QTRY_VERIFY_WITH_TIMEOUT(buffer->frameCount() > 30, kEventMs);
        // The pictures the drop may leave out come later still.
        const QList<qint64> before = pictureStamps(buffer);
        QVERIFY(!before.isEmpty());
        p.protocols.live->closeConnections(0);
        QTRY_VERIFY_WITH_TIMEOUT(!p.unit.isStarted(), kEventMs);
        QVERIFY(p.unit.start());
        QTRY_VERIFY_WITH_TIMEOUT(buffer->frameCount() > 10, kEventMs);
        const QList<qint64> after = pictureStamps(buffer);
        QVERIFY(!after.isEmpty());
        QVERIFY2(after.first() >= before.last(),
                 qPrintable(QString("%1 after %2").arg(after.first()).arg(before.last())));
    }

    void unreachableDeviceIsRedialledOnlyAfterFailing()
    {
        // Nothing listens there: every start ends in a failed connection.
        qcStreamUtil unit;
        unit.setParams("127.0.0.1", "1", "cam", "admin", "pw", 102, 1, kByAddress);
        QVERIFY(unit.start());
        QTRY_VERIFY_WITH_TIMEOUT(!unit.isStarted(), kEventMs);
        QPointer<PlayStream> main = unit.mainClient();
        QVERIFY(main->wait(kEventMs));
        QVERIFY(unit.start());
        QVERIFY(main.isNull());
        QVERIFY(unit.mainClient());
    }

    // The P2P path over the real front end, device and layer against the
    // loopback device reached by identifier.
    void p2pOverTheRealFrontEnd()
    {
        using namespace p2ptest;
        setP2PStreamFactory({});
        qcDeviceFromTutk::setDefaultTimings(shortTimings());
        QVERIFY2(!h264Clip().isEmpty(), "clips missing (ARDO_CLIPS_DIR)");
        auto sim = std::make_unique<devicesim::P2pDevice>();
        sim->addIdentity(kUid, "admin", "1234", h264Media());
        QVERIFY(sim->start());
        p2p::Registry::add(kUid.toStdString(), sim->port());
        {
            auto unit = std::make_unique<qcStreamUtil>();
            unit->setParams(kUid, "0", "cam", "admin", "1234", 104, 9, QString::fromLatin1(kP2pProtocolName));
            QVERIFY(unit->start());
            QVERIFY(qobject_cast<qcCommonStream *>(unit->p2pStream()));
            QCOMPARE(g_p2pStreams[0].load(), unit->p2pStream());
            QCOMPARE(unit->p2pStream()->getDeviceId(), kUid);

            // One stream fills both buffers, sized by its stream information.
            QTRY_VERIFY_WITH_TIMEOUT(
                unit->getMainFrameBuffer()->frameCount() > 5 && unit->getSubFrameBuffer()->frameCount() > 5, kEventMs);
            for (const MediaInfo_t &mi : {unit->getMainMediaInfo(), unit->getSubMediaInfo()})
                QCOMPARE((QList<int>{mi.videoCodec, mi.width, mi.height, mi.audioCodec, mi.audioRate}),
                         (QList<int>{28, 640, 368, 0, 8000}));

            qcAudioCapture microphone(nullptr, std::make_unique<ToneAudioInput>(1000.0));
            QVERIFY(microphone.startCapture());
            QVERIFY(unit->startTalk(&microphone));
            QTRY_VERIFY_WITH_TIMEOUT(sim->talkFrames().size() >= 20, kEventMs);
            QCOMPARE(sim->talkFrequency(), 1000);
            unit->stopTalk();
            microphone.stopCapture();

            // The device goes away: the loss reaches both slots and empties both buffers.
            sim->stop();
            QTRY_VERIFY_WITH_TIMEOUT(!unit->isStarted(), kEventMs);
            QCOMPARE(unit->getMainFrameBuffer()->frameCount(), 0);
            QCOMPARE(unit->getSubFrameBuffer()->frameCount(), 0);
        }
        QCOMPARE(g_p2pStreams[0].load(), nullptr);
        QCOMPARE(p2p::stats().sessions, 0);
        p2p::Registry::clear();
    }
};

QTEST_GUILESS_MAIN(TestStreamUnit)
#include "tst_streamunit.moc"
