#include "app/core/database.h"
#include "liveview/livegrid.h"
#include "liveview/qclivelocalconfig.h"
#include "liveview/qcreadretry.h"
#include "liveview/qwliveview.h"
#include "media/qcstreamserver.h"
#include "tests/support/diskroom.h"
#include "tests/support/heldlock.h"
#include "tests/support/livepage.h"
#include "tests/support/schedulerow.h"
#include "tests/support/systemlog.h"
#include "livedevices.h"

#include <QDir>
#include <QtTest>

namespace {

QString row(int applyTo, const QString &address, const QString &days, int type, int enable = 1)
{
    return testsupport::scheduleRow(applyTo, address, {days}, type, enable);
}

// The waits for a held file of `times` reads that the page tries again on
// its own, each in a turn of the event loop of its own.
quint64 retryWaits(qwLiveView &page, int times)
{
    auto *retry = page.findChild<qcReadRetry *>();
    const quint64 before = g_database->busyWaits();
    for (int i = 0; retry && i < times; ++i) {
        QCoreApplication::processEvents();
        retry->retry();
    }
    return retry ? g_database->busyWaits() - before : ~quint64(0);
}

} // namespace

class SchedulesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        testsupport::assumePlentyOfRoom();
    }

    void segments_data()
    {
        QTest::addColumn<QString>("segment");
        QTest::addColumn<int>("scheduleType");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::newRow("alarm window") << "1:480-1080" << 0 << true << 480 << 1080;
        QTest::newRow("capture") << "1:480-1080" << 1 << true << 480 << 1080;
        QTest::newRow("no number") << "0:abc-100" << 0 << true << 0 << 100;
        QTest::newRow("type 2") << "2:0-100" << 0 << false << 0 << 0;
        QTest::newRow("no hyphen") << "0:100" << 0 << false << 0 << 0;
        QTest::newRow("three parts") << "0:1-2-3" << 0 << false << 0 << 0;
        QTest::newRow("empty") << "" << 0 << false << 0 << 0;
        QTest::newRow("start = end") << "0:500-500" << 0 << false << 0 << 0;
        QTest::newRow("end before start") << "0:700-500" << 0 << false << 0 << 0;
        QTest::newRow("schedule type 2") << "0:0-100" << 2 << false << 0 << 0;
    }
    void segments()
    {
        QFETCH(QString, segment);
        QFETCH(int, scheduleType);
        QFETCH(bool, accepted);
        QFETCH(int, start);
        QFETCH(int, end);
        testsupport::LivePageFixture fixture;
        QVERIFY(fixture.isValid());
        qwLiveView page;
        QCOMPARE(page.addScheduleItem(segment, scheduleType, 1, 1, "1.2.3.4", 3), accepted);
        const auto list =
            scheduleType == 1 ? page.streamServer()->captureSchedules() : page.streamServer()->recordSchedules();
        QCOMPARE(list.size(), accepted ? 1 : 0);
        if (accepted) {
            QCOMPARE(list.at(0).segmentType, 1 - (segment.startsWith('0') ? 1 : 0));
            QCOMPARE(list.at(0).start, start);
            QCOMPARE(list.at(0).end, end);
            QCOMPARE(list.at(0).day, 3);
            QCOMPARE(list.at(0).devices, QStringList{"1.2.3.4"});
        }
    }

    // A stored value the service cannot take is clamped, and the operator
    // told once per value, however often the settings are read again.
    void clampedSettingLoggedOnce_data()
    {
        QTest::addColumn<QString>("update");
        QTest::addColumn<QString>("note");
        QTest::newRow("record length") << "UPDATE recordcapture SET recordduration=5000"
                                       << "recordduration 5000 is outside 60 to 600: 600 is used";
        QTest::newRow("NULL picture count") << "UPDATE recordcapture SET capturecount=NULL"
                                            << "capturecount -1 is outside 1 to 10: 1 is used";
        QTest::newRow("reserve") << "UPDATE systeminfo SET reservedsize=2"
                                 << "reservedsize 2 is outside 5 to 50: 5 is used";
    }
    void clampedSettingLoggedOnce()
    {
        QFETCH(QString, update);
        QFETCH(QString, note);
        testsupport::LivePageFixture fixture({update});
        QVERIFY(fixture.isValid());
        qcStreamServer server;
        for (int reload = 0; reload < 3; ++reload)
            QVERIFY(livelocalconfig::handOptions(&server, livelocalconfig::read(g_database)));
        fixture.flushLog();
        QCOMPARE(testsupport::abnormalEvents(fixture.logFile()), QStringList{"setting out of range||" + note});
    }

    // A row the service cannot read whole is told once, not at each reload.
    void unreadableScheduleLoggedOnce_data()
    {
        QTest::addColumn<QStringList>("days");
        QTest::addColumn<QString>("enable"); // as the statement writes it
        QTest::addColumn<QString>("note");
        const QString whole = "0:0-1440";
        const QString row = "recording schedule of 10.9.8.7: ";
        QTest::newRow("no range") << QStringList{"0:abc;0:60-120", whole} << "1"
                                  << row + "sunday \"0:abc;0:60-120\" cannot be read; 1 of 8 segments skipped";
        QTest::newRow("end before start") << QStringList{whole, "0:700-500", whole} << "1"
                                          << row + "monday \"0:700-500\" cannot be read; 1 of 7 segments skipped";
        QTest::newRow("kind 2") << QStringList{whole, whole, whole, whole, whole, whole, "2:0-100;3:1-2"} << "1"
                                << row + "saturday \"2:0-100;3:1-2\" cannot be read; 2 of 8 segments skipped";
        QTest::newRow("enable 2") << QStringList{whole} << "2"
                                  << row + "enable 2 is neither 0 nor 1; the schedule is off";
        QTest::newRow("enable 'yes'") << QStringList{whole} << "'yes'"
                                      << row + "enable yes is neither 0 nor 1; the schedule is off";
    }
    void unreadableScheduleLoggedOnce()
    {
        QFETCH(QStringList, days);
        QFETCH(QString, enable);
        QFETCH(QString, note);
        testsupport::LivePageFixture fixture({"UPDATE recordcapture SET recordskdenable=1",
                                              testsupport::scheduleRow(1, "10.9.8.7", days, 0),
                                              "UPDATE schedules SET enable=" + enable});
        QVERIFY(fixture.isValid());
        for (int reload = 0; reload < 3; ++reload) {
            const auto records = livelocalconfig::scheduleLists(g_database).records;
            QVERIFY(!records.isEmpty());
            QCOMPARE(records.first().enabled == 1, enable == "1");
        }
        fixture.flushLog();
        QCOMPARE(testsupport::abnormalEvents(fixture.logFile()), QStringList{"schedule unreadable|10.9.8.7|" + note});
    }

    // A kind's switch that is neither 0 nor 1 is off, and told once.
    void straySwitchLoggedOnce_data()
    {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("value"); // as the statement writes it
        QTest::addColumn<QString>("note");
        QTest::newRow("recording 2") << "recordskdenable"
                                     << "2"
                                     << "recordskdenable 2 is neither 0 nor 1";
        QTest::newRow("recording 'yes'") << "recordskdenable"
                                         << "'yes'"
                                         << "recordskdenable yes is neither 0 nor 1";
        QTest::newRow("capture 2") << "captureskdenable"
                                   << "2"
                                   << "captureskdenable 2 is neither 0 nor 1";
        QTest::newRow("capture 'yes'") << "captureskdenable"
                                       << "'yes'"
                                       << "captureskdenable yes is neither 0 nor 1";
    }
    void straySwitchLoggedOnce()
    {
        QFETCH(QString, column);
        QFETCH(QString, value);
        QFETCH(QString, note);
        testsupport::LivePageFixture fixture({"UPDATE recordcapture SET recordskdenable=1, captureskdenable=1",
                                              QString("UPDATE recordcapture SET %1=%2").arg(column, value),
                                              row(0, "null", "0:0-1440", 0), row(0, "null", "0:0-1440", 1)});
        QVERIFY(fixture.isValid());
        const bool recording = column == "recordskdenable";
        for (int reload = 0; reload < 3; ++reload) {
            const livelocalconfig::ScheduleLists lists = livelocalconfig::scheduleLists(g_database);
            QCOMPARE(lists.records.size(), recording ? 0 : 7);
            QCOMPARE(lists.captures.size(), recording ? 7 : 0);
        }
        fixture.flushLog();
        QCOMPARE(testsupport::abnormalEvents(fixture.logFile()),
                 QStringList{"setting unreadable||" + note + ": it is read as off"});
    }

    void storedRows_data()
    {
        QTest::addColumn<bool>("recording");
        QTest::addColumn<bool>("capture");
        QTest::newRow("both") << true << true;
        QTest::newRow("recording only") << true << false;
        QTest::newRow("capture only") << false << true;
    }
    void storedRows()
    {
        QFETCH(bool, recording);
        QFETCH(bool, capture);
        testsupport::LivePageFixture fixture(
            {QString("UPDATE recordcapture SET recordskdenable=%1, captureskdenable=%2").arg(recording).arg(capture),
             row(1, "10.0.0.5", "0:0-600;1:600-1440", 0), row(0, "null", "1:0-600;;0:700-800", 0),
             row(0, "null", "1:0-1440", 1), row(0, "null", "0:0-1440", 2)});
        QVERIFY(fixture.isValid());
        qwLiveView page;
        const auto records = page.streamServer()->recordSchedules();
        const auto captures = page.streamServer()->captureSchedules();
        QCOMPARE(records.size(), recording ? 28 : 0);
        QCOMPARE(captures.size(), capture ? 7 : 0);
        if (recording) {
            QCOMPARE(records.at(0).day, 1);
            QCOMPARE(records.at(13).day, 7);
            // The all-devices row stored as "null" applies to every device.
            QCOMPARE(records.at(14).applyTo, 0);
            QVERIFY(records.at(14).devices.isEmpty());
        }
    }

    void savedChangesReplaceTheLists()
    {
        testsupport::LivePageFixture fixture({"UPDATE recordcapture SET recordskdenable=1, captureskdenable=1",
                                              row(0, "null", "0:0-1440", 0), row(0, "null", "0:0-60", 1)});
        QVERIFY(fixture.isValid());
        qwLiveView page;
        qcStreamServer *server = page.streamServer();
        QCOMPARE(server->recordSchedules().size(), 7);
        QCOMPARE(server->captureSchedules().size(), 7);

        // The local settings page's rows: a device's, stored as applying to
        // all, records that device alone.
        QVERIFY(g_database->deleteScheduleType(0));
        QVERIFY(fixture.exec(row(0, "10.0.0.5", "0:0-600;1:600-1440", 0)));
        g_database->reloadSchedules();
        const QString moved = fixture.path() + "/moved";
        QVERIFY(g_database->setRecordPath(moved));
        page.onLocalConfigChanged();
        const auto records = server->recordSchedules();
        QCOMPARE(records.size(), 14);
        QCOMPARE(records.at(0).applyTo, 1);
        QCOMPARE(records.at(0).devices, QStringList{"10.0.0.5"});
        QCOMPARE(records.at(1).segmentType, 1);
        QCOMPARE(server->captureSchedules().size(), 7);
        QCOMPARE(server->recordRoot(), moved + "/RecordFile");
        QCOMPARE(page.localConfig().recordpath, moved);

        // Scheduled recording switched off: no record entry is left.
        QVERIFY(g_database->setRecordScheduleEnable(false));
        page.onLocalConfigChanged();
        QVERIFY(server->recordSchedules().isEmpty());
        QCOMPARE(server->captureSchedules().size(), 7);
    }

    // A save's refresh that finds the database held keeps what runs: the
    // folders, the lengths and a 24 h schedule, after one wait; the failure
    // is logged, and read again it holds the same.
    void heldRefreshKeepsWhatRuns()
    {
        testsupport::LivePageFixture fixture(
            {"UPDATE recordcapture SET recordskdenable=1, recordduration=600", row(0, "null", "0:0-1440", 0)});
        QVERIFY(fixture.isValid());
        qwLiveView page;
        qcStreamServer *server = page.streamServer();
        const QString root = server->recordRoot();
        QVERIFY(!root.isEmpty());
        QCOMPARE(server->recordSchedules().size(), 7);
        const quint64 waits = g_database->busyWaits();
        {
            testsupport::HeldLock holder;
            QVERIFY(holder.hold(fixture.databaseFile()));
            page.onLocalConfigChanged();
            QCOMPARE(g_database->busyWaits(), waits + 1);
            QCOMPARE(retryWaits(page, 3), quint64(0));
            QCOMPARE(server->recordSchedules().size(), 7);
            QCOMPARE(server->recordRoot(), root);
            QCOMPARE(page.localConfig().recordduration, 600);
        }
        fixture.flushLog();
        QCOMPARE(testsupport::RunFolder::query(fixture.logFile(),
                                               "select count(*) from systemlogs where logdecl='database busy'"),
                 QString("1"));
        QCoreApplication::processEvents();
        page.onLocalConfigChanged();
        QCOMPARE(server->recordSchedules().size(), 7);
    }

    // Opened while the database is held, the page records and snaps
    // nowhere (no run folder stands in for the stored folders) and lists no
    // device until the stored options and devices are read, a few seconds
    // later.
    void openedWhileHeldWaitsForTheStoredOptions()
    {
        testsupport::LivePageFixture fixture(
            {"UPDATE recordcapture SET recordskdenable=1", "UPDATE systeminfo SET viewcount=9",
             row(0, "null", "0:0-1440", 0),
             "INSERT INTO devices(devname,address,port,indexid) VALUES('cam','127.0.0.9','80',1)"});
        QVERIFY(fixture.isValid());
        const QString stored = g_database->getRecordPath();
        QVERIFY(!stored.isEmpty());
        auto holder = std::make_unique<testsupport::HeldLock>();
        QVERIFY(holder->hold(fixture.databaseFile()));
        const quint64 waits = g_database->busyWaits();
        qwLiveView page;
        QCOMPARE(g_database->busyWaits(), waits + 1);
        QCOMPARE(retryWaits(page, 3), quint64(0));
        qcStreamServer *server = page.streamServer();
        QCOMPARE(server->recordRoot(), QString());
        QCOMPARE(server->captureRoot(), QString());
        QVERIFY(server->recordSchedules().isEmpty());
        QCOMPARE(page.deviceCount(), 0);
        QCOMPARE(page.viewsPerPage(), livegrid::kDefaultCount);
        holder.reset();
        QTRY_COMPARE_WITH_TIMEOUT(server->recordRoot(), stored + "/RecordFile", 20000);
        QCOMPARE(server->recordSchedules().size(), 7);
        QCOMPARE(page.deviceCount(), 1);
        // The grid the database holds, not the one shown while it was held.
        QCOMPARE(page.viewsPerPage(), 9);
    }

    void timingRecordingAfterLogin()
    {
        testsupport::LivePageFixture fixture(
            {"UPDATE recordcapture SET recordskdenable=1, recordduration=60", row(1, "127.0.0.13", "0:0-1440", 0)});
        QVERIFY(fixture.isValid());
        auto sim = livedevices::startStreaming("127.0.0.13", "red");
        QVERIFY(sim.device);
        QVERIFY(g_database->addDevice(livedevices::record("camA", *sim.device)) >= 1);
        qwLiveView page;
        QCOMPARE(page.deviceCount(), 1);
        const QString root = page.streamServer()->recordRoot();
        QVERIFY(!root.isEmpty());
        const QString folder = root + '/' + QDate::currentDate().toString("yyyyMMdd") + "/127.0.0.13";
        auto timingFiles = [&] { return QDir(folder).entryList({"RECV1_TIMING_127-0-0-13_*.zmf"}, QDir::Files); };
        // The file is made before the first frame is read and takes its
        // start time only then.
        auto started = [&] {
            return !timingFiles().filter(QRegularExpression("_\\d\\d-\\d\\d-\\d\\d-\\d\\d\\d_")).isEmpty();
        };
        QTRY_VERIFY2_WITH_TIMEOUT(started(), qPrintable(timingFiles().join(", ")), 20000);
    }
};

QTEST_MAIN(SchedulesTest)
#include "tst_schedules.moc"
