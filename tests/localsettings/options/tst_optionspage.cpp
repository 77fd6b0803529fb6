#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QLabel>
#include <QPushButton>

#include <array>
#include <memory>

#include "app/core/currentuser.h"
#include "app/core/database.h"
#include "app/widgets/qwtipsdlgex.h"
#include "app/widgets/userrights.h"
#include "localsettings/localoptions.h"
#include "localsettings/qwlocaloptions.h"
#include "tests/localsettings/options/storedoptions.h"
#include "tests/support/appglobals.h"
#include "tests/support/findchild.h"
#include "tests/support/heldlock.h"
#include "tests/support/popups.h"

using namespace optionstest;
using testsupport::RunFolder;

class TestOptionsPage : public QObject
{
    Q_OBJECT

    std::unique_ptr<RunFolder> m_folder;
    std::unique_ptr<testsupport::AppGlobals> m_globals;
    std::unique_ptr<qwLocalOptions> m_page;

    template <typename T>
    T *field(const QString &name)
    {
        return testsupport::requireChild<T>(m_page.get(), name);
    }
    QLineEdit *edit(const char *column) { return field<QLineEdit>(QStringLiteral("lineEdit_") + column); }
    // The field of a number option, whatever kind of widget shows it.
    QWidget *number(const QString &column)
    {
        for (QWidget *w : m_page->findChildren<QWidget *>()) {
            if (w->objectName().endsWith("_" + column) && !w->objectName().startsWith("label_"))
                return w;
        }
        qFatal("no field for %s", qPrintable(column));
    }
    QString unit(const QString &column)
    {
        auto *label = m_page->findChild<QLabel *>("label_Unit_" + column);
        return label ? label->text() : QString("<no unit label>");
    }
    // As the operator does it: everything selected, then the keys.
    void type(const QString &column, const QString &typed)
    {
        QWidget *w = number(column);
        QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(w, Qt::Key_Backspace);
        QTest::keyClicks(w, typed);
    }
    QString shown(const QString &column) { return number(column)->property("text").toString(); }
    QComboBox *list(const char *column) { return field<QComboBox>(QStringLiteral("comboBox_") + column); }
    QCheckBox *box(const char *column) { return field<QCheckBox>(QStringLiteral("checkBox_") + column); }
    // Clicks and returns the keys of the tips that followed.
    QStringList click(const char *button)
    {
        QTest::mouseClick(field<QPushButton>(button), Qt::LeftButton);
        const auto tips = m_page->findChildren<qwTipsdlgEx *>();
        m_lastTip = tips.isEmpty() ? QString() : tips.last()->tipText();
        return testsupport::popupKeys(m_page.get());
    }
    QString m_lastTip;

    QStringList logRows()
    {
        m_globals->flushLog();
        return RunFolder::query("cmsclient.logx", "select logdecl||'|'||curuser||'|'||logtype||'|'||lognote "
                                                  "from systemlogs where logdecl like 'modify%'")
            .split('\n', Qt::SkipEmptyParts);
    }

private slots:
    void init()
    {
        m_folder = std::make_unique<RunFolder>();
        QVERIFY(m_folder->isValid());
        m_globals = std::make_unique<testsupport::AppGlobals>();
        QVERIFY(m_globals->isValid());
        g_curUserName = "admin";
        g_curUserRights = userrights::LocalConfiguration;
        m_page = std::make_unique<qwLocalOptions>();
        m_page->show();
    }
    void cleanup()
    {
        m_page.reset();
        m_globals.reset();
        m_folder.reset();
        qwLocalOptions::setFolderChooser(nullptr);
    }

