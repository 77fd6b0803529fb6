#include <QtTest>
#include <QApplication>
#include <QWidget>

#include <atomic>
#include <thread>
#include <vector>

#include "media/cd3dwndrender.h"
#include "platform/d3d9/d3d9diag.h"
#include "tests/support/pictures.h"
#include "tests/support/xpixels.h"

// Xlib last: it defines macros that Qt headers use as names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#undef None
#undef Bool
#undef Status

namespace {

using Picture = testsupport::YuvHalves;
using testsupport::NativeView;
const uint8_t *const kRed = testsupport::kYuvRed;
const uint8_t *const kBlue = testsupport::kYuvBlue;
const uint8_t kGrey[3] = {128, 128, 128};

Display *g_dpy = nullptr;

QColor pixelAt(HWND window, int x, int y)
{
    return testsupport::pixelAt(g_dpy, window, x, y);
}

bool near(const QColor &c, int r, int g, int b, int tolerance)
{
    return qAbs(c.red() - r) <= tolerance && qAbs(c.green() - g) <= tolerance && qAbs(c.blue() - b) <= tolerance;
}

QString str(const QColor &c)
{
    return QStringLiteral("(%1, %2, %3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

bool sameRect(const RECT &a, LONG l, LONG t, LONG r, LONG b)
{
    return a.left == l && a.top == t && a.right == r && a.bottom == b;
}

QString str(const RECT &r)
{
    return QStringLiteral("(%1, %2, %3, %4)").arg(r.left).arg(r.top).arg(r.right).arg(r.bottom);
}

std::atomic<int> g_presented{0};
std::atomic<int> g_presentedWidth{0};
void countPresent(HWND, const platform::d3d9::PresentedImage &image, int64_t)
{
    ++g_presented;
    g_presentedWidth = image.width;
}

// The overlay a zoom selection draws: a closed outline in picture pixels.
struct Outline
{
    RECT rect;
    int width;
    std::atomic<int> calls{0};
    std::atomic<int> sleepMs{0};
    std::atomic<bool> inside{false};
};

void drawOutline(HDC dc, void *user, int, int, int)
{
    auto *o = static_cast<Outline *>(user);
    o->inside = true;
    ++o->calls;
    HPEN pen = CreatePen(PS_SOLID, o->width, 0x0000FF);
    HGDIOBJ old = SelectObject(dc, pen);
    MoveToEx(dc, o->rect.left, o->rect.top, nullptr);
    LineTo(dc, o->rect.right, o->rect.top);
    LineTo(dc, o->rect.right, o->rect.bottom);
    LineTo(dc, o->rect.left, o->rect.bottom);
    LineTo(dc, o->rect.left, o->rect.top);
    SelectObject(dc, old);
    DeleteObject(pen);
    if (o->sleepMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(o->sleepMs.load()));
    o->inside = false;
}

} // namespace

class TestWndRender : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        g_dpy = XOpenDisplay(nullptr);
        QVERIFY(g_dpy);
        platform::d3d9::setPresentHook(countPresent);
    }
    void cleanupTestCase()
    {
        platform::d3d9::setPresentHook(nullptr);
        XCloseDisplay(g_dpy);
    }
    void cleanup()
    {
        platform::d3d9::setFusedPresent(true);
        platform::d3d9::setForceXPutImage(false);
        platform::d3d9::setYV12PitchForTests(0);
    }

    void layoutByDisplayMode()
    {
        NativeView square(400, 400);
        CD3DWndRender r;
        r.setWindow(square.window);
        QCOMPARE(r.init(1920, 1080), 0);
        QCOMPARE(r.render(), 1);
        QVERIFY2(sameRect(r.getSourceRect(), 0, 87, 400, 312), qPrintable(str(r.getSourceRect())));
        QVERIFY2(sameRect(r.destinationRect(), 0, 234, 1920, 842), qPrintable(str(r.destinationRect())));
        QVERIFY(sameRect(r.pictureRect(), 0, 0, 1920, 1080));
        r.setDisplayMode(CD3DWndRender::Stretch);
        QCOMPARE(r.render(), 1);
        QVERIFY(sameRect(r.getSourceRect(), 0, 0, 400, 400));
        QVERIFY(sameRect(r.destinationRect(), 0, 0, 1920, 1080));
        r.setDisplayMode(CD3DWndRender::Fit16x9);
        QCOMPARE(r.render(), 1);
        QVERIFY2(sameRect(r.getSourceRect(), 0, 87, 400, 312), qPrintable(str(r.getSourceRect())));
        r.setDisplayMode(CD3DWndRender::Fit4x3);
        QCOMPARE(r.render(), 1);
        QVERIFY2(sameRect(r.getSourceRect(), 0, 50, 400, 350), qPrintable(str(r.getSourceRect())));
        r.setDisplayMode(4);
        QCOMPARE(r.render(), 0);
        QVERIFY(sameRect(r.getSourceRect(), 0, 50, 400, 350)); // unchanged

        NativeView wide(1000, 500);
        CD3DWndRender w;
        w.setWindow(wide.window);
        QCOMPARE(w.init(704, 576), 0);
        QCOMPARE(w.render(), 1);
        QVERIFY2(sameRect(w.getSourceRect(), 194, 0, 805, 500), qPrintable(str(w.getSourceRect())));
        w.setDisplayMode(CD3DWndRender::Fit16x9);
        QCOMPARE(w.render(), 1);
        QVERIFY2(sameRect(w.getSourceRect(), 56, 0, 944, 500), qPrintable(str(w.getSourceRect())));
        w.setDisplayMode(CD3DWndRender::Fit4x3);
        QCOMPARE(w.render(), 1);
        QVERIFY2(sameRect(w.getSourceRect(), 167, 0, 833, 500), qPrintable(str(w.getSourceRect())));
    }

