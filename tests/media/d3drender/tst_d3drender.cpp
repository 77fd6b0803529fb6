#include <QtTest>
#include <QApplication>
#include <QWidget>

#include <atomic>
#include <memory>
#include <thread>

#include "media/cd3drender.h"
#include "platform/d3d9/d3d9diag.h"
#include "tests/support/pictures.h"
#include "tests/support/xpixels.h"

extern "C" {
#include <libavutil/frame.h>
}

// Xlib last: it defines macros that Qt headers use as names.
#include <X11/Xlib.h>
#undef None
#undef Bool
#undef Status

namespace {

using testsupport::YuvHalves;

Display *g_dpy = nullptr;

// A picture as the live player hands it over.
AVFrame avFrame(const YuvHalves &picture)
{
    AVFrame frame{};
    for (int i = 0; i < 3; ++i) {
        frame.data[i] = const_cast<uint8_t *>(picture.planes[i]);
        frame.linesize[i] = picture.lines[i];
    }
    return frame;
}

bool isBlack(const QColor &c)
{
    return c.isValid() && testsupport::nearColour(c, Qt::black, 0);
}

bool near(const QColor &c, const QColor &want)
{
    return testsupport::nearColour(c, want, 12);
}

// A shown window and a renderer on it, initialised at the size of its
// red/blue picture.
struct Rig
{
    Rig(QSize windowSize, QSize pictureSize, bool withoutThread = false, int mode = 0)
        : view(std::make_unique<testsupport::NativeView>(windowSize.width(), windowSize.height())),
          pic(pictureSize.width(), pictureSize.height(), testsupport::kYuvRed, testsupport::kYuvBlue),
          frame(avFrame(pic)), window(view->window)
    {
        auto r = std::make_unique<CD3DRender>(0);
        if (view->exposed && r->createDevice(window) == 0 && r->init(pic.width, pic.height, withoutThread) == 0) {
            r->setDisplayMode(mode);
            render = std::move(r);
        }
    }
    // Offers the picture until the render thread, which admits one per idle
    // pass, takes it.
    bool feed()
    {
        return QTest::qWaitFor([&] { return render->inputFrame(&frame, pic.width, pic.height, 0) == 1; }, 5000);
    }
    QColor pixel(int x, int y) const { return testsupport::pixelAt(g_dpy, window, x, y); }
    int presents() const { return testsupport::PresentCounter::on(window); }

    std::unique_ptr<testsupport::NativeView> view;
    YuvHalves pic;
    AVFrame frame;
    HWND window;
    std::unique_ptr<CD3DRender> render;
};

} // namespace

