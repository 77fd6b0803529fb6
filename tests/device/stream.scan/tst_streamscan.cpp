#include <QtTest>

#include "../common/frames.h"
#include "device/streamclock.h"
#include "device/streamparser.h"
#include "tests/support/driftingcamera.h"
#include "tests/support/soundbeside.h"

using frames::Recorder;

namespace {

constexpr qint64 kDay = 86400000;

struct Fixture
{
    Recorder rec;
    int64_t now = 36000000; // 10:00:00
    QVector<int> progress;
    int transComplete = 0;
    StreamFrameParser parser{&Recorder::callback, &rec, [this] { return now; }};
    QByteArray pending;

    Fixture()
    {
        parser.onProgress = [this](int s) { progress.append(s); };
        parser.onTransComplete = [this] { ++transComplete; };
    }
    // Appends bytes as one receive and scans like the client does.
    int feed(const QByteArray &bytes)
    {
        pending += bytes;
        const int done = parser.scan(reinterpret_cast<const unsigned char *>(pending.constData()), pending.size());
        pending.remove(0, done);
        return done;
    }
};

} // namespace

class TestStreamScan : public QObject
{
    Q_OBJECT
private slots:
    void secondFrameIncompleteStaysAtFront()
    {
        Fixture f;
        const QByteArray a = frames::frame(1, frames::pattern(100, 1), 1000);
        const QByteArray b = frames::frame(2, frames::pattern(300, 2), 1040);
        QCOMPARE(f.feed(a + b.left(150)), a.size());
        QCOMPARE(f.rec.items.size(), 1);
        QCOMPARE(f.rec.items[0].data, frames::pattern(100, 1));
        QCOMPARE(f.rec.items[0].subkind, 1);
        QCOMPARE(f.pending, b.left(150));
        f.feed(b.mid(150));
        QCOMPARE(f.rec.items.size(), 2);
        QCOMPARE(f.rec.items[1].data, frames::pattern(300, 2));
        QVERIFY(f.pending.isEmpty());
    }

    void tooFewBytesWait()
    {
        Fixture f;
        QCOMPARE(f.feed(frames::head(1, 1, 0, 0)), 0);
        QCOMPARE(f.feed("x"), 25);
        QCOMPARE(f.rec.items.size(), 1);
    }

    void answerTextAndGarbageSkipped()
    {
        Fixture f;
        QByteArray bytes = "HTTP/1.0 200 OK\r\n\r\n";
        bytes += frames::frame(10, frames::info(640, 360, 8000, 0), 0);
        bytes += "\x23\x07\x15garbage\x23\x07";
        bytes += frames::frame(1, frames::pattern(64, 3), 5000);
        f.feed(bytes);
        QCOMPARE(f.rec.items.size(), 2);
        QCOMPARE(f.rec.items[0].kind, 106);
        QCOMPARE(f.rec.items[0].ts, qint64(-1));
        QCOMPARE(f.rec.items[1].data, frames::pattern(64, 3));
        QVERIFY(f.pending.isEmpty());
    }

    void falseHeadersResynchronise_data()
    {
        QTest::addColumn<qint64>("length");
        QTest::newRow("zero") << qint64(0);
        QTest::newRow("minus one") << qint64(-1);
        QTest::newRow("int max") << qint64(0x7FFFFFFF);
        QTest::newRow("beyond the buffer") << qint64(4194281);
    }
    void falseHeadersResynchronise()
    {
        QFETCH(qint64, length);
        Fixture f;
        QByteArray bytes = frames::frame(1, frames::pattern(50, 1), 1000);
        bytes += frames::head(2, int32_t(length), 0, 1020);
        bytes += frames::frame(2, frames::pattern(60, 2), 1040);
        bytes += frames::frame(2, frames::pattern(70, 3), 1080);
        f.feed(bytes);
        QCOMPARE(f.rec.items.size(), 3);
        QCOMPARE(f.rec.items[1].data, frames::pattern(60, 2));
        QCOMPARE(f.rec.items[2].data, frames::pattern(70, 3));
        QVERIFY(f.pending.isEmpty());
    }

