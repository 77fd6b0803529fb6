#include "app/widgets/qwtipsdlg.h"
#include "devsettings/qwdevicesettings.h"
#include "liveview/livetext.h"
#include "liveview/qwadddevice.h"
#include "liveview/qwdeviceform.h"
#include "liveview/qwmodifydevice.h"
#include "media/qcstreamserver.h"
#include "media/qcstreamutil.h"
#include "platform/widgets/qipaddressedit.h"
#include "tests/support/heldlock.h"
#include "tests/support/popups.h"
#include "tests/support/typing.h"
#include "devicesuite.h"

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

using livedevices::kHeldLocked;
using livedevices::rowNames;
using testsupport::HeldLock;
using testsupport::popupKeys;

// The Add form and the Modify dialog: what they store, refuse and tell.
class DeviceFormTest : public DeviceSuite
{
    Q_OBJECT

private slots:
    // A device added or changed from its dialog, or deleted from its row:
    // a counter left on a stored index still stores and lists the device; a
    // change the database cannot store is said over the dialog, which stays
    // open with what was typed, and the log says why in the database's own
    // words. A refused deletion keeps the row, the record and its streams.
    void changeFromDialog_data()
    {
        QTest::addColumn<QString>("road");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("says");
        QTest::newRow("counter on a stored index") << "add"
                                                   << "UPDATE systeminfo SET curdevindex = "
                                                      "(SELECT max(indexid) FROM devices)"
                                                   << "";
        QTest::newRow("insert refused") << "add"
                                        << "CREATE TRIGGER refuse BEFORE INSERT ON devices "
                                           "BEGIN SELECT RAISE(ABORT, 'devices kept read-only'); END"
                                        << "devices kept read-only";
        QTest::newRow("counter unusable") << "add"
                                          << "UPDATE systeminfo SET curdevindex = 0"
                                          << "holds no usable number";
        QTest::newRow("add, held locked") << "add" << kHeldLocked << "database is locked";
        QTest::newRow("modify, stored") << "modify"
                                        << ""
                                        << "";
        QTest::newRow("modify, held locked") << "modify" << kHeldLocked << "database is locked";
        QTest::newRow("modify, update refused") << "modify"
                                                << "CREATE TRIGGER refuse BEFORE UPDATE ON devices "
                                                   "BEGIN SELECT RAISE(ABORT, 'devices kept as they are'); END"
                                                << "devices kept as they are";
        QTest::newRow("delete, held locked") << "delete" << kHeldLocked << "database is locked";
        QTest::newRow("delete, removal refused") << "delete"
                                                 << "CREATE TRIGGER refuse BEFORE DELETE ON devices "
                                                    "BEGIN SELECT RAISE(ABORT, 'devices kept as they are'); END"
                                                 << "devices kept as they are";
    }