class TestD3DRender : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        g_dpy = XOpenDisplay(nullptr);
        QVERIFY(g_dpy);
        testsupport::PresentCounter::install();
    }
    void cleanupTestCase()
    {
        testsupport::PresentCounter::uninstall();
        XCloseDisplay(g_dpy);
    }
    void cleanup()
    {
        platform::d3d9::setForceXPutImage(false);
        platform::d3d9::setFusedPresent(true);
        platform::d3d9::setSharedImagesBusyForTests(false);
    }

    // With the render thread off nothing drains the queue.
    void refusedPictures_data()
    {
        QTest::addColumn<int>("queuedBefore");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("ready");
        QTest::addColumn<bool>("stopped");
        QTest::newRow("six slots busy") << 6 << QSize(320, 240) << true << false;
        QTest::newRow("larger than at init") << 0 << QSize(640, 360) << true << false;
        QTest::newRow("smaller than at init") << 2 << QSize(160, 120) << true << false;
        QTest::newRow("not ready for input") << 1 << QSize(320, 240) << false << false;
        QTest::newRow("stopped") << 1 << QSize(320, 240) << true << true;
    }
    void refusedPictures()
    {
        QFETCH(int, queuedBefore);
        QFETCH(QSize, size);
        QFETCH(bool, ready);
        QFETCH(bool, stopped);
        Rig rig(QSize(400, 400), QSize(320, 240), true);
        QVERIFY(rig.render);
        for (int i = 0; i < queuedBefore; ++i) {
            rig.render->signalReadyForTests();
            QCOMPARE(rig.render->inputFrame(&rig.frame, 320, 240, i), 1);
        }
        if (stopped)
            rig.render->stopRender();
        if (ready)
            rig.render->signalReadyForTests();
        const YuvHalves other(size.width(), size.height(), testsupport::kYuvBlue, testsupport::kYuvRed);
        const AVFrame frame = avFrame(other);
        QCOMPARE(rig.render->inputFrame(&frame, size.width(), size.height(), 99), 0);
        QCOMPARE(rig.render->queuedCount(), queuedBefore);
        QCOMPARE(rig.render->picturesQueued(), uint64_t(queuedBefore));
        QCOMPARE(rig.render->picturesDropped(), uint64_t(1));
        QCOMPARE(rig.presents(), 0);
    }

    // The aspect rectangle of 1280x720 in 400x400 is (0, 87, 400, 312).
    void displayModes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("top");
        QTest::addColumn<int>("bottom");
        QTest::newRow("keep aspect") << 0 << 87 << 312;
        QTest::newRow("stretch") << 1 << 0 << 400;
    }
    void displayModes()
    {
        QFETCH(int, mode);
        QFETCH(int, top);
        QFETCH(int, bottom);
        Rig rig(QSize(400, 400), QSize(1280, 720), false, mode);
        QVERIFY(rig.render);
        QVERIFY(rig.feed());
        QTRY_COMPARE(rig.render->picturesPresented(), uint64_t(1));
        QList<int> rows{top - 1, top, bottom - 1, bottom};
        for (int y = 0; y < 400; y += 25)
            rows << y;
        for (int x : {100, 300})
            for (int y : rows)
                if (y >= 0 && y < 400)
                    QVERIFY2(isBlack(rig.pixel(x, y)) != (y >= top && y < bottom),
                             qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
        QVERIFY(near(rig.pixel(100, 200), Qt::red));
        QVERIFY(near(rig.pixel(300, 200), Qt::blue));
    }

    // A picture, then a reset: the window turns black once and stays so.
    void pictureThenReset_data()
    {
        QTest::addColumn<bool>("forcePut");
        QTest::addColumn<bool>("fused");
        QTest::newRow("shared memory") << false << true;
        QTest::newRow("XPutImage") << true << true;
        QTest::newRow("shared memory, full chain") << false << false;
    }
    void pictureThenReset()
    {
        QFETCH(bool, forcePut);
        QFETCH(bool, fused);
        platform::d3d9::setForceXPutImage(forcePut);
        platform::d3d9::setFusedPresent(fused);
        Rig rig(QSize(300, 200), QSize(320, 240), false, 1);
        QVERIFY(rig.render);
        QVERIFY(rig.feed());
        QTRY_COMPARE(rig.presents(), 1);
        QCOMPARE(platform::d3d9::usesSharedMemory(rig.window), !forcePut);
        QVERIFY2(near(rig.pixel(60, 100), Qt::red), qPrintable(rig.pixel(60, 100).name()));
        QVERIFY2(near(rig.pixel(240, 100), Qt::blue), qPrintable(rig.pixel(240, 100).name()));
        rig.render->resetFrames();
        QTRY_COMPARE(rig.presents(), 2);
        for (const QPoint &p : {QPoint(60, 100), QPoint(240, 100), QPoint(0, 0), QPoint(299, 199)})
            QVERIFY(isBlack(rig.pixel(p.x(), p.y())));
        QTest::qWait(200);
        QCOMPARE(rig.presents(), 2);
        QCOMPARE(rig.render->picturesPresented(), uint64_t(1));
    }

    // While the X server still reads both images the picture is skipped:
    // the render thread never waits for it.
    void busyImagesSkipThePicture()
    {
        platform::d3d9::setSharedImagesBusyForTests(true);
        Rig rig(QSize(200, 200), QSize(320, 240));
        QVERIFY(rig.render);
        QVERIFY(rig.feed());
        QTRY_VERIFY(rig.render->renderNanos() > 0 && rig.render->queuedCount() == 0);
        QCOMPARE(rig.presents(), 0);
        platform::d3d9::setSharedImagesBusyForTests(false);
        QVERIFY(rig.feed());
        QTRY_COMPARE(rig.render->picturesPresented(), uint64_t(1));
        QVERIFY(near(rig.pixel(50, 100), Qt::red));
    }

    // The owner stops and deletes the renderer while the player thread
    // keeps offering pictures, as the preview player does when it replaces
    // it (and only then forgets it).
    void stopWhilePresenting()
    {
        Rig rig(QSize(300, 200), QSize(320, 240));
        QVERIFY(rig.render);
        std::atomic<bool> done{false};
        std::thread player([&] {
            while (!done)
                rig.render->inputFrame(&rig.frame, 320, 240, 0);
        });
        QTRY_VERIFY(rig.render->picturesPresented() >= 5);
        rig.render->resetFrames();
        rig.render->stopRender();
        const uint64_t presented = rig.render->picturesPresented();
        QTest::qWait(50);
        done = true;
        player.join();
        QCOMPARE(rig.render->picturesPresented(), presented);
        rig.render.reset();
    }

    // A window destroyed under the renderer: each queued picture is skipped
    // and the render thread goes on taking pictures.
    void destroyedWindow()
    {
        Rig rig(QSize(300, 200), QSize(320, 240));
        QVERIFY(rig.render);
        QVERIFY(rig.feed());
        QTRY_COMPARE(rig.render->picturesPresented(), uint64_t(1));
        rig.view.reset();
        QCoreApplication::processEvents();
        for (int i = 0; i < 3; ++i)
            QVERIFY(rig.feed());
        QTRY_COMPARE(rig.render->queuedCount(), 0);
        QCOMPARE(rig.render->picturesQueued(), uint64_t(4));
        QCOMPARE(rig.render->picturesPresented(), uint64_t(1));
    }
};

int main(int argc, char **argv)
{
    platform::d3d9::initWindowSystemThreads();
    QApplication app(argc, argv);
    TestD3DRender test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_d3drender.moc"