    void shortFrameLosesOnlyWhatItSwallows()
    {
        // A header announcing 5,000 bytes followed by only 100: the frames its
        // length swallows are lost, then the stream flows again.
        Fixture f;
        QByteArray bytes = frames::frame(1, frames::pattern(200, 1), 1000);
        bytes += frames::head(2, 5000, 0, 1040) + frames::pattern(100, 9);
        for (int i = 0; i < 40; ++i)
            bytes += frames::frame(2, frames::pattern(300, 10 + i), 1080 + uint64_t(i) * 40);
        f.feed(bytes);
        const auto video = f.rec.ofKind(109);
        // 5,000 bytes swallow the first 16 frames of 324 bytes after the cut.
        QVERIFY(video.size() >= 40 + 1 - 17);
        QCOMPARE(video.first().data, frames::pattern(200, 1));
        QCOMPARE(video.last().data, frames::pattern(300, 49));
    }

    void streamInformationLength()
    {
        Fixture f;
        f.feed(frames::frame(10, frames::info(640, 360, 48000, 4).left(12), 0));
        QCOMPARE(f.rec.items.size(), 0);
        QCOMPARE(f.transComplete, 0);
        QCOMPARE(f.parser.audioSampleRate(), 0);
        QCOMPARE(f.parser.audioCodec(), -1);
        QVERIFY(f.pending.isEmpty());

        f.feed(frames::frame(10, frames::info(1920, 1080, 48000, 4, 1, 25, true, 20), 0));
        QCOMPARE(f.rec.items.size(), 1);
        QCOMPARE(f.rec.items[0].data.size(), 20);
        QCOMPARE(f.rec.items[0].data, frames::info(1920, 1080, 48000, 4, 1));
        QCOMPARE(f.transComplete, 1);
        QCOMPARE(f.parser.audioSampleRate(), 48000);
        QCOMPARE(f.parser.audioCodec(), 4);
    }

    void videoRetiming()
    {
        Fixture f;
        f.feed(frames::frame(10, frames::info(640, 360, 8000, 0), 0));
        const uint64_t t0 = 50000000;
        f.feed(frames::frame(1, "a", t0));
        QCOMPARE(f.rec.items.last().ts, qint64(36000000));
        f.now += 40;
        f.feed(frames::frame(2, "b", t0 + 40));
        QCOMPARE(f.rec.items.last().ts, qint64(36000040));

        // Audio: the first 11 after the first video frame are dropped.
        for (int i = 0; i < 12; ++i)
            f.feed(frames::frame(3, frames::pattern(320, i), t0 + 40 + uint64_t(i)));
        QCOMPARE(f.rec.ofKind(108).size(), 1);
        QCOMPARE(f.rec.ofKind(108).last().data, frames::pattern(320, 11));
        QCOMPARE(f.rec.ofKind(108).last().ts, qint64(36000000 + 40 + 11));

        // A sender jump of more than 5 s: the frame that shows it already
        // follows the one before by the camera's spacing, and so does the next.
        f.now += 40;
        f.feed(frames::frame(2, "c", t0 + 40 + 10000));
        QCOMPARE(f.rec.items.last().ts, qint64(36000080));
        f.now += 40;
        const uint64_t t1 = t0 + 10080;
        f.feed(frames::frame(2, "d", t1));
        QCOMPARE(f.rec.items.last().ts, qint64(36000120));
        const int before = f.rec.ofKind(108).size();
        for (int i = 0; i < 12; ++i)
            f.feed(frames::frame(3, frames::pattern(320, 100 + i), t1 + uint64_t(i)));
        QCOMPARE(f.rec.ofKind(108).size(), before + 1);
        QCOMPARE(f.rec.ofKind(108).last().data, frames::pattern(320, 111));
        QCOMPARE(f.rec.ofKind(108).last().ts, qint64(36000120 + 11));

        // 5 s exactly is not a jump: the pictures follow the ones before,
        // the lag taken up only a share of their spacing at a time.
        f.now += 5000;
        const qint64 share = 40 / StreamClock::kTakeUpShare;
        f.feed(frames::frame(2, "e", t1 + 40));
        const qint64 e = f.rec.items.last().ts;
        QVERIFY2(e >= 36000160 && e <= 36000160 + share, qPrintable(QString::number(e)));
        f.feed(frames::frame(2, "f", t1 + 80));
        const qint64 g = f.rec.items.last().ts;
        QVERIFY2(g >= e + 40 && g <= e + 40 + share, qPrintable(QString::number(g)));
    }

