#pragma once

// Internals shared by the layer's objects and its two window back ends.

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/d3d9diag.h"

#include <QImage>

#include <memory>
#include <vector>

struct SwsContext;

namespace platform::d3d9 {

// One scaling/conversion pass with a cached swscale context; used by one
// thread at a time.
class Scaler
{
public:
    ~Scaler();
    // Planes and strides as swscale takes them; false when swscale refuses.
    bool run(const uint8_t *const src[4], const int srcStride[4], int srcW, int srcH, int srcFormat,
             uint8_t *const dst[4], const int dstStride[4], int dstW, int dstH, int dstFormat, bool linear);
    // Test reach: how many swscale contexts this scaler has built.
    int contextsBuilt() const { return m_built; }

private:
    struct Key
    {
        int srcW, srcH, srcFormat, dstW, dstH, dstFormat;
        bool linear;
        bool operator==(const Key &o) const
        {
            return srcW == o.srcW && srcH == o.srcH && srcFormat == o.srcFormat && dstW == o.dstW && dstH == o.dstH &&
                   dstFormat == o.dstFormat && linear == o.linear;
        }
    };
    SwsContext *m_ctx = nullptr;
    Key m_key{};
    int m_built = 0;
};

// A picture presented without the intermediate surfaces: the source part of
// a planar 4:2:0 picture goes straight into the window, in the place its
// back-buffer rectangle maps to, with the clear colour around it.
struct FusedPicture
{
    const uint8_t *planes[3];
    int strides[3];
    int width; // of the source part
    int height;
    RECT dest; // in back-buffer coordinates
    int backWidth;
    int backHeight;
    D3DCOLOR clearColour;
    bool linear;
};

// The fused pass. swscale's packed RGB output writes whole blocks of 8
// pixels, past the width asked for: a picture whose row has no room for
// its last block (room: pixels from its left edge to the image's right
// edge) is written into a buffer of its own and copied from there, else
// the window image takes it and the caller fills the band on its right
// afterwards. An odd width swscale takes to RGB only through its
// full-chroma path, which runs every filter tap per pixel without SIMD and
// costs two to three times an even width: there the picture is scaled into
// planes at full chroma first (SIMD), and the conversion after it has one
// tap. The pixels are the same.
class FusedScaler
{
public:
    bool run(const FusedPicture &picture, uint8_t *dst, int dstStride, int dstW, int dstH, int room, int pixelFormat);

private:
    Scaler m_scale;
    Scaler m_convert;
    std::vector<uint8_t> m_yuv;
    std::vector<uint8_t> m_rgb;
};

// Composes a fused picture into an image of the client size.
bool composeFused(FusedScaler &scaler, const FusedPicture &picture, uint8_t *image, int stride, int width, int height,
                  int pixelFormat);

// Stretches source of the back buffer (null: all) onto dest of an image of
// the client size (null: all of it), black around it; pixelFormat is BGR0
// or RGB565LE.
bool composeBackBuffer(const QImage &backBuffer, const RECT *source, const RECT *dest, uint8_t *image, int stride,
                       int width, int height, int pixelFormat);

// Where a device's presented pictures go: one native window.
class WindowTarget
{
public:
    virtual ~WindowTarget() = default;
    virtual bool isWindow() = 0;
    virtual bool clientSize(int *width, int *height) = 0;
    // Scales source of the back buffer (RGB32; null: all) onto dest of the
    // client area (null: all of it), black around it.
    virtual bool present(const QImage &backBuffer, const RECT *source, const RECT *dest) = 0;
    virtual bool presentFused(const FusedPicture &picture) = 0;
    virtual bool sharedMemory() const { return false; }
    // Whether a present now would have to wait for the window system.
    virtual bool busy() { return false; }
    // Returns when the window system has taken every picture presented.
    virtual void waitUntilShown() {}
};

// Back ends. Both run on the thread that creates the device (the GUI
// thread); the X11 one may be created without a QGuiApplication.
std::unique_ptr<WindowTarget> createX11Target(HWND window);
std::unique_ptr<WindowTarget> createQtTarget(HWND window);
bool useX11();

// Devices register their target so IsWindow and GetClientRect, which get
// only the window, can ask it.
void registerTarget(HWND window, WindowTarget *target);
void unregisterTarget(HWND window, WindowTarget *target);

// X11 answers for windows no device is bound to.
bool x11IsWindow(HWND window);
bool x11ClientSize(HWND window, int *width, int *height);

void callPresentHook(HWND window, const PresentedImage &image);
bool forceXPutImage();
bool sharedImagesBusy();
bool fusedPresentAllowed();
int yv12PitchOverride();

} // namespace platform::d3d9
