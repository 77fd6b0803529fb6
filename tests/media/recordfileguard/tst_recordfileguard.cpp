#include "media/recordfileguard.h"
#include "tests/support/systemlog.h"

#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <functional>

namespace {

// A record tree whose top is "RecordFile", and a folder outside it that a
// link in the tree names.
struct Tree
{
    QTemporaryDir dir;
    QTemporaryDir outside;
    QString top = dir.filePath("RecordFile");
    QString device = top + "/20240101/10.0.0.5";
    Tree() { QDir().mkpath(device); }
    QString at(const QString &rel) const { return top + '/' + rel; }
    static void write(const QString &path, const QByteArray &bytes)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    }
    // Replaces the tree's `rel` with a link to a folder (or, with `file`, a
    // file; with `dangling`, nothing) outside.
    QString link(const QString &rel, bool file = false, bool dangling = false)
    {
        const QString target = outside.filePath(QFileInfo(rel).fileName());
        if (!dangling && file)
            write(target, "outside the record tree");
        else if (!dangling && QDir().mkpath(target + "/10.0.0.5"))
            write(target + "/kept", "outside the record tree");
        QDir(at(rel)).removeRecursively();
        QFile::remove(at(rel));
        QDir().mkpath(QFileInfo(at(rel)).path());
        [&] { QVERIFY(QFile::link(target, at(rel))); }();
        return target;
    }
    // Every name and byte outside, to see that nothing there changed.
    QStringList outsideState() const
    {
        QStringList out;
        QDirIterator it(outside.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString p = it.next();
            QFile f(p);
            out << p + '=' + (f.open(QIODevice::ReadOnly) ? f.readAll().toHex() : QByteArray("-"));
        }
        out.sort();
        return out;
    }
};

bool create(const QString &top, const QString &path,
            QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::NewOnly)
{
    QFile f;
    return recordfileguard::open(top, f, path, mode) && f.write("new") == 3;
}

} // namespace

using Operation = std::function<bool(Tree &)>;
Q_DECLARE_METATYPE(Operation)

