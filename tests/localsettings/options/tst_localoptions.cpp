#include <QtTest>

#include <memory>

#include "app/core/database.h"
#include "localsettings/localoptions.h"
#include "tests/localsettings/options/storedoptions.h"
#include "tests/support/heldlock.h"

using namespace optionstest;
using testsupport::RunFolder;

class TestLocalOptions : public QObject
{
    Q_OBJECT

    std::unique_ptr<RunFolder> m_folder;
    std::unique_ptr<qcDatabase> m_db;
    std::unique_ptr<LocalOptions> m_options;

    QVariant stored(const QString &column) const { return LocalOptions::value(m_options->stored(), column); }
    void reloadAfter(const QString &sql)
    {
        QVERIFY(RunFolder::exec(kDb, sql));
        m_options->reload();
    }

private slots:
    void init()
    {
        m_folder = std::make_unique<RunFolder>();
        QVERIFY(m_folder->isValid());
        m_db = std::make_unique<qcDatabase>();
        QVERIFY(m_db->isOpened());
        m_options = std::make_unique<LocalOptions>(m_db.get());
        m_options->reload();
    }
    void cleanup()
    {
        m_options.reset();
        m_db.reset();
        m_folder.reset();
    }

    void readsWhatIsStoredButNotTheLanguage()
    {
        LocalOptionValues v = m_options->stored();
        QCOMPARE(v.sysLanguage, QString("English"));
        QCOMPARE(v.recordDuration, 300);
        QCOMPARE(v.snapshotQuality, 4);
        v.sysLanguage = "Klingon";
        QVERIFY(m_options->changedColumns(v).isEmpty());
    }

