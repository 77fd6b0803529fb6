#include "app/database.h"
#include "liveview/qwcameraitem.h"
#include "cameraitems.h"
#include "liveview/qwliveview.h"
#include "tests/support/livepage.h"
#include "livedevices.h"

#include <QtTest>

namespace {

using cameraitems::enabledMask;

} // namespace

class StatusTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    void statusTable()
    {
        testsupport::LivePageFixture fixture;
        QVERIFY(fixture.isValid());
        _st_device_item byAddress;
        byAddress.devname = "camA";
        byAddress.address = "127.0.0.2";
        byAddress.port = "1";
        byAddress.devtype = "VARAR";
        QVERIFY(g_database->addDevice(byAddress) >= 1);
        _st_device_item byId = byAddress;
        byId.devname = "camP";
        byId.address = "ABCD-123456-XYZ";
        byId.devtype = "LOOPP2P";
        QVERIFY(g_database->addDevice(byId) >= 1);
        qwLiveView page;
        qwCameraItem *a = page.cameraItem(0);
        qwCameraItem *p = page.cameraItem(1);

        page.onDeviceStatus("127.0.0.2", 0);
        QCOMPARE(a->getStatus(), 1);
        QCOMPARE(enabledMask(a), 0x18);
        page.onDeviceStatus("127.0.0.2", 1);
        QCOMPARE(a->getStatus(), 2);
        QCOMPARE(enabledMask(a), 0x1f);
        // A logged-in row stays as it is while the next check runs.
        page.onDeviceStatus("127.0.0.2", 0);
        QCOMPARE(a->getStatus(), 2);
        QCOMPARE(enabledMask(a), 0x1f);
        page.onDeviceStatus("127.0.0.2", 2);
        QCOMPARE(a->getStatus(), 4);
        QCOMPARE(enabledMask(a), 0x18);
        page.onDeviceStatus("127.0.0.2", 3);
        QCOMPARE(a->getStatus(), 0);
        QCOMPARE(enabledMask(a), 0x18);
        page.onDeviceStatus("127.0.0.2", 7);
        QCOMPARE(a->getStatus(), 0);

        page.onDeviceStatus("ABCD-123456-XYZ", 1);
        QCOMPARE(p->getStatus(), 2);
        QCOMPARE(enabledMask(p), 0x19);
        // Unknown addresses change nothing.
        page.onDeviceStatus("127.0.0.99", 1);
        page.onDeviceMataChange("127.0.0.99", 0);
        QCOMPARE(a->getStatus(), 0);
    }

    void loginRefusedAndRestored()
    {
        testsupport::LivePageFixture fixture;
        QVERIFY(fixture.isValid());
        auto device = livedevices::start("127.0.0.3");
        QVERIFY(device);
        QVERIFY(g_database->addDevice(livedevices::record("camB", *device)) >= 1);
        qwLiveView page;
        QTRY_COMPARE_WITH_TIMEOUT(page.cameraItem(0)->getStatus(), 2, 8000);
        device->setCredentials("admin", "other");
        QTRY_COMPARE_WITH_TIMEOUT(page.cameraItem(0)->getStatus(), 4, 9000);
        QCOMPARE(enabledMask(page.cameraItem(0)), 0x18);
        device->setCredentials("admin", "1234");
        QTRY_COMPARE_WITH_TIMEOUT(page.cameraItem(0)->getStatus(), 2, 9000);
        QCOMPARE(enabledMask(page.cameraItem(0)), 0x1f);
    }
};

QTEST_MAIN(StatusTest)
#include "tst_status.moc"