    void zoomRectangle()
    {
        NativeView view(400, 400);
        CD3DWndRender r;
        r.setWindow(view.window);
        QCOMPARE(r.init(1920, 1080), 0);
        // Wholly outside the destination (0, 234, 1920, 842): whole picture.
        r.setZoomRect(RECT{0, 0, 100, 100}, true);
        QCOMPARE(r.render(), 1);
        QVERIFY(sameRect(r.pictureRect(), 0, 0, 1920, 1080));
        // Touching the edge only (half-open) is still outside.
        r.setZoomRect(RECT{0, 100, 300, 234}, true);
        QCOMPARE(r.render(), 1);
        QVERIFY(sameRect(r.pictureRect(), 0, 0, 1920, 1080));
        r.setZoomRect(RECT{100, 300, 500, 600}, true);
        QCOMPARE(r.render(), 1);
        QVERIFY(sameRect(r.pictureRect(), 100, 300, 500, 600));

        // Disabling shows the whole picture again from the next frame on.
        Picture grey(1920, 1080, kGrey, kGrey);
        QCOMPARE(r.drawFrame(grey.planes, grey.lines), 1);
        r.setZoomRect(RECT{100, 300, 500, 600}, false);
        QCOMPARE(r.drawFrame(grey.planes, grey.lines), 1);
        QVERIFY(sameRect(r.pictureRect(), 0, 0, 1920, 1080));
    }

    void callRules()
    {
        NativeView first(400, 400);
        NativeView second(200, 100);
        CD3DWndRender none;
        QCOMPARE(none.init(320, 240), 1); // no window
        QCOMPARE(none.clearQueue(), 0);
        Picture pic(320, 240, kRed, kBlue);
        QCOMPARE(none.drawFrame(pic.planes, pic.lines), 0);

        CD3DWndRender r;
        QCOMPARE(r.setWindow(first.window), 0);
        r.setWindow(second.window);
        QCOMPARE(r.init(320, 240), 0);
        QCOMPARE(r.render(), 1);
        QVERIFY(sameRect(r.getSourceRect(), 0, 50, 400, 350)); // the first window's layout
        QCOMPARE(r.clearQueue(), 1);
        QCOMPARE(r.setDrawCallback(nullptr, &r), 0);
        QCOMPARE(r.setDrawCallback(drawOutline, nullptr), 0);

        const int before = g_presented;
        QCOMPARE(r.drawFrame(pic.planes, pic.lines), 1);
        QCOMPARE(g_presented - before, 1);
        QCOMPARE(g_presentedWidth.load(), 400); // stretched onto the client area
        r.stop();
        QCOMPARE(r.drawFrame(pic.planes, pic.lines), 0);
        QCOMPARE(g_presented - before, 1);
    }

    void pitchLimit()
    {
        NativeView view(400, 400);
        Picture pic(320, 240, kRed, kBlue);
        platform::d3d9::setYV12PitchForTests(320 + 641);
        CD3DWndRender tooWide;
        tooWide.setWindow(view.window);
        QCOMPARE(tooWide.init(320, 240), 0);
        QCOMPARE(tooWide.drawFrame(pic.planes, pic.lines), 0);
        QCOMPARE(tooWide.drawFrame(pic.planes, pic.lines), 0);

        platform::d3d9::setYV12PitchForTests(320 + 640);
        CD3DWndRender wide;
        wide.setWindow(view.window);
        QCOMPARE(wide.init(320, 240), 0);
        QCOMPARE(wide.drawFrame(pic.planes, pic.lines), 1);
        QVERIFY(near(pixelAt(view.window, 100, 200), 255, 0, 0, 12));
        QVERIFY(near(pixelAt(view.window, 300, 200), 0, 0, 255, 12));
    }

