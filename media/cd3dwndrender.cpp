#include "media/cd3dwndrender.h"

#include "device/qcringbuffer.h"
#include "platform/winmm/winmm.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstring>

namespace {
using platform::d3d9::release;
constexpr int kMaxPitchSlack = 640;
constexpr int kSettleFrames = 5;
} // namespace

CD3DWndRender::CD3DWndRender() = default;

CD3DWndRender::~CD3DWndRender()
{
    stop();
    releaseAll();
    m_callback = nullptr;
    m_user = nullptr;
    if (m_queue)
        m_queue->clear();
}

void CD3DWndRender::releaseAll()
{
    release(m_backBuffer);
    release(m_yv12);
    release(m_rgb);
    release(m_device);
    release(m_d3d);
}

int CD3DWndRender::setWindow(HWND window)
{
    HWND none = 0;
    m_window.compare_exchange_strong(none, window);
    return 0;
}

int CD3DWndRender::init(int width, int height, int)
{
    const HWND window = m_window.load();
    if (!window || width < 1 || height < 1)
        return 1;
    m_width = width;
    m_height = height;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_zoom = RECT{0, 0, width, height};
        m_source = m_zoom;
    }

    m_d3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (!m_d3d)
        return 1;
    D3DCAPS9 caps{};
    if (FAILED(m_d3d->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps)))
        return 1;
    const DWORD behaviour = platform::d3d9::videoBehaviour(caps);

    D3DPRESENT_PARAMETERS params =
        platform::d3d9::windowedVideo(window, UINT(width), UINT(height), D3DSWAPEFFECT_DISCARD);
    if (FAILED(m_d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, behaviour, &params, &m_device)))
        return 1;
    if (FAILED(m_device->CreateOffscreenPlainSurface(UINT(width), UINT(height), D3DFMT_YV12, D3DPOOL_DEFAULT, &m_yv12,
                                                     nullptr)))
        return 1;
    if (FAILED(m_device->CreateOffscreenPlainSurface(UINT(width), UINT(height), D3DFMT_R5G6B5, D3DPOOL_DEFAULT, &m_rgb,
                                                     nullptr)))
        return 1;
    if (FAILED(m_device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &m_backBuffer)))
        return 1;
    const long long queueBytes = 3LL * width * height;
    if (queueBytes > qcRingBuffer::kMaxCapacity)
        return 1;
    auto queue = std::make_unique<qcRingBuffer>();
    if (!queue->allocate(int(queueBytes), false))
        return 1;
    m_queue = std::move(queue);
    m_scratch.assign(size_t(width) * size_t(height) * 2, 0);
    m_ready = true;
    return 0;
}

int CD3DWndRender::setDrawCallback(DrawCallback callback, void *user)
{
    if (!callback || !user)
        return 0;
    std::lock_guard<std::mutex> lock(m_lock);
    m_callback = callback;
    m_user = user;
    return 1;
}

void CD3DWndRender::setDrawEnabled(bool enabled)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_overlay = enabled;
}

void CD3DWndRender::setZoomRect(const RECT &rect, bool enable)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_zoom = enable ? rect : RECT{0, 0, m_width, m_height};
    m_zoomOn = enable;
    m_relayout = true;
}

void CD3DWndRender::markDirty()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_relayout = true;
}

void CD3DWndRender::setDisplayMode(int mode)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_displayMode = mode;
    m_relayout = true;
}

RECT CD3DWndRender::getSourceRect()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_display;
}

RECT CD3DWndRender::destinationRect()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_dest;
}

RECT CD3DWndRender::pictureRect()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_source;
}

int CD3DWndRender::render()
{
    const HWND window = m_window.load();
    if (!m_ready || !IsWindow(window))
        return 0;
    RECT client;
    if (!GetClientRect(window, &client))
        return 0;
    const int W = client.right - client.left;
    const int H = client.bottom - client.top;
    const int w = m_width;
    const int h = m_height;
    if (W < 1 || H < 1)
        return 0;

    std::lock_guard<std::mutex> lock(m_lock);
    // Fits a frame of aspect num/den into the client area, centred.
    auto fit = [&](long long num, long long den) {
        RECT r;
        if (double(W) / double(H) >= double(num) / double(den)) {
            const LONG width = LONG(num * H / den);
            r.left = (W - width) / 2;
            r.right = r.left + width;
            r.top = 0;
            r.bottom = H;
        } else {
            const LONG height = LONG(den * W / num);
            r.top = (H - height) / 2;
            r.bottom = r.top + height;
            r.left = 0;
            r.right = W;
        }
        return r;
    };
    RECT display;
    switch (m_displayMode) {
    case KeepAspect:
        display = fit(w, h);
        break;
    case Stretch:
        display = RECT{0, 0, W, H};
        break;
    case Fit16x9:
        display = fit(16, 9);
        break;
    case Fit4x3:
        display = fit(4, 3);
        break;
    default:
        return 0;
    }
    m_display = display;
    const double sx = double(w) / double(W);
    const double sy = double(h) / double(H);
    m_dest = RECT{LONG(display.left * sx), LONG(display.top * sy), LONG(display.right * sx), LONG(display.bottom * sy)};

    bool zoomShown = false;
    if (m_zoomOn) {
        HRGN region = CreateRectRgn(m_dest.left, m_dest.top, m_dest.right, m_dest.bottom);
        zoomShown = RectInRegion(region, &m_zoom);
        DeleteObject(region);
    }
    m_source = zoomShown ? m_zoom : RECT{0, 0, w, h};
    return 1;
}

