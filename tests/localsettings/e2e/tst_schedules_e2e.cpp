#include "app/core/database.h"
#include "app/shell/cmsclient.h"
#include "app/widgets/qwweekeditor.h"
#include "liveview/qwliveview.h"
#include "localsettings/qwlocalschedules.h"
#include "localsettings/qwlocalsetting.h"
#include "media/qcstreamserver.h"
#include "media/qcstreamutil.h"
#include "media/recordnames.h"
#include "tests/support/diskroom.h"
#include "tests/support/livepage.h"
#include "livedevices.h"

#include <QDir>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QtTest>

namespace {

const QString kAddress = QStringLiteral("127.0.0.35");

QPushButton *button(QWidget *in, const QString &name)
{
    return in->findChild<QPushButton *>(name);
}

} // namespace

// A schedule saved on the local settings page acts on the running stream
// service, through the main window, without a restart.
class TestSchedulesE2E : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        testsupport::assumePlentyOfRoom();
    }

    void savedScheduleRecordsAtOnceAndRemovedStopsIt()
    {
        testsupport::LivePageFixture fixture({"UPDATE recordcapture SET recordskdenable=1, recordduration=60"});
        QVERIFY(fixture.isValid());
        auto sim = livedevices::startStreaming(kAddress, "green");
        QVERIFY(sim.device);
        QVERIFY(g_database->addDevice(livedevices::record("camA", *sim.device)) >= 1);
        cmsclient w(nullptr, "admin");
        qcStreamServer *server = w.liveView()->streamServer();
        QVERIFY(server->recordSchedules().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(server->recordingsRepaired(), 10000);

        // A new record folder, as the options sub-page stores it, takes effect
        // with the schedule.
        const QString records = fixture.path() + "/moved";
        QVERIFY(g_database->setRecordPath(records));
        QTest::mouseClick(w.menuButton(2), Qt::LeftButton);
        qwLocalSchedules *page = w.localSetting()->schedulesPage();
        page->subjectList()->setCurrentRow(1);
        QCOMPARE(page->subjectList()->currentItem()->text(), QString("camA (%1)").arg(kAddress));
        qwWeekEditor *editor = page->weekEditor();
        for (int d = 0; d < 7; ++d) {
            button(editor, QStringLiteral("pushButton_Add%1").arg(d))->click();
            editor->findChild<QWidget *>(QStringLiteral("widget_Day%1").arg(d))
                ->findChild<QSpinBox *>("timeEdit_End")
                ->setValue(1440);
        }
        button(page, "pushButton_Save")->click();
        QCOMPARE(server->recordSchedules().size(), 7);

        // Under load the stream may stall and the recorder start a second
        // file; what counts is that a timed recording got its first frame
        // and goes on growing.
        const QString folder = records + "/RecordFile/" + QDate::currentDate().toString("yyyyMMdd") + '/' + kAddress;
        auto timing = [&] { return QDir(folder).entryInfoList({"RECV1_TIMING_127-0-0-35_*.zmf"}, QDir::Files); };
        auto timingFiles = [&] {
            QStringList names;
            for (const QFileInfo &f : timing())
                names << QStringLiteral("%1 (%2 bytes)").arg(f.fileName()).arg(f.size());
            return names;
        };
        auto startedBytes = [&] {
            qint64 bytes = 0;
            for (const QFileInfo &f : timing())
                if (recordnames::parseName(f.fileName()).start >= 0)
                    bytes += f.size();
            return bytes;
        };
        auto seen = [&] { return timingFiles().join(", ").toLocal8Bit(); };
        QTRY_VERIFY2_WITH_TIMEOUT(startedBytes() > 0, seen().constData(), 20000);
        const qint64 first = startedBytes();
        QTRY_VERIFY2_WITH_TIMEOUT(startedBytes() > first, seen().constData(), 20000);

        // Removed: the running file ends and no new one starts.
        page->subjectList()->setCurrentRow(1);
        for (int d = 0; d < 7; ++d)
            editor->findChild<QWidget *>(QStringLiteral("widget_Day%1").arg(d))
                ->findChild<QPushButton *>("pushButton_Remove")
                ->click();
        button(page, "pushButton_Save")->click();
        QVERIFY(server->recordSchedules().isEmpty());
        QVERIFY(server->stopRecord(kAddress));
        const QStringList stopped = timingFiles();
        QSignalSpy asked(server, &qcStreamServer::sigScheduleRecord);
        for (int i = 0; i < 5; ++i)
            QMetaObject::invokeMethod(server, "tick", Qt::BlockingQueuedConnection);
        QCOMPARE(asked.size(), 0);
        QVERIFY(!server->unitFor(kAddress)->isRecording());
        QCOMPARE(timingFiles(), stopped);
    }
};

QTEST_MAIN(TestSchedulesE2E)
#include "tst_schedules_e2e.moc"
