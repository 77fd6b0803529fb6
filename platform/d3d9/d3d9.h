#pragma once

// A Direct3D 9 layer of this program's own, holding exactly what the video
// renderers call: a device bound to one native window, offscreen surfaces in
// YV12 and R5G6B5, a back buffer of the picture size, StretchRect for colour
// conversion and scaling, Clear, and Present onto the window's client area.
// Additional swap chains present a part of their back buffer into a part of
// the window. On X11 each device has its own display connection and presents
// through MIT-SHM (or XPutImage); on other Qt platforms it paints through the
// widget (see d3d9diag.h). Constant values are this layer's own.

#include "platform/gdi/gdi.h"

constexpr UINT D3D_SDK_VERSION = 31;
constexpr UINT D3DADAPTER_DEFAULT = 0;

constexpr HRESULT D3D_OK = 0;
constexpr HRESULT D3DERR_INVALIDCALL = HRESULT(0x8876086C);
constexpr HRESULT D3DERR_NOTAVAILABLE = HRESULT(0x8876086A);
constexpr HRESULT D3DERR_WASSTILLDRAWING = HRESULT(0x8876021C);
constexpr HRESULT D3DERR_DEVICELOST = HRESULT(0x88760868);
constexpr HRESULT E_OUTOFMEMORY = HRESULT(0x8007000E);
constexpr HRESULT E_FAIL = HRESULT(0x80004005);

inline bool FAILED(HRESULT hr)
{
    return hr < 0;
}
inline bool SUCCEEDED(HRESULT hr)
{
    return hr >= 0;
}

enum D3DDEVTYPE { D3DDEVTYPE_HAL = 1 };

constexpr DWORD MAKEFOURCC(char a, char b, char c, char d)
{
    return DWORD(uint8_t(a)) | (DWORD(uint8_t(b)) << 8) | (DWORD(uint8_t(c)) << 16) | (DWORD(uint8_t(d)) << 24);
}

enum D3DFORMAT : DWORD {
    D3DFMT_UNKNOWN = 0,
    D3DFMT_R5G6B5 = 23,
    D3DFMT_YV12 = MAKEFOURCC('Y', 'V', '1', '2'),
};

enum D3DPOOL { D3DPOOL_DEFAULT = 0 };
enum D3DBACKBUFFER_TYPE { D3DBACKBUFFER_TYPE_MONO = 0 };
enum D3DTEXTUREFILTERTYPE { D3DTEXF_NONE = 0, D3DTEXF_POINT = 1, D3DTEXF_LINEAR = 2 };
enum D3DMULTISAMPLE_TYPE { D3DMULTISAMPLE_NONE = 0 };
enum D3DSWAPEFFECT { D3DSWAPEFFECT_DISCARD = 1, D3DSWAPEFFECT_COPY = 3 };

// Render states are accepted and have no effect: the layer draws no
// primitives.
enum D3DRENDERSTATETYPE { D3DRS_SRCBLEND = 19, D3DRS_CULLMODE = 22, D3DRS_ALPHAFUNC = 25, D3DRS_LIGHTING = 137 };
enum D3DCULL { D3DCULL_NONE = 1 };
enum D3DBLEND { D3DBLEND_ONE = 2 };
enum D3DCMPFUNC { D3DCMP_GREATER = 5 };

constexpr DWORD D3DCLEAR_TARGET = 0x1;
constexpr DWORD D3DLOCK_DONOTWAIT = 0x4000;
constexpr DWORD D3DCREATE_MULTITHREADED = 0x4;
constexpr DWORD D3DCREATE_SOFTWARE_VERTEXPROCESSING = 0x20;
constexpr DWORD D3DCREATE_HARDWARE_VERTEXPROCESSING = 0x40;
constexpr DWORD D3DDEVCAPS_HWTRANSFORMANDLIGHT = 0x10000;
constexpr DWORD D3DPRESENTFLAG_VIDEO = 0x10;
constexpr UINT D3DPRESENT_INTERVAL_IMMEDIATE = 0x80000000u;
// Present fails with D3DERR_WASSTILLDRAWING instead of waiting for the
// window system to let go of an earlier picture.
constexpr DWORD D3DPRESENT_DONOTWAIT = 0x1;

typedef uint32_t D3DCOLOR; // 0xAARRGGBB

struct D3DCAPS9
{
    DWORD DevCaps;
};

struct D3DPRESENT_PARAMETERS
{
    UINT BackBufferWidth;
    UINT BackBufferHeight;
    D3DFORMAT BackBufferFormat;
    UINT BackBufferCount;
    D3DMULTISAMPLE_TYPE MultiSampleType;
    D3DSWAPEFFECT SwapEffect;
    HWND hDeviceWindow;
    BOOL Windowed;
    BOOL EnableAutoDepthStencil;
    DWORD Flags;
    UINT FullScreen_RefreshRateInHz;
    UINT PresentationInterval;
};

struct D3DLOCKED_RECT
{
    int Pitch;
    void *pBits;
};

