#pragma once

#include "platform/d3d9/d3d9.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class qcRingBuffer;

// Draws decoded pictures into one native window, on the thread that hands
// them over (the player thread): when drawFrame returns the picture has gone
// to the window system, which shows it without the GUI thread. Keeps the picture's aspect, can show a zoomed part
// of it, lets the owner draw an overlay onto the picture, and clears the
// window to black while the layout settles.
class CD3DWndRender
{
public:
    typedef void (*DrawCallback)(HDC dc, void *user, int videoWidth, int videoHeight, int displayWidth);

    enum DisplayMode { KeepAspect = 0, Stretch = 1, Fit16x9 = 2, Fit4x3 = 3 };

    CD3DWndRender();
    ~CD3DWndRender();
    CD3DWndRender(const CD3DWndRender &) = delete;
    CD3DWndRender &operator=(const CD3DWndRender &) = delete;

    // The first window set stays.
    int setWindow(HWND window);
    // 0 on success, 1 on any failure. Runs on the window's (GUI) thread.
    int init(int width, int height, int reserved = 0);
    int setDrawCallback(DrawCallback callback, void *user);
    void setDrawEnabled(bool enabled);
    void setZoomRect(const RECT &rect, bool enable);
    void markDirty();
    void setDisplayMode(int mode);
    // The display rectangle: where the picture lies in the window.
    RECT getSourceRect();
    // The display rectangle in back-buffer coordinates, and the part of the
    // picture shown there.
    RECT destinationRect();
    RECT pictureRect();

    // One planar 4:2:0 picture of the init size; 1 when drawn.
    int drawFrame(const uint8_t *const planes[3], const int lineSizes[3]);
    int clearQueue();
    // After stop returns, no draw runs and none starts.
    void stop();
    // Diagnostics for benchmarks: cumulative wall time of the yields between
    // pictures, which drawFrame spends asleep.
    int64_t yieldNanos() const { return m_yieldNs.load(); }

    // Recomputes the layout from the window's client area; 0 when it failed
    // (the previous rectangles stay).
    int render();
    int present();

private:
    void releaseAll();

    IDirect3D9 *m_d3d = nullptr;
    IDirect3DDevice9 *m_device = nullptr;
    IDirect3DSurface9 *m_yv12 = nullptr;
    IDirect3DSurface9 *m_rgb = nullptr;
    IDirect3DSurface9 *m_backBuffer = nullptr;
    std::atomic<bool> m_ready{false};
    int m_width = -1;
    int m_height = -1;
    std::atomic<HWND> m_window{0};

    // Guarded by m_lock.
    RECT m_display{0, 0, 0, 0};
    RECT m_zoom{0, 0, 0, 0};
    RECT m_source{0, 0, 0, 0};
    RECT m_dest{0, 0, 0, 0};
    int m_displayMode = KeepAspect;
    bool m_overlay = false;
    bool m_zoomOn = false;
    bool m_settling = true;
    bool m_relayout = true;

    // Kept for owners that queue pictures; the drawing path does not use it.
    std::unique_ptr<qcRingBuffer> m_queue;
    std::vector<uint8_t> m_scratch;

    DrawCallback m_callback = nullptr;
    void *m_user = nullptr;
    int m_settleCount = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int64_t> m_yieldNs{0};
    std::mutex m_lock;
    // Held for a whole draw; stop() takes it so the owner may destroy the
    // renderer as soon as stop() returns.
    std::mutex m_drawMutex;
};
