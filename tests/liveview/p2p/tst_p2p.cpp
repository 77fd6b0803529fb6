// The live page with a device reached by P2P identifier: the loopback P2P
// device stands behind the in-process identifier registry.

#include "app/core/database.h"
#include "device/qccommonstream.h"
#include "device/qcdevicefromtutk.h"
#include "devicesim/p2pdevice.h"
#include "liveview/qwadddevice.h"
#include "liveview/qwcameraitem.h"
#include "cameraitems.h"
#include "liveview/qwdeviceform.h"
#include "liveview/qwliveview.h"
#include "liveview/qwptzpanel.h"
#include "app/widgets/statusbutton.h"
#include "media/qcstreamserver.h"
#include "media/qcframebuffer.h"
#include "media/cliveplayer.h"
#include "media/qccamerautil.h"
#include "media/qcstreamutil.h"
#include "platform/d3d9/d3d9diag.h"
#include "platform/p2p/P2pApi.h"
#include "platform/widgets/qipaddressedit.h"
#include "tests/support/livepage.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>

namespace {

std::atomic<HWND> g_watched{0};
std::atomic<int> g_presents{0};

void onPresent(HWND window, const platform::d3d9::PresentedImage &, int64_t)
{
    if (window == g_watched.load())
        ++g_presents;
}

const QString kUid = QStringLiteral("ARDOSIM0000000000001");

using cameraitems::enabledMask;

} // namespace

class P2pPageTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        platform::d3d9::setPresentHook(onPresent);
    }
    void cleanupTestCase() { platform::d3d9::setPresentHook(nullptr); }

    void addWatchAndRemove()
    {
        testsupport::LivePageFixture fixture;
        QVERIFY(fixture.isValid());
        TutkTimings timings;
        timings.retryMs = 200;
        qcDeviceFromTutk::setDefaultTimings(timings);
        devicesim::P2pMedia media;
        media.mainUnits =
            devicesim::p2pLoadClip(qEnvironmentVariable("ARDO_CLIPS_DIR") + QStringLiteral("/h264-360p25.h264"), false);
        QVERIFY2(!media.mainUnits.isEmpty(), "clips missing (ARDO_CLIPS_DIR)");
        devicesim::P2pDevice sim;
        sim.addIdentity(kUid, QStringLiteral("admin"), QStringLiteral("1234"), media);
        QVERIFY(sim.start());
        p2p::Registry::add(kUid.toStdString(), sim.port());

        qwLiveView page;
        page.resize(1200, 690);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        page.onAddDevManual();
        auto *dialog = page.findChild<qwAddDevice *>();
        QVERIFY(dialog);
        QSignalSpy results(dialog, &qwAddDevice::sigOptionResult);
        QVERIFY(dialog->form()->byIdentifierButton()->isVisible());
        QVERIFY(!dialog->form()->identifierEdit()->isVisible());
        dialog->form()->byIdentifierButton()->click();
        QVERIFY(dialog->form()->identifierEdit()->isVisible());
        QVERIFY(!dialog->form()->addressEdit()->isVisible());
        dialog->form()->nameEdit()->setText(QStringLiteral("camP"));
        dialog->form()->identifierEdit()->setText(kUid);
        dialog->addButton()->click();
        QCOMPARE(results.count(), 1);
        QCOMPARE(results.at(0).at(1).toString(), kUid);
        QCOMPARE(results.at(0).at(2).toString(), QString::fromLatin1(kP2pProtocolName));
        QCOMPARE(page.deviceCount(), 1);
        QCOMPARE(fixture.query("SELECT devname, address, devtype FROM devices"),
                 QStringLiteral("camP|%1|TUTK").arg(kUid));

        // The stream service runs the real front end; the next poll logs the row in.
        qcStreamUtil *unit = page.streamServer()->unitFor(kUid);
        QVERIFY(unit);
        QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<qcCommonStream *>(unit->p2pStream()), 8000);
        QTRY_COMPARE_WITH_TIMEOUT(page.cameraItem(0)->getStatus(), 2, 15000);
        QCOMPARE(enabledMask(page.cameraItem(0)), 0x19);
        QTRY_VERIFY_WITH_TIMEOUT(unit->getMainFrameBuffer() && unit->getMainFrameBuffer()->frameCount() > 0, 8000);
        QCOMPARE(p2p::stats().sessions, 1);

        // A double click on the row plays the device in view 0.
        dialog->close();
        QListWidget *list = page.deviceList();
        // An item view takes a double click only after the press and release
        // of the first click.
        const QPoint centre = list->visualItemRect(list->item(0)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
        _st_view_item *record = page.viewRecord(0);
        QVERIFY(record);
        QCOMPARE(record->row, 0);
        QVERIFY(record->camera && record->camera->renderSurface());
        g_watched = HWND(record->camera->renderSurface()->winId());
        QTRY_VERIFY_WITH_TIMEOUT(g_presents.load() >= 10, 15000);

        // PTZ through the P2P front end: up, its stop, the centre command and
        // zoom in reach the device as IO-controls, byte 0 the wire code.
        qwPtzPanel *ptz = page.ptzPanel();
        auto *up = ptz->findChild<StatusButton *>("ptzButton_7");
        QTest::mousePress(up, Qt::LeftButton);
        QTest::mouseRelease(up, Qt::LeftButton);
        QTest::mouseClick(ptz->findChild<StatusButton *>("ptzButton_10"), Qt::LeftButton);
        QTest::mousePress(ptz->findChild<StatusButton *>("ptzButton_16"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(sim.ioPayloads(0x1001).size(), 4, 5000);
        QByteArray codes;
        for (const QByteArray &payload : sim.ioPayloads(0x1001))
            codes += payload.left(1);
        QCOMPARE(codes, QByteArray("\x01\x00\x23\x18", 4));

        // Removing the device ends its session.
        page.removeDevice(0);
        QCOMPARE(page.deviceCount(), 0);
        QVERIFY(!page.viewRecord(0));
        QTRY_COMPARE_WITH_TIMEOUT(p2p::stats().sessions, 0, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(sim.sessionsClosed(), sim.sessionsOpened(), 3000);
        p2p::Registry::clear();
    }
};

QTEST_MAIN(P2pPageTest)
#include "tst_p2p.moc"
