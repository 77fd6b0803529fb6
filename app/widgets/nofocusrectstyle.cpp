#include "app/widgets/nofocusrectstyle.h"

NoFocusRectstyle::NoFocusRectstyle(QStyle *base) : QProxyStyle(base) {}

void NoFocusRectstyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                                     const QWidget *widget) const
{
    if (element == PE_FrameFocusRect)
        return;
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}