    void localDayWrap()
    {
        Fixture f;
        f.now = 86399960;
        f.feed(frames::frame(1, "a", 1000));
        QCOMPARE(f.rec.items.last().ts, qint64(86399960));
        f.feed(frames::frame(2, "b", 1040));
        QCOMPARE(f.rec.items.last().ts, qint64(0));
        // The new day goes on at the camera's pace, the local clock a little
        // behind or not.
        f.feed(frames::frame(2, "c", 1080));
        QCOMPARE(f.rec.items.last().ts, qint64(40));
        f.now = 40;
        f.feed(frames::frame(2, "d", 1120));
        QCOMPARE(f.rec.items.last().ts, qint64(80));
    }

    // Pictures and sound 40 ms apart while the local day turns, by midnight
    // or by the clock set back 3 h just after it, with the sound a little
    // behind or ahead of the pictures. Past the first 11, every sound frame
    // comes out, none more than two steps after the last, and each on the
    // side of the turn its pictures are on.
    void soundGoesOnAcrossTheDaysTurn_data()
    {
        QTest::addColumn<qint64>("audioOffset"); // the sound's sender time after its picture's
        QTest::addColumn<qint64>("setBack");     // the local clock set back at frame 40, 0 for none
        QTest::newRow("midnight, sound behind") << qint64(-15) << qint64(0);
        QTest::newRow("midnight, sound ahead") << qint64(25) << qint64(0);
        QTest::newRow("clock set back 3 h after midnight") << qint64(25) << qint64(3 * 3600000);
    }
    void soundGoesOnAcrossTheDaysTurn()
    {
        QFETCH(qint64, audioOffset);
        QFETCH(qint64, setBack);
        constexpr int kFrames = 80;
        Fixture f;
        // Midnight falls between frames 30 and 31; a set back comes at 40,
        // in a stream that began just after midnight.
        const int64_t start = setBack ? 10 : kDay - 30 * 40 - 10;
        auto localAt = [&](int i) { return (start + 40 * i - (i >= 40 ? setBack : 0) + kDay) % kDay; };
        // The new side of the turn: after midnight, or the evening of the set back.
        auto newSide = [&](qint64 ts) { return setBack ? ts > kDay / 2 : ts < kDay / 2; };
        f.feed(frames::frame(10, frames::info(640, 360, 8000, 0), 0));
        for (int i = 0; i < kFrames; ++i) {
            f.now = localAt(i);
            const uint64_t t = 5000000 + uint64_t(i) * 40;
            f.feed(frames::frame(i % 25 ? 2 : 1, "v", t));
            f.feed(frames::frame(3, frames::pattern(320, i), uint64_t(int64_t(t) + audioOffset)));
        }
        QVector<qint64> sound;
        bool turned = false;
        for (const frames::Received &r : f.rec.items) {
            if (r.kind == 109 && newSide(r.ts))
                turned = true;
            if (r.kind != 108)
                continue;
            QVERIFY2(newSide(r.ts) == turned, qPrintable(QString("sound at %1 on the other side").arg(r.ts)));
            sound << r.ts;
        }
        QCOMPARE(sound.size(), kFrames - 11);
        for (int i = 1; i < sound.size(); ++i) {
            const qint64 back = newSide(sound[i]) && !newSide(sound[i - 1]) ? setBack : 0;
            const qint64 step = ((sound[i] - sound[i - 1] + back) % kDay + kDay) % kDay;
            QVERIFY2(step >= 0 && step <= 80, qPrintable(QString("%1 ms after %2").arg(step).arg(sound[i - 1])));
        }
    }

