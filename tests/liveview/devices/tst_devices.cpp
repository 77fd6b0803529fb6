#include "app/core/currentuser.h"
#include "app/widgets/qwtipsdlg.h"
#include "devsettings/qwdevicesettings.h"
#include "liveview/qclivedevicerequests.h"
#include "liveview/qcptzstopretry.h"
#include "liveview/qwadddevice.h"
#include "liveview/qwdeviceform.h"
#include "liveview/qwmodifydevice.h"
#include "liveview/qwptzpanel.h"
#include "media/qcstreamserver.h"
#include "media/qcstreamutil.h"
#include "tests/devicesim/discoveryresponder.h"
#include "tests/support/heldlock.h"
#include "tests/support/popups.h"
#include "devicesuite.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>

#include <algorithm>

using livedevices::rowNames;
using testsupport::HeldLock;
using testsupport::popupKeys;

// The device list's roads: Add and its LAN search, Delete, the rows' rights
// and refresh, and what a PTZ stop owed to a listed device follows.
class DevicesTest : public DeviceSuite
{
    Q_OBJECT

private slots:
    // The Add dialog's default login that could not be read is no empty
    // default: the dialog says so.
    void addDefaultsWhileHeld()
    {
        qwLiveView page;
        {
            HeldLock holder;
            QVERIFY(holder.hold(m_fixture->databaseFile()));
            page.onAddDevManual();
        }
        auto *dialog = page.findChild<qwAddDevice *>();
        QVERIFY(dialog);
        QCOMPARE(dialog->form()->userName(), QString());
        QVERIFY(popupKeys(dialog).contains(QStringLiteral("tip_databasebusy")));
    }

