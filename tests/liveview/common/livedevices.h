#pragma once

// Loopback devices for the live page's suites: each answers the reachability
// probe on its own loopback address, with the login admin/1234 and the
// stored subjects the device ships.

#include "app/core/database.h"
#include "tests/devicesim/device.h"
#include "tests/devicesim/protocols.h"

#include <QHostAddress>
#include <QString>
#include <memory>
#include <vector>

namespace livedevices {

const QByteArray kSystime =
    "<response><systime><mode>0</mode><datetime>2020-01-01T00:00:00</datetime></systime></response>";

inline std::unique_ptr<devicesim::Device> make(const QString &password = "1234")
{
    auto device = std::make_unique<devicesim::Device>();
    device->setCredentials("admin", password);
    device->loadSubjects(QStringLiteral(DEVICESIM_SUBJECTS_DIR));
    device->setSubject("systime", kSystime);
    return device;
}

inline std::unique_ptr<devicesim::Device> start(const QString &address, const QString &password = "1234")
{
    auto device = make(password);
    if (!device->start(QHostAddress(address), 0))
        return nullptr;
    return device;
}

// A device that also streams: a solid picture of the colour with a moving
// white bar on both streams, from the clips of ARDO_CLIPS_DIR.
struct StreamingDevice
{
    std::unique_ptr<devicesim::Device> device;
    devicesim::Protocols protocols;
};

inline StreamingDevice startStreaming(const QString &address, const QString &colour)
{
    StreamingDevice sim;
    sim.device = make();
    sim.protocols = devicesim::installProtocols(*sim.device, qEnvironmentVariable("ARDO_CLIPS_DIR"));
    devicesim::LiveStream::Options o = sim.protocols.live->options();
    o.colour = colour;
    sim.protocols.live->setOptions(o);
    if (!sim.device->start(QHostAddress(address), 0))
        sim.device.reset();
    return sim;
}

inline _st_device_item record(const QString &name, const devicesim::Device &device)
{
    _st_device_item d;
    d.devname = name;
    d.address = device.address().toString();
    d.port = QString::number(device.port());
    d.username = "admin";
    d.password = "1234";
    d.devtype = "VARAR";
    return d;
}

} // namespace livedevices