    // The camera's clock steps (or wraps at its own midnight), at midday and
    // just after the local midnight, or the camera runs a little fast into a
    // plain midnight: every picture stays within the day and near the local
    // clock, 40 ms after the one before, as the camera sent them.
    void picturesKeepTheirSpacing_data()
    {
        QTest::addColumn<qint64>("local");  // the local clock at the first picture
        QTest::addColumn<qint64>("sender"); // the camera's stamp of the first picture
        QTest::addColumn<QList<int>>("at"); // pictures where the camera's clock steps
        QTest::addColumn<QList<int>>("by"); // and by how much
        QTest::addColumn<int>("localStep"); // the local clock's step from picture to picture
        constexpr qint64 kNoon = 43200000;
        const qint64 lateNight = kDay - 2000; // midnight at picture 50
        QTest::newRow("+2 s at midday") << kNoon << kNoon << QList<int>{60} << QList<int>{2000} << 40;
        QTest::newRow("-2 s at midday") << kNoon << kNoon << QList<int>{60} << QList<int>{-2000} << 40;
        QTest::newRow("+60 s at midday") << kNoon << kNoon << QList<int>{60} << QList<int>{60000} << 40;
        QTest::newRow("-60 s at midday") << kNoon << kNoon << QList<int>{60} << QList<int>{-60000} << 40;
        QTest::newRow("+2 s after midnight") << lateNight << lateNight << QList<int>{75} << QList<int>{2000} << 40;
        QTest::newRow("-2 s 1.7 s after midnight")
            << lateNight << lateNight << QList<int>{93} << QList<int>{-2000} << 40;
        QTest::newRow("+60 s after midnight") << lateNight << lateNight << QList<int>{80} << QList<int>{60000} << 40;
        QTest::newRow("-60 s after midnight") << lateNight << lateNight << QList<int>{80} << QList<int>{-60000} << 40;
        QTest::newRow("wavering after midnight") << lateNight << lateNight << QList<int>{55, 60, 68, 70, 90, 97}
                                                 << QList<int>{2000, -2000, -1500, 1500, 2000, -2000} << 40;
        QTest::newRow("the camera's own midnight") << kNoon << kDay - 2000 << QList<int>{} << QList<int>{} << 40;
        QTest::newRow("plain midnight, the camera a little fast")
            << lateNight << qint64(5000000) << QList<int>{} << QList<int>{} << 39;
    }
    void picturesKeepTheirSpacing()
    {
        QFETCH(qint64, local);
        QFETCH(qint64, sender);
        QFETCH(QList<int>, at);
        QFETCH(QList<int>, by);
        QFETCH(int, localStep);
        Fixture f;
        f.feed(frames::frame(10, frames::info(640, 360, 8000, 0), 0));
        qint64 t = sender;
        for (int i = 0; i < 150; ++i) {
            f.now = (local + qint64(localStep) * i) % kDay;
            const int step = at.indexOf(i);
            if (step >= 0)
                t += by.at(step);
            f.feed(frames::frame(i % 25 ? 2 : 1, "v", uint64_t(t % kDay)));
            t += 40;
            const qint64 ts = f.rec.items.last().ts;
            QVERIFY2(ts >= 0 && ts < kDay, qPrintable(QString("picture %1 at %2").arg(i).arg(ts)));
            const qint64 off = qAbs(ts - f.now) % kDay;
            QVERIFY2(qMin(off, kDay - off) <= 5000, qPrintable(QString("picture %1 at %2").arg(i).arg(ts)));
        }
        const auto video = f.rec.ofKind(109);
        for (int i = 1; i < video.size(); ++i)
            QVERIFY2((video[i].ts - video[i - 1].ts + kDay) % kDay == 40,
                     qPrintable(QString("picture %1 at %2 after %3").arg(i).arg(video[i].ts).arg(video[i - 1].ts)));
    }

