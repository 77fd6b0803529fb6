#include "device/deviceaddress.h"
#include "devsettings/qwdevicesettings.h"
#include "liveview/qwadddevice.h"
#include "media/qcstreamserver.h"
#include "tests/support/popups.h"
#include "devicesuite.h"

#include <QPushButton>

using testsupport::popupKeys;

// The address a device is stored at, on every road that adds or changes
// one: what is taken, and one device per address however it is spelt.
class DeviceAddressTest : public livedevices::DeviceSuite
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        shell::linkPages();
    }
    void init() { beginRow(); }
    void cleanup() { endRow(); }

    // Every road that adds or changes a device takes only an IPv4 address or
    // a P2P identifier: a LAN search answer or a stored row may hold a path.
    void addressCheckOnEveryRoad_data()
    {
        QTest::addColumn<QString>("road");
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("accepted");
        for (const char *road : {"add", "add all", "modify", "stored"}) {
            QTest::addRow("%s, IPv4", road) << road << "127.0.0.9" << true;
            QTest::addRow("%s, escaping path", road) << road << "../../../escape-a" << false;
            QTest::addRow("%s, separator", road) << road << "abc/defgh" << false;
            QTest::addRow("%s, part over 255", road) << road << "127.0.0.256" << false;
            QTest::addRow("%s, trailing blank", road) << road << "127.0.0.9 " << false;
            QTest::addRow("%s, trailing newline", road) << road << "127.0.0.9\n" << false;
        }
        // Identifiers only where the type keeps them on the loopback stand-in.
        QTest::newRow("add, identifier") << "add"
                                         << "ABCD-123456-XYZ" << true;
        QTest::newRow("stored, identifier") << "stored"
                                            << "ABCD-123456-XYZ" << true;
        QTest::newRow("stored, identifier too short") << "stored"
                                                      << "ABCDE" << false;
    }

    void addressCheckOnEveryRoad()
    {
        QFETCH(QString, road);
        QFETCH(QString, address);
        QFETCH(bool, accepted);
        _st_device_item stored;
        stored.devname = "camX";
        stored.address = road == "stored" ? address : QString("127.0.0.8");
        stored.port = "1";
        stored.devtype = "LOOPP2P";
        qint64 row = 0;
        if (road == "stored" || road == "modify")
            QVERIFY((row = g_database->addDevice(stored)) >= 1);
        qwLiveView page;
        if (road == "add") {
            page.onAddDevManual();
            page.onCameraOptionResult("camX", address, "LOOPP2P", "1", "admin", "1234", 0);
        } else if (road == "add all") {
            page.onAddDevManual();
            auto *dialog = page.findChild<qwAddDevice *>();
            dialog->addFound({"camX", address, "1", "IPC", "00:12:34:56:78:9A"});
            dialog->addAllButton()->click();
        } else if (road == "modify") {
            page.onCameraModifyResult("camX", address, 0, "1", "admin", "1234", page.devices().at(0)->indexid);
        }
        QStringList addresses;
        for (const _st_device_item *d : page.devices())
            addresses << d->address;
        QCOMPARE(addresses.contains(address), accepted);
        QCOMPARE(page.streamServer()->unitFor(address) != nullptr, accepted);
        // A stored row left out is said in the system log, naming the row.
        if (road == "stored") {
            const QString skipped =
                QString("device skipped|3|camX|%1|stored row %2:").arg(deviceaddress::printable(address)).arg(row);
            m_fixture->flushLog();
            const QString rows = testsupport::RunFolder::query(
                m_fixture->logFile(), QString("SELECT logdecl, logtype, reldevname, reldevaddr, substr(lognote, 1, %1) "
                                              "FROM systemlogs WHERE logtype = 3")
                                          .arg(skipped.section('|', 4).size()));
            QCOMPARE(rows, accepted ? QString() : skipped);
        }
    }

    // One device at one address, whatever its spelling: camB's 127.0.0.3 and
    // camZ's stored 127.0.0.04 are taken on every road in any spelling, and
    // an address typed anew is stored without leading zeros.
    void oneAddressWhateverTheSpelling_data()
    {
        QTest::addColumn<QString>("road");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("stored"); // camA's address afterwards, or the new device's
        for (const char *road : {"add", "modify", "settings window"}) {
            QTest::addRow("%s, camB's spelt with zeros", road) << road << "127.0.0.03"
                                                               << "";
            QTest::addRow("%s, camZ's spelt without", road) << road << "127.0.0.4"
                                                            << "";
        }
        QTest::newRow("add, new address spelt with zeros") << "add"
                                                           << "127.0.0.09"
                                                           << "127.0.0.9";
        QTest::newRow("modify, new address spelt with zeros") << "modify"
                                                              << "127.0.0.009"
                                                              << "127.0.0.9";
        QTest::newRow("settings window, new address spelt with zeros") << "settings window"
                                                                       << "127.0.0.009"
                                                                       << "127.0.0.9";
    }

    void oneAddressWhateverTheSpelling()
    {
        QFETCH(QString, road);
        QFETCH(QString, address);
        QFETCH(QString, stored);
        storeDevices(2);
        QVERIFY(
            m_fixture->exec("INSERT INTO devices(devname,address,port,indexid) VALUES('camZ','127.0.0.04','80',90)"));
        qwLiveView page;
        if (road == "add") {
            page.onAddDevManual();
            page.onCameraOptionResult("camN", address, "VARAR", "80", "admin", "1234", 0);
        } else if (road == "modify") {
            page.onCameraModifyResult("camA", address, 0, "80", "admin", "1234", page.devices().at(0)->indexid);
        } else {
            page.onDevlistButtonClick(0, 4);
            emit page.findChild<qwDeviceSettings *>()->sigBaseInfoChange(address, "80", "admin", "1234");
        }
        // A window that moved its device closes, told.
        const QStringList told = stored.isEmpty()            ? QStringList{"tip_devexist"}
                                 : road == "settings window" ? QStringList{"tip_devsetclosed"}
                                                             : QStringList();
        QCOMPARE(popupKeys(&page), told);
        const QString others = "127.0.0.3\n127.0.0.04";
        const QString camA = road != "add" && !stored.isEmpty() ? stored : QString("127.0.0.2");
        const QString added = road == "add" && !stored.isEmpty() ? "\n" + stored : QString();
        QCOMPARE(m_fixture->query("SELECT address FROM devices ORDER BY indexid"), camA + "\n" + others + added);
        QCOMPARE(page.devices().at(0)->address, camA);
    }
};

QTEST_MAIN(DeviceAddressTest)
#include "tst_deviceaddress.moc"
