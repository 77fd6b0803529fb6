#include "app/core/currentuser.h"
#include "app/core/database.h"
#include "app/core/weeksections.h"
#include "app/widgets/qwtipsdlgex.h"
#include "app/widgets/qwweekeditor.h"
#include "app/widgets/userrights.h"
#include "localsettings/localschedules.h"
#include "localsettings/qwlocalschedules.h"
#include "tests/support/heldlock.h"
#include "tests/support/livepage.h"
#include "tests/support/popups.h"
#include "tests/support/schedulerow.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QtTest>

#include <memory>

using Sections = QVector<TimeSection>;
Q_DECLARE_METATYPE(Sections)
Q_DECLARE_METATYPE(WeekSections)

namespace {

const QString kDevice = QStringLiteral("INSERT INTO devices(devname,username,password,address,port,connecttype,"
                                       "indexid,devtype) VALUES('%1','admin','1234','%2','80',0,%3,'VARAR')");

// A schedule row with the same text on every day but Sunday's, which is given.
QString scheduleRow(const QString &address, int kind, const QString &days, const QString &sunday = QString(),
                    int applytype = 0)
{
    return testsupport::scheduleRow(applytype, address, {sunday, days}, kind, 1);
}

const QStringList kTwoDevices{kDevice.arg("camA", "10.0.0.5").arg(1), kDevice.arg("camB", "10.0.0.6").arg(2)};

QStringList emptyWeek()
{
    return QStringList{"", "", "", "", "", "", ""};
}

QWidget *daySection(qwLocalSchedules &page, int day, int index)
{
    return page.weekEditor()
        ->findChild<QWidget *>(QStringLiteral("widget_Day%1").arg(day))
        ->findChildren<QWidget *>("widget_Section", Qt::FindDirectChildrenOnly)
        .value(index);
}

void setSection(QWidget *section, int start, int end, int kind = 0)
{
    section->findChild<QSpinBox *>("timeEdit_Start")->setValue(start);
    section->findChild<QSpinBox *>("timeEdit_End")->setValue(end);
    section->findChild<QComboBox *>("comboBox_Kind")->setCurrentIndex(kind);
}

} // namespace