    // A camera's clock that drifts, jitters, wavers or is corrected, for
    // minutes or for more than a day: the stream's time never goes back,
    // never steps on (a jump cuts a recording; midnight is no step either)
    // and never leads the local clock by more than the stream clock allows;
    // over time it keeps the local clock's pace.
    void keepsToTheClock_data()
    {
        QTest::addColumn<qint64>("local"); // the local clock at the first picture
        QTest::addColumn<int>("pictures");
        QTest::addColumn<testsupport::DriftingCamera>("camera");
        constexpr qint64 kNoon = 43200000;
        const qint64 beforeMidnight = 23 * 3600000 + 52 * 60000 + 30000; // 23:52:30
        auto camera = [](int spacing, double rate) {
            testsupport::DriftingCamera c;
            c.spacing = spacing;
            c.rate = rate;
            return c;
        };
        auto corrected = [&](int setBack, int every) {
            testsupport::DriftingCamera c = camera(40, 1.1);
            c.setBack = setBack;
            c.setBackEvery = every;
            return c;
        };
        auto jittery = [&](int jitter) {
            testsupport::DriftingCamera c = camera(40, 1.0);
            c.jitter = jitter;
            return c;
        };
        testsupport::DriftingCamera wavering = camera(40, 1.0);
        wavering.waver = 300;
        wavering.waverEvery = 50;
        QTest::newRow("1 % fast for 10 minutes") << kNoon << 15000 << camera(40, 1.01);
        QTest::newRow("0.5 % fast across midnight") << beforeMidnight << 30000 << camera(40, 1.005);
        QTest::newRow("50 ppm fast for 30 hours") << kNoon << 108000 << camera(1000, 1.00005);
        QTest::newRow("50 ppm slow for 30 hours") << kNoon << 108000 << camera(1000, 0.99995);
        QTest::newRow("2 % slow for 10 minutes") << kNoon << 15000 << camera(40, 0.98);
        QTest::newRow("10 % fast, set back 1 s every 10 s") << kNoon << 7500 << corrected(1000, 250);
        QTest::newRow("10 % fast, set back 2 s every 20 s") << kNoon << 7500 << corrected(2000, 500);
        QTest::newRow("jitter 30 ms") << kNoon << 2250 << jittery(30);
        QTest::newRow("jitter 100 ms") << kNoon << 2250 << jittery(100);
        QTest::newRow("jitter 100 ms across midnight") << kDay - 30000 << 2250 << jittery(100);
        QTest::newRow("wavering 0.3 s") << kNoon << 2250 << wavering;
    }
    void keepsToTheClock()
    {
        QFETCH(qint64, local);
        QFETCH(int, pictures);
        QFETCH(testsupport::DriftingCamera, camera);
        struct Stamps
        {
            qint64 last = -1;
            int count = 0;
            static void take(const unsigned char *, int, int kind, int, qint64 ts, void *user)
            {
                auto *s = static_cast<Stamps *>(user);
                if (kind == 109) {
                    s->last = ts;
                    ++s->count;
                }
            }
        } stamps;
        int64_t now = local;
        StreamFrameParser parser(&Stamps::take, &stamps, [&now] { return now; });
        qint64 previous = -1;
        qint64 worstLead = 0;
        qint64 worstLag = 0;
        for (int i = 0; i < pictures; ++i) {
            now = (local + qint64(camera.spacing) * i) % kDay;
            const QByteArray bytes = frames::frame(i % 25 ? 2 : 1, "v", uint64_t(camera.stamp(i)));
            QCOMPARE(parser.scan(reinterpret_cast<const unsigned char *>(bytes.constData()), bytes.size()),
                     bytes.size());
            QCOMPARE(stamps.count, i + 1);
            const qint64 ts = stamps.last;
            QVERIFY2(ts >= 0 && ts < kDay, qPrintable(QString("picture %1 at %2").arg(i).arg(ts)));
            const qint64 lead = StreamClock::lead(ts, now);
            worstLead = qMax(worstLead, lead);
            worstLag = qMin(worstLag, lead);
            QVERIFY2(lead <= StreamClock::kMaxLeadMs,
                     qPrintable(QString("picture %1 at %2, %3 ms ahead").arg(i).arg(ts).arg(lead)));
            if (previous >= 0) {
                const qint64 step = StreamClock::lead(ts, previous);
                QVERIFY2(step >= 0 && step <= camera.spacing + StreamClock::kCameraStepMs,
                         qPrintable(QString("picture %1 at %2 after %3").arg(i).arg(ts).arg(previous)));
            }
            previous = ts;
        }
        qInfo() << "lead at most" << worstLead << "ms, lag at most" << -worstLag << "ms";
        // The pace of the local clock: only a lag within its bound is left.
        QVERIFY2(-StreamClock::lead(previous, now) <= StreamClock::kMaxLagMs + camera.spacing,
                 qPrintable(QString("the last picture %1 ms behind").arg(-StreamClock::lead(previous, now))));
    }

