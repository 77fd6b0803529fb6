#include "platform/d3d9/d3d9_p.h"
#include "platform/gdi/gdi_p.h"
#include "platform/yuvcolour.h"

#include <QGuiApplication>
#include <QPainter>
#include <QRegion>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <time.h>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

static_assert(sizeof(HWND) == sizeof(WId), "HWND carries a native window id");

namespace platform::d3d9 {

namespace {
std::atomic<PresentHook> g_hook{nullptr};
std::atomic<int> g_pitch{0};
std::atomic<bool> g_forcePut{false};
std::atomic<bool> g_fused{true};
std::atomic<bool> g_imagesBusy{false};

std::mutex g_registryMutex;
std::multimap<HWND, WindowTarget *> g_registry;

int64_t monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}
} // namespace

namespace {
// YUV into RGB by the program's one colour definition; other passes (scaling
// within YUV, RGB stretches) keep swscale's own set-up.
void useCameraColours(SwsContext *ctx, int srcFormat, int dstFormat)
{
    const AVPixFmtDescriptor *src = av_pix_fmt_desc_get(AVPixelFormat(srcFormat));
    const AVPixFmtDescriptor *dst = av_pix_fmt_desc_get(AVPixelFormat(dstFormat));
    if (!src || !dst || (src->flags & AV_PIX_FMT_FLAG_RGB) || !(dst->flags & AV_PIX_FMT_FLAG_RGB))
        return;
    int *inverse = nullptr;
    int *table = nullptr;
    int srcRange = 0;
    int dstRange = 0;
    int brightness = 0;
    int contrast = 0;
    int saturation = 0;
    if (sws_getColorspaceDetails(ctx, &inverse, &srcRange, &table, &dstRange, &brightness, &contrast, &saturation) < 0)
        return;
    const std::array<int, 4> coefficients = yuv::swscaleTable();
    sws_setColorspaceDetails(ctx, coefficients.data(), 0, coefficients.data(), dstRange, brightness, contrast,
                             saturation);
}
} // namespace

Scaler::~Scaler()
{
    sws_freeContext(m_ctx);
}

bool Scaler::run(const uint8_t *const src[4], const int srcStride[4], int srcW, int srcH, int srcFormat,
                 uint8_t *const dst[4], const int dstStride[4], int dstW, int dstH, int dstFormat, bool linear)
{
    if (srcW < 1 || srcH < 1 || dstW < 1 || dstH < 1)
        return false;
    // The key is kept here: sws_getCachedContext compares against the
    // formats the context ended up with, which for BGR0 output differ from
    // the ones asked for, and it would build a new context on every call.
    const Key key{srcW, srcH, srcFormat, dstW, dstH, dstFormat, linear};
    if (!m_ctx || !(key == m_key)) {
        sws_freeContext(m_ctx);
        m_ctx = sws_getContext(srcW, srcH, AVPixelFormat(srcFormat), dstW, dstH, AVPixelFormat(dstFormat),
                               linear ? SWS_BILINEAR : SWS_POINT, nullptr, nullptr, nullptr);
        m_key = key;
        ++m_built;
        if (m_ctx)
            useCameraColours(m_ctx, srcFormat, dstFormat);
    }
    if (!m_ctx)
        return false;
    return sws_scale(m_ctx, src, srcStride, 0, srcH, dst, dstStride) > 0;
}

namespace {
// Fills rows [top, bottom) and columns [left, right) of an image.
void fillRect(uint8_t *image, int stride, int bytesPerPixel, int left, int top, int right, int bottom,
              const uint8_t *pixel)
{
    for (int y = top; y < bottom; ++y) {
        uint8_t *row = image + size_t(y) * stride + size_t(left) * bytesPerPixel;
        for (int x = left; x < right; ++x, row += bytesPerPixel)
            std::memcpy(row, pixel, size_t(bytesPerPixel));
    }
}
} // namespace

