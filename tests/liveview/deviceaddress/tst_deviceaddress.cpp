#include "device/deviceaddress.h"
#include "liveview/qwadddevice.h"
#include "media/qcstreamserver.h"
#include "devicesuite.h"

#include <QPushButton>

// The address a device is stored at, on every road that adds or changes
// one: what is taken.
class DeviceAddressTest : public DeviceSuite
{
    Q_OBJECT

private slots:
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
};

QTEST_MAIN(DeviceAddressTest)
#include "tst_deviceaddress.moc"