class IDirect3DSurface9
{
public:
    // DONOTWAIT: fails with D3DERR_WASSTILLDRAWING instead of waiting while
    // the surface is locked or its context taken.
    virtual HRESULT LockRect(D3DLOCKED_RECT *locked, const RECT *rect, DWORD flags) = 0;
    virtual HRESULT UnlockRect() = 0;
    virtual HRESULT GetDC(HDC *dc) = 0;
    virtual HRESULT ReleaseDC(HDC dc) = 0;
    virtual UINT AddRef() = 0;
    virtual UINT Release() = 0;

protected:
    virtual ~IDirect3DSurface9() = default;
};

class IDirect3DSwapChain9
{
public:
    // The swap chain's one back buffer (index 0), an RGB surface of the size
    // it was created with.
    virtual HRESULT GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface9 **surface) = 0;
    // Puts sourceRect of the back buffer (null: all of it) into destRect of
    // the window's client area (null: all of it) and fills the rest of the
    // client area with black. overrideWindow must be null or the swap
    // chain's window.
    virtual HRESULT Present(const RECT *sourceRect, const RECT *destRect, HWND overrideWindow, const void *dirtyRegion,
                            DWORD flags) = 0;
    virtual UINT AddRef() = 0;
    virtual UINT Release() = 0;

protected:
    virtual ~IDirect3DSwapChain9() = default;
};

class IDirect3DDevice9
{
public:
    virtual HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                                IDirect3DSurface9 **surface, void *sharedHandle) = 0;
    virtual HRESULT GetBackBuffer(UINT swapChain, UINT backBuffer, D3DBACKBUFFER_TYPE type,
                                  IDirect3DSurface9 **surface) = 0;
    // YV12 -> RGB converts colours; RGB -> RGB (back buffer) scales.
    virtual HRESULT StretchRect(IDirect3DSurface9 *source, const RECT *sourceRect, IDirect3DSurface9 *dest,
                                const RECT *destRect, D3DTEXTUREFILTERTYPE filter) = 0;
    // A swap chain of its own back buffer on params->hDeviceWindow (null:
    // the device's window). Runs on the window's (GUI) thread.
    virtual HRESULT CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS *params, IDirect3DSwapChain9 **swapChain) = 0;
    // Index 0 only: the surface Clear fills from now on.
    virtual HRESULT SetRenderTarget(DWORD index, IDirect3DSurface9 *surface) = 0;
    virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
    // D3DERR_DEVICELOST while the window no longer exists, else D3D_OK. X11
    // knows no device reset, so a device is never reported as waiting for
    // one.
    virtual HRESULT TestCooperativeLevel() = 0;
    // Fills the render target (at first the device's back buffer).
    virtual HRESULT Clear(DWORD count, const void *rects, DWORD flags, D3DCOLOR colour, float z, DWORD stencil) = 0;
    virtual HRESULT BeginScene() = 0;
    virtual HRESULT EndScene() = 0;
    // Stretches the back buffer onto the window's whole client area. The
    // picture is handed to the window system when it returns and shows as
    // soon as that has taken it (waitUntilShown in d3d9diag.h waits for it).
    virtual HRESULT Present(const RECT *sourceRect, const RECT *destRect, HWND overrideWindow,
                            const void *dirtyRegion) = 0;
    virtual UINT AddRef() = 0;
    virtual UINT Release() = 0;

protected:
    virtual ~IDirect3DDevice9() = default;
};

class IDirect3D9
{
public:
    virtual HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9 *caps) = 0;
    // Runs on the thread that owns the window (the GUI thread).
    virtual HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviour,
                                 D3DPRESENT_PARAMETERS *params, IDirect3DDevice9 **device) = 0;
    virtual UINT AddRef() = 0;
    virtual UINT Release() = 0;

protected:
    virtual ~IDirect3D9() = default;
};

IDirect3D9 *Direct3DCreate9(UINT sdkVersion);

namespace platform::d3d9 {

constexpr D3DCOLOR kOpaqueBlack = 0xFF000000u;

// Hardware vertex processing where the adapter has transform and lighting,
// software otherwise; multithreaded either way, because the renderers draw
// from their own threads.
inline DWORD videoBehaviour(const D3DCAPS9 &caps)
{
    return ((caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) ? D3DCREATE_HARDWARE_VERTEXPROCESSING
                                                            : D3DCREATE_SOFTWARE_VERTEXPROCESSING) |
           D3DCREATE_MULTITHREADED;
}

// Releases a layer object and forgets it.
template <typename T>
void release(T *&object)
{
    if (object) {
        object->Release();
        object = nullptr;
    }
}

// Windowed presentation of video into one window, shown at once: what the
// renderers start their devices and swap chains from.
inline D3DPRESENT_PARAMETERS windowedVideo(HWND window, UINT width, UINT height, D3DSWAPEFFECT effect)
{
    D3DPRESENT_PARAMETERS params{};
    params.BackBufferWidth = width;
    params.BackBufferHeight = height;
    params.BackBufferFormat = D3DFMT_UNKNOWN;
    params.MultiSampleType = D3DMULTISAMPLE_NONE;
    params.SwapEffect = effect;
    params.hDeviceWindow = window;
    params.Windowed = TRUE;
    params.Flags = D3DPRESENTFLAG_VIDEO;
    params.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    return params;
}

// Whether presented pictures reach the window without Qt: on X11 the layer
// draws into the native window itself, and Qt's own painting of that window
// would only cover them. Elsewhere Qt's painting is how they get there.
bool drawsOutsideQt();

} // namespace platform::d3d9