    void addAllFromSearch()
    {
        devicesim::DiscoveryResponder responder;
        QVERIFY(responder.start({QHostAddress("127.0.0.1")}));
        devicesim::DiscoveryResponder::Record found;
        found.name = "lanCam";
        found.address = "127.0.0.7";
        found.port = 8081;
        found.model = "IPC-4M";
        found.mac = "00:12:34:56:78:9A";
        responder.setRecord(found);
        devicesim::DiscoveryResponder::Faults twice;
        twice.replies = 2;
        responder.setFaults(twice);
        qputenv("ARDO_DISCOVERY_TARGET", QByteArray("127.0.0.1:") + QByteArray::number(responder.port()));

        qwLiveView page;
        page.onAddDevManual();
        auto *dialog = page.findChild<qwAddDevice *>();
        QSignalSpy results(dialog, &qwAddDevice::sigOptionResult);
        dialog->searchButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!responder.received().isEmpty(), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(dialog->foundTable()->rowCount(), 1, 5000);
        QStringList cells;
        for (int c = 0; c < dialog->foundTable()->columnCount(); ++c)
            cells << dialog->foundTable()->item(0, c)->text();
        QCOMPARE(cells, (QStringList{"lanCam", "127.0.0.7", "8081", "IPC-4M", "00:12:34:56:78:9A"}));

        // A click on a found device fills the form; the login stays as typed.
        dialog->form()->userEdit()->setText("operator");
        const QTableWidget *table = dialog->foundTable();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(0, 3)).center());
        QCOMPARE(dialog->form()->nameEdit()->text(), QStringLiteral("lanCam"));
        QCOMPARE(dialog->form()->address(), QStringLiteral("127.0.0.7"));
        QCOMPARE(dialog->form()->port(), QStringLiteral("8081"));
        QCOMPARE(dialog->form()->userName(), QStringLiteral("operator"));
        QCOMPARE(dialog->form()->password(), QStringLiteral("1234"));

        dialog->addAllButton()->click();
        QCOMPARE(results.count(), 1);
        QCOMPARE(results.at(0), (QVariantList{"lanCam", "127.0.0.7", "VARAR", "8081", "operator", "1234", 1}));
        QCOMPARE(page.deviceCount(), 1);
        QCOMPARE(page.cameraItem(0)->infoLabel()->text(), QStringLiteral("127.0.0.7"));
        QCOMPARE(popupKeys(&page), QStringList());
        // Listed already: skipped, and said once.
        dialog->addAllButton()->click();
        QCOMPARE(results.count(), 1);
        QCOMPARE(popupKeys(&page), QStringList{"tip_devexist"});
        qputenv("ARDO_DISCOVERY_TARGET", "127.0.0.1:9");
    }

    // "Add all" takes each answer of the search as the Add form would take
    // the device typed, and says once how many it left out.
    void addAllAsTheFormTakes_data()
    {
        QTest::addColumn<QString>("stored");      // the address of a listed device, if any
        QTest::addColumn<QStringList>("answers"); // name|address|port
        QTest::addColumn<QStringList>("added");   // name|address|port
        QTest::addColumn<QString>("tip");
        QTest::addColumn<QString>("told"); // the reminder's text, where it matters
        const auto row = [](const char *tag, const char *stored, const QStringList &answers, const QStringList &added,
                            const char *tip,
                            const char *told = "") { QTest::newRow(tag) << stored << answers << added << tip << told; };
        const char *refused = "tip_foundrefused";
        row("port 0", "", {"cam|127.0.0.7|0", "ok|127.0.0.8|80"}, {"ok|127.0.0.8|80"}, refused);
        row("port 65536", "", {"cam|127.0.0.7|65536"}, {}, refused);
        row("port 4294967295", "", {"cam|127.0.0.7|4294967295"}, {}, refused);
        row("port 65535", "", {"cam|127.0.0.7|65535"}, {"cam|127.0.0.7|65535"}, "");
        row("host name", "", {"cam|localhost|80"}, {}, refused);
        row("identifier reached by address", "", {"cam|ABCDEF123456|80"}, {}, refused);
        row("two spellings of one address", "", {"a|127.0.0.05|80", "b|127.0.0.5|80"}, {"a|127.0.0.5|80"}, "");
        row("listed in another spelling", "127.0.0.05", {"a|127.0.0.5|80"}, {}, "tip_devexist");
        row("control bytes in the name", "", {" ca\nm\x1b[1m\t|127.0.0.7|80"}, {"cam[1m|127.0.0.7|80"}, "");
        row("refused and listed", "127.0.0.7", {"a|127.0.0.7|80", "b|127.0.0.8|0", "c|localhost|80", "d|127.0.0.9|80"},
            {"d|127.0.0.9|80"}, refused,
            "3 found devices were not added: 2 with an address or a port the Add form does not take, 1 already in "
            "the list");
    }

    void addAllAsTheFormTakes()
    {
        QFETCH(QString, stored);
        QFETCH(QStringList, answers);
        QFETCH(QStringList, added);
        QFETCH(QString, tip);
        QFETCH(QString, told);
        if (!stored.isEmpty()) {
            _st_device_item listed;
            listed.devname = "old";
            listed.address = stored;
            listed.port = "80";
            QVERIFY(g_database->addDevice(listed) >= 1);
        }
        qwLiveView page;
        page.onAddDevManual();
        auto *dialog = page.findChild<qwAddDevice *>();
        for (const QString &a : answers) {
            const QStringList f = a.split('|');
            dialog->addFound({f[0], f[1], f[2], "IPC", "00:12:34:56:78:9A"});
        }
        dialog->addAllButton()->click();
        QStringList devices;
        for (const _st_device_item *d : page.devices())
            if (d->devname != "old")
                devices << d->devname + "|" + d->address + "|" + d->port;
        QCOMPARE(devices, added);
        QCOMPARE(page.deviceList()->count(), added.size() + (stored.isEmpty() ? 0 : 1));
        if (!told.isEmpty())
            QCOMPARE(page.findChild<qwTipsDlg *>()->findChild<QLabel *>("label_Tips")->text(), told);
        QCOMPARE(popupKeys(&page), tip.isEmpty() ? QStringList() : QStringList{tip});
        const QString log = logRows();
        for (const QChar c : log)
            QVERIFY2(c == '\n' || c.category() != QChar::Other_Control, qPrintable(log));
        QCOMPARE(log.count("add device|1"), added.size());
    }

    // A reply of the search that is only its header names no device.
    void headerOnlyAnswer()
    {
        devicesim::DiscoveryResponder responder;
        QVERIFY(responder.start({QHostAddress("127.0.0.1")}));
        devicesim::DiscoveryResponder::Faults headerOnly;
        headerOnly.truncateTo = 8;
        responder.setFaults(headerOnly);
        qputenv("ARDO_DISCOVERY_TARGET", QByteArray("127.0.0.1:") + QByteArray::number(responder.port()));
        qwLiveView page;
        page.onAddDevManual();
        auto *dialog = page.findChild<qwAddDevice *>();
        dialog->searchButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!responder.received().isEmpty(), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->isSearching(), 5000);
        QCoreApplication::processEvents();
        qputenv("ARDO_DISCOVERY_TARGET", "127.0.0.1:9");
        QCOMPARE(dialog->foundTable()->rowCount(), 0);
        dialog->addAllButton()->click();
        QCOMPARE(page.deviceCount(), 0);
        QCOMPARE(popupKeys(&page), QStringList());
    }

    // A refused insert or deletion changes nothing and is logged as abnormal.
    void refusedWrite_data()
    {
        QTest::addColumn<QString>("event");
        QTest::newRow("add") << "INSERT";
        QTest::newRow("remove") << "DELETE";
    }

    void refusedWrite()
    {
        QFETCH(QString, event);
        const bool add = event == "INSERT";
        storeDevices(add ? 0 : 1);
        QVERIFY(m_fixture->exec("CREATE TRIGGER refuse BEFORE " + event +
                                " ON devices BEGIN SELECT RAISE(ABORT, 'no'); END"));
        qwLiveView page;
        if (add) {
            page.onAddDevManual();
            page.onCameraOptionResult("camA", "127.0.0.2", "VARAR", "80", "admin", "1234", 0);
        } else {
            page.onDevlistButtonClick(0, 0x10);
        }
        QCOMPARE(page.deviceList()->count(), add ? 0 : 1);
        QCOMPARE(page.streamServer()->unitFor("127.0.0.2") != nullptr, !add);
        const QString log = logRows();
        const QString kind = add ? "add device|" : "delete device|";
        QVERIFY2(log.contains(kind + "3|camA|127.0.0.2"), qPrintable(log));
        QVERIFY(!log.contains(kind + "1"));
    }

    // A Delete takes the one device asked for, though an older version
    // stored another at its address; a device whose row went meanwhile
    // leaves the list, said and logged as no deletion made.
    void deleteTakesTheOneDeviceAsked()
    {
        storeDevices(2);
        QVERIFY(
            m_fixture->exec("INSERT INTO devices(devname,address,port,indexid) VALUES('camZ','127.0.0.2','80',90)"));
        qwLiveView page;
        page.onDevlistButtonClick(0, 0x10);
        QCOMPARE(m_fixture->query("SELECT devname FROM devices ORDER BY indexid"), QStringLiteral("camB\ncamZ"));
        QVERIFY(m_fixture->exec("DELETE FROM devices WHERE devname = 'camB'"));
        page.onDevlistButtonClick(0, 0x10);
        QCOMPARE(page.deviceCount(), 0);
        QVERIFY(!page.streamServer()->unitFor("127.0.0.3"));
        QCOMPARE(popupKeys(&page), QStringList{"tip_devgone"});
        const QString log = logRows();
        QVERIFY2(log.contains("delete device|1|camA|127.0.0.2") && log.contains("delete device|3|camB|127.0.0.3") &&
                     !log.contains("delete device|1|camB"),
                 qPrintable(log));
    }

    // Rows an older version left at one address are listed, each; the one
    // left after the other's Delete keeps the address's streams, and adding
    // the address, or one another program stored meanwhile, is "devexist".
    void rowsAtOneAddressAreListed()
    {
        m_fixture.reset();
        const QString row = "INSERT INTO devices(devname,address,port,username,password,devtype,indexid) "
                            "VALUES('%1','127.0.0.2','80','admin','1234','VARAR',%2)";
        m_fixture = std::make_unique<testsupport::LivePageFixture>(
            QStringList{row.arg("camA").arg(1), row.arg("camZ").arg(90)});
        QVERIFY(m_fixture->isValid());
        qwLiveView page;
        QCOMPARE(rowNames(page), (QStringList{"camA", "camZ"}));
        page.onDevlistButtonClick(0, 0x10);
        QCOMPARE(rowNames(page), QStringList{"camZ"});
        QVERIFY(page.streamServer()->unitFor("127.0.0.2"));
        QCOMPARE(page.streamServer()->unitFor("127.0.0.2")->deviceIndex(), qint64(90));
        QVERIFY(
            m_fixture->exec("INSERT INTO devices(devname,address,port,indexid) VALUES('camY','127.0.0.7','80',91)"));
        page.onAddDevManual();
        for (const char *address : {"127.0.0.2", "127.0.0.7"}) {
            page.onCameraOptionResult("camN", address, "VARAR", "80", "admin", "1234", 0);
            QCOMPARE(popupKeys(&page), QStringList{"tip_devexist"});
        }
        QCOMPARE(m_fixture->query("SELECT devname FROM devices ORDER BY indexid"), QStringLiteral("camZ\ncamY"));
        QVERIFY(!logRows().contains("add device|1|"));
    }

    void removal()
    {
        storeDevices(3);
        qwLiveView page;
        page.onDevlistButtonClick(1, 0x10);
        QCOMPARE(rowNames(page), (QStringList{"camA", "camC"}));
        QCOMPARE(page.deviceCount(), 2);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(page.cameraItem(i)->index(), i);
        QVERIFY(!page.streamServer()->unitFor("127.0.0.3"));
        QCOMPARE(m_fixture->query("SELECT count(*) FROM devices"), QStringLiteral("2"));
        page.onDevlistButtonClick(1, 0x10);
        page.onDevlistButtonClick(0, 0x10);
        QCOMPARE(page.deviceCount(), 0);
        QCOMPARE(page.deviceList()->count(), 0);
        QVERIFY(page.devices().isEmpty());
        const QString log = logRows();
        QCOMPARE(log.count("delete device|1|"), 3);

        // Out of range: nothing.
        page.removeDevice(0);
        page.modifyDevice(5);
        QVERIFY(!page.findChild<qwModifyDevice *>());
    }

    // A PTZ stop owed to a device ends with its row, or with its row's move.
    void owedStopFollowsTheList_data()
    {
        QTest::addColumn<QString>("road");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("owed");
        QTest::newRow("delete") << "delete"
                                << "127.0.0.2" << 0;
        QTest::newRow("modify to another address") << "modify"
                                                   << "127.0.0.9" << 0;
        QTest::newRow("modify the name only") << "modify"
                                              << "127.0.0.2" << 1;
    }

    void owedStopFollowsTheList()
    {
        QFETCH(QString, road);
        QFETCH(QString, address);
        QFETCH(int, owed);
        storeDevices(2);
        qwLiveView page;
        qcLiveDeviceRequests *requests = page.deviceRequests();
        auto *stops = page.ptzPanel()->findChild<qcPtzStopRetry *>();
        QVERIFY(stops);
        devicesim::Device &camA = *m_devices[0];
        camA.stop();
        requests->setDevice("127.0.0.2", QString::number(camA.port()), "admin", "1234");
        QVERIFY(requests->postPtzControl(
            "<request><ptzcmd><cmd>0</cmd><move><hori>0</hori><vert>0</vert></move></ptzcmd></request>",
            qcLiveDeviceRequests::OpStop));
        QTRY_COMPARE(stops->owedCount(), 1);
        popupKeys(page.ptzPanel());
        if (road == "delete") {
            page.onDevlistButtonClick(0, 0x10);
        } else {
            page.onDevlistButtonClick(0, 8);
            auto *modify = page.findChild<qwModifyDevice *>();
            QVERIFY(modify);
            modify->form()->setValues("camN", address, qwDeviceForm::ByAddress, QString::number(camA.port()), "admin",
                                      "1234");
            modify->confirmButton()->click();
        }
        QCOMPARE(stops->owedCount(), owed);
        QCOMPARE(requests->address(), road == "delete" ? QString() : address);
        if (owed)
            return;
        // A device started later at the old address is not that camera.
        QVERIFY(camA.start(camA.address(), camA.port()));
        camA.clearLog();
        stops->retryOwed();
        QTRY_COMPARE(stops->attemptsRunning(), 0);
        QVERIFY(!camA.waitFor(
            [](const QList<devicesim::LoggedRequest> &log) {
                return std::any_of(log.begin(), log.end(), [](const auto &r) { return r.path == "/action/ptz"; });
            },
            300));
    }

    void rights()
    {
        storeDevices(1);
        qwLiveView page;
        // PTZ and snapshot rights alone do not open the settings window.
        g_curUserRights = 0x1 | 0x2;
        page.onDevlistButtonClick(0, 4);
        QCOMPARE(popupKeys(&page), QStringList{"tip_permdenied"});
        QVERIFY(!page.findChild<qwDeviceSettings *>());
        g_curUserRights = 0x20;
        page.onDevlistButtonClick(0, 4);
        QVERIFY(page.findChild<qwDeviceSettings *>());
        page.onDevlistButtonClick(0, 8);
        QCOMPARE(popupKeys(&page), QStringList{"tip_permdenied"});
        QVERIFY(!page.findChild<qwModifyDevice *>());
        page.onDevlistButtonClick(0, 0x10);
        QCOMPARE(popupKeys(&page), QStringList{"tip_permdenied"});
        QCOMPARE(page.deviceCount(), 1);
        g_curUserRights = 0;
        page.onDevlistButtonClick(0, 4);
        QCOMPARE(popupKeys(&page), QStringList{"tip_permdenied"});
        QCOMPARE(page.findChildren<qwDeviceSettings *>().size(), 1);
    }

    void refreshAndOpenWithoutLogin()
    {
        storeDevices(1);
        m_devices[0]->stop();
        qwLiveView page;
        page.onDevlistButtonClick(0, 0);
        QCOMPARE(page.cameraItem(0)->getStatus(), 1);
        QVERIFY(!page.cameraItem(0)->isOptionEnabled(4));
        // Not logged in: nothing opens.
        page.openStream(0);
        page.onListItemDrop(2);
        QCOMPARE(page.selectedView(), 2);
        QVERIFY(page.viewRecords().isEmpty());
        QVERIFY(!page.viewToolbar(2));
        QTRY_COMPARE_WITH_TIMEOUT(page.cameraItem(0)->getStatus(), 0, 8000);
        QVERIFY(page.cameraItem(0)->isOptionEnabled(8));
    }
};

QTEST_MAIN(DevicesTest)
#include "tst_devices.moc"
