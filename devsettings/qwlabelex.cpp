#include "devsettings/qwlabelex.h"

qwLabelEx::qwLabelEx(QWidget *parent) : qcLabelEx(parent)
{
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
}
