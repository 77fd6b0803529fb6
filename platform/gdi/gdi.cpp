#include "platform/gdi/gdi_p.h"

#include <QColor>

namespace {
GdiPen *stockPen()
{
    // What a fresh context has selected: a black line one pixel wide.
    static GdiPen pen(1, 0x000000, true);
    return &pen;
}
} // namespace

QPen toQPen(const GdiPen &p)
{
    QPen pen(QColor(int(p.colour & 0xFF), int((p.colour >> 8) & 0xFF), int((p.colour >> 16) & 0xFF)),
             p.width < 1 ? 1 : p.width);
    pen.setCapStyle(Qt::SquareCap);
    pen.setJoinStyle(Qt::MiterJoin);
    return pen;
}

GdiDC::GdiDC(QImage *target) : painter(target), pen(stockPen())
{
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(toQPen(*pen));
}

GdiDC::~GdiDC()
{
    painter.end();
}

HPEN CreatePen(int style, int width, COLORREF colour)
{
    if (style != PS_SOLID)
        return nullptr;
    return new GdiPen(width, colour);
}

HRGN CreateRectRgn(int left, int top, int right, int bottom)
{
    auto *r = new GdiRegion;
    // A region is normalised: its corners may be given in any order.
    r->rect = RECT{qMin(left, right), qMin(top, bottom), qMax(left, right), qMax(top, bottom)};
    return r;
}

BOOL RectInRegion(HRGN region, const RECT *rect)
{
    if (!region || !rect)
        return FALSE;
    const RECT &g = region->rect;
    const LONG l = qMin(rect->left, rect->right), r = qMax(rect->left, rect->right);
    const LONG t = qMin(rect->top, rect->bottom), b = qMax(rect->top, rect->bottom);
    return (l < g.right && r > g.left && t < g.bottom && b > g.top) ? TRUE : FALSE;
}

BOOL DeleteObject(HGDIOBJ object)
{
    if (!object)
        return FALSE;
    if (auto *pen = dynamic_cast<GdiPen *>(object); pen && pen->stock)
        return TRUE;
    delete object;
    return TRUE;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object)
{
    auto *pen = dynamic_cast<GdiPen *>(object);
    if (!dc || !pen)
        return nullptr;
    HPEN previous = dc->pen;
    dc->pen = pen;
    dc->painter.setPen(toQPen(*pen));
    return previous;
}

BOOL MoveToEx(HDC dc, int x, int y, POINT *previous)
{
    if (!dc)
        return FALSE;
    if (previous)
        *previous = dc->position;
    dc->position = POINT{x, y};
    return TRUE;
}

BOOL LineTo(HDC dc, int x, int y)
{
    if (!dc)
        return FALSE;
    dc->painter.drawLine(dc->position.x, dc->position.y, x, y);
    dc->position = POINT{x, y};
    return TRUE;
}
