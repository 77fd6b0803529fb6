#include <QtTest>
#include <QApplication>
#include <QWidget>

#include <cstring>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/d3d9_p.h"
#include "platform/gdi/gdi.h"
#include "tests/support/pictures.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace {
// The last image presented, copied by the present hook.
QImage g_presented;
void keepPresented(HWND, const platform::d3d9::PresentedImage &image, int64_t)
{
    g_presented = QImage(image.pixels, image.width, image.height, image.stride, QImage::Format_RGB32).copy();
}

bool near(QRgb a, QRgb b, int tolerance)
{
    return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance &&
           qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}
} // namespace

// The layer on a non-X platform (offscreen here): the drawing thread leaves
// its image with the widget, which paints it.
class TestD3d9 : public QObject
{
    Q_OBJECT
private slots:
    void presentPaintsTheWidget()
    {
        QWidget widget;
        widget.resize(200, 100);
        widget.show();
        const HWND window = HWND(widget.winId());
        QVERIFY(IsWindow(window));
        RECT client{};
        QVERIFY(GetClientRect(window, &client));
        QCOMPARE(client.right, 200);
        QCOMPARE(client.bottom, 100);

        IDirect3D9 *d3d = Direct3DCreate9(D3D_SDK_VERSION);
        QVERIFY(d3d);
        QVERIFY(!Direct3DCreate9(30));
        D3DPRESENT_PARAMETERS params{};
        params.BackBufferWidth = 64;
        params.BackBufferHeight = 32;
        params.hDeviceWindow = window;
        params.Windowed = TRUE;
        IDirect3DDevice9 *device = nullptr;
        QVERIFY(SUCCEEDED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, 0, &params, &device)));
        IDirect3DSurface9 *yv12 = nullptr, *rgb = nullptr, *back = nullptr;
        QVERIFY(SUCCEEDED(device->CreateOffscreenPlainSurface(64, 32, D3DFMT_YV12, D3DPOOL_DEFAULT, &yv12, nullptr)));
        QVERIFY(SUCCEEDED(device->CreateOffscreenPlainSurface(64, 32, D3DFMT_R5G6B5, D3DPOOL_DEFAULT, &rgb, nullptr)));
        QVERIFY(SUCCEEDED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back)));

        // A green picture: Y 145, U 54, V 34.
        D3DLOCKED_RECT locked{};
        QVERIFY(SUCCEEDED(yv12->LockRect(&locked, nullptr, D3DLOCK_DONOTWAIT)));
        D3DLOCKED_RECT again{};
        QCOMPARE(yv12->LockRect(&again, nullptr, D3DLOCK_DONOTWAIT), D3DERR_WASSTILLDRAWING);
        auto *bytes = static_cast<uint8_t *>(locked.pBits);
        std::memset(bytes, 145, size_t(locked.Pitch) * 32);
        std::memset(bytes + size_t(locked.Pitch) * 32, 34, size_t(locked.Pitch / 2) * 16);
        std::memset(bytes + size_t(locked.Pitch) * 32 + size_t(locked.Pitch / 2) * 16, 54,
                    size_t(locked.Pitch / 2) * 16);
        QVERIFY(SUCCEEDED(yv12->UnlockRect()));
        QVERIFY(FAILED(yv12->UnlockRect()));

        QVERIFY(SUCCEEDED(device->StretchRect(yv12, nullptr, rgb, nullptr, D3DTEXF_POINT)));
        QVERIFY(SUCCEEDED(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0)));
        // The picture into the right half of the back buffer only.
        const RECT right{32, 0, 64, 32};
        QVERIFY(SUCCEEDED(device->StretchRect(rgb, nullptr, back, &right, D3DTEXF_LINEAR)));
        QVERIFY(SUCCEEDED(device->Present(nullptr, nullptr, 0, nullptr)));

        QTRY_VERIFY([&] {
            const QImage shot = widget.grab().toImage();
            const QColor c = shot.pixelColor(150, 50);
            return c.green() > 200 && c.red() < 60 && c.blue() < 60;
        }());
        const QImage shot = widget.grab().toImage();
        QCOMPARE(shot.pixelColor(50, 50), QColor(Qt::black));

        // An overlay drawn on the picture surface through its context.
        HDC dc = nullptr;
        QVERIFY(SUCCEEDED(rgb->GetDC(&dc)));
        HDC second = nullptr;
        QVERIFY(FAILED(rgb->GetDC(&second)));
        QVERIFY(FAILED(rgb->LockRect(&again, nullptr, D3DLOCK_DONOTWAIT)));
        HPEN pen = CreatePen(PS_SOLID, 1, 0x0000FF);
        HGDIOBJ old = SelectObject(dc, pen);
        QVERIFY(old);
        POINT was{};
        QVERIFY(MoveToEx(dc, 0, 5, &was));
        QVERIFY(LineTo(dc, 63, 5));
        SelectObject(dc, old);
        QVERIFY(DeleteObject(pen));
        QVERIFY(DeleteObject(old)); // the stock pen survives being deleted
        QVERIFY(SUCCEEDED(rgb->ReleaseDC(dc)));
        QVERIFY(SUCCEEDED(rgb->LockRect(&locked, nullptr, D3DLOCK_DONOTWAIT)));
        const uint32_t pixel =
            reinterpret_cast<const uint32_t *>(static_cast<uint8_t *>(locked.pBits) + 5 * locked.Pitch)[10];
        QCOMPARE(pixel & 0xFFFFFFu, 0xFF0000u); // red, as 0x00BBGGRR asked
        rgb->UnlockRect();

        back->Release();
        rgb->Release();
        yv12->Release();
        device->Release();
        d3d->Release();
    }

    void regionsAreHalfOpen()
    {
        HRGN region = CreateRectRgn(10, 10, 20, 20);
        const RECT inside{12, 12, 14, 14}, touchingRight{20, 10, 30, 20}, touchingBottom{10, 20, 20, 30},
            overlapping{19, 19, 25, 25}, outside{0, 0, 5, 5};
        QVERIFY(RectInRegion(region, &inside));
        QVERIFY(!RectInRegion(region, &touchingRight));
        QVERIFY(!RectInRegion(region, &touchingBottom));
        QVERIFY(RectInRegion(region, &overlapping));
        QVERIFY(!RectInRegion(region, &outside));
        QVERIFY(!RectInRegion(nullptr, &inside));
        QVERIFY(DeleteObject(region));
        QVERIFY(!CreatePen(5, 1, 0)); // solid pens only
    }

    void goneWidgetIsNoWindow()
    {
        auto *widget = new QWidget;
        widget->resize(50, 50);
        widget->show();
        const HWND window = HWND(widget->winId());
        IDirect3D9 *d3d = Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS params{};
        params.BackBufferWidth = 16;
        params.BackBufferHeight = 16;
        params.hDeviceWindow = window;
        IDirect3DDevice9 *device = nullptr;
        QVERIFY(SUCCEEDED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, 0, &params, &device)));
        QVERIFY(IsWindow(window));
        QCOMPARE(device->TestCooperativeLevel(), D3D_OK);
        delete widget;
        QVERIFY(!IsWindow(window));
        QCOMPARE(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
        RECT r{};
        QVERIFY(!GetClientRect(window, &r));
        QVERIFY(FAILED(device->Present(nullptr, nullptr, 0, nullptr)));
        device->Release();
        d3d->Release();
        QVERIFY(!IsWindow(window));
    }

    // Clear's fill waits until someone looks at the surface: a lock, an
    // overlay drawn through its context, a stretch into part of it and a
    // present all see it; a picture converted over all of it replaces it.
    void clearIsSeenWhereLooked()
    {
        QWidget widget;
        widget.resize(64, 32);
        widget.show();
        IDirect3D9 *d3d = Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS params =
            platform::d3d9::windowedVideo(HWND(widget.winId()), 64, 32, D3DSWAPEFFECT_DISCARD);
        IDirect3DDevice9 *device = nullptr;
        IDirect3DSurface9 *yv12 = nullptr, *rgb = nullptr, *back = nullptr;
        QVERIFY(SUCCEEDED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, 0, 0, &params, &device)));
        QVERIFY(SUCCEEDED(device->CreateOffscreenPlainSurface(64, 32, D3DFMT_YV12, D3DPOOL_DEFAULT, &yv12, nullptr)));
        QVERIFY(SUCCEEDED(device->CreateOffscreenPlainSurface(64, 32, D3DFMT_R5G6B5, D3DPOOL_DEFAULT, &rgb, nullptr)));
        QVERIFY(SUCCEEDED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back)));
        D3DLOCKED_RECT locked{};
        QVERIFY(SUCCEEDED(yv12->LockRect(&locked, nullptr, 0)));
        auto *bits = static_cast<uint8_t *>(locked.pBits);
        std::memset(bits, testsupport::kYuvRed[0], size_t(locked.Pitch) * 32);
        std::memset(bits + size_t(locked.Pitch) * 32, testsupport::kYuvRed[2], size_t(locked.Pitch / 2) * 16);
        std::memset(bits + size_t(locked.Pitch) * 40, testsupport::kYuvRed[1], size_t(locked.Pitch / 2) * 16);
        yv12->UnlockRect();
        auto pixelAt = [&](int x, int y) {
            D3DLOCKED_RECT l{};
            if (FAILED(rgb->LockRect(&l, nullptr, 0)))
                return QRgb(0);
            const QRgb p = reinterpret_cast<const QRgb *>(static_cast<uint8_t *>(l.pBits) + y * l.Pitch)[x];
            rgb->UnlockRect();
            return p | 0xFF000000u;
        };

        QVERIFY(SUCCEEDED(device->SetRenderTarget(0, rgb)));
        QVERIFY(SUCCEEDED(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0)));
        QCOMPARE(pixelAt(5, 5), qRgb(0, 255, 0));
        QVERIFY(SUCCEEDED(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0)));
        HDC dc = nullptr;
        QVERIFY(SUCCEEDED(rgb->GetDC(&dc)));
        HPEN pen = CreatePen(PS_SOLID, 1, 0x0000FF);
        HGDIOBJ old = SelectObject(dc, pen);
        QVERIFY(MoveToEx(dc, 0, 5, nullptr));
        QVERIFY(LineTo(dc, 63, 5));
        SelectObject(dc, old);
        DeleteObject(pen);
        QVERIFY(SUCCEEDED(rgb->ReleaseDC(dc)));
        QCOMPARE(pixelAt(10, 5), qRgb(255, 0, 0));
        QCOMPARE(pixelAt(10, 20), qRgb(0, 0, 255));
        QVERIFY(SUCCEEDED(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0)));
        QVERIFY(SUCCEEDED(device->StretchRect(yv12, nullptr, rgb, nullptr, D3DTEXF_POINT)));
        QVERIFY(near(pixelAt(10, 20), qRgb(255, 0, 0), 12));

        // The full chain: the back buffer's clear around the picture.
        platform::d3d9::setFusedPresent(false);
        platform::d3d9::setPresentHook(keepPresented);
        QVERIFY(SUCCEEDED(device->SetRenderTarget(0, back)));
        QVERIFY(SUCCEEDED(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0)));
        const RECT right{32, 0, 64, 32};
        QVERIFY(SUCCEEDED(device->StretchRect(rgb, nullptr, back, &right, D3DTEXF_LINEAR)));
        QVERIFY(SUCCEEDED(device->Present(nullptr, nullptr, 0, nullptr)));
        platform::d3d9::setPresentHook(nullptr);
        platform::d3d9::setFusedPresent(true);
        QCOMPARE(g_presented.size(), QSize(64, 32));
        QCOMPARE(g_presented.pixel(10, 16), qRgb(0, 255, 0));
        QVERIFY(near(g_presented.pixel(50, 16), qRgb(255, 0, 0), 12));

        back->Release();
        rgb->Release();
        yv12->Release();
        device->Release();
        d3d->Release();
    }

    // A swap chain puts its back buffer into a rectangle of the window and
    // black around it; the one-pass path gives the pixels of the chain
    // through the back buffer.
    void swapChainPresent_data()
    {
        QTest::addColumn<QRect>("source"); // null: all
        QTest::addColumn<QRect>("dest");
        QTest::addColumn<QRgb>("right"); // colour of the right part
        QTest::newRow("whole window") << QRect() << QRect() << qRgb(0, 0, 255);
        QTest::newRow("bars above and below") << QRect() << QRect(0, 50, 200, 100) << qRgb(0, 0, 255);
        QTest::newRow("red half, off-centre") << QRect(0, 0, 32, 32) << QRect(30, 20, 120, 90) << qRgb(255, 0, 0);
        // Widths that are no multiple of 8 against the window's edges.
        QTest::newRow("odd size at the right edge") << QRect() << QRect(77, 51, 123, 91) << qRgb(0, 0, 255);
        QTest::newRow("bottom right corner") << QRect() << QRect(78, 110, 122, 90) << qRgb(0, 0, 255);
        QTest::newRow("room on the right") << QRect() << QRect(10, 10, 122, 90) << qRgb(0, 0, 255);
    }
    void swapChainPresent()
    {
        QFETCH(QRect, source);
        QFETCH(QRect, dest);
        QFETCH(QRgb, right);
        QWidget widget;
        widget.resize(200, 200);
        widget.show();
        IDirect3D9 *d3d = Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS params = platform::d3d9::windowedVideo(HWND(widget.winId()), 64, 32, D3DSWAPEFFECT_COPY);
        IDirect3DDevice9 *device = nullptr;
        IDirect3DSwapChain9 *chain = nullptr;
        IDirect3DSurface9 *yv12 = nullptr;
        QVERIFY(SUCCEEDED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, 0, 0, &params, &device)));
        QVERIFY(SUCCEEDED(device->CreateAdditionalSwapChain(&params, &chain)));
        QVERIFY(SUCCEEDED(device->CreateOffscreenPlainSurface(64, 32, D3DFMT_YV12, D3DPOOL_DEFAULT, &yv12, nullptr)));
        const testsupport::YuvHalves pic(64, 32, testsupport::kYuvRed, testsupport::kYuvBlue);
        D3DLOCKED_RECT locked{};
        QVERIFY(SUCCEEDED(yv12->LockRect(&locked, nullptr, 0)));
        auto *bits = static_cast<uint8_t *>(locked.pBits);
        for (int r = 0; r < 32; ++r) {
            std::memcpy(bits + r * locked.Pitch, pic.planes[0] + r * 64, 64);
            if (r < 16) { // V, then U
                std::memcpy(bits + 32 * locked.Pitch + r * locked.Pitch / 2, pic.planes[2] + r * 32, 32);
                std::memcpy(bits + 32 * locked.Pitch + (16 + r) * locked.Pitch / 2, pic.planes[1] + r * 32, 32);
            }
        }
        yv12->UnlockRect();

        const RECT src{source.left(), source.top(), source.right() + 1, source.bottom() + 1};
        const RECT dst{dest.left(), dest.top(), dest.right() + 1, dest.bottom() + 1};
        const QRect inside = dest.isNull() ? QRect(0, 0, 200, 200) : dest;
        platform::d3d9::setPresentHook(keepPresented);
        QImage images[2];
        for (bool fused : {false, true}) {
            platform::d3d9::setFusedPresent(fused);
            IDirect3DSurface9 *back = nullptr;
            QVERIFY(SUCCEEDED(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0)));
            QVERIFY(SUCCEEDED(chain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back)));
            QVERIFY(SUCCEEDED(device->StretchRect(yv12, nullptr, back, nullptr, D3DTEXF_LINEAR)));
            QVERIFY(SUCCEEDED(device->SetRenderTarget(0, back)));
            back->Release();
            QCOMPARE(chain->Present(source.isNull() ? nullptr : &src, dest.isNull() ? nullptr : &dst, 0, nullptr,
                                    D3DPRESENT_DONOTWAIT),
                     D3D_OK);
            images[fused] = g_presented;
        }
        platform::d3d9::setPresentHook(nullptr);
        platform::d3d9::setFusedPresent(true);
        int differ = 0;
        for (const QImage &image : images) {
            QCOMPARE(image.size(), QSize(200, 200));
            for (int y = 0; y < 200; ++y)
                for (int x = 0; x < 200; ++x) {
                    QVERIFY(inside.contains(x, y) || image.pixel(x, y) == qRgb(0, 0, 0));
                    differ += !near(image.pixel(x, y), images[0].pixel(x, y), 16);
                }
            QVERIFY(near(image.pixel(inside.left() + inside.width() / 5, inside.center().y()), qRgb(255, 0, 0), 12));
            QVERIFY(near(image.pixel(inside.right() - inside.width() / 5, inside.center().y()), right, 12));
        }
        // Only the column where red meets blue may differ by the filtering.
        QVERIFY2(differ <= 2 * inside.height(), qPrintable(QString::number(differ)));
        chain->Release();
        yv12->Release();
        device->Release();
        d3d->Release();
    }

    // Every picture of a view goes through the same scaler: it builds its
    // swscale context once per geometry and format, not per picture (for
    // BGR0 output swscale's own cache would rebuild it on every call).
    void scalerKeepsItsContext()
    {
        platform::d3d9::Scaler scaler;
        std::vector<uint8_t> y(64 * 32, 235), u(32 * 16, 128), v(32 * 16, 128);
        const uint8_t *src[4] = {y.data(), u.data(), v.data(), nullptr};
        const int srcStride[4] = {64, 32, 32, 0};
        std::vector<uint8_t> out(32 * 16 * 4, 0);
        uint8_t *dst[4] = {out.data(), nullptr, nullptr, nullptr};
        const int dstStride[4] = {32 * 4, 0, 0, 0};
        for (int i = 0; i < 3; ++i)
            QVERIFY(
                scaler.run(src, srcStride, 64, 32, AV_PIX_FMT_YUV420P, dst, dstStride, 32, 16, AV_PIX_FMT_BGR0, true));
        QCOMPARE(scaler.contextsBuilt(), 1);
        QVERIFY(out[0] > 245 && out[1] > 245 && out[2] > 245); // video white
        QVERIFY(scaler.run(src, srcStride, 64, 32, AV_PIX_FMT_YUV420P, dst, dstStride, 16, 16, AV_PIX_FMT_BGR0, true));
        QCOMPARE(scaler.contextsBuilt(), 2);
        QVERIFY(scaler.run(src, srcStride, 64, 32, AV_PIX_FMT_YUV420P, dst, dstStride, 16, 16, AV_PIX_FMT_BGR0, false));
        QCOMPARE(scaler.contextsBuilt(), 3);
        QVERIFY(!scaler.run(src, srcStride, 0, 32, AV_PIX_FMT_YUV420P, dst, dstStride, 16, 16, AV_PIX_FMT_BGR0, false));
        QCOMPARE(scaler.contextsBuilt(), 3);
    }
};

QTEST_MAIN(TestD3d9)
#include "tst_d3d9.moc"