bool FusedScaler::run(const FusedPicture &p, uint8_t *dst, int dstStride, int dstW, int dstH, int room, int pixelFormat)
{
    const int bpp = pixelFormat == AV_PIX_FMT_RGB565LE ? 2 : 4;
    const int blocksW = (dstW + 7) & ~7;
    const bool direct = blocksW <= room;
    uint8_t *out[4] = {dst, nullptr, nullptr, nullptr};
    int outStride[4] = {dstStride, 0, 0, 0};
    if (!direct) {
        outStride[0] = (blocksW * bpp + 63) & ~63;
        m_rgb.resize(size_t(outStride[0]) * size_t(dstH));
        out[0] = m_rgb.data();
    }
    const uint8_t *src[4] = {p.planes[0], p.planes[1], p.planes[2], nullptr};
    const int srcStride[4] = {p.strides[0], p.strides[1], p.strides[2], 0};
    bool done;
    if (dstW % 2 == 0) {
        done = m_scale.run(src, srcStride, p.width, p.height, AV_PIX_FMT_YUV420P, out, outStride, dstW, dstH,
                           pixelFormat, p.linear);
    } else {
        const int planeStride = (dstW + 63) & ~63;
        const size_t planeBytes = size_t(planeStride) * size_t(dstH);
        m_yuv.resize(3 * planeBytes);
        uint8_t *const yuv[4] = {m_yuv.data(), m_yuv.data() + planeBytes, m_yuv.data() + 2 * planeBytes, nullptr};
        const int yuvStride[4] = {planeStride, planeStride, planeStride, 0};
        const uint8_t *scaled[4] = {yuv[0], yuv[1], yuv[2], nullptr};
        done = m_scale.run(src, srcStride, p.width, p.height, AV_PIX_FMT_YUV420P, yuv, yuvStride, dstW, dstH,
                           AV_PIX_FMT_YUV444P, p.linear) &&
               m_convert.run(scaled, yuvStride, dstW, dstH, AV_PIX_FMT_YUV444P, out, outStride, dstW, dstH, pixelFormat,
                             p.linear);
    }
    if (!done || direct)
        return done;
    for (int row = 0; row < dstH; ++row)
        std::memcpy(dst + size_t(row) * size_t(dstStride), m_rgb.data() + size_t(row) * size_t(outStride[0]),
                    size_t(dstW) * size_t(bpp));
    return true;
}

bool composeFused(FusedScaler &scaler, const FusedPicture &p, uint8_t *image, int stride, int width, int height,
                  int pixelFormat)
{
    if (p.backWidth < 1 || p.backHeight < 1 || width < 1 || height < 1)
        return false;
    // The back-buffer rectangle where the window shows it.
    const double sx = double(width) / p.backWidth;
    const double sy = double(height) / p.backHeight;
    const int left = std::clamp(int(std::lround(p.dest.left * sx)), 0, width);
    const int right = std::clamp(int(std::lround(p.dest.right * sx)), left, width);
    const int top = std::clamp(int(std::lround(p.dest.top * sy)), 0, height);
    const int bottom = std::clamp(int(std::lround(p.dest.bottom * sy)), top, height);

    uint8_t pixel[4];
    int bpp = 4;
    const int r = (p.clearColour >> 16) & 0xFF, g = (p.clearColour >> 8) & 0xFF, b = p.clearColour & 0xFF;
    if (pixelFormat == AV_PIX_FMT_RGB565LE) {
        const uint16_t v = uint16_t(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
        std::memcpy(pixel, &v, 2);
        bpp = 2;
    } else {
        pixel[0] = uint8_t(b);
        pixel[1] = uint8_t(g);
        pixel[2] = uint8_t(r);
        pixel[3] = 0xFF;
    }
    // The picture first: its last block of a row may reach into the band
    // on its right, which the fill then covers.
    const bool shown = right <= left || bottom <= top ||
                       scaler.run(p, image + size_t(top) * stride + size_t(left) * bpp, stride, right - left,
                                  bottom - top, width - left, pixelFormat);
    fillRect(image, stride, bpp, 0, 0, width, top, pixel);
    fillRect(image, stride, bpp, 0, bottom, width, height, pixel);
    fillRect(image, stride, bpp, 0, top, left, bottom, pixel);
    fillRect(image, stride, bpp, right, top, width, bottom, pixel);
    return shown;
}

bool composeBackBuffer(const QImage &backBuffer, const RECT *source, const RECT *dest, uint8_t *image, int stride,
                       int width, int height, int pixelFormat)
{
    QImage window(image, width, height, stride,
                  pixelFormat == AV_PIX_FMT_RGB565LE ? QImage::Format_RGB16 : QImage::Format_RGB32);
    QPainter painter(&window);
    if (!painter.isActive())
        return false;
    auto toQRect = [](const RECT &r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); };
    const QRect all(0, 0, width, height);
    const QRect to = dest ? toQRect(*dest) : all;
    const QRect from = source ? toQRect(*source) & backBuffer.rect() : backBuffer.rect();
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    if (to != all)
        for (const QRect &r : QRegion(all).subtracted(QRegion(to)))
            painter.fillRect(r, Qt::black);
    // Qt's bilinear stretch: swscale would take the RGB pixels through YUV
    // and back, several times slower.
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!to.isEmpty() && !from.isEmpty())
        painter.drawImage(to, backBuffer, from);
    return true;
}

