#pragma once

// What the recording suites against loopback devices share: devices that
// stream the colour clips, the stream service on its own thread, and the
// read-back of what it recorded.

#include "servicethread.h"
#include "zmfdump.h"

#include "devicesim/device.h"
#include "devicesim/protocols.h"
#include "media/qcrecordfile.h"
#include "media/qcstreamserver.h"
#include "media/qcstreamutil.h"
#include "media/recordindex.h"
#include "media/recordnames.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>

#include <memory>

namespace recordinge2e {

using namespace mediatest;

struct Device
{
    std::unique_ptr<devicesim::Device> device;
    devicesim::Protocols protocols;
    QString address;
    QString port() const { return QString::number(device->port()); }
};

inline std::unique_ptr<Device> startDevice(const QString &address, const QString &colour, bool h265 = false)
{
    auto d = std::make_unique<Device>();
    d->address = address;
    d->device = std::make_unique<devicesim::Device>();
    d->device->setCredentials("admin", "1234");
    d->device->setSubject("systime", kSystime);
    d->protocols = devicesim::installProtocols(*d->device, qEnvironmentVariable("ARDO_CLIPS_DIR"));
    devicesim::LiveStream::Options o = d->protocols.live->options();
    o.colour = colour;
    o.h265 = h265;
    d->protocols.live->setOptions(o);
    if (!d->device->start(QHostAddress(address), 0))
        return nullptr;
    return d;
}

inline QStringList finished(const QString &folder)
{
    QStringList out;
    for (const QString &f : QDir(folder).entryList({"*.zmf"}, QDir::Files, QDir::Name))
        if (recordnames::isValidRecordName(f))
            out << f;
    return out;
}

inline QStringList unfinished(const QString &folder)
{
    QStringList out;
    for (const QString &f : QDir(folder).entryList({"*.zmf"}, QDir::Files, QDir::Name))
        if (recordnames::isUnfinishedRecordName(f))
            out << f;
    return out;
}

inline QByteArray ffprobe(const QString &file)
{
    QByteArray out;
    run("ffprobe",
        {"-v", "error", "-count_frames", "-show_entries", "stream=codec_name,width,height,nb_read_frames", "-of",
         "csv=p=0", file},
        &out);
    return out.trimmed();
}

} // namespace recordinge2e
