#pragma once

// Diagnostic seams of the Direct3D layer, for tests and benchmarks only.

#include "platform/gdi/gdi.h"

#include <cstdint>

namespace platform::d3d9 {

// Call first thing in main() of any program that draws through the layer on
// X11, before the QApplication exists: each device talks to the X server
// from its own player thread.
void initWindowSystemThreads();

enum class PresentedFormat { Bgrx32, Rgb565 };

struct PresentedImage
{
    const uint8_t *pixels;
    int width;
    int height;
    int stride;
    PresentedFormat format;
};

// Called after each Present with the window, the image put on it and the
// CLOCK_MONOTONIC time in nanoseconds. Null by default. Set it before the
// devices draw; it runs on the drawing thread.
using PresentHook = void (*)(HWND window, const PresentedImage &image, int64_t monotonicNs);
void setPresentHook(PresentHook hook);

// The pitch of YV12 surfaces created from now on; 0 restores the default.
void setYV12PitchForTests(int pitch);

// Forces XPutImage instead of MIT-SHM for devices created from now on (the
// environment variable ARDO_D3D9_XPUTIMAGE=1 does the same).
void setForceXPutImage(bool force);

// Without an overlay the layer may present a picture in one scaling pass
// instead of the chain through its surfaces; false forces the full chain
// (the environment variable ARDO_D3D9_FULLCHAIN=1 does the same).
void setFusedPresent(bool allowed);

// Present sends the picture and returns; this waits until the window system
// has taken every picture presented to the window so far, for a test that
// reads the window back.
void waitUntilShown(HWND window);

// Keeps both shared-memory images of every X11 target busy, as when the
// server has not finished reading either: a Present with
// D3DPRESENT_DONOTWAIT then fails with D3DERR_WASSTILLDRAWING.
void setSharedImagesBusyForTests(bool busy);

// Whether the newest X11 device on this window presents through MIT-SHM.
bool usesSharedMemory(HWND window);

} // namespace platform::d3d9
