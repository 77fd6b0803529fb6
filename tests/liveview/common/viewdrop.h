#pragma once

// A drop as a drag from the device list ends it, without QDrag::exec (which
// blocks, and does nothing useful off screen).

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>

namespace livedevices {

const QString kRowFormat = QStringLiteral("application/x-qabstractitemmodeldatalist");

// True when the target took both the enter and the drop.
inline bool dropOn(QWidget *target, const QString &format = kRowFormat)
{
    QMimeData data;
    data.setData(format, "0x117101");
    QDragEnterEvent enter(QPoint(5, 5), Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(5, 5), Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

} // namespace livedevices