void registerTarget(HWND window, WindowTarget *target)
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    g_registry.emplace(window, target);
}

void unregisterTarget(HWND window, WindowTarget *target)
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    auto range = g_registry.equal_range(window);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second == target) {
            g_registry.erase(it);
            return;
        }
    }
}

void callPresentHook(HWND window, const PresentedImage &image)
{
    if (PresentHook hook = g_hook.load())
        hook(window, image, monotonicNs());
}

bool forceXPutImage()
{
    if (g_forcePut.load())
        return true;
    return qgetenv("ARDO_D3D9_XPUTIMAGE") == "1";
}

bool sharedImagesBusy()
{
    return g_imagesBusy.load();
}

void setSharedImagesBusyForTests(bool busy)
{
    g_imagesBusy.store(busy);
}

bool drawsOutsideQt()
{
    return useX11();
}

bool fusedPresentAllowed()
{
    // Asked twice per picture by every player thread; the environment is
    // read once, not under Qt's environment lock each time.
    static const bool fullChainForced = qgetenv("ARDO_D3D9_FULLCHAIN") == "1";
    return g_fused.load() && !fullChainForced;
}

void setFusedPresent(bool allowed)
{
    g_fused.store(allowed);
}

int yv12PitchOverride()
{
    return g_pitch.load();
}

bool useX11()
{
    // Without a Qt application (a bare test or tool) X11 is the only choice.
    return !qGuiApp || QGuiApplication::platformName() == QLatin1String("xcb");
}

void setPresentHook(PresentHook hook)
{
    g_hook.store(hook);
}

void setYV12PitchForTests(int pitch)
{
    g_pitch.store(pitch < 0 ? 0 : pitch);
}

void setForceXPutImage(bool force)
{
    g_forcePut.store(force);
}

bool usesSharedMemory(HWND window)
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    auto range = g_registry.equal_range(window);
    bool shm = false;
    for (auto it = range.first; it != range.second; ++it)
        shm = it->second->sharedMemory();
    return shm;
}

void waitUntilShown(HWND window)
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    auto range = g_registry.equal_range(window);
    for (auto it = range.first; it != range.second; ++it)
        it->second->waitUntilShown();
}

namespace {

// Asks the newest device bound to the window, or the window system itself.
bool askTarget(HWND window, int *w, int *h, bool sizeWanted)
{
    {
        std::lock_guard<std::mutex> lock(g_registryMutex);
        auto range = g_registry.equal_range(window);
        if (range.first != range.second) {
            WindowTarget *t = std::prev(range.second)->second;
            return sizeWanted ? t->clientSize(w, h) : t->isWindow();
        }
    }
    if (useX11())
        return sizeWanted ? x11ClientSize(window, w, h) : x11IsWindow(window);
    QWidget *widget = QWidget::find(WId(window));
    if (!widget)
        return false;
    if (sizeWanted) {
        *w = widget->width();
        *h = widget->height();
    }
    return true;
}

// COM-style reference counting shared by the layer's objects.
template <typename Interface>
class RefCounted : public Interface
{
public:
    UINT AddRef() override { return ++m_refs; }
    UINT Release() override
    {
        const UINT left = --m_refs;
        if (left == 0)
            delete this;
        return left;
    }

private:
    std::atomic<UINT> m_refs{1};
};

class Surface : public RefCounted<IDirect3DSurface9>
{
public:
    Surface(int width, int height, D3DFORMAT format);

    HRESULT LockRect(D3DLOCKED_RECT *locked, const RECT *rect, DWORD flags) override;
    HRESULT UnlockRect() override;
    HRESULT GetDC(HDC *dc) override;
    HRESULT ReleaseDC(HDC dc) override;

    bool valid() const { return m_format == D3DFMT_YV12 ? !m_yv12.empty() : !m_rgb.isNull(); }
    int width() const { return m_width; }
    int height() const { return m_height; }
    D3DFORMAT format() const { return m_format; }
    int pitch() const { return m_pitch; }
    const uint8_t *yv12() const { return m_yv12.data(); }
    QImage &rgb()
    {
        if (m_fillPending) {
            m_fillPending = false;
            m_rgb.fill(m_fill);
        }
        return m_rgb;
    }
    bool busy() const { return m_locked.load() || m_dc; }

