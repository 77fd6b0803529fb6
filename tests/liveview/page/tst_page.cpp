#include "app/core/currentuser.h"
#include "app/core/database.h"
#include "app/widgets/qclabelex.h"
#include "app/widgets/qwtipsdlg.h"
#include "app/widgets/qwtipsdlgex.h"
#include "app/widgets/stylesheets.h"
#include "liveview/qwcameraitem.h"
#include "liveview/qwimagepanel.h"
#include "liveview/qwliveview.h"
#include "liveview/qwptzpanel.h"
#include "media/qcstreamserver.h"
#include "tests/support/livepage.h"
#include "tests/support/readable.h"

#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QToolBox>
#include <QVBoxLayout>
#include <QtTest>

namespace {

int colourDistance(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b)) + qAbs(qBlue(a) - qBlue(b));
}

} // namespace

class PageTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    // The speed slider follows the PTZ right each time the page is shown.
    void speedFollowsTheRight()
    {
        testsupport::LivePageFixture fixture;
        QVERIFY(fixture.isValid());
        qwLiveView page;
        page.show();
        QSlider *speed = page.ptzPanel()->speedSlider();
        QVERIFY(speed->isEnabled());
        for (quint32 rights : {0x100u, 0x1u}) {
            g_curUserRights = rights;
            page.hide();
            page.show();
            QCOMPARE(speed->isEnabled(), bool(rights & 0x1));
        }
    }

    void deviceRows()
    {
        testsupport::LivePageFixture fixture;
        QVERIFY(fixture.isValid());
        qwLiveView page;
        for (int i = 0; i < 3; ++i)
            QCOMPARE(page.addCameraItem(QString("d%1").arg(i), "10.0.0.1", 2), i);
        QCOMPARE(page.addCameraItem("d3", "127.0.0.9", 0), 3);
        QCOMPARE(page.deviceList()->currentRow(), 3);
        QCOMPARE(page.cameraItem(3)->index(), 3);
        QCOMPARE(page.cameraItem(3)->infoLabel()->text(), QStringLiteral("127.0.0.9"));
        for (int mask : {1, 2, 4})
            QVERIFY(!page.cameraItem(3)->isOptionEnabled(mask));
        QVERIFY(page.cameraItem(3)->isOptionEnabled(8));
        QVERIFY(page.cameraItem(0)->isOptionEnabled(4));
        QCOMPARE(page.addCameraItem("d4", "127.0.0.9", 1), 4);
        QVERIFY(!page.cameraItem(4)->isOptionEnabled(4));

        page.setCameraItemState(5, 4, 0x10);
        page.setCameraItemState(1, 4, 0x10);
        QCOMPARE(page.cameraItem(1)->getStatus(), 4);
        QVERIFY(!page.cameraItem(1)->isOptionEnabled(8));
        QVERIFY(page.cameraItem(1)->isOptionEnabled(0x10));
    }

    void tipsAreReadable_data()
    {
        QTest::addColumn<bool>("message");
        QTest::addColumn<QColor>("background");
        QTest::newRow("device exists") << true << QColor("#454545");
        QTest::newRow("permission denied") << false << QColor("#313131");
    }

    // The page's popups paint the dark background of their style sheet, and
    // their text stands out from it.
    void tipsAreReadable()
    {
        QFETCH(bool, message);
        QFETCH(QColor, background);
        testsupport::LivePageFixture fixture({}, message ? 511 : 0);
        QVERIFY(fixture.isValid());
        QWidget main;
        main.setStyleSheet(QString::fromLatin1(styles::kMainWindow));
        qwLiveView *page = new qwLiveView(&main);
        main.show();
        page->onAddDevManual();
        if (message) {
            page->onCameraOptionResult("camA", "127.0.0.9", "VARAR", "80", "admin", "1234", 0);
            page->onCameraOptionResult("camA", "127.0.0.9", "VARAR", "80", "admin", "1234", 0);
        }
        BaseWindow *tip = message ? static_cast<BaseWindow *>(page->findChild<qwTipsDlg *>())
                                  : static_cast<BaseWindow *>(page->findChild<qwTipsdlgEx *>());
        QVERIFY(tip);
        const QImage image = tip->grab().toImage();
        // Inside the client area, clear of icon, text and buttons.
        QCOMPARE(QColor(image.pixel(message ? QPoint(20, 60) : QPoint(240, 60))), background);
        auto *text = message ? tip->findChild<QLabel *>("label_Tips") : static_cast<qwTipsdlgEx *>(tip)->messageLabel();
        const QRect r = text->geometry();
        int textPixels = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                textPixels += colourDistance(image.pixel(x, y), background.rgb()) > 120;
        QVERIFY2(textPixels > 20, qPrintable(QString::number(textPixels)));
    }

    // The tool box's value labels, their widest values shown, in the main
    // window's default client area: whole, without a scroll bar, and with
    // enough contrast to be read.
    void valuesReadable_data()
    {
        QTest::addColumn<int>("tab");
        QTest::newRow("PTZ speed") << 1;
        QTest::newRow("image values") << 2;
    }
    void valuesReadable()
    {
        QFETCH(int, tab);
        testsupport::LivePageFixture fixture;
        QVERIFY(fixture.isValid());
        QWidget main;
        main.setObjectName("cmsclient");
        main.setStyleSheet(QString::fromLatin1(styles::kMainWindow));
        auto *page = new qwLiveView(&main);
        (new QVBoxLayout(&main))->addWidget(page);
        main.layout()->setContentsMargins(0, 0, 0, 0);
        main.resize(1200 - 4, 728 - 36);
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        auto *box = page->findChild<QToolBox *>("toolBox_Optlist");
        box->setCurrentIndex(tab);
        QList<QLabel *> labels;
        if (tab == 1) {
            labels << page->findChild<qwPtzPanel *>()->speedLabel();
            labels[0]->setText("6");
        } else {
            for (int i = 0; i < 4; ++i) {
                labels << page->findChild<qwImagePanel *>()->valueLabel(i);
                labels[i]->setText("100");
            }
        }
        QApplication::processEvents();
        auto *area = qobject_cast<QScrollArea *>(box->widget(tab)->parentWidget()->parentWidget());
        QVERIFY(area);
        QVERIFY(!area->horizontalScrollBar()->isVisible());
        for (QLabel *label : labels) {
            const testsupport::PaintedText t = testsupport::paintedText(label);
            QVERIFY2(t.contrast >= 4.5 && !t.clipped,
                     qPrintable(QStringLiteral("%1 on %2: %3, clipped %4")
                                    .arg(QColor(t.text).name(), QColor(t.background).name())
                                    .arg(t.contrast)
                                    .arg(t.clipped)));
        }
    }

    // A value out of the service's range is clamped instead of costing the
    // whole configuration.
    void configClamped()
    {
        testsupport::LivePageFixture fixture(
            {"UPDATE recordcapture SET captureinterval=45, capturecount=-1, recordduration=NULL",
             "UPDATE systeminfo SET reservedsize=2"});
        QVERIFY(fixture.isValid());
        qwLiveView page;
        QCOMPARE(page.localConfig().captureinterval, 45);
        const _st_local_config used = qwLiveView::clampedConfig(page.localConfig());
        QCOMPARE(used.captureinterval, 30);
        QCOMPARE(used.capturecount, 1);
        QCOMPARE(used.recordduration, 60);
        // The disk guard keeps no less than its minimum, whatever it is told.
        QCOMPARE(used.reservedsize, 5);
        QCOMPARE(page.streamServer()->recordDuration(), 60);
        QVERIFY(QDir(fixture.path() + "/records/RecordFile").exists());
        QVERIFY(QDir(fixture.path() + "/snapshots/CaptureFile").exists());
        QVERIFY(!page.streamServer()->recordRoot().isEmpty());
    }
};

QTEST_MAIN(PageTest)
#include "tst_page.moc"
