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

using testsupport::kYuvBlue;
using testsupport::kYuvRed;
using testsupport::NativeView;
using testsupport::YuvHalves;

Display *g_dpy = nullptr;

// The picture as the live player hands it over.
struct Frame
{
    explicit Frame(const YuvHalves &picture)
    {
        for (int i = 0; i < 3; ++i) {
            frame.data[i] = const_cast<uint8_t *>(picture.planes[i]);
            frame.linesize[i] = picture.lines[i];
        }
        frame.width = picture.width;
        frame.height = picture.height;
    }
    AVFrame frame{};
};

bool near(const QColor &c, const QColor &want, int tolerance)
{
    return testsupport::nearColour(c, want, tolerance);
}

bool isBlack(const QColor &c)
{
    return c.isValid() && near(c, Qt::black, 0);
}

// A shown window, a renderer bound to it and initialised at the size of a
// red/blue picture.
struct Rig
{
    Rig(QSize windowSize, QSize pictureSize, bool withoutThread = false, int mode = 0)
        : view(std::make_unique<NativeView>(windowSize.width(), windowSize.height())),
          pic(pictureSize.width(), pictureSize.height(), kYuvRed, kYuvBlue), frame(pic)
    {
        auto r = std::make_unique<CD3DRender>(0);
        if (!view->exposed || r->createDevice(view->window) != 0 ||
            r->init(pictureSize.width(), pictureSize.height(), withoutThread) != 0)
            return;
        r->setDisplayMode(mode);
        render = std::move(r);
        window = view->window;
    }
    // Offers the picture until the render thread takes it: it admits one
    // picture per idle pass.
    bool feed()
    {
        QElapsedTimer t;
        t.start();
        while (render->inputFrame(&frame.frame, pic.width, pic.height, 0) != 1) {
            if (t.elapsed() > 5000)
                return false;
            QThread::msleep(1);
        }
        return true;
    }
    QColor pixel(int x, int y) const { return testsupport::pixelAt(g_dpy, window, x, y); }
    int presents() const { return testsupport::PresentCounter::on(window); }

