#include "app/core/database.h"
#include "app/widgets/statusbutton.h"
#include "liveview/livetext.h"
#include "liveview/qclivealarms.h"
#include "liveview/qwcameraitem.h"
#include "liveview/qwalarmeventmanane.h"
#include "liveview/qwliveview.h"
#include "liveview/qwvideoshowtoolbar.h"
#include "media/qcstreamserver.h"
#include "tests/support/livepage.h"
#include "tests/support/pictures.h"
#include "livedevices.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>

#include <algorithm>

namespace {

const QDateTime kTime(QDate(2024, 3, 4), QTime(9, 0));

QString scheduleRow(const QString &address, const QString &days, int type)
{
    QStringList all;
    for (int i = 0; i < 7; ++i)
        all << "'" + days + "'";
    return QString("INSERT INTO schedules (applytype,devname,ipaddr,skdsun,skdmon,skdtue,skdwed,skdthu,skdfri,skdsat,"
                   "skdtype,enable) VALUES (1,'cam','%1',%2,%3,1)")
        .arg(address, all.join(','))
        .arg(type);
}

// The button as one character: '2' and '0' the lit cells, '-' idle.
QChar look(StatusButton *b)
{
    return b->isLocked() ? QChar('0' + b->status()) : QChar('-');
}

QList<qwAlarmEventManane *> windows(QWidget *page)
{
    return page->findChildren<qwAlarmEventManane *>();
}

} // namespace

class AlarmsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    // Every button of the bar carries mask 1; only the play button shows its
    // round background (not selected), the alarm button among the others.
    void barButtons()
    {
        testsupport::LivePageFixture fixture;
        qwLiveView page;
        const QList<StatusButton *> bar =
            page.findChild<QWidget *>("widget_Videocontrol")->findChildren<StatusButton *>();
        QCOMPARE(bar.size(), 13);
        for (StatusButton *b : bar) {
            QCOMPARE(b->mask(), 1);
            QCOMPARE(b->isSelected(), b != page.barButton("m_btnPlay"));
        }
        QSignalSpy click(page.barButton("m_btnAlarm"), &StatusButton::sigClick);
        QTest::mouseClick(page.barButton("m_btnAlarm"), Qt::LeftButton);
        QCOMPARE(click.value(0).value(0).toInt(), 1);
    }

    void listSignalAndLog()
    {
        testsupport::LivePageFixture fixture;
        QVERIFY(fixture.isValid());
        qwLiveView page;
        QSignalSpy spy(&page, &qwLiveView::sigDeviceTriggerAlarm);
        page.onDeviceAlarmArrival("10.0.0.5", "camA", 69, 2, kTime);
        page.onDeviceAlarmArrival("10.0.0.6", "camB", 74, 0, kTime);
        QCOMPARE(spy.first(), (QVariantList{"10.0.0.5", "camA", 69, 2, QString(), kTime}));
        for (int i = 0; i < qcLiveAlarms::kMaxAlarms - 1; ++i)
            page.onDeviceAlarmArrival("10.0.0.7", "camC", 65, 1, kTime.addSecs(i));
        QCOMPARE(page.liveAlarms()->alarms().size(), 800);
        QCOMPARE(page.liveAlarms()->alarms().first().ipaddr, QString("10.0.0.6"));
        fixture.flushLog();
        QCOMPARE(testsupport::RunFolder::query(fixture.logFile(),
                                               "SELECT logdecl, logtype, reldevname, reldevaddr, lognote FROM "
                                               "systemlogs WHERE reldevaddr != '10.0.0.7' ORDER BY rowid"),
                 QString("device alarm|2|camA|10.0.0.5|type of alarm is <Instrusion>\n"
                         "device alarm|2|camB|10.0.0.6|type of alarm is <Unknown>"));
    }

    void blink_data()
    {
        QTest::addColumn<int>("restartAfter"); // steps before a second alarm; -1 none
        QTest::addColumn<QString>("looks");    // after the alarm(s) and each further step
        QTest::newRow("one alarm") << -1 << "2" + QString("02").repeated(10) + "-";
        QTest::newRow("second alarm") << 5 << "2" + QString("02020") + "2" + QString("02").repeated(10) + "-";
    }
    void blink()
    {
        QFETCH(int, restartAfter);
        QFETCH(QString, looks);
        testsupport::LivePageFixture fixture;
        qwLiveView page;
        StatusButton *button = page.barButton("m_btnAlarm");
        page.onDeviceAlarmArrival("10.0.0.5", "camA", 65, 0, kTime);
        QString seen = look(button);
        for (int step = 0; seen.size() < looks.size(); ++step) {
            if (step == restartAfter) {
                // Lengthens the blink without changing the button.
                page.onDeviceAlarmArrival("10.0.0.5", "camA", 65, 0, kTime);
                QCOMPARE(page.liveAlarms()->blinkTicks(), 0);
            }
            page.blinkAlarmButton();
            seen += look(button);
        }
        QCOMPARE(seen, looks);
        QVERIFY(!page.liveAlarms()->isBlinking());
        QCOMPARE(page.liveAlarms()->blinkTimerId(), -1);

        // The real timer turns the cells.
        page.onDeviceAlarmArrival("10.0.0.5", "camA", 65, 0, kTime);
        QCOMPARE(button->status(), 2);
        QTRY_COMPARE(button->status(), 0);
    }

    void alarmWindows()
    {
        testsupport::LivePageFixture fixture;
        qwLiveView page;
        for (int action : {0, 1, 2})
            page.onDeviceAlarmArrival("10.0.0.5", "camA", 65, action, kTime);
        page.barButton("m_btnAlarm")->click();
        page.barButton("m_btnAlarm")->click();
        QCOMPARE(windows(&page).size(), 2);
        QTableWidget *table = windows(&page).first()->table();
        QCOMPARE(table->rowCount(), 3);
        QCOMPARE(table->item(0, 3)->text(), QString("-"));
        QCOMPARE(table->item(1, 3)->text(), liveText(livetext::kCommonPage, livetext::kAlarmActions, "snapshot"));
        QCOMPARE(table->item(2, 3)->text(), liveText(livetext::kCommonPage, livetext::kAlarmActions, "record"));
        QCOMPARE(table->item(0, 2)->text(), QString("Motion detection"));
        QCOMPARE(table->item(0, 4)->text(), QString("2024-03-04 09:00:00"));
        page.onDeviceAlarmArrival("10.0.0.5", "camA", 99, 2, kTime);
        QCOMPARE(table->rowCount(), 4);
        QCOMPARE(table->item(3, 2)->text(), QString("Unknown alarm"));
        windows(&page).first()->clearButton()->click();
        QVERIFY(page.liveAlarms()->alarms().isEmpty());
        for (qwAlarmEventManane *w : windows(&page))
            w->close();
        QTRY_VERIFY(windows(&page).isEmpty());
    }

    // A pushed alarm inside both schedules: the alarm recording, the device's
    // own pictures and both list entries. ARDO_ALARM_REPEAT=N repeats the
    // push and prints the time from push to the first picture.
    void pushedAlarm()
    {
        testsupport::LivePageFixture fixture(
            {"UPDATE recordcapture SET recordskdenable=1, captureskdenable=1, recordduration=60, capturecount=2",
             scheduleRow("127.0.0.22", "1:0-1440", 0), scheduleRow("127.0.0.22", "1:0-1440", 1)});
        QVERIFY(fixture.isValid());
        auto sim = livedevices::startStreaming("127.0.0.22", "blue");
        QVERIFY(sim.device);
        QVERIFY(g_database->addDevice(livedevices::record("camC", *sim.device)) >= 1);
        qwLiveView page;
        page.resize(1280, 800);
        page.show();
        QSignalSpy alarms(&page, &qwLiveView::sigDeviceTriggerAlarm);
        QTRY_VERIFY_WITH_TIMEOUT(page.cameraItem(0)->getStatus() == 2, 20000);
        QTRY_VERIFY_WITH_TIMEOUT((page.openStream(0), page.viewRecord(0) != nullptr), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(sim.protocols.alarm->openConnections() == 1, 20000);
        const QString captures = page.streamServer()->captureRoot();
        const QString records = page.streamServer()->recordRoot();
        auto count = [](const QString &root, const QString &pattern) {
            return testsupport::filesUnder(root, pattern).size();
        };
        const int repeat = qMax(1, qEnvironmentVariableIntValue("ARDO_ALARM_REPEAT"));
        QVector<qint64> delays;
        for (int i = 0; i < repeat; ++i) {
            const int before = count(captures, "PICV1_ALARM_127-0-0-22_*.jpg");
            QElapsedTimer t;
            t.start();
            sim.protocols.alarm->push(devicesim::AlarmEndpoint::message("1", "MOTION"));
            QTRY_VERIFY_WITH_TIMEOUT(count(captures, "PICV1_ALARM_127-0-0-22_*.jpg") > before, 30000);
            delays << t.elapsed();
            QTRY_VERIFY_WITH_TIMEOUT(count(captures, "PICV1_ALARM_127-0-0-22_*.jpg") == before + 2, 30000);
        }
        // The stream service's thread queues the two list entries to the page
        // after it handed the pictures to the capture thread: on a loaded
        // machine the pictures can be stored before the page has them.
        QTRY_COMPARE_WITH_TIMEOUT(alarms.size(), 2 * repeat, 30000);
        QCOMPARE(alarms.at(0).mid(0, 4), (QVariantList{"127.0.0.22", "camC", 65, 2}));
        QCOMPARE(alarms.at(1).mid(0, 4), (QVariantList{"127.0.0.22", "camC", 65, 1}));
        QTRY_VERIFY_WITH_TIMEOUT(count(records, "RECV1_ALARM_127-0-0-22_*.zmf") == 1, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(page.viewToolbar(0)->recordingLabel()->isVisibleTo(&page), 30000);
        std::sort(delays.begin(), delays.end());
        qInfo("push to first picture over %d alarms: median %lld ms, 95th percentile %lld ms", repeat,
              delays.at(delays.size() / 2), delays.at(qMin(delays.size() - 1, int(delays.size() * 0.95))));
        page.streamServer()->stopRecord("127.0.0.22");
    }
};

QTEST_MAIN(AlarmsTest)
#include "tst_alarms.moc"