int CD3DWndRender::drawFrame(const uint8_t *const planes[3], const int lineSizes[3])
{
    std::lock_guard<std::mutex> draw(m_drawMutex);
    if (m_stop || !m_ready || !planes || !lineSizes || !planes[0] || !planes[1] || !planes[2])
        return 0;
    D3DLOCKED_RECT locked;
    if (FAILED(m_yv12->LockRect(&locked, nullptr, D3DLOCK_DONOTWAIT)))
        return 0;
    if (locked.Pitch > m_width + kMaxPitchSlack || locked.Pitch < m_width) {
        m_yv12->UnlockRect();
        return 0;
    }
    // YV12: the Y plane, then V, then U, each chroma plane at half the pitch.
    const int pitch = locked.Pitch;
    const int cpitch = pitch / 2;
    const int cwidth = std::min(m_width / 2, cpitch);
    uint8_t *y = static_cast<uint8_t *>(locked.pBits);
    uint8_t *v = y + size_t(pitch) * size_t(m_height);
    uint8_t *u = v + size_t(cpitch) * size_t((m_height + 1) / 2);
    for (int row = 0; row < m_height; ++row) {
        std::memcpy(y + size_t(row) * pitch, planes[0] + size_t(row) * lineSizes[0], size_t(m_width));
        if (row < m_height / 2) {
            std::memcpy(v + size_t(row) * cpitch, planes[2] + size_t(row) * lineSizes[2], size_t(cwidth));
            std::memcpy(u + size_t(row) * cpitch, planes[1] + size_t(row) * lineSizes[1], size_t(cwidth));
        }
    }
    m_yv12->UnlockRect();

    bool relayout;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        relayout = m_settling || m_relayout;
    }
    if (relayout) {
        render();
        m_device->Clear(0, nullptr, D3DCLEAR_TARGET, platform::d3d9::kOpaqueBlack, 1.0f, 0);
        std::lock_guard<std::mutex> lock(m_lock);
        if (++m_settleCount > kSettleFrames)
            m_settling = false;
        m_relayout = false;
    }
    return present();
}

int CD3DWndRender::present()
{
    if (!m_ready)
        return 0;
    m_device->StretchRect(m_yv12, nullptr, m_rgb, nullptr, D3DTEXF_POINT);

    RECT source, dest, display;
    DrawCallback callback;
    void *user;
    bool overlay;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        source = m_source;
        dest = m_dest;
        display = m_display;
        callback = m_callback;
        user = m_user;
        overlay = m_overlay;
    }
    if (callback && user && overlay) {
        HDC dc = nullptr;
        if (SUCCEEDED(m_rgb->GetDC(&dc))) {
            callback(dc, user, m_width, m_height, display.right - display.left);
            m_rgb->ReleaseDC(dc);
        }
    }
    m_device->BeginScene();
    m_device->StretchRect(m_rgb, &source, m_backBuffer, &dest, D3DTEXF_LINEAR);
    m_device->EndScene();
    if (!overlay) {
        // Leaves the processor to other threads between back-to-back frames.
        QElapsedTimer slept;
        slept.start();
        timeBeginPeriod(1);
        Sleep(2);
        timeEndPeriod(1);
        m_yieldNs += slept.nsecsElapsed();
    }
    return SUCCEEDED(m_device->Present(nullptr, nullptr, 0, nullptr)) ? 1 : 0;
}

int CD3DWndRender::clearQueue()
{
    if (!m_queue)
        return 0;
    m_queue->clear();
    return 1;
}

void CD3DWndRender::stop()
{
    std::lock_guard<std::mutex> draw(m_drawMutex);
    m_stop = true;
}
