#include "liveview/qcdevicewindows.h"

qcDeviceWindows::qcDeviceWindows(QObject *parent) : QObject(parent) {}

QWidget *qcDeviceWindows::window(qint64 device) const
{
    return m_windows.value(device);
}

QWidget *qcDeviceWindows::open(qint64 device, const Factory &make)
{
    if (QWidget *open = window(device)) {
        bringForward(open);
        return open;
    }
    QWidget *made = make ? make() : nullptr;
    if (!made)
        return nullptr;
    // Closing deletes the window, which clears the entry, and the next
    // request makes a new window.
    m_windows.insert(device, made);
    bringForward(made);
    return made;
}

bool qcDeviceWindows::close(qint64 device)
{
    const QPointer<QWidget> open = m_windows.take(device);
    if (!open)
        return false;
    open->close();
    return true;
}

void qcDeviceWindows::bringForward(QWidget *window)
{
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}