    void showsAndRestoresStoredValues()
    {
        QCOMPARE(edit("defuser")->text(), QString("admin"));
        QVERIFY(edit("syslanguage")->isReadOnly());
        QCOMPARE(unit("reservedsize"), QString("GB (5 - 50)"));
        QCOMPARE(unit("captureinterval"), QString("second (1 - 30)"));
        QCOMPARE(list("snapshotquality")->currentText(), QString("75"));
        edit("defuser")->setText("someone");
        type("recordduration", "90");
        box("autostream")->setChecked(false);
        list("recordstream")->setCurrentIndex(1);
        QVERIFY(click("pushButton_Restore").isEmpty());
        QCOMPARE(edit("defuser")->text(), QString("admin"));
        QCOMPARE(shown("recordduration"), QString("300"));
        QVERIFY(box("autostream")->isChecked());
        QCOMPARE(list("recordstream")->currentData().toInt(), 0);
    }

    void saveWritesLogsAndAnnounces()
    {
        QSignalSpy saved(m_page.get(), &qwLocalOptions::sigSaved);
        const QString folder = m_folder->filePath("elsewhere/records");
        edit("recordpath")->setText(folder);
        box("recordskdenable")->setChecked(true);
        type("capturecount", "10");
        list("snapshotformat")->setCurrentIndex(1);
        edit("defpwd")->setText("it's");
        QCOMPARE(click("pushButton_Save"), QStringList{"tip_setsuccess"});
        QCOMPARE(saved.count(), 1);
        QCOMPARE(g_database->getRecordPath(), folder);
        QVERIFY(QFileInfo(folder).isDir());
        QVERIFY(g_database->getRecordScheduleEnable());
        QCOMPARE(g_database->getCaptureCount(), 10);
        QCOMPARE(g_database->getSnapshotFormat(), 1);
        QCOMPARE(g_database->getDefaultPassword(), QString("it's"));
        // Nothing changed: nothing written, logged or announced.
        QCOMPARE(click("pushButton_Save"), QStringList{"tip_setsuccess"});
        QCOMPARE(saved.count(), 1);
        // The options as the page names them.
        QCOMPARE(logRows(), QStringList{"modify system options|admin|1|Default password, Record folder, "
                                        "Scheduled recording, Pictures per snapshot, Picture format"});
    }

    void refusedFolderWritesNothing()
    {
        const QString blocked = blockedFolder(*m_folder);
        QSignalSpy saved(m_page.get(), &qwLocalOptions::sigSaved);
        const QString before = storedRow();
        box("autoadd")->setChecked(true);
        edit("snapshotpath")->setText(blocked);
        QCOMPARE(click("pushButton_Save"), QStringList{"tip_folderunusable"});
        QVERIFY2(m_lastTip.contains(blocked), qPrintable(m_lastTip));
        QCOMPARE(storedRow(), before);
        QCOMPARE(saved.count(), 0);
        QVERIFY(logRows().isEmpty());
        QCOMPARE(edit("snapshotpath")->text(), blocked); // left for the operator to mend
    }

    // A refused save makes none of the other new folders it was given.
    void refusedFolderMakesNoOtherFolder()
    {
        edit("downloadpath")->setText(m_folder->filePath("fresh/downloads"));
        edit("recordpath")->setText(m_folder->filePath("fresh/records"));
        edit("snapshotpath")->setText(blockedFolder(*m_folder));
        QCOMPARE(click("pushButton_Save"), QStringList{"tip_folderunusable"});
        QVERIFY(!QFileInfo::exists(m_folder->filePath("fresh")));
    }