    // A camera's clock set back a little now and then, or jittering: its
    // sound keeps to the time its pictures were given, each sound frame near
    // the picture before it and none going back, past the first 11 that
    // settle.
    void soundKeepsToItsPictures_data() { testsupport::addSoundCameraRows(); }
    void soundKeepsToItsPictures()
    {
        QFETCH(int, pictures);
        QFETCH(testsupport::DriftingCamera, camera);
        Fixture f;
        f.feed(frames::frame(10, frames::info(640, 360, 8000, 0), 0));
        for (int i = 0; i < pictures; ++i) {
            f.now = 43200000 + qint64(camera.spacing) * i;
            f.feed(frames::frame(i % 25 ? 2 : 1, "v", uint64_t(camera.stamp(i))) +
                   frames::frame(3, frames::pattern(320, i), uint64_t(camera.stampAfter(i, 20))));
        }
        testsupport::SoundBeside beside;
        for (const frames::Received &r : f.rec.items)
            beside.take(r.kind, r.ts);
        qInfo() << "sound at most" << beside.worst << "ms off its picture";
        QCOMPARE(beside.sounds, pictures - 11);
        QVERIFY2(beside.faults.isEmpty(), qPrintable(beside.faults));
    }

    // A camera's clock that steps (shown first on a picture or on a sound
    // frame), is set back at a low frame rate, jitters or is hostile: each
    // sound frame lies near its place beside the picture before it, and none
    // goes back.
    void soundKeepsToItsPlace_data() { testsupport::addSoundStepRows(); }
    void soundKeepsToItsPlace()
    {
        QFETCH(testsupport::SoundCamera, camera);
        Fixture f;
        f.feed(frames::frame(10, frames::info(640, 360, 8000, 0), 0));
        const auto sent = camera.send(false);
        for (int i = 0; i < sent.size(); ++i) {
            f.now = 43200000 + sent[i].at;
            f.feed(
                frames::frame(sent[i].picture ? (i ? 2 : 1) : 3, testsupport::indexBytes(i), uint64_t(sent[i].stamp)));
        }
        testsupport::SoundPlace place(sent, camera);
        for (const frames::Received &r : f.rec.items)
            place.take(r.kind, r.ts, testsupport::indexOf(r.data));
        qInfo() << "sound at most" << place.worst << "ms off its place";
        QVERIFY(place.sounds > 0);
        QVERIFY2(place.faults.isEmpty(), qPrintable(place.faults));
    }

    // A camera a little ahead of the local clock whose connection is made
    // anew: the new connection's pictures go on after the last one of the
    // one before, on the stream's own picture clock, never back to the
    // local clock.
    void aNewConnectionGoesOn()
    {
        Recorder rec;
        int64_t now = 43200000;
        PictureClock pictures;
        qint64 last = -1;
        for (int connection = 0; connection < 3; ++connection) {
            StreamFrameParser parser(
                &Recorder::callback, &rec, [&now] { return now; }, &pictures);
            for (int i = 0; i < 50; ++i) {
                now += 40;
                // 0.8 s ahead since the first connection.
                const QByteArray bytes = frames::frame(i ? 2 : 1, "v", uint64_t(now + (connection || i ? 800 : 0)));
                parser.scan(reinterpret_cast<const unsigned char *>(bytes.constData()), bytes.size());
                const qint64 ts = rec.items.last().ts;
                QVERIFY2(
                    ts >= last,
                    qPrintable(
                        QString("connection %1, picture %2 at %3 after %4").arg(connection).arg(i).arg(ts).arg(last)));
                last = ts;
            }
            // The client gave up for a moment.
            now += 500;
        }
    }