class TestRecordFileGuard : public QObject
{
    Q_OBJECT

private slots:
    // Below the top no link is followed, for a file or a folder, and what it
    // names stays byte for byte as it was; the link stays where it is.
    void noLinkBelowTheTopIsFollowed_data()
    {
        QTest::addColumn<QString>("linked"); // relative to the top
        QTest::addColumn<bool>("file");
        QTest::addColumn<bool>("dangling");
        QTest::addColumn<Operation>("operation");
        const QString dev = "20240101/10.0.0.5";
        const QString rec = dev + "/RECV1_TIMING_10-0-0-5_08-00-00-000_.zmf";
        auto made = [](const QString &rel, const QString &name) {
            return Operation([=](Tree &t) { return create(t.top, t.at(rel) + '/' + name); });
        };
        QTest::newRow("a folder made under a linked day folder")
            << "20240102" << false << false
            << Operation([](Tree &t) { return recordfileguard::makeFolder(t.top, t.at("20240102/10.0.0.5")); });
        QTest::newRow("a folder made under a linked device folder")
            << dev << false << false
            << Operation([=](Tree &t) { return recordfileguard::makeFolder(t.top, t.at(dev + "/BackupFile")); });
        QTest::newRow("a record file made in a linked device folder") << dev << false << false << made(dev, "a.zmf");
        QTest::newRow("a record file made in a linked day folder")
            << "20240101" << false << false << made(dev, "a.zmf");
        QTest::newRow("kfindex appended in a linked device folder") << dev << false << false << Operation([=](Tree &t) {
            return create(t.top, t.at(dev + "/kfindex"), QIODevice::WriteOnly | QIODevice::Append);
        });
        QTest::newRow("a renamed file onto a dangling link") << rec + "x" << false << true << Operation([=](Tree &t) {
            Tree::write(t.at(rec), "a recording");
            const bool renamed = recordfileguard::rename(t.top, t.at(rec), t.at(rec + "x"));
            const int error = errno;
            return renamed || error != EEXIST || !QFileInfo::exists(t.at(rec));
        });
        QTest::newRow("a renamed file onto a linked file") << rec + "x" << true << false << Operation([=](Tree &t) {
            Tree::write(t.at(rec), "a recording");
            return recordfileguard::rename(t.top, t.at(rec), t.at(rec + "x")) || !QFileInfo::exists(t.at(rec));
        });
        QTest::newRow("a file put in place of a linked file") << rec + "x" << true << false << Operation([=](Tree &t) {
            Tree::write(t.at(rec), "a recording");
            const bool replaced = recordfileguard::replace(t.top, t.at(rec), t.at(rec + "x"));
            const int error = errno;
            return replaced || error != EEXIST || !QFileInfo::exists(t.at(rec));
        });
        QTest::newRow("a file moved into a linked BackupFile")
            << dev + "/BackupFile" << false << false << Operation([=](Tree &t) {
                   Tree::write(t.at(rec), "a recording");
                   return recordfileguard::move(t.top, t.at(rec), t.at(dev + "/BackupFile/a.zmf")) ||
                          !QFileInfo::exists(t.at(rec));
               });
        QTest::newRow("a day folder moved into a linked BackupDir")
            << "BackupDir" << false << false << Operation([=](Tree &t) {
                   return recordfileguard::move(t.top, t.at("20240101"), t.at("BackupDir/20240101")) ||
                          !QFileInfo::exists(t.at(dev));
               });
        QTest::newRow("a file deleted in a linked device folder")
            << dev << false << false
            << Operation([=](Tree &t) { return recordfileguard::remove(t.top, t.at(dev + "/kept")); });
        QTest::newRow("a file cut in a linked day folder")
            << "20240101" << false << false
            << Operation([=](Tree &t) { return recordfileguard::resize(t.top, t.at("20240101/kept"), 0); });
        QTest::newRow("a linked folder deleted")
            << dev << false << false
            << Operation([=](Tree &t) { return recordfileguard::removeFolder(t.top, t.at(dev)); });
        QTest::newRow("a link to a file, deleted")
            << dev + "/a.zmf" << true << false
            << Operation([=](Tree &t) { return recordfileguard::remove(t.top, t.at(dev + "/a.zmf")); });
        // A device may be named as a top is: the top is the caller's, never
        // a folder name on the path.
        QTest::newRow("a device folder named RecordFile made under a linked day folder")
            << "20240102" << false << false
            << Operation([](Tree &t) { return recordfileguard::makeFolder(t.top, t.at("20240102/RecordFile")); });
        QTest::newRow("a device folder named CaptureFile made under a linked day folder")
            << "20240102" << false << false
            << Operation([](Tree &t) { return recordfileguard::makeFolder(t.top, t.at("20240102/CaptureFile")); });
        QTest::newRow("a file deleted below a folder that is no day")
            << "misc/sub" << false << false
            << Operation([](Tree &t) { return recordfileguard::remove(t.top, t.at("misc/sub/kept")); });
        QTest::newRow("a file made below a folder that is no day")
            << "misc/sub" << false << false << made("misc/sub", "a.zmf");
    }
    void noLinkBelowTheTopIsFollowed()
    {
        QFETCH(QString, linked);
        QFETCH(bool, file);
        QFETCH(bool, dangling);
        QFETCH(Operation, operation);
        Tree t;
        t.link(linked, file, dangling);
        const QStringList before = t.outsideState();
        QVERIFY(!operation(t));
        QCOMPARE(t.outsideState(), before);
        QVERIFY(QFileInfo(t.at(linked)).isSymLink());
    }

