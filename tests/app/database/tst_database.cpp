#include <QtTest>

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <atomic>
#include <memory>
#include <sys/stat.h>

#include "app/core/database.h"
#include "app/core/loghelper.h"
#include "tests/support/heldlock.h"
#include "tests/support/runfolder.h"

using testsupport::HeldAWhile;
using testsupport::HeldLock;
using testsupport::RunFolder;

static const QString kDb = QStringLiteral("quendalix.xdt");
// How long the database waits for another program's lock, in ms.
static const int kBusyWaitMs = 2000;

static unsigned accessBits(const QString &file)
{
    struct stat st;
    return ::stat(QFile::encodeName(file).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

static QString sql(const QString &query)
{
    return RunFolder::query(kDb, query);
}

static _st_device_item device(const QString &name, const QString &address)
{
    _st_device_item d;
    d.devname = name;
    d.username = "admin";
    d.password = "secret";
    d.address = address;
    d.port = "80";
    d.devtype = "ipc";
    d.connecttype = 1;
    return d;
}

static _st_schedule_item schedule(const QString &ipaddr, int skdtype, const QString &days)
{
    _st_schedule_item s;
    s.devname = "cam";
    s.ipaddr = ipaddr;
    s.skdsun = s.skdmon = s.skdtue = s.skdwed = s.skdthu = s.skdfri = s.skdsat = days;
    s.skdtype = skdtype;
    s.enable = 1;
    return s;
}

class TestDatabase : public QObject
{
    Q_OBJECT

    std::unique_ptr<RunFolder> m_folder;
    std::unique_ptr<qcDatabase> m_db;

    // The store opens its file at construction, so seed edits come first.
    void open()
    {
        m_db.reset(new qcDatabase);
        QVERIFY2(m_db->isOpened(), qPrintable(m_db->openError()));
    }

private slots:
    void init()
    {
        m_folder.reset(new RunFolder);
        QVERIFY(m_folder->isValid());
    }

    void cleanup()
    {
        m_db.reset();
        m_folder.reset();
    }

    void addDeviceDrawsIndexFromCounter()
    {
        QVERIFY(RunFolder::exec(kDb, "update systeminfo set curdevindex=5"));
        open();
        _st_device_item d = device("cam", "10.0.0.1");
        d.indexid = 99; // whatever the caller had is replaced
        QCOMPARE(m_db->addDevice(d), qint64(5));
        QCOMPARE(sql("select curdevindex from systeminfo"), QString("6"));
        QCOMPARE(sql("select devname,address,indexid,connecttype from devices"), QString("cam|10.0.0.1|5|1"));
        QCOMPARE(m_db->getCurDevIndex(), qint64(6));

        _st_device_item cached;
        QVERIFY(m_db->getDevice(cached, 0));
        QCOMPARE(cached.indexid, qint64(5));
        d.indexid = 5;
        QVERIFY(cached == d);
        // The cached key is the row's key: an update through it lands.
        QVERIFY(m_db->updateDeviceText("devname", "renamed", cached.indexid));
        QCOMPARE(sql("select devname from devices where indexid=5"), QString("renamed"));

        QCOMPARE(m_db->addDevice(device("other name", "10.0.0.1")), qint64(-2));
        QCOMPARE(sql("select count(*) from devices"), QString("1"));
        QCOMPARE(m_db->addDevice(device("cam2", "10.0.0.2")), qint64(6));
        QCOMPARE(m_db->getDeviceCount(), 2);
    }

    void addDeviceRefusesUnusableCounter()
    {
        QVERIFY(RunFolder::exec(kDb, "update systeminfo set curdevindex=0"));
        open();
        QCOMPARE(m_db->getCurDevIndex(), qint64(-3));
        QCOMPARE(m_db->addDevice(device("cam", "10.0.0.1")), qint64(-1));
        QVERIFY(RunFolder::exec(kDb, "update systeminfo set curdevindex=NULL"));
        QCOMPARE(m_db->addDevice(device("cam", "10.0.0.1")), qint64(-1));
        QVERIFY(RunFolder::exec(kDb, "delete from systeminfo"));
        QCOMPARE(m_db->getCurDevIndex(), qint64(-1));
        QVERIFY(!m_db->setCurDevIndex(7)); // no row to write
        QCOMPARE(sql("select count(*) from devices"), QString("0"));
    }

    // A counter that fell behind the stored rows (a file copied back, a row
    // written by hand) steps past the largest stored index instead of
    // running into the unique key.
    void addDeviceStepsPastStoredIndexes_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<qint64>("counter");
        QTest::addColumn<qint64>("added");
        QTest::addColumn<QString>("counterAfter");
        QTest::newRow("counter on a stored index") << "3,7" << qint64(3) << qint64(8) << "9";
        QTest::newRow("counter behind every row") << "5" << qint64(1) << qint64(6) << "7";
        QTest::newRow("counter ahead") << "5" << qint64(10) << qint64(10) << "11";
        QTest::newRow("largest index taken") << "9223372036854775807" << qint64(2) << qint64(-3) << "2";
        QTest::newRow("counter at the largest index")
            << "" << qint64(9223372036854775807) << qint64(-3) << "9223372036854775807";
    }
    void addDeviceStepsPastStoredIndexes()
    {
        QFETCH(QString, stored);
        QFETCH(qint64, counter);
        QFETCH(qint64, added);
        QFETCH(QString, counterAfter);
        QString seed = QString("update systeminfo set curdevindex=%1;").arg(counter);
        for (const QString &index : stored.split(',', Qt::SkipEmptyParts))
            seed += QString("insert into devices(devname,address,indexid) values('old','10.0.1.%1',%1);").arg(index);
        QVERIFY(RunFolder::exec(kDb, seed));
        open();
        const int before = m_db->getDeviceCount();
        QString why = "stale";
        QCOMPARE(m_db->addDevice(device("cam", "10.0.0.1"), &why), added);
        QCOMPARE(sql("select curdevindex from systeminfo"), counterAfter);
        QCOMPARE(sql("select count(*) from devices where address='10.0.0.1'"), QString(added > 0 ? "1" : "0"));
        QCOMPARE(m_db->getDeviceCount(), before + (added > 0 ? 1 : 0));
        if (added > 0)
            QCOMPARE(sql("select indexid from devices where address='10.0.0.1'"), QString::number(added));
        // What the log says of a failure.
        QCOMPARE(why.isEmpty(), added > 0);
    }

    // A failed add, update or deletion is logged with what really happened,
    // in the database's own words where it gave any. The update and the
    // deletion work on a device stored as 10.0.0.2 with index 1, which stays.
    void deviceFailureSaysWhy_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("seed");
        QTest::addColumn<bool>("locked");
        QTest::addColumn<qint64>("result");
        QTest::addColumn<QString>("says");
        QTest::newRow("held locked by another connection") << "add"
                                                           << "" << true << qint64(-1) << "database is locked";
        QTest::newRow("insert refused") << "add"
                                        << "create trigger refuse before insert on devices "
                                           "begin select raise(abort, 'devices kept read-only'); end;"
                                        << false << qint64(-3) << "devices kept read-only";
        QTest::newRow("counter write refused") << "add"
                                               << "create trigger frozen before update of curdevindex on systeminfo "
                                                  "begin select raise(abort, 'counter frozen'); end;"
                                               << false << qint64(-3) << "counter frozen";
        QTest::newRow("no counter row") << "add"
                                        << "delete from systeminfo" << false << qint64(-1) << "holds no device counter";
        QTest::newRow("no index left") << "add"
                                       << "insert into devices(devname,address,indexid) "
                                          "values('old','10.0.1.1',9223372036854775807)"
                                       << false << qint64(-3) << "no index is left";
        const QString stored = "insert into devices(devname,address,indexid) values('old','10.0.0.2',1);";
        QTest::newRow("update, held locked") << "update" << stored << true << qint64(0) << "database is locked";
        QTest::newRow("update refused") << "update"
                                        << stored + "create trigger refuse before update on devices "
                                                    "begin select raise(abort, 'devices kept as they are'); end;"
                                        << false << qint64(0) << "devices kept as they are";
        QTest::newRow("update of no stored device") << "update"
                                                    << "" << false << qint64(0) << "holds no row to change";
        QTest::newRow("delete, held locked") << "delete" << stored << true << qint64(0) << "database is locked";
        QTest::newRow("delete refused") << "delete"
                                        << stored + "create trigger refuse before delete on devices "
                                                    "begin select raise(abort, 'devices kept as they are'); end;"
                                        << false << qint64(0) << "devices kept as they are";
    }
    void deviceFailureSaysWhy()
    {
        QFETCH(QString, operation);
        QFETCH(QString, seed);
        QFETCH(bool, locked);
        QFETCH(qint64, result);
        QFETCH(QString, says);
        if (!seed.isEmpty())
            QVERIFY(RunFolder::exec(kDb, seed));
        open();
        auto holder = std::make_unique<HeldLock>();
        if (locked)
            QVERIFY(holder->hold(kDb));
        QString why;
        _st_device_item changed = device("cam", "10.0.0.1");
        changed.indexid = 1;
        if (operation == "add")
            QCOMPARE(m_db->addDevice(changed, &why), result);
        else if (operation == "update")
            QCOMPARE(qint64(m_db->updateDevice(changed, &why)), result);
        else
            QCOMPARE(qint64(m_db->deleteDevice("10.0.0.2", &why)), result);
        holder.reset();
        QVERIFY2(!why.isEmpty() && why.contains(says), qPrintable(why));
        QVERIFY2(!why.contains("no usable number"), qPrintable(why));
        QCOMPARE(sql("select count(*) from devices where address='10.0.0.1'"), QString("0"));
        QCOMPARE(sql("select count(*) from devices where address='10.0.0.2'"),
                 QString(seed.contains("'10.0.0.2'") ? "1" : "0"));
    }

    void failedCounterWriteKeepsNoDevice()
    {
        QVERIFY(RunFolder::exec(kDb, "update systeminfo set curdevindex=3;"
                                     "create trigger nocount before update of curdevindex on systeminfo "
                                     "begin select raise(abort, 'counter locked'); end;"));
        open();
        QCOMPARE(m_db->addDevice(device("cam", "10.0.0.1")), qint64(-3));
        QCOMPARE(sql("select count(*) from devices"), QString("0"));
        QCOMPARE(sql("select curdevindex from systeminfo"), QString("3"));
        QCOMPARE(m_db->getDeviceCount(), 0);
        QVERIFY(m_db->isNewDevice("cam", "10.0.0.1"));
    }

    void existenceChecksLoadTheirCacheFirst()
    {
        QVERIFY(RunFolder::exec(kDb, "insert into devices(devname,address,indexid) values('old','10.0.0.8',1);"
                                     "insert into schedules(ipaddr,skdtype,applytype) values('10.0.0.8',0,0)"));
        open();
        // Nothing has been listed yet; the checks must still see the rows.
        QCOMPARE(m_db->addDevice(device("new", "10.0.0.8")), qint64(-2));
        QCOMPARE(m_db->addUser(_st_user_item{"admin", "x", "g", "d", 1}), 1);
        QCOMPARE(sql("select count(*) from users"), QString("1"));
        QVERIFY(!m_db->addSchedule(schedule("10.0.0.8", 1, "")));
        QCOMPARE(sql("select count(*) from schedules"), QString("1"));
    }

    void quotesAndPlaceholdersAreStoredVerbatim()
    {
        open();
        const QStringList nasty = {"'", "';drop table users;--", "%1"};
        for (const QString &text : nasty) {
            _st_device_item d = device(text, text);
            d.password = text;
            QVERIFY(m_db->addDevice(d) > 0);
            QCOMPARE(m_db->addUser(_st_user_item{text, text, text, text, 1}), 0);
            QVERIFY(m_db->addSchedule(schedule(text, 0, text)));
        }
        QCOMPARE(sql("select name from sqlite_master where type='table' order by name"),
                 QString("devices\nrecordcapture\nschedules\nsysteminfo\nusers"));
        QCOMPARE(sql("select count(*) from users"), QString("4"));
        // Only one store exists at a time (one connection name); a fresh one
        // reads everything back from the file.
        m_db.reset();
        open();
        for (int i = 0; i < nasty.size(); ++i) {
            _st_device_item d;
            QVERIFY(m_db->getDevice(d, i));
            QCOMPARE(d.devname, nasty.at(i));
            QCOMPARE(d.password, nasty.at(i));
            _st_user_item u;
            QVERIFY(m_db->findUser(u, nasty.at(i)));
            QCOMPARE(u.password, nasty.at(i));
            _st_schedule_item s;
            QVERIFY(m_db->getSchedule(s, i));
            QCOMPARE(s.skdwed, nasty.at(i));
        }
        QVERIFY(m_db->deleteUser("';drop table users;--"));
        QCOMPARE(sql("select count(*) from users"), QString("3"));
    }

    void columnNamesComeOnlyFromTheirLists()
    {
        open();
        QVERIFY(m_db->addDevice(device("cam", "10.0.0.1")) > 0);
        QVERIFY(!m_db->updateDeviceText("devname = 'x' where 1=1; --", "y", 1));
        QVERIFY(!m_db->updateDeviceInt("devname", 3, 1));        // a text column
        QVERIFY(!m_db->updateDeviceText("connecttype", "3", 1)); // an integer column
        QVERIFY(!m_db->updateUserText("usertype", "0", "admin"));
        QVERIFY(!m_db->updateUserInt("password", 0, "admin"));
        QVERIFY(!m_db->updateScheduleText("", 0, 0, "enable", "1"));
        QCOMPARE(sql("select devname,connecttype from devices"), QString("cam|1"));
        QCOMPARE(sql("select password,usertype from users"), QString("admin|511"));
        QVERIFY(m_db->updateDeviceInt("connecttype", 2, 1));
        QVERIFY(m_db->updateUserInt("usertype", 3, "admin"));
        QCOMPARE(sql("select connecttype from devices"), QString("2"));
    }

    void deleteDeviceTakesItsSchedules()
    {
        open();
        QVERIFY(m_db->addDevice(device("a", "10.0.0.1")) > 0);
        QVERIFY(m_db->addDevice(device("b", "10.0.0.2")) > 0);
        QVERIFY(m_db->addSchedule(schedule("10.0.0.1", 0, "1,0,60")));
        QVERIFY(m_db->addSchedule(schedule("10.0.0.2", 0, "1,60,120")));
        QCOMPARE(m_db->getScheduleCount(), 2);
        // Changed behind the cache: only a reload shows it.
        QVERIFY(RunFolder::exec(kDb, "update schedules set enable=0 where ipaddr='10.0.0.2'"));

        QVERIFY(m_db->deleteDevice("10.0.0.1"));
        QCOMPARE(sql("select address from devices"), QString("10.0.0.2"));
        QCOMPARE(sql("select ipaddr,enable from schedules"), QString("10.0.0.2|0"));
        QCOMPARE(m_db->getDeviceCount(), 1);
        QCOMPARE(m_db->getScheduleCount(), 1);
        _st_schedule_item s;
        QVERIFY(m_db->getSchedule(s, 0));
        QCOMPARE(s.ipaddr, QString("10.0.0.2"));
        QCOMPARE(s.enable, 0);

        QVERIFY(m_db->deleteDevice("10.9.9.9")); // absent: nothing to do
        QVERIFY(!m_db->deleteUser("nobody"));
        QCOMPARE(m_db->getUserCount(), 1);
        QVERIFY(!m_db->deleteScheduleType(5));
        QVERIFY(m_db->deleteScheduleType(0));
        QCOMPARE(m_db->getScheduleCount(), 0);
    }

    void deleteDeviceIsAllOrNothing()
    {
        QVERIFY(RunFolder::exec(kDb, "create trigger keep before delete on schedules "
                                     "begin select raise(abort, 'kept'); end;"));
        open();
        QVERIFY(m_db->addDevice(device("a", "10.0.0.1")) > 0);
        QVERIFY(m_db->addSchedule(schedule("10.0.0.1", 0, "x")));
        QVERIFY(!m_db->deleteDevice("10.0.0.1"));
        QCOMPARE(sql("select count(*) from devices"), QString("1"));
        QCOMPARE(m_db->getDeviceCount(), 1);
    }

    void updateDeviceIsAllOrNothing()
    {
        QVERIFY(RunFolder::exec(kDb, "create trigger noconn before update of connecttype on devices "
                                     "begin select raise(abort, 'no'); end;"));
        open();
        const qint64 id = m_db->addDevice(device("cam", "10.0.0.1"));
        QVERIFY(id > 0);
        _st_device_item changed = device("new name", "10.0.0.5");
        changed.username = "other";
        changed.password = "other";
        changed.connecttype = 2;
        changed.indexid = id;
        QVERIFY(!m_db->updateDevice(changed));
        QCOMPARE(sql("select devname,username,password,connecttype,address from devices"),
                 QString("cam|admin|secret|1|10.0.0.1"));
        _st_device_item cached;
        QVERIFY(m_db->getDevice(cached, 0));
        QCOMPARE(cached.devname, QString("cam"));

        QVERIFY(RunFolder::exec(kDb, "drop trigger noconn"));
        QVERIFY(m_db->updateDevice(changed));
        QCOMPARE(sql("select devname,username,password,connecttype,address,indexid from devices"),
                 QString("new name|other|other|2|10.0.0.5|%1").arg(id));
        QVERIFY(m_db->getDevice(cached, 0)); // read again from the table
        QVERIFY(cached == changed);

        changed.indexid = 777;
        QVERIFY(!m_db->updateDevice(changed));
        QVERIFY(!m_db->updateDeviceText("devname", "x", 777));
        QVERIFY(m_db->updateDevice(cached)); // same values again still count as written
    }

    // Schedules are kept under the device's address: a new address takes
    // them along in the same transaction, or nothing changes.
    void updateDeviceCarriesItsSchedules_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("schedules"); // ipaddr of every row afterwards, sorted
        QTest::newRow("address changed") << "10.0.0.5"
                                         << ""
                                         << "10.0.0.2\n10.0.0.5\nnull";
        QTest::newRow("address kept") << "10.0.0.1"
                                      << ""
                                      << "10.0.0.1\n10.0.0.2\nnull";
        QTest::newRow("move refused") << "10.0.0.5"
                                      << "create trigger keep before update on schedules "
                                         "begin select raise(abort, 'kept'); end;"
                                      << "10.0.0.1\n10.0.0.2\nnull";
        QTest::newRow("address of the other device") << "10.0.0.2"
                                                     << "/* none: the other device holds the address */"
                                                     << "10.0.0.1\n10.0.0.2\nnull";
    }
    void updateDeviceCarriesItsSchedules()
    {
        QFETCH(QString, address);
        QFETCH(QString, fault);
        QFETCH(QString, schedules);
        if (!fault.isEmpty())
            QVERIFY(RunFolder::exec(kDb, fault));
        open();
        const qint64 id = m_db->addDevice(device("a", "10.0.0.1"));
        QVERIFY(id > 0);
        QVERIFY(m_db->addDevice(device("b", "10.0.0.2")) > 0);
        QVERIFY(m_db->addSchedule(schedule("10.0.0.1", 0, "0:60-120")));
        QVERIFY(m_db->addSchedule(schedule("10.0.0.2", 0, "0:0-60")));
        QVERIFY(m_db->addSchedule(schedule("", 1, "0:0-1440")));
        _st_device_item changed = device("a", address);
        changed.indexid = id;
        QCOMPARE(m_db->updateDevice(changed), fault.isEmpty());
        QCOMPARE(sql("select ipaddr from schedules order by ipaddr"), schedules);
        QCOMPARE(sql("select address from devices where indexid = " + QString::number(id)),
                 fault.isEmpty() ? address : QString("10.0.0.1"));
        QStringList cached;
        _st_schedule_item s;
        for (int i = 0; m_db->getSchedule(s, i); ++i)
            cached << s.ipaddr;
        cached.sort();
        QCOMPARE(cached.join('\n'), schedules);
        const int moved =
            sql("select count(*) from schedules where ipaddr = '" + address + "' and skdmon = '0:60-120'").toInt();
        QCOMPARE(moved, fault.isEmpty() ? 1 : 0);
    }

    void updateUserIsAllOrNothing()
    {
        QVERIFY(RunFolder::exec(kDb, "create trigger nodecl before update of userdecl on users "
                                     "begin select raise(abort, 'no'); end;"));
        open();
        QVERIFY(!m_db->updateUser(_st_user_item{"admin", "new", "Operators", "x", 3}));
        QCOMPARE(sql("select password,usertype,usergroup from users"), QString("admin|511|Administrator"));
        QVERIFY(!m_db->updateUser(_st_user_item{"ghost", "p", "g", "d", 1}));
        QVERIFY(!m_db->updateUserText("password", "p", "ghost"));
    }

    void updateScheduleIsAllOrNothing()
    {
        QVERIFY(RunFolder::exec(kDb, "insert into schedules(applytype,ipaddr,skdsun,skdmon,skdwed,skdtype,enable) "
                                     "values(0,'10.0.0.4','old','old','old',0,1);"
                                     "create trigger nowed before update of skdwed on schedules "
                                     "begin select raise(abort, 'no'); end;"));
        open();
        QCOMPARE(m_db->getScheduleCount(), 1);
        QVERIFY(!m_db->updateSchedule(schedule("10.0.0.4", 0, "new")));
        QCOMPARE(sql("select skdsun,skdmon,skdwed from schedules"), QString("old|old|old"));
        _st_schedule_item s;
        QVERIFY(m_db->getSchedule(s, 0));
        QCOMPARE(s.skdsun, QString("old"));
    }

    void schedulesKeyedByAddressAndNull()
    {
        QVERIFY(RunFolder::exec(kDb, "insert into schedules(applytype,ipaddr,skdsun,skdtype,enable) "
                                     "values(0,'null','old',0,1)"));
        open();
        // One schedule per device address, whatever its kind.
        QVERIFY(!m_db->addSchedule(schedule("", 1, "new")));
        QVERIFY(m_db->addSchedule(schedule("10.0.0.3", 0, "a")));
        QVERIFY(!m_db->addSchedule(schedule("10.0.0.3", 1, "b")));
        QCOMPARE(sql("select count(*) from schedules"), QString("2"));

        QVERIFY(m_db->updateSchedule(schedule("", 0, "1,0,1440")));
        QCOMPARE(sql("select skdsun,skdsat from schedules where ipaddr='null'"), QString("1,0,1440|1,0,1440"));
        QVERIFY(m_db->updateScheduleColumn("", 0, 0, "skdmon", "2,0,30"));
        QCOMPARE(sql("select skdmon from schedules where ipaddr='null'"), QString("2,0,30"));
        _st_schedule_item s;
        QVERIFY(m_db->getSchedule(s, 0)); // reloaded after the update
        QCOMPARE(s.skdmon, QString("2,0,30"));

        QVERIFY(!m_db->updateSchedule(schedule("10.0.0.3", 1, "z"))); // no row of that kind
        QCOMPARE(sql("select skdsun from schedules where ipaddr='10.0.0.3'"), QString("a"));
    }

    // Every getter reads its own column: the seed values tell them apart.
    void gettersReadTheSeedRow()
    {
        open();
        QVERIFY(RunFolder::exec(kDb, "update systeminfo set autoadd=1, autologin=0, autoname='op', autoplay=1,"
                                     " defpwd='pw', downloadpath='dl', picexpiry=11, recexpiry=12, recordpath='rec',"
                                     " snapshotpath='snap', showmode=2, keepdays=13, viewcount=16;"
                                     "update recordcapture set recordskdenable=1, captureskdenable=0,"
                                     " recordstream=1, prevrecord=2, postrecord=3, capturecount=4,"
                                     " captureinterval=5, snapshotformat=6, snapshotquality=6"));
        qcDatabase &db = *m_db;
        QCOMPARE((QVariantList{db.getAutoAdd(), db.getAutoLogin(), db.getAutoName(), db.getAutoPlay(),
                               db.getAutoStream(), db.getDefaultUser(), db.getDefaultPassword(), db.getReservedSize(),
                               db.getDownloadPath(), db.getPictureExpiry(), db.getRecordExpiry(), db.getRecordPath(),
                               db.getSnapshotPath(), db.getShowMode(), db.getSysLanguage(), db.getKeepDays()}),
                 (QVariantList{true, false, "op", true, true, "admin", "pw", 5, "dl", 11, 12, "rec", "snap", 2,
                               "English", 13}));
        QCOMPARE((QVariantList{db.getViewCount(), db.getRecordScheduleEnable(), db.getCaptureScheduleEnable(),
                               db.getRecordStream(), db.getRecordDuration(), db.getPrevRecord(), db.getPostRecord(),
                               db.getCaptureCount(), db.getCaptureInterval(), db.getSnapshotFormat(),
                               db.getSnapshotQuality()}),
                 (QVariantList{16, true, false, 1, 300, 2, 3, 4, 5, 6, 6}));
    }

    void nullsAndTextsGiveFailureValues()
    {
        open();
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

    // Text through quotes, flags as 0 or 1, numbers in either table; the same
    // value again still counts as written.
    void settersWriteTheirColumn()
    {
        open();
        const QString path = "/media/o'brien/rec';update users set password='x';--";
        QVERIFY(m_db->setRecordPath(path));
        QVERIFY(m_db->setRecordPath(path));
        QVERIFY(m_db->setDefaultPassword("%1%2 ''"));
        QVERIFY(m_db->setAutoLogin(true));
        QVERIFY(m_db->setViewCount(9));
        QVERIFY(m_db->setRecordDuration(600));
        QCOMPARE(sql("select recordpath,defpwd,autologin,viewcount from systeminfo"), path + "|%1%2 ''|1|9");
        QCOMPARE(sql("select recordduration from recordcapture"), QString("600"));
        QCOMPARE(sql("select password from users"), QString("admin"));
        QCOMPARE(m_db->getRecordPath(), path);
    }

    void captureCountAndIntervalRanges()
    {
        open();
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
        open();
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

    void columnsOutsideTheListsAreRefused()
    {
        open();
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

    void missingFileIsNeitherCreatedNorOpened()
    {
        QVERIFY(QFile::remove(kDb));
        m_db.reset(new qcDatabase);
        QVERIFY(!m_db->isOpened());
        QVERIFY(!QFile::exists(kDb));
        QVERIFY(m_db->openError().contains(kDb));
        QVERIFY(m_db->openError().contains("missing"));
        QCOMPARE(m_db->getDeviceCount(), 0);
        QCOMPARE(m_db->addDevice(device("cam", "10.0.0.1")), qint64(-1));
        QCOMPARE(m_db->addUser(_st_user_item{"u", "p", "g", "d", 1}), 3);
        QVERIFY(!m_db->deleteDevice("10.0.0.1"));
        _st_user_item u;
        QVERIFY(!m_db->findUser(u, "admin"));
        QCOMPARE(m_db->getAutoLogin(), false);
        // The settings accessors give their failure values and write nothing.
        QString text;
        int number = 0;
        QCOMPARE(m_db->querySysInfoText("recordpath", text), 3);
        QCOMPARE(m_db->queryRecordCaptureInt("capturecount", number), 3);
        QVERIFY(!m_db->setCaptureCount(3));
        QVERIFY(!m_db->setRecordPath("x"));
        QVERIFY(!QFile::exists(kDb));
    }

    void recordsDifferingInOneFieldAreUnequal()
    {
        _st_device_item a = device("cam", "10.0.0.1");
        _st_device_item b = a;
        QVERIFY(a == b);
        b.indexid = 5;
        QVERIFY(a != b);
        const _st_user_item u{"op", "x", "g", "d", 1};
        _st_user_item v = u;
        v.usertype = 4;
        QVERIFY(u != v);
    }

    // Both databases hold the device passwords: the build makes them for the
    // owner only, and start-up closes a copy that others may read.
    void databasesArePrivate()
    {
        const QString log = QString::fromLatin1(qcLogHelper::kFileName);
        QCOMPARE(accessBits(QDir(RunFolder::seedDir()).filePath(kDb)), 0600u);
        QCOMPARE(accessBits(QDir(RunFolder::seedDir()).filePath(log)), 0600u);
        QCOMPARE(accessBits(kDb), 0644u);
        QCOMPARE(accessBits(log), 0644u);
        open();
        QString reason;
        QVERIFY2(qcLogHelper::checkDatabaseFile(&reason), qPrintable(reason));
        QCOMPARE(accessBits(kDb), 0600u);
        QCOMPARE(accessBits(log), 0600u);
    }

    void fileWithoutTableIsRefused()
    {
        QVERIFY(RunFolder::exec(kDb, "drop table systeminfo"));
        m_db.reset(new qcDatabase);
        QVERIFY(!m_db->isOpened());
        QVERIFY(m_db->openError().contains("systeminfo"));
        m_db.reset();

        QFile f(kDb);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QByteArray(4096, 'x'));
        f.close();
        m_db.reset(new qcDatabase);
        QVERIFY(!m_db->isOpened());
        QVERIFY(m_db->openError().contains("not a database"));
        QCOMPARE(f.size(), qint64(4096));
    }

    // Another program holding the file at launch: still refused, as busy.
    void heldAtLaunchIsToldBusy()
    {
        HeldLock holder;
        QVERIFY(holder.hold(kDb));
        m_db.reset(new qcDatabase);
        QVERIFY(!m_db->isOpened());
        QVERIFY2(m_db->openError().contains("busy") && !m_db->openError().contains("not a database"),
                 qPrintable(m_db->openError()));
    }

    // Held while the list is loaded for an add and let go before the insert
    // could give up: no list may then be made of the new row alone, nor a
    // schedule stored twice.
    void cacheOnlyFromALoadThatWorked_data()
    {
        QTest::addColumn<QString>("table");
        QTest::newRow("users") << "users";
        QTest::newRow("schedules") << "schedules";
    }
    void cacheOnlyFromALoadThatWorked()
    {
        QFETCH(QString, table);
        QVERIFY(RunFolder::exec(kDb, "insert into schedules(ipaddr,skdtype,applytype) values('10.0.0.8',0,0)"));
        open();
        HeldAWhile holder(kDb, "exclusive", kBusyWaitMs * 3 / 2);
        QTRY_VERIFY(holder.held);
        if (table == "users")
            m_db->addUser(_st_user_item{"op", "pw", "g", "d", 1});
        else
            m_db->addSchedule(schedule("10.0.0.8", 0, "0:0-60"));
        holder.join();
        QCoreApplication::processEvents();
        QCOMPARE(sql("select count(*) from schedules"), QString("1"));
        const int cached = table == "users" ? m_db->getUserCount() : m_db->getScheduleCount();
        QCOMPARE(QString::number(cached), sql("select count(*) from " + table));
    }

    // One turn of the event loop waits for a held file once, however many
    // reads it makes; none of them passes for a stored value.
    void oneTurnWaitsOnce()
    {
        QVERIFY(RunFolder::exec(kDb, "update systeminfo set recordpath='rec'"));
        open();
        auto holder = std::make_unique<HeldLock>();
        QVERIFY(holder->hold(kDb));
        QList<_st_device_item> devices;
        QList<_st_user_item> users;
        QList<_st_schedule_item> schedules;
        QVERIFY(m_db->readSettings().status().busy());
        QVERIFY(m_db->readDevices(devices).busy());
        QVERIFY(m_db->readUsers(users).busy());
        QVERIFY(m_db->readSchedules(schedules).busy());
        QVERIFY(m_db->reloadSchedules().busy());
        QCOMPARE(m_db->getRecordPath(), QString());
        QCOMPARE(m_db->busyWaits(), quint64(1));
        holder.reset();
        const SettingsRow row = m_db->readSettings();
        QVERIFY(row.ok());
        QCOMPARE(row.getRecordPath(), QString("rec"));
        QCOMPARE(row.value("recordduration"), QVariant(300));
        QVERIFY(m_db->readUsers(users).ok());
        QCOMPARE(users.size(), 1);

        // The next turn waits again.
        QCoreApplication::processEvents();
        holder = std::make_unique<HeldLock>();
        QVERIFY(holder->hold(kDb));
        QVERIFY(m_db->readDevices(devices).busy());
        QCOMPARE(m_db->busyWaits(), quint64(2));
    }

    // Another program's write under way for a moment (an immediate lock
    // held 600 ms) is waited for, also by a change that reads before it
    // writes, and the change is stored.
    void briefWriterIsWaitedFor_data()
    {
        QTest::addColumn<bool>("add");
        QTest::newRow("add") << true;
        QTest::newRow("update to a new address") << false;
    }
    void briefWriterIsWaitedFor()
    {
        QFETCH(bool, add);
        QVERIFY(RunFolder::exec(kDb, "insert into devices(devname,address,indexid) values('old','10.0.0.2',1)"));
        open();
        HeldAWhile writer(kDb, "immediate", 600);
        QTRY_VERIFY(writer.held);
        QString why;
        _st_device_item changed = device("cam", "10.0.0.1");
        changed.indexid = 1;
        QVERIFY2(add ? m_db->addDevice(changed, &why) > 0 : m_db->updateDevice(changed, &why), qPrintable(why));
        QCOMPARE(sql("select count(*) from devices where address = '10.0.0.1'"), QString("1"));
    }

    // A device another program stored after the list was read still holds
    // its address.
    void addressStoredMeanwhileIsRefused()
    {
        open();
        QVERIFY(m_db->addDevice(device("a", "10.0.0.1")) > 0);
        QVERIFY(RunFolder::exec(kDb, "insert into devices(devname,address,indexid) values('c','10.0.0.3',50)"));
        QCOMPARE(m_db->addDevice(device("d", "10.0.0.3")), qint64(-2));
        QCOMPARE(sql("select devname from devices where address='10.0.0.3'"), QString("c"));
    }

    // One camera whatever the spelling of its address: an add, or a move of
    // device a, to another spelling of b's stored 10.0.0.003 is refused, both
    // when the list read before holds b and when b was stored meanwhile; a
    // device may spell its own address anew.
    void addressInAnotherSpelling_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<bool>("meanwhile");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("stored"); // every address afterwards
        const char *kept = "10.0.0.01\n10.0.0.003";
        QTest::newRow("add, listed") << "add" << false << "10.0.0.3" << kept;
        QTest::newRow("add, stored meanwhile") << "add" << true << "10.0.0.03" << kept;
        QTest::newRow("update, listed") << "update" << false << "010.0.0.3" << kept;
        QTest::newRow("update, stored meanwhile") << "update" << true << "10.0.0.3" << kept;
        QTest::newRow("update to its own address respelt") << "update" << true << "10.0.0.1"
                                                           << "10.0.0.1\n10.0.0.003";
    }
    void addressInAnotherSpelling()
    {
        QFETCH(QString, operation);
        QFETCH(bool, meanwhile);
        QFETCH(QString, address);
        QFETCH(QString, stored);
        const QString b = "insert into devices(devname,address,indexid) values('b','10.0.0.003',50)";
        if (!meanwhile)
            QVERIFY(RunFolder::exec(kDb, b));
        open();
        const qint64 a = m_db->addDevice(device("a", "10.0.0.01"));
        QVERIFY(a > 0);
        if (meanwhile)
            QVERIFY(RunFolder::exec(kDb, b));
        _st_device_item changed = device(operation == "add" ? "c" : "a", address);
        changed.indexid = a;
        QString why;
        const bool refused = stored != "10.0.0.1\n10.0.0.003";
        if (operation == "add")
            QCOMPARE(m_db->addDevice(changed, &why), qcDatabase::kAddressStored);
        else
            QCOMPARE(m_db->updateDevice(changed, &why), !refused);
        QCOMPARE(why, refused ? QString(qcDatabase::kAddressHeld) : QString());
        QCOMPARE(sql("select address from devices order by devname"), stored);
    }

    void workerThreadReadsThroughItsOwnConnection()
    {
        open();
        std::atomic<bool> stop{false};
        std::atomic<int> reads{0}, wrong{0};
        QStringList workerConnections;
        QThread *worker = QThread::create([&] {
            while (!stop) {
                if (m_db->getPictureExpiry() != 30 || m_db->getRecordExpiry() != 30 || m_db->getRecordPath() != "." ||
                    m_db->getSnapshotPath() != ".")
                    ++wrong;
                if (++reads == 1)
                    workerConnections = QSqlDatabase::connectionNames();
            }
        });
        worker->start();
        // Keep writing until the reader has been busy alongside for a while.
        int added = 0, kept = 0;
        QElapsedTimer clock;
        clock.start();
        while ((added < 40 || reads < 200) && clock.elapsed() < 30000) {
            const QString address = QStringLiteral("10.1.%1.%2").arg(added / 250).arg(added % 250);
            QVERIFY(m_db->addDevice(device("cam", address)) > 0);
            if (added++ % 2)
                QVERIFY(m_db->deleteDevice(address));
            else
                ++kept;
        }
        stop = true;
        QVERIFY(worker->wait(20000));
        delete worker;
        QVERIFY(reads >= 200);
        QCOMPARE(wrong.load(), 0);
        QCOMPARE(m_db->getDeviceCount(), kept);
        QCOMPARE(sql("select count(*) from devices"), QString::number(kept));
        // The worker had a connection besides "systeminfo", gone with the thread.
        QVERIFY(workerConnections.size() >= 2);
        QVERIFY(workerConnections.contains(qcDatabase::kConnectionName));
        QCOMPARE(QSqlDatabase::connectionNames(), QStringList{qcDatabase::kConnectionName});
    }
};

QTEST_GUILESS_MAIN(TestDatabase)
#include "tst_database.moc"
