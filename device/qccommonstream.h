#pragma once

#include "device/cameradevice.h"
#include "device/framehead.h"
#include "device/qcp2pstreaminterface.h"
#include "device/streamclock.h"

#include <mutex>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <map>

class qcAudioCapture;
namespace platform {
class Clock;
}

// The stream of a device reached by P2P identifier, in the form every other
// stream client has: stream information, audio and video frames on the
// local-day clock to each registered callback, and the connection state as
// the stream clients' status codes.
class qcCommonStream : public qcP2PStreamInterface
{
    Q_OBJECT
public:
    // Makes the device for a protocol name; null for protocols it does not know.
    using DeviceFactory = std::function<CameraDevice *(const QString &protocol)>;

    qcCommonStream(const QString &id, const QString &port, const QString &user, const QString &password,
                   const QString &protocol);
    ~qcCommonStream() override;

    bool addDataCallback(StreamDataCallback fn, void *user) override;
    QString getDeviceId() override;
    bool isConnected() override;
    bool openDevice(int type) override;
    bool setCallbacks() override;
    void closeStream() override;
    void setConnectInfo(const QString &id, const QString &port, const QString &user, const QString &password,
                        const QString &protocol) override;
    bool startTalk(qcAudioCapture *source) override;
    bool stopTalk() override;
    bool cancelOpen() override;
    bool ptzControl(int controlId) override;
    bool stopPtz() override;

    // The device factory of new front ends; an empty function restores the default.
    static void setDeviceFactory(DeviceFactory factory);
    static CameraDevice *makeDefaultDevice(const QString &protocol);
    // The clock of this front end (default: the process clock); must outlive it.
    void setClock(platform::Clock *clock);

private:
    static int onVideo(int frameType, const uchar *data, int length, quint64 timestamp, void *user);
    static int onAudio(const uchar *data, int length, quint64 timestamp, void *user);
    static int onStatus(int status, int unused, void *user);

    void dispatch(const uchar *data, int length, int kind, int subkind, qint64 timestamp);
    qint64 now() const;
    qint64 retimeSound(qint64 deviceTs);

    CameraDevice *m_device = nullptr;
    QString m_id, m_port, m_user, m_password, m_protocol;
    // Filled before openDevice and only read afterwards, by the device's threads.
    std::map<StreamDataCallback, void *> m_callbacks;
    std::atomic<bool> m_firstVideo{true};
    std::atomic<bool> m_firstAudio{true};
    bool m_opened = false;
    std::mutex m_mutex;
    platform::Clock *m_clock = nullptr;
    // The pictures keep to the local clock as every stream does; the sound
    // keeps to the stamps they were given once they have begun.
    std::mutex m_timingMutex;
    PictureClock m_pictures;
    qint64 m_audioBase = 0;
    qint64 m_lastAudioTs = 0;
};
