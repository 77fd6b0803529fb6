#pragma once

#include "platform/gdi/gdi.h"

#include <QImage>
#include <QPainter>
#include <QPen>

QPen toQPen(const GdiPen &pen);

// A painter over a surface's pixels for as long as the context is taken.
class GdiDC
{
public:
    explicit GdiDC(QImage *target);
    ~GdiDC();
    QPainter painter;
    HPEN pen;
    POINT position{0, 0};
};