    // Links down to the top are followed: the operator may have moved the
    // recordings to a larger disk by a link.
    void linksDownToTheTopAreFollowed_data()
    {
        QTest::addColumn<bool>("topLinked"); // otherwise the chosen folder above it
        QTest::newRow("RecordFile a link") << true;
        QTest::newRow("the chosen folder a link") << false;
    }
    void linksDownToTheTopAreFollowed()
    {
        QFETCH(bool, topLinked);
        QTemporaryDir disk, here;
        const QString chosen = here.filePath("chosen");
        QString top;
        if (topLinked) {
            QVERIFY(QDir().mkpath(chosen) && QDir().mkpath(disk.filePath("RecordFile")));
            QVERIFY(QFile::link(disk.filePath("RecordFile"), chosen + "/RecordFile"));
        } else {
            QVERIFY(QFile::link(disk.path(), chosen));
        }
        top = chosen + "/RecordFile";
        const QString dev = top + "/20240101/10.0.0.5";
        QVERIFY(recordfileguard::makeFolder(top, dev));
        QVERIFY(create(top, dev + "/a.zmf"));
        QVERIFY(recordfileguard::rename(top, dev + "/a.zmf", dev + "/b.zmf"));
        QVERIFY(recordfileguard::makeFolder(top, dev + "/BackupFile"));
        QVERIFY(recordfileguard::move(top, dev + "/b.zmf", dev + "/BackupFile/b.zmf"));
        QVERIFY(QFileInfo::exists(disk.filePath("RecordFile/20240101/10.0.0.5/BackupFile/b.zmf")));
        QVERIFY(recordfileguard::makeFolder(top, top + "/BackupDir"));
        QVERIFY(recordfileguard::move(top, top + "/20240101", top + "/BackupDir/20240101"));
        QVERIFY(recordfileguard::remove(top, top + "/BackupDir/20240101/10.0.0.5/BackupFile/b.zmf"));
        QVERIFY(recordfileguard::removeFolder(top, top + "/BackupDir/20240101/10.0.0.5/BackupFile"));
    }

    // A name that is taken keeps what stands there: a rename never replaces.
    void renameNeverReplaces()
    {
        Tree t;
        const QString a = t.device + "/a.zmf", b = t.device + "/b.zmf";
        Tree::write(a, "first");
        Tree::write(b, "second");
        QVERIFY(!recordfileguard::rename(t.top, a, b));
        QCOMPARE(errno, EEXIST);
        QFile f(b);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("second"));
        QVERIFY(QFileInfo::exists(a));
    }

    // A path that is not the top or below it is refused, told once however
    // often it comes, and nothing is changed: a caller that lost its way
    // must not make, cut or delete anything elsewhere on the disk.
    void aPathNotBelowItsTopIsRefused_data()
    {
        QTest::addColumn<QString>("path"); // relative to the folder that holds the top
        QTest::addColumn<Operation>("operation");
        QTest::newRow("a file made beside the top")
            << "made.zmf" << Operation([](Tree &t) { return create(t.top, t.dir.filePath("made.zmf")); });
        QTest::newRow("a file deleted through ..")
            << "beside.zmf"
            << Operation([](Tree &t) { return recordfileguard::remove(t.top, t.at("20240101/../../beside.zmf")); });
        QTest::newRow("a folder whose name begins as the top's") << "RecordFileOld/20240101" << Operation([](Tree &t) {
            return recordfileguard::makeFolder(t.top, t.dir.filePath("RecordFileOld/20240101"));
        });
        QTest::newRow("a file renamed out of the top") << "beside.zmf" << Operation([](Tree &t) {
            return recordfileguard::rename(t.top, t.dir.filePath("beside.zmf"), t.device + "/beside.zmf");
        });
    }
    void aPathNotBelowItsTopIsRefused()
    {
        QFETCH(QString, path);
        QFETCH(Operation, operation);
        testsupport::SystemLog log;
        Tree t;
        Tree::write(t.dir.filePath("beside.zmf"), "beside the record tree");
        auto state = [&] {
            QStringList out;
            QDirIterator it(t.dir.path(), QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
            while (it.hasNext())
                out << it.next();
            out.sort();
            return out;
        };
        const QStringList before = state();
        for (int i = 0; i < 2; ++i) {
            QVERIFY(!operation(t));
            QCOMPARE(errno, EPERM);
        }
        QCOMPARE(state(), before);
        QCOMPARE(log.abnormal().filter(t.dir.filePath(path) + ": not below its record folder").size(), 1);
    }

    // A link met on the way is told once, however often it is met.
    void aLinkOnTheWayIsToldOnce()
    {
        testsupport::SystemLog log;
        Tree t;
        t.link("20240101/10.0.0.5");
        for (int i = 0; i < 3; ++i)
            QVERIFY(!create(t.top, t.device + QString("/%1.zmf").arg(i)));
        const QStringList told = log.abnormal().filter(t.device + ": a link or not a regular file");
        QCOMPARE(told.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestRecordFileGuard)
#include "tst_recordfileguard.moc"
