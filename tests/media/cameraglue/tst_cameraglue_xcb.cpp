#include <QtTest>
#include <QApplication>
#include <QWidget>

#include "viewfixture.h"
#include "media/cliveplayer.h"
#include "media/qccamerautil.h"

namespace {

// Destroys a widget's native window and builds a new one, as Qt does when
// it recreates a window.
struct WindowAccess : QWidget
{
    using QWidget::create;
    using QWidget::destroy;
};

void recreateNativeWindow(QWidget *w)
{
    void (QWidget::*destroyWindow)(bool, bool) = &WindowAccess::destroy;
    void (QWidget::*createWindow)(WId, bool, bool) = &WindowAccess::create;
    w->hide();
    (w->*destroyWindow)(true, true);
    (w->*createWindow)(0, true, true);
    w->show();
}

} // namespace

class TestCameraGlueX11 : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server");
        if (clips::dir().isEmpty() || clips::read(QStringLiteral("h264-360p25.h264")).isEmpty())
            QSKIP("the test clips were not made (ARDO_CLIPS_DIR)");
        platform::d3d9::setPresentHook(onPresent);
    }
    void cleanupTestCase() { platform::d3d9::setPresentHook(nullptr); }

    void updatesOnlyWhileResizing()
    {
        FakeDevice device;
        device.start();
        QWidget top;
        top.resize(400, 300);
        top.show();
        qcCameraUtil glue;
        attach(glue, device, &top);
        QVERIFY(glue.startStream(1));
        QVERIFY(QTest::qWaitForWindowExposed(&top));
        QWidget *surface = glue.renderSurface();

        // Each resize restarts the settle time; updates stay on meanwhile.
        for (int i = 1; i <= 5; ++i) {
            top.resize(400 + 10 * i, 300);
            // The window manager's answer comes back asynchronously.
            QTRY_COMPARE_WITH_TIMEOUT(top.width(), 400 + 10 * i, 5000);
            QVERIFY(surface->updatesEnabled());
            QVERIFY(glue.settleTimerRunning());
            QTest::qWait(50);
        }
        QVERIFY(surface->updatesEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!glue.settleTimerRunning(), 5000);
        QVERIFY(!surface->updatesEnabled());
    }

    void newNativeWindowIsDrawnInto()
    {
        FakeDevice device;
        device.start();
        QWidget first;
        first.resize(320, 240);
        QWidget second; // outlives the glue, as the live page's widgets do
        auto *video = new QWidget(&first);
        video->resize(320, 240);
        first.show();
        qcCameraUtil glue;
        attach(glue, device, video);
        QVERIFY(glue.startStream(1));
        const HWND oldWindow = HWND(glue.renderSurface()->winId());
        QTRY_VERIFY_WITH_TIMEOUT(presentedOn(oldWindow) >= 5, 10000);
        QPointer<CLivePlayer> oldPlayer = glue.player();

        // Moved into another top-level window: Qt 5.15 keeps the native
        // window then (it reparents it), and pictures go on in it.
        second.resize(320, 240);
        video->setParent(&second);
        video->show();
        second.show();
        QVERIFY(QTest::qWaitForWindowExposed(&second));
        if (HWND(glue.renderSurface()->winId()) == oldWindow) {
            const int before = presentedOn(oldWindow);
            QTRY_VERIFY_WITH_TIMEOUT(presentedOn(oldWindow) >= before + 5, 10000);
            QCOMPARE(glue.player(), oldPlayer.data());
            // Force what other Qt versions and window-flag changes do: a new
            // native window for the surface.
            recreateNativeWindow(glue.renderSurface());
        }
        QTRY_VERIFY_WITH_TIMEOUT(oldPlayer.isNull() && glue.player(), 5000);
        const HWND newWindow = HWND(glue.renderSurface()->winId());
        QVERIFY(newWindow != oldWindow);
        QTRY_VERIFY_WITH_TIMEOUT(presentedOn(newWindow) >= 5, 10000);
    }
};

int main(int argc, char **argv)
{
    platform::d3d9::initWindowSystemThreads();
    QApplication app(argc, argv);
    TestCameraGlueX11 t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_cameraglue_xcb.moc"