    // A fill is kept back until someone looks at the pixels: the renderers
    // clear a surface on every picture and then convert a picture over all
    // of it, and filling a full-HD surface costs more than scaling the
    // picture into the window. A surface someone holds is filled at once.
    void fill(QRgb colour)
    {
        if (busy()) {
            m_fillPending = false;
            m_rgb.fill(colour);
            return;
        }
        m_fill = colour;
        m_fillPending = true;
    }
    // What is about to be written over the whole surface.
    void dropFill() { m_fillPending = false; }

    // Work the device deferred on this surface; done before anyone looks.
    void setFlush(std::function<void()> flush) { m_flush = std::move(flush); }
    void flush()
    {
        if (m_flush) {
            auto f = std::move(m_flush);
            m_flush = nullptr;
            f();
        }
    }

private:
    ~Surface() override { delete m_dc; }

    std::function<void()> m_flush;
    int m_width, m_height;
    D3DFORMAT m_format;
    int m_pitch = 0;
    std::vector<uint8_t> m_yv12;
    // R5G6B5 keeps 32-bit pixels inside: only the colours get better.
    QImage m_rgb;
    QRgb m_fill = 0;
    bool m_fillPending = false;
    std::atomic<bool> m_locked{false};
    GdiDC *m_dc = nullptr;
};

bool clipTo(const RECT *r, int w, int h, RECT *out);

class Device : public RefCounted<IDirect3DDevice9>
{
public:
    Device(HWND window, std::unique_ptr<WindowTarget> target, int bbWidth, int bbHeight)
        : m_window(window), m_target(std::move(target))
    {
        registerTarget(m_window, m_target.get());
        m_backBuffer = new Surface(bbWidth, bbHeight, D3DFMT_R5G6B5);
        m_backBuffer->AddRef();
        m_renderTarget = m_backBuffer;
    }

    HRESULT CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS *params, IDirect3DSwapChain9 **swapChain) override;

    HRESULT SetRenderTarget(DWORD index, IDirect3DSurface9 *surface) override
    {
        auto *s = static_cast<Surface *>(surface);
        if (index != 0 || !s || s->format() == D3DFMT_YV12)
            return D3DERR_INVALIDCALL;
        s->AddRef();
        m_renderTarget->Release();
        m_renderTarget = s;
        return D3D_OK;
    }

    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD) override
    {
        switch (state) {
        case D3DRS_SRCBLEND:
        case D3DRS_CULLMODE:
        case D3DRS_ALPHAFUNC:
        case D3DRS_LIGHTING:
            return D3D_OK;
        }
        return D3DERR_INVALIDCALL;
    }

    HRESULT TestCooperativeLevel() override { return m_target->isWindow() ? D3D_OK : D3DERR_DEVICELOST; }

    // A swap chain's Present: its back buffer onto the window of target.
    HRESULT presentChain(Surface *backBuffer, WindowTarget *target, const RECT *sourceRect, const RECT *destRect);
    WindowTarget *target() const { return m_target.get(); }

    HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL, IDirect3DSurface9 **surface,
                                        void *) override
    {
        if (!surface || width < 1 || height < 1 || width > 16384 || height > 16384)
            return D3DERR_INVALIDCALL;
        if (format != D3DFMT_YV12 && format != D3DFMT_R5G6B5)
            return D3DERR_NOTAVAILABLE;
        auto *s = new Surface(int(width), int(height), format);
        if (!s->valid()) {
            s->Release();
            return E_OUTOFMEMORY;
        }
        *surface = s;
        return D3D_OK;
    }

    HRESULT GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE, IDirect3DSurface9 **surface) override
    {
        if (!surface || swapChain != 0 || index != 0 || !m_backBuffer->valid())
            return D3DERR_INVALIDCALL;
        m_backBuffer->AddRef();
        *surface = m_backBuffer;
        return D3D_OK;
    }

    HRESULT StretchRect(IDirect3DSurface9 *source, const RECT *sourceRect, IDirect3DSurface9 *dest,
                        const RECT *destRect, D3DTEXTUREFILTERTYPE filter) override;

    HRESULT Clear(DWORD, const void *, DWORD flags, D3DCOLOR colour, float, DWORD) override
    {
        flushPending();
        if (flags & D3DCLEAR_TARGET) {
            if (m_renderTarget == m_backBuffer)
                m_clearColour = colour | 0xFF000000u;
            m_renderTarget->fill(QRgb(colour | 0xFF000000u));
        }
        return D3D_OK;
    }

    HRESULT BeginScene() override { return D3D_OK; }
    HRESULT EndScene() override { return D3D_OK; }

    HRESULT Present(const RECT *, const RECT *, HWND, const void *) override
    {
        if (m_pending.yuv && m_pending.scale) {
            // Nobody looked at the intermediate surfaces since the picture
            // was handed over: one pass from the picture into the window.
            FusedPicture picture = pictureOf(m_pending.yuv, m_pending.source);
            picture.dest = m_pending.dest;
            picture.backWidth = m_backBuffer->width();
            picture.backHeight = m_backBuffer->height();
            picture.clearColour = m_clearColour;
            picture.linear = m_pending.scaleFilter == D3DTEXF_LINEAR;
            // The picture's planes stay ours until it has been presented.
            const bool shown = m_target->presentFused(picture);
            dropPending();
            return shown ? D3D_OK : D3DERR_DEVICELOST;
        }
        flushPending();
        return m_target->present(m_backBuffer->rgb(), nullptr, nullptr) ? D3D_OK : D3DERR_DEVICELOST;
    }

