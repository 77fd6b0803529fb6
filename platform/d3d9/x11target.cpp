// X11 back end: each device has its own display connection, so no Xlib
// state is shared with Qt's connection or with another player thread.

#include "platform/d3d9/d3d9_p.h"

#include <QDebug>

// Xlib after Qt: it defines macros (Status, Bool, None) that Qt headers use.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <map>
#include <mutex>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace platform::d3d9 {

namespace {

// Xlib's default error handler ends the process, which a view whose window
// was just destroyed would trigger (BadWindow). Errors on the layer's own
// connections are counted instead; everything else goes to the handler that
// was installed before.
std::mutex g_errorMutex;
std::map<Display *, unsigned long> g_errors;
XErrorHandler g_previousHandler = nullptr;
std::once_flag g_handlerOnce;

int onXError(Display *dpy, XErrorEvent *event)
{
    {
        std::lock_guard<std::mutex> lock(g_errorMutex);
        auto it = g_errors.find(dpy);
        if (it != g_errors.end()) {
            ++it->second;
            return 0;
        }
    }
    return g_previousHandler ? g_previousHandler(dpy, event) : 0;
}

Display *openDisplay()
{
    std::call_once(g_handlerOnce, [] { g_previousHandler = XSetErrorHandler(onXError); });
    Display *dpy = XOpenDisplay(nullptr);
    if (dpy) {
        std::lock_guard<std::mutex> lock(g_errorMutex);
        g_errors[dpy] = 0;
    }
    return dpy;
}

void closeDisplay(Display *dpy)
{
    if (!dpy)
        return;
    XCloseDisplay(dpy);
    std::lock_guard<std::mutex> lock(g_errorMutex);
    g_errors.erase(dpy);
}

unsigned long errorCount(Display *dpy)
{
    std::lock_guard<std::mutex> lock(g_errorMutex);
    auto it = g_errors.find(dpy);
    return it == g_errors.end() ? 0 : it->second;
}

// Runs an Xlib request and the round trip after it; false when the server
// answered with an error.
template <typename Fn>
bool checked(Display *dpy, Fn fn)
{
    const unsigned long before = errorCount(dpy);
    const bool ok = fn();
    XSync(dpy, False);
    return ok && errorCount(dpy) == before;
}

bool windowExists(Display *dpy, Window window)
{
    XWindowAttributes attrs;
    return checked(dpy, [&] { return XGetWindowAttributes(dpy, window, &attrs) != 0; });
}

bool windowSize(Display *dpy, Window window, int *width, int *height)
{
    Window root;
    int x, y;
    unsigned int w = 0, h = 0, border, depth;
    if (!checked(dpy, [&] { return XGetGeometry(dpy, window, &root, &x, &y, &w, &h, &border, &depth) != 0; }))
        return false;
    *width = int(w);
    *height = int(h);
    return true;
}

class X11Target : public WindowTarget
{
public:
    ~X11Target() override
    {
        destroyImage();
        if (m_gc)
            XFreeGC(m_dpy, m_gc);
        closeDisplay(m_dpy);
    }

    bool open(HWND window)
    {
        m_window = Window(window);
        m_dpy = openDisplay();
        if (!m_dpy)
            return false;
        XWindowAttributes attrs;
        if (!checked(m_dpy, [&] { return XGetWindowAttributes(m_dpy, m_window, &attrs) != 0; }))
            return false;
        m_visual = attrs.visual;
        m_depth = attrs.depth;
        if (m_depth == 24 || m_depth == 32)
            m_format = AV_PIX_FMT_BGR0;
        else if (m_depth == 16)
            m_format = AV_PIX_FMT_RGB565LE;
        else
            return false;
        if (!checked(m_dpy, [&] { return (m_gc = XCreateGC(m_dpy, m_window, 0, nullptr)) != nullptr; }))
            return false;
        m_useShm = !forceXPutImage() && XShmQueryExtension(m_dpy);
        return true;
    }

    bool isWindow() override { return windowExists(m_dpy, m_window); }
    bool clientSize(int *width, int *height) override { return windowSize(m_dpy, m_window, width, height); }

    bool present(const QImage &backBuffer) override
    {
        return draw([&](uint8_t *image, int stride, int w, int h) {
            const uint8_t *src[4] = {backBuffer.constBits(), nullptr, nullptr, nullptr};
            const int srcStride[4] = {int(backBuffer.bytesPerLine()), 0, 0, 0};
            uint8_t *dst[4] = {image, nullptr, nullptr, nullptr};
            const int dstStride[4] = {stride, 0, 0, 0};
            return m_scaler.run(src, srcStride, backBuffer.width(), backBuffer.height(), AV_PIX_FMT_BGRA, dst,
                                dstStride, w, h, m_format, true);
        });
    }

    bool presentFused(const FusedPicture &picture) override
    {
        return draw([&](uint8_t *image, int stride, int w, int h) {
            return composeFused(m_scaler, picture, image, stride, w, h, m_format);
        });
    }

