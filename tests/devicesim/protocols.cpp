#include "protocols.h"

#include "streamrouter.h"

namespace devicesim {

Protocols installProtocols(Device &device, const QString &clipsDir)
{
    Protocols p;
    p.live = std::make_shared<LiveStream>(device);
    LiveStream::Options o;
    o.clipsDir = clipsDir;
    p.live->setOptions(o);
    p.talk = std::make_shared<TalkSink>(device);
    p.alarm = std::make_shared<AlarmEndpoint>(device);
    device.registerHandler("/action/stream", std::make_shared<StreamRouter>(p.live, p.talk));
    device.registerHandler("/action/alarm", p.alarm);
    p.snap = std::make_shared<SnapEndpoint>(p.live, clipsDir);
    device.registerHandler("/action/snap", p.snap);
    return p;
}

QByteArray describeTalk(const TalkSink::Record &r)
{
    static const QByteArray kOpening =
        QByteArray::fromHex("230715200A00000014000000000000000000000000000000020000000000000000000000401F000000010000");
    QByteArray line = "talk: opening frame ";
    line += r.opening == kOpening ? "ok" : (r.opening.isEmpty() ? "missing" : "wrong");
    line += ", " + QByteArray::number(r.frames) + " frames";
    if (r.frames > 0) {
        line += ", seq " + QByteArray::number(r.firstSequence) + ".." + QByteArray::number(r.lastSequence);
        line += r.continuous ? " continuous" : " with gaps";
        line += ", " + QByteArray::number(qRound(TalkSink::frequency(r.audio))) + " Hz";
    }
    return line;
}

} // namespace devicesim