private:
    // Surfaces own their pixels, so releasing them and the device may come
    // in any order.
    ~Device() override
    {
        dropPending();
        unregisterTarget(m_window, m_target.get());
        m_renderTarget->Release();
        m_backBuffer->Release();
    }

    HRESULT stretchNow(Surface *src, const RECT *sourceRect, Surface *dst, const RECT *destRect,
                       D3DTEXTUREFILTERTYPE filter);

    // The colour conversion and the scaling into the back buffer are kept
    // back until Present or until someone looks at a surface involved, so
    // that a frame without overlay can go to the window in one pass.
    struct Pending
    {
        Surface *yuv = nullptr; // converted into rgb, not done yet
        Surface *rgb = nullptr;
        D3DTEXTUREFILTERTYPE convertFilter = D3DTEXF_POINT;
        bool scale = false; // rgb[source] into back buffer[dest], not done yet
        RECT source{0, 0, 0, 0};
        RECT dest{0, 0, 0, 0};
        D3DTEXTUREFILTERTYPE scaleFilter = D3DTEXF_LINEAR;
    };

    void deferConversion(Surface *yuv, Surface *rgb, D3DTEXTUREFILTERTYPE filter)
    {
        flushPending();
        yuv->AddRef();
        rgb->AddRef();
        m_pending.yuv = yuv;
        m_pending.rgb = rgb;
        m_pending.convertFilter = filter;
        auto flush = [this] { flushPending(); };
        yuv->setFlush(flush);
        rgb->setFlush(flush);
        m_backBuffer->setFlush(flush);
    }

    void flushPending()
    {
        if (!m_pending.yuv)
            return;
        const Pending p = m_pending;
        // Detach first: the stretches below look at the same surfaces.
        m_pending.yuv->setFlush(nullptr);
        m_pending.rgb->setFlush(nullptr);
        m_backBuffer->setFlush(nullptr);
        m_pending = Pending();
        p.rgb->dropFill();
        stretchNow(p.yuv, nullptr, p.rgb, nullptr, p.convertFilter);
        if (p.scale)
            stretchNow(p.rgb, &p.source, m_backBuffer, &p.dest, p.scaleFilter);
        p.yuv->Release();
        p.rgb->Release();
    }

    void dropPending()
    {
        if (!m_pending.yuv)
            return;
        m_pending.yuv->setFlush(nullptr);
        m_pending.rgb->setFlush(nullptr);
        m_backBuffer->setFlush(nullptr);
        m_pending.yuv->Release();
        m_pending.rgb->Release();
        m_pending = Pending();
    }

    // The conversion covered the whole surfaces at the same size, so a
    // rectangle of the RGB surface is a rectangle of the picture; chroma
    // starts on even lines and columns.
    static FusedPicture pictureOf(const Surface *yuv, RECT s)
    {
        s.left &= ~1;
        s.top &= ~1;
        const int pitch = yuv->pitch();
        const int cpitch = pitch / 2;
        const uint8_t *y = yuv->yv12();
        const uint8_t *v = y + size_t(pitch) * size_t(yuv->height());
        const uint8_t *u = v + size_t(cpitch) * size_t((yuv->height() + 1) / 2);
        FusedPicture f;
        f.planes[0] = y + size_t(s.top) * pitch + s.left;
        f.planes[1] = u + size_t(s.top / 2) * cpitch + s.left / 2;
        f.planes[2] = v + size_t(s.top / 2) * cpitch + s.left / 2;
        f.strides[0] = pitch;
        f.strides[1] = f.strides[2] = cpitch;
        f.width = s.right - s.left;
        f.height = s.bottom - s.top;
        return f;
    }

    Pending m_pending;
    D3DCOLOR m_clearColour = 0xFF000000u;

    HWND m_window;
    std::unique_ptr<WindowTarget> m_target;
    Surface *m_backBuffer;   // the device's own reference
    Surface *m_renderTarget; // one reference
    Scaler m_convert;
    Scaler m_scale;
};

