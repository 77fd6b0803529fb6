#include "devsettings/qwdevicesettings.h"
#include "tests/support/popups.h"
#include "devicesuite.h"

using testsupport::popupKeys;

// One device per address, on every road that adds or changes one, however
// the address is spelt.
class DeviceSpellingTest : public DeviceSuite
{
    Q_OBJECT

private slots:
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

QTEST_MAIN(DeviceSpellingTest)
#include "tst_devicespelling.moc"
