#pragma once

#include <QProxyStyle>

// Application style that never draws the dotted focus rectangle.
class NoFocusRectstyle : public QProxyStyle
{
    Q_OBJECT
public:
    explicit NoFocusRectstyle(QStyle *base = nullptr);

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;
};
