#include "media/qcdiskmanager.h"
#include "media/qcrecordfile.h"
#include "media/recordfileguard.h"
#include "media/recordindex.h"
#include "media/recordlog.h"
#include "media/recordnames.h"
#include "platform/clock.h"
#include "tests/support/filebytes.h"
#include "tests/support/seconddisk.h"
#include "tests/support/systemlog.h"

#include <QDir>
#include <QDirIterator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr qint64 kGiB = qint64(1) << 30;

struct Tree
{
    QTemporaryDir dir;
    QString root = dir.filePath("RecordFile");
    Tree() { QDir().mkpath(root); }
    // The recordings under a folder of the caller's.
    explicit Tree(const QString &at) : root(at) {}
    QString folder(const QString &rel) const
    {
        QDir().mkpath(root + '/' + rel);
        return root + '/' + rel;
    }
    // A recording of `size` bytes (sparse), listed in its folder's reclist.
    QString file(const QString &rel, const QString &name, qint64 size = 1000, int ageSecs = 0, bool listed = true)
    {
        const QString f = folder(rel);
        QFile file(f + '/' + name);
        file.open(QIODevice::WriteOnly);
        file.resize(size);
        file.setFileTime(QDateTime::currentDateTime().addSecs(-ageSecs), QFileDevice::FileModificationTime);
        file.close();
        // One key-frame record of its own, which its list record addresses.
        _st_kfindex_item key;
        key.timestamp = qHash(name);
        if (listed) {
            _st_reclist_item item;
            item.name = name;
            item.kfindexOffset = uint32_t(QFileInfo(recordindex::kfindexPath(f)).size());
            item.kfindexCount = 1;
            recordindex::appendToFile(root, recordindex::reclistPath(f), item.toBytes());
        }
        recordindex::appendToFile(root, recordindex::kfindexPath(f), key.toBytes());
        return f + '/' + name;
    }
    // Whether each record of the folder's list names a file beside it and
    // addresses that recording's own key-frame record.
    bool listTrue(const QString &rel) const
    {
        const QString f = root + '/' + rel;
        const QByteArray keys = testsupport::bytesOf(recordindex::kfindexPath(f));
        for (const auto &r : recordindex::readReclist(f)) {
            _st_kfindex_item key;
            if (!QFileInfo::exists(f + '/' + r.item.name) || r.item.kfindexCount != 1 ||
                recordindex::keyRangeEnd(r.item, keys.size()) < 0 ||
                !_st_kfindex_item::fromBytes(keys.constData() + r.item.kfindexOffset, &key) ||
                key.timestamp != qHash(r.item.name))
                return false;
        }
        return true;
    }
    QStringList listed(const QString &rel) const
    {
        QStringList names;
        for (const auto &r : recordindex::readReclist(root + '/' + rel))
            names << r.item.name;
        return names;
    }
};

QString rec(const QString &start, const QString &end)
{
    return QString("RECV1_TIMING_10-0-0-5_%1_%2.zmf").arg(start, end);
}

// A recording of 2 s as the recorder leaves it, listed by a scan: frames at
// 40 ms, a key frame every 10.
void writeRecording(const QString &path, qint64 start)
{
    qcRecordFile w(qcRecordFile::kWriter);
    QVERIFY(w.create(QFileInfo(path).path(), path));
    QVERIFY(w.setVideoParams(28, 640, 360, 0, 26, 25, 0));
    for (int i = 0; i < 50; ++i)
        QVERIFY(w.writeVideoFrame("frame", 5, i % 10 ? qcRecordFile::kCodeType2 : qcRecordFile::kCodeKey,
                                  uint64_t(start + 40 * i)));
}

// The file each record of the folder's list names, by name or, for a name
// too long for the record, by kind and end; "?" for none.
QStringList listedFiles(const QString &folder)
{
    const QStringList files = QDir(folder).entryList({"*.zmf"}, QDir::Files);
    QStringList out;
    for (const auto &r : recordindex::readReclist(folder)) {
        const auto named =
            std::find_if(files.cbegin(), files.cend(), [&](const QString &f) { return recordindex::lists(r.item, f); });
        out << (named == files.cend() ? "?" : *named);
    }
    return out;
}

// What is wrong with the lists of the tree, outside the BackupFile folders,
// whose recordings are not listed: a recording listed other than once, a
// record naming no file beside it, or one whose key-frame records are not
// its own. Empty when nothing is.
QString listFault(const QString &root)
{
    QDirIterator it(root, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    QStringList folders{root};
    while (it.hasNext())
        folders << it.next();
    for (const QString &folder : folders) {
        if (folder.contains("/BackupFile"))
            continue;
        const QByteArray keys = testsupport::bytesOf(recordindex::kfindexPath(folder));
        for (const auto &r : recordindex::readReclist(folder)) {
            _st_kfindex_item key;
            if (r.item.kfindexCount == 0 || recordindex::keyRangeEnd(r.item, keys.size()) < 0 ||
                !_st_kfindex_item::fromBytes(keys.constData() + r.item.kfindexOffset, &key) ||
                key.timestamp != r.item.start)
                return "key-frame records not its own: " + folder + '/' + r.item.name;
        }
        const QStringList listed = listedFiles(folder);
        if (listed.contains("?"))
            return "listed, not there: a record in " + folder;
        for (const QString &name : QDir(folder).entryList({"*.zmf"}, QDir::Files))
            if (listed.count(name) != 1)
                return QString("listed %1 times: %2/%3").arg(listed.count(name)).arg(folder, name);
    }
    return QString();
}

// The note with each folder it names (the one it is about, the one a
// recording went into, the one a different file under a recording's name
// stands in) as the real folder; "?" for one that does not exist.
QString withRealFolders(QString note)
{
    static const QRegularExpression named(R"(^[^|]*\|[^|]*\|(.+?): |moved into (.+?): |its new name (.+)/)");
    QList<QPair<int, int>> spans; // the last first: a replacement moves what follows it
    for (auto it = named.globalMatch(note); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        for (int group = 1; group <= 3; ++group)
            if (m.capturedStart(group) >= 0)
                spans.prepend({m.capturedStart(group), m.capturedLength(group)});
    }
    for (const auto &span : spans) {
        const QString real = QFileInfo(note.mid(span.first, span.second)).canonicalFilePath();
        note.replace(span.first, span.second, real.isEmpty() ? QStringLiteral("?") : real);
    }
    return note;
}

// The spellings of a record root below the working folder the guard is
// given: as it is, or as an absolute path.
void addRootSpellings()
{
    QTest::addColumn<QString>("root");
    QTest::addColumn<bool>("absolute");
    QTest::newRow("the working folder as \".\"") << "." << false;
    QTest::newRow("a relative record folder") << "rec/RecordFile" << false;
    QTest::newRow("an absolute record folder") << "." << true;
}

struct FreeSpaceScope
{
    std::atomic<int> calls{0};
    explicit FreeSpaceScope(std::optional<qint64> bytes)
    {
        qcDiskManager::setFreeSpaceFunction([this, bytes](const QString &) {
            ++calls;
            return bytes;
        });
    }
    ~FreeSpaceScope() { qcDiskManager::setFreeSpaceFunction({}); }
};

} // namespace