    void pixelsReadBack_data()
    {
        QTest::addColumn<bool>("forcePut");
        QTest::addColumn<bool>("fused");
        QTest::newRow("shared memory") << false << true;
        QTest::newRow("XPutImage") << true << true;
        QTest::newRow("shared memory, full chain") << false << false;
    }
    void pixelsReadBack()
    {
        QFETCH(bool, forcePut);
        QFETCH(bool, fused);
        platform::d3d9::setForceXPutImage(forcePut);
        platform::d3d9::setFusedPresent(fused);
        NativeView view(400, 400);
        CD3DWndRender r;
        r.setWindow(view.window);
        QCOMPARE(r.init(320, 240), 0);
        Picture pic(320, 240, kRed, kBlue);
        QCOMPARE(r.drawFrame(pic.planes, pic.lines), 1);
        QCOMPARE(platform::d3d9::usesSharedMemory(view.window), !forcePut);
        // On screen once the window system has taken what drawFrame sent.
        const QColor left = pixelAt(view.window, 100, 200);
        const QColor right = pixelAt(view.window, 300, 200);
        QVERIFY2(near(left, 255, 0, 0, 12), qPrintable(str(left)));
        QVERIFY2(near(right, 0, 0, 255, 12), qPrintable(str(right)));
        QVERIFY2(near(pixelAt(view.window, 200, 10), 0, 0, 0, 0), qPrintable(str(pixelAt(view.window, 200, 10))));
        QVERIFY(near(pixelAt(view.window, 200, 390), 0, 0, 0, 0));
        QVERIFY(near(pixelAt(view.window, 200, 45), 0, 0, 0, 0)); // the edge itself is blended by the stretch
        QVERIFY(!near(pixelAt(view.window, 200, 55), 0, 0, 0, 0));
    }

    // Pictures sent back to back without waiting for the server: each one
    // is presented, the window ends with the last one, and a resized window
    // gets pictures of its new size without anyone asking the server.
    void backToBackPictures_data()
    {
        QTest::addColumn<bool>("forcePut");
        QTest::newRow("shared memory") << false;
        QTest::newRow("XPutImage") << true;
    }
    void backToBackPictures()
    {
        QFETCH(bool, forcePut);
        platform::d3d9::setForceXPutImage(forcePut);
        NativeView view(400, 400);
        CD3DWndRender r;
        r.setWindow(view.window);
        QCOMPARE(r.init(320, 240), 0);
        Picture redBlue(320, 240, kRed, kBlue);
        Picture blueRed(320, 240, kBlue, kRed);
        const int before = g_presented;
        for (int i = 0; i < 21; ++i) {
            const Picture &pic = i % 2 ? blueRed : redBlue;
            QCOMPARE(r.drawFrame(pic.planes, pic.lines), 1);
        }
        QCOMPARE(g_presented - before, 21);
        QVERIFY2(near(pixelAt(view.window, 100, 200), 255, 0, 0, 12), qPrintable(str(pixelAt(view.window, 100, 200))));
        QVERIFY(near(pixelAt(view.window, 300, 200), 0, 0, 255, 12));
        QCOMPARE(r.drawFrame(blueRed.planes, blueRed.lines), 1);
        QVERIFY(near(pixelAt(view.window, 100, 200), 0, 0, 255, 12));
        QVERIFY(near(pixelAt(view.window, 300, 200), 255, 0, 0, 12));

        view.child->resize(200, 300);
        QCoreApplication::processEvents();
        // The new size arrives as an event a moment later.
        auto drawnAt = [&](int width) {
            r.drawFrame(redBlue.planes, redBlue.lines);
            return g_presentedWidth == width;
        };
        QTRY_VERIFY_WITH_TIMEOUT(drawnAt(200), 5000);
        r.markDirty();
        QCOMPARE(r.drawFrame(redBlue.planes, redBlue.lines), 1);
        // 320x240 in 200x300: display (0, 75, 200, 225).
        QVERIFY(near(pixelAt(view.window, 50, 150), 255, 0, 0, 12));
        QVERIFY(near(pixelAt(view.window, 150, 150), 0, 0, 255, 12));
        QVERIFY(near(pixelAt(view.window, 100, 40), 0, 0, 0, 0));
    }

