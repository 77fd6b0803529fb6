#pragma once

// Shared pieces of the P2P device suites: the clips as the loopback device
// sends them, a recorder for the device's callbacks and short timings.

#include <QByteArray>
#include <QList>
#include <QTest>
#include <QVector>
#include <mutex>

#include <functional>

#include "../common/clips.h"
#include "devicesim/p2pdevice.h"
#include "device/qcdevicefromtutk.h"

namespace p2ptest {

inline const QString kUid = QStringLiteral("ARDOSIM0000000000001");

inline QString clipPath(const QString &name)
{
    return clips::dir() + QLatin1Char('/') + name;
}

inline QVector<devicesim::P2pUnit> h264Clip()
{
    return devicesim::p2pLoadClip(clipPath("h264-360p25.h264"), false);
}
inline QVector<devicesim::P2pUnit> h265Clip()
{
    return devicesim::p2pLoadClip(clipPath("h265-360p25.h265"), true);
}
inline QVector<devicesim::P2pUnit> h264Small()
{
    return devicesim::p2pLoadClip(clipPath("h264-240p25.h264"), false);
}

inline devicesim::P2pMedia h264Media(devicesim::P2pMedia::Audio audio = devicesim::P2pMedia::MuLaw)
{
    devicesim::P2pMedia m;
    m.videoCodec = 78;
    m.mainUnits = h264Clip();
    m.audio = audio;
    return m;
}

inline TutkTimings shortTimings()
{
    TutkTimings t;
    t.retryMs = 200;
    return t;
}

// Waits, keeping the caller's event loop turning (timers of capture objects).
inline bool waitUntil(const std::function<bool()> &pred, int timeoutMs)
{
    return QTest::qWaitFor(pred, timeoutMs);
}

struct VideoFrame
{
    int type;
    QByteArray data; // as given: frame plus 16 bytes
    quint64 ts;
};

// Records what a P2P device hands to its callbacks.
struct Recorder
{
    mutable std::mutex mutex;
    QList<int> statuses;
    QList<VideoFrame> video;
    QList<QByteArray> audio;
    static int onVideo(int type, const uchar *data, int length, quint64 ts, void *user)
    {
        auto *r = static_cast<Recorder *>(user);
        std::lock_guard<std::mutex> lock(r->mutex);
        r->video.append({type, QByteArray(reinterpret_cast<const char *>(data), length), ts});
        return 0;
    }
    static int onAudio(const uchar *data, int length, quint64, void *user)
    {
        auto *r = static_cast<Recorder *>(user);
        std::lock_guard<std::mutex> lock(r->mutex);
        r->audio.append(QByteArray(reinterpret_cast<const char *>(data), length));
        return 0;
    }
    static int onStatus(int status, int, void *user)
    {
        auto *r = static_cast<Recorder *>(user);
        std::lock_guard<std::mutex> lock(r->mutex);
        r->statuses.append(status);
        return 0;
    }

    void attach(CameraDevice *d)
    {
        d->setVideoCallback(&Recorder::onVideo, this);
        d->setAudioCallback(&Recorder::onAudio, this);
        d->setStatusCallback(&Recorder::onStatus, this);
    }

    QList<int> statusList() const
    {
        std::lock_guard<std::mutex> l(mutex);
        return statuses;
    }
    int videoCount() const
    {
        std::lock_guard<std::mutex> l(mutex);
        return video.size();
    }
    int audioCount() const
    {
        std::lock_guard<std::mutex> l(mutex);
        return audio.size();
    }
    QList<VideoFrame> frames() const
    {
        std::lock_guard<std::mutex> l(mutex);
        return video;
    }
    int count(int status) const { return statusList().count(status); }
    void clear()
    {
        std::lock_guard<std::mutex> l(mutex);
        statuses.clear();
        video.clear();
        audio.clear();
    }
};

// Index of a delivered frame in the device's units (by bytes), or -1.
inline int unitIndex(const QVector<devicesim::P2pUnit> &units, const QByteArray &frameWithPad)
{
    const QByteArray frame = frameWithPad.left(frameWithPad.size() - 16);
    for (int i = 0; i < units.size(); ++i)
        if (units[i].bytes == frame)
            return i;
    return -1;
}

} // namespace p2ptest
