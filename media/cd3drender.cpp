#include "media/cd3drender.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include <pthread.h>

extern "C" {
#include <libavutil/frame.h>
}

namespace {
using platform::d3d9::release;
constexpr int kLostDeviceSleepMs = 50;
constexpr int kIdleWaitMs = 10;

// Copies rows of a plane, each row cut to what both sides hold.
void copyPlane(uint8_t *dst, int dstPitch, const uint8_t *src, int srcPitch, int width, int rows)
{
    const size_t bytes = size_t(std::max(0, std::min(width, dstPitch)));
    for (int row = 0; row < rows; ++row)
        std::memcpy(dst + size_t(row) * size_t(dstPitch), src + ptrdiff_t(row) * srcPitch, bytes);
}

// The picture's place in the client area with its aspect kept, centred.
RECT aspectRect(const RECT &client, int width, int height)
{
    const int cw = client.right - client.left;
    const int ch = client.bottom - client.top;
    const double r = double(height) / double(width);
    if (r > double(ch) / double(cw)) {
        const LONG w = LONG(ch / r);
        const LONG left = (cw - w) / 2;
        return RECT{left, 0, left + w, ch};
    }
    const LONG h = LONG(r * cw);
    const LONG top = (ch - h) / 2;
    return RECT{0, top, cw, top + h};
}
} // namespace

CD3DRender::CD3DRender(int)
{
    for (int i = 0; i < kSlots; ++i)
        m_slots[i].index = i;
}

CD3DRender::~CD3DRender()
{
    stopRender();
    release(m_swapChain);
    release(m_surface);
    release(m_device);
    release(m_d3d);
}

int CD3DRender::createDevice(HWND window)
{
    if (m_device || !window)
        return -1;
    m_window = window;
    m_d3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (!m_d3d)
        return -1;
    D3DCAPS9 caps{};
    if (FAILED(m_d3d->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps)))
        return -1;
    RECT client{0, 0, 0, 0};
    GetClientRect(window, &client);
    // The device's own back buffer is never shown: the swap chain presents.
    m_params = platform::d3d9::windowedVideo(window, UINT(std::max<LONG>(1, client.right - client.left)),
                                             UINT(std::max<LONG>(1, client.bottom - client.top)), D3DSWAPEFFECT_COPY);
    const DWORD behaviour = platform::d3d9::videoBehaviour(caps);
    if (FAILED(m_d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, behaviour, &m_params, &m_device)))
        return -1;
    return 0;
}

bool CD3DRender::createSurfaces()
{
    // What an earlier init that failed half way made.
    release(m_swapChain);
    release(m_surface);
    if (FAILED(m_device->CreateOffscreenPlainSurface(UINT(m_width), UINT(m_height), D3DFMT_YV12, D3DPOOL_DEFAULT,
                                                     &m_surface, nullptr)))
        return false;
    D3DPRESENT_PARAMETERS chain =
        platform::d3d9::windowedVideo(m_window, UINT(m_width), UINT(m_height), D3DSWAPEFFECT_COPY);
    chain.BackBufferFormat = D3DFMT_R5G6B5;
    chain.BackBufferCount = 1;
    if (FAILED(m_device->CreateAdditionalSwapChain(&chain, &m_swapChain)))
        return false;
    m_device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    m_device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    m_device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    m_device->SetRenderState(D3DRS_LIGHTING, FALSE);
    return true;
}

int CD3DRender::init(int width, int height, bool withoutThread)
{
    if (!m_device || m_ready || width < 2 || height < 2)
        return -1;
    m_width = width;
    m_height = height;
    try {
        for (Slot &slot : m_slots) {
            slot.buffer.assign(size_t(width) * size_t(height) * 3 / 2, 0);
            slot.width = width;
            slot.height = height;
            slot.stride = width;
        }
    } catch (const std::bad_alloc &) {
        return -1;
    }
    if (!createSurfaces())
        return -1;
    m_ready = true;
    if (!withoutThread)
        m_thread = std::thread(&CD3DRender::renderLoop, this);
    return 0;
}

void CD3DRender::setDisplayMode(int mode)
{
    m_displayMode = mode;
}

int CD3DRender::inputFrame(const AVFrame *picture, int width, int height, int64_t timestamp)
{
    if (!picture || !m_ready || m_stop || width != m_width || height != m_height || !picture->data[0] ||
        !picture->data[1] || !picture->data[2] || !m_readyForInput.tryConsume()) {
        ++m_dropped;
        return 0;
    }
    Slot *slot = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        for (Slot &s : m_slots)
            if (s.free) {
                s.free = false;
                slot = &s;
                break;
            }
    }
    if (!slot || m_stop) {
        if (slot) {
            std::lock_guard<std::mutex> lock(m_lock);
            slot->free = true;
        }
        ++m_dropped;
        return 0;
    }
    // Y, then V from the third plane, then U from the second.
    const int cw = slot->width / 2;
    const int chh = slot->height / 2;
    uint8_t *y = slot->buffer.data();
    uint8_t *v = y + size_t(slot->stride) * size_t(slot->height);
    uint8_t *u = v + size_t(cw) * size_t(chh);
    copyPlane(y, slot->stride, picture->data[0], picture->linesize[0], slot->width, slot->height);
    copyPlane(v, cw, picture->data[2], picture->linesize[2], cw, chh);
    copyPlane(u, cw, picture->data[1], picture->linesize[1], cw, chh);
    slot->timestamp = timestamp;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_queue.push_back(slot->index);
    }
    m_frameQueued.set();
    ++m_queued;
    return 1;
}

