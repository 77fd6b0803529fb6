#include <QtTest>

#include "app/core/pathsetting.h"
#include "tests/support/runfolder.h"

class TestFolders : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_run.reset(new testsupport::RunFolder);
        QVERIFY(m_run->isValid());
    }
    void cleanup() { m_run.reset(); }

    void missingFileReadsEmptyAndFirstSetCreatesIt()
    {
        QVERIFY(!QFile::exists(kConfigureIni));
        for (int id = 672; id <= 680; ++id)
            QCOMPARE(getPathSetting(id), QString());
        QVERIFY(!QFile::exists(kConfigureIni));

        QVERIFY(setPathSetting(PATH_EXPORT, "/srv/export dir"));
        QVERIFY(QFile::exists(kConfigureIni));
        QCOMPARE(getPathSetting(677), QString("/srv/export dir"));
        QCOMPARE(getPathSetting(676), QString());
    }

    void everyIdHasItsOwnKeyUnderGeneral()
    {
        const char *keys[] = {"DWNDIR", "RECDIR", "PICDIR", "INPTDIR", "OUPTDIR", "FMDIR", "NORDIR"};
        for (int id = 673; id <= 679; ++id)
            QVERIFY(setPathSetting(id, QString("/f/%1").arg(id)));
        QFile f(kConfigureIni);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray ini = f.readAll();
        QVERIFY(ini.startsWith("[General]"));
        for (int i = 0; i < 7; ++i) {
            QVERIFY2(ini.contains(QByteArray(keys[i]) + "=/f/" + QByteArray::number(673 + i)), ini.constData());
            QCOMPARE(getPathSetting(673 + i), QString("/f/%1").arg(673 + i));
        }
    }

    void unknownIdWritesNothing()
    {
        QVERIFY(!setPathSetting(680, "/x"));
        QVERIFY(!setPathSetting(672, "/x"));
        QVERIFY(!QFile::exists(kConfigureIni));
        QCOMPARE(getPathSetting(680), QString());
    }

    void unwritableFileIsReported()
    {
        // A folder where the file should be: the write cannot succeed.
        QVERIFY(QDir().mkdir(kConfigureIni));
        QVERIFY(!setPathSetting(PATH_IMPORT, "/x"));
    }

    void parentDir_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("parent");
        QTest::newRow("file") << QString("C:/records/a.xml") << QString("C:/records");
        QTest::newRow("absolute") << QString("/a/b") << QString("/a");
        QTest::newRow("trailing separator") << QString("C:/records/") << QString("C:/records");
        QTest::newRow("no separator") << QString("a.xml") << QString("");
        QTest::newRow("backslashes only") << QString("C:\\records\\a.xml") << QString("");
        QTest::newRow("empty") << QString("") << QString("");
    }

    void parentDir()
    {
        QFETCH(QString, path);
        QFETCH(QString, parent);
        QCOMPARE(getParentDir(path), parent);
    }

private:
    std::unique_ptr<testsupport::RunFolder> m_run;
};

QTEST_GUILESS_MAIN(TestFolders)
#include "tst_folders.moc"