    std::unique_ptr<NativeView> view;
    YuvHalves pic;
    Frame frame;
    std::unique_ptr<CD3DRender> render;
    HWND window = 0;
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
        CD3DRender *r = rig.render.get();
        for (int i = 0; i < queuedBefore; ++i) {
            r->signalReadyForTests();
            QCOMPARE(r->inputFrame(&rig.frame.frame, 320, 240, i), 1);
        }
        if (stopped)
            r->stopRender();
        if (ready)
            r->signalReadyForTests();
        const YuvHalves other(size.width(), size.height(), kYuvBlue, kYuvRed);
        const Frame g(other);
        QCOMPARE(r->inputFrame(&g.frame, size.width(), size.height(), 99), 0);
        QCOMPARE(r->queuedCount(), queuedBefore);
        QCOMPARE(r->picturesQueued(), uint64_t(queuedBefore));
        QCOMPARE(r->picturesDropped(), uint64_t(1));
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
        // Rows outside the rectangle are black, every row inside is picture.
        QList<int> rows{top - 1, top, bottom - 1, bottom};
        for (int y = 0; y < 400; y += 25)
            rows << y;
        for (int x : {100, 300}) {
            for (int y : rows) {
                if (y < 0 || y >= 400)
                    continue;
                const QColor c = rig.pixel(x, y);
                const bool inside = y >= top && y < bottom;
                QVERIFY2(isBlack(c) != inside, qPrintable(QStringLiteral("%1,%2 %3").arg(x).arg(y).arg(c.name())));
            }
        }
        QVERIFY(near(rig.pixel(100, 200), Qt::red, 12));
        QVERIFY(near(rig.pixel(300, 200), Qt::blue, 12));
    }

    void halvesReadBack_data()
    {
        QTest::addColumn<bool>("forcePut");
        QTest::addColumn<bool>("fused");
        QTest::newRow("shared memory") << false << true;
        QTest::newRow("XPutImage") << true << true;
        QTest::newRow("shared memory, full chain") << false << false;
    }
    void halvesReadBack()
    {
        QFETCH(bool, forcePut);
        QFETCH(bool, fused);
        platform::d3d9::setForceXPutImage(forcePut);
        platform::d3d9::setFusedPresent(fused);
        Rig rig(QSize(300, 200), QSize(320, 240), false, 1);
        QVERIFY(rig.render);
        QVERIFY(rig.feed());
        QTRY_COMPARE(rig.render->picturesPresented(), uint64_t(1));
        QCOMPARE(platform::d3d9::usesSharedMemory(rig.window), !forcePut);
        const QColor left = rig.pixel(60, 100);
        const QColor right = rig.pixel(240, 100);
        QVERIFY2(near(left, Qt::red, 12), qPrintable(left.name()));
        QVERIFY2(near(right, Qt::blue, 12), qPrintable(right.name()));
    }

    // The render thread never waits for the X server: while the server
    // still reads both images, the picture is skipped.
    void busyImagesSkipThePicture()
    {
        platform::d3d9::setSharedImagesBusyForTests(true);
        Rig rig(QSize(200, 200), QSize(320, 240));
        QVERIFY(rig.render);
        QVERIFY(rig.feed());
        QTRY_VERIFY(rig.render->renderNanos() > 0 && rig.render->queuedCount() == 0);
        QCOMPARE(rig.render->picturesPresented(), uint64_t(0));
        QCOMPARE(rig.presents(), 0);
        platform::d3d9::setSharedImagesBusyForTests(false);
        QVERIFY(rig.feed());
        QTRY_COMPARE(rig.render->picturesPresented(), uint64_t(1));
        QVERIFY(near(rig.pixel(50, 100), Qt::red, 12));
    }

    void resetTurnsTheWindowBlackOnce()
    {
        Rig rig(QSize(300, 200), QSize(320, 240), false, 1);
        QVERIFY(rig.render);
        QVERIFY(rig.feed());
        QTRY_COMPARE(rig.presents(), 1);
        QVERIFY(near(rig.pixel(60, 100), Qt::red, 12));
        rig.render->resetFrames();
        QTRY_COMPARE(rig.presents(), 2);
        for (const QPoint &p : {QPoint(60, 100), QPoint(240, 100), QPoint(0, 0), QPoint(299, 199)})
            QVERIFY(isBlack(rig.pixel(p.x(), p.y())));
        // Idle passes go on without presenting again.
        QTest::qWait(200);
        QCOMPARE(rig.presents(), 2);
        QCOMPARE(rig.render->picturesPresented(), uint64_t(1));
    }

    // The player thread keeps offering pictures while the owner stops and
    // deletes the renderer, as the preview player does when it replaces it.
    void stopWhilePresenting()
    {
        Rig rig(QSize(300, 200), QSize(320, 240));
        QVERIFY(rig.render);
        CD3DRender *r = rig.render.get();
        std::atomic<bool> done{false};
        std::atomic<int> acceptedAfterStop{0};
        std::atomic<bool> stopped{false};
        std::thread player([&] {
            while (!done) {
                const bool wasStopped = stopped;
                if (r->inputFrame(&rig.frame.frame, 320, 240, 0) == 1 && wasStopped)
                    ++acceptedAfterStop;
            }
        });
        QTRY_VERIFY(r->picturesPresented() >= 5);
        r->resetFrames();
        r->stopRender();
        stopped = true;
        const uint64_t presented = r->picturesPresented();
        QTest::qWait(50);
        done = true;
        player.join();
        QCOMPARE(acceptedAfterStop.load(), 0);
        QCOMPARE(r->picturesPresented(), presented);
        rig.render.reset();
    }

    // A window destroyed under the renderer: each queued picture is skipped
    // and the render thread goes on taking pictures until it is stopped.
    void destroyedWindow()
    {
        Rig rig(QSize(300, 200), QSize(320, 240));
        QVERIFY(rig.render);
        CD3DRender *r = rig.render.get();
        QVERIFY(rig.feed());
        QTRY_COMPARE(r->picturesPresented(), uint64_t(1));
        rig.view.reset();
        QCoreApplication::processEvents();
        const uint64_t queued = r->picturesQueued();
        for (int i = 0; i < 3; ++i)
            QVERIFY(rig.feed());
        QTRY_COMPARE(r->queuedCount(), 0);
        QCOMPARE(r->picturesQueued(), queued + 3);
        QCOMPARE(r->picturesPresented(), uint64_t(1));
        r->resetFrames();
        r->stopRender();
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
