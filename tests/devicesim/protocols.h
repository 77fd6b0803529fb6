#pragma once

#include <memory>

#include "alarmendpoint.h"
#include "device.h"
#include "discoveryresponder.h"
#include "livestream.h"
#include "snapendpoint.h"
#include "talksink.h"

namespace devicesim {

// The device's own protocols beside the CGI API: live streams and two-way
// audio on /action/stream, the alarm channel on /action/alarm, the JPEG
// snapshot on /action/snap.
struct Protocols
{
    std::shared_ptr<LiveStream> live;
    std::shared_ptr<TalkSink> talk;
    std::shared_ptr<AlarmEndpoint> alarm;
    std::shared_ptr<SnapEndpoint> snap;
};

Protocols installProtocols(Device &device, const QString &clipsDir);

// "talk: opening frame ok, 121 frames, seq 1..121 continuous, 1000 Hz"
QByteArray describeTalk(const TalkSink::Record &record);

} // namespace devicesim
