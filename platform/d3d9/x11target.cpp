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
        destroyImages();
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
        // The window's size and end come as events on this connection, so a
        // present needs no round trip to learn them.
        if (!checked(m_dpy, [&] { return XSelectInput(m_dpy, m_window, StructureNotifyMask) != 0; }))
            return false;
        XWindowAttributes attrs;
        if (!checked(m_dpy, [&] { return XGetWindowAttributes(m_dpy, m_window, &attrs) != 0; }))
            return false;
        m_visual = attrs.visual;
        m_depth = attrs.depth;
        m_windowW = attrs.width;
        m_windowH = attrs.height;
        if (m_depth == 24 || m_depth == 32)
            m_format = AV_PIX_FMT_BGR0;
        else if (m_depth == 16)
            m_format = AV_PIX_FMT_RGB565LE;
        else
            return false;
        if (!checked(m_dpy, [&] { return (m_gc = XCreateGC(m_dpy, m_window, 0, nullptr)) != nullptr; }))
            return false;
        m_useShm = !forceXPutImage() && XShmQueryExtension(m_dpy);
        if (m_useShm)
            m_shmCompletion = XShmGetEventBase(m_dpy) + ShmCompletion;
        m_errorsSeen = errorCount(m_dpy);
        return true;
    }

    bool isWindow() override { return windowExists(m_dpy, m_window); }
    bool clientSize(int *width, int *height) override { return windowSize(m_dpy, m_window, width, height); }

    bool present(const QImage &backBuffer, const RECT *source, const RECT *dest) override
    {
        return draw([&](uint8_t *image, int stride, int w, int h) {
            return composeBackBuffer(backBuffer, source, dest, image, stride, w, h, m_format);
        });
    }

    bool presentFused(const FusedPicture &picture) override
    {
        return draw([&](uint8_t *image, int stride, int w, int h) {
            return composeFused(m_scaler, picture, image, stride, w, h, m_format);
        });
    }

    bool sharedMemory() const override { return m_useShm && m_images[0].attached; }

    void waitUntilShown() override { XSync(m_dpy, False); }

    bool busy() override
    {
        if (!m_useShm)
            return false;
        if (sharedImagesBusy())
            return true;
        pumpEvents();
        return m_images[1].image && !finished(m_images[0]) && !finished(m_images[1]);
    }

