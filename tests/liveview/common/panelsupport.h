#pragma once

// What the suites of the live page's PTZ and image panels share: a slider
// drag as the operator makes it, whether a request has its answer in, and
// what the loopback device received.

#include "app/core/cgiutil.h"
#include "liveview/qclivedevicerequests.h"
#include "tests/devicesim/device.h"
#include "tests/devicesim/faults.h"

#include <QByteArray>
#include <QList>
#include <QSlider>

namespace panelsupport {

// Held, moved through the values, released: sliderReleased comes last.
inline void drag(QSlider *slider, const QList<int> &values)
{
    slider->setSliderDown(true);
    for (int v : values)
        slider->setValue(v);
    slider->setSliderDown(false);
}

// The request has been made and has ended: a read's answer is in.
inline bool finished(const qcLiveDeviceRequests &requests, int id)
{
    const CGIUtil *r = requests.request(id);
    return r && !r->isRunning();
}

// The bodies of the POSTs to path, oldest first, without the XML declaration.
inline QList<QByteArray> posted(const devicesim::Device &device, const QByteArray &path)
{
    QList<QByteArray> out;
    for (const auto &r : device.requests()) {
        if (r.path == path)
            out << r.body.mid(r.body.startsWith("<?xml") ? r.body.indexOf("?>") + 2 : 0);
    }
    return out;
}

// A fault in its command-line form ("stall", "delay:800", "cut").
inline devicesim::Fault fault(const QString &mode)
{
    devicesim::Fault f;
    int times = 0;
    QString error;
    devicesim::Fault::parse(mode, &f, &times, &error);
    return f;
}

// A bounded wait, long enough for a request the panel would have sent.
inline bool nothingArrives(const devicesim::Device &device, int already = 0)
{
    return !device.waitForRequests(already + 1, 300);
}

} // namespace panelsupport