    bool sharedMemory() const override { return m_shmAttached; }

private:
    // Fills the window image of the client size and puts it on screen.
    template <typename Fill>
    bool draw(Fill fill)
    {
        int w = 0, h = 0;
        if (!clientSize(&w, &h) || w < 1 || h < 1)
            return false;
        if (!ensureImage(w, h))
            return false;
        if (!fill(reinterpret_cast<uint8_t *>(m_image->data), m_image->bytes_per_line, w, h))
            return false;
        const unsigned long before = errorCount(m_dpy);
        if (m_shmAttached)
            XShmPutImage(m_dpy, m_window, m_gc, m_image, 0, 0, 0, 0, unsigned(w), unsigned(h), False);
        else
            XPutImage(m_dpy, m_window, m_gc, m_image, 0, 0, 0, 0, unsigned(w), unsigned(h));
        // On screen when this returns, and the image may be reused.
        XSync(m_dpy, False);
        if (errorCount(m_dpy) != before)
            return false;
        callPresentHook(HWND(m_window),
                        PresentedImage{reinterpret_cast<const uint8_t *>(m_image->data), w, h, m_image->bytes_per_line,
                                       m_format == AV_PIX_FMT_RGB565LE ? PresentedFormat::Rgb565
                                                                       : PresentedFormat::Bgrx32});
        return true;
    }

    bool ensureImage(int w, int h)
    {
        if (m_image && m_imageW == w && m_imageH == h)
            return true;
        destroyImage();
        if (m_useShm && createShmImage(w, h))
            return true;
        m_useShm = false;
        m_image = XCreateImage(m_dpy, m_visual, unsigned(m_depth), ZPixmap, 0, nullptr, unsigned(w), unsigned(h), 32, 0);
        if (!m_image)
            return false;
        m_image->data = static_cast<char *>(calloc(size_t(m_image->bytes_per_line), size_t(h)));
        if (!m_image->data) {
            XDestroyImage(m_image);
            m_image = nullptr;
            return false;
        }
        m_imageW = w;
        m_imageH = h;
        return true;
    }

    bool createShmImage(int w, int h)
    {
        m_image = XShmCreateImage(m_dpy, m_visual, unsigned(m_depth), ZPixmap, nullptr, &m_shm, unsigned(w), unsigned(h));
        if (!m_image)
            return false;
        m_shm.shmid = shmget(IPC_PRIVATE, size_t(m_image->bytes_per_line) * size_t(h), IPC_CREAT | 0600);
        if (m_shm.shmid < 0) {
            XDestroyImage(m_image);
            m_image = nullptr;
            return false;
        }
        m_shm.shmaddr = m_image->data = static_cast<char *>(shmat(m_shm.shmid, nullptr, 0));
        m_shm.readOnly = False;
        const bool attached = m_shm.shmaddr != reinterpret_cast<char *>(-1) &&
                              checked(m_dpy, [&] { return XShmAttach(m_dpy, &m_shm) != 0; });
        // Marked for removal at once: no segment outlives a crash.
        shmctl(m_shm.shmid, IPC_RMID, nullptr);
        if (!attached) {
            // A remote display, or the extension refused: plain XPutImage.
            if (m_shm.shmaddr != reinterpret_cast<char *>(-1))
                shmdt(m_shm.shmaddr);
            m_image->data = nullptr;
            XDestroyImage(m_image);
            m_image = nullptr;
            qDebug() << "X11 shared memory unavailable; presenting with XPutImage";
            return false;
        }
        m_shmAttached = true;
        m_imageW = w;
        m_imageH = h;
        return true;
    }

    void destroyImage()
    {
        if (!m_image)
            return;
        if (m_shmAttached) {
            XShmDetach(m_dpy, &m_shm);
            XSync(m_dpy, False);
            shmdt(m_shm.shmaddr);
            m_image->data = nullptr;
            m_shmAttached = false;
        }
        XDestroyImage(m_image);
        m_image = nullptr;
    }

    Display *m_dpy = nullptr;
    Window m_window = 0;
    Visual *m_visual = nullptr;
    int m_depth = 0;
    int m_format = AV_PIX_FMT_BGR0;
    GC m_gc = nullptr;
    bool m_useShm = false;
    bool m_shmAttached = false;
    XShmSegmentInfo m_shm{};
    XImage *m_image = nullptr;
    int m_imageW = 0;
    int m_imageH = 0;
    Scaler m_scaler;
};

// One connection for questions about windows that no device is bound to.
std::mutex g_sharedMutex;
Display *sharedDisplay()
{
    static Display *dpy = openDisplay();
    return dpy;
}

} // namespace

std::unique_ptr<WindowTarget> createX11Target(HWND window)
{
    auto target = std::make_unique<X11Target>();
    if (!target->open(window))
        return nullptr;
    return target;
}

bool x11IsWindow(HWND window)
{
    std::lock_guard<std::mutex> lock(g_sharedMutex);
    Display *dpy = sharedDisplay();
    return dpy && windowExists(dpy, Window(window));
}

bool x11ClientSize(HWND window, int *width, int *height)
{
    std::lock_guard<std::mutex> lock(g_sharedMutex);
    Display *dpy = sharedDisplay();
    return dpy && windowSize(dpy, Window(window), width, height);
}

void initWindowSystemThreads()
{
    XInitThreads();
}

} // namespace platform::d3d9
