#include "app/widgets/qclabelex.h"

#include <QMouseEvent>

qcLabelEx::qcLabelEx(QWidget *parent) : QLabel(parent) {}

void qcLabelEx::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    emit sigClick();
}
