#include "media/codecids.h"
#include "media/qcrecordfile.h"
#include "media/recordindex.h"
#include "media/recordnames.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

namespace {

constexpr int kMulaw = 0x10006;

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

QByteArray payload(int n, char seed)
{
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = char(seed + i);
    return b;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// A manual main-stream writer, H.264 1280x720 at 25 fps, mu-law 8000 Hz mono.
bool makeWriter(qcRecordFile &w, const QString &path, bool audio = true)
{
    return w.create(QFileInfo(path).path(), path) &&
           w.setVideoParams(media::codecids::kVideoH264, 1280, 720, 0, 28, 25, 0) &&
           (!audio || w.setAudioParams(kMulaw, 8000, 1));
}

void appendKf(const QString &folder, uint64_t ts, uint64_t offset)
{
    _st_kfindex_item k;
    k.timestamp = ts;
    k.offset = offset;
    QVERIFY(recordindex::appendToFile(folder, recordindex::kfindexPath(folder), k.toBytes()));
}

} // namespace

class TestRecordFile : public QObject
{
    Q_OBJECT

private slots:
    void goldenBytes()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("RECV1_MANUAL_192-168-1-10_08-03-20-123_.zmf");
        qcRecordFile w(qcRecordFile::kWriter);
        QVERIFY(makeWriter(w, path));
        QCOMPARE(w.writeOffset(), 64);
        QVERIFY(w.writeVideoFrame(payload(1000, 7).constData(), 1000, qcRecordFile::kCodeKey, 29000123));
        QVERIFY(w.flush());
        const QByteArray file = readAll(path);
        QCOMPARE(file.size(), 64 + 24 + 1000);
        QCOMPARE(file.left(8), hex("05 11 15 20 00 04 00 03"));
        QCOMPARE(file.mid(8, 8), QByteArray(8, '\0'));
        QCOMPARE(file.mid(16, 24), hex("00000000 00050000 d0020000 00000000 401f0000 01000000"));
        QCOMPARE(file.mid(40, 24), hex("19 00") + QByteArray(22, '\0'));
        QCOMPARE(file.mid(64, 24), hex("10111501 e8030000 bb81ba0100000000") + QByteArray(8, '\0'));
        QCOMPARE(file.mid(88), payload(1000, 7));

        _st_kfindex_item k;
        k.timestamp = 29000123;
        k.offset = 64;
        QCOMPARE(k.toBytes(), hex("ee1aace6 00000000 bb81ba0100000000 4000000000000000") + QByteArray(8, '\0'));

        _st_reclist_item r;
        r.start = 29000123;
        r.end = 30800456;
        r.name = "RECV1_MANUAL_192-168-1-10_08-03-20-123_08-33-20-456.zmf";
        r.kindFlags = recordnames::reclistKindFlags(28);
        r.hasAudio = 1;
        r.kfindexOffset = 0x120;
        r.frameRate = 25;
        r.kfindexCount = 3;
        r.payloadBytes = 0x123456789;
        const QByteArray b = r.toBytes();
        QCOMPARE(b.size(), 136);
        QCOMPARE(b.left(12), hex("ff1aace6 bb81ba01 48fad501"));
        QCOMPARE(b.mid(12, 64), recordnames::nameField(r.name));
        QVERIFY(b.mid(12, 64).startsWith(r.name.toLatin1() + '\0'));
        QCOMPARE(b.mid(76, 24), hex("00000040 01000000 20010000 0119000000000000 03000000"));
        QCOMPARE(b.mid(100, 36), hex("00000000 8967452301000000") + QByteArray(24, '\0'));
        _st_reclist_item back;
        QVERIFY(_st_reclist_item::fromBytes(b.constData(), &back));
        QCOMPARE(back.name, r.name);
        QCOMPARE(back.payloadBytes, r.payloadBytes);
        QCOMPARE(back.kfindexOffset, r.kfindexOffset);
    }

