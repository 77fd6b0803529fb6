#pragma once

// What the X server shows, and how often each window was presented to, for
// the suites that check live pictures under Xvfb. Header only: the suite
// links X11 and Qt's widgets itself.

#include "platform/d3d9/d3d9diag.h"

#include <QColor>
#include <QImage>
#include <QRect>
#include <QTest>
#include <QWidget>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <map>
#include <mutex>

namespace testsupport {

// Counts the presents of every window once installed as the present hook.
class PresentCounter
{
public:
    static void install() { platform::d3d9::setPresentHook(&PresentCounter::onPresent); }
    static void uninstall() { platform::d3d9::setPresentHook(nullptr); }
    static int on(HWND window)
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        return state().counts[window];
    }

private:
    struct State
    {
        std::mutex mutex;
        std::map<HWND, int> counts;
    };
    static State &state()
    {
        static State s;
        return s;
    }
    static void onPresent(HWND window, const platform::d3d9::PresentedImage &, int64_t)
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        ++state().counts[window];
    }
};

// The pixels of a rectangle of a window (in its own coordinates), clipped
// to the window; null when nothing of it is inside.
inline QImage grabX(Display *display, Window window, const QRect &rect)
{
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes))
        return QImage();
    const QRect area = rect.intersected(QRect(0, 0, attributes.width, attributes.height));
    if (area.isEmpty())
        return QImage();
    XImage *image = XGetImage(display, window, area.x(), area.y(), unsigned(area.width()), unsigned(area.height()),
                              AllPlanes, ZPixmap);
    if (!image)
        return QImage();
    QImage out(area.size(), QImage::Format_RGB32);
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            out.setPixel(x, y, qRgb(int((p >> 16) & 0xFF), int((p >> 8) & 0xFF), int(p & 0xFF)));
        }
    XDestroyImage(image);
    return out;
}

// One pixel of a window, once the window system has taken what the layer
// presented to it.
inline QColor pixelAt(Display *display, HWND window, int x, int y)
{
    platform::d3d9::waitUntilShown(window);
    XSync(display, False);
    const QImage one = grabX(display, Window(window), QRect(x, y, 1, 1));
    return one.isNull() ? QColor() : one.pixelColor(0, 0);
}

// A shown top-level window holding one native child of the given size,
// 20 pixels in from its corner: the renderers' target.
struct NativeView
{
    NativeView(int w, int h)
    {
        top.resize(w + 40, h + 40);
        child = new QWidget(&top);
        child->setAttribute(Qt::WA_NativeWindow);
        child->setAttribute(Qt::WA_OpaquePaintEvent);
        child->setGeometry(20, 20, w, h);
        top.show();
        exposed = QTest::qWaitForWindowExposed(&top);
        window = HWND(child->winId());
    }
    QWidget top;
    QWidget *child = nullptr;
    HWND window = 0;
    bool exposed = false;
};

inline bool nearColour(const QColor &a, const QColor &b, int tolerance)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance;
}

// Mostly black (at least the share given, in tenths), with some white: the
// "No Video" panel.
inline bool blackWithText(const QImage &img, int blackTenths = 9)
{
    int black = 0;
    int white = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            black += c.red() < 20 && c.green() < 20 && c.blue() < 20;
            white += c.red() > 200 && c.green() > 200 && c.blue() > 200;
        }
    const int all = img.width() * img.height();
    return all > 0 && black > all * blackTenths / 10 && white > 20;
}

} // namespace testsupport