    // Sound stamped past midnight waits for the picture that passes it, and
    // none is lost: pictures 2 s apart, or sound 3 s ahead of them.
    void soundHeldAtMidnightIsKept_data()
    {
        QTest::addColumn<int>("pictureStep");
        QTest::addColumn<int>("ahead");
        QTest::newRow("0.5 fps") << 2000 << 0;
        QTest::newRow("sound 3 s ahead") << 40 << 3000;
        QTest::newRow("0.5 fps, sound 3 s ahead") << 2000 << 3000;
    }
    void soundHeldAtMidnightIsKept()
    {
        QFETCH(int, pictureStep);
        QFETCH(int, ahead);
        Fixture f;
        f.feed(frames::frame(10, frames::info(640, 360, 8000, 0), 0));
        const qint64 start = kDay - 10000 - 10; // midnight between two pictures
        const int steps = 500;                  // of 40 ms
        int sound = 0;
        for (int i = 0; i < steps; ++i) {
            const qint64 t = start + 40 * i;
            f.now = t % kDay;
            if (i % (pictureStep / 40) == 0)
                f.feed(frames::frame(i ? 2 : 1, "v", uint64_t(t)));
            if (i * 40 >= pictureStep) {
                f.feed(frames::frame(3, frames::pattern(320, sound), uint64_t(t + ahead)));
                ++sound;
            }
        }
        const auto audio = f.rec.ofKind(108);
        QCOMPARE(f.parser.droppedHeldAudio(), uint64_t(0));
        // The first 11 settle; the last ones may wait for a picture still.
        QVERIFY2(audio.size() >= sound - 11 - (ahead + pictureStep) / 40,
                 qPrintable(QString("%1 of %2").arg(audio.size()).arg(sound)));
        for (int i = 0; i < audio.size(); ++i)
            QCOMPARE(audio[i].data, frames::pattern(320, 11 + i));
        for (int i = 1; i < audio.size(); ++i)
            QVERIFY2((audio[i].ts - audio[i - 1].ts + kDay) % kDay == 40,
                     qPrintable(QString("%1 after %2").arg(audio[i].ts).arg(audio[i - 1].ts)));
    }

    // Large sound frames held at midnight: the hold keeps to its bytes, the
    // oldest going first, each one counted.
    void heldSoundIsBoundedInBytes()
    {
        Fixture f;
        f.feed(frames::frame(10, frames::info(640, 360, 8000, 0), 0));
        f.now = kDay - 1000;
        f.feed(frames::frame(1, "v", 1000000));
        for (int i = 0; i < 12; ++i)
            f.feed(frames::frame(3, frames::pattern(320, i), 1000000 + 40 * uint64_t(i)));
        QCOMPARE(f.rec.ofKind(108).size(), 1);
        // The local clock passes midnight as the sound is made; the pictures
        // lag behind.
        const int big = 300 * 1024;
        for (int i = 0; i < 5; ++i) {
            f.now = 40 * i;
            f.feed(frames::frame(3, frames::pattern(big, 100 + i), 1001000 + 40 * uint64_t(i)));
        }
        // One too big to be held at all.
        f.now = 200;
        f.feed(frames::frame(3, frames::pattern(2 << 20, 200), 1001200));
        QCOMPARE(f.rec.ofKind(108).size(), 1);
        QCOMPARE(f.parser.droppedHeldAudio(), uint64_t(3));
        f.now = 300;
        f.feed(frames::frame(2, "v", 1001300));
        const auto audio = f.rec.ofKind(108);
        QCOMPARE(audio.size(), 4);
        for (int i = 1; i < 4; ++i)
            QCOMPARE(audio[i].data, frames::pattern(big, 101 + i));
        QCOMPARE(f.parser.droppedHeldAudio(), uint64_t(3));
    }