    void changeFromDialog()
    {
        QFETCH(QString, road);
        QFETCH(QString, fault);
        QFETCH(QString, says);
        const bool stored = says.isEmpty();
        storeDevices(2);
        if (!fault.isEmpty() && fault != kHeldLocked)
            QVERIFY(m_fixture->exec(fault));
        qwLiveView page;
        QPointer<QWidget> dialog;
        qwDeviceForm *form = nullptr;
        QPushButton *confirm = nullptr;
        if (road == "add") {
            page.onAddDevManual();
            auto *add = page.findChild<qwAddDevice *>();
            QVERIFY(add);
            dialog = add;
            form = add->form();
            confirm = add->addButton();
        } else if (road == "modify") {
            page.onDevlistButtonClick(0, 8);
            auto *modify = page.findChild<qwModifyDevice *>();
            QVERIFY(modify);
            dialog = modify;
            form = modify->form();
            confirm = modify->confirmButton();
        }
        if (dialog) {
            dialog->activateWindow();
            QTRY_COMPARE(QApplication::activeWindow(), dialog.data());
            form->setValues("camN", "127.0.0.9", qwDeviceForm::ByAddress, "80", "admin", "1234");
        }
        auto holder = std::make_unique<HeldLock>();
        if (fault == kHeldLocked)
            QVERIFY(holder->hold(m_fixture->databaseFile()));
        if (confirm)
            confirm->click();
        else
            page.onDevlistButtonClick(0, 0x10);
        holder.reset();

        if (road == "add") {
            QVERIFY(dialog->isVisible());
            QCOMPARE(page.deviceCount(), stored ? 3 : 2);
            QCOMPARE(rowNames(page).contains("camN"), stored);
            QCOMPARE(page.streamServer()->unitFor("127.0.0.9") != nullptr, stored);
            const QString largest = m_fixture->query("SELECT max(indexid) FROM devices WHERE address <> '127.0.0.9'");
            QCOMPARE(m_fixture->query("SELECT indexid FROM devices WHERE address = '127.0.0.9'"),
                     stored ? QString::number(largest.toLongLong() + 1) : QString());
            if (stored)
                QCOMPARE(page.devices().last()->indexid, largest.toLongLong() + 1);
        } else if (road == "modify") {
            QCOMPARE(dialog && dialog->isVisible(), !stored);
            if (!stored) {
                QCOMPARE(form->deviceName(), QStringLiteral("camN"));
                QCOMPARE(form->address(), QStringLiteral("127.0.0.9"));
            }
            QCOMPARE(rowNames(page), (QStringList{stored ? "camN" : "camA", "camB"}));
            QCOMPARE(page.devices().at(0)->address, QString(stored ? "127.0.0.9" : "127.0.0.2"));
            QCOMPARE(m_fixture->query("SELECT devname FROM devices ORDER BY indexid"),
                     QString(stored ? "camN\ncamB" : "camA\ncamB"));
        } else {
            QCOMPARE(rowNames(page), (QStringList{"camA", "camB"}));
            QCOMPARE(page.devices().at(0)->address, QStringLiteral("127.0.0.2"));
            QCOMPARE(m_fixture->query("SELECT count(*) FROM devices"), QStringLiteral("2"));
            QCOMPARE(page.deviceCount(), 2);
        }
        if (!stored && road != "add")
            QVERIFY(page.streamServer()->unitFor("127.0.0.2"));
        auto *message = (dialog ? dialog.data() : &page)->findChild<qwTipsDlg *>();
        QCOMPARE(message != nullptr, !stored);
        if (message) {
            QVERIFY(message->isVisible());
            QCOMPARE(message->property(livetext::kTipKey).toString(), QStringLiteral("databaseerr"));
        }
        QCOMPARE(popupKeys(&page), stored ? QStringList() : QStringList{"tip_databaseerr"});
        m_fixture->flushLog();
        const QString note = testsupport::RunFolder::query(
            m_fixture->logFile(),
            QString("SELECT logtype || '|' || ifnull(lognote, '') FROM systemlogs WHERE logdecl = '%1 device'")
                .arg(road));
        QVERIFY2(stored ? note == "1|" : note.startsWith("3|") && note.contains(says), qPrintable(note));
    }

    void modifyDialog()
    {
        storeDevices(3);
        qwLiveView page;
        // A's address taken by B: refused, both unchanged.
        page.onDevlistButtonClick(0, 8);
        auto *dialog = page.findChild<qwModifyDevice *>();
        QVERIFY(dialog);
        const qint64 a = page.devices().at(0)->indexid;
        QCOMPARE(dialog->indexId(), a);
        page.onCameraModifyResult("camA", "127.0.0.3", 0, "80", "admin", "1234", a);
        QCOMPARE(popupKeys(&page), QStringList{"tip_devexist"});
        QCOMPARE(page.devices().at(0)->address, QStringLiteral("127.0.0.2"));
        QCOMPARE(page.devices().at(1)->address, QStringLiteral("127.0.0.3"));
        delete dialog;

        // The dialog stays bound to its device when rows move under it.
        page.onDevlistButtonClick(2, 8);
        dialog = page.findChild<qwModifyDevice *>();
        page.onDevlistButtonClick(0, 0x10);
        QCOMPARE(rowNames(page), (QStringList{"camB", "camC"}));
        dialog->form()->nameEdit()->setText("camC2");
        dialog->confirmButton()->click();
        QCOMPARE(rowNames(page), (QStringList{"camB", "camC2"}));
        QCOMPARE(page.devices().at(0)->devname, QStringLiteral("camB"));
        QCOMPARE(page.devices().at(1)->devname, QStringLiteral("camC2"));
        QCOMPARE(m_fixture->query("SELECT devname FROM devices ORDER BY address"), QStringLiteral("camB\ncamC2"));
        QVERIFY(logRows().contains("modify device|1|camC2|127.0.0.4"));

        // A result for a device that is gone changes nothing.
        page.onCameraModifyResult("ghost", "127.0.0.9", 0, "80", "admin", "1234", a);
        QCOMPARE(rowNames(page), (QStringList{"camB", "camC2"}));
    }