Surface::Surface(int width, int height, D3DFORMAT format) : m_width(width), m_height(height), m_format(format)
{
    if (format == D3DFMT_YV12) {
        const int pitchWanted = yv12PitchOverride();
        m_pitch = pitchWanted >= width ? pitchWanted : (width + 15) & ~15;
        const size_t chromaRows = size_t(height + 1) / 2;
        m_yv12.assign(size_t(m_pitch) * size_t(height) + 2 * size_t(m_pitch / 2) * chromaRows, 0);
    } else {
        m_rgb = QImage(width, height, QImage::Format_RGB32);
        if (!m_rgb.isNull())
            m_rgb.fill(Qt::black);
        m_pitch = m_rgb.bytesPerLine();
    }
}

HRESULT Surface::LockRect(D3DLOCKED_RECT *locked, const RECT *rect, DWORD flags)
{
    flush();
    if (!locked || rect)
        return D3DERR_INVALIDCALL; // whole-surface locks only
    if (m_dc || m_locked.exchange(true))
        return (flags & D3DLOCK_DONOTWAIT) ? D3DERR_WASSTILLDRAWING : D3DERR_INVALIDCALL;
    locked->Pitch = m_pitch;
    locked->pBits = m_format == D3DFMT_YV12 ? static_cast<void *>(m_yv12.data()) : static_cast<void *>(rgb().bits());
    return D3D_OK;
}

HRESULT Surface::UnlockRect()
{
    return m_locked.exchange(false) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT Surface::GetDC(HDC *dc)
{
    flush();
    if (!dc || m_format == D3DFMT_YV12 || m_dc || m_locked.load())
        return D3DERR_INVALIDCALL;
    m_dc = new GdiDC(&rgb());
    *dc = m_dc;
    return D3D_OK;
}

HRESULT Surface::ReleaseDC(HDC dc)
{
    if (!dc || dc != m_dc)
        return D3DERR_INVALIDCALL;
    delete m_dc;
    m_dc = nullptr;
    return D3D_OK;
}

class SwapChain : public RefCounted<IDirect3DSwapChain9>
{
public:
    // target is the device's when the window is the device's, else own.
    SwapChain(Device *device, HWND window, std::unique_ptr<WindowTarget> own, Surface *backBuffer)
        : m_device(device), m_window(window), m_own(std::move(own)), m_backBuffer(backBuffer)
    {
        m_device->AddRef();
        m_target = m_own ? m_own.get() : m_device->target();
        if (m_own)
            registerTarget(m_window, m_own.get());
    }

    HRESULT GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE, IDirect3DSurface9 **surface) override
    {
        if (!surface || index != 0)
            return D3DERR_INVALIDCALL;
        m_backBuffer->AddRef();
        *surface = m_backBuffer;
        return D3D_OK;
    }

    HRESULT Present(const RECT *sourceRect, const RECT *destRect, HWND overrideWindow, const void *,
                    DWORD flags) override
    {
        if (overrideWindow && overrideWindow != m_window)
            return D3DERR_INVALIDCALL;
        if ((flags & D3DPRESENT_DONOTWAIT) && m_target->busy())
            return D3DERR_WASSTILLDRAWING;
        return m_device->presentChain(m_backBuffer, m_target, sourceRect, destRect);
    }

private:
    ~SwapChain() override
    {
        if (m_own)
            unregisterTarget(m_window, m_own.get());
        m_backBuffer->Release();
        m_device->Release();
    }

    Device *m_device; // one reference
    HWND m_window;
    std::unique_ptr<WindowTarget> m_own;
    WindowTarget *m_target;
    Surface *m_backBuffer; // one reference
};

