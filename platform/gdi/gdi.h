#pragma once

// The small part of the Windows window and GDI interfaces that the video
// renderers and their overlays use, over Qt and X11. Only what the program
// calls exists; constant values are this layer's own.

#include <cstdint>

typedef uintptr_t HWND; // a native window id (WId; an X11 Window on xcb)
typedef int32_t LONG;
typedef uint32_t DWORD;
typedef unsigned int UINT;
typedef int BOOL;
typedef int32_t HRESULT;
typedef uint32_t COLORREF; // 0x00BBGGRR

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

struct RECT
{
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct POINT
{
    LONG x;
    LONG y;
};

class GdiObject
{
public:
    virtual ~GdiObject() = default;
};
class GdiPen : public GdiObject
{
public:
    GdiPen(int width, COLORREF colour, bool stock = false) : width(width), colour(colour), stock(stock) {}
    int width;
    COLORREF colour;
    bool stock; // never deleted
};
class GdiRegion : public GdiObject
{
public:
    RECT rect;
};
class GdiDC;
typedef GdiObject *HGDIOBJ;
typedef GdiPen *HPEN;
typedef GdiRegion *HRGN;
typedef GdiDC *HDC; // drawing on a picture surface (IDirect3DSurface9::GetDC)

constexpr int PS_SOLID = 0;

HPEN CreatePen(int style, int width, COLORREF colour);
HRGN CreateRectRgn(int left, int top, int right, int bottom);
// Whether any part of the rectangle lies in the region; right and bottom
// edges are exclusive on both.
BOOL RectInRegion(HRGN region, const RECT *rect);
BOOL DeleteObject(HGDIOBJ object);
// Returns the previously selected object of the same kind.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BOOL MoveToEx(HDC dc, int x, int y, POINT *previous);
BOOL LineTo(HDC dc, int x, int y);

// Whether the window still exists, and its client area (origin 0, 0).
BOOL IsWindow(HWND window);
BOOL GetClientRect(HWND window, RECT *rect);