    // A modification the list refuses keeps the dialog with what was typed,
    // says why over it and logs the attempt as abnormal.
    void modifyRefusedByTheList_data()
    {
        QTest::addColumn<bool>("removed");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("says");
        QTest::newRow("address of a listed device") << false << "devexist"
                                                    << "listed device camB";
        QTest::newRow("device removed meanwhile") << true << "devremoved"
                                                  << "removed";
    }

    void modifyRefusedByTheList()
    {
        QFETCH(bool, removed);
        QFETCH(QString, key);
        QFETCH(QString, says);
        storeDevices(2);
        qwLiveView page;
        page.onDevlistButtonClick(0, 8);
        QPointer<qwModifyDevice> dialog = page.findChild<qwModifyDevice *>();
        QVERIFY(dialog);
        if (removed)
            page.onDevlistButtonClick(0, 0x10);
        dialog->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), dialog.data());
        const QString address = removed ? "127.0.0.9" : "127.0.0.3";
        dialog->form()->setValues("camN", address, qwDeviceForm::ByAddress, "80", "admin", "1234");
        dialog->confirmButton()->click();
        QApplication::processEvents();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->form()->deviceName(), QStringLiteral("camN"));
        QCOMPARE(dialog->form()->address(), address);
        auto *message = dialog->findChild<qwTipsDlg *>();
        QVERIFY(message && message->isVisible());
        QCOMPARE(message->property(livetext::kTipKey).toString(), key);
        QCOMPARE(rowNames(page), removed ? QStringList{"camB"} : (QStringList{"camA", "camB"}));
        QCOMPARE(m_fixture->query("SELECT address FROM devices ORDER BY indexid"),
                 QString(removed ? "127.0.0.3" : "127.0.0.2\n127.0.0.3"));
        m_fixture->flushLog();
        const QString note = testsupport::RunFolder::query(
            m_fixture->logFile(),
            "SELECT logtype || '|' || ifnull(lognote, '') FROM systemlogs WHERE logdecl = 'modify device'");
        QVERIFY2(note.startsWith("3|") && note.contains(says), qPrintable(note));
    }

    // A device whose address changes keeps its recording schedule, stored
    // and running, whichever road changed it.
    void addressChangeKeepsTheSchedule_data()
    {
        QTest::addColumn<bool>("dialog");
        QTest::newRow("modify dialog") << true;
        QTest::newRow("settings window") << false;
    }

    void addressChangeKeepsTheSchedule()
    {
        QFETCH(bool, dialog);
        storeDevices(2);
        QVERIFY(g_database->setRecordScheduleEnable(true));
        storeAllDaySchedule();
        qwLiveView page;
        auto named = [&page] {
            QStringList out;
            for (const auto &e : page.streamServer()->recordSchedules())
                out << e.devices;
            out.removeDuplicates();
            return out;
        };
        QCOMPARE(named(), QStringList{"127.0.0.2"});
        if (dialog) {
            page.onDevlistButtonClick(0, 8);
            auto *modify = page.findChild<qwModifyDevice *>();
            QVERIFY(modify);
            modify->form()->setValues("camA", "127.0.0.9", qwDeviceForm::ByAddress, "80", "admin", "1234");
            modify->confirmButton()->click();
        } else {
            page.onDevlistButtonClick(0, 4);
            auto *settings = page.findChild<qwDeviceSettings *>();
            QVERIFY(settings);
            emit settings->sigBaseInfoChange("127.0.0.9", "80", "admin", "1234");
        }
        QCOMPARE(page.devices().at(0)->address, QStringLiteral("127.0.0.9"));
        QCOMPARE(m_fixture->query("SELECT ipaddr FROM schedules"), QStringLiteral("127.0.0.9"));
        QCOMPARE(named(), QStringList{"127.0.0.9"});
    }

    // A Modify dialog writes back only what was changed in it: a password
    // the settings window changed, or an address another Modify dialog
    // gave, while it was open stays as the device has it now.
    void modifyWritesOnlyWhatItChanged_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<QString>("stored"); // devname|address|password afterwards
        QTest::newRow("password changed in the settings window") << "settings window"
                                                                 << "camN|127.0.0.2|4321";
        QTest::newRow("moved by another Modify dialog") << "modify"
                                                        << "camN|127.0.0.9|1234";
    }

    void modifyWritesOnlyWhatItChanged()
    {
        QFETCH(QString, meanwhile);
        QFETCH(QString, stored);
        storeDevices(1);
        storeAllDaySchedule();
        qwLiveView page;
        page.onDevlistButtonClick(0, 8);
        QPointer<qwModifyDevice> first = page.findChild<qwModifyDevice *>();
        QVERIFY(first);
        if (meanwhile == "settings window") {
            page.onDevlistButtonClick(0, 4);
            QPointer<qwDeviceSettings> settings = page.findChild<qwDeviceSettings *>();
            QVERIFY(settings);
            m_devices[0]->setCredentials("admin", "4321");
            settings->OnBaseinfoChange("admin", "4321");
            settings->close();
        } else {
            page.onDevlistButtonClick(0, 8);
            auto dialogs = page.findChildren<qwModifyDevice *>();
            dialogs.removeOne(first.data());
            QCOMPARE(dialogs.size(), 1);
            dialogs[0]->form()->addressEdit()->setText("127.0.0.9");
            dialogs[0]->confirmButton()->click();
        }
        first->form()->nameEdit()->setText("camN");
        first->confirmButton()->click();
        QCOMPARE(m_fixture->query("SELECT devname || '|' || address || '|' || password FROM devices"), stored);
        const QStringList fields = stored.split('|');
        const _st_device_item *camA = page.devices().at(0);
        QCOMPARE((QStringList{camA->devname, camA->address, camA->password}), fields);
        QCOMPARE(page.streamServer()->unitFor(fields[1])->password(), fields[2]);
        QCOMPARE(m_fixture->query("SELECT ipaddr FROM schedules"), fields[1]);
    }

    // The address typed into the boxes of the Add form or the Modify
    // dialog is stored as the boxes show it; a box left empty stores
    // nothing and says what is missing.
    void typedAddress_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("typed");  // the four boxes' keys, '|' between
        QTest::addColumn<QString>("shown");  // the boxes afterwards, '.' between
        QTest::addColumn<QString>("stored"); // every stored address afterwards
        QTest::addColumn<QString>("tip");
        const QString fullwidth = QString::fromUtf8("１２７|０|０|９");
        QTest::newRow("add, fullwidth digits") << "add" << fullwidth << "127.0.0.9"
                                               << "127.0.0.2\n127.0.0.9"
                                               << "";
        QTest::newRow("add, a box left empty") << "add"
                                               << "127|0||9"
                                               << "127.0..9"
                                               << "127.0.0.2"
                                               << "tip_ipincomplete";
        QTest::newRow("modify, fullwidth digits") << "modify" << fullwidth << "127.0.0.9"
                                                  << "127.0.0.9"
                                                  << "";
        QTest::newRow("modify, a box left empty") << "modify"
                                                  << "127|0||9"
                                                  << "127.0..9"
                                                  << "127.0.0.2"
                                                  << "tip_ipincomplete";
    }
    void typedAddress()
    {
        QFETCH(QString, dialog);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(QString, stored);
        QFETCH(QString, tip);
        storeDevices(1);
        qwLiveView page;
        qwDeviceForm *form = nullptr;
        QPushButton *confirm = nullptr;
        if (dialog == "add") {
            page.onAddDevManual();
            auto *add = page.findChild<qwAddDevice *>();
            QVERIFY(add);
            form = add->form();
            confirm = add->addButton();
            form->nameEdit()->setText("camN");
        } else {
            page.onDevlistButtonClick(0, 8);
            auto *modify = page.findChild<qwModifyDevice *>();
            QVERIFY(modify);
            form = modify->form();
            confirm = modify->confirmButton();
        }
        const QStringList keys = typed.split('|');
        for (int i = 0; i < 4; ++i) {
            form->addressEdit()->field(i)->clear();
            testsupport::typeText(form->addressEdit()->field(i), keys[i]);
        }
        QCOMPARE(form->addressEdit()->GetValue(), shown);
        confirm->click();
        QCOMPARE(popupKeys(&page), tip.isEmpty() ? QStringList() : QStringList{tip});
        QCOMPARE(m_fixture->query("SELECT address FROM devices ORDER BY indexid"), stored);
        const QString log = logRows();
        QVERIFY2(tip.isEmpty() == log.contains(QString("%1 device|1|").arg(dialog)), qPrintable(log));
        QVERIFY2(!log.contains("0.0.0.0"), qPrintable(log));
    }
};

QTEST_MAIN(DeviceFormTest)
#include "tst_deviceform.moc"
