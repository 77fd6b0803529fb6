// A record or snapshot folder stored empty, blank or NULL is the run folder,
// never the file system's root. Run by readonlyroot.sh: the root is
// read-only there, so a path built from "" fails instead of landing on the
// real root.

#include "app/core/database.h"
#include "liveview/qclivelocalconfig.h"
#include "media/qcstreamserver.h"
#include "media/recordfolders.h"
#include "tests/support/diskroom.h"
#include "tests/support/livepage.h"
#include "tests/support/systemlog.h"

#include <QDir>
#include <QtTest>

namespace {

QString absolute(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

class BlankFoldersTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("ARDO_READONLY_ROOT"))
            QSKIP("runs only inside readonlyroot.sh");
        testsupport::assumePlentyOfRoom();
    }

    // Each row starts from a program whose folders were set: a fault told
    // once is told again only after it was mended.
    void init()
    {
        recordfolders::usable("recordpath", ".");
        recordfolders::usable("snapshotpath", ".");
    }

    void blankFolderIsTheRunFolder_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        for (const char *setting : {"recordpath", "snapshotpath"}) {
            QTest::addRow("%s empty", setting) << setting << "''"
                                               << "";
            QTest::addRow("%s blank", setting) << setting << "'  '"
                                               << "  ";
            QTest::addRow("%s NULL", setting) << setting << "NULL"
                                              << "";
        }
    }
    void blankFolderIsTheRunFolder()
    {
        QFETCH(QString, setting);
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        const QDir temporaryRoot(QDir::tempPath());
        testsupport::LivePageFixture fixture({QString("UPDATE systeminfo SET %1=%2").arg(setting, stored)});
        QVERIFY(fixture.isValid());
        const QString run = absolute(fixture.path());
        QCOMPARE(absolute(QDir::currentPath()), run);

        // Read at start and again on every save, as the live page does.
        qcStreamServer server;
        _st_local_config config;
        for (int reload = 0; reload < 2; ++reload) {
            config = livelocalconfig::read(g_database);
            QVERIFY(livelocalconfig::handOptions(&server, config));
        }
        const QString records = setting == "recordpath" ? run + "/RecordFile" : run + "/records/RecordFile";
        const QString pictures = setting == "snapshotpath" ? run + "/CaptureFile" : run + "/snapshots/CaptureFile";
        QCOMPARE(absolute(server.recordRoot()), records);
        QCOMPARE(absolute(server.captureRoot()), pictures);
        QVERIFY(QFileInfo(records).isDir());
        QVERIFY(QFileInfo(pictures).isDir());
        // A manual recording and a manual snapshot of the live page.
        QVERIFY(absolute(server.buildRecordPath("10.9.8.7", 28)).startsWith(records + '/'));
        QCOMPARE(absolute(recordfolders::captureRoot(config.snapshotpath)), pictures);
        QCOMPARE(temporaryRoot.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{QFileInfo(run).fileName()});

        fixture.flushLog();
        QCOMPARE(testsupport::abnormalEvents(fixture.logFile()),
                 QStringList{QString("folder setting empty||%1 \"%2\" names no folder: the run folder \".\" is used")
                                 .arg(setting, shown)});
    }
};

QTEST_GUILESS_MAIN(BlankFoldersTest)
#include "tst_blankfolders.moc"