void CD3DRender::resetFrames()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_queue.clear();
        for (Slot &slot : m_slots)
            if (slot.index != m_drawing)
                slot.free = true;
    }
    m_readyForInput.set();
    m_clearRequest = true;
}

void CD3DRender::stopRender()
{
    m_stop = true;
    m_frameQueued.set();
    if (m_thread.joinable())
        m_thread.join();
}

int CD3DRender::queuedCount()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return int(m_queue.size());
}

void CD3DRender::renderLoop()
{
    pthread_setname_np(pthread_self(), "d3drender");
    while (!m_stop) {
        int index = -1;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (!m_queue.empty()) {
                index = m_queue.front();
                m_queue.pop_front();
                m_drawing = index;
            }
        }
        if (index < 0) {
            if (m_clearRequest.exchange(false))
                present(true);
            m_readyForInput.set();
            m_frameQueued.wait(kIdleWaitMs);
            continue;
        }
        // X11 has no device reset: a lost device is a window that is gone,
        // and it stays lost.
        const HRESULT level = m_device->TestCooperativeLevel();
        if (level == D3DERR_DEVICELOST)
            std::this_thread::sleep_for(std::chrono::milliseconds(kLostDeviceSleepMs));
        else if (SUCCEEDED(level))
            drawSlot(m_slots[index]);
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_slots[index].free = true;
            m_drawing = -1;
        }
        m_readyForInput.set();
    }
}

void CD3DRender::drawSlot(const Slot &slot)
{
    const auto start = std::chrono::steady_clock::now();
    D3DLOCKED_RECT locked{};
    if (FAILED(m_surface->LockRect(&locked, nullptr, 0)))
        return;
    const int pitch = locked.Pitch;
    const int cpitch = pitch / 2;
    const int cw = slot.width / 2;
    const int chh = slot.height / 2;
    uint8_t *y = static_cast<uint8_t *>(locked.pBits);
    uint8_t *v = y + size_t(pitch) * size_t(m_height);
    uint8_t *u = v + size_t(cpitch) * size_t((m_height + 1) / 2);
    const uint8_t *sy = slot.buffer.data();
    const uint8_t *sv = sy + size_t(slot.stride) * size_t(slot.height);
    const uint8_t *su = sv + size_t(cw) * size_t(chh);
    copyPlane(y, pitch, sy, slot.stride, slot.width, std::min(slot.height, m_height));
    copyPlane(v, cpitch, sv, cw, cw, std::min(chh, (m_height + 1) / 2));
    copyPlane(u, cpitch, su, cw, cw, std::min(chh, (m_height + 1) / 2));
    m_surface->UnlockRect();
    const bool shown = present(false);
    const auto spent = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start);
    m_renderNs += uint64_t(spent.count());
    if (shown)
        ++m_presented;
}

bool CD3DRender::present(bool black)
{
    if (!IsWindow(m_window) || !GetClientRect(m_window, &m_clientRect))
        return false;
    if (m_clientRect.right - m_clientRect.left < 1 || m_clientRect.bottom - m_clientRect.top < 1)
        return false;
    IDirect3DSurface9 *backBuffer = nullptr;
    if (black) {
        // Black over the whole client area, whatever the mode.
        if (FAILED(m_swapChain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &backBuffer)))
            return false;
        m_device->SetRenderTarget(0, backBuffer);
        m_device->Clear(0, nullptr, D3DCLEAR_TARGET, platform::d3d9::kOpaqueBlack, 1.0f, 0);
        const HRESULT hr = m_swapChain->Present(nullptr, nullptr, 0, nullptr, 0);
        backBuffer->Release();
        return SUCCEEDED(hr);
    }
    const RECT dest = m_displayMode == 0 ? aspectRect(m_clientRect, m_width, m_height) : m_clientRect;
    if (FAILED(m_device->Clear(0, nullptr, D3DCLEAR_TARGET, platform::d3d9::kOpaqueBlack, 1.0f, 0)))
        return false;
    m_device->BeginScene();
    if (FAILED(m_swapChain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &backBuffer))) {
        m_device->EndScene();
        return false;
    }
    m_device->StretchRect(m_surface, nullptr, backBuffer, nullptr, D3DTEXF_LINEAR);
    m_device->SetRenderTarget(0, backBuffer);
    m_device->EndScene();
    // Never waits for the X server: a picture it is not ready for is skipped.
    const HRESULT hr = m_swapChain->Present(nullptr, &dest, 0, nullptr, D3DPRESENT_DONOTWAIT);
    backBuffer->Release();
    return SUCCEEDED(hr);
}