    void roundTripAndReaderRules()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("rec.zmf");
        {
            qcRecordFile w(qcRecordFile::kWriter);
            QVERIFY(makeWriter(w, path));
            QVERIFY(!qcRecordFile(qcRecordFile::kWriter).create(dir.path(), path)); // exists
            QVERIFY(!w.writeVideoFrame("x", 1, qcRecordFile::kCodeAudio, 1));
            uint64_t ts = 1000;
            for (int i = 0; i < 40; ++i, ts += 40) {
                const int code = i % 10 == 0 ? qcRecordFile::kCodeKey
                                             : (i % 2 ? qcRecordFile::kCodeType2 : qcRecordFile::kCodeType3);
                const qint64 at = w.writeOffset();
                QVERIFY(w.writeVideoFrame(payload(100 + i, char(i)).constData(), 100 + i, code, ts));
                // Only every other key frame is indexed, as a recorder spaces them.
                if (code == qcRecordFile::kCodeKey && i % 20 == 0)
                    appendKf(dir.path(), ts, uint64_t(at));
                QVERIFY(w.writeAudioFrame(payload(160, 'a').constData(), 160, ts + 5));
            }
            QVERIFY(w.flush());
            QVERIFY(!w.flush());
        }
        QVERIFY(qcRecordFile(-7).mode() == -1);
        QVERIFY(!qcRecordFile(-7).create(dir.path(), dir.filePath("x.zmf")));

        qcRecordFile r(qcRecordFile::kReader);
        QVERIFY(r.open(path));
        RecordMediaInfo info;
        quint8 decoder = 9;
        QVERIFY(r.getMediaInfo(&info, &decoder));
        QCOMPARE((QList<int>{info.videoCodec, info.width, info.audioCodec, info.channels, decoder}),
                 (QList<int>{28, 1280, kMulaw, 1, 0}));
        QVERIFY(r.keyFramesFromIndex());
        QCOMPARE(r.keyFrames().size(), 2);

        QByteArray buf(4096, '\0');
        int code = 0, length = 0;
        uint64_t ts = 0;
        QList<int> codes;
        // Too small: fails and stays at the frame; a bigger buffer then reads it.
        QVERIFY(!r.readFrame(buf.data(), 10, &code, &ts, &length));
        QCOMPARE(r.readOffset(), 64);
        while (r.readFrame(buf.data(), buf.size(), &code, &ts, &length))
            codes << code;
        QCOMPARE(codes.size(), 80);
        QCOMPARE(codes.mid(0, 4), (QList<int>{59, 58, 61, 58}));
        QCOMPARE(codes.at(2 * 10), 59);
        QVERIFY(codes.contains(60));

        QVERIFY(r.seekTime(1001));
        QVERIFY(r.readFrame(buf.data(), buf.size(), &code, &ts, &length));
        QCOMPARE(code, 59);
        QCOMPARE(ts, uint64_t(1000 + 20 * 40));
        QCOMPARE(buf.left(length), payload(120, 20));
        QVERIFY(!r.seekTime(5000));
        QVERIFY(r.close());