class TestDiskGuard : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { platform::setClock(nullptr); }

    void minimumAndRoot()
    {
        qcDiskManager guard;
        QVERIFY(!guard.setMinFreeSpace(3));
        QCOMPARE(guard.minFreeSpace(), 5);
        QVERIFY(guard.setMinFreeSpace(5));
        QCOMPARE(guard.cycleLimit(), 40);
        QVERIFY(guard.setMinFreeSpace(20));
        QCOMPARE(guard.cycleLimit(), 125);
        QVERIFY(guard.setRecordRoot("/a"));
        QVERIFY(!guard.setRecordRoot("/b"));
        QCOMPARE(qcDiskManager::parseTimeOfDay("08-03-20-123"), 29000123);
        QVERIFY(qcDiskManager::freeSpace(QDir::tempPath()).value_or(-1) > 0);
        QVERIFY(!qcDiskManager::freeSpace("/no/such/folder"));
    }

    void oldestGoFirstAndNeighboursStayListed()
    {
        Tree t;
        // Modification times run against the names' order: the names decide.
        const QString dayOld = "20231231/10.0.0.5";
        const QString day = "20240101/10.0.0.5";
        t.file(dayOld, rec("23-00-00-000", "23-00-00-000"), kGiB, 0); // start = end: deletable
        t.file(day, rec("09-00-00-000", "09-10-00-000"), kGiB, 10);
        t.file(day, rec("08-00-00-000", "08-10-00-000"), kGiB, 5);
        t.file(day, rec("10-00-00-000", "10-10-00-000"), kGiB, 1000);
        t.file(day, rec("11-00-00-000", "11-10-00-000"), kGiB, 2000);
        t.file(day, "RECV1_TIMING_10-0-0-5_12-00-00-000_.zmf", kGiB, 3000, false);
        const QByteArray kfindex = [&] {
            QFile f(recordindex::kfindexPath(t.root + '/' + day));
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }();
        FreeSpaceScope space(kGiB * 9 / 2);
        {
            FreeSpaceScope none(std::nullopt);
            qcDiskManager guard;
            guard.setRecordRoot(t.root);
            guard.checkFreeSpace();
            QCOMPARE(QDir(t.root + '/' + day).entryList({"*.zmf"}).size(), 5);
        }
        FreeSpaceScope again(kGiB * 9 / 2);
        qcDiskManager guard;
        guard.setRecordRoot(t.root);
        guard.checkFreeSpace();
        // 4.5 free + 3 whole GiB freed reaches 5 + 2.
        QCOMPARE(QDir(t.root + '/' + day).entryList({"*.zmf"}, QDir::Files, QDir::Name),
                 (QStringList{rec("10-00-00-000", "10-10-00-000"), rec("11-00-00-000", "11-10-00-000"),
                              "RECV1_TIMING_10-0-0-5_12-00-00-000_.zmf"}));
        QCOMPARE(t.listed(day),
                 (QStringList{rec("10-00-00-000", "10-10-00-000"), rec("11-00-00-000", "11-10-00-000")}));
        QFile f(recordindex::kfindexPath(t.root + '/' + day));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), kfindex);
        // The old day held nothing else: pruned up to the root.
        QVERIFY(!QFileInfo::exists(t.root + "/20231231"));
        QVERIFY(QFileInfo::exists(t.root));
    }

    void lastRecordingTakesTheIndexesAlong()
    {
        Tree t;
        t.file("20240101/a", rec("08-00-00-000", "08-10-00-000"), kGiB);
        t.file("20240101/b", rec("08-00-00-000", "08-10-00-000"), kGiB * 3);
        t.file("20240101/b", "keep.txt");
        FreeSpaceScope space(kGiB * 4);
        qcDiskManager guard;
        guard.setRecordRoot(t.root);
        guard.checkFreeSpace();
        QVERIFY(!QFileInfo::exists(t.root + "/20240101/a"));
        QVERIFY(QFileInfo::exists(t.root + "/20240101/b/keep.txt"));
        QVERIFY(!QFileInfo::exists(recordindex::reclistPath(t.root + "/20240101/b")));
    }

    // The operator learns what gave way: one record per pass that deleted
    // something, none for a pass that found room.
    void deletionsAreLoggedOncePerPass()
    {
        testsupport::SystemLog log;
        QVERIFY(log.run.isValid());
        Tree t;
        const QString day = "20240101/10.0.0.5";
        t.file(day, rec("08-00-00-000", "08-10-00-000"), kGiB);
        t.file(day, rec("09-00-00-000", "09-10-00-000"), kGiB);
        t.file(day, rec("10-00-00-000", "10-10-00-000"), kGiB);
        t.file(day, rec("11-00-00-000", "11-10-00-000"), kGiB);
        qcDiskManager guard;
        guard.setRecordRoot(t.root);
        {
            FreeSpaceScope space(kGiB * 4);
            guard.checkFreeSpace(); // 4 + 3 freed reaches 5 + 2
        }
        {
            FreeSpaceScope room(kGiB * 100);
            guard.checkFreeSpace();
            guard.checkFreeSpace();
        }
        QStringList events = log.abnormal();
        QCOMPARE(events.size(), 1);
        QVERIFY2(events[0].startsWith("recordings deleted||" + t.root +
                                      ": 4.0 GiB free, below the reserve of 5 GiB: "
                                      "3 recordings deleted (3072 MiB)"),
                 qPrintable(events[0]));
        QVERIFY2(events[0].endsWith("the oldest " + day + '/' + rec("08-00-00-000", "08-10-00-000") + ", the newest " +
                                    day + '/' + rec("10-00-00-000", "10-10-00-000")),
                 qPrintable(events[0]));

        FreeSpaceScope low(kGiB * 4);
        guard.checkFreeSpace();
        events = log.abnormal();
        QCOMPARE(events.size(), 2);
        QVERIFY2(events[1].contains(": 1 recordings deleted (1024 MiB), the oldest " + day + '/' +
                                    rec("11-00-00-000", "11-10-00-000") + ", the newest " + day + '/' +
                                    rec("11-00-00-000", "11-10-00-000")),
                 qPrintable(events[1]));
    }

    // A disk that stays full is told when it begins and when it ends, with
    // what it cost meanwhile: not a record per recording it cuts short and
    // per guard pass, which would wipe the log within hours.
    void fullDiskIsToldWhenItBeginsAndEnds_data()
    {
        QTest::addColumn<bool>("cutFirst"); // a recording cut short begins it, else a pass short of the reserve
        QTest::newRow("a recording cut short first") << true;
        QTest::newRow("a guard pass short of the reserve first") << false;
    }
    void fullDiskIsToldWhenItBeginsAndEnds()
    {
        QFETCH(bool, cutFirst);
        testsupport::SystemLog log;
        QVERIFY(log.run.isValid());
        Tree t;
        const QString day = "20240101/10.0.0.5";
        auto hour = [](int i) { return rec(QString("0%1-00-00-000").arg(i), QString("0%1-10-00-000").arg(i)); };
        const QString cut = t.root + '/' + day + '/' + rec("09-00-00-000", "09-00-05-000");
        qcDiskManager guard;
        guard.setRecordRoot(t.root);
        {
            FreeSpaceScope low(kGiB);
            if (cutFirst)
                recordlog::cutByFullDisk(t.root, cut, "the disk is full; the recording ended after 5 s");
            // Each pass frees a quarter of a GiB, far from the reserve.
            for (int pass = 0; pass < 4; ++pass) {
                t.file(day, hour(pass), kGiB / 4);
                guard.checkFreeSpace();
                recordlog::cutByFullDisk(t.root, cut, "the disk is full; the recording ended after 5 s");
            }
        }
        QStringList events = log.abnormal();
        QCOMPARE(events.size(), 1);
        if (cutFirst)
            QVERIFY2(
                events[0].startsWith("record ended|10.0.0.5|" + cut +
                                     ": the disk is full; the recording ended after 5 s; until it has room again, "),
                qPrintable(events[0]));
        else
            QVERIFY2(events[0].startsWith("recordings deleted||" + t.root +
                                          ": 1.0 GiB free, below the reserve of 5 GiB: 1 recordings deleted (256 MiB), "
                                          "the oldest " +
                                          day + '/' + hour(0)) &&
                         events[0].contains("the disk stays below its reserve"),
                     qPrintable(events[0]));
        {
            FreeSpaceScope room(kGiB * 100);
            guard.checkFreeSpace();
            guard.checkFreeSpace();
        }
        events = log.abnormal();
        QCOMPARE(events.size(), 2);
        // The deletions of the pass that began it are in its own record.
        const QString deleted =
            QString("%1 recordings deleted (%2 MiB), the oldest ").arg(cutFirst ? 4 : 3).arg(cutFirst ? 1024 : 768) +
            day + '/' + hour(cutFirst ? 0 : 1) + ", the newest " + day + '/' + hour(3);
        QVERIFY2(events[1] == "disk full ended||" + t.root +
                                  ": the disk has room again (100.0 GiB free, the reserve is 5 GiB); while it was "
                                  "full, " +
                                  QString::number(cutFirst ? 5 : 4) + " recordings were cut short and " + deleted,
                 qPrintable(events[1]));

        // Room again: the next pass that frees the reserve is told alone.
        t.file(day, rec("10-00-00-000", "10-10-00-000"), kGiB);
        FreeSpaceScope low(kGiB * 4);
        guard.checkFreeSpace();
        events = log.abnormal();
        QCOMPARE(events.size(), 3);
        QVERIFY2(events[2].startsWith("recordings deleted||" + t.root +
                                      ": 4.0 GiB free, below the reserve of 5 GiB: "
                                      "1 recordings deleted (1024 MiB)"),
                 qPrintable(events[2]));
        QVERIFY(!recordlog::diskFull());
    }

    // The operator chooses another record folder while the disk is full:
    // each note names the folder whose recordings and room it tells. The old
    // folder is measured no more, so its full disk is not told as ended.
    void fullDiskStaysWithItsFolder()
    {
        testsupport::SystemLog log;
        QVERIFY(log.run.isValid());
        Tree old, moved;
        std::atomic<qint64> newFree{kGiB};
        qcDiskManager::setFreeSpaceFunction(
            [&](const QString &root) { return root == old.root ? kGiB : newFree.load(); });
        const auto restore = qScopeGuard([] { qcDiskManager::setFreeSpaceFunction({}); });
        const QString oldDay = "20240101/10.0.0.5", newDay = "20240101/10.0.0.6";
        const QString r08 = rec("08-00-00-000", "08-10-00-000"), r10 = rec("10-00-00-000", "10-10-00-000");
        qcDiskManager guard;
        guard.setRecordRoot(old.root);
        old.file(oldDay, r08, kGiB / 4);
        guard.checkFreeSpace(); // begins the full disk
        old.file(oldDay, r10, kGiB / 4);
        guard.checkFreeSpace(); // counted
        guard.moveRecordRoot(moved.root);
        moved.file(newDay, r08, kGiB);
        guard.checkFreeSpace(); // the new folder's own full disk begins
        moved.file(newDay, r10, kGiB);
        guard.checkFreeSpace();
        newFree = 100 * kGiB;
        guard.checkFreeSpace();
        const QStringList events = log.abnormal();
        QCOMPARE(events.size(), 4);
        QCOMPARE(events[1], "disk full no longer watched||" + old.root + ": the recordings go to " + moved.root +
                                " now, and whether this folder's disk has room again is no longer looked at; while "
                                "it was full, 0 recordings were cut short and 1 recordings deleted (256 MiB), the "
                                "oldest " +
                                oldDay + '/' + r10 + ", the newest " + oldDay + '/' + r10);
        QVERIFY2(events[2].startsWith("recordings deleted||" + moved.root + ": 1.0 GiB free"), qPrintable(events[2]));
        QCOMPARE(events[3], "disk full ended||" + moved.root +
                                ": the disk has room again (100.0 GiB free, the reserve is 5 GiB); while it was full, "
                                "0 recordings were cut short and 1 recordings deleted (1024 MiB), the oldest " +
                                newDay + '/' + r10 + ", the newest " + newDay + '/' + r10);
        QVERIFY(!recordlog::diskFull());
    }

    // The recordings a full disk cost are named below the root the notes
    // name, whatever the spelling of the record folder: the oldest and the
    // newest of a pass that began it, then of the passes until it ended.
    void deletionNotesNameRecordingsBelowTheRoot_data() { addRootSpellings(); }
    void deletionNotesNameRecordingsBelowTheRoot()
    {
        QFETCH(QString, root);
        QFETCH(bool, absolute);
        testsupport::SystemLog log;
        QVERIFY(log.run.isValid());
        Tree t(QDir::cleanPath(log.run.path() + '/' + root));
        const QString given = absolute ? t.root : root;
        qcDiskManager guard;
        guard.setRecordRoot(given);
        const QString day = "20240101/10.0.0.5";
        QStringList names;
        for (const QString hour : {"08", "09", "10", "11"})
            names << day + '/' + rec(hour + "-00-00-000", hour + "-10-00-000");
        // A pass short of the reserve begins a full disk (1 + 2 freed), the
        // next ends it (4 + 2 freed).
        for (const int pass : {0, 1}) {
            t.file(day, QFileInfo(names[2 * pass]).fileName(), kGiB);
            t.file(day, QFileInfo(names[2 * pass + 1]).fileName(), kGiB);
            FreeSpaceScope low(kGiB * (pass ? 4 : 1));
            guard.checkFreeSpace();
        }
        QVERIFY(!QFileInfo::exists(t.root + '/' + day));
        QStringList told = log.abnormal();
        for (QString &note : told)
            note.replace(QRegularExpression(": .*, the oldest |, the newest "), "|").remove(QRegularExpression(";.*"));
        QCOMPARE(told, (QStringList{"recordings deleted||" + given + '|' + names[0] + '|' + names[1],
                                    "disk full ended||" + given + '|' + names[2] + '|' + names[3]}));
    }

    // Recorders append their last records while the guard rewrites the list.
    void rewritesAgainstAppends()
    {
        Tree t;
        const QString folder = t.folder("20240101/10.0.0.5");
        auto record = [](const QString &name) {
            _st_reclist_item item;
            item.name = name;
            return item.toBytes();
        };
        std::thread recorder([&] {
            for (int i = 0; i < 200; ++i) {
                recordindex::FolderLocker lock(folder);
                recordindex::appendToFile(t.root, recordindex::reclistPath(folder), record(QString("r%1.zmf").arg(i)));
            }
        });
        for (int i = 0; i < 100; ++i) {
            {
                recordindex::FolderLocker lock(folder);
                recordindex::appendToFile(t.root, recordindex::reclistPath(folder), record("gone.zmf"));
            }
            QVERIFY(recordindex::rewriteReclistWithout(t.root, folder, {"gone.zmf"}));
        }
        recorder.join();
        bool torn = true;
        const auto list = recordindex::readReclist(folder, &torn);
        QVERIFY(!torn);
        QCOMPARE(list.size(), 200);
        QCOMPARE(list.last().item.name, QString("r199.zmf"));
    }

    void dailyPassMovesTheFuture()
    {
        platform::FakeClock clock(QDateTime(QDate(2024, 1, 2), QTime(12, 0)));
        platform::setClock(&clock);
        Tree t;
        t.file("20991231/10.0.0.5", rec("08-00-00-000", "08-10-00-000"));
        const QString today = "20240102/10.0.0.5";
        t.file(today, rec("11-00-00-000", "11-59-00-000"));
        // Within what a stream may lead the clock by: not dated ahead.
        t.file(today, rec("11-59-30-000", "12-00-01-000"));
        t.file(today, rec("11-59-00-000", "12-30-00-000"));
        t.file("20240102/10.0.0.6", rec("11-59-00-000", "12-30-00-000"));
        testsupport::SystemLog log;
        FreeSpaceScope space(kGiB * 100);
        qcDiskManager guard;
        guard.setRecordRoot(t.root);
        guard.start();
        // Everything the pass moves is in place once the pass has ended.
        QTRY_COMPARE_WITH_TIMEOUT(guard.passCount(), 1, 30000);
        QVERIFY(QFileInfo::exists(t.root + "/BackupDir/20991231/10.0.0.5/reclist"));
        QVERIFY(QFileInfo::exists(t.root + '/' + today + "/BackupFile/" + rec("11-59-00-000", "12-30-00-000")));
        QVERIFY(!QFileInfo::exists(t.root + "/20991231"));
        QVERIFY(QFileInfo::exists(t.root + "/BackupDir/20991231/10.0.0.5/" + rec("08-00-00-000", "08-10-00-000")));
        // Each folder's list is rewritten after its files moved, and the pass
        // goes on to the next folder meanwhile.
        QTRY_COMPARE(t.listed(today),
                     (QStringList{rec("11-00-00-000", "11-59-00-000"), rec("11-59-30-000", "12-00-01-000")}));
        QCOMPARE(t.listed("BackupDir/20991231/10.0.0.5"), QStringList{rec("08-00-00-000", "08-10-00-000")});
        // The only listed recording moved: the list is empty, not stale.
        QTRY_COMPARE(t.listed("20240102/10.0.0.6"), QStringList());
        QCOMPARE(space.calls.load(), 1);
        // Every move is told, by the folder it left.
        const QString told = ": dated after the computer's clock (2024-01-02 12:00:00), which went back: ";
        QStringList moves = log.abnormal().filter(told);
        moves.sort();
        QCOMPARE(moves, (QStringList{
                            "record move|10.0.0.5|" + t.root + "/20240102/10.0.0.5: 1 recording moved into " + t.root +
                                "/20240102/10.0.0.5/BackupFile" + told + rec("11-59-00-000", "12-30-00-000"),
                            "record move|10.0.0.5|" + t.root + "/20991231/10.0.0.5: 1 recording moved into " + t.root +
                                "/BackupDir/20991231/10.0.0.5" + told + rec("08-00-00-000", "08-10-00-000"),
                            "record move|10.0.0.6|" + t.root + "/20240102/10.0.0.6: 1 recording moved into " + t.root +
                                "/20240102/10.0.0.6/BackupFile" + told + rec("11-59-00-000", "12-30-00-000"),
                        }));

        // A recorder out of room asks for a check before the next interval.
        recordindex::setLowSpaceHook([&guard] { guard.requestCheck(); });
        recordindex::reportLowSpace();
        QTRY_COMPARE_WITH_TIMEOUT(space.calls.load(), 2, 30000);
        recordindex::setLowSpaceHook({});
        // So does a reserve changed while it runs.
        guard.replaceMinFreeSpace(50);
        QTRY_COMPARE_WITH_TIMEOUT(space.calls.load(), 3, 30000);
        QCOMPARE(guard.minFreeSpace(), qint64(50));
        guard.stop();
        QVERIFY(guard.wait(5000));
    }

    // A recorder may end its file only after the guard has looked at the
    // clock set back: the file's end then lies in the future, and the
    // recorder's index repair asks the guard for another pass.
    void fileEndedAfterTheClockWentBack()
    {
        platform::FakeClock clock(QDateTime(QDate(2024, 1, 2), QTime(12, 0)));
        platform::setClock(&clock);
        Tree t;
        const QString today = "20240102/10.0.0.5";
        t.file(today, rec("11-00-00-000", "11-30-00-000"));
        FreeSpaceScope space(kGiB * 100);
        qcDiskManager guard;
        guard.setRecordRoot(t.root);
        recordindex::setTimeWentBackHook([&guard] { guard.requestLatePass(); });
        guard.start();
        QTRY_COMPARE_WITH_TIMEOUT(guard.passCount(), 1, 30000);
        clock.set(QDateTime(QDate(2024, 1, 2), QTime(11, 45)));
        QTRY_COMPARE_WITH_TIMEOUT(guard.passCount(), 2, 30000);
        QCOMPARE(t.listed(today), QStringList{rec("11-00-00-000", "11-30-00-000")});

        const QString ended = rec("11-50-00-000", "12-00-00-000");
        t.file(today, ended, 1000, 0, false);
        QVERIFY(recordindex::recoverAfterJump(t.root, t.root + '/' + today, 42300000, ended));
        QTRY_COMPARE_WITH_TIMEOUT(guard.passCount(), 3, 30000);
        QVERIFY(QFileInfo::exists(t.root + '/' + today + "/BackupFile/" + ended));
        QVERIFY(!QFileInfo::exists(t.root + '/' + today + '/' + ended));
        QCOMPARE(t.listed(today), QStringList{rec("11-00-00-000", "11-30-00-000")});
        recordindex::setTimeWentBackHook({});
        guard.stop();
        QVERIFY(guard.wait(5000));
    }

    // The computer's clock set back to 11:45: a recording that ends within
    // what a stream may lead the clock by stays listed where it is, as the
    // guard leaves it; one that ends later leaves the list, which is told,
    // and the guard moves it, which is told too.
    void setBackKeepsListedWhatTheGuardLeaves()
    {
        platform::FakeClock clock(QDateTime(QDate(2024, 1, 2), QTime(11, 45)));
        platform::setClock(&clock);
        Tree t;
        const QString today = "20240102/10.0.0.5";
        const QString folder = t.folder(today);
        const QString before = rec("11-40-00-000", "11-44-00-000");
        const QString within = rec("11-44-30-000", "11-45-00-600");
        const QString after = rec("11-45-00-000", "11-50-00-000");
        for (const QString &name : {before, within, after}) {
            t.file(today, name, 1000, 0, false);
            const recordnames::NameParts p = recordnames::parseName(name);
            _st_reclist_item item;
            item.name = name;
            item.start = uint32_t(p.start);
            item.end = uint32_t(p.end);
            QVERIFY(recordindex::appendToFile(t.root, recordindex::reclistPath(folder), item.toBytes()));
        }
        testsupport::SystemLog log;
        QVERIFY(recordindex::recoverAfterJump(t.root, folder, 42300000, QString()));
        QCOMPARE(t.listed(today), (QStringList{before, within}));
        FreeSpaceScope space(kGiB * 100);
        qcDiskManager guard;
        guard.setRecordRoot(t.root);
        guard.dailyPass();
        QVERIFY(QFileInfo::exists(folder + '/' + within));
        QVERIFY(QFileInfo::exists(folder + "/BackupFile/" + after));
        const QStringList told = log.abnormal();
        QCOMPARE(told.size(), 2);
        QVERIFY2(told.at(0).startsWith("record move|10.0.0.5|" + folder + ": 1 recording taken off the list") &&
                     told.at(0).endsWith(after),
                 qPrintable(told.at(0)));
        QVERIFY2(told.at(1).startsWith("record move|10.0.0.5|" + folder + ": 1 recording moved into") &&
                     told.at(1).endsWith(after),
                 qPrintable(told.at(1)));
    }

    // A file of a record folder that is a link to one elsewhere is never
    // deleted, moved or replaced, nor written through, when the recordings
    // around it go: the link stays and what it names is as it was.
    void linkedFilesStay_data()
    {
        QTest::addColumn<QString>("linked");
        QTest::addColumn<bool>("daily"); // the daily pass moves one away; otherwise the disk is full
        QTest::newRow("kfindex") << "kfindex" << false;
        QTest::newRow("reclist") << "reclist" << false;
        QTest::newRow("reclist, a recording dated after the present") << "reclist" << true;
        QTest::newRow("a record file") << rec("07-00-00-000", "07-10-00-000") << false;
    }
    void linkedFilesStay()
    {
        QFETCH(QString, linked);
        QFETCH(bool, daily);
        platform::FakeClock clock(QDateTime(QDate(2024, 1, 1), QTime(8, 30)));
        platform::setClock(&clock);
        QTemporaryDir elsewhere;
        Tree t;
        const QString day = "20240101/10.0.0.5";
        t.file(day, rec("08-00-00-000", "08-10-00-000"), kGiB);
        t.file(day, rec("09-00-00-000", "09-10-00-000"), kGiB);
        const QString link = t.root + '/' + day + '/' + linked;
        const QString target = elsewhere.filePath(linked);
        if (QFileInfo::exists(link)) {
            QVERIFY(QFile::rename(link, target));
        } else {
            QFile f(target);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("outside the record folders") > 0);
        }
        QVERIFY(QFile::link(target, link));
        const QByteArray before = testsupport::bytesOf(target);

        FreeSpaceScope space(daily ? kGiB * 100 : kGiB);
        qcDiskManager guard;
        guard.setRecordRoot(t.root);
        if (daily)
            guard.dailyPass();
        else
            guard.checkFreeSpace();
        // The guard did its work around it.
        QCOMPARE(QFileInfo::exists(t.root + '/' + day + '/' + rec("09-00-00-000", "09-10-00-000")), false);
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(testsupport::bytesOf(target), before);
    }

    // A move to another disk cut short (the program killed) leaves the
    // original where it was and, at the destination, a part of its copy or
    // the whole of it: the next pass ends with the recording whole under its
    // own name, the original gone and nothing else left beside it. A copy
    // that fails leaves nothing there and the original as it was.
    void interruptedMoveEndsWhole_data()
    {
        QTest::addColumn<bool>("late");        // a late file into BackupFile; otherwise a future day into BackupDir
        QTest::addColumn<QString>("leftover"); // the name the cut-short copy stands under; "%1" the recording's
        QTest::addColumn<bool>("whole");       // the copy was whole
        QTest::addColumn<QByteArray>("room");  // of the second disk
        for (const bool late : {false, true}) {
            const QByteArray into = late ? "into BackupFile: " : "into BackupDir: ";
            QTest::newRow(into + "a part under the final name") << late << "%1" << false << QByteArray("16m");
            QTest::newRow(into + "a part under the temporary name")
                << late << ".%1.moving" << false << QByteArray("16m");
            QTest::newRow(into + "the whole copy in place, the original not deleted")
                << late << "%1" << true << QByteArray("16m");
            QTest::newRow(into + "no room for the copy") << late << QString() << false << QByteArray("1m");
        }
    }
    void interruptedMoveEndsWhole()
    {
        QFETCH(bool, late);
        QFETCH(QString, leftover);
        QFETCH(bool, whole);
        QFETCH(QByteArray, room);
        platform::FakeClock clock(QDateTime(QDate(2024, 1, 1), QTime(8, 30)));
        platform::setClock(&clock);
        Tree t;
        const QString name = rec("09-00-00-000", "09-10-00-000");
        const QString from = t.file(late ? "20240101/10.0.0.5" : "20991231/10.0.0.5", name);
        const QString into = t.root + (late ? "/20240101/10.0.0.5/BackupFile" : "/BackupDir");
        const QString dest = late ? into : into + "/20991231/10.0.0.5";
        testsupport::SecondDisk disk(into, room);
        if (!disk.mounted())
            QSKIP("needs root and a mount namespace of its own (tests/support/ownmounts.sh)");
        // Bytes that differ along the file: a part is never the whole.
        QByteArray bytes;
        for (int i = 0; bytes.size() < (3 << 20); ++i)
            bytes += QByteArray::number(i) + ' ';
        QFile f(from);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        f.close();
        if (!leftover.isEmpty()) {
            QVERIFY(QDir().mkpath(dest));
            QFile copy(dest + '/' + leftover.arg(name));
            const QByteArray part = whole ? bytes : bytes.left(6 << 17);
            QVERIFY(copy.open(QIODevice::WriteOnly) && copy.write(part) == part.size());
        }

        FreeSpaceScope space(kGiB * 100);
        qcDiskManager guard;
        guard.setRecordRoot(t.root);
        guard.dailyPass();
        const bool fits = room != "1m";
        QCOMPARE(testsupport::bytesOf(fits ? dest + '/' + name : from), bytes);
        QCOMPARE(QFileInfo::exists(from), !fits);
        QCOMPARE(QFileInfo::exists(dest + '/' + name), fits);
        QCOMPARE(QDir(dest).entryList({"*" + name + "*"}, QDir::Files | QDir::Hidden),
                 fits ? QStringList{name} : QStringList());
    }

    // A backup folder that is a link receives nothing: late recordings and
    // future day folders stay where they are.
    void linkedBackupFoldersReceiveNothing_data()
    {
        QTest::addColumn<QString>("linked");
        QTest::newRow("BackupFile") << "20240101/10.0.0.5/BackupFile";
        QTest::newRow("BackupDir") << "BackupDir";
    }
    void linkedBackupFoldersReceiveNothing()
    {
        QFETCH(QString, linked);
        platform::FakeClock clock(QDateTime(QDate(2024, 1, 1), QTime(8, 30)));
        platform::setClock(&clock);
        QTemporaryDir outside;
        Tree t;
        const QString late = t.file("20240101/10.0.0.5", rec("09-00-00-000", "09-10-00-000"));
        const QString future = t.file("20240105/10.0.0.5", rec("07-00-00-000", "07-10-00-000"));
        QVERIFY(QFile::link(outside.path(), t.root + '/' + linked));
        FreeSpaceScope space(kGiB * 100);
        qcDiskManager guard;
        guard.setRecordRoot(t.root);
        guard.dailyPass();
        QCOMPARE(QDir(outside.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), {});
        QVERIFY(QFileInfo(t.root + '/' + linked).isSymLink());
        QVERIFY(QFileInfo::exists(linked == "BackupDir" ? future : late));
        QCOMPARE(t.listed("20240101/10.0.0.5").contains(rec("09-00-00-000", "09-10-00-000")), linked != "BackupDir");
    }

    // A move the guard cannot make is told with its reason in the one record
    // of its pass over the recording's folder, once while the program runs;
    // the original stays where it is, listed. A day folder moved into
    // BackupDir file by file leaves each list naming what lies beside it:
    // the recordings that moved are listed where they arrived, after the
    // records the folder there held already.
    void refusedMovesAreTold_data()
    {
        QTest::addColumn<bool>("future"); // a future day into BackupDir; otherwise a late file into BackupFile
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QString>("why"); // %1 the destination folder, %2 the recording's name
        for (const bool future : {false, true}) {
            const QByteArray into = future ? "into BackupDir: " : "";
            QTest::newRow(into + "a full destination") << future << "full"
                                                       << "the disk of %1 is full";
            QTest::newRow(into + "a different file under the final name")
                << future << "other"
                << "a different file stands under its new name %1/%2";
            QTest::newRow(into + "a folder under the copy's name")
                << future << "folder"
                << "a folder stands under the name of its copy %1/.%2.moving";
            QTest::newRow(into + "a link under the copy's name")
                << future << "link"
                << "a link stands under the name of its copy %1/.%2.moving";
        }
    }
    void refusedMovesAreTold()
    {
        QFETCH(bool, future);
        QFETCH(QString, refusal);
        QFETCH(QString, why);
        platform::FakeClock clock(QDateTime(QDate(2024, 1, 1), QTime(8, 30)));
        platform::setClock(&clock);
        QTemporaryDir outside;
        Tree t;
        const QString name = rec("09-00-00-000", "09-10-00-000");
        const QString neighbour = rec("10-00-00-000", "10-10-00-000");
        const QString own = rec("07-00-00-000", "07-10-00-000");
        const QString rel = future ? "20240105/10.0.0.5" : "20240101/10.0.0.5";
        const QString destRel = "BackupDir/" + rel;
        const QString folder = t.folder(rel);
        const QString from = t.file(rel, name, refusal == "full" ? (3 << 20) : 1000);
        if (future)
            t.file(rel, neighbour);
        const QString into = future ? t.root + '/' + destRel : folder + "/BackupFile";
        testsupport::SecondDisk disk(future ? t.root + "/BackupDir" : into, refusal == "full" ? "1m" : "16m");
        if (!disk.mounted())
            QSKIP("needs root and a mount namespace of its own (tests/support/ownmounts.sh)");
        if (future && refusal != "full")
            t.file(destRel, own);
        const QString moving = into + "/." + name + ".moving";
        if (refusal == "other") {
            QFile f(into + '/' + name);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("another recording") > 0);
        } else if (refusal == "folder") {
            QVERIFY(QDir().mkpath(moving));
        } else if (refusal == "link") {
            QVERIFY(QFile::link(outside.path(), moving));
        }
        const QByteArray before = testsupport::bytesOf(from);

        testsupport::SystemLog log;
        FreeSpaceScope space(kGiB * 100);
        qcDiskManager guard;
        guard.setRecordRoot(t.root);
        guard.dailyPass();
        guard.dailyPass();
        QCOMPARE(testsupport::bytesOf(from), before);
        QVERIFY(t.listed(rel).contains(name));
        if (future) {
            QCOMPARE(t.listed(rel), QStringList{name});
            QCOMPARE(t.listed(destRel), refusal == "full" ? QStringList{neighbour} : (QStringList{own, neighbour}));
            QVERIFY(t.listTrue(rel));
            QVERIFY(t.listTrue(destRel));
        }
        QStringList told{"record move|10.0.0.5|" + folder +
                         ": the disk guard's pass: 1 file left as "
                         "it is: " +
                         name + " (not moved: " + why.arg(into, name) + "; it stays where it is)"};
        // The neighbour that did move is told too.
        if (future)
            told << "record move|10.0.0.5|" + folder + ": 1 recording moved into " + into +
                        ": dated after the computer's clock (2024-01-01 08:30:00), which went back: " + neighbour;
        QCOMPARE(log.abnormal(), told);
        QCOMPARE(QDir(outside.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), {});
    }

    // The notes of a pass that moves a day folder dated ahead name the
    // folders the recordings lay in and went to, also for a record folder
    // given relative to the working folder; a recording whose move was
    // refused is told as staying, never as moved.
    void passNotesNameRealFolders_data() { addRootSpellings(); }
    void passNotesNameRealFolders()
    {
        QFETCH(QString, root);
        QFETCH(bool, absolute);
        platform::FakeClock clock(QDateTime(QDate(2024, 1, 1), QTime(8, 30)));
        platform::setClock(&clock);
        // The run folder is the working folder while the log lives.
        testsupport::SystemLog log;
        QVERIFY(log.run.isValid());
        Tree t(QDir::cleanPath(log.run.path() + '/' + root));
        const QString rel = "20240105/10.0.0.5";
        const QString destRel = "BackupDir/" + rel;
        const QString refused = rec("09-00-00-000", "09-10-00-000");
        const QString moved = rec("10-00-00-000", "10-10-00-000");
        t.file(rel, refused);
        t.file(rel, moved);
        QFile other(t.folder(destRel) + '/' + refused);
        QVERIFY(other.open(QIODevice::WriteOnly) && other.write("another recording") > 0);
        other.close();

        FreeSpaceScope space(kGiB * 100);
        qcDiskManager guard;
        guard.setRecordRoot(absolute ? t.root : root);
        guard.dailyPass();
        QVERIFY(QFileInfo::exists(t.root + '/' + rel + '/' + refused));
        QVERIFY(QFileInfo::exists(t.root + '/' + destRel + '/' + moved));
        const QString from = QFileInfo(t.root + '/' + rel).canonicalFilePath();
        const QString into = QFileInfo(t.root + '/' + destRel).canonicalFilePath();
        QStringList told = log.abnormal();
        std::transform(told.begin(), told.end(), told.begin(), withRealFolders);
        QCOMPARE(told, (QStringList{
                           "record move|10.0.0.5|" + from + ": the disk guard's pass: 1 file left as it is: " +
                               refused + " (not moved: a different file stands under its new name " + into + '/' +
                               refused + "; it stays where it is)",
                           "record move|10.0.0.5|" + from + ": 1 recording moved into " + into +
                               ": dated after the computer's clock (2024-01-01 08:30:00), which went back: " + moved,
                       }));
    }

    // A move pass killed at any change it makes to the disk: the next start
    // lists every recording where it lies, and the guard's pass after it
    // ends with every recording moved and listed once, as a pass that was
    // never cut short leaves them.
    void killedPassLeavesNothingUnlisted_data()
    {
        QTest::addColumn<bool>("secondDisk"); // BackupDir on another file system: each move a copy
        QTest::addColumn<bool>("ownList");    // the day in BackupDir lists a recording of its own
        QTest::addColumn<QString>("device");  // the name's device part
        for (const bool secondDisk : {false, true}) {
            const QByteArray road = secondDisk ? "copied: " : "renamed: ";
            QTest::newRow(road + "into a day with a list of its own") << secondDisk << true << "10-0-0-5";
            QTest::newRow(road + "into a day without indexes") << secondDisk << false << "10-0-0-5";
        }
        // Listed without their names, found by their kinds and ends.
        QTest::newRow("names too long for the list") << false << true << "ABCD-123456-EFGHIJKL-MNOP";
    }
    void killedPassLeavesNothingUnlisted()
    {
        QFETCH(bool, secondDisk);
        QFETCH(bool, ownList);
        QFETCH(QString, device);
#ifdef __SANITIZE_THREAD__
        QSKIP("a fork of a process that ran threads is beyond ThreadSanitizer; the ASan build runs it");
#endif
        const QString day = "20240105/10.0.0.5";
        const QString dest = "BackupDir/" + day;
        const QString today = "20240101/10.0.0.5";
        auto name = [&device](const QString &start, const QString &end) {
            return QString("RECV1_TIMING_%1_%2_%3.zmf").arg(device, start, end);
        };
        const QStringList moving{name("08-00-00-000", "08-00-01-960"), name("08-02-00-000", "08-02-01-960"),
                                 name("08-04-00-000", "08-04-01-960")};
        const QString own = name("08-01-00-000", "08-01-01-960");
        const QString early = name("07-00-00-000", "07-00-01-960");
        const QString late = name("09-00-00-000", "09-00-01-960");
        platform::FakeClock clock;
        platform::setClock(&clock);
        int kills = 0;
        for (int step = 1;; ++step) {
            // Listed while the clock was days ahead; it was set back since.
            clock.set(QDateTime(QDate(2024, 1, 6), QTime(10, 0)));
            Tree t;
            std::optional<testsupport::SecondDisk> disk;
            if (secondDisk && !disk.emplace(t.root + "/BackupDir").mounted())
                QSKIP("needs root and a mount namespace of its own (tests/support/ownmounts.sh)");
            auto record = [&](const QString &rel, const QString &name) {
                writeRecording(t.folder(rel) + '/' + name, recordnames::parseTimeOfDay(name.section('_', 3, 3)));
            };
            for (const QString &name : moving)
                record(day, name);
            record(today, early);
            record(today, late);
            t.folder(dest);
            if (ownList)
                record(dest, own);
            for (const QString &rel : {day, today, dest})
                recordindex::repairFolder(t.root, t.root + '/' + rel);
            QCOMPARE(listFault(t.root), QString());
            clock.set(QDateTime(QDate(2024, 1, 1), QTime(8, 30)));

            const pid_t child = ::fork();
            QVERIFY(child >= 0);
            if (child == 0) {
                int changes = 0;
                recordfileguard::setBeforeChangeHook([&changes, step](const QString &) {
                    if (++changes == step)
                        ::raise(SIGKILL);
                });
                qcDiskManager guard;
                guard.setRecordRoot(t.root);
                guard.dailyPass();
                ::_exit(0);
            }
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);
            const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
            QVERIFY(killed || (WIFEXITED(status) && WEXITSTATUS(status) == 0));
            const QByteArray at = QByteArray("killed at change ") + QByteArray::number(step) + ": ";

            // The next start: the repair, then the guard's first pass; and a
            // start after that.
            recordindex::repairTree(t.root);
            QString fault = listFault(t.root);
            QVERIFY2(fault.isEmpty(), (at + fault.toUtf8()).constData());
            qcDiskManager guard;
            guard.setRecordRoot(t.root);
            for (const bool again : {false, true}) {
                if (again)
                    recordindex::repairTree(t.root);
                else
                    guard.dailyPass();
                fault = listFault(t.root);
                QVERIFY2(fault.isEmpty(), (at + fault.toUtf8()).constData());
            }
            QStringList arrived = moving;
            if (ownList)
                arrived.insert(1, own);
            QCOMPARE(QDir(t.root + '/' + dest).entryList({"*.zmf"}, QDir::Files, QDir::Name), arrived);
            QCOMPARE(listedFiles(t.root + '/' + dest), arrived);
            QCOMPARE(listedFiles(t.root + '/' + today), QStringList{early});
            QVERIFY(QFileInfo::exists(t.root + '/' + today + "/BackupFile/" + late));
            QVERIFY(!QFileInfo::exists(t.root + "/20240105"));
            QDirIterator copies(t.root, {"*.moving"}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            QVERIFY2(!copies.hasNext(), at + "a copy left");
            if (!killed)
                break;
            ++kills;
        }
        // Each file's move was cut short at each of its steps.
        QVERIFY(kills > moving.size() * (secondDisk ? 4 : 1));
    }

    // A copy a move cut short left is deleted by the next pass in the folder
    // where it stands once its original is gone: nothing moves it again, and
    // it kept its folder from counting as empty. Only a regular file of that
    // name, and none whose original stands.
    void leftoverCopiesWhoseOriginalIsGoneAreDeleted_data()
    {
        QTest::addColumn<QString>("leftover"); // below the root; %1 the recording's name
        QTest::addColumn<QString>("original"); // made too, when given
        QTest::addColumn<bool>("regular");
        QTest::addColumn<bool>("deleted");
        QTest::newRow("in BackupFile, its original gone")
            << "20231231/10.0.0.5/BackupFile/.%1.moving" << QString() << true << true;
        QTest::newRow("in BackupDir, its original gone")
            << "BackupDir/20231231/10.0.0.5/.%1.moving" << QString() << true << true;
        QTest::newRow("in BackupFile, its original stands") << "20231231/10.0.0.5/BackupFile/.%1.moving"
                                                            << "20231231/10.0.0.5/%1" << true << false;
        QTest::newRow("in BackupDir, its original stands") << "BackupDir/20231231/10.0.0.5/.%1.moving"
                                                           << "20231231/10.0.0.5/%1" << true << false;
        QTest::newRow("a folder under such a name")
            << "20231231/10.0.0.5/BackupFile/.%1.moving" << QString() << false << false;
    }
    void leftoverCopiesWhoseOriginalIsGoneAreDeleted()
    {
        QFETCH(QString, leftover);
        QFETCH(QString, original);
        QFETCH(bool, regular);
        QFETCH(bool, deleted);
        platform::FakeClock clock(QDateTime(QDate(2024, 1, 1), QTime(8, 30)));
        platform::setClock(&clock);
        Tree t;
        const QString name = rec("07-00-00-000", "07-10-00-000");
        const QString path = t.root + '/' + leftover.arg(name);
        if (!original.isEmpty())
            t.file(QFileInfo(original.arg(name)).path(), name);
        if (regular) {
            QVERIFY(QDir().mkpath(QFileInfo(path).path()));
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("a part of a copy") > 0);
        } else {
            QVERIFY(QDir().mkpath(path));
        }

        testsupport::SystemLog log;
        FreeSpaceScope space(kGiB * 100);
        qcDiskManager guard;
        guard.setRecordRoot(t.root);
        guard.dailyPass();
        QCOMPARE(QFileInfo::exists(path), !deleted);
        const QStringList told = log.abnormal();
        QCOMPARE(told.filter(": the disk guard's pass: 1 repair, 16 bytes cut off or deleted; done: ." + name +
                             ".moving (deleted, 16 bytes: the copy of a move cut short, its original is gone)")
                     .size(),
                 deleted ? 1 : 0);
        if (!original.isEmpty())
            QVERIFY(QFileInfo::exists(t.root + '/' + original.arg(name)));
    }
};

QTEST_GUILESS_MAIN(TestDiskGuard)
#include "tst_diskguard.moc"