HRESULT Device::CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS *params, IDirect3DSwapChain9 **swapChain)
{
    if (!params || !swapChain || params->BackBufferWidth < 1 || params->BackBufferHeight < 1 ||
        params->BackBufferWidth > 16384 || params->BackBufferHeight > 16384 || params->BackBufferCount > 1)
        return D3DERR_INVALIDCALL;
    const HWND window = params->hDeviceWindow ? params->hDeviceWindow : m_window;
    std::unique_ptr<WindowTarget> own;
    if (window != m_window) {
        own = useX11() ? createX11Target(window) : createQtTarget(window);
        if (!own)
            return D3DERR_NOTAVAILABLE;
    }
    auto *backBuffer = new Surface(int(params->BackBufferWidth), int(params->BackBufferHeight), D3DFMT_R5G6B5);
    if (!backBuffer->valid()) {
        backBuffer->Release();
        return E_OUTOFMEMORY;
    }
    *swapChain = new SwapChain(this, window, std::move(own), backBuffer);
    return D3D_OK;
}

HRESULT Device::presentChain(Surface *backBuffer, WindowTarget *target, const RECT *sourceRect, const RECT *destRect)
{
    RECT s;
    int w = 0, h = 0;
    if (m_pending.yuv && m_pending.rgb == backBuffer && !m_pending.scale &&
        clipTo(sourceRect, backBuffer->width(), backBuffer->height(), &s) && target->clientSize(&w, &h) && w > 0 &&
        h > 0) {
        // Only the picture went into the back buffer since the last
        // Present: one pass from the picture into the window, the back
        // buffer standing for the client area.
        FusedPicture picture = pictureOf(m_pending.yuv, s);
        picture.dest = destRect ? *destRect : RECT{0, 0, w, h};
        picture.backWidth = w;
        picture.backHeight = h;
        picture.clearColour = kOpaqueBlack;
        picture.linear = true;
        const bool shown = target->presentFused(picture);
        dropPending();
        return shown ? D3D_OK : D3DERR_DEVICELOST;
    }
    flushPending();
    return target->present(backBuffer->rgb(), sourceRect, destRect) ? D3D_OK : D3DERR_DEVICELOST;
}

// Clips a rectangle to a surface; null means the whole surface.
bool clipTo(const RECT *r, int w, int h, RECT *out)
{
    RECT c = r ? *r : RECT{0, 0, w, h};
    c.left = std::max<LONG>(c.left, 0);
    c.top = std::max<LONG>(c.top, 0);
    c.right = std::min<LONG>(c.right, w);
    c.bottom = std::min<LONG>(c.bottom, h);
    if (c.right <= c.left || c.bottom <= c.top)
        return false;
    *out = c;
    return true;
}

HRESULT Device::StretchRect(IDirect3DSurface9 *source, const RECT *sourceRect, IDirect3DSurface9 *dest,
                            const RECT *destRect, D3DTEXTUREFILTERTYPE filter)
{
    auto *src = static_cast<Surface *>(source);
    auto *dst = static_cast<Surface *>(dest);
    if (!src || !dst)
        return D3DERR_INVALIDCALL;
    if (fusedPresentAllowed()) {
        if (src->format() == D3DFMT_YV12 && dst != m_backBuffer && dst->format() != D3DFMT_YV12 && !sourceRect &&
            !destRect && src->width() == dst->width() && src->height() == dst->height() && !src->busy() &&
            !dst->busy()) {
            deferConversion(src, dst, filter);
            return D3D_OK;
        }
        RECT s, d;
        if (m_pending.yuv && !m_pending.scale && src == m_pending.rgb && dst == m_backBuffer &&
            clipTo(sourceRect, src->width(), src->height(), &s) && clipTo(destRect, dst->width(), dst->height(), &d)) {
            m_pending.scale = true;
            m_pending.source = s;
            m_pending.dest = d;
            m_pending.scaleFilter = filter;
            return D3D_OK;
        }
    }
    flushPending();
    return stretchNow(src, sourceRect, dst, destRect, filter);
}