    void progressFollowsSenderDay()
    {
        Fixture f;
        f.feed(frames::frame(1, "a", 86399500));
        f.feed(frames::frame(2, "b", 86399900));
        f.feed(frames::frame(2, "c", 86400400));
        f.feed(frames::frame(2, "d", 86401400));
        QCOMPARE(f.progress, (QVector<int>{86399, 0, 1}));
    }

    void audioBeforeVideoDropped()
    {
        Fixture f;
        f.feed(frames::frame(10, frames::info(640, 360, 8000, 0), 0));
        for (int i = 0; i < 30; ++i)
            f.feed(frames::frame(3, frames::pattern(320, i), 1000 + uint64_t(i) * 40));
        QCOMPARE(f.rec.ofKind(108).size(), 0);
    }

    void pcm48kAccumulates()
    {
        Fixture f;
        f.feed(frames::frame(10, frames::info(640, 360, 48000, 4), 0));
        f.feed(frames::frame(1, "v", 10000));
        QByteArray all;
        for (int i = 0; i < 40; ++i) {
            const QByteArray p = frames::pattern(480, i);
            all += p;
            f.feed(frames::frame(3, p, 10000 + uint64_t(i) * 5));
        }
        const auto audio = f.rec.ofKind(108);
        // 20 chunks of two frames; the first 7 are dropped.
        QCOMPARE(audio.size(), 13);
        for (int i = 0; i < audio.size(); ++i) {
            QVERIFY(audio[i].data.size() >= 940 && audio[i].data.size() <= 4096);
            const int chunk = 7 + i;
            QCOMPARE(audio[i].data, all.mid(chunk * 960, 960));
            QCOMPARE(audio[i].ts, qint64(36000000 + chunk * 10));
        }
        // A frame that overflows the accumulator empties it and is dropped.
        f.feed(frames::frame(3, frames::pattern(900, 1), 20000));
        f.feed(frames::frame(3, frames::pattern(3500, 2), 20005));
        f.feed(frames::frame(3, frames::pattern(960, 3), 20010));
        QCOMPARE(f.rec.ofKind(108).last().data, frames::pattern(960, 3));
    }

    void aac48kDirect()
    {
        Fixture f;
        f.feed(frames::frame(10, frames::info(640, 360, 48000, 2), 0));
        f.feed(frames::frame(1, "v", 10000));
        for (int i = 0; i < 13; ++i)
            f.feed(frames::frame(3, frames::pattern(371, i), 10000 + uint64_t(i) * 21));
        const auto audio = f.rec.ofKind(108);
        QCOMPARE(audio.size(), 2);
        QCOMPARE(audio[0].data, frames::pattern(371, 11));
    }

    void extremeSenderTimes()
    {
        // Found by the fuzzer: sums of hostile timestamps must not overflow.
        Fixture f;
        f.feed(frames::frame(10, frames::info(640, 360, 48000, 4), 0));
        for (uint64_t t : {uint64_t(0), ~uint64_t(0), uint64_t(1) << 63, (uint64_t(1) << 63) - 1, uint64_t(5)}) {
            f.feed(frames::frame(2, "v", t));
            for (int i = 0; i < 3; ++i)
                f.feed(frames::frame(3, frames::pattern(480, i), t + uint64_t(i)));
        }
        QCOMPARE(f.rec.ofKind(109).size(), 5);
    }

    void noCallbackHandlesNothing()
    {
        StreamFrameParser parser(nullptr, nullptr, [] { return int64_t(0); });
        int trans = 0;
        parser.onTransComplete = [&] { ++trans; };
        const QByteArray bytes = frames::frame(10, frames::info(1, 1, 8000, 0), 0) + frames::frame(1, "x", 1);
        QCOMPARE(parser.scan(reinterpret_cast<const unsigned char *>(bytes.constData()), bytes.size()), bytes.size());
        QCOMPARE(trans, 0);
    }
};

QTEST_GUILESS_MAIN(TestStreamScan)
#include "tst_streamscan.moc"
