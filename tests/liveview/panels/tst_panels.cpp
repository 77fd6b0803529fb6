// The live page's PTZ and image panels with two playing devices: which
// device each request reaches when views are selected, opened and left.

#include "app/core/cgiutil.h"
#include "app/core/database.h"
#include "app/widgets/statusbutton.h"
#include "liveview/qclivedevicerequests.h"
#include "liveview/qwcameraitem.h"
#include "liveview/qwimagepanel.h"
#include "liveview/qwliveview.h"
#include "liveview/qwpresetitem.h"
#include "liveview/qwptzpanel.h"
#include "tests/devicesim/faults.h"
#include "tests/support/livepage.h"
#include "tests/support/popups.h"
#include "livedevices.h"
#include "panelsupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSlider>
#include <QtTest>

using devicesim::Fault;

namespace {

// The subjects of the device's GETs, in order.
QStringList gets(const devicesim::Device &device)
{
    QStringList keys;
    for (const auto &r : device.requests()) {
        if (r.path == "/action/get" && r.key != "systime")
            keys << r.key;
    }
    return keys;
}

// The panels' reads, settings and PTZ controls; the reachability probe, the
// streams and the alarm channel go on beside them.
int panelRequestsIn(const QList<devicesim::LoggedRequest> &log)
{
    int n = 0;
    for (const auto &r : log)
        n += r.key != "systime" && (r.path == "/action/get" || r.path == "/action/set" || r.path == "/action/ptz");
    return n;
}

int panelRequests(const devicesim::Device &device)
{
    return panelRequestsIn(device.requests());
}

// A bounded wait in which the panels' requests to the device stay at n
// (its stream and reachability probe go on meanwhile).
bool staysAt(const devicesim::Device &device, int n)
{
    return !device.waitFor([n](const QList<devicesim::LoggedRequest> &l) { return panelRequestsIn(l) != n; }, 300);
}

} // namespace

class tst_Panels : public QObject
{
    Q_OBJECT
    std::unique_ptr<testsupport::LivePageFixture> m_fixture;
    livedevices::StreamingDevice m_a;
    livedevices::StreamingDevice m_b;

    void waitInfo(qwLiveView &page)
    {
        qcLiveDeviceRequests *r = page.deviceRequests();
        for (int id : {qcLiveDeviceRequests::GetPtzId, qcLiveDeviceRequests::GetImageId})
            QTRY_VERIFY_WITH_TIMEOUT(!r->request(id) || !r->request(id)->isRunning(), 5000);
        QCoreApplication::processEvents();
    }
    std::unique_ptr<qwLiveView> openPage()
    {
        auto page = std::make_unique<qwLiveView>();
        page->resize(1200, 690);
        page->show();
        return page;
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        m_fixture.reset(new testsupport::LivePageFixture);
        QVERIFY(m_fixture->isValid());
        m_a = livedevices::startStreaming("127.0.0.2", "red");
        m_b = livedevices::startStreaming("127.0.0.3", "green");
        QVERIFY(m_a.device && m_b.device);
        m_b.device->addFault("get:ptz", Fault::status(500));
        m_b.device->addFault("get:videoimage", Fault::status(500));
        QVERIFY(g_database->addDevice(livedevices::record("camA", *m_a.device)) >= 1);
        QVERIFY(g_database->addDevice(livedevices::record("camB", *m_b.device)) >= 1);
    }
    void cleanupTestCase()
    {
        m_a.device.reset();
        m_b.device.reset();
        m_fixture.reset();
    }

    void selectionsReachTheirOwnDevice()
    {
        auto page = openPage();
        QTRY_VERIFY_WITH_TIMEOUT(page->cameraItem(0)->getStatus() == 2 && page->cameraItem(1)->getStatus() == 2, 15000);
        qwPtzPanel *ptz = page->ptzPanel();
        qwImagePanel *image = page->imagePanel();

        // A in view 0: its PTZ and its image information (each on a thread
        // of its own, so they may arrive in either order).
        page->onPlayviewClick(0);
        m_a.device->clearLog();
        page->openStream(0);
        QVERIFY(page->viewRecord(0));
        waitInfo(*page);
        QStringList read = gets(*m_a.device);
        read.sort();
        QCOMPARE(read, (QStringList{"ptz", "videoimage"}));
        QCOMPARE(ptz->speedLabel()->text(), QString("3"));
        QCOMPARE(ptz->presetRow(0)->nameLabel()->text(), QString("Gate"));
        QCOMPARE(image->cachedDocument().isEmpty(), false);

        // Empty view 1: default rows, nothing sent; A's late answer changes nothing.
        m_a.device->addFault("get:ptz", Fault::delay(300), 1);
        m_a.device->clearLog();
        page->onPlayviewClick(0);
        QVERIFY(m_a.device->waitFor([](const QList<devicesim::LoggedRequest> &l) { return panelRequestsIn(l) == 2; },
                                    3000));
        page->onPlayviewClick(1);
        QVERIFY(ptz->presetRow(0)->nameLabel()->text() != "Gate");
        waitInfo(*page);
        QVERIFY(ptz->presetRow(0)->nameLabel()->text() != "Gate");
        QVERIFY(staysAt(*m_a.device, 2));

        // B in view 1 answers 500: the panels say so and show none of A's
        // values, and a change made there goes to neither device.
        m_a.device->clearLog();
        m_b.device->clearLog();
        page->openStream(1);
        QVERIFY(page->viewRecord(1));
        waitInfo(*page);
        read = gets(*m_b.device);
        read.sort();
        QCOMPARE(read, (QStringList{"ptz", "videoimage"}));
        const int speed = ptz->speedSlider()->value();
        ptz->speedSlider()->setValue(speed == 6 ? 1 : 6);
        panelsupport::drag(image->slider(1), {70});
        QCOMPARE(ptz->speedSlider()->value(), speed);
        QCOMPARE(image->slider(1)->value(), 0);
        QCOMPARE(image->valueLabel(1)->text(), QString());
        QCOMPARE(ptz->speedLabel()->text(), QString());
        QCOMPARE(ptz->presetRow(0)->nameLabel()->text() == "Gate", false);
        QVERIFY(image->readNote()->isVisibleTo(image) && ptz->readNote()->isVisibleTo(ptz));
        QVERIFY(staysAt(*m_b.device, 2));
        QCOMPARE(panelRequests(*m_a.device), 0);

        // A rename left open on A's row goes nowhere once view 1 is selected.
        page->onPlayviewClick(0);
        waitInfo(*page);
        m_a.device->clearLog();
        m_b.device->clearLog();
        qwPresetItem *row = ptz->presetRow(3);
        ptz->presetList()->setCurrentRow(3);
        QTest::mouseDClick(row, Qt::LeftButton);
        row->nameEdit()->setText("Typed");
        page->onPlayviewClick(1);
        waitInfo(*page);
        row->nameEdit()->clearFocus();
        QVERIFY(staysAt(*m_b.device, 2));
        QVERIFY(panelsupport::posted(*m_b.device, "/action/ptz").isEmpty());
        QVERIFY(panelsupport::posted(*m_a.device, "/action/ptz").isEmpty());
        QCOMPARE(testsupport::popupKeys(page.get()), QStringList());
    }
};

QTEST_MAIN(tst_Panels)
#include "tst_panels.moc"