HRESULT Device::stretchNow(Surface *src, const RECT *sourceRect, Surface *dst, const RECT *destRect,
                           D3DTEXTUREFILTERTYPE filter)
{
    if (!src || !dst || dst->format() == D3DFMT_YV12 || src->busy() || dst->busy())
        return D3DERR_INVALIDCALL;
    RECT s, d;
    if (!clipTo(sourceRect, src->width(), src->height(), &s) || !clipTo(destRect, dst->width(), dst->height(), &d))
        return D3DERR_INVALIDCALL;
    QImage &out = dst->rgb();
    uint8_t *dstPlanes[4] = {out.bits() + size_t(d.top) * out.bytesPerLine() + size_t(d.left) * 4, nullptr, nullptr,
                             nullptr};
    const int dstStride[4] = {int(out.bytesPerLine()), 0, 0, 0};
    const bool linear = filter == D3DTEXF_LINEAR;
    if (src->format() == D3DFMT_YV12) {
        // Chroma is subsampled, so the source rectangle starts on even lines
        // and columns.
        s.left &= ~1;
        s.top &= ~1;
        const int pitch = src->pitch();
        const int cpitch = pitch / 2;
        const uint8_t *y = src->yv12();
        const uint8_t *v = y + size_t(pitch) * size_t(src->height());
        const uint8_t *u = v + size_t(cpitch) * size_t((src->height() + 1) / 2);
        const uint8_t *planes[4] = {y + size_t(s.top) * pitch + s.left, u + size_t(s.top / 2) * cpitch + s.left / 2,
                                    v + size_t(s.top / 2) * cpitch + s.left / 2, nullptr};
        const int strides[4] = {pitch, cpitch, cpitch, 0};
        return m_convert.run(planes, strides, s.right - s.left, s.bottom - s.top, AV_PIX_FMT_YUV420P, dstPlanes,
                             dstStride, d.right - d.left, d.bottom - d.top, AV_PIX_FMT_BGRA, linear)
                   ? D3D_OK
                   : D3DERR_INVALIDCALL;
    }
    const QImage &in = src->rgb();
    if (s.right - s.left == d.right - d.left && s.bottom - s.top == d.bottom - d.top) {
        // Nothing to scale (the whole picture in a window of its aspect).
        const size_t rowBytes = size_t(s.right - s.left) * 4;
        for (LONG row = 0; row < s.bottom - s.top; ++row)
            std::memcpy(dstPlanes[0] + size_t(row) * out.bytesPerLine(),
                        in.constBits() + size_t(s.top + row) * in.bytesPerLine() + size_t(s.left) * 4, rowBytes);
        return D3D_OK;
    }
    const uint8_t *planes[4] = {in.constBits() + size_t(s.top) * in.bytesPerLine() + size_t(s.left) * 4, nullptr,
                                nullptr, nullptr};
    const int strides[4] = {int(in.bytesPerLine()), 0, 0, 0};
    return m_scale.run(planes, strides, s.right - s.left, s.bottom - s.top, AV_PIX_FMT_BGRA, dstPlanes, dstStride,
                       d.right - d.left, d.bottom - d.top, AV_PIX_FMT_BGRA, linear)
               ? D3D_OK
               : D3DERR_INVALIDCALL;
}

class Direct3D : public RefCounted<IDirect3D9>
{
public:
    HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9 *caps) override
    {
        if (!caps || adapter != D3DADAPTER_DEFAULT || type != D3DDEVTYPE_HAL)
            return D3DERR_INVALIDCALL;
        caps->DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT;
        return D3D_OK;
    }

    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD, D3DPRESENT_PARAMETERS *params,
                         IDirect3DDevice9 **device) override
    {
        if (!device || !params || adapter != D3DADAPTER_DEFAULT || type != D3DDEVTYPE_HAL)
            return D3DERR_INVALIDCALL;
        const HWND window = params->hDeviceWindow ? params->hDeviceWindow : focusWindow;
        if (!window || params->BackBufferWidth < 1 || params->BackBufferHeight < 1 || params->BackBufferWidth > 16384 ||
            params->BackBufferHeight > 16384)
            return D3DERR_INVALIDCALL;
        std::unique_ptr<WindowTarget> target = useX11() ? createX11Target(window) : createQtTarget(window);
        if (!target)
            return D3DERR_NOTAVAILABLE;
        *device = new Device(window, std::move(target), int(params->BackBufferWidth), int(params->BackBufferHeight));
        return D3D_OK;
    }
};

} // namespace

} // namespace platform::d3d9

IDirect3D9 *Direct3DCreate9(UINT sdkVersion)
{
    if (sdkVersion != D3D_SDK_VERSION)
        return nullptr;
    return new platform::d3d9::Direct3D;
}

BOOL IsWindow(HWND window)
{
    if (!window)
        return FALSE;
    return platform::d3d9::askTarget(window, nullptr, nullptr, false) ? TRUE : FALSE;
}

BOOL GetClientRect(HWND window, RECT *rect)
{
    if (!window || !rect)
        return FALSE;
    int w = 0, h = 0;
    if (!platform::d3d9::askTarget(window, &w, &h, true))
        return FALSE;
    *rect = RECT{0, 0, w, h};
    return TRUE;
}
