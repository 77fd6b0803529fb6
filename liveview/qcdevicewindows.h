#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

// The windows that belong to one device each, such as its settings window:
// at most one open per device. Asking for the window of a device that has
// one open brings that window forward instead of making another, so a
// window left behind the main window is not doubled by a second one that
// pulls the same streams.
class qcDeviceWindows : public QObject
{
    Q_OBJECT
public:
    using Factory = std::function<QWidget *()>;

    explicit qcDeviceWindows(QObject *parent = nullptr);

    // Shows the device's open window, raised and active, or makes one with
    // the factory and shows it once the factory has built it whole. Returns
    // the window, or null when none is open and the factory made none.
    QWidget *open(qint64 device, const Factory &make);
    // The device's open window, or null.
    QWidget *window(qint64 device) const;
    // Closes the device's open window and forgets it at once, so that what
    // it still reports is no longer the device's. False when none was open.
    bool close(qint64 device);

private:
    static void bringForward(QWidget *window);

    QHash<qint64, QPointer<QWidget>> m_windows;
};