    void rangeEdges_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("accepted");
        const struct
        {
            const char *column;
            int low, high;
        } ranges[] = {
            {"reservedsize", 5, 50},  {"keepdays", 0, 365},      {"recordstream", 0, 1},  {"recordduration", 60, 600},
            {"prevrecord", 0, 3},     {"postrecord", 0, 3},      {"capturecount", 1, 10}, {"captureinterval", 1, 30},
            {"snapshotformat", 0, 1}, {"snapshotquality", 1, 6},
        };
        for (const auto &r : ranges) {
            QTest::addRow("%s %d", r.column, r.low - 1) << r.column << r.low - 1 << false;
            QTest::addRow("%s %d", r.column, r.low) << r.column << r.low << true;
            QTest::addRow("%s %d", r.column, r.high) << r.column << r.high << true;
            QTest::addRow("%s %d", r.column, r.high + 1) << r.column << r.high + 1 << false;
        }
    }
    // The edges are the readers' (the disk guard keeps at least 5 GiB, the
    // stream service takes snapshot intervals up to 30 s although the
    // database would store 60).
    void rangeEdges()
    {
        QFETCH(QString, name);
        QFETCH(int, value);
        QFETCH(bool, accepted);
        // Off the seed, so that each edge is a change.
        reloadAfter("update systeminfo set reservedsize=20, keepdays=100; update recordcapture set recordstream=-5,"
                    "recordduration=100, prevrecord=2, postrecord=2, capturecount=5, captureinterval=5,"
                    "snapshotformat=-5, snapshotquality=3");
        LocalOptionValues edited = m_options->stored();
        edited.autoAdd = !edited.autoAdd;
        LocalOptions::setValue(edited, name, value);
        const QString before = storedRow();
        const LocalOptions::Result r = m_options->save(edited);
        QCOMPARE(r.ok(), accepted);
        if (accepted) {
            QCOMPARE(stored(name).toInt(), value);
        } else {
            QCOMPARE(r.check.problem, LocalOptions::OutOfRange);
            QCOMPARE(r.check.column, name);
            QCOMPARE(storedRow(), before);
        }
    }

    void textsStayData_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::newRow("user quote") << "defuser"
                                    << "O'Brien";
        QTest::newRow("user statement") << "defuser"
                                        << "x'; drop table systeminfo; --";
        QTest::newRow("password quotes") << "defpwd"
                                         << "\"'\"''";
        QTest::newRow("password placeholder") << "defpwd"
                                              << "%1 ? :a";
        QTest::newRow("folder quote") << "recordpath"
                                      << "it's here";
        QTest::newRow("folder statement") << "snapshotpath"
                                          << "a'); delete from recordcapture; --";
    }
    void textsStayData()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        LocalOptionValues edited = m_options->stored();
        LocalOptions::setValue(edited, name, text); // folders land in the run folder
        const LocalOptions::Result r = m_options->save(edited);
        QVERIFY(r.ok());
        QCOMPARE(r.written, QStringList{name});
        QCOMPARE(stored(name).toString(), text);
        QCOMPARE(m_db->getDefaultUser(), name == "defuser" ? text : QString("admin"));
        QCOMPARE(m_db->getRecordDuration(), 300);
    }

    void typedNumbers_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("saved"); // -1: refused
        QTest::newRow("nothing") << "" << -1;
        QTest::newRow("minus only") << "-" << -1;
        QTest::newRow("not digits") << "12x" << -1;
        QTest::newRow("too long for a number") << "99999999999999" << -1;
        QTest::newRow("below") << "59" << -1;
        QTest::newRow("leading zero") << "0061" << 61;
        QTest::newRow("highest") << "600" << 600;
    }
    // A text that reads as no number is refused with the range, even where
    // it would have read as the stored one.
    void typedNumbers()
    {
        QFETCH(QString, typed);
        QFETCH(int, saved);
        LocalOptionValues edited = m_options->stored();
        LocalOptions::setTyped(edited, "recordduration", "12x");
        LocalOptions::setTyped(edited, "recordduration", typed);
        const QString before = storedRow();
        const LocalOptions::Result r = m_options->save(edited);
        if (saved < 0) {
            QCOMPARE(r.check.problem, LocalOptions::OutOfRange);
            QCOMPARE(r.check.column, QString("recordduration"));
            QCOMPARE(r.check.range.min, 60);
            QCOMPARE(r.check.range.max, 600);
            QCOMPARE(storedRow(), before);
        } else {
            QVERIFY(r.ok());
            QCOMPARE(m_db->getRecordDuration(), saved);
        }
    }

    // Checking makes nothing; a save that is refused, for a folder or for a
    // number after the folders, makes none of its new folders either.
    void refusedSaveMakesNoFolder()
    {
        const QString fresh = m_folder->filePath("fresh");
        LocalOptionValues edited = m_options->stored();
        edited.downloadPath = fresh + "/downloads";
        edited.recordPath = fresh + "/records/deeper";
        QVERIFY(m_options->check(edited).ok());
        QVERIFY(!QFileInfo::exists(fresh));
        edited.snapshotPath = blockedFolder(*m_folder);
        QCOMPARE(m_options->save(edited).check.problem, LocalOptions::FolderUnusable);
        QVERIFY(!QFileInfo::exists(fresh));
        edited.snapshotPath = m_options->stored().snapshotPath;
        edited.captureInterval = 31;
        QCOMPARE(m_options->save(edited).check.problem, LocalOptions::OutOfRange);
        QVERIFY(!QFileInfo::exists(fresh));
        edited.captureInterval = 30;
        QVERIFY(m_options->save(edited).ok());
        QVERIFY(QFileInfo(edited.recordPath).isDir());
        QVERIFY(QFileInfo(edited.downloadPath).isDir());
    }

    // A number the page cannot offer stays until that option is changed.
    void unshowableValuesKept()
    {
        reloadAfter("update systeminfo set reservedsize=2; update recordcapture set captureinterval=45");
        LocalOptionValues edited = m_options->stored();
        edited.keepDays = 7;
        QCOMPARE(m_options->save(edited).written, QStringList{"keepdays"});
        QCOMPARE(m_db->getCaptureInterval(), 45);
        QCOMPARE(m_db->getReservedSize(), 2);
        edited.captureInterval = 30;
        QCOMPARE(m_options->save(edited).written, QStringList{"captureinterval"});
        QCOMPARE(m_db->getCaptureInterval(), 30);
    }

    void folderRefusals_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("problem");
        for (const char *name : {"downloadpath", "recordpath", "snapshotpath"}) {
            QTest::addRow("%s blocked", name) << name << "<blocked>" << int(LocalOptions::FolderUnusable);
            QTest::addRow("%s empty", name) << name << "" << int(LocalOptions::FolderMissing);
            QTest::addRow("%s blank", name) << name << "   " << int(LocalOptions::FolderMissing);
        }
    }
    void folderRefusals()
    {
        QFETCH(QString, name);
        QFETCH(QString, folder);
        QFETCH(int, problem);
        if (folder == "<blocked>")
            folder = blockedFolder(*m_folder);
        LocalOptionValues edited = m_options->stored();
        edited.autoAdd = !edited.autoAdd; // before the folders, and still not written
        LocalOptions::setValue(edited, name, folder);
        const QString before = storedRow();
        const LocalOptions::Result r = m_options->save(edited);
        QCOMPARE(int(r.check.problem), problem);
        QCOMPARE(r.check.column, name);
        QCOMPARE(r.check.folder, folder);
        QCOMPARE(storedRow(), before);
    }

    // The first bad option in the page's order is named; an unusable folder
    // stored earlier is not judged while it stays.
    void firstProblemOnlyAmongChanges()
    {
        const QString blocked = blockedFolder(*m_folder);
        reloadAfter(QString("update systeminfo set downloadpath='%1'").arg(blocked));
        LocalOptionValues edited = m_options->stored();
        edited.captureCount = 0;
        edited.snapshotPath = blocked;
        edited.keepDays = 400;
        QCOMPARE(m_options->check(edited).column, QString("snapshotpath"));
        edited.snapshotPath = m_folder->filePath("new/snapshots");
        QCOMPARE(m_options->check(edited).column, QString("keepdays"));
        edited.keepDays = 10;
        edited.captureCount = 10;
        QVERIFY(m_options->save(edited).ok());
        QVERIFY(QFileInfo(edited.snapshotPath).isDir());
        QCOMPARE(QDir(edited.snapshotPath).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
        QCOMPARE(m_db->getDownloadPath(), blocked);
    }

    // A write that fails stops the save and names the option; the ones
    // before it hold, and stored() says so.
    void failedWriteIsReported()
    {
        reloadAfter("create trigger nokeep before update of keepdays on systeminfo "
                    "begin select raise(abort, 'no'); end;");
        LocalOptionValues edited = m_options->stored();
        edited.autoAdd = true;
        edited.keepDays = 10;
        edited.captureCount = 3;
        const LocalOptions::Result r = m_options->save(edited);
        QVERIFY(!r.ok());
        QCOMPARE(r.failedColumn, QString("keepdays"));
        QCOMPARE(r.written, QStringList{"autoadd"});
        QCOMPARE(m_options->stored().autoAdd, true);
        QCOMPARE(m_options->stored().keepDays, 30);
        QCOMPARE(m_db->getCaptureCount(), 1);
    }

    // Options that could not be read are nothing to compare an edit with:
    // a save then writes nothing, not the edit against blanks.
    void unreadOptionsSaveNothing()
    {
        {
            testsupport::HeldLock holder;
            QVERIFY(holder.hold(kDb));
            m_options->reload();
        }
        LocalOptionValues edited = m_options->stored();
        edited.keepDays = 10;
        const LocalOptions::Result refused = m_options->save(edited);
        QVERIFY(!refused.ok());
        QVERIFY(refused.written.isEmpty());
        QCOMPARE(RunFolder::query(kDb, "select keepdays from systeminfo"), QString("30"));
        m_options->reload();
        edited = m_options->stored();
        edited.keepDays = 10;
        QCOMPARE(m_options->save(edited).written, QStringList{"keepdays"});
    }
};

QTEST_GUILESS_MAIN(TestLocalOptions)
#include "tst_localoptions.moc"