    void typedNumbers_data()
    {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("range");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accepted");
        const struct
        {
            const char *column, *label;
            int low, high;
        } fields[] = {
            {"reservedsize", "Reserved disk space", 5, 50},
            {"keepdays", "Keep recordings", 0, 365},
            {"recordduration", "Record length", 60, 600},
            {"prevrecord", "Pre-record", 0, 3},
            {"postrecord", "Post-record", 0, 3},
            {"capturecount", "Pictures per snapshot", 1, 10},
            {"captureinterval", "Snapshot interval", 1, 30},
        };
        for (const auto &f : fields) {
            const QString range = QString("%1 - %2").arg(f.low).arg(f.high);
            auto row = [&](const char *what, const QString &typed, bool accepted) {
                QTest::addRow("%s %s", f.column, what) << f.column << f.label << range << typed << accepted;
            };
            row("below", QString::number(f.low - 1), false);
            row("above", QString::number(f.high + 1), false);
            row("half-typed", "", false);
            row("above lowest", QString::number(f.low + 1), true);
            row("highest", QString::number(f.high), true);
        }
        // As operators met it: the spin box kept 300, or dropped the last
        // keystrokes of 1000.
        for (const auto &[column, label, range, typed] :
             {std::array<QString, 4>{"recordduration", "Record length", "60 - 600", "5"},
              {"reservedsize", "Reserved disk space", "5 - 50", "1000"},
              {"keepdays", "Keep recordings", "0 - 365", "-"}})
            QTest::addRow("%s %s", qPrintable(column), qPrintable(typed)) << column << label << range << typed << false;
    }
    // What is typed is saved as it stands, or refused with the field and its
    // range named, nothing written and no folder made.
    void typedNumbers()
    {
        QFETCH(QString, column);
        QFETCH(QString, label);
        QFETCH(QString, range);
        QFETCH(QString, typed);
        QFETCH(bool, accepted);
        const QString fresh = m_folder->filePath("fresh/records");
        edit("recordpath")->setText(fresh);
        const QString before = storedRow();
        type(column, typed);
        const QStringList tips = click("pushButton_Save");
        QCOMPARE(shown(column), typed);
        if (accepted) {
            QCOMPARE(tips, QStringList{"tip_setsuccess"});
            LocalOptions now(g_database);
            now.reload();
            QCOMPARE(LocalOptions::value(now.stored(), column).toString(), typed);
            QVERIFY(QFileInfo(fresh).isDir());
        } else {
            QCOMPARE(tips, QStringList{"tip_optoutofrange"});
            QVERIFY2(m_lastTip.contains(label) && m_lastTip.contains(range), qPrintable(m_lastTip));
            QCOMPARE(storedRow(), before);
            QVERIFY(!QFileInfo::exists(m_folder->filePath("fresh")));
        }
    }

    void unitReadsForTheNumber_data()
    {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("unit");
        for (const auto &[column, typed, unit] : {std::array<QString, 3>{"prevrecord", "1", "second (0 - 3)"},
                                                  {"prevrecord", "2", "seconds (0 - 3)"},
                                                  {"recordduration", "", "seconds (60 - 600)"},
                                                  {"keepdays", "1", "day (0 - 365)"},
                                                  {"capturecount", "1", "picture (1 - 10)"},
                                                  {"capturecount", "-1", "pictures (1 - 10)"},
                                                  {"reservedsize", "1", "GB (5 - 50)"}})
            QTest::addRow("%s %s", qPrintable(column), qPrintable(typed)) << column << typed << unit;
    }
    void unitReadsForTheNumber()
    {
        QFETCH(QString, column);
        QFETCH(QString, typed);
        QFETCH(QString, unit);
        type(column, typed);
        QCOMPARE(this->unit(column), unit);
    }

    // A write the database refuses is told over the page and logged with the
    // option and the database's reason, what was typed stays; only what was
    // written before it is logged as saved and announced.
    void refusedWriteIsToldAndLogged_data()
    {
        QTest::addColumn<bool>("held"); // else a trigger refuses keepdays
        QTest::addColumn<QStringList>("logged");
        QTest::newRow("held locked") << true
                                     << QStringList{"modify system options|admin|3|Default user: the database refused "
                                                    "the change: database is locked"};
        QTest::newRow("keep days refused")
            << false
            << QStringList{"modify system options|admin|1|Default user",
                           "modify system options|admin|3|Keep recordings: the database refused the change: kept"};
    }
    void refusedWriteIsToldAndLogged()
    {
        QFETCH(bool, held);
        QFETCH(QStringList, logged);
        if (!held)
            QVERIFY(RunFolder::exec(kDb, "create trigger nokeep before update of keepdays on systeminfo "
                                         "begin select raise(abort, 'kept'); end;"));
        QSignalSpy saved(m_page.get(), &qwLocalOptions::sigSaved);
        edit("defuser")->setText("someone");
        type("keepdays", "12");
        auto holder = std::make_unique<testsupport::HeldLock>();
        if (held)
            QVERIFY(holder->hold(kDb));
        const QStringList tips = click("pushButton_Save");
        holder.reset();
        QCOMPARE(tips, QStringList{"tip_databaseerr"});
        QCOMPARE(saved.count(), held ? 0 : 1);
        QCOMPARE(edit("defuser")->text(), QString("someone"));
        QCOMPARE(shown("keepdays"), QString("12"));
        if (held) {
            // Free again: the same Save stores what was typed, and only that.
            QCOMPARE(click("pushButton_Save"), QStringList{"tip_setsuccess"});
            QCOMPARE(g_database->getKeepDays(), 12);
            logged << "modify system options|admin|1|Default user, Keep recordings";
        }
        QCOMPARE(logRows(), logged);
    }

