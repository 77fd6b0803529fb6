#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <memory>

#include "app/core/currentuser.h"
#include "app/core/database.h"
#include "app/widgets/qwtipsdlgex.h"
#include "app/widgets/userrights.h"
#include "localsettings/qwlocaloptions.h"
#include "tests/localsettings/options/storedoptions.h"
#include "tests/support/appglobals.h"
#include "tests/support/findchild.h"
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
    QSpinBox *spin(const char *column) { return field<QSpinBox>(QStringLiteral("spinBox_") + column); }
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
        QCOMPARE(spin("reservedsize")->minimum(), 5);
        QCOMPARE(spin("captureinterval")->maximum(), 30);
        QCOMPARE(list("snapshotquality")->currentText(), QString("75"));
        edit("defuser")->setText("someone");
        spin("recordduration")->setValue(90);
        box("autostream")->setChecked(false);
        list("recordstream")->setCurrentIndex(1);
        QVERIFY(click("pushButton_Restore").isEmpty());
        QCOMPARE(edit("defuser")->text(), QString("admin"));
        QCOMPARE(spin("recordduration")->value(), 300);
        QVERIFY(box("autostream")->isChecked());
        QCOMPARE(list("recordstream")->currentData().toInt(), 0);
    }

    void saveWritesLogsAndAnnounces()
    {
        QSignalSpy saved(m_page.get(), &qwLocalOptions::sigSaved);
        const QString folder = m_folder->filePath("elsewhere/records");
        edit("recordpath")->setText(folder);
        box("recordskdenable")->setChecked(true);
        spin("capturecount")->setValue(10);
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
        QCOMPARE(logRows(), QStringList{"modify system options|admin|1|defpwd,recordpath,recordskdenable,"
                                        "capturecount,snapshotformat"});
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

    void withoutTheRightNothingIsWritten()
    {
        g_curUserRights = userrights::ScheduleManagement | userrights::LogView;
        QSignalSpy saved(m_page.get(), &qwLocalOptions::sigSaved);
        const QString before = storedRow();
        spin("keepdays")->setValue(3);
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
        QVERIFY(spin("captureinterval")->text().startsWith("45"));
        QVERIFY(list("snapshotformat")->currentText().startsWith("7"));
        spin("keepdays")->setValue(12);
        QCOMPARE(click("pushButton_Save"), QStringList{"tip_setsuccess"});
        QCOMPARE(g_database->getCaptureInterval(), 45);
        QCOMPARE(g_database->getSnapshotFormat(), 7);
        QCOMPARE(g_database->getKeepDays(), 12);

        spin("captureinterval")->stepUp();
        list("snapshotformat")->setCurrentIndex(0);
        click("pushButton_Save");
        QCOMPARE(g_database->getCaptureInterval(), 1);
        QCOMPARE(g_database->getSnapshotFormat(), 0);
        QCOMPARE(list("snapshotformat")->count(), 2);
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
