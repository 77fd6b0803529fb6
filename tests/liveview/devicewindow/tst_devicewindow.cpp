#include "app/widgets/qwtipsdlg.h"
#include "devsettings/qwdevicesettings.h"
#include "liveview/livetext.h"
#include "liveview/qwdeviceform.h"
#include "liveview/qwmodifydevice.h"
#include "media/qcstreamserver.h"
#include "media/qcstreamutil.h"
#include "platform/widgets/qipaddressedit.h"
#include "tests/support/popups.h"
#include "devicesuite.h"

#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

using testsupport::popupKeys;

// A device's settings window as the device list opens it and follows its
// device.
class DeviceWindowTest : public DeviceSuite
{
    Q_OBJECT

private slots:
    // A refused update changes nothing and says so, on screen and in the log.
    void refusedUpdate()
    {
        storeDevices(1);
        qwLiveView page;
        QVERIFY(m_fixture->exec("CREATE TRIGGER refuse BEFORE UPDATE ON devices BEGIN SELECT RAISE(ABORT, 'no'); END"));
        const qint64 a = page.devices().at(0)->indexid;
        qcStreamUtil *unit = page.streamServer()->unitFor("127.0.0.2");
        page.onCameraModifyResult("camX", "127.0.0.8", 0, "81", "root", "pw", a);
        QCOMPARE(popupKeys(&page), QStringList{"tip_databaseerr"});
        QCOMPARE(page.devices().at(0)->devname, QStringLiteral("camA"));
        QCOMPARE(page.devices().at(0)->address, QStringLiteral("127.0.0.2"));
        QCOMPARE(page.cameraItem(0)->nameLabel()->text(), QStringLiteral("camA"));
        QCOMPARE(page.cameraItem(0)->infoLabel()->text(), QStringLiteral("127.0.0.2"));
        QCOMPARE(page.streamServer()->unitFor("127.0.0.2"), unit);
        QVERIFY(!page.streamServer()->unitFor("127.0.0.8"));

        page.onDevlistButtonClick(0, 4);
        auto *settings = page.findChild<qwDeviceSettings *>();
        settings->OnBaseinfoChange("root", "pw");
        QCOMPARE(popupKeys(&page), QStringList{"tip_databaseerr"});
        QCOMPARE(page.devices().at(0)->password, QStringLiteral("1234"));
        QCOMPARE(page.streamServer()->unitFor("127.0.0.2"), unit);
        // Both refusals are logged as abnormal, none as a change made.
        const QString log = logRows();
        QCOMPARE(log.count("modify device|3|"), 2);
        QVERIFY2(!log.contains("modify device|1|"), qPrintable(log));
    }

    void settingsWindow()
    {
        storeDevices(2);
        qwLiveView page;
        QTRY_COMPARE_WITH_TIMEOUT(page.cameraItem(0)->getStatus(), 2, 8000);
        page.onDevlistButtonClick(0, 4);
        auto *settings = page.findChild<qwDeviceSettings *>();
        QVERIFY(settings);
        QCOMPARE(settings->address(), QStringLiteral("127.0.0.2"));
        m_devices[0]->setCredentials("admin", "4321");
        settings->OnBaseinfoChange("admin", "4321");
        QCOMPARE(page.devices().at(0)->password, QStringLiteral("4321"));
        QCOMPARE(page.devices().at(1)->password, QStringLiteral("1234"));
        QCOMPARE(page.streamServer()->unitFor("127.0.0.2")->password(), QStringLiteral("4321"));
        QCOMPARE(m_fixture->query("SELECT password FROM devices WHERE address='127.0.0.2'"), QStringLiteral("4321"));
        QTRY_COMPARE_WITH_TIMEOUT(page.cameraItem(0)->getStatus(), 2, 8000);
        QVERIFY(logRows().contains("modify device|1|camA|127.0.0.2"));

        // A window whose device is gone changes nothing.
        page.onDevlistButtonClick(1, 4);
        auto windows = page.findChildren<qwDeviceSettings *>();
        QCOMPARE(windows.size(), 2);
        qwDeviceSettings *forB = windows.at(0) == settings ? windows.at(1) : windows.at(0);
        page.onDevlistButtonClick(1, 0x10);
        QCOMPARE(page.deviceCount(), 1);
        forB->OnBaseinfoChange("x", "y");
        QCOMPARE(page.deviceCount(), 1);
        QCOMPARE(page.devices().at(0)->username, QStringLiteral("admin"));
        QVERIFY(!page.streamServer()->unitFor("127.0.0.3"));
    }