    void withoutTheRightNothingIsWritten()
    {
        g_curUserRights = userrights::ScheduleManagement | userrights::LogView;
        QSignalSpy saved(m_page.get(), &qwLocalOptions::sigSaved);
        const QString before = storedRow();
        type("keepdays", "3");
        QCOMPARE(click("pushButton_Save"), QStringList{"tip_permdenied"});
        QCOMPARE(storedRow(), before);
        QCOMPARE(saved.count(), 0);
    }

    // Numbers outside what the page offers are shown as they are and kept
    // until the operator picks another value.
    void unshowableValuesShownAndKept()
    {
        QVERIFY(RunFolder::exec(kDb, "update recordcapture set captureinterval=45, snapshotformat=7"));
        click("pushButton_Restore");
        QCOMPARE(shown("captureinterval"), QString("45"));
        QVERIFY(list("snapshotformat")->currentText().startsWith("7"));
        type("keepdays", "12");
        QCOMPARE(click("pushButton_Save"), QStringList{"tip_setsuccess"});
        QCOMPARE(g_database->getCaptureInterval(), 45);
        QCOMPARE(g_database->getSnapshotFormat(), 7);
        QCOMPARE(g_database->getKeepDays(), 12);

        type("captureinterval", "1");
        list("snapshotformat")->setCurrentIndex(0);
        click("pushButton_Save");
        QCOMPARE(g_database->getCaptureInterval(), 1);
        QCOMPARE(g_database->getSnapshotFormat(), 0);
        QCOMPARE(list("snapshotformat")->count(), 2);
    }

    // As the login window stores the typed name: whoever ticks the box is
    // who logs in by itself next time; saving other options steals nothing.
    void autoLoginStoresWhoTicksIt_data()
    {
        QTest::addColumn<bool>("ticked");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("logged");
        QTest::newRow("ticked now") << false << "1|guard"
                                    << "Auto login";
        QTest::newRow("ticked before") << true << "1|admin"
                                       << "Add found devices automatically";
    }
    void autoLoginStoresWhoTicksIt()
    {
        QFETCH(bool, ticked);
        QFETCH(QString, stored);
        QFETCH(QString, logged);
        QVERIFY(RunFolder::exec(kDb, QString("update systeminfo set autoname='admin', autologin=%1").arg(int(ticked))));
        click("pushButton_Restore");
        g_curUserName = "guard";
        box(ticked ? "autoadd" : "autologin")->setChecked(true);
        QCOMPARE(click("pushButton_Save"), QStringList{"tip_setsuccess"});
        QCOMPARE(RunFolder::query(kDb, "select autologin||'|'||autoname from systeminfo"), stored);
        QCOMPARE(logRows(), QStringList{"modify system options|guard|1|" + logged});
    }

    void browseFillsTheFolder()
    {
        QString started;
        qwLocalOptions::setFolderChooser([&started](QWidget *, const QString &start) {
            started = start;
            return started.isEmpty() ? QString() : QStringLiteral("/tmp/chosen");
        });
        click("pushButton_Browse_downloadpath");
        QCOMPARE(started, QString("."));
        QCOMPARE(edit("downloadpath")->text(), QString("/tmp/chosen"));
    }
};

QTEST_MAIN(TestOptionsPage)
#include "tst_optionspage.moc"
