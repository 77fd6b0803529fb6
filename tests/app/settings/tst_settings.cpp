#include <QtTest>

#include <QFile>

#include <memory>

#include "app/database.h"
#include "tests/support/runfolder.h"

using testsupport::RunFolder;

static const QString kDb = QStringLiteral("quendalix.xdt");

static QString sql(const QString &query)
{
    return RunFolder::query(kDb, query);
}

class TestSettings : public QObject
{
    Q_OBJECT

    std::unique_ptr<RunFolder> m_folder;
    std::unique_ptr<qcDatabase> m_db;

private slots:
    void init()
    {
        m_folder.reset(new RunFolder);
        QVERIFY(m_folder->isValid());
        m_db.reset(new qcDatabase);
        QVERIFY2(m_db->isOpened(), qPrintable(m_db->openError()));
    }

    void cleanup()
    {
        m_db.reset();
        m_folder.reset();
    }

    // Every getter reads its own column: the seed values tell them apart.
    void gettersReadTheSeedRow()
    {
        QVERIFY(RunFolder::exec(kDb, "update systeminfo set autoadd=1, autologin=0, autoname='op', autoplay=1,"
                                     " defpwd='pw', downloadpath='dl', picexpiry=11, recexpiry=12, recordpath='rec',"
                                     " snapshotpath='snap', showmode=2, keepdays=13, viewcount=16;"
                                     "update recordcapture set recordskdenable=1, captureskdenable=0,"
                                     " recordstream=1, prevrecord=2, postrecord=3, capturecount=4,"
                                     " captureinterval=5, snapshotformat=6, snapshotquality=6"));
        QCOMPARE(m_db->getAutoAdd(), true);
        QCOMPARE(m_db->getAutoLogin(), false);
        QCOMPARE(m_db->getAutoName(), QString("op"));
        QCOMPARE(m_db->getAutoPlay(), true);
        QCOMPARE(m_db->getAutoStream(), true);
        QCOMPARE(m_db->getDefaultUser(), QString("admin"));
        QCOMPARE(m_db->getDefaultPassword(), QString("pw"));
        QCOMPARE(m_db->getReservedSize(), 5);
        QCOMPARE(m_db->getDownloadPath(), QString("dl"));
        QCOMPARE(m_db->getPictureExpiry(), 11);
        QCOMPARE(m_db->getRecordExpiry(), 12);
        QCOMPARE(m_db->getRecordPath(), QString("rec"));
        QCOMPARE(m_db->getSnapshotPath(), QString("snap"));
        QCOMPARE(m_db->getShowMode(), 2);
        QCOMPARE(m_db->getSysLanguage(), QString("English"));
        QCOMPARE(m_db->getKeepDays(), 13);
        QCOMPARE(m_db->getViewCount(), 16);
        QCOMPARE(m_db->getRecordScheduleEnable(), true);
        QCOMPARE(m_db->getCaptureScheduleEnable(), false);
        QCOMPARE(m_db->getRecordStream(), 1);
        QCOMPARE(m_db->getRecordDuration(), 300);
        QCOMPARE(m_db->getPrevRecord(), 2);
        QCOMPARE(m_db->getPostRecord(), 3);
        QCOMPARE(m_db->getCaptureCount(), 4);
        QCOMPARE(m_db->getCaptureInterval(), 5);
        QCOMPARE(m_db->getSnapshotFormat(), 6);
        QCOMPARE(m_db->getSnapshotQuality(), 6);
    }

    void nullsAndTextsGiveFailureValues()
    {
        QVERIFY(RunFolder::exec(kDb, "update systeminfo set viewcount=NULL, recordpath=NULL, showmode='abc',"
                                     " keepdays='12abc', autologin=2;"
                                     "update recordcapture set recordduration=NULL"));
        QCOMPARE(m_db->getViewCount(), 0);
        QCOMPARE(m_db->getRecordDuration(), -1);
        QCOMPARE(m_db->getRecordPath(), QString());
        QCOMPARE(m_db->getShowMode(), 0); // not a number: 0, not the failure value
        QCOMPARE(m_db->getKeepDays(), 0);
        QCOMPARE(m_db->getAutoLogin(), false);
        QVERIFY(RunFolder::exec(kDb, "update systeminfo set autologin=1"));
        QCOMPARE(m_db->getAutoLogin(), true);

        int value = 77;
        QCOMPARE(m_db->querySysInfoInt("viewcount", value), 2);
        QCOMPARE(value, 77); // written only when a value was read
        QCOMPARE(m_db->querySysInfoInt("showmode", value), 0);
        QCOMPARE(value, 0);
    }