    // A settings window acts for its device only where the device is: a
    // Modify that moves it (camA from .2 to .9, then camB to .2) or its
    // deletion closes the window, told, and what the closed window still
    // reports changes nothing; its own change to camB's address is refused
    // as the list's Modify refuses it.
    void settingsWindowFollowsItsDevice_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<QString>("stored"); // every stored address afterwards
        QTest::newRow("camA moved, camB to its old address") << "modify"
                                                             << "127.0.0.9\n127.0.0.2";
        QTest::newRow("camA deleted") << "delete"
                                      << "127.0.0.3";
        QTest::newRow("camB's address") << ""
                                        << "127.0.0.2\n127.0.0.3";
    }

    void settingsWindowFollowsItsDevice()
    {
        QFETCH(QString, meanwhile);
        QFETCH(QString, stored);
        storeDevices(2);
        qwLiveView page;
        page.onDevlistButtonClick(0, 4);
        QPointer<qwDeviceSettings> settings = page.findChild<qwDeviceSettings *>();
        QVERIFY(settings);
        if (meanwhile == "modify") {
            page.onCameraModifyResult("camA", "127.0.0.9", 0, "80", "admin", "1234", page.devices().at(0)->indexid);
            page.onCameraModifyResult("camB", "127.0.0.2", 0, "80", "admin", "1234", page.devices().at(1)->indexid);
        } else if (meanwhile == "delete") {
            page.onDevlistButtonClick(0, 0x10);
        }
        QCOMPARE(settings && settings->isVisible(), meanwhile.isEmpty());
        QVERIFY(settings);
        const QString address = meanwhile.isEmpty() ? "127.0.0.3" : "127.0.0.2";
        emit settings->sigBaseInfoChange(address, "80", "admin", "4321");
        QCOMPARE(popupKeys(&page), QStringList{meanwhile.isEmpty() ? "tip_devexist" : "tip_devsetclosed"});
        QCOMPARE(m_fixture->query("SELECT address FROM devices ORDER BY indexid"), stored);
        QCOMPARE(m_fixture->query("SELECT count(*) FROM devices WHERE password = '4321'"), QStringLiteral("0"));
        QVERIFY(!logRows().contains("modify device|1|camA|" + address));
    }

    // A list Modify that leaves a device's settings window asking where the
    // device was, or with a login it no longer has, closes the window, and
    // the reminder stays over the page when the dialog closes.
    void closedSettingsWindowIsTold_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("password");
        QTest::newRow("moved") << "127.0.0.9"
                               << "1234";
        QTest::newRow("password changed") << "127.0.0.2"
                                          << "4321";
    }

    void closedSettingsWindowIsTold()
    {
        QFETCH(QString, address);
        QFETCH(QString, password);
        storeDevices(1);
        qwLiveView page;
        page.onDevlistButtonClick(0, 4);
        QPointer<qwDeviceSettings> settings = page.findChild<qwDeviceSettings *>();
        QVERIFY(settings);
        page.onDevlistButtonClick(0, 8);
        QPointer<qwModifyDevice> dialog = page.findChild<qwModifyDevice *>();
        QVERIFY(dialog);
        dialog->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), dialog.data());
        dialog->form()->addressEdit()->setText(address);
        dialog->form()->passwordEdit()->setText(password);
        dialog->confirmButton()->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!dialog);
        QVERIFY(!settings || !settings->isVisible());
        const auto tips = page.findChildren<qwTipsDlg *>();
        QCOMPARE(tips.size(), 1);
        QCOMPARE(tips[0]->property(livetext::kTipKey).toString(), QStringLiteral("devsetclosed"));
        QCOMPARE(tips[0]->parentWidget(), &page);
        QVERIFY(tips[0]->isVisible());
    }

    // A second click on a row's settings button brings the device's open
    // window forward, even from behind another window; closing it deletes
    // it (its pages and previews with it) and the next click opens anew.
    void settingsWindowOncePerDevice()
    {
        storeDevices(2);
        qwLiveView page;
        page.onDevlistButtonClick(0, 4);
        QPointer<qwDeviceSettings> first = page.findChild<qwDeviceSettings *>();
        QVERIFY(first);
        QVERIFY(first->isVisible());
        QWidget other;
        other.show();
        other.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &other);

        page.onDevlistButtonClick(0, 4);
        QCOMPARE(page.findChildren<qwDeviceSettings *>().size(), 1);
        QTRY_COMPARE(QApplication::activeWindow(), first.data());
        page.onDevlistButtonClick(1, 4);
        QCOMPARE(page.findChildren<qwDeviceSettings *>().size(), 2);

        first->close();
        QTRY_VERIFY(first.isNull());
        page.onDevlistButtonClick(0, 4);
        const auto windows = page.findChildren<qwDeviceSettings *>();
        QCOMPARE(windows.size(), 2);
        QVERIFY(windows.at(0)->isVisible() && windows.at(1)->isVisible());
    }

    // The settings window is a window of its own though the page makes it:
    // a message of the page never comes up over it or over its dialogs.
    void messagesStayOffTheSettingsWindow()
    {
        storeDevices(1);
        qwLiveView page;
        page.show();
        page.onDevlistButtonClick(0, 4);
        auto *settings = page.findChild<qwDeviceSettings *>();
        QVERIFY(settings);
        QVERIFY(QTest::qWaitForWindowExposed(settings));
        QDialog dialog(settings);
        dialog.open();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(qwTipsDlg::ownerFor(&page), &page);
        QCOMPARE(qwTipsDlg::ownerFor(settings), &dialog);
    }
};

QTEST_MAIN(DeviceWindowTest)
#include "tst_devicewindow.moc"