private:
    // A window image; with MIT-SHM the server reads it after the request
    // was sent, so it is not written again until the server is done.
    struct Image
    {
        XImage *image = nullptr;
        XShmSegmentInfo shm{};
        bool attached = false;
        bool inFlight = false;
        unsigned long serial = 0; // of the put that reads it
    };

    // Fills a window image of the client size and sends it. The server
    // shows it after this returns: waiting for it here would cost a round
    // trip per picture, which with many views is spent queueing behind the
    // other views' requests.
    template <typename Fill>
    bool draw(Fill fill)
    {
        pumpEvents();
        if (m_destroyed || errorCount(m_dpy) != m_errorsSeen) {
            m_errorsSeen = errorCount(m_dpy);
            return false;
        }
        const int w = m_windowW, h = m_windowH;
        if (w < 1 || h < 1)
            return false;
        if (!ensureImages(w, h))
            return false;
        Image *target = freeImage();
        if (!target)
            return false;
        XImage *image = target->image;
        if (!fill(reinterpret_cast<uint8_t *>(image->data), image->bytes_per_line, w, h))
            return false;
        if (target->attached) {
            target->serial = NextRequest(m_dpy);
            target->inFlight = true;
            // The completion event says when the segment may be written again.
            XShmPutImage(m_dpy, m_window, m_gc, image, 0, 0, 0, 0, unsigned(w), unsigned(h), True);
        } else {
            // Xlib copies the pixels into the request: the image is free again.
            XPutImage(m_dpy, m_window, m_gc, image, 0, 0, 0, 0, unsigned(w), unsigned(h));
        }
        XFlush(m_dpy);
        m_last = target;
        callPresentHook(
            HWND(m_window),
            PresentedImage{reinterpret_cast<const uint8_t *>(image->data), w, h, image->bytes_per_line,
                           m_format == AV_PIX_FMT_RGB565LE ? PresentedFormat::Rgb565 : PresentedFormat::Bgrx32});
        return true;
    }

    // Takes what the server sent without waiting for more: size changes,
    // the window's end, finished puts.
    void pumpEvents()
    {
        while (XEventsQueued(m_dpy, QueuedAfterReading) > 0) {
            XEvent event;
            XNextEvent(m_dpy, &event);
            if (event.type == ConfigureNotify && event.xconfigure.window == m_window) {
                m_windowW = event.xconfigure.width;
                m_windowH = event.xconfigure.height;
            } else if (event.type == DestroyNotify && event.xdestroywindow.window == m_window) {
                m_destroyed = true;
            } else if (m_shmCompletion && event.type == m_shmCompletion) {
                const auto &done = reinterpret_cast<const XShmCompletionEvent &>(event);
                for (Image &i : m_images)
                    if (i.attached && i.shm.shmseg == done.shmseg)
                        i.inFlight = false;
            }
        }
    }

    bool finished(const Image &i) const
    {
        // A put the server refused (the window is gone) sends no completion,
        // but anything the server answered after it means it was handled.
        return !i.inFlight || long(LastKnownRequestProcessed(m_dpy) - i.serial) >= 0;
    }

    // An image the server no longer reads: the one sent last when the
    // server is done with it (its lines are still in the caches), else the
    // other; waits only when the server still reads both.
    Image *freeImage()
    {
        if (!m_images[1].image || !m_last)
            return &m_images[0];
        if (finished(*m_last))
            return m_last;
        Image *other = m_last == &m_images[0] ? &m_images[1] : &m_images[0];
        if (finished(*other))
            return other;
        XSync(m_dpy, False);
        pumpEvents();
        return other;
    }

    bool ensureImages(int w, int h)
    {
        if (m_images[0].image && m_imageW == w && m_imageH == h)
            return true;
        destroyImages();
        if (m_useShm) {
            if (createShmImage(m_images[0], w, h) && createShmImage(m_images[1], w, h)) {
                m_imageW = w;
                m_imageH = h;
                return true;
            }
            destroyImages();
            // A remote display, or the extension refused: plain XPutImage.
            qDebug() << "X11 shared memory unavailable; presenting with XPutImage";
            m_useShm = false;
        }
        XImage *image =
            XCreateImage(m_dpy, m_visual, unsigned(m_depth), ZPixmap, 0, nullptr, unsigned(w), unsigned(h), 32, 0);
        if (!image)
            return false;
        image->data = static_cast<char *>(calloc(size_t(image->bytes_per_line), size_t(h)));
        if (!image->data) {
            XDestroyImage(image);
            return false;
        }
        m_images[0].image = image;
        m_imageW = w;
        m_imageH = h;
        return true;
    }

    bool createShmImage(Image &i, int w, int h)
    {
        i.image =
            XShmCreateImage(m_dpy, m_visual, unsigned(m_depth), ZPixmap, nullptr, &i.shm, unsigned(w), unsigned(h));
        if (!i.image)
            return false;
        i.shm.shmid = shmget(IPC_PRIVATE, size_t(i.image->bytes_per_line) * size_t(h), IPC_CREAT | 0600);
        if (i.shm.shmid < 0) {
            XDestroyImage(i.image);
            i.image = nullptr;
            return false;
        }
        i.shm.shmaddr = i.image->data = static_cast<char *>(shmat(i.shm.shmid, nullptr, 0));
        i.shm.readOnly = False;
        const bool mapped = i.shm.shmaddr != reinterpret_cast<char *>(-1);
        const bool attached = mapped && checked(m_dpy, [&] { return XShmAttach(m_dpy, &i.shm) != 0; });
        // Marked for removal at once: no segment outlives a crash.
        shmctl(i.shm.shmid, IPC_RMID, nullptr);
        if (!attached) {
            if (mapped)
                shmdt(i.shm.shmaddr);
            i.image->data = nullptr;
            XDestroyImage(i.image);
            i.image = nullptr;
            return false;
        }
        i.attached = true;
        return true;
    }

    void destroyImages()
    {
        bool detached = false;
        for (Image &i : m_images)
            if (i.attached) {
                XShmDetach(m_dpy, &i.shm);
                detached = true;
            }
        // The server may still read a segment; it lets go before the memory
        // goes.
        if (detached)
            XSync(m_dpy, False);
        for (Image &i : m_images) {
            if (!i.image)
                continue;
            if (i.attached) {
                shmdt(i.shm.shmaddr);
                i.image->data = nullptr;
            }
            XDestroyImage(i.image);
            i = Image();
        }
        m_last = nullptr;
        m_imageW = m_imageH = 0;
    }

    Display *m_dpy = nullptr;
    Window m_window = 0;
    Visual *m_visual = nullptr;
    int m_depth = 0;
    int m_format = AV_PIX_FMT_BGR0;
    GC m_gc = nullptr;
    bool m_useShm = false;
    int m_shmCompletion = 0;
    int m_windowW = 0;
    int m_windowH = 0;
    bool m_destroyed = false;
    unsigned long m_errorsSeen = 0;
    // Two images with MIT-SHM, so a picture can be written while the server
    // still reads the one before; one with XPutImage.
    Image m_images[2];
    Image *m_last = nullptr;
    int m_imageW = 0;
    int m_imageH = 0;
    FusedScaler m_scaler;
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