        // Without the index the scan finds every key frame.
        QVERIFY(QFile::remove(recordindex::kfindexPath(dir.path())));
        qcRecordFile s(qcRecordFile::kReader);
        QVERIFY(s.open(path));
        QVERIFY(!s.keyFramesFromIndex());
        QCOMPARE(s.keyFrames().size(), 4);
        QVERIFY(s.seekTime(1001));
        QVERIFY(s.readFrame(buf.data(), buf.size(), &code, &ts, &length));
        QCOMPARE(ts, uint64_t(1000 + 10 * 40));
    }

    void emptyAndAudiolessFiles()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("noaudio.zmf");
        qcRecordFile w(qcRecordFile::kWriter);
        QVERIFY(makeWriter(w, path, false));
        QVERIFY(!w.setAudioParams(12345, 8000, 1));
        QCOMPARE(w.writeOffset(), 64);
        QCOMPARE(QFileInfo(path).size(), 0);
        QVERIFY(w.writeVideoFrame("k", 1, qcRecordFile::kCodeKey, 5));
        QCOMPARE(w.writeOffset(), 64 + 25);
        QVERIFY(w.flush());
        qcRecordFile r(qcRecordFile::kReader);
        QVERIFY(r.open(path));
        RecordMediaInfo info;
        QVERIFY(r.getMediaInfo(&info, nullptr));
        // Zeros in the audio fields must not read as mu-law.
        QCOMPARE(info.audioCodec, -1);
    }

    void indexWalksPastJunkAndRanges()
    {
        QTemporaryDir dir;
        appendKf(dir.path(), 100, 64);
        QVERIFY(recordindex::appendToFile(dir.path(), recordindex::kfindexPath(dir.path()), "junk\xee\x1a"));
        appendKf(dir.path(), 900, 500);
        appendKf(dir.path(), 1900, 900);
        bool torn = true;
        auto all = recordindex::readKfindex(dir.path(), &torn);
        QCOMPARE(all.size(), 3);
        QVERIFY(!torn);
        QCOMPARE(all.at(1).item.offset, uint64_t(500));
        QVERIFY(recordindex::appendToFile(dir.path(), recordindex::kfindexPath(dir.path()),
                                          QByteArray("\xee\x1a\xac\xe6xx")));
        recordindex::readKfindex(dir.path(), &torn);
        QVERIFY(torn);

        _st_reclist_item item;
        item.name = "a.zmf";
        QVERIFY(recordindex::appendToFile(dir.path(), recordindex::reclistPath(dir.path()), item.toBytes() + "tail"));
        QCOMPARE(recordindex::readReclist(dir.path(), &torn).size(), 1);
        QVERIFY(torn);
    }

    void timeOfDayAndNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("start");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("unfinished");
        QTest::newRow("finished") << "RECV1_MANUAL_192-168-1-10_08-03-20-123_08-33-20-456.zmf" << 29000123 << true
                                  << false;
        QTest::newRow("end = start") << "RECV1_TIMING_a_08-03-20-123_08-03-20-123.zmf" << 29000123 << true << false;
        QTest::newRow("end < start") << "RECV1_ALARM_a_08-03-20-123_08-03-20-122.zmf" << 29000123 << false << false;
        QTest::newRow("one-digit hour") << "RECV1_ALARM_a_8-03-20-123_08-03-20-124.zmf" << -1 << false << false;
        QTest::newRow("two-digit ms") << "RECV1_ALARM_a_08-03-20-12_08-03-20-124.zmf" << -1 << false << false;
        QTest::newRow("p2p with _") << "RECV1_ALARM_AB_CD_08-03-20-123_08-03-20-124.zmf" << -1 << false << false;
        QTest::newRow("unfinished") << "RECV1_TIMING_127-0-0-2_23-59-59-999_.zmf" << 86399999 << false << true;
        QTest::newRow("initial") << "RECV1_TIMING_127-0-0-2_.zmf" << -1 << false << false;
        QTest::newRow("other kind") << "RECV1_OTHER_a_08-03-20-123_08-03-20-124.zmf" << -1 << false << false;
    }
    void timeOfDayAndNames()
    {
        QFETCH(QString, name);
        QFETCH(int, start);
        QFETCH(bool, valid);
        QFETCH(bool, unfinished);
        QCOMPARE(recordnames::parseName(name).start, start);
        QCOMPARE(recordnames::isValidRecordName(name), valid);
        QCOMPARE(recordnames::isUnfinishedRecordName(name), unfinished);
    }

    void nameLifeCycle()
    {
        QCOMPARE(recordnames::parseTimeOfDay("08-03-20-123"), 29000123);
        QCOMPARE(recordnames::initialName("192.168.1.10", 28), QString("RECV1_MANUAL_192-168-1-10_.zmf"));
        QCOMPARE(recordnames::initialName("ABCD1234EFGH5678", 27), QString("RECV1_ALARM_ABCD1234EFGH5678_.zmf"));
        QCOMPARE(recordnames::initialName("1.2.3.4", 29), QString());
        const QString s = recordnames::startName("/r/1.2.3.4/RECV1_MANUAL_1-2-3-4_.zmf", 29000123);
        QCOMPARE(s, QString("/r/1.2.3.4/RECV1_MANUAL_1-2-3-4_08-03-20-123_.zmf"));
        QCOMPARE(recordnames::finalName(s, 30800456),
                 QString("/r/1.2.3.4/RECV1_MANUAL_1-2-3-4_08-03-20-123_08-33-20-456.zmf"));
        // 64 bytes do not fit with their terminator.
        const QString longName = QString(64 - 4, 'x') + ".zmf";
        QCOMPARE(recordnames::nameField(longName), QByteArray(64, '\0'));
        QVERIFY(recordnames::nameField(longName.mid(1)).startsWith(longName.mid(1).toLatin1()));
        _st_reclist_item item;
        item.name = longName;
        _st_reclist_item back;
        QVERIFY(_st_reclist_item::fromBytes(item.toBytes().constData(), &back));
        QVERIFY(back.name.isEmpty());
    }

    // A disk that refuses more bytes: the file still ends at a whole record.
    void shortWritesAreCutBack()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("limited.zmf");
        const pid_t child = fork();
        if (child == 0) {
            rlimit lim{5000, 5000};
            ::setrlimit(RLIMIT_FSIZE, &lim);
            ::signal(SIGXFSZ, SIG_IGN);
            qcRecordFile w(qcRecordFile::kWriter);
            if (!makeWriter(w, path))
                _exit(3);
            int written = 0;
            while (w.writeVideoFrame(payload(700, 1).constData(), 700, qcRecordFile::kCodeKey, 1000 + written))
                ++written;
            const bool efbig = w.lastWriteError() == EFBIG;
            // Further frames are refused the same way, and nothing torn stays.
            w.writeVideoFrame(payload(10, 1).constData(), 10, qcRecordFile::kCodeKey, 1);
            w.flush();
            _exit(written == 6 && efbig ? 0 : 4);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
        const RecordScan s = recordio::scan(path);
        QVERIFY(s.readable);
        QCOMPARE(s.records.size(), 7); // 64 + 7 * 724 < 5000: the 10-byte frame fits
        QVERIFY(!s.tornTail);
        QCOMPARE(s.wholeEnd, s.fileSize);
    }

    void offsetsBeyondFourGiB()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("big.zmf");
        qcRecordFile w(qcRecordFile::kWriter);
        QVERIFY(makeWriter(w, path));
        QVERIFY(w.writeVideoFrame("a", 1, qcRecordFile::kCodeType2, 10));
        const qint64 far = 5LL << 30;
        if (!w.skipTo(far))
            QSKIP("no sparse files here");
        QCOMPARE(w.writeOffset(), far);
        QVERIFY(w.writeVideoFrame(payload(50, 3).constData(), 50, qcRecordFile::kCodeKey, 4000));
        QVERIFY(w.flush());
        appendKf(dir.path(), 4000, uint64_t(far));
        const QByteArray kf = readAll(recordindex::kfindexPath(dir.path()));
        QCOMPARE(recbytes::get64(kf.constData() + 16), uint64_t(far));

        qcRecordFile r(qcRecordFile::kReader);
        QVERIFY(r.open(path));
        QVERIFY(r.seekTime(1));
        QCOMPARE(r.readOffset(), far);
        QByteArray buf(100, '\0');
        int code = 0, length = 0;
        uint64_t ts = 0;
        QVERIFY(r.readFrame(buf.data(), buf.size(), &code, &ts, &length));
        QCOMPARE(ts, uint64_t(4000));
        QCOMPARE(buf.left(length), payload(50, 3));
    }

    void badFilesFailCleanly()
    {
        QTemporaryDir dir;
        auto write = [&](const QString &name, const QByteArray &bytes) {
            QFile f(dir.filePath(name));
            f.open(QIODevice::WriteOnly);
            f.write(bytes);
            return dir.filePath(name);
        };
        QByteArray random(4096, '\0');
        for (char &c : random)
            c = char(QRandomGenerator::global()->generate());
        for (const QString &path : {write("random.zmf", random), write("short.zmf", "abc")}) {
            qcRecordFile r(qcRecordFile::kReader);
            QVERIFY(!r.open(path));
            QVERIFY(!recordio::scan(path).readable);
        }
        // A good file whose last record is cut short, and one with a bad tag inside.
        const QString good = dir.filePath("good.zmf");
        {
            qcRecordFile w(qcRecordFile::kWriter);
            QVERIFY(makeWriter(w, good));
            for (int i = 0; i < 3; ++i)
                QVERIFY(w.writeVideoFrame(payload(100, 1).constData(), 100, qcRecordFile::kCodeKey, 100 * i));
        }
        const QByteArray bytes = readAll(good);
        const QString torn = write("torn.zmf", bytes.left(bytes.size() - 30));
        RecordScan s = recordio::scan(torn);
        QVERIFY(s.tornTail);
        QCOMPARE(s.records.size(), 2);
        QByteArray bad = bytes;
        bad[64 + 124] = 'Z';
        s = recordio::scan(write("bad.zmf", bad));
        QVERIFY(s.badRecord);
        QCOMPARE(s.records.size(), 1);

        qcRecordFile r(qcRecordFile::kReader);
        QVERIFY(r.open(torn));
        QByteArray buf(200, '\0');
        int code = 0, length = 0, n = 0;
        uint64_t ts = 0;
        while (r.readFrame(buf.data(), buf.size(), &code, &ts, &length))
            ++n;
        QCOMPARE(n, 2);
        QVERIFY(QFileInfo::exists(torn));
    }
};

QTEST_GUILESS_MAIN(TestRecordFile)
#include "tst_recordfile.moc"