    // The one-pass path and the chain through the surfaces put the same
    // picture in the same place, zoomed or not.
    void fusedMatchesFullChain()
    {
        NativeView view(300, 300);
        Picture pic(320, 240, kRed, kBlue);
        auto grab = [&](bool fused, bool zoom) {
            platform::d3d9::setFusedPresent(fused);
            CD3DWndRender r;
            r.setWindow(view.window);
            if (r.init(320, 240) != 0)
                return QVector<QColor>();
            if (zoom)
                r.setZoomRect(RECT{100, 60, 260, 180}, true);
            r.drawFrame(pic.planes, pic.lines);
            QVector<QColor> points;
            for (int y = 5; y < 300; y += 20)
                for (int x = 5; x < 300; x += 20)
                    points.append(pixelAt(view.window, x, y));
            return points;
        };
        for (bool zoom : {false, true}) {
            const QVector<QColor> full = grab(false, zoom);
            const QVector<QColor> fused = grab(true, zoom);
            QCOMPARE(full.size(), fused.size());
            QVERIFY(!full.isEmpty());
            int differ = 0;
            for (int i = 0; i < full.size(); ++i)
                if (!near(full[i], fused[i].red(), fused[i].green(), fused[i].blue(), 16))
                    ++differ;
            // Only points on the red/blue edge may differ by the filtering.
            QVERIFY2(differ <= 2, qPrintable(QString::number(differ)));
        }
    }

    void overlayOutline()
    {
        NativeView view(400, 400);
        CD3DWndRender r;
        r.setWindow(view.window);
        QCOMPARE(r.init(320, 240), 0);
        Outline outline;
        outline.rect = RECT{40, 40, 200, 160};
        outline.width = 4;
        QCOMPARE(r.setDrawCallback(drawOutline, &outline), 1);
        Picture grey(320, 240, kGrey, kGrey);
        QCOMPARE(r.drawFrame(grey.planes, grey.lines), 1);
        QCOMPARE(outline.calls.load(), 0); // overlay switched off
        r.setDrawEnabled(true);
        QCOMPARE(r.drawFrame(grey.planes, grey.lines), 1);
        QCOMPARE(outline.calls.load(), 1);
        // Picture (x, y) lies at window (x * 1.25, 50 + y * 1.25).
        const QColor top = pixelAt(view.window, 150, 100);
        const QColor leftEdge = pixelAt(view.window, 50, 150);
        const QColor inside = pixelAt(view.window, 150, 150);
        QVERIFY2(top.red() > 180 && top.green() < 90 && top.blue() < 90, qPrintable(str(top)));
        QVERIFY2(leftEdge.red() > 180 && leftEdge.green() < 90, qPrintable(str(leftEdge)));
        QVERIFY2(near(inside, 130, 130, 130, 20), qPrintable(str(inside)));
    }

    void stopWaitsForRunningDraw()
    {
        NativeView view(400, 400);
        CD3DWndRender r;
        r.setWindow(view.window);
        QCOMPARE(r.init(320, 240), 0);
        Outline slow;
        slow.rect = RECT{10, 10, 20, 20};
        slow.width = 1;
        slow.sleepMs = 300;
        r.setDrawCallback(drawOutline, &slow);
        r.setDrawEnabled(true);
        Picture pic(320, 240, kRed, kBlue);
        std::atomic<int> result{-1};
        const int presentedBefore = g_presented;
        std::thread drawer([&] { result = r.drawFrame(pic.planes, pic.lines); });
        QTRY_VERIFY_WITH_TIMEOUT(slow.inside.load(), 5000);
        r.stop();
        // The draw's picture was presented (inside drawFrame) before stop returned.
        const int presentedAtStop = g_presented;
        drawer.join();
        QCOMPARE(presentedAtStop, presentedBefore + 1);
        QCOMPARE(result.load(), 1);
        QCOMPARE(r.drawFrame(pic.planes, pic.lines), 0);
    }

    void destroyedWindow()
    {
        auto *view = new NativeView(300, 200);
        CD3DWndRender r;
        r.setWindow(view->window);
        QCOMPARE(r.init(320, 240), 0);
        Picture pic(320, 240, kRed, kBlue);
        std::atomic<bool> stop{false};
        std::atomic<int> draws{0};
        std::thread player([&] {
            while (!stop) {
                r.drawFrame(pic.planes, pic.lines);
                ++draws;
                r.markDirty(); // every draw asks the window again
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(draws > 5, 5000);
        delete view;
        QTest::qWait(100);
        const int after = draws;
        QTRY_VERIFY_WITH_TIMEOUT(draws > after + 5, 5000); // draws go on and return
        stop = true;
        player.join();
        QCOMPARE(r.render(), 0);
        QVERIFY(!IsWindow(HWND(12345678)));
    }
};

int main(int argc, char **argv)
{
    platform::d3d9::initWindowSystemThreads();
    QApplication app(argc, argv);
    TestWndRender test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_wndrender.moc"
