#pragma once

#include "platform/autoresetevent.h"
#include "platform/d3d9/d3d9.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

struct AVFrame;

// Draws the single-window previews of the settings pages. Unlike the live
// grid's renderer it keeps the decoder off the screen: inputFrame copies a
// picture into one of six slots and queues it, and a render thread of its own
// uploads the queued pictures into a YV12 surface and presents them through an
// additional swap chain into the target window. While the render thread is
// busy, pictures are dropped rather than queued without bound.
class CD3DRender
{
public:
    static constexpr int kSlots = 6;

    explicit CD3DRender(int reserved = 0);
    virtual ~CD3DRender();
    CD3DRender(const CD3DRender &) = delete;
    CD3DRender &operator=(const CD3DRender &) = delete;

    // Binds the renderer to a native window; runs on the window's (GUI) thread.
    int createDevice(HWND window);
    // 0 on success, -1 when a slot buffer or a Direct3D object cannot be made.
    // withoutThread leaves the render thread off (tests drive it by hand).
    int init(int width, int height, bool withoutThread);
    // 0 keeps the picture's aspect, anything else stretches it.
    void setDisplayMode(int mode);
    // Producer (player) thread. 1 when the picture was queued, 0 when it was
    // dropped: not ready, no free slot, stopped, or not of the init size.
    int inputFrame(const AVFrame *picture, int width, int height, int64_t timestamp);
    // Empties the queue, frees every slot and has the window cleared once.
    void resetFrames();
    // Ends the render thread; returns once it has ended. Afterwards no
    // picture is accepted.
    void stopRender();

    // Test and benchmark reach.
    int queuedCount();
    // With the render thread off: what the render thread does on an idle pass.
    void signalReadyForTests() { m_readyForInput.set(); }
    uint64_t picturesQueued() const { return m_queued.load(); }
    uint64_t picturesDropped() const { return m_dropped.load(); }
    uint64_t picturesPresented() const { return m_presented.load(); }
    // Render-thread wall time spent in presents, in nanoseconds.
    uint64_t renderNanos() const { return m_renderNs.load(); }

private:
    struct Slot
    {
        int index = 0;
        std::vector<uint8_t> buffer; // Y, then V, then U
        int64_t timestamp = 0;
        int width = 0;
        int height = 0;
        int stride = 0;
        bool free = true;
    };

    void renderLoop();
    bool createSurfaces();
    void drawSlot(const Slot &slot);
    // The picture in the surface, or a black window.
    bool present(bool black);

    IDirect3D9 *m_d3d = nullptr;
    IDirect3DDevice9 *m_device = nullptr;
    IDirect3DSurface9 *m_surface = nullptr;
    IDirect3DSwapChain9 *m_swapChain = nullptr;
    D3DPRESENT_PARAMETERS m_params{};
    int m_width = 0;
    int m_height = 0;
    RECT m_clientRect{}; // render thread only
    HWND m_window = 0;
    std::thread m_thread;
    platform::AutoResetEvent m_readyForInput;
    platform::AutoResetEvent m_frameQueued;
    std::atomic<bool> m_ready{false};
    std::mutex m_lock; // the queue and the slots' free flags
    std::deque<int> m_queue;
    // The slot the render thread copies from: a reset leaves it busy until
    // the copy is done, so no producer writes into it meanwhile.
    int m_drawing = -1;
    Slot m_slots[kSlots];
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_displayMode{0};
    std::atomic<bool> m_clearRequest{false};
    std::atomic<uint64_t> m_queued{0};
    std::atomic<uint64_t> m_dropped{0};
    std::atomic<uint64_t> m_presented{0};
    std::atomic<uint64_t> m_renderNs{0};
};