class TestLocalSchedules : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    void dayTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<Sections>("sections");
        QTest::addColumn<QString>("written");
        QTest::newRow("empty") << "" << true << Sections{} << "";
        QTest::newRow("whole day") << "0:0-1440" << true << Sections{{0, 1440, 0}} << "0:0-1440";
        QTest::newRow("two kinds, out of order")
            << "1:720-1440;0:0-720" << true << Sections{{0, 720, 0}, {720, 1440, 1}} << "0:0-720;1:720-1440";
        QTest::newRow("trailing separator") << "0:60-120;" << true << Sections{{60, 120, 0}} << "0:60-120";
        QTest::newRow("kind 2") << "2:0-60" << false << Sections{} << "";
        QTest::newRow("no hyphen") << "0:100" << false << Sections{} << "";
        QTest::newRow("no number") << "0:abc-100" << false << Sections{} << "";
        QTest::newRow("blank inside") << "0: 0-100" << false << Sections{} << "";
        QTest::newRow("past midnight") << "0:0-1441" << false << Sections{} << "";
        QTest::newRow("end before start") << "0:700-500" << false << Sections{} << "";
        QTest::newRow("empty section") << "0:500-500" << false << Sections{} << "";
        QTest::newRow("overlap") << "0:0-100;1:99-200" << false << Sections{} << "";
    }
    void dayTexts()
    {
        QFETCH(QString, text);
        QFETCH(bool, readable);
        QFETCH(Sections, sections);
        QFETCH(QString, written);
        Sections day{{1, 2, 0}};
        QCOMPARE(weeksections::parseDay(text, &day), readable);
        if (!readable)
            return;
        QCOMPARE(day, sections);
        QCOMPARE(weeksections::dayText(day), written);
    }

    void weekCheck_data()
    {
        QTest::addColumn<WeekSections>("week");
        QTest::addColumn<int>("day");
        QTest::addColumn<int>("fault");
        WeekSections fine(7);
        fine[1] = {{0, 60, 0}, {60, 1440, 1}};
        QTest::newRow("touching sections") << fine << -1 << int(weeksections::Fault::None);
        WeekSections overlap(7);
        overlap[3] = {{600, 700, 1}, {0, 601, 0}};
        QTest::newRow("overlap, out of order") << overlap << 3 << int(weeksections::Fault::Overlap);
        WeekSections backwards(7);
        backwards[2] = {{700, 700, 0}};
        backwards[5] = {{0, 10, 0}, {5, 20, 0}};
        QTest::newRow("the first day refused is named") << backwards << 2 << int(weeksections::Fault::EndNotAfterStart);
    }
    void weekCheck()
    {
        QFETCH(WeekSections, week);
        QFETCH(int, day);
        QFETCH(int, fault);
        const weeksections::Refusal refusal = weeksections::check(&week);
        QCOMPARE(refusal.day, day);
        QCOMPARE(int(refusal.fault), fault);
    }

    void unreadableDaysKept_data()
    {
        QTest::addColumn<QString>("sunday");
        QTest::addColumn<bool>("sundayChanged");
        QTest::addColumn<QString>("storedSunday");
        QTest::newRow("unreadable, untouched") << "0:abc-100" << false << "0:abc-100";
        QTest::newRow("unreadable, cleared") << "0:abc-100" << true << "";
        QTest::newRow("readable, untouched, kept byte for byte") << "0:60-120;" << false << "0:60-120;";
    }
    void unreadableDaysKept()
    {
        QFETCH(QString, sunday);
        QFETCH(bool, sundayChanged);
        QFETCH(QString, storedSunday);
        _st_schedule_item row;
        row.skdsun = sunday;
        row.skdmon = "0:0-60";
        const weeksections::StoredWeek stored = weeksections::readRow(row);
        WeekSections edited = stored.week;
        edited[1] = {{0, 1440, 1}};
        edited[0].clear();
        QVector<bool> changed(7, false);
        changed[0] = sundayChanged;
        changed[1] = true;
        const QStringList texts = weeksections::mergedTexts(stored, edited, changed);
        QCOMPARE(texts.at(0), storedSunday);
        QCOMPARE(texts.at(1), QString("1:0-1440"));
        QCOMPARE(texts.at(2), QString());
    }

    // The rows the page keeps against the real database file.
    void storeWritesRows()
    {
        testsupport::LivePageFixture fixture(
            kTwoDevices + QStringList{scheduleRow("10.0.0.6", 0, "0:0-60", "bad"), scheduleRow("null", 1, "")});
        QVERIFY(fixture.isValid());
        QList<localschedules::Subject> subjects = localschedules::load(g_database);
        QCOMPARE(subjects.size(), 3);
        QCOMPARE(subjects.at(0).kind, localschedules::kSnapshot);
        QVERIFY(subjects.at(0).stored);
        QVERIFY(!subjects.at(1).stored);
        QCOMPARE(subjects.at(2).week.readable.at(0), false);
        QCOMPARE(subjects.at(2).week.week.at(1), (Sections{{0, 60, 0}}));

        // A new recording row for camA, applying as the page's rows do.
        QStringList texts = emptyWeek();
        texts[1] = "0:0-1440";
        texts[3] = QString(); // stored as an empty day, not as NULL
        QVERIFY(localschedules::save(g_database, subjects.at(1), texts));
        QCOMPARE(fixture.query("select count(*) from schedules where skdwed is null"), QString("0"));
        QCOMPARE(fixture.query("select applytype||'|'||devname||'|'||skdmon||'|'||skdtype||'|'||enable "
                               "from schedules where ipaddr='10.0.0.5'"),
                 QString("0|camA|0:0-1440|0|1"));
        // Only the changed day of camB's row: Sunday's unreadable text stays.
        texts = weeksections::dayTexts(subjects.at(2).row);
        texts[2] = "1:0-30";
        QVERIFY(localschedules::save(g_database, subjects.at(2), texts));
        QCOMPARE(fixture.query("select skdsun||'|'||skdmon||'|'||skdtue from schedules where ipaddr='10.0.0.6'"),
                 QString("bad|0:0-60|1:0-30"));
        // The snapshot schedule names no device; emptied, its row goes.
        QVERIFY(localschedules::save(g_database, subjects.at(0), emptyWeek()));
        QCOMPARE(fixture.query("select count(*) from schedules where ipaddr='null'"), QString("0"));
        texts = emptyWeek();
        texts[0] = "0:0-60";
        subjects = localschedules::load(g_database);
        QVERIFY(!subjects.at(0).stored);
        QVERIFY(localschedules::save(g_database, subjects.at(0), texts));
        QCOMPARE(fixture.query("select skdtype||'|'||skdsun from schedules where ipaddr='null'"), QString("1|0:0-60"));
        // Another kind's row of the same address stays when one is removed.
        QVERIFY(fixture.exec(scheduleRow("10.0.0.7", 2, "0:0-60")));
        QVERIFY(!g_database->deleteSchedule("10.0.0.7", 0));
        QVERIFY(g_database->deleteSchedule("10.0.0.6", 0));
        QCOMPARE(fixture.query("select ipaddr from schedules order by ipaddr"), QString("10.0.0.5\n10.0.0.7\nnull"));
    }

    void restoreShowsStoredRows()
    {
        testsupport::LivePageFixture fixture(kTwoDevices +
                                             QStringList{scheduleRow("10.0.0.5", 0, "0:0-480;1:600-1440", "0:x")});
        QVERIFY(fixture.isValid());
        qwLocalSchedules page;
        page.reload();
        QCOMPARE(page.subjectList()->count(), 3);
        page.subjectList()->setCurrentRow(1);
        QCOMPARE(page.weekEditor()->week().at(1), (Sections{{0, 480, 0}, {600, 1440, 1}}));
        QVERIFY(page.weekEditor()->findChild<QWidget *>("widget_Day0")->findChild<QWidget *>("widget_Kept"));

        // Edits survive moving between schedules, not a Restore.
        page.weekEditor()->findChild<QPushButton *>("pushButton_Add3")->click();
        page.subjectList()->setCurrentRow(2);
        QVERIFY(page.weekEditor()->week().at(3).isEmpty());
        page.subjectList()->setCurrentRow(1);
        QCOMPARE(page.weekEditor()->week().at(3).size(), 3);
        page.findChild<QPushButton *>("pushButton_Restore")->click();
        QCOMPARE(page.subjectList()->currentRow(), 1);
        QCOMPARE(page.weekEditor()->week().at(3).size(), 2);
    }

    void saveWritesAndAnnounces()
    {
        testsupport::LivePageFixture fixture(kTwoDevices +
                                             QStringList{scheduleRow("10.0.0.6", 0, "0:0-60", "0:abc-100")});
        QVERIFY(fixture.isValid());
        qwLocalSchedules page;
        page.reload();
        QSignalSpy saved(&page, &qwLocalSchedules::sigSaved);
        // Monday to Sunday 00:00-24:00 timing for camA.
        page.subjectList()->setCurrentRow(1);
        for (int d = 0; d < 7; ++d) {
            page.weekEditor()->findChild<QPushButton *>(QStringLiteral("pushButton_Add%1").arg(d))->click();
            setSection(daySection(page, d, 0), 0, 1440);
        }
        // camB: Monday's section removed, the unreadable Sunday untouched.
        page.subjectList()->setCurrentRow(2);
        daySection(page, 1, 0)->findChild<QPushButton *>("pushButton_Remove")->click();
        testsupport::popupKeys(&page);
        page.findChild<QPushButton *>("pushButton_Save")->click();
        QCOMPARE(testsupport::popupKeys(&page), QStringList{"tip_setsuccess"});
        QCOMPARE(saved.size(), 1);
        QCOMPARE(fixture.query("select skdsun||skdmon||skdsat||'|'||applytype from schedules where ipaddr='10.0.0.5'"),
                 QString("0:0-14400:0-14400:0-1440|0"));
        QCOMPARE(fixture.query("select skdsun||'|'||skdmon||'|'||skdtue from schedules where ipaddr='10.0.0.6'"),
                 QString("0:abc-100||0:0-60"));
        fixture.flushLog();
        // One record per schedule written, naming its device and kind.
        QCOMPARE(testsupport::RunFolder::query(fixture.logFile(),
                                               "select logtype||'|'||curuser||'|'||logdecl||'|'||"
                                               "ifnull(reldevname,'')||'|'||ifnull(reldevaddr,'')||'|'||lognote "
                                               "from systemlogs"),
                 QString("1|admin|modify schedule|camA|10.0.0.5|Recording schedule\n"
                         "1|admin|modify schedule|camB|10.0.0.6|Recording schedule"));
        // Nothing changed: nothing written, nothing announced.
        page.findChild<QPushButton *>("pushButton_Save")->click();
        QCOMPARE(saved.size(), 1);
    }

    void removingEverySectionRemovesTheRow()
    {
        testsupport::LivePageFixture fixture(kTwoDevices + QStringList{scheduleRow("10.0.0.5", 0, "0:0-1440")});
        QVERIFY(fixture.isValid());
        qwLocalSchedules page;
        page.reload();
        page.subjectList()->setCurrentRow(1);
        for (int d = 1; d < 7; ++d)
            daySection(page, d, 0)->findChild<QPushButton *>("pushButton_Remove")->click();
        page.findChild<QPushButton *>("pushButton_Save")->click();
        QCOMPARE(fixture.query("select count(*) from schedules"), QString("0"));
    }

    void badInputWritesNothing_data()
    {
        QTest::addColumn<quint32>("rights");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<QString>("tip");
        QTest::addColumn<QString>("text"); // of the tip; empty: not looked at
        const quint32 all = 0x1ff;
        const QString backwards = "camA (10.0.0.5), Tuesday: The start time must be before the end time";
        QTest::newRow("end before start") << all << 600 << 500 << "tip_starendtime" << backwards;
        QTest::newRow("end at start") << all << 600 << 600 << "tip_starendtime" << backwards;
        // Tuesday holds 00:00-01:00 already.
        QTest::newRow("overlap") << all << 30 << 90 << "tip_sectionsoverlap"
                                 << "camA (10.0.0.5), Tuesday: the sections 00:00-01:00 and 00:30-01:30 overlap";
        QTest::newRow("overlap to the day's end")
            << all << 0 << 1440 << "tip_sectionsoverlap"
            << "camA (10.0.0.5), Tuesday: the sections 00:00-01:00 and 00:00-24:00 overlap";
        QTest::newRow("no schedule right")
            << (all & ~quint32(userrights::ScheduleManagement)) << 120 << 180 << "tip_permdenied" << QString();
    }
    void badInputWritesNothing()
    {
        QFETCH(quint32, rights);
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(QString, tip);
        QFETCH(QString, text);
        testsupport::LivePageFixture fixture(kTwoDevices + QStringList{scheduleRow("10.0.0.5", 0, "0:0-60")}, rights);
        QVERIFY(fixture.isValid());
        const QString before = fixture.query("select * from schedules");
        qwLocalSchedules page;
        page.reload();
        QSignalSpy saved(&page, &qwLocalSchedules::sigSaved);
        // A good change on the snapshot schedule, a bad one on camA's.
        page.weekEditor()->findChild<QPushButton *>("pushButton_Add4")->click();
        page.subjectList()->setCurrentRow(1);
        page.weekEditor()->findChild<QPushButton *>("pushButton_Add2")->click();
        setSection(daySection(page, 2, 1), start, end, 1);
        testsupport::popupKeys(&page);
        page.findChild<QPushButton *>("pushButton_Save")->click();
        if (!text.isEmpty()) {
            QVERIFY(page.findChild<qwTipsdlgEx *>());
            QCOMPARE(page.findChild<qwTipsdlgEx *>()->tipText(), text);
        }
        QCOMPARE(testsupport::popupKeys(&page), QStringList{tip});
        QCOMPARE(fixture.query("select * from schedules"), before);
        QCOMPARE(saved.size(), 0);
        // The edit is still there to be corrected.
        QCOMPARE(page.weekEditor()->week().at(2).size(), 2);
    }

    // A write the database refuses ends the save: no "saved", the refused
    // schedule shown with what was typed into it, the refusal told over the
    // page and logged with the database's reason; only what was written
    // before it is announced.
    void refusedSaveKeepsWhatWasTyped_data()
    {
        QTest::addColumn<QString>("fault"); // empty: the file held by another connection
        QTest::addColumn<QString>("says");
        QTest::addColumn<bool>("camAWritten");
        QTest::newRow("held locked") << QString() << "database is locked" << false;
        QTest::newRow("every write refused")
            << "CREATE TRIGGER refuse BEFORE UPDATE ON schedules BEGIN SELECT RAISE(ABORT, 'kept as they are'); END"
            << "kept as they are" << false;
        QTest::newRow("camB's write refused after camA's")
            << "CREATE TRIGGER refuse BEFORE UPDATE ON schedules WHEN old.ipaddr = '10.0.0.6' "
               "BEGIN SELECT RAISE(ABORT, 'camB kept'); END"
            << "camB kept" << true;
    }
    void refusedSaveKeepsWhatWasTyped()
    {
        QFETCH(QString, fault);
        QFETCH(QString, says);
        QFETCH(bool, camAWritten);
        testsupport::LivePageFixture fixture(
            kTwoDevices + QStringList{scheduleRow("10.0.0.5", 0, "0:0-60"), scheduleRow("10.0.0.6", 0, "0:0-60")});
        QVERIFY(fixture.isValid());
        if (!fault.isEmpty())
            QVERIFY(fixture.exec(fault));
        qwLocalSchedules page;
        page.reload();
        QSignalSpy saved(&page, &qwLocalSchedules::sigSaved);
        // A second Tuesday section for each camera, then the snapshot schedule shown.
        for (int row : {1, 2}) {
            page.subjectList()->setCurrentRow(row);
            page.weekEditor()->findChild<QPushButton *>("pushButton_Add2")->click();
            setSection(daySection(page, 2, 1), 120, 180 + row, 1);
        }
        page.subjectList()->setCurrentRow(0);
        testsupport::popupKeys(&page);
        auto holder = std::make_unique<testsupport::HeldLock>();
        if (fault.isEmpty())
            QVERIFY(holder->hold(fixture.databaseFile()));
        page.findChild<QPushButton *>("pushButton_Save")->click();
        holder.reset();

        QCOMPARE(testsupport::popupKeys(&page), QStringList{"tip_databaseerr"});
        QCOMPARE(saved.size(), camAWritten ? 1 : 0);
        QCOMPARE(fixture.query("select skdtue from schedules order by ipaddr"),
                 QString(camAWritten ? "0:0-60;1:120-181\n0:0-60" : "0:0-60\n0:0-60"));
        // The refused schedule is shown, with its typed section.
        const int refused = camAWritten ? 2 : 1;
        QCOMPARE(page.subjectList()->currentRow(), refused);
        QCOMPARE(page.weekEditor()->week().at(2), (Sections{{0, 60, 0}, {120, 180 + refused, 1}}));
        page.subjectList()->setCurrentRow(2);
        QCOMPARE(page.weekEditor()->week().at(2).size(), 2);
        if (fault.isEmpty()) {
            // Once the file is free again the same Save stores what was typed.
            page.findChild<QPushButton *>("pushButton_Save")->click();
            QCOMPARE(testsupport::popupKeys(&page), QStringList{"tip_setsuccess"});
            QCOMPARE(saved.size(), 1);
            QCOMPARE(fixture.query("select skdtue from schedules order by ipaddr"),
                     QString("0:0-60;1:120-181\n0:0-60;1:120-182"));
        }
        fixture.flushLog();
        const QString camA = camAWritten ? "1|modify schedule|camA|Recording schedule\n" : "";
        const QString log = testsupport::RunFolder::query(
            fixture.logFile(), "select logtype||'|'||logdecl||'|'||reldevname||'|'||lognote from systemlogs");
        const QString refusedRecord =
            QString("3|modify schedule|cam%1|Recording schedule: ").arg(camAWritten ? 'B' : 'A');
        QVERIFY2(log.startsWith(camA + refusedRecord) && log.split('\n').value(camAWritten ? 1 : 0).endsWith(says),
                 qPrintable(log));
        QCOMPARE(log.count("3|"), 1);
    }

    // While its switch in System is off a schedule records nothing: the page
    // says so over the schedule and in the tip of its save, and looks at the
    // switch again whenever it is shown.
    void idleWhileSwitchedOff_data()
    {
        QTest::addColumn<bool>("recording");
        QTest::addColumn<bool>("snapshots");
        QTest::addColumn<int>("subject"); // 0 the snapshot schedule, 1 camA's
        QTest::addColumn<QString>("logged");
        const QString camA = "1|admin|modify schedule|camA|10.0.0.5|Recording schedule";
        const QString snapshot = "1|admin|modify schedule|||Snapshot schedule";
        QTest::newRow("recording off, camA") << false << true << 1 << camA;
        QTest::newRow("recording off, snapshot schedule") << false << true << 0 << snapshot;
        QTest::newRow("snapshots off, snapshot schedule") << true << false << 0 << snapshot;
        QTest::newRow("snapshots off, camA") << true << false << 1 << camA;
        QTest::newRow("both off, camA") << false << false << 1 << camA;
        QTest::newRow("both on, snapshot schedule") << true << true << 0 << snapshot;
    }
    void idleWhileSwitchedOff()
    {
        QFETCH(bool, recording);
        QFETCH(bool, snapshots);
        QFETCH(int, subject);
        QFETCH(QString, logged);
        const QString recordingNote = "\"Scheduled recording\" is off: recording schedules record nothing until it "
                                      "is switched on in System.";
        const QString snapshotNote = "\"Scheduled snapshots\" is off: the snapshot schedule takes no snapshots "
                                     "until it is switched on in System.";
        testsupport::LivePageFixture fixture(
            kTwoDevices + QStringList{QString("UPDATE recordcapture SET recordskdenable=%1, captureskdenable=%2")
                                          .arg(int(recording))
                                          .arg(int(snapshots))});
        QVERIFY(fixture.isValid());
        QWidget host;
        auto *page = new qwLocalSchedules(&host);
        host.show();
        page->reload();
        page->subjectList()->setCurrentRow(subject);
        const bool on = subject == 0 ? snapshots : recording;
        const QString note = on ? QString() : subject == 0 ? snapshotNote : recordingNote;
        QCOMPARE(page->idleNote()->isVisibleTo(page), !on);
        QCOMPARE(page->idleNote()->text(), note);

        page->weekEditor()->findChild<QPushButton *>("pushButton_Add1")->click();
        testsupport::popupKeys(page);
        page->findChild<QPushButton *>("pushButton_Save")->click();
        QVERIFY(page->findChild<qwTipsdlgEx *>());
        QCOMPARE(page->findChild<qwTipsdlgEx *>()->tipText(),
                 on ? QString("Saved successfully") : "Saved successfully. " + note);
        QCOMPARE(testsupport::popupKeys(page), QStringList{"tip_setsuccess"});
        fixture.flushLog();
        QCOMPARE(testsupport::RunFolder::query(fixture.logFile(),
                                               "select logtype||'|'||curuser||'|'||logdecl||'|'||"
                                               "ifnull(reldevname,'')||'|'||ifnull(reldevaddr,'')||'|'||lognote "
                                               "from systemlogs"),
                 logged);

        // Both switches turned the other way in System: shown again, the
        // page tells the new state.
        QVERIFY(g_database->setRecordScheduleEnable(!recording));
        QVERIFY(g_database->setCaptureScheduleEnable(!snapshots));
        host.hide();
        host.show();
        QCOMPARE(page->idleNote()->isVisibleTo(page), on);
        QCOMPARE(page->idleNote()->text(), on ? (subject == 0 ? snapshotNote : recordingNote) : QString());
    }
};

QTEST_MAIN(TestLocalSchedules)
#include "tst_localschedules.moc"