    void settersWriteTheirColumn()
    {
        QVERIFY(m_db->setAutoLogin(true));
        QCOMPARE(sql("select autologin from systeminfo"), QString("1"));
        QVERIFY(m_db->setAutoLogin(true)); // unchanged value still written
        QVERIFY(m_db->setAutoLogin(false));
        QCOMPARE(sql("select autologin from systeminfo"), QString("0"));
        QVERIFY(m_db->setViewCount(9));
        QVERIFY(m_db->setRecordDuration(600));
        QCOMPARE(sql("select viewcount from systeminfo"), QString("9"));
        QCOMPARE(sql("select recordduration from recordcapture"), QString("600"));
        QVERIFY(m_db->setCaptureScheduleEnable(true));
        QCOMPARE(m_db->getCaptureScheduleEnable(), true);
    }

    void captureCountAndIntervalRanges()
    {
        QVERIFY(!m_db->setCaptureCount(0));
        QVERIFY(!m_db->setCaptureCount(11));
        QCOMPARE(sql("select capturecount from recordcapture"), QString("1"));
        QVERIFY(m_db->setCaptureCount(10));
        QCOMPARE(sql("select capturecount from recordcapture"), QString("10"));
        QVERIFY(!m_db->setCaptureInterval(0));
        QVERIFY(!m_db->setCaptureInterval(61));
        QCOMPARE(sql("select captureinterval from recordcapture"), QString("1"));
        QVERIFY(m_db->setCaptureInterval(60));
        QCOMPARE(m_db->getCaptureInterval(), 60);
    }

    void setterWithoutRowFails()
    {
        QVERIFY(RunFolder::exec(kDb, "delete from recordcapture; delete from systeminfo"));
        QVERIFY(!m_db->setRecordStream(1));
        QVERIFY(!m_db->setCaptureCount(5));
        QVERIFY(!m_db->setRecordPath("x"));
        QVERIFY(!m_db->setAutoAdd(true));
        QCOMPARE(m_db->getRecordStream(), -1);
        QCOMPARE(m_db->getReservedSize(), 0);
        QCOMPARE(m_db->getRecordPath(), QString());
        QString text;
        QCOMPARE(m_db->querySysInfoText("recordpath", text), 2);
        QCOMPARE(sql("select count(*) from recordcapture"), QString("0"));
    }

    void textWithQuotesRoundTrips()
    {
        const QString path = "/media/o'brien/rec';update users set password='x';--";
        QVERIFY(m_db->setRecordPath(path));
        QCOMPARE(m_db->getRecordPath(), path);
        QCOMPARE(sql("select recordpath from systeminfo"), path);
        QVERIFY(m_db->setDefaultPassword("%1%2 ''"));
        QCOMPARE(m_db->getDefaultPassword(), QString("%1%2 ''"));
        QCOMPARE(sql("select password from users"), QString("admin"));
    }

    void columnsOutsideTheListsAreRefused()
    {
        QString text = "untouched";
        int number = 42;
        // A number column asked for as text, the counter, and something else.
        QCOMPARE(m_db->querySysInfoText("viewcount", text), 1);
        QCOMPARE(m_db->querySysInfoInt("curdevindex", number), 1);
        QCOMPARE(m_db->querySysInfoInt("recordduration", number), 1); // other table
        QCOMPARE(m_db->queryRecordCaptureInt("viewcount from systeminfo --", number), 1);
        QCOMPARE(text, QString("untouched"));
        QCOMPARE(number, 42);
        QVERIFY(!m_db->updateSysInfoInt("keepdays = 1, viewcount", 64));
        QVERIFY(!m_db->updateSysInfoText("curdevindex", "1"));
        QVERIFY(!m_db->updateRecordCaptureInt("indexid", 3));
        QCOMPARE(sql("select keepdays,viewcount,curdevindex from systeminfo"), QString("30|4|1"));
        QCOMPARE(sql("select indexid from recordcapture"), QString("0"));
    }

    void closedDatabaseGivesFailureValues()
    {
        m_db.reset();
        QVERIFY(QFile::remove(kDb));
        m_db.reset(new qcDatabase);
        QVERIFY(!m_db->isOpened());
        QString text;
        int number = 0;
        QCOMPARE(m_db->querySysInfoText("recordpath", text), 3);
        QCOMPARE(m_db->queryRecordCaptureInt("capturecount", number), 3);
        QCOMPARE(m_db->getViewCount(), 0);
        QCOMPARE(m_db->getCaptureCount(), -1);
        QCOMPARE(m_db->getAutoStream(), false);
        QVERIFY(!m_db->setCaptureCount(3));
        QVERIFY(!m_db->setRecordPath("x"));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
